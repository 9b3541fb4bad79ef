// The description editor: TinyMCE on the article's HTML description.
//
// The description comes from the seller, from CSV files, from the predecessor product's export
// and from the marketplace, so it is not trusted. TinyMCE checks it against its HTML schema
// (verify_html, on by default) and removes, from what it shows and what is saved:
// - every attribute the schema does not know, so every event handler (on...);
// - javascript:, vbscript: and mhtml: addresses, and data: addresses other than pictures, in
//   src, href, data, action, formaction, poster and the like;
// - the elements script, noscript and iframe with their content, and the elements object,
//   embed, applet, param, frame, frameset, base, link and meta (invalid_elements) as well as
//   those the schema does not know, such as svg, keeping their text.
// The page's content security policy (index.html) runs no inline script, so nothing that
// slipped through would run.
//
// TinyMCE keeps its own copy of each address and style in data-mce-href, data-mce-src and
// data-mce-style and writes that copy back on saving in place of the checked attribute. Such
// attributes from outside would carry any address past the check, so every data-mce-*
// attribute is removed from what the editor is given (the description, the source code
// dialog, pasted text), found as TinyMCE's parser finds them. Only its own undo steps keep
// theirs.
//
// The article editor waits for `descriptionReady` before it sets the text.
window.descriptionReady = false;

function withoutInternalAttributes(html) {
  var parser = new DOMParser();
  var strip = function (root) {
    var found = false;
    Array.prototype.forEach.call(root.querySelectorAll('*'), function (element) {
      Array.prototype.slice.call(element.attributes).forEach(function (attribute) {
        if (/^data-mce-/i.test(attribute.name)) {
          element.removeAttribute(attribute.name);
          found = true;
        }
      });
      if (element instanceof HTMLTemplateElement && strip(element.content))
        found = true;
    });
    return found;
  };
  // Written out again, the markup is read anew: done until nothing is left to remove.
  for (var round = 0; round < 4; ++round) {
    var body = parser.parseFromString('<body>' + html + '</body>', 'text/html').body;
    if (!strip(body))
      return html;
    html = body.innerHTML;
  }
  return '';
}

tinymce.init({
  selector: '#description',
  language: 'de',
  language_url: 'langs/de.js',
  height: '100%',
  resize: false,
  branding: false,
  promotion: false,
  menubar: 'edit insert view format table tools',
  plugins: 'lists advlist link image table code charmap searchreplace visualblocks',
  toolbar: 'undo redo | blocks fontsize | bold italic underline forecolor | alignleft aligncenter alignright | bullist numlist | link image table | code',
  entity_encoding: 'raw',
  convert_urls: false,
  invalid_elements: 'script,noscript,iframe,frame,frameset,object,embed,applet,param,base,link,meta',
  // Sellers' templates put their style sheet at the top of the description.
  valid_children: '+body[style]',
  // The editing area is written into its frame rather than loaded, so the page makes no
  // navigation of its own after it has loaded; on top of the page's policy, which the frame
  // inherits, the frame runs no script at all.
  init_content_sync: true,
  content_security_policy: "script-src 'none'; object-src 'none'",
  setup: function (editor) {
    editor.on('BeforeSetContent', function (e) {
      if (e.format !== 'raw' && typeof e.content === 'string')
        e.content = withoutInternalAttributes(e.content);
    });
    editor.on('init', function () { window.descriptionReady = true; });
  }
});
