'use strict';
// What the page's parts share (navigation.js, images.js, saving.js,
// frame.js, and page.js, which starts them): the page's state, its notices
// and progress, the viewer's definitions from the page's data, and the
// program's own C++, the WebAssembly module before these scripts. Each part
// is a function of DispdomePage, given this and what it needs of the others.
const DispdomePage = {};

DispdomePage.shared = () => {
  // The page's state, for scripts and tests to read: frames drawn and what
  // they cost, and the camera.
  const status = {
    ready: false,
    failed: '',
    frames: 0,
    fullFrames: 0,
    coarseFrames: 0,
    lastFrame: '',
    pending: false,
    // Milliseconds: the first full frame's end since the page opened, the
    // last full and coarse frame (drawn and finished), the module's last
    // reading of an image and evaluation of the surface.
    firstFrameAt: NaN,
    readMs: NaN,
    evaluateMs: NaN,
    fullFrameMs: NaN,
    coarseFrameMs: NaN,
    // A full frame slower than this draws the coarse grid while dragging.
    slowFrameMs: 50,
    coarseWhileDragging: false,
    cameraOffset: [],
    cameraAngles: [],
    lightPosition: [],
    normals: 'viewer',
    // The displacement's scale, 1 being the viewer's seventh.
    relief: 1,
    // The images drawn, by their file names, and the last line a file
    // the page was given got instead (as the desktop would print it).
    colorName: '',
    heightsName: '',
    refusal: '',
    // The files the last save downloaded, or its one line.
    saved: [],
    saveLine: '',
  };
  window.dispdome = status;

  const notice = document.getElementById('notice');
  const notices = { texture: '', relief: '', coarse: '' };
  function showNotice(kind, text) {
    notices[kind] = text;
    notice.textContent = Object.values(notices).filter((line) => line).join('\n');
  }

  const progress = document.getElementById('progress');
  function fail(text) {
    status.failed = text;
    progress.hidden = true;
    const message = document.getElementById('message');
    message.textContent = text;
    message.hidden = false;
  }

  // What the page is doing, over the picture's place until the first frame
  // is drawn (empty: done); resolves once the browser has had the chance to
  // show it (a hidden tab gets no frames: a timer then).
  function showProgress(text) {
    progress.textContent = text;
    progress.hidden = text === '';
    return new Promise((resolve) => {
      requestAnimationFrame(() => setTimeout(resolve, 0));
      setTimeout(resolve, 200);
    });
  }

  // ---- The viewer's definitions, from the page's data ----

  // What each definition is: a number ([]), an integer ('integer'), n
  // numbers ([n]) or m lists of n numbers ([m, n]).
  const DEFINITIONS = {
    GRID_STEPS: 'integer',
    WINDOW_WIDTH: 'integer',
    WINDOW_HEIGHT: 'integer',
    START_OFFSET: [3],
    START_ANGLES: [3],
    START_LIGHT: [3],
    LIGHT_AMBIENT: [4],
    LIGHT_DIFFUSE: [4],
    DEGREES_PER_PIXEL: [],
    STEP_PIXELS: 'integer',
    DRAG_NONE: [],
    DRAG_ROTATE: [],
    DRAG_ZOOM: [],
    DRAG_PAN: [],
  };

  const isNumbers = (value, shape) =>
    shape.length === 0
      ? typeof value === 'number' && Number.isFinite(value)
      : Array.isArray(value) && value.length === shape[0] && value.every((v) => isNumbers(v, shape.slice(1)));

  // Every definition the page needs, checked; a missing or malformed one
  // stops the page with its name (there is nothing to fall back on).
  function readDefinitions(data) {
    const given = (data && data.definitions) || {};
    const taken = {};
    for (const [name, shape] of Object.entries(DEFINITIONS)) {
      const value = given[name];
      const good = shape === 'integer' ? Number.isInteger(value) && value > 0 : isNumbers(value, shape);
      if (!good) throw new Error(`its data lacks the viewer's ${name}`);
      taken[name] = value;
    }
    taken.GRID_SAMPLES = taken.GRID_STEPS + 1;
    taken.SAMPLE_COUNT = taken.GRID_SAMPLES * taken.GRID_SAMPLES;
    page.viewer = Object.freeze(taken);
  }

  function decodeBase64(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let k = 0; k < binary.length; ++k) bytes[k] = binary.charCodeAt(k);
    return bytes;
  }

  // ---- The program's own C++: its readers, surface, camera and export ----

  // The module (web/module/module.cpp) once started (M), its WebAssembly,
  // and the vertex layout of its surface: bytes a vertex, and where its
  // parts lie in it.
  const module = { M: null, binary: null, vertexLayout: null };

  // The page's deflated data (zlib's format), inflated by the browser.
  module.inflate = async (base64) => {
    const stream = new Blob([decodeBase64(base64)]).stream().pipeThrough(new DecompressionStream('deflate'));
    module.binary = new Uint8Array(await new Response(stream).arrayBuffer());
  };

  module.start = async () => {
    // The module's script defines this, where the program was built with it.
    if (typeof createDispdomeModule !== 'function') throw new Error('it holds no WebAssembly module');
    // Its console lines are the desktop's, read back by the module itself.
    const M = await createDispdomeModule({ wasmBinary: module.binary, print: () => {}, printErr: () => {} });
    module.M = M;
    module.vertexLayout = { bytes: M._vertexBytes(), texCoord: M._vertexPart(0), normal: M._vertexPart(1), position: M._vertexPart(2) };
  };

  // values in the module's memory as size floats, for call(address); what
  // call left there.
  module.floats = (values, size, call) => {
    const { M } = module;
    const at = M._malloc(4 * size);
    new Float32Array(M.HEAPU8.buffer, at, size).set(values);
    call(at);
    const floats = new Float32Array(M.HEAPU8.buffer, at, size).slice();
    M._free(at);
    return floats;
  };

  // text in the module's memory, for call(address); what call gave.
  module.withText = (text, call) => {
    const { M } = module;
    const size = M.lengthBytesUTF8(text) + 1;
    const at = M._malloc(size);
    M.stringToUTF8(text, at, size);
    const result = call(at);
    M._free(at);
    return result;
  };

  // An image file's bytes read as the desktop reads the file name: the
  // colour image, or heights (kind 'heights': at 16 bits where the file has
  // them, and refused where they give no relief), by the decoder the name
  // readAs chooses. Its pixels stay in the module until freeImage; a refused
  // file gives only the desktop's line.
  module.readImage = (name, bytes, kind, readAs = name) => {
    const { M } = module;
    const size = M.lengthBytesUTF8(readAs) + 1;
    const [data, text] = [M._malloc(bytes.length + 1), M._malloc(size)];
    if (data && text) {
      M.HEAPU8.set(bytes, data);
      M.stringToUTF8(readAs, text, size);
    }
    const started = performance.now();
    const handle = data && text ? M._decode(data, bytes.length, text, kind === 'heights' ? 1 : 0) : 0;
    status.readMs = performance.now() - started;
    M._free(data);
    M._free(text);
    if (!handle) return { refusal: `${name}: ${bytes.length} bytes are more than this browser gives the page's memory` };
    const refusal = M.UTF8ToString(M._decodedRefusal(handle));
    if (refusal) {
      M._decodedFree(handle);
      return { refusal };
    }
    return { name, bytes, readAs, handle, width: M._decodedWidth(handle), height: M._decodedHeight(handle) };
  };

  module.freeImage = (image) => image && image.handle && module.M._decodedFree(image.handle);

  // The images drawn: the colour image (its pixels given back once they are
  // a texture) and the heights, each with its file's name and bytes.
  const images = { color: null, heights: null };

  // A module that stopped (a trap, where memory ran out that the C++ could
  // not say so of) answers nothing more: a new one, and the heights drawn
  // read into it again from their bytes (the colour image is a texture
  // already).
  module.restart = async () => {
    await module.start();
    const { name, bytes, readAs } = images.heights;
    images.heights = module.readImage(name, bytes, 'heights', readAs);
  };

  // What the user saves, as a download of a blob: the page's own bytes.
  function download(name, bytes) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(bytes instanceof Blob ? bytes : new Blob([bytes]));
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  const page = {
    status, canvas: document.getElementById('view'), progress, showNotice, fail, showProgress,
    isNumbers, readDefinitions, decodeBase64, module, images, download,
    // The viewer's definitions once read, and whether the page has started
    // (the controls wait for it).
    viewer: null,
    started: false,
    // Single precision, as the viewer computes.
    f: Math.fround,
    TOO_LITTLE_MEMORY: 'this browser gives the page too little memory for the surface',
  };
  return page;
};
