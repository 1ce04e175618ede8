'use strict';
// The displaced dome of dispdome-viewer, drawn and turned as the viewer
// draws and turns it: the images this file holds, or the user's own,
// read and the surface evaluated by the program's own C++ (the WebAssembly
// module before this script), then drawn with the viewer's fixed GL state,
// light and projection, and turned by its mouse navigation, plus touch, the
// wheel and the keyboard. Nothing leaves the browser.
(() => {
  // The numbers that define the dome and its view, under their C++ names,
  // as the page's data carries them from the C++ (none is typed here); with
  // the sizes that follow from them.
  let viewer = null;
  let GRID_SAMPLES = 0;
  let SAMPLE_COUNT = 0;
  // Every fourth sample while dragging, when a full frame is slow.
  const COARSE_STEP = 4;

  // What a drag does, as in the viewer.
  const DRAG_NONE = -1;
  const DRAG_ROTATE = 0;
  const DRAG_ZOOM = 1;
  const DRAG_PAN = 2;

  // Single precision, as the viewer computes.
  const f = Math.fround;

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

  const canvas = document.getElementById('view');
  const notice = document.getElementById('notice');
  const notices = { texture: '', relief: '', coarse: '' };

  function showNotice(kind, text) {
    notices[kind] = text;
    notice.textContent = Object.values(notices).filter((line) => line).join('\n');
  }

  function fail(text) {
    status.failed = text;
    document.getElementById('progress').hidden = true;
    const message = document.getElementById('message');
    message.textContent = text;
    message.hidden = false;
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
    FIELD_OF_VIEW: [],
    NEAR_PLANE: [],
    FAR_PLANE: [],
    DEGREES_PER_PIXEL: [],
    ZOOM_PER_PIXEL: [],
    PAN_PER_PIXEL: [],
    ANGLE_LIMIT: [],
    STEP_PIXELS: 'integer',
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
    return Object.freeze(taken);
  }

  // The definitions the shaders use, as #defines put in after their
  // #version line (numbers as JavaScript writes them, which GLSL reads as
  // the same single-precision values).
  function shaderDefinitions() {
    const float = (v) => (Number.isInteger(v) ? v.toFixed(1) : String(v));
    const vector = (values) => `vec${values.length}(${values.map(float).join(', ')})`;
    return [
      `#define LIGHT_AMBIENT ${vector(viewer.LIGHT_AMBIENT)}`,
      `#define LIGHT_DIFFUSE ${vector(viewer.LIGHT_DIFFUSE)}`,
    ].join('\n');
  }

  function decodeBase64(text) {
    const binary = atob(text);
    const bytes = new Uint8Array(binary.length);
    for (let k = 0; k < binary.length; ++k) bytes[k] = binary.charCodeAt(k);
    return bytes;
  }

  // ---- The program's own C++: its readers and surface ----

  // The module (web/module.cpp), once started, and its WebAssembly.
  let M = null;
  let moduleBinary = null;
  // The vertex layout of its surface: bytes a vertex, and where its parts
  // lie in it.
  let vertexLayout = null;

  // The page's deflated data (zlib's format), inflated by the browser.
  async function inflate(base64) {
    const stream = new Blob([decodeBase64(base64)]).stream().pipeThrough(new DecompressionStream('deflate'));
    return new Uint8Array(await new Response(stream).arrayBuffer());
  }

  async function startModule() {
    // The module's script defines this, where the program was built with it.
    if (typeof createDispdomeModule !== 'function') throw new Error('it holds no WebAssembly module');
    // Its console lines are the desktop's, read back by the module itself.
    M = await createDispdomeModule({ wasmBinary: moduleBinary, print: () => {}, printErr: () => {} });
    vertexLayout = { bytes: M._vertexBytes(), texCoord: M._vertexPart(0), normal: M._vertexPart(1), position: M._vertexPart(2) };
  }

  // An image file's bytes read as the desktop reads the file name: the
  // colour image, or heights (kind 'heights': at 16 bits where the file has
  // them, and refused where they give no relief), by the decoder the name
  // readAs chooses. Its pixels stay in the module until freeImage; a refused
  // file gives only the desktop's line.
  function readImage(name, bytes, kind, readAs = name) {
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
  }

  // A module that stopped (a trap, where memory ran out that the C++ could
  // not say so of) answers nothing more: a new one, and the heights drawn
  // read into it again from their bytes (the colour image is a texture
  // already).
  async function restartModule() {
    await startModule();
    const { name, bytes, readAs } = images.heights;
    images.heights = readImage(name, bytes, 'heights', readAs);
  }

  const freeImage = (image) => image && image.handle && M._decodedFree(image.handle);

  // The images drawn: the colour image (its pixels given back once they are
  // a texture) and the heights, each with its file's name and bytes.
  const images = { color: null, heights: null };

  // ---- GL ----

  let gl = null;
  const programs = {};
  const buffers = {};
  const vertexArrays = {};
  // Which normals' surface is evaluated for the heights and relief drawn.
  const evaluated = { viewer: false, displaced: false };
  let colorTexture = null;
  let fullIndexCount = 0;
  let coarseIndexCount = 0;

  // The shader's text with the viewer's definitions after its first line,
  // #version, and its own line numbers kept for the compiler's messages.
  function shaderSource(id) {
    const [version, ...rest] = document.getElementById(id).textContent.trim().split('\n');
    return [version, shaderDefinitions(), '#line 2', ...rest].join('\n');
  }

  function makeProgram(vertexId, fragmentId) {
    const program = gl.createProgram();
    for (const [type, id] of [
      [gl.VERTEX_SHADER, vertexId],
      [gl.FRAGMENT_SHADER, fragmentId],
    ]) {
      const shader = gl.createShader(type);
      gl.shaderSource(shader, shaderSource(id));
      gl.compileShader(shader);
      if (!gl.getShaderParameter(shader, gl.COMPILE_STATUS))
        throw new Error(`the shader ${id} does not compile here: ${gl.getShaderInfoLog(shader)}`);
      gl.attachShader(program, shader);
    }
    gl.bindAttribLocation(program, 0, 'position');
    gl.bindAttribLocation(program, 1, 'normal');
    gl.bindAttribLocation(program, 2, 'textureCoordinate');
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS))
      throw new Error(`the shaders ${vertexId} and ${fragmentId} do not link here: ${gl.getProgramInfoLog(program)}`);
    return program;
  }

  // The surface with the heights and relief drawn, and the viewer's normals
  // or the displaced surface's own (normals), evaluated by the module into
  // that normals' buffer. False when the browser gives the module too
  // little memory for it.
  function evaluate(normals) {
    const started = performance.now();
    const at = M._surfaceVertices(images.heights.handle, status.relief, normals === 'displaced' ? 1 : 0);
    status.evaluateMs = performance.now() - started;
    if (!at) return false;
    buffers[normals] = buffers[normals] || gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers[normals]);
    gl.bufferData(gl.ARRAY_BUFFER, M.HEAPU8.subarray(at, at + SAMPLE_COUNT * vertexLayout.bytes), gl.STATIC_DRAW);
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    M._surfaceVerticesFree();
    vertexArrays[normals] = vertexArrays[normals] || drawingVertexArray(buffers[normals]);
    evaluated[normals] = true;
    return true;
  }

  function drawingVertexArray(buffer) {
    const vertexArray = gl.createVertexArray();
    gl.bindVertexArray(vertexArray);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    for (const [location, size, offset] of [[0, 3, vertexLayout.position], [1, 3, vertexLayout.normal], [2, 2, vertexLayout.texCoord]]) {
      gl.enableVertexAttribArray(location);
      gl.vertexAttribPointer(location, size, gl.FLOAT, false, vertexLayout.bytes, offset);
    }
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    gl.bindVertexArray(null);
    return vertexArray;
  }

  // The viewer's strips over every step-th sample: strip e holds, for each
  // column, the sample on row e and the one on row e + step; the strips are
  // parted by the restart index.
  function stripIndices(step) {
    const strips = viewer.GRID_STEPS / step;
    const columns = viewer.GRID_STEPS / step + 1;
    const indices = new Uint32Array(strips * (2 * columns + 1) - 1);
    let at = 0;
    for (let strip = 0; strip < strips; ++strip) {
      if (strip > 0) indices[at++] = 0xffffffff;
      const e = strip * step;
      for (let column = 0; column < columns; ++column) {
        const i = column * step;
        indices[at++] = e * GRID_SAMPLES + i;
        indices[at++] = (e + step) * GRID_SAMPLES + i;
      }
    }
    const buffer = gl.createBuffer();
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, buffer);
    gl.bufferData(gl.ELEMENT_ARRAY_BUFFER, indices, gl.STATIC_DRAW);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, null);
    return [buffer, indices.length];
  }

  // The colour texture as the viewer makes it, of an image read (none: the
  // surface untextured): linear filtering, repeat, the image's row 0 at
  // t = 0. An image larger than GL takes gets the viewer's line, and the
  // surface is drawn untextured.
  function makeColorTexture(image) {
    if (colorTexture) gl.deleteTexture(colorTexture);
    colorTexture = null;
    if (!image) {
      showNotice('texture', 'This page holds no colour image: the surface is drawn untextured.');
      return;
    }
    const largest = gl.getParameter(gl.MAX_TEXTURE_SIZE);
    const { width, height, name } = image;
    if (width > largest || height > largest) {
      showNotice('texture', `${name}: ${width} x ${height} is larger than GL takes as a texture here (${largest} x ${largest})`);
      return;
    }
    showNotice('texture', '');
    const at = M._decodedPixels(image.handle);
    colorTexture = gl.createTexture();
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, colorTexture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.REPEAT);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.REPEAT);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, width, height, 0, gl.RGBA, gl.UNSIGNED_BYTE,
      M.HEAPU8.subarray(at, at + 4 * width * height));
  }

  // ---- The frame ----

  const identity = () => [1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0, 0, 1];

  // a x b, column-major 4 x 4.
  function multiply(a, b) {
    const m = new Array(16).fill(0);
    for (let column = 0; column < 4; ++column)
      for (let row = 0; row < 4; ++row)
        for (let k = 0; k < 4; ++k) m[4 * column + row] += a[4 * k + row] * b[4 * column + k];
    return m;
  }

  // glRotatef's matrix for an angle in degrees about axis x (0), y (1) or z (2).
  function rotation(degrees, axis) {
    const radians = (degrees * Math.PI) / 180;
    const c = Math.cos(radians);
    const s = Math.sin(radians);
    const [u, v] = [
      [1, 2],
      [2, 0],
      [0, 1],
    ][axis];
    const m = identity();
    m[4 * u + u] = c;
    m[4 * u + v] = s;
    m[4 * v + u] = -s;
    m[4 * v + v] = c;
    return m;
  }

  // Translate by -cameraOffset, then rotate about x, y and z in that order.
  function modelView() {
    const [x, y, z] = status.cameraOffset;
    let m = identity();
    m[12] = -x;
    m[13] = -y;
    m[14] = -z;
    for (let axis = 0; axis < 3; ++axis) m = multiply(m, rotation(status.cameraAngles[axis], axis));
    return m;
  }

  // gluPerspective(FIELD_OF_VIEW, aspect, NEAR_PLANE, FAR_PLANE); a zero
  // dimension counts as one pixel.
  function projection(width, height) {
    const near = viewer.NEAR_PLANE;
    const far = viewer.FAR_PLANE;
    const aspect = Math.max(width, 1) / Math.max(height, 1);
    const cotangent = 1 / Math.tan((viewer.FIELD_OF_VIEW / 2) * (Math.PI / 180));
    const m = new Array(16).fill(0);
    m[0] = cotangent / aspect;
    m[5] = cotangent;
    m[10] = -(far + near) / (far - near);
    m[11] = -1;
    m[14] = (-2 * near * far) / (far - near);
    return m;
  }

  // The inverse transpose of the upper 3 x 3 of m; for the viewer's camera,
  // rotations only, that is the 3 x 3 itself, but it is computed.
  function normalMatrix(m) {
    const a = [m[0], m[1], m[2], m[4], m[5], m[6], m[8], m[9], m[10]];
    const cofactor = (r0, c0, r1, c1) => a[3 * c0 + r0] * a[3 * c1 + r1] - a[3 * c1 + r0] * a[3 * c0 + r1];
    const inverseTranspose = [
      cofactor(1, 1, 2, 2), -cofactor(0, 1, 2, 2), cofactor(0, 1, 1, 2),
      -cofactor(1, 0, 2, 2), cofactor(0, 0, 2, 2), -cofactor(0, 0, 1, 2),
      cofactor(1, 0, 2, 1), -cofactor(0, 0, 2, 1), cofactor(0, 0, 1, 1),
    ];
    const determinant = a[0] * inverseTranspose[0] + a[1] * inverseTranspose[1] + a[2] * inverseTranspose[2];
    return inverseTranspose.map((v) => v / determinant);
  }

  const pointerDown = () => pressed || touches.size > 0;

  function drawFrame(coarse) {
    const program = programs.draw;
    gl.bindFramebuffer(gl.FRAMEBUFFER, null);
    gl.viewport(0, 0, canvas.width, canvas.height);
    gl.clearColor(1, 1, 1, 1);
    gl.clearDepth(1);
    gl.enable(gl.DEPTH_TEST);
    gl.depthFunc(gl.LEQUAL);
    gl.clear(gl.COLOR_BUFFER_BIT | gl.DEPTH_BUFFER_BIT);
    gl.useProgram(program);
    const m = modelView();
    const uniform = (name) => gl.getUniformLocation(program, name);
    gl.uniformMatrix4fv(uniform('modelView'), false, m);
    gl.uniformMatrix4fv(uniform('projection'), false, projection(canvas.width, canvas.height));
    gl.uniformMatrix3fv(uniform('normalMatrix'), false, normalMatrix(m));
    gl.uniform3fv(uniform('lightPosition'), status.lightPosition);
    gl.uniform1i(uniform('colorImage'), 0);
    gl.uniform1i(uniform('textured'), colorTexture ? 1 : 0);
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, colorTexture);
    gl.bindVertexArray(vertexArrays[status.normals]);
    gl.bindBuffer(gl.ELEMENT_ARRAY_BUFFER, coarse ? buffers.coarseIndices : buffers.fullIndices);
    gl.drawElements(gl.TRIANGLE_STRIP, coarse ? coarseIndexCount : fullIndexCount, gl.UNSIGNED_INT, 0);
    gl.bindVertexArray(null);
  }

  // How long frames take, which decides the coarse grid. Where the browser
  // has the timer query the GPU times every frame without waiting; else a
  // one-pixel read waits for the end of the first TIMED_FRAMES full frames
  // only (a read on every frame would stall the GPU). status.timeEveryFrame
  // (for benchmarks) times every frame by the read.
  const TIMED_FRAMES = 3;
  let timer = null;
  let timing = null;

  function frameTimed(coarse, ms) {
    if (coarse) {
      status.coarseFrameMs = ms;
      return;
    }
    status.fullFrameMs = ms;
    status.coarseWhileDragging = ms > status.slowFrameMs;
    showNotice(
      'coarse',
      status.coarseWhileDragging
        ? `A full frame takes ${Math.round(ms)} ms here, so while you drag the page ` +
            `draws every ${COARSE_STEP}th sample, and the full surface again when you let go.`
        : '',
    );
  }

  // The timer query's answer, once the GPU has it (nanoseconds).
  function readTimer() {
    if (!gl.getQueryParameter(timing.query, gl.QUERY_RESULT_AVAILABLE)) {
      setTimeout(readTimer, 20);
      return;
    }
    if (!gl.getParameter(timer.GPU_DISJOINT_EXT)) frameTimed(timing.coarse, gl.getQueryParameter(timing.query, gl.QUERY_RESULT) / 1e6);
    gl.deleteQuery(timing.query);
    timing = null;
  }

  // One frame when something changed; the coarse grid while a button or
  // finger is down and a full frame is slow.
  function frame() {
    status.pending = false;
    const coarse = status.coarseWhileDragging && pointerDown();
    const query = timer && !timing && !status.timeEveryFrame ? gl.createQuery() : null;
    if (query) gl.beginQuery(timer.TIME_ELAPSED_EXT, query);
    const start = performance.now();
    drawFrame(coarse);
    if (query) {
      gl.endQuery(timer.TIME_ELAPSED_EXT);
      timing = { query, coarse };
      setTimeout(readTimer, 20);
    } else if (status.timeEveryFrame || (!timer && !coarse && status.fullFrames < TIMED_FRAMES)) {
      gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
      frameTimed(coarse, performance.now() - start);
    }
    status.frames += 1;
    status.lastFrame = coarse ? 'coarse' : 'full';
    progress.hidden = true;
    if (coarse) status.coarseFrames += 1;
    else if (++status.fullFrames === 1) status.firstFrameAt = performance.now();
  }

  function requestFrame() {
    if (!status.ready || status.pending) return;
    status.pending = true;
    requestAnimationFrame(frame);
  }

  // ---- Navigation: the viewer's mouse callbacks, with touch, the wheel and keys ----

  // One notch in each of the wheel's delta modes (pixels, lines, pages), as
  // browsers report a mouse wheel's.
  const NOTCH = [100, 3, 1];

  let dragMode = DRAG_NONE;
  let lastX = 0;
  let lastY = 0;
  // A button went down on the canvas and not every button is up yet: the
  // pointer's moves are the viewer's motion events.
  let pressed = false;

  // An angle past +-ANGLE_LIMIT degrees becomes 0 (exactly the limit stays).
  function limitAngles(angles) {
    const limit = viewer.ANGLE_LIMIT;
    for (let k = 0; k < 3; ++k) if (angles[k] > limit || angles[k] < -limit) angles[k] = 0;
  }

  // The viewer's motion arithmetic for a move of (dx, dy) pixels in a mode.
  function dragBy(mode, dx, dy) {
    const offset = status.cameraOffset;
    const angles = status.cameraAngles;
    if (mode === DRAG_ROTATE) {
      angles[0] = f(angles[0] + f(dy * viewer.DEGREES_PER_PIXEL));
      angles[1] = f(angles[1] + f(dx * viewer.DEGREES_PER_PIXEL));
    } else if (mode === DRAG_ZOOM) {
      offset[2] = f(offset[2] + f(dy * viewer.ZOOM_PER_PIXEL));
    } else if (mode === DRAG_PAN) {
      offset[0] = f(offset[0] - f(dx * viewer.PAN_PER_PIXEL));
      offset[1] = f(offset[1] + f(dy * viewer.PAN_PER_PIXEL));
    } else return;
    limitAngles(angles);
    requestFrame();
  }

  function motion(x, y) {
    dragBy(dragMode, x - lastX, y - lastY);
    lastX = x;
    lastY = y;
  }

  // The camera's start: angles, offset and distance.
  function resetView() {
    status.cameraOffset = viewer.START_OFFSET.slice();
    status.cameraAngles = viewer.START_ANGLES.slice();
    requestFrame();
  }

  // Window pixels (CSS pixels), y growing downward, whole as GLUT reports them.
  const where = (event) => {
    const box = canvas.getBoundingClientRect();
    return [Math.round(event.clientX - box.left), Math.round(event.clientY - box.top)];
  };

  // A mouse button, or a pen's tip or button, as GLUT's mouse callback.
  function press(event) {
    pressed = true;
    [lastX, lastY] = where(event);
    // GLUT's Ctrl exactly: with Shift or Alt as well, the drag rotates.
    if (event.button === 0)
      dragMode = event.ctrlKey && !event.shiftKey && !event.altKey ? DRAG_PAN : DRAG_ROTATE;
    else if (event.button === 2) dragMode = DRAG_ZOOM;
    // The middle button leaves the drag as it is.
  }

  function release(event) {
    // Any release ends the drag, whichever button it was.
    dragMode = DRAG_NONE;
    pressed = event.buttons !== 0;
    requestFrame();
  }

  // Fingers: one turns, two pinch to zoom and move together to pan.
  const touches = new Map();
  // The last one-finger point, or the last two-finger middle and spread.
  let gesture = null;

  function readGesture() {
    const points = [...touches.values()];
    if (points.length === 0) return null;
    if (points.length === 1) return { count: 1, x: points[0][0], y: points[0][1] };
    const [a, b] = points;
    return { count: 2, x: (a[0] + b[0]) / 2, y: (a[1] + b[1]) / 2, spread: Math.hypot(a[0] - b[0], a[1] - b[1]) };
  }

  function touched(event) {
    if (event.type === 'pointerup' || event.type === 'pointercancel') touches.delete(event.pointerId);
    else if (event.type === 'pointerdown' && touches.size >= 2) return;
    else if (event.type === 'pointerdown' || touches.has(event.pointerId)) touches.set(event.pointerId, where(event));
    const now = readGesture();
    if (event.type === 'pointermove' && gesture && now && now.count === gesture.count) {
      const dx = now.x - gesture.x;
      const dy = now.y - gesture.y;
      if (now.count === 1) dragBy(DRAG_ROTATE, dx, dy);
      else {
        dragBy(DRAG_PAN, dx, dy);
        // Fingers apart: closer, at a right drag's rate.
        dragBy(DRAG_ZOOM, 0, -(now.spread - gesture.spread));
      }
    }
    gesture = now;
    requestFrame();
  }

  // Mouse, pen and touch alike through Pointer Events; the picture keeps
  // the pointer while a button or finger is down, and takes the focus.
  canvas.addEventListener('pointerdown', (event) => {
    event.preventDefault();
    canvas.focus({ preventScroll: true });
    canvas.setPointerCapture(event.pointerId);
    if (event.pointerType === 'touch') touched(event);
    else press(event);
  });
  canvas.addEventListener('pointermove', (event) => {
    if (event.pointerType === 'touch') return touched(event);
    // Another button pressed or released during a drag comes as a move.
    if (event.button >= 0 && pressed) {
      if (event.buttons & (1 << [0, 2, 1, 3, 4][event.button] || 0)) press(event);
      else release(event);
    }
    if (pressed) motion(...where(event));
    return undefined;
  });
  for (const type of ['pointerup', 'pointercancel'])
    canvas.addEventListener(type, (event) => {
      if (event.pointerType === 'touch') touched(event);
      else if (pressed) release(event);
    });
  // A window losing the pointer (another window, a dialogue) ends it too.
  window.addEventListener('blur', () => {
    touches.clear();
    gesture = null;
    if (!pressed) return;
    pressed = false;
    dragMode = DRAG_NONE;
    requestFrame();
  });
  canvas.addEventListener('contextmenu', (event) => event.preventDefault());

  // The wheel (and a trackpad's pinch, which browsers send as the wheel
  // with Ctrl): down moves back, as a right drag down. The page does not
  // scroll under the picture.
  canvas.addEventListener(
    'wheel',
    (event) => {
      event.preventDefault();
      if (status.ready) dragBy(DRAG_ZOOM, 0, (event.deltaY / NOTCH[event.deltaMode]) * viewer.STEP_PIXELS);
    },
    { passive: false },
  );
  canvas.addEventListener('dblclick', resetView);

  // Keys on the focused picture: arrows turn, Shift + arrows pan, + and -
  // zoom, Home goes back to the start.
  const ARROWS = { ArrowLeft: [-1, 0], ArrowRight: [1, 0], ArrowUp: [0, -1], ArrowDown: [0, 1] };
  canvas.addEventListener('keydown', (event) => {
    if (!status.ready || event.ctrlKey || event.altKey || event.metaKey) return;
    const arrow = ARROWS[event.key];
    const step = viewer.STEP_PIXELS;
    if (arrow) dragBy(event.shiftKey ? DRAG_PAN : DRAG_ROTATE, arrow[0] * step, arrow[1] * step);
    else if (event.key === '+' || event.key === '=') dragBy(DRAG_ZOOM, 0, -step);
    else if (event.key === '-') dragBy(DRAG_ZOOM, 0, step);
    else if (event.key === 'Home') resetView();
    else return;
    event.preventDefault();
  });

  // ---- The controls ----

  const normalsControl = document.getElementById('normals');
  const lightInputs = ['light-x', 'light-y', 'light-z'].map((id) => document.getElementById(id));
  const lightNote = document.getElementById('light-note');

  // Work that changes what is drawn, one piece at a time: no frame
  // meanwhile, and none counted as done (a frame is pending) until it is
  // over; a task that gives false changed nothing. The controls wait for
  // the start.
  let started = false;
  let working = Promise.resolve();
  function change(task) {
    working = working.then(async () => {
      status.ready = false;
      status.pending = true;
      let changed;
      try {
        changed = await task();
      } catch (error) {
        fail(`The page cannot draw the surface: ${error.message}`);
        return;
      }
      status.ready = true;
      status.pending = false;
      // Nothing to draw again when nothing changed: the picture stays.
      if (changed === false) progress.hidden = true;
      else requestFrame();
    });
    return working;
  }

  const TOO_LITTLE_MEMORY = 'this browser gives the page too little memory for the surface';

  // The surface again for other heights or another relief: the normals
  // shown now, the others when next asked for. False when there is too
  // little memory, and then the surface drawn stays.
  async function reevaluate() {
    await showProgress('Evaluating the surface\u2026');
    if (!evaluate(status.normals)) return false;
    evaluated[status.normals === 'displaced' ? 'viewer' : 'displaced'] = false;
    return true;
  }

  // The displaced surface's own normals the first time they are asked for,
  // with a word on the picture meanwhile.
  normalsControl.addEventListener('change', () => {
    if (!started) return;
    change(async () => {
      status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
      if (evaluated[status.normals]) return;
      await showProgress(status.normals === 'displaced' ? 'Computing the displaced surface\u2019s own normals\u2026'
        : 'Evaluating the surface\u2026');
      if (!evaluate(status.normals)) throw new Error(TOO_LITTLE_MEMORY);
    });
  });

  // What dispdome-render --light takes: three numbers, finite in single
  // precision; anything else keeps the light where it was, with a note.
  function readLight() {
    const values = lightInputs.map((input) => (input.value.trim() === '' ? NaN : f(Number(input.value))));
    const refused = lightInputs.filter((input, k) => !Number.isFinite(values[k]));
    lightNote.textContent = refused.length
      ? `The light stays where it was: ${refused.map((input) => input.id.slice(-1)).join(', ')} ` +
        'must be a number the viewer holds (up to about 3.4e38).'
      : '';
    if (refused.length) return;
    status.lightPosition = values;
    requestFrame();
  }
  for (const input of lightInputs) input.addEventListener('input', readLight);
  // The viewer's light, in the fields too.
  function resetLight(light = viewer.START_LIGHT) {
    lightInputs.forEach((input, k) => (input.value = String(light[k])));
    readLight();
  }
  document.getElementById('light-reset').addEventListener('click', () => resetLight());
  document.getElementById('reset').addEventListener('click', () => status.ready && resetView());

  // The viewer's window, the browser window's inside less the page's
  // margins and the controls, or the whole screen; either way the whole
  // canvas is the viewport and its aspect the projection's, as the viewer
  // reshapes. The drawing buffer has a pixel for each of the screen's,
  // as far as GL takes.
  const fillControl = document.getElementById('fill');
  const fullScreenButton = document.getElementById('full-screen');
  const frameBox = document.getElementById('viewer');
  const stage = document.getElementById('stage');

  function layout() {
    let [width, height] = [viewer.WINDOW_WIDTH, viewer.WINDOW_HEIGHT];
    if (document.fullscreenElement === frameBox) [width, height] = [frameBox.clientWidth, frameBox.clientHeight];
    else if (fillControl.checked) {
      const margin = parseFloat(getComputedStyle(document.body).marginLeft) || 0;
      const controls = frameBox.getBoundingClientRect().height - stage.getBoundingClientRect().height;
      width = Math.max(document.documentElement.clientWidth - 2 * margin, 0);
      height = Math.max(Math.floor(window.innerHeight - 2 * margin - controls), 0);
    }
    const [largestWidth, largestHeight] = gl ? gl.getParameter(gl.MAX_VIEWPORT_DIMS) : [Infinity, Infinity];
    const ratio = Math.min(window.devicePixelRatio || 1, largestWidth / Math.max(width, 1), largestHeight / Math.max(height, 1));
    canvas.style.width = `${width}px`;
    canvas.style.aspectRatio = `${width} / ${Math.max(height, 1)}`;
    const [bufferWidth, bufferHeight] = [Math.round(width * ratio), Math.round(height * ratio)];
    if (canvas.width !== bufferWidth || canvas.height !== bufferHeight) {
      canvas.width = bufferWidth;
      canvas.height = bufferHeight;
    }
    requestFrame();
  }
  fillControl.addEventListener('change', () => viewer && layout());
  window.addEventListener('resize', () => viewer && layout());
  document.addEventListener('fullscreenchange', () => {
    fullScreenButton.textContent = document.fullscreenElement ? 'Leave full screen' : 'Full screen';
    if (viewer) layout();
  });
  // A change of the device pixel ratio (the browser's zoom, another screen).
  function followRatio() {
    matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`).addEventListener(
      'change',
      () => {
        if (viewer) layout();
        followRatio();
      },
      { once: true },
    );
  }
  followRatio();

  fullScreenButton.hidden = !document.fullscreenEnabled;
  fullScreenButton.addEventListener('click', () => {
    if (document.fullscreenElement) document.exitFullscreen();
    else frameBox.requestFullscreen().catch(() => {});
  });

  // The picture as a PNG at the drawing buffer's size, drawn from the full
  // grid even during a drag (the canvas keeps it until the next frame).
  document.getElementById('save').addEventListener('click', () => {
    if (!status.ready) return;
    drawFrame(false);
    canvas.toBlob((blob) => download('dome.png', blob), 'image/png');
    requestFrame();
  });

  // For tests and scripts: the positions the module evaluates for the
  // heights and relief drawn, x y z per sample in sample order, as base64 of
  // little-endian floats.
  status.positions = () => {
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
    const value = reliefControl.value.trim() === '' ? NaN : f(Number(reliefControl.value));
    const valid = Number.isFinite(value);
    if (valid) status.relief = value;
    showNotice('relief', valid ? '' : `The relief takes a number, as dispdome-render --relief does, not ` +
      `"${reliefControl.value}": it stays ${status.relief} times the viewer's.`);
    return valid;
  }
  reliefControl.addEventListener('change', () => {
    const before = status.relief;
    if (!readRelief() || !started) return;
    change(async () => {
      if (await reevaluate()) return;
      status.relief = before;
      throw new Error(TOO_LITTLE_MEMORY);
    });
  });

  // ---- The user's own images, dropped or picked ----

  const refusal = document.getElementById('refusal');
  const KINDS = { color: 'colour image', heights: 'height image' };
  const otherKind = (kind) => (kind === 'color' ? 'heights' : 'color');

  // What a file's name says it is: 'color' or 'heights', or null.
  function kindByName(name) {
    const [color, heights] = [/colou?r/i.test(name), /displace|height/i.test(name)];
    return color === heights ? null : color ? 'color' : 'heights';
  }

  // A question on the page with a button for each answer and one to drop
  // the files: the answer's index, or -1.
  function ask(question, answers) {
    const box = document.getElementById('ask');
    document.getElementById('question').textContent = question;
    box.querySelectorAll('button').forEach((button) => button.remove());
    return new Promise((resolve) => {
      [...answers, 'Neither: drop them'].forEach((answer, k) => {
        const button = document.createElement('button');
        button.type = 'button';
        button.textContent = answer;
        button.addEventListener('click', () => {
          box.hidden = true;
          resolve(k < answers.length ? k : -1);
        });
        box.append(button);
      });
      box.hidden = false;
      box.querySelector('button').focus();
    });
  }

  // Files given to the page, each with the image it is: the one kind a
  // target takes, else by their names, else as the user answers.
  async function assign(files, kind) {
    if (files.length === 1 && kind) return [[files[0], kind]];
    if (files.length === 0 || files.length > 2) {
      refusal.textContent = status.refusal = 'Give the page one image or two: a colour image and a height image.';
      return [];
    }
    const kinds = files.map((file) => kindByName(file.name));
    if (files.length === 1 && !kinds[0]) {
      const answer = await ask(`Is ${files[0].name} the colour image or the height image?`, ['The colour image', 'The height image']);
      return answer < 0 ? [] : [[files[0], answer === 0 ? 'color' : 'heights']];
    }
    if (files.length === 2) {
      if (kinds[0] && !kinds[1]) kinds[1] = otherKind(kinds[0]);
      if (kinds[1] && !kinds[0]) kinds[0] = otherKind(kinds[1]);
      if (kinds[0] === kinds[1]) {
        const answer = await ask('Which is the height image?', files.map((file) => file.name));
        if (answer < 0) return [];
        kinds.splice(0, 2, ...files.map((_, k) => (k === answer ? 'heights' : 'color')));
      }
    }
    return files.map((file, k) => [file, kinds[k]]);
  }

  // Shows the names of the images drawn on their targets.
  function showNames() {
    for (const kind of Object.keys(KINDS)) {
      status[`${kind}Name`] = images[kind] ? images[kind].name : '';
      document.getElementById(`${kind}-name`).textContent = images[kind] ? images[kind].name : '(none)';
    }
  }

  // Reads the files assigned and draws with each one the desktop reads; a
  // refused one gets the desktop's line, and what it would have replaced
  // stays. True when something changed.
  async function takeImages(assigned) {
    const lines = [];
    let changed = false;
    for (const [file, kind] of assigned) {
      await showProgress(`Reading ${file.name}\u2026`);
      let bytes;
      try {
        bytes = new Uint8Array(await file.arrayBuffer());
      } catch (error) {
        lines.push(`${file.name}: cannot be read (${error.message})`);
        continue;
      }
      const kept = { ...images };
      let image;
      try {
        image = readImage(file.name, bytes, kind);
      } catch (error) {
        lines.push(`${file.name}: the page's reader stopped on it (${error.message})`);
        Object.assign(images, kept);
        await restartModule();
        continue;
      }
      if (image.refusal) {
        lines.push(image.refusal);
      } else if (kind === 'color') {
        makeColorTexture(image);
        freeImage(image);
        images.color = { ...image, handle: 0 };
        changed = true;
      } else {
        const before = images.heights;
        images.heights = image;
        if (await reevaluate()) {
          freeImage(before);
          changed = true;
        } else {
          images.heights = before;
          freeImage(image);
          lines.push(`${file.name}: ${TOO_LITTLE_MEMORY} with these heights`);
        }
      }
    }
    refusal.textContent = status.refusal = lines.join('\n');
    showNames();
    showSaveSizes();
    return changed;
  }

  function give(files, kind) {
    if (!started) return;
    change(async () => {
      const assigned = await assign([...files], kind);
      return assigned.length > 0 && takeImages(assigned);
    });
  }

  for (const input of document.querySelectorAll('input[type=file]'))
    input.addEventListener('change', () => {
      give([...input.files], input.closest('.target').dataset.kind);
      input.value = '';
    });
  // Files dropped on a target, or on the picture; anywhere else the
  // browser would open them instead of the page.
  for (const place of [stage, ...document.querySelectorAll('.target')]) {
    place.addEventListener('dragover', (event) => {
      event.preventDefault();
      event.dataTransfer.dropEffect = 'copy';
      place.classList.add('dropping');
    });
    place.addEventListener('dragleave', () => place.classList.remove('dropping'));
    place.addEventListener('drop', (event) => {
      event.preventDefault();
      event.stopPropagation();
      place.classList.remove('dropping');
      give(event.dataTransfer.files, place.dataset.kind || null);
    });
  }
  window.addEventListener('dragover', (event) => event.preventDefault());
  window.addEventListener('drop', (event) => event.preventDefault());

  // ---- Saving the mesh and the page, written by the export's own C++ ----

  // What the user saves, as a download of a blob: the page's own bytes.
  function download(name, bytes) {
    const link = document.createElement('a');
    link.href = URL.createObjectURL(bytes instanceof Blob ? bytes : new Blob([bytes]));
    link.download = name;
    link.click();
    setTimeout(() => URL.revokeObjectURL(link.href), 60000);
  }

  const meshFormat = document.getElementById('mesh-format');
  const saveButtons = { mesh: document.getElementById('save-mesh'), page: document.getElementById('save-page') };
  const saveProgress = document.getElementById('save-progress');
  const saveNote = document.getElementById('save-note');
  // The page's module as its data carries it, and the save under way.
  let moduleText = '';
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
    if (format !== 'html') {
      const text = M._malloc(8);
      M.stringToUTF8(format, text, 8);
      const estimate = M._meshEstimate(text, width, height);
      M._free(text);
      return estimate;
    }
    partsLength = partsLength || Object.values(pageParts()).reduce((sum, part) => sum + part.length, moduleText.length);
    const { width: across, height: down, bytes: file } = images.heights;
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
  meshFormat.addEventListener('change', () => started && showSaveSizes());

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
      for (const file of result.files) download(file.name, file.bytes);
      status.saved = result.files.map((file) => file.name);
      saveNote.textContent = lines.join('\n');
    } else if (result.cancelled) {
      saveNote.textContent = `${name} was not saved: cancelled.`;
    } else if (result.stopped) {
      saveNote.textContent = `${name} was not saved: ${TOO_LITTLE_MEMORY} (${result.stopped}).`;
    } else {
      saveNote.textContent = lines[lines.length - 1] || `${name} was not saved.`;
    }
    status.saveLine = saveNote.textContent;
  }

  // Writes the mesh (kind 'mesh', in the chosen format) or the page, with
  // the images, relief, normals and light shown, as dispdome-export writes
  // them, in a worker; then downloads what it wrote.
  function save(kind) {
    if (saving || !started) return;
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
    saving.worker.postMessage({ wasm: moduleBinary, parts, module: moduleText, files, args });
  }

  saveButtons.mesh.addEventListener('click', () => save('mesh'));
  saveButtons.page.addEventListener('click', () => save('page'));
  document.getElementById('save-cancel').addEventListener('click', () => saving && saved({ cancelled: true, lines: [] }));

  // ---- Start ----

  // What the page is doing, over the picture's place until the first frame
  // is drawn (empty: done); resolves once the browser has had the chance to
  // show it (a hidden tab gets no frames: a timer then).
  const progress = document.getElementById('progress');
  function showProgress(text) {
    progress.textContent = text;
    progress.hidden = text === '';
    return new Promise((resolve) => {
      requestAnimationFrame(() => setTimeout(resolve, 0));
      setTimeout(resolve, 200);
    });
  }

  // One of the page's own images read, or why not.
  function embedded(image, kind) {
    const what = kind === 'color' ? 'colour image' : 'heights';
    if (!image || typeof image.name !== 'string' || typeof image.bytes !== 'string' || !/^(png|jpeg)$/.test(image.type))
      throw new Error(`its data lacks its ${what}`);
    // Read by its kind, whatever its name says.
    const read = readImage(image.name, decodeBase64(image.bytes), kind, `${what}.${image.type}`);
    if (read.refusal) throw new Error(`its ${what} cannot be read: ${read.refusal}`);
    return read;
  }

  async function start() {
    const data = JSON.parse(document.getElementById('surface-data').textContent);
    viewer = readDefinitions(data);
    GRID_SAMPLES = viewer.GRID_STEPS + 1;
    SAMPLE_COUNT = GRID_SAMPLES * GRID_SAMPLES;
    status.cameraOffset = viewer.START_OFFSET.slice();
    status.cameraAngles = viewer.START_ANGLES.slice();
    layout();
    gl = canvas.getContext('webgl2', {
      // Opaque, as the viewer's window: the lit colour's alpha is 0.8.
      alpha: false,
      depth: true,
      stencil: false,
      antialias: false,
      preserveDrawingBuffer: false,
    });
    if (!gl) {
      fail(
        'This page draws the surface with WebGL2, which this browser does not offer or has turned off. ' +
          'Open it in a current Firefox, Chromium, Chrome, Edge or Safari, with hardware acceleration or ' +
          'WebGL allowed in its settings.',
      );
      return;
    }
    timer = gl.getExtension('EXT_disjoint_timer_query_webgl2');
    moduleText = String(data.module);
    moduleBinary = await inflate(moduleText).catch(() => {
      throw new Error('its WebAssembly module is cut short');
    });
    await startModule();
    images.heights = embedded(data.heights, 'heights');
    reliefControl.value = String(data.relief);
    readRelief();
    await showProgress('Evaluating the surface\u2026');
    if (data.normals === 'displaced') normalsControl.value = 'displaced';
    status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
    if (!evaluate(status.normals)) throw new Error(TOO_LITTLE_MEMORY);
    [buffers.fullIndices, fullIndexCount] = stripIndices(1);
    [buffers.coarseIndices, coarseIndexCount] = stripIndices(COARSE_STEP);
    if (data.color) {
      images.color = embedded(data.color, 'color');
      makeColorTexture(images.color);
      freeImage(images.color);
      images.color.handle = 0;
    } else {
      makeColorTexture(null);
    }
    showNames();
    programs.draw = makeProgram('draw-vertex', 'draw-fragment');
    resetLight(isNumbers(data.light, [3]) ? data.light : viewer.START_LIGHT);
    for (const element of document.querySelectorAll('[data-value]'))
      element.textContent = String(viewer[element.dataset.value]);
    await showProgress('Drawing\u2026');
    showSaveSizes();
    started = true;
    status.ready = true;
    layout();
  }

  canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    fail('The browser took the page\'s WebGL context away (too little memory?). Reload the page to draw again.');
  });

  start().catch((error) => fail(`The page cannot draw the surface: ${error.message}`));
})();
