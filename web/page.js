'use strict';
// The displaced dome of dispdome-viewer, drawn and turned as the viewer
// draws and turns it: the surface evaluated on the GPU from the images this
// file holds (the colour picture and the heights the displacement reads),
// the viewer's fixed GL state, light and projection, and its mouse
// navigation, plus touch, the wheel and the keyboard.
(() => {
  // The numbers that define the dome and its view, under their C++ names,
  // as the page's data carries them from the C++ (none is typed here); with
  // the sizes that follow from them.
  let viewer = null;
  let GRID_SAMPLES = 0;
  let SAMPLE_COUNT = 0;
  let HEIGHT_SAMPLES = 0;
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
    // last full and coarse frame (drawn and finished).
    firstFrameAt: NaN,
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
    // The EXIF orientation the colour picture is shown turned by.
    pictureTurn: 1,
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
  // numbers ([n]), m lists of n numbers ([m, n]), or rows of Bernstein
  // weights on the sample grid as base64 of little-endian floats
  // (['weights', rows]).
  const DEFINITIONS = {
    GRID_STEPS: 'integer',
    cubicBasis: ['weights', 4],
    quadraticBasis: ['weights', 3],
    controlNet: [16, 3],
    normalNet: [9, 3],
    DISPLACE_GRID_MAX: 'integer',
    DISPLACE_DIVISOR: [],
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
      let good;
      if (shape === 'integer') good = Number.isInteger(value) && value > 0;
      else if (shape[0] === 'weights') good = typeof value === 'string';
      else good = isNumbers(value, shape);
      if (!good) throw new Error(`its data lacks the viewer's ${name}`);
      taken[name] = value;
    }
    for (const [name, shape] of Object.entries(DEFINITIONS))
      if (shape[0] === 'weights') {
        const bytes = decodeBase64(taken[name]);
        if (bytes.length !== 4 * shape[1] * (taken.GRID_STEPS + 1)) throw new Error(`its data lacks the viewer's ${name}`);
        const view = new DataView(bytes.buffer);
        taken[name] = Float32Array.from({ length: bytes.length / 4 }, (_, k) => view.getFloat32(4 * k, true));
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
      `#define GRID_STEPS ${viewer.GRID_STEPS}`,
      `#define DISPLACE_GRID_MAX ${viewer.DISPLACE_GRID_MAX}`,
      `#define DISPLACE_DIVISOR ${float(viewer.DISPLACE_DIVISOR)}`,
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

  // The heights as the viewer's texel values: v / 65535 for 16-bit
  // samples (little-endian), v / 255 for bytes, in single precision. They
  // travel deflated (zlib's format), inflated here by the browser.
  async function texelValues(data) {
    const inflating = new Blob([decodeBase64(data.heights)]).stream().pipeThrough(new DecompressionStream('deflate'));
    const bytes = new Uint8Array(await new Response(inflating).arrayBuffer().catch(() => new ArrayBuffer(0)));
    const values = new Float32Array(HEIGHT_SAMPLES * HEIGHT_SAMPLES);
    if (bytes.length !== values.length * (data.heightBits === 16 ? 2 : 1)) throw new Error('its heights are cut short');
    if (data.heightBits === 16) {
      for (let k = 0; k < values.length; ++k) values[k] = (bytes[2 * k] | (bytes[2 * k + 1] << 8)) / 65535;
    } else {
      for (let k = 0; k < values.length; ++k) values[k] = bytes[k] / 255;
    }
    return values;
  }

  // The colour picture (a PNG, or a JPEG without its EXIF block; top row
  // first) as a bitmap, its pixels as they are in the file.
  function decodePicture(data) {
    const blob = new Blob([decodeBase64(data.color)], { type: data.colorType });
    return createImageBitmap(blob, { premultiplyAlpha: 'none', colorSpaceConversion: 'none' });
  }

  // ---- GL ----

  let gl = null;
  const programs = {};
  const buffers = {};
  const vertexArrays = {};
  let colorTexture = null;
  let fullIndexCount = 0;
  let coarseIndexCount = 0;

  // The shader's text with the viewer's definitions after its first line,
  // #version, and its own line numbers kept for the compiler's messages.
  function shaderSource(id) {
    const [version, ...rest] = document.getElementById(id).textContent.trim().split('\n');
    return [version, shaderDefinitions(), '#line 2', ...rest].join('\n');
  }

  function makeProgram(vertexId, fragmentId, captured) {
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
    if (captured) gl.transformFeedbackVaryings(program, captured, gl.SEPARATE_ATTRIBS);
    gl.bindAttribLocation(program, 0, 'position');
    gl.bindAttribLocation(program, 1, 'normal');
    gl.linkProgram(program);
    if (!gl.getProgramParameter(program, gl.LINK_STATUS))
      throw new Error(`the shaders ${vertexId} and ${fragmentId} do not link here: ${gl.getProgramInfoLog(program)}`);
    return program;
  }

  function floatTexture(unit, internalFormat, format, width, height, pixels) {
    const texture = gl.createTexture();
    gl.activeTexture(gl.TEXTURE0 + unit);
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.NEAREST);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.NEAREST);
    gl.texImage2D(gl.TEXTURE_2D, 0, internalFormat, width, height, 0, format, gl.FLOAT, pixels);
    return texture;
  }

  function sampleBuffer(components) {
    const buffer = gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    gl.bufferData(gl.ARRAY_BUFFER, SAMPLE_COUNT * components * 4, gl.STATIC_COPY);
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    return buffer;
  }

  // Runs program once per sample with the rasterizer off, capturing its
  // outputs into targets.
  function capture(program, targets) {
    const feedback = gl.createTransformFeedback();
    gl.bindTransformFeedback(gl.TRANSFORM_FEEDBACK, feedback);
    targets.forEach((buffer, k) => gl.bindBufferBase(gl.TRANSFORM_FEEDBACK_BUFFER, k, buffer));
    gl.useProgram(program);
    gl.bindVertexArray(vertexArrays.empty);
    gl.enable(gl.RASTERIZER_DISCARD);
    gl.beginTransformFeedback(gl.POINTS);
    gl.drawArrays(gl.POINTS, 0, SAMPLE_COUNT);
    gl.endTransformFeedback();
    gl.disable(gl.RASTERIZER_DISCARD);
    targets.forEach((buffer, k) => gl.bindBufferBase(gl.TRANSFORM_FEEDBACK_BUFFER, k, null));
    gl.bindTransformFeedback(gl.TRANSFORM_FEEDBACK, null);
    gl.deleteTransformFeedback(feedback);
  }

  // Every sample's displaced position and the viewer's normal.
  function evaluateSurface(heights) {
    const program = makeProgram('evaluate-vertex', 'nothing-fragment', ['position', 'normal']);
    const weights = new Float32Array(viewer.cubicBasis.length + viewer.quadraticBasis.length);
    weights.set(viewer.cubicBasis);
    weights.set(viewer.quadraticBasis, viewer.cubicBasis.length);
    const basis = floatTexture(0, gl.R32F, gl.RED, GRID_SAMPLES, weights.length / GRID_SAMPLES, weights);
    const heightTexture = floatTexture(1, gl.R32F, gl.RED, HEIGHT_SAMPLES, HEIGHT_SAMPLES, heights);
    gl.useProgram(program);
    gl.uniform1i(gl.getUniformLocation(program, 'basis'), 0);
    gl.uniform1i(gl.getUniformLocation(program, 'heights'), 1);
    gl.uniform3fv(gl.getUniformLocation(program, 'controlNet'), viewer.controlNet.flat());
    gl.uniform3fv(gl.getUniformLocation(program, 'normalNet'), viewer.normalNet.flat());
    gl.uniform1f(gl.getUniformLocation(program, 'relief'), status.relief);
    buffers.positions = buffers.positions || sampleBuffer(3);
    buffers.viewerNormals = buffers.viewerNormals || sampleBuffer(3);
    capture(program, [buffers.positions, buffers.viewerNormals]);
    gl.deleteTexture(basis);
    gl.deleteTexture(heightTexture);
    gl.deleteProgram(program);
  }

  // The displaced surface's own normals, made the first time they are asked
  // for, and again when the relief changes.
  function evaluateDisplacedNormals() {
    const program = makeProgram('normals-vertex', 'nothing-fragment', ['normal']);
    gl.bindBuffer(gl.PIXEL_UNPACK_BUFFER, buffers.positions);
    const positions = floatTexture(0, gl.RGB32F, gl.RGB, GRID_SAMPLES, GRID_SAMPLES, 0);
    gl.bindBuffer(gl.PIXEL_UNPACK_BUFFER, null);
    gl.useProgram(program);
    gl.uniform1i(gl.getUniformLocation(program, 'positions'), 0);
    buffers.displacedNormals = buffers.displacedNormals || sampleBuffer(3);
    capture(program, [buffers.displacedNormals]);
    gl.deleteTexture(positions);
    gl.deleteProgram(program);
    vertexArrays.displaced = vertexArrays.displaced || drawingVertexArray(buffers.displacedNormals);
  }

  function drawingVertexArray(normals) {
    const vertexArray = gl.createVertexArray();
    gl.bindVertexArray(vertexArray);
    for (const [location, buffer] of [
      [0, buffers.positions],
      [1, normals],
    ]) {
      gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
      gl.enableVertexAttribArray(location);
      gl.vertexAttribPointer(location, 3, gl.FLOAT, false, 0, 0);
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

  // The colour texture as the viewer makes it: linear filtering, repeat;
  // an image larger than GL takes gets the viewer's line, and the surface
  // is drawn untextured.
  function makeColorTexture(picture, name) {
    if (!picture) {
      showNotice(
        'texture',
        picture === false
          ? `${name}: this browser cannot decode the picture; the surface is drawn untextured.`
          : 'This page holds no colour image: the surface is drawn untextured.',
      );
      return null;
    }
    const largest = gl.getParameter(gl.MAX_TEXTURE_SIZE);
    if (picture.width > largest || picture.height > largest) {
      // The size as shown, turned as the viewer turns it.
      const [width, height] = status.pictureTurn >= 5 ? [picture.height, picture.width] : [picture.width, picture.height];
      showNotice(
        'texture',
        `${name}: ${width} x ${height} is larger than GL takes as a texture here (${largest} x ${largest})`,
      );
      return null;
    }
    const texture = gl.createTexture();
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, texture);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MIN_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_MAG_FILTER, gl.LINEAR);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_S, gl.REPEAT);
    gl.texParameteri(gl.TEXTURE_2D, gl.TEXTURE_WRAP_T, gl.REPEAT);
    gl.texImage2D(gl.TEXTURE_2D, 0, gl.RGBA8, gl.RGBA, gl.UNSIGNED_BYTE, picture);
    return texture;
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
    gl.uniform1i(uniform('orientation'), status.pictureTurn);
    gl.activeTexture(gl.TEXTURE0);
    gl.bindTexture(gl.TEXTURE_2D, colorTexture);
    gl.bindVertexArray(status.normals === 'displaced' ? vertexArrays.displaced : vertexArrays.viewer);
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

  // The displaced surface's normals, the first time they are asked for,
  // with a word on the picture meanwhile.
  async function displacedNormals() {
    if (vertexArrays.displaced) return;
    await showProgress('Computing the displaced surface\u2019s own normals\u2026');
    evaluateDisplacedNormals();
  }

  // No frame meanwhile, and none counted as done: a frame is pending.
  normalsControl.addEventListener('change', async () => {
    if (!status.ready) return;
    status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
    status.ready = false;
    status.pending = true;
    try {
      if (status.normals === 'displaced') await displacedNormals();
    } catch (error) {
      fail(`The page cannot draw the surface: ${error.message}`);
      return;
    }
    status.ready = true;
    status.pending = false;
    requestFrame();
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
  function resetLight() {
    lightInputs.forEach((input, k) => (input.value = String(viewer.START_LIGHT[k])));
    readLight();
  }
  document.getElementById('light-reset').addEventListener('click', resetLight);
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
    canvas.toBlob((blob) => {
      const link = document.createElement('a');
      link.href = URL.createObjectURL(blob);
      link.download = 'dome.png';
      link.click();
      setTimeout(() => URL.revokeObjectURL(link.href), 60000);
    }, 'image/png');
    requestFrame();
  });

  // For tests and scripts: the evaluated positions, x y z per sample in
  // sample order, as base64 of little-endian floats.
  status.positions = () => {
    const values = new Float32Array(SAMPLE_COUNT * 3);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers.positions);
    gl.getBufferSubData(gl.ARRAY_BUFFER, 0, values);
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    const bytes = new Uint8Array(values.buffer);
    let binary = '';
    for (let k = 0; k < bytes.length; k += 0x8000) binary += String.fromCharCode(...bytes.subarray(k, k + 0x8000));
    return btoa(binary);
  };

  // The relief scale as dispdome-render --relief takes it: a number that
  // stays finite in single precision. Anything else is refused with a note,
  // and the relief stays as it was.
  const reliefControl = document.getElementById('relief');
  let heightValues = null;

  function readRelief() {
    const value = reliefControl.value.trim() === '' ? NaN : f(Number(reliefControl.value));
    const valid = Number.isFinite(value);
    if (valid) status.relief = value;
    showNotice('relief', valid ? '' : `The relief takes a number, as dispdome-render --relief does, not ` +
      `"${reliefControl.value}": it stays ${status.relief} times the viewer's.`);
    return valid;
  }
  reliefControl.addEventListener('change', () => {
    if (!readRelief() || !status.ready) return;
    evaluateSurface(heightValues);
    if (vertexArrays.displaced) evaluateDisplacedNormals();
    requestFrame();
  });

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

  async function start() {
    const data = JSON.parse(document.getElementById('surface-data').textContent);
    viewer = readDefinitions(data);
    GRID_SAMPLES = viewer.GRID_STEPS + 1;
    SAMPLE_COUNT = GRID_SAMPLES * GRID_SAMPLES;
    HEIGHT_SAMPLES = viewer.DISPLACE_GRID_MAX + 1;
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
    // A picture this browser cannot decode leaves the surface untextured.
    const picture = data.color ? await decodePicture(data).catch(() => false) : null;
    status.pictureTurn = data.colorOrientation;
    heightValues = await texelValues(data);
    reliefControl.value = String(data.relief);
    readRelief();
    await showProgress('Evaluating the surface\u2026');
    vertexArrays.empty = gl.createVertexArray();
    evaluateSurface(heightValues);
    vertexArrays.viewer = drawingVertexArray(buffers.viewerNormals);
    [buffers.fullIndices, fullIndexCount] = stripIndices(1);
    [buffers.coarseIndices, coarseIndexCount] = stripIndices(COARSE_STEP);
    colorTexture = makeColorTexture(picture, data.colorName);
    programs.draw = makeProgram('draw-vertex', 'draw-fragment');
    status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
    if (status.normals === 'displaced') await displacedNormals();
    resetLight();
    for (const element of document.querySelectorAll('[data-value]'))
      element.textContent = String(viewer[element.dataset.value]);
    await showProgress('Drawing\u2026');
    status.ready = true;
    layout();
  }

  canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    fail('The browser took the page\'s WebGL context away (too little memory?). Reload the page to draw again.');
  });

  start().catch((error) => fail(`The page cannot draw the surface: ${error.message}`));
})();
