'use strict';
// The export's own C++ at work beside the page, in a worker (web/page/saving.js
// starts it from the module's script and this one): the page's module
// started again here, the files it is given written into the module's own
// memory, dispdome-export run on them with the arguments given, and what it
// wrote handed back, all of it or nothing. The bytes written so far go to
// the page as they grow.
onmessage = async ({ data }) => {
  const lines = [];
  try {
    const M = await createDispdomeModule({
      wasmBinary: data.wasm,
      print: () => {},
      printErr: (line) => lines.push(line),
      onWritten: (total) => postMessage({ written: total }),
    });
    const text = (value) => {
      const size = M.lengthBytesUTF8(value) + 1;
      const at = M._malloc(size);
      M.stringToUTF8(value, at, size);
      return at;
    };
    for (const [name, part] of Object.entries(data.parts)) M._usePagePart(text(name), text(part));
    M._usePageModule(text(data.module));
    M.FS.mkdir('/work');
    M.FS.chdir('/work');
    M.FS.mkdir('out');
    for (const { name, bytes } of data.files) {
      const folders = name.split('/').slice(0, -1);
      folders.forEach((_, k) => {
        const folder = folders.slice(0, k + 1).join('/');
        if (folder && !M.FS.analyzePath(folder).exists) M.FS.mkdir(folder);
      });
      M.FS.writeFile(name, bytes);
    }
    const args = ['dispdome-export', ...data.args];
    const argv = M._malloc(4 * args.length);
    args.forEach((arg, k) => (M.HEAPU32[argv / 4 + k] = text(arg)));
    const status = M._exportFiles(args.length, argv);
    const names = status === 0 ? M.FS.readdir('out').filter((name) => name !== '.' && name !== '..') : [];
    const files = names.map((name) => ({ name, bytes: M.FS.readFile(`out/${name}`) }));
    postMessage({ status, lines, files }, files.map((file) => file.bytes.buffer));
  } catch (error) {
    // The module stopped: memory ran out where the C++ could not say so.
    postMessage({ status: -1, lines, stopped: error.message, files: [] });
  }
};
