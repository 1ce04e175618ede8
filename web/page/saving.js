'use strict';
// Saving the mesh and the page, written by the export's own C++ (the
// module's, in a worker made of the page's own scripts) from the images,
// relief, normals and light shown, as dispdome-export writes them.
DispdomePage.saving = (page) => {
  const { status, module, images } = page;

  const meshFormat = document.getElementById('mesh-format');
  const saveButtons = { mesh: document.getElementById('save-mesh'), page: document.getElementById('save-page') };
  const saveProgress = document.getElementById('save-progress');
  const saveNote = document.getElementById('save-note');
  // The save under way.
  let saving = null;
  // The page's parts and module, counted once.
  let partsLength = 0;

  // The page's parts, each as its element holds it whole.
  function pageParts() {
    const parts = {};
    for (const element of document.querySelectorAll('[data-part]')) parts[element.dataset.part] = element.textContent;
    return parts;
  }

  const inMegabytes = (bytes) => (bytes < 1e6 ? `${(bytes / 1e6).toFixed(2)} MB` : `${Math.round(bytes / 1e6)} MB`);

  // About how many bytes a save writes: a mesh as the module reckons it; a
  // page as its parts and module, and the images as they travel, in base64:
  // the colour image as its file, or its PNG at half its RGB bytes if less;
  // the heights as the surface samples them (no side over GRID_SAMPLES
  // texels), a PNG at half their 16 bits, a byte a texel, or, when they
  // were not averaged down, their file if less.
  function saveEstimate(format) {
    const { width = 0, height = 0, bytes = [] } = images.color || {};
    if (format !== 'html') return module.withText(format, (text) => module.M._meshEstimate(text, width, height));
    partsLength = partsLength || Object.values(pageParts()).reduce((sum, part) => sum + part.length, module.text.length);
    const { width: across, height: down, bytes: file } = images.heights;
    const { GRID_SAMPLES } = page.viewer;
    const texels = Math.min(across, GRID_SAMPLES) * Math.min(down, GRID_SAMPLES);
    const reduced = across > GRID_SAMPLES || down > GRID_SAMPLES;
    const heights = reduced ? texels : Math.min(file.length, texels);
    return partsLength + (4 / 3) * (Math.min(bytes.length, 1.5 * width * height) + heights);
  }

  // The sizes on the buttons, before the click.
  function showSaveSizes() {
    saveButtons.mesh.textContent = `Save the mesh (.${meshFormat.value}, about ${inMegabytes(saveEstimate(meshFormat.value))})`;
    saveButtons.page.textContent = `Save this page (about ${inMegabytes(saveEstimate('html'))})`;
  }
  meshFormat.addEventListener('change', () => page.started && showSaveSizes());

  // Ends the save under way: its files downloaded when it wrote them all,
  // else its one line; nothing when it was cancelled.
  function saved(result) {
    const { worker, url, name } = saving;
    worker.terminate();
    URL.revokeObjectURL(url);
    saving = null;
    saveProgress.hidden = true;
    Object.values(saveButtons).forEach((button) => (button.disabled = false));
    // The export's lines name its output in the module's own folder.
    const lines = result.lines.map((line) => line.replace(/^out\//, ''));
    if (result.status === 0 && result.files.length > 0) {
      for (const file of result.files) page.download(file.name, file.bytes);
      status.saved = result.files.map((file) => file.name);
      saveNote.textContent = lines.join('\n');
    } else if (result.cancelled) {
      saveNote.textContent = `${name} was not saved: cancelled.`;
    } else if (result.stopped) {
      saveNote.textContent = `${name} was not saved: ${page.TOO_LITTLE_MEMORY} (${result.stopped}).`;
    } else {
      saveNote.textContent = lines[lines.length - 1] || `${name} was not saved.`;
    }
    status.saveLine = saveNote.textContent;
  }

  // Writes the mesh (kind 'mesh', in the chosen format) or the page, with
  // the images, relief, normals and light shown, as dispdome-export writes
  // them, in a worker; then downloads what it wrote.
  function save(kind) {
    if (saving || !page.started) return;
    const format = kind === 'page' ? 'html' : meshFormat.value;
    const name = `dome.${format}`;
    const files = [];
    const args = [];
    if (images.color) {
      files.push({ name: images.color.name, bytes: images.color.bytes });
      args.push(`--color=${images.color.name}`);
    }
    // The heights beside the colour image, unless it has their name.
    const heights = images.color && images.color.name === images.heights.name ? `heights/${images.heights.name}` : images.heights.name;
    files.push({ name: heights, bytes: images.heights.bytes });
    args.push(`--displacement=${heights}`, `--relief=${status.relief}`, `--normals=${status.normals}`);
    if (format === 'html') args.push(`--light=${status.lightPosition.join(',')}`);
    args.push(`out/${name}`);
    const parts = pageParts();
    const url = URL.createObjectURL(new Blob([parts['dispdome-module.js'], '\n', parts['worker.js']], { type: 'text/javascript' }));
    const estimate = saveEstimate(format);
    saving = { worker: new Worker(url), url, name };
    Object.values(saveButtons).forEach((button) => (button.disabled = true));
    const bar = document.getElementById('save-bar');
    const what = document.getElementById('save-what');
    bar.value = 0;
    what.textContent = `Writing ${name}\u2026`;
    saveProgress.hidden = false;
    saveNote.textContent = status.saveLine = '';
    status.saved = [];
    saving.worker.onmessage = ({ data }) => {
      if (data.written === undefined) return saved(data);
      bar.value = Math.min(data.written / estimate, 1);
      what.textContent = `Writing ${name}: ${inMegabytes(data.written)} of about ${inMegabytes(estimate)}`;
      return undefined;
    };
    saving.worker.onerror = (event) => {
      event.preventDefault();
      saved({ status: -1, lines: [], stopped: event.message || 'the worker stopped', files: [] });
    };
    saving.worker.postMessage({ wasm: module.binary, parts, module: module.text, files, args });
  }

  saveButtons.mesh.addEventListener('click', () => save('mesh'));
  saveButtons.page.addEventListener('click', () => save('page'));
  document.getElementById('save-cancel').addEventListener('click', () => saving && saved({ cancelled: true, lines: [] }));

  return { showSaveSizes };
};
