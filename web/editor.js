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
// Its serializer also writes a comment "<!--mce:protected ...-->" back as the raw markup it
// names, unchecked. So every comment is removed from what the editor is given, and what it
// hands out (getContent, and so what the article editor saves) goes through the same check
// once more: whatever way markup got into the document, no script, frame, event handler or
// script address comes out. <template> content is checked like the rest. This check removes
// the elements above, svg and math with their content, every on... attribute and every
// address whose scheme runs script, whatever blanks or character references it is written
// with.
//
// The article editor waits for `descriptionReady` before it sets the text.
window.descriptionReady = false;

var blockedElements = {
  script: 1, noscript: 1, iframe: 1, frame: 1, frameset: 1, object: 1, embed: 1, applet: 1,
  param: 1, base: 1, link: 1, meta: 1, svg: 1, math: 1, portal: 1
};
var addressAttributes = {
  href: 1, src: 1, lowsrc: 1, dynsrc: 1, action: 1, formaction: 1, data: 1, poster: 1,
  background: 1, cite: 1, longdesc: 1, codebase: 1, classid: 1, archive: 1, manifest: 1,
  ping: 1, usemap: 1, icon: 1, profile: 1, 'xlink:href': 1
};

// Browsers drop blanks and control characters anywhere in a scheme ("java\tscript:").
function addressText(value) {
  var blanks = /[\u0000-\u0020\u007f-\u00a0\u1680\u2000-\u200f\u2028\u2029\u202f\u205f\u3000\ufeff]/g;
  return value.replace(blanks, '').toLowerCase();
}

function isScriptAddress(value) {
  var text = addressText(value);
  if (/^(javascript|vbscript|mhtml|livescript|jscript):/.test(text))
    return true;
  // Pictures may be data: addresses, nothing else.
  return /^data:/.test(text) && !/^data:image\//.test(text);
}

function isHarmfulAttribute(name, value) {
  name = name.toLowerCase();
  if (name.indexOf('on') === 0 || name.indexOf('data-mce-') === 0 || name === 'srcdoc')
    return true;
  if (addressAttributes[name])
    return isScriptAddress(value);
  if (name === 'srcset')
    return /(javascript|vbscript|mhtml|livescript|jscript):|data:(?!image\/)/.test(addressText(value));
  if (name === 'style')
    return /(javascript|vbscript):|expression\(/.test(addressText(value));
  return false;
}

// Removes from `root` (a body or a template's content) every comment, blocked element and
// harmful attribute; true when anything was removed.
function scrub(root) {
  var found = false;
  var pending = [root];
  while (pending.length) {
    var parent = pending.pop();
    Array.prototype.slice.call(parent.childNodes).forEach(function (node) {
      if (node.nodeType === Node.COMMENT_NODE || node.nodeType === Node.PROCESSING_INSTRUCTION_NODE
          || node.nodeType === Node.CDATA_SECTION_NODE) {
        parent.removeChild(node);
        found = true;
        return;
      }
      if (node.nodeType !== Node.ELEMENT_NODE)
        return;
      if (blockedElements[node.localName.toLowerCase()]) {
        parent.removeChild(node);
        found = true;
        return;
      }
      Array.prototype.slice.call(node.attributes).forEach(function (attribute) {
        if (isHarmfulAttribute(attribute.name, attribute.value)) {
          node.removeAttribute(attribute.name);
          found = true;
        }
      });
      if (node instanceof HTMLTemplateElement)
        pending.push(node.content);
      pending.push(node);
    });
  }
  return found;
}

// Tags that the parser leaves out of a body (a frameset, a second body whose attributes go to
// the first) or that scrub() removes: text holding one is written out as parsed, so that no
// other reader finds them in it.
var droppedTags = /<\/?\s*(html|head|body|frameset|frame|script|noscript|iframe|object|embed|applet|param|base|link|meta|svg|math|portal)\b/i;

// `html` without what scrub() removes; unchanged when it holds none of it.
function checked(html) {
  var parser = new DOMParser();
  // Written out again, the markup is read anew: done until nothing is left to remove.
  for (var round = 0; round < 4; ++round) {
    var body = parser.parseFromString('<body>' + html + '</body>', 'text/html').body;
    if (!scrub(body) && (round > 0 || !droppedTags.test(html)))
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
        e.content = checked(e.content);
    });
    editor.on('GetContent', function (e) {
      if (e.format !== 'raw' && e.format !== 'text' && typeof e.content === 'string')
        e.content = checked(e.content);
    });
    editor.on('init', function () { window.descriptionReady = true; });
  }
});
