'use strict';
// The displaced dome of dispdome-viewer, drawn and turned as the viewer
// draws and turns it: the images this page holds, or the user's own,
// read and the surface evaluated by the program's own C++ (the WebAssembly
// module before the page's scripts), then drawn with the viewer's fixed GL
// state, light and projection, and turned by its mouse navigation, plus
// touch, the wheel and the keyboard. Nothing leaves the browser.
// This script starts the parts (shared.js, frame.js, navigation.js,
// images.js, saving.js) and holds the controls of the surface and light.
(() => {
  const page = DispdomePage.shared();
  const { status, module, images } = page;
  let navigation = null;
  const frame = DispdomePage.frame(page, { pointerDown: () => navigation.pointerDown() });
  navigation = DispdomePage.navigation(page, { requestFrame: frame.requestFrame });
  const saving = DispdomePage.saving(page);

  // ---- The controls ----

  const normalsControl = document.getElementById('normals');
  const lightInputs = ['light-x', 'light-y', 'light-z'].map((id) => document.getElementById(id));
  const lightNote = document.getElementById('light-note');

  // Work that changes what is drawn, one piece at a time: no frame
  // meanwhile, and none counted as done (a frame is pending) until it is
  // over; a task that gives false changed nothing. The controls wait for
  // the start (page.started).
  let working = Promise.resolve();
  function change(task) {
    working = working.then(async () => {
      status.ready = false;
      status.pending = true;
      let changed;
      try {
        changed = await task();
      } catch (error) {
        page.fail(`The page cannot draw the surface: ${error.message}`);
        return;
      }
      status.ready = true;
      status.pending = false;
      // Nothing to draw again when nothing changed: the picture stays.
      if (changed === false) page.progress.hidden = true;
      else frame.requestFrame();
    });
    return working;
  }

  // The surface again for other heights or another relief: the normals
  // shown now, the others when next asked for. False when there is too
  // little memory, and then the surface drawn stays.
  async function reevaluate() {
    await page.showProgress('Evaluating the surface\u2026');
    if (!frame.evaluate(status.normals)) return false;
    frame.evaluated[status.normals === 'displaced' ? 'viewer' : 'displaced'] = false;
    return true;
  }

  // The displaced surface's own normals the first time they are asked for,
  // with a word on the picture meanwhile.
  normalsControl.addEventListener('change', () => {
    if (!page.started) return;
    change(async () => {
      status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
      if (frame.evaluated[status.normals]) return;
      await page.showProgress(status.normals === 'displaced' ? 'Computing the displaced surface\u2019s own normals\u2026'
        : 'Evaluating the surface\u2026');
      if (!frame.evaluate(status.normals)) throw new Error(page.TOO_LITTLE_MEMORY);
    });
  });

  // What dispdome-render --light takes: three numbers, finite in single
  // precision; anything else keeps the light where it was, with a note.
  function readLight() {
    const values = lightInputs.map((input) => (input.value.trim() === '' ? NaN : page.f(Number(input.value))));
    const refused = lightInputs.filter((input, k) => !Number.isFinite(values[k]));
    lightNote.textContent = refused.length
      ? `The light stays where it was: ${refused.map((input) => input.id.slice(-1)).join(', ')} ` +
        'must be a number the viewer holds (up to about 3.4e38).'
      : '';
    if (refused.length) return;
    status.lightPosition = values;
    frame.requestFrame();
  }
  for (const input of lightInputs) input.addEventListener('input', readLight);
  // The viewer's light, in the fields too.
  function resetLight(light = page.viewer.START_LIGHT) {
    lightInputs.forEach((input, k) => (input.value = String(light[k])));
    readLight();
  }
  document.getElementById('light-reset').addEventListener('click', () => resetLight());

  // The viewer's window, the browser window's inside less the page's
  // margins and the controls, or the whole screen; either way the whole
  // canvas is the viewport and its aspect the projection's, as the viewer

  // For tests and scripts: the positions the module evaluates for the
  // heights and relief drawn, x y z per sample in sample order, as base64 of
  // little-endian floats.
  status.positions = () => {
    const { M, vertexLayout } = module;
    const { SAMPLE_COUNT } = page.viewer;
    const at = M._surfaceVertices(images.heights.handle, status.relief, 0);
    const vertices = new DataView(M.HEAPU8.buffer, at, SAMPLE_COUNT * vertexLayout.bytes);
    const bytes = new Uint8Array(SAMPLE_COUNT * 12);
    for (let k = 0; k < SAMPLE_COUNT; ++k)
      for (let c = 0; c < 12; ++c) bytes[12 * k + c] = vertices.getUint8(k * vertexLayout.bytes + vertexLayout.position + c);
    M._surfaceVerticesFree();
    let binary = '';
    for (let k = 0; k < bytes.length; k += 0x8000) binary += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    return btoa(binary);
  };

  // The relief scale as dispdome-render --relief takes it: a number that
  // stays finite in single precision. Anything else is refused with a note,
  // and the relief stays as it was.
  const reliefControl = document.getElementById('relief');

  function readRelief() {
    const value = reliefControl.value.trim() === '' ? NaN : page.f(Number(reliefControl.value));
    const valid = Number.isFinite(value);
    if (valid) status.relief = value;
    page.showNotice('relief', valid ? '' : `The relief takes a number, as dispdome-render --relief does, not ` +
      `"${reliefControl.value}": it stays ${status.relief} times the viewer's.`);
    return valid;
  }
  reliefControl.addEventListener('change', () => {
    const before = status.relief;
    if (!readRelief() || !page.started) return;
    change(async () => {
      if (await reevaluate()) return;
      status.relief = before;
      throw new Error(page.TOO_LITTLE_MEMORY);
    });
  });

  const userImages = DispdomePage.images(page, {
    makeColorTexture: frame.makeColorTexture, reevaluate, change, showSaveSizes: saving.showSaveSizes });

  // ---- Start ----

  // One of the page's own images read, or why not.
  function embedded(image, kind) {
    const what = kind === 'color' ? 'colour image' : 'heights';
    if (!image || typeof image.name !== 'string' || typeof image.bytes !== 'string' || !/^(png|jpeg|tiff)$/.test(image.type))
      throw new Error(`its data lacks its ${what}`);
    // Read by its kind, whatever its name says.
    const read = module.readImage(image.name, page.decodeBase64(image.bytes), kind, `${what}.${image.type}`);
    if (read.refusal) throw new Error(`its ${what} cannot be read: ${read.refusal}`);
    return read;
  }

  async function start() {
    const data = JSON.parse(document.getElementById('surface-data').textContent);
    page.readDefinitions(data);
    const { viewer } = page;
    status.cameraOffset = viewer.START_OFFSET.slice();
    status.cameraAngles = viewer.START_ANGLES.slice();
    if (!frame.startGL()) {
      page.fail(
        'This page draws the surface with WebGL2, which this browser does not offer or has turned off. ' +
          'Open it in a current Firefox, Chromium, Chrome, Edge or Safari, with hardware acceleration or ' +
          'WebGL allowed in its settings.',
      );
      return;
    }
    // The page's module as its data carries it, for the saves too.
    module.text = String(data.module);
    await module.inflate(module.text).catch(() => {
      throw new Error('its WebAssembly module is cut short');
    });
    await module.start();
    images.heights = embedded(data.heights, 'heights');
    reliefControl.value = String(data.relief);
    readRelief();
    await page.showProgress('Evaluating the surface\u2026');
    if (data.normals === 'displaced') normalsControl.value = 'displaced';
    status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
    if (!frame.evaluate(status.normals)) throw new Error(page.TOO_LITTLE_MEMORY);
    frame.startDrawing();
    if (data.color) {
      images.color = embedded(data.color, 'color');
      frame.makeColorTexture(images.color);
      module.freeImage(images.color);
      images.color.handle = 0;
    } else {
      frame.makeColorTexture(null);
    }
    userImages.showNames();
    resetLight(page.isNumbers(data.light, [3]) ? data.light : viewer.START_LIGHT);
    for (const element of document.querySelectorAll('[data-value]'))
      element.textContent = String(viewer[element.dataset.value]);
    await page.showProgress('Drawing\u2026');
    saving.showSaveSizes();
    page.started = true;
    status.ready = true;
    frame.layout();
  }

  start().catch((error) => page.fail(`The page cannot draw the surface: ${error.message}`));
})();
