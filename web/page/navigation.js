'use strict';
// Navigation: the viewer's mouse callbacks, with touch, the wheel and keys.
// Each move is the viewer's own drag, the module's cameraDrag, on the
// camera in status; needs.requestFrame() draws it.
DispdomePage.navigation = (page, needs) => {
  const { status, canvas, module } = page;
  const { requestFrame } = needs;

  // What a drag does, as the module takes it (navigation.h): from the
  // page's data, read when the page starts; no drag before.

  // One notch in each of the wheel's delta modes (pixels, lines, pages), as
  // browsers report a mouse wheel's.
  const NOTCH = [100, 3, 1];

  let dragMode = null;
  let lastX = 0;
  let lastY = 0;
  // A button went down on the canvas and not every button is up yet: the
  // pointer's moves are the viewer's motion events.
  let pressed = false;

  // The viewer's motion arithmetic for a move of (dx, dy) pixels in a mode.
  function dragBy(mode, dx, dy) {
    if (mode === null || mode === page.viewer.DRAG_NONE) return;
    const camera = module.floats([...status.cameraOffset, ...status.cameraAngles], 6,
      (at) => module.M._cameraDrag(mode, dx, dy, at));
    status.cameraOffset = [...camera.subarray(0, 3)];
    status.cameraAngles = [...camera.subarray(3)];
    requestFrame();
  }

  function motion(x, y) {
    dragBy(dragMode, x - lastX, y - lastY);
    lastX = x;
    lastY = y;
  }

  // The camera's start: angles, offset and distance.
  function resetView() {
    status.cameraOffset = page.viewer.START_OFFSET.slice();
    status.cameraAngles = page.viewer.START_ANGLES.slice();
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
      dragMode = event.ctrlKey && !event.shiftKey && !event.altKey ? page.viewer.DRAG_PAN : page.viewer.DRAG_ROTATE;
    else if (event.button === 2) dragMode = page.viewer.DRAG_ZOOM;
    // The middle button leaves the drag as it is.
  }

  function release(event) {
    // Any release ends the drag, whichever button it was.
    dragMode = page.viewer.DRAG_NONE;
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
      if (now.count === 1) dragBy(page.viewer.DRAG_ROTATE, dx, dy);
      else {
        dragBy(page.viewer.DRAG_PAN, dx, dy);
        // Fingers apart: closer, at a right drag's rate.
        dragBy(page.viewer.DRAG_ZOOM, 0, -(now.spread - gesture.spread));
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
    dragMode = page.viewer.DRAG_NONE;
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
      if (!status.ready) return;
      const { DRAG_ZOOM, STEP_PIXELS } = page.viewer;
      dragBy(DRAG_ZOOM, 0, (event.deltaY / NOTCH[event.deltaMode]) * STEP_PIXELS);
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
    const { STEP_PIXELS: step, DRAG_PAN, DRAG_ROTATE, DRAG_ZOOM } = page.viewer;
    if (arrow) dragBy(event.shiftKey ? DRAG_PAN : DRAG_ROTATE, arrow[0] * step, arrow[1] * step);
    else if (event.key === '+' || event.key === '=') dragBy(DRAG_ZOOM, 0, -step);
    else if (event.key === '-') dragBy(DRAG_ZOOM, 0, step);
    else if (event.key === 'Home') resetView();
    else return;
    event.preventDefault();
  });
  document.getElementById('reset').addEventListener('click', () => status.ready && resetView());

  const pointerDown = () => pressed || touches.size > 0;
  return { resetView, pointerDown };
};
