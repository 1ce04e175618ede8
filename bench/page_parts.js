'use strict';
// What a page dispdome-export wrote carries, part by part, in bytes of the
// file: each script element (the page's data, its shaders, its own
// JavaScript), the style, and each entry of the data (the images, the
// WebAssembly module, the tables and nets an older page carried, ...).
//     node bench/page_parts.js NAME PAGE.html
// Prints lines "NAME part:WHAT bytes" (WHAT: data.KEY, script.ID,
// script.loader for emscripten's loader of the module, script.page for the
// page's own JavaScript, style, rest), which add up to the file;
// "NAME detail:definitions.KEY bytes" for each of the data's definitions
// larger than a number or a vector (tables, nets), which are inside
// data.definitions; and, for a module deflated inside the data, "NAME
// moduleWasm bytes": its size once inflated, as the browser has it.
const fs = require('node:fs');
const zlib = require('node:zlib');

const [name, file] = process.argv.slice(2);
const page = fs.readFileSync(file, 'latin1');
let rest = page.length;
const print = (what, bytes) => console.log(`${name} ${what} ${bytes}`);
const part = (what, bytes) => {
  print(`part:${what}`, bytes);
  rest -= bytes;
};

for (const match of page.matchAll(/<(script|style)([^>]*)>([\s\S]*?)<\/\1>/g)) {
  const [, tag, attributes, text] = match;
  const id = (attributes.match(/id="([^"]*)"/) || [])[1];
  if (tag === 'style') {
    part('style', text.length);
  } else if (id === 'surface-data') {
    const data = JSON.parse(text);
    let entries = 0;
    for (const [key, value] of Object.entries(data)) {
      const bytes = JSON.stringify(value).length;
      part(`data.${key}`, bytes);
      entries += bytes;
    }
    // The JSON's braces, names and separators.
    part('data.syntax', text.length - entries);
    for (const [key, value] of Object.entries(data.definitions || {})) {
      const bytes = JSON.stringify(value).length;
      if (bytes > 100) print(`detail:definitions.${key}`, bytes);
    }
    if (typeof data.module === 'string') print('moduleWasm', zlib.inflateSync(Buffer.from(data.module, 'base64')).length);
  } else {
    part(`script.${id || (text.includes('createDispdomeModule =') ? 'loader' : 'page')}`, text.length);
  }
}
// The HTML around them: the controls, the words.
part('rest', rest);
