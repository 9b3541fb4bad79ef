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
// The article editor waits for `descriptionReady` before it sets the text.
window.descriptionReady = false;
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
    editor.on('init', function () { window.descriptionReady = true; });
  }
});
