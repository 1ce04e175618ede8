'use strict';
// The displaced dome of dispdome-viewer, drawn and turned as the viewer
// draws and turns it: the surface evaluated on the GPU from the images this
// file holds (the colour picture and the heights the displacement reads),
// the viewer's fixed GL state, light and projection, and its mouse
// navigation, plus touch.
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
    const weights = new Float32Array(7 * GRID_SAMPLES);
    weights.set(viewer.cubicBasis);
    weights.set(viewer.quadraticBasis, 4 * GRID_SAMPLES);
    const basis = floatTexture(0, gl.R32F, gl.RED, GRID_SAMPLES, 7, weights);
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

  // One frame when something changed; the coarse grid while a button or
  // finger is down and a full frame is slow. Each frame is timed to its end
  // (a one-pixel read waits for it).
  function frame() {
    status.pending = false;
    const coarse = status.coarseWhileDragging && pointerDown();
    const start = performance.now();
    drawFrame(coarse);
    gl.readPixels(0, 0, 1, 1, gl.RGBA, gl.UNSIGNED_BYTE, new Uint8Array(4));
    const end = performance.now();
    status.frames += 1;
    status.lastFrame = coarse ? 'coarse' : 'full';
    if (coarse) {
      status.coarseFrames += 1;
      status.coarseFrameMs = end - start;
      return;
    }
    status.fullFrames += 1;
    status.fullFrameMs = end - start;
    if (status.fullFrames === 1) status.firstFrameAt = end;
    status.coarseWhileDragging = status.fullFrameMs > status.slowFrameMs;
    showNotice(
      'coarse',
      status.coarseWhileDragging
        ? `A full frame takes ${Math.round(status.fullFrameMs)} ms here, so while you drag the page ` +
            `draws every ${COARSE_STEP}th sample, and the full surface again when you let go.`
        : '',
    );
  }

  function requestFrame() {
    if (!status.ready || status.pending) return;
    status.pending = true;
    requestAnimationFrame(frame);
  }

  // ---- Navigation, as the viewer's mouse callbacks ----

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

  function motion(x, y) {
    const dx = x - lastX;
    const dy = y - lastY;
    const offset = status.cameraOffset;
    const angles = status.cameraAngles;
    if (dragMode === DRAG_ROTATE) {
      angles[0] = f(angles[0] + f(dy * viewer.DEGREES_PER_PIXEL));
      angles[1] = f(angles[1] + f(dx * viewer.DEGREES_PER_PIXEL));
    } else if (dragMode === DRAG_ZOOM) {
      offset[2] = f(offset[2] + f(dy * viewer.ZOOM_PER_PIXEL));
    } else if (dragMode === DRAG_PAN) {
      offset[0] = f(offset[0] - f(dx * viewer.PAN_PER_PIXEL));
      offset[1] = f(offset[1] + f(dy * viewer.PAN_PER_PIXEL));
    }
    if (dragMode !== DRAG_NONE) {
      limitAngles(angles);
      requestFrame();
    }
    lastX = x;
    lastY = y;
  }

  // Window pixels, y growing downward, whole as GLUT reports them.
  const where = (event) => {
    const box = canvas.getBoundingClientRect();
    return [Math.round(event.clientX - box.left), Math.round(event.clientY - box.top)];
  };

  canvas.addEventListener('mousedown', (event) => {
    event.preventDefault();
    pressed = true;
    [lastX, lastY] = where(event);
    // GLUT's Ctrl exactly: with Shift or Alt as well, the drag rotates.
    if (event.button === 0)
      dragMode = event.ctrlKey && !event.shiftKey && !event.altKey ? DRAG_PAN : DRAG_ROTATE;
    else if (event.button === 2) dragMode = DRAG_ZOOM;
    // The middle button leaves the drag as it is.
  });
  window.addEventListener('mousemove', (event) => {
    if (pressed) motion(...where(event));
  });
  window.addEventListener('mouseup', (event) => {
    if (!pressed) return;
    // Any release ends the drag, whichever button it was.
    dragMode = DRAG_NONE;
    pressed = event.buttons !== 0;
    requestFrame();
  });
  // A window losing the pointer (another window, a dialogue) ends it too.
  window.addEventListener('blur', () => {
    if (!pressed) return;
    pressed = false;
    dragMode = DRAG_NONE;
    requestFrame();
  });
  canvas.addEventListener('contextmenu', (event) => event.preventDefault());

  // ---- Touch: one finger turns, two pinch to zoom and move to pan ----

  const touches = new Map();
  // The last one-finger point, or the last two-finger middle and spread.
  let gesture = null;

  function readGesture() {
    const points = [...touches.values()];
    if (points.length === 1) return { count: 1, x: points[0][0], y: points[0][1] };
    const [a, b] = points;
    return {
      count: 2,
      x: (a[0] + b[0]) / 2,
      y: (a[1] + b[1]) / 2,
      spread: Math.hypot(a[0] - b[0], a[1] - b[1]),
    };
  }

  function touchChanged(event) {
    event.preventDefault();
    for (const touch of event.changedTouches) {
      if (event.type === 'touchend' || event.type === 'touchcancel') touches.delete(touch.identifier);
      else if (event.type === 'touchstart' && touches.size >= 2) continue;
      else touches.set(touch.identifier, where(touch));
    }
    const now = touches.size > 0 ? readGesture() : null;
    if (event.type === 'touchmove' && gesture && now && now.count === gesture.count) {
      const offset = status.cameraOffset;
      const dx = now.x - gesture.x;
      const dy = now.y - gesture.y;
      if (now.count === 1) {
        status.cameraAngles[0] = f(status.cameraAngles[0] + f(dy * viewer.DEGREES_PER_PIXEL));
        status.cameraAngles[1] = f(status.cameraAngles[1] + f(dx * viewer.DEGREES_PER_PIXEL));
        limitAngles(status.cameraAngles);
      } else {
        offset[0] = f(offset[0] - f(dx * viewer.PAN_PER_PIXEL));
        offset[1] = f(offset[1] + f(dy * viewer.PAN_PER_PIXEL));
        // Fingers apart: closer, at a right drag's rate.
        offset[2] = f(offset[2] - f((now.spread - gesture.spread) * viewer.ZOOM_PER_PIXEL));
      }
    }
    gesture = now;
    requestFrame();
  }

  for (const type of ['touchstart', 'touchmove', 'touchend', 'touchcancel'])
    canvas.addEventListener(type, touchChanged, { passive: false });

  // ---- The controls ----

  const normalsControl = document.getElementById('normals');
  const lightInputs = ['light-x', 'light-y', 'light-z'].map((id) => document.getElementById(id));

  normalsControl.addEventListener('change', () => {
    status.normals = normalsControl.value === 'displaced' ? 'displaced' : 'viewer';
    if (status.ready && status.normals === 'displaced' && !vertexArrays.displaced) evaluateDisplacedNormals();
    requestFrame();
  });

  function readLight() {
    const values = lightInputs.map((input) => (input.value.trim() === '' ? NaN : Number(input.value)));
    if (values.every(Number.isFinite)) {
      status.lightPosition = values.map(f);
      requestFrame();
    }
  }
  for (const input of lightInputs) input.addEventListener('input', readLight);
  // The viewer's light, in the fields too.
  function resetLight() {
    lightInputs.forEach((input, k) => (input.value = String(viewer.START_LIGHT[k])));
    readLight();
  }
  document.getElementById('light-reset').addEventListener('click', resetLight);

  // The viewer's window, or the browser window's inside less the page's
  // margins; either way the whole canvas is the viewport and its aspect the
  // projection's, as the viewer reshapes.
  const fillControl = document.getElementById('fill');

  function layout() {
    const filled = fillControl.checked;
    const margin = parseFloat(getComputedStyle(document.body).marginLeft) || 0;
    const width = filled ? Math.max(document.documentElement.clientWidth - 2 * margin, 0) : viewer.WINDOW_WIDTH;
    const height = filled ? Math.max(window.innerHeight - 2 * margin, 0) : viewer.WINDOW_HEIGHT;
    if (canvas.width !== width || canvas.height !== height) {
      canvas.width = width;
      canvas.height = height;
    }
    requestFrame();
  }
  fillControl.addEventListener('change', layout);
  window.addEventListener('resize', () => fillControl.checked && layout());

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

  async function start() {
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
    const data = JSON.parse(document.getElementById('surface-data').textContent);
    viewer = readDefinitions(data);
    GRID_SAMPLES = viewer.GRID_STEPS + 1;
    SAMPLE_COUNT = GRID_SAMPLES * GRID_SAMPLES;
    HEIGHT_SAMPLES = viewer.DISPLACE_GRID_MAX + 1;
    status.cameraOffset = viewer.START_OFFSET.slice();
    status.cameraAngles = viewer.START_ANGLES.slice();
    // A picture this browser cannot decode leaves the surface untextured.
    const picture = data.color ? await decodePicture(data).catch(() => false) : null;
    status.pictureTurn = data.colorOrientation;
    vertexArrays.empty = gl.createVertexArray();
    heightValues = await texelValues(data);
    reliefControl.value = String(data.relief);
    readRelief();
    evaluateSurface(heightValues);
    vertexArrays.viewer = drawingVertexArray(buffers.viewerNormals);
    [buffers.fullIndices, fullIndexCount] = stripIndices(1);
    [buffers.coarseIndices, coarseIndexCount] = stripIndices(COARSE_STEP);
    colorTexture = makeColorTexture(picture, data.colorName);
    programs.draw = makeProgram('draw-vertex', 'draw-fragment');
    if (normalsControl.value === 'displaced') {
      status.normals = 'displaced';
      evaluateDisplacedNormals();
    }
    resetLight();
    status.ready = true;
    layout();
  }

  canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    fail('The browser took the page\'s WebGL context away (too little memory?). Reload the page to draw again.');
  });

  start().catch((error) => fail(`The page cannot draw the surface: ${error.message}`));
})();
