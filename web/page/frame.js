'use strict';
// The frame: the surface and colour texture in WebGL2, drawn with the
// viewer's fixed GL state, light, camera and projection (their matrices
// the module's, as the viewer's GL builds them), in a canvas sized as the
// viewer's window, the browser window or the screen.
// needs.pointerDown(): a button or finger is down (the coarse grid's time).
DispdomePage.frame = (page, needs) => {
  const { status, canvas, module, showNotice } = page;
  // Every fourth sample while dragging, when a full frame is slow.
  const COARSE_STEP = 4;

  let gl = null;
  const programs = {};
  const buffers = {};
  const vertexArrays = {};
  // Which normals' surface is evaluated for the heights and relief drawn.
  const evaluated = { viewer: false, displaced: false };
  let colorTexture = null;
  let fullIndexCount = 0;
  let coarseIndexCount = 0;

  // The definitions the shaders use, as #defines put in after their
  // #version line (numbers as JavaScript writes them, which GLSL reads as
  // the same single-precision values).
  function shaderDefinitions() {
    const float = (v) => (Number.isInteger(v) ? v.toFixed(1) : String(v));
    const vector = (values) => `vec${values.length}(${values.map(float).join(', ')})`;
    return [
      `#define LIGHT_AMBIENT ${vector(page.viewer.LIGHT_AMBIENT)}`,
      `#define LIGHT_DIFFUSE ${vector(page.viewer.LIGHT_DIFFUSE)}`,
    ].join('\n');
  }

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
    const { M, vertexLayout } = module;
    const started = performance.now();
    const at = M._surfaceVertices(page.images.heights.handle, status.relief, normals === 'displaced' ? 1 : 0);
    status.evaluateMs = performance.now() - started;
    if (!at) return false;
    buffers[normals] = buffers[normals] || gl.createBuffer();
    gl.bindBuffer(gl.ARRAY_BUFFER, buffers[normals]);
    gl.bufferData(gl.ARRAY_BUFFER, M.HEAPU8.subarray(at, at + page.viewer.SAMPLE_COUNT * vertexLayout.bytes), gl.STATIC_DRAW);
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    M._surfaceVerticesFree();
    vertexArrays[normals] = vertexArrays[normals] || drawingVertexArray(buffers[normals]);
    evaluated[normals] = true;
    return true;
  }

  function drawingVertexArray(buffer) {
    const layout = module.vertexLayout;
    const vertexArray = gl.createVertexArray();
    gl.bindVertexArray(vertexArray);
    gl.bindBuffer(gl.ARRAY_BUFFER, buffer);
    for (const [location, size, offset] of [[0, 3, layout.position], [1, 3, layout.normal], [2, 2, layout.texCoord]]) {
      gl.enableVertexAttribArray(location);
      gl.vertexAttribPointer(location, size, gl.FLOAT, false, layout.bytes, offset);
    }
    gl.bindBuffer(gl.ARRAY_BUFFER, null);
    gl.bindVertexArray(null);
    return vertexArray;
  }

  // The viewer's strips over every step-th sample, in the module's order,
  // parted by the restart index.
  function stripIndices(step) {
    const { M } = module;
    const at = M._stripIndexList(step);
    const indices = new Uint32Array(M.HEAPU8.buffer, at, M._stripIndexCount());
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
    const { M } = module;
    const largest = gl.getParameter(gl.MAX_TEXTURE_SIZE);
    const { width, height, name } = image;
    if (width > largest || height > largest) {
      showNotice('texture', module.withText(name, (text) => M.UTF8ToString(M._textureTooLargeLine(text, width, height, largest))));
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

  // The viewer's model-view, projection and normal matrices for the camera
  // and the canvas, from the module.
  function matrices() {
    const camera = [...status.cameraOffset, ...status.cameraAngles];
    const all = module.floats(camera, 6 + 41, (at) => module.M._cameraMatrices(at, canvas.width, canvas.height, at + 24));
    return { modelView: all.subarray(6, 22), projection: all.subarray(22, 38), normal: all.subarray(38) };
  }

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
    const m = matrices();
    const uniform = (name) => gl.getUniformLocation(program, name);
    gl.uniformMatrix4fv(uniform('modelView'), false, m.modelView);
    gl.uniformMatrix4fv(uniform('projection'), false, m.projection);
    gl.uniformMatrix3fv(uniform('normalMatrix'), false, m.normal);
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
    const coarse = status.coarseWhileDragging && needs.pointerDown();
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
    page.progress.hidden = true;
    if (coarse) status.coarseFrames += 1;
    else if (++status.fullFrames === 1) status.firstFrameAt = performance.now();
  }

  function requestFrame() {
    if (!status.ready || status.pending) return;
    status.pending = true;
    requestAnimationFrame(frame);
  }

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
    let [width, height] = [page.viewer.WINDOW_WIDTH, page.viewer.WINDOW_HEIGHT];
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
  fillControl.addEventListener('change', () => page.viewer && layout());
  window.addEventListener('resize', () => page.viewer && layout());
  document.addEventListener('fullscreenchange', () => {
    fullScreenButton.textContent = document.fullscreenElement ? 'Leave full screen' : 'Full screen';
    if (page.viewer) layout();
  });
  // A change of the device pixel ratio (the browser's zoom, another screen).
  function followRatio() {
    matchMedia(`(resolution: ${window.devicePixelRatio}dppx)`).addEventListener(
      'change',
      () => {
        if (page.viewer) layout();
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
    canvas.toBlob((blob) => page.download('dome.png', blob), 'image/png');
    requestFrame();
  });

  // The canvas's WebGL2 context, sized first; false where the browser has none.
  function startGL() {
    layout();
    gl = canvas.getContext('webgl2', {
      // Opaque, as the viewer's window: the lit colour's alpha is 0.8.
      alpha: false,
      depth: true,
      stencil: false,
      antialias: false,
      preserveDrawingBuffer: false,
    });
    if (!gl) return false;
    timer = gl.getExtension('EXT_disjoint_timer_query_webgl2');
    return true;
  }

  // The strips and the draw program, once the surface is evaluated.
  function startDrawing() {
    [buffers.fullIndices, fullIndexCount] = stripIndices(1);
    [buffers.coarseIndices, coarseIndexCount] = stripIndices(COARSE_STEP);
    programs.draw = makeProgram('draw-vertex', 'draw-fragment');
  }

  canvas.addEventListener('webglcontextlost', (event) => {
    event.preventDefault();
    page.fail('The browser took the page\'s WebGL context away (too little memory?). Reload the page to draw again.');
  });

  return { startGL, startDrawing, evaluate, evaluated, makeColorTexture, layout, requestFrame };
};
