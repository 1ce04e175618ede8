'use strict';
// The web page dispdome-export writes, opened from disk in Debian's headless
// Chromium (software WebGL2, SwiftShader) and driven through the DevTools
// protocol by puppeteer-core. A full frame costs a second or more here, so
// a picture is drawn and compared with dispdome-render's only where a
// picture can show the fault; where the camera is what matters, the page's
// camera (cameraAngles, cameraOffset) is checked against the drag's move
// worked out by hand. tests/README.md says what each picture catches.
//     node web_test.js EXPORT RENDER SAMPLES PUPPETEER_FOLDER [view | images | moved | firefox]
// view: the page's drawing and moving, and its baked data; images: the
// user's own images and the saves (ctest runs the two side by side; with
// neither named, both run, in turn). moved: only the first picture and a
// dragged one (web_moved_start.sh, on programs whose start is moved in the
// C++ alone); firefox: only the first picture in Firefox, on the X display.
// scripts/test.sh installs chromium, firefox-esr and puppeteer-core (into
// the build folder, no browser).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFile, execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [EXPORT, RENDER, SAMPLES, PUPPETEER] = process.argv.slice(2, 6).map((name) => path.resolve(name));
const MODE = process.argv[6] || '';
// Whether the part is run (with no mode, both parts are).
const part = (name) => MODE === '' || MODE === name;
const { puppeteerIn, launchChromium, settled: drawn } = require('../web/drivers/chromium.js');

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-'));
const file = (name) => path.join(work, name);
let browser;
let failed = false;
// The viewer's definitions, as the export wrote them into the page.
let D;

function run(binary, args) {
  return execFileSync(binary, args, { cwd: work, stdio: ['ignore', 'pipe', 'pipe'] });
}

// The page's data as the export wrote it into work/name: the page's text,
// the data's, and the data.
function pageData(name) {
  const html = fs.readFileSync(file(name), 'utf8');
  const [, json] = /<script id="surface-data" type="application\/json">(.*?)<\/script>/s.exec(html);
  return { html, json, data: JSON.parse(json) };
}

// ---- The camera as the C++ defines it ----

const start = () => ({ angles: D.START_ANGLES.slice(), offset: D.START_OFFSET.slice() });

// The camera moved by a drag, worked out by hand at the viewer's rates: a
// pixel turns a degree (the angles' x by a move down, y by a move right),
// pans 0.01 (the camera against the pointer's x, with its y: y grows
// downward) and goes back 0.05 (a right drag down).
const moved = ({ angles, offset }, { turn = [0, 0], by = [0, 0, 0] }) =>
  ({ angles: [angles[0] + turn[0], angles[1] + turn[1], angles[2]], offset: offset.map((value, k) => value + by[k]) });

// dispdome-render's options for a camera: its tilt and turn are the angles,
// its pan moves the surface (the camera the other way), its distance is z.
const viewOptions = ({ angles, offset }) => ['--tilt', String(angles[0]), '--turn', String(angles[1]),
  '--pan', `${-offset[0]},${-offset[1]}`, '--distance', String(offset[2])];

// dispdome-render's picture work/name.png, drawn with options.
const render = (name, options) => run(RENDER, [...options, `${name}.png`]);

// The page's camera against the expected one, within 1e-5: a drag's
// events each add their share in single precision, which the one sum here
// may round otherwise.
async function expectCamera(page, expected, what) {
  const { cameraAngles: angles, cameraOffset: offset } = await page.evaluate(() => window.dispdome);
  const near = (a, b) => a.length === b.length && a.every((value, k) => Math.abs(value - b[k]) <= 1e-5);
  assert.ok(near(angles, expected.angles) && near(offset, expected.offset),
    `${what}: ${JSON.stringify({ angles, offset })}, not ${JSON.stringify(expected)}`);
}

// ---- The browser ----

const ODD_FOLDER = 'x<!--<script>/y</script>';
const ODD_COLOR = `${ODD_FOLDER}/c.png`;

before(async () => {
  run(SAMPLES, ['texture']);
  // The sample picture is the same mirrored: a red band on its left side
  // tells a mirrored picture apart.
  execFileSync('convert', [file('texture/color.tga'), '-fill', '#d02020', '-draw', 'rectangle 60,0 120,511',
    file('texture/color.png')]);
  fs.rmSync(file('texture/color.tga'));
  run(EXPORT, ['dome.html']);
  D = pageData('dome.html').data.definitions;
  render('first', []);
  if (part('view')) {
    run(EXPORT, ['--normals', 'viewer', 'dome.ply']);
    // A colour file whose name would end or upset the page's data element.
    fs.mkdirSync(file(ODD_FOLDER), { recursive: true });
    fs.copyFileSync(file('texture/color.png'), file(ODD_COLOR));
    run(EXPORT, ['--color', ODD_COLOR, 'named.html']);
  }
  if (MODE !== 'firefox') browser = await launchChromium(PUPPETEER, { profileParent: work });
  // The images part alone starts from the samples' page as the view part
  // leaves it: at a relief of 3, with the heights larger than the grid made.
  if (MODE === 'images') {
    heightsLargerThanTheGrid();
    dome = await open('dome.html');
    await type(dome, '#relief', '3', 'change');
    await settled(dome);
  }
});

after(async () => {
  if (browser) await browser.close();
  if (failed) console.log(`pictures kept in ${work}`);
  else fs.rmSync(work, { recursive: true, force: true });
});

// Opens a page of work/ with every request but the page itself refused and
// recorded, and every console error and page error recorded; waits for its
// first full frame (or its message), or only until the page is evaluated
// (until: 'ready') or its text is there ('text').
async function open(name, { prepare = null, viewport = null, until = 'drawn', from = browser } = {}) {
  const page = await from.newPage();
  if (viewport) await page.setViewport({ width: 1000, height: 1000, deviceScaleFactor: 1, ...viewport });
  const url = `file://${file(name)}`;
  Object.assign(page, { outside: [], errors: [] });
  await page.setRequestInterception(true);
  page.on('request', (request) => {
    if (request.url() === url) return request.continue();
    page.outside.push(request.url());
    return request.abort();
  });
  page.on('console', (message) => message.type() === 'error' && page.errors.push(message.text()));
  page.on('pageerror', (error) => page.errors.push(error.message));
  page.broken = new Promise((resolve) => page.once('pageerror', resolve));
  for (const script of [prepare || []].flat()) await page.evaluateOnNewDocument(script);
  // A page that does not open is closed, so that the next check's tab is
  // the one in front, which the browser draws.
  await page.goto(url, { waitUntil: until === 'text' ? 'domcontentloaded' : 'load' }).catch(async (error) => {
    await page.close();
    throw error;
  });
  if (until === 'drawn') await settled(page);
  if (until === 'ready') await page.waitForFunction(() => window.dispdome.ready || window.dispdome.failed, { polling: 20 });
  return page;
}

// Runs check on a page of its own, closed afterwards whatever happens.
async function withPage(name, options, check) {
  const page = await open(name, options);
  await check(page).finally(() => page.close());
}

// Until no frame is pending and the last one was full (or the page failed).
async function settled(page) {
  // A loaded page whose script never ran, or stopped on an error, draws
  // nothing more: no use waiting for it.
  const fail = (error) => { throw new Error(`the page stopped: ${error.message}`); };
  const broken = (page.broken || new Promise(() => {})).then(fail);
  await Promise.race([drawn(page), broken]);
  assert.ok(await page.evaluate(() => window.dispdome !== undefined), 'the page\'s script did not run');
  return page.evaluate(() => ({ ...window.dispdome }));
}

function pixels(png) {
  return execFileSync('convert', ['png:-', '-depth', '8', 'rgb:-'], { input: png, maxBuffer: 1 << 26 });
}

// The canvas as the browser shows it, against dispdome-render's picture: at
// least 99.8% of the pixels within 2 levels in every channel.
async function expectPicture(page, name) {
  await settled(page);
  expectSame(await (await page.$('#view')).screenshot({ type: 'png' }), name);
}

function expectSame(shown, name) {
  const [a, b] = [pixels(shown), pixels(fs.readFileSync(file(`${name}.png`)))];
  assert.equal(a.length, b.length, `${name}: the picture's size differs`);
  let close = 0;
  const apart = (p) => Math.abs(a[p] - b[p]);
  for (let p = 0; p < a.length; p += 3) close += Math.max(apart(p), apart(p + 1), apart(p + 2)) <= 2;
  const share = close / (a.length / 3);
  console.log(`# ${name}: ${(100 * share).toFixed(3)}% of the pixels within 2 levels`);
  failed ||= share < 0.998;
  if (share < 0.998) fs.writeFileSync(file(`page-${name}.png`), shown);
  assert.ok(share >= 0.998, `${name}: ${(100 * share).toFixed(3)}% of the pixels within 2 levels of ${name}.png`);
}

// The positions of a binary little-endian PLY of x y z nx ny nz s t floats.
function plyPositions(name) {
  const bytes = fs.readFileSync(file(name));
  const end = bytes.indexOf('end_header\n') + 'end_header\n'.length;
  const header = bytes.subarray(0, end).toString();
  assert.match(header, /property float x\nproperty float y\nproperty float z\nproperty float nx\nproperty float ny\nproperty float nz\nproperty float s\nproperty float t\n/);
  const count = Number(/element vertex (\d+)/.exec(header)[1]);
  const data = new DataView(bytes.buffer, bytes.byteOffset + end, count * 32);
  return Float32Array.from({ length: count * 3 }, (_, n) => data.getFloat32(32 * Math.floor(n / 3) + 4 * (n % 3), true));
}

// The page's positions, evaluated by the program's C++ in the browser, are
// the PLY's bit for bit: a build of the module that differs (its flags, a
// contracted float) shows here.
async function expectPositions(page, ply) {
  const bytes = Buffer.from(await page.evaluate(() => window.dispdome.positions()), 'base64');
  const shown = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
  const expected = plyPositions(ply);
  assert.equal(shown.length, expected.length);
  const differ = expected.filter((value, k) => shown[k] !== value).length;
  const worst = expected.reduce((most, value, k) => Math.max(most, Math.abs(shown[k] - value)), 0);
  assert.ok(differ === 0, `${differ} coordinates differ from ${ply}'s, by up to ${worst}`);
}

const centre = async (page, selector = '#view') => {
  const box = await (await page.$(selector)).boundingBox();
  return [box.x + box.width / 2, box.y + box.height / 2];
};

const pause = (ms) => new Promise((resolve) => setTimeout(resolve, ms));

// A field's value as if typed (or, with 'change', entered).
const type = (page, selector, value, event = 'input') => page.$eval(selector, (input, text, kind) => {
  input.value = text;
  input.dispatchEvent(new Event(kind));
}, value, event);

// A mouse drag on the canvas from its centre by (dx, dy) in four steps, with
// a button and modifier keys, as a user's; before the release, during.
async function drag(page, dx, dy, { button = 'left', keys = [], during = null } = {}) {
  const [x, y] = await centre(page);
  for (const key of keys) await page.keyboard.down(key);
  await page.mouse.move(x, y);
  await page.mouse.down({ button });
  for (let step = 1; step <= 4; ++step) {
    await page.mouse.move(x + (dx * step) / 4, y + (dy * step) / 4);
    await pause(50);
  }
  if (during) await during();
  await page.mouse.up({ button });
  for (const key of keys) await page.keyboard.up(key);
}

// Fingers from the canvas's centre: each [x, y] start and the move; in steps.
async function touch(page, fingers) {
  const [x, y] = await centre(page);
  const handles = [];
  for (const [[x0, y0]] of fingers) handles.push(await page.touchscreen.touchStart(x + x0, y + y0));
  for (let step = 1; step <= 4; ++step)
    for (const [k, [[x0, y0], [dx, dy]]] of fingers.entries())
      await handles[k].move(x + x0 + (dx * step) / 4, y + y0 + (dy * step) / 4);
  for (const handle of handles) await handle.end();
}

// Counts the page's pixel reads, which stall a GPU.
const countReads = () => {
  const read = WebGL2RenderingContext.prototype.readPixels;
  WebGL2RenderingContext.prototype.readPixels = function (...rest) {
    window.reads = (window.reads || 0) + 1;
    return read.apply(this, rest);
  };
};

// The drags of the page's test, and of the moved start's, and their moves:
// a turn of 120 degrees with a tilt of 30 (from there the dome's top stands
// in front of its far slope, which only the depth test hides), then a pan
// and a zoom.
const TURN = [120, 30];
const TURNED = { turn: [30, 120] };
const PAN = [30, -20];
const PANNED = { by: [-0.3, -0.2, 0] };
const ZOOM = [0, 40];
const ZOOMED = { by: [0, 0, 2] };

// The three drags from camera, the camera checked after each; during the
// first before its release, then afterTurn.
async function dragAround(page, camera, { during = null, afterTurn = async () => {} } = {}) {
  for (const [move, change, how, what] of [[TURN, TURNED, { during }, 'left'], [PAN, PANNED, { keys: ['Control'] }, 'Ctrl'],
    [ZOOM, ZOOMED, { button: 'right' }, 'right']]) {
    await drag(page, ...move, how);
    camera = moved(camera, change);
    await expectCamera(page, camera, `after a ${what} drag`);
    if (move === TURN) await afterTurn(camera);
  }
  return camera;
}

if (MODE === 'moved') {
  test('moved in the C++ alone, the start moves the page and dispdome-render alike', async () => {
    const page = await open('dome.html');
    await expectPicture(page, 'first');
    render('dragged', viewOptions(await dragAround(page, start())));
    await expectPicture(page, 'dragged');
  });
}

if (MODE === 'firefox') {
  // Firefox draws with Mesa's GL on the X display; headless, it offers no
  // WebGL2 here.
  test('it opens in Firefox too, asking for nothing outside itself', async () => {
    const other = await puppeteerIn(PUPPETEER).launch({ browser: 'firefox', executablePath: '/usr/bin/firefox-esr',
      headless: false, userDataDir: fs.mkdtempSync(path.join(work, 'firefox-')),
      defaultViewport: { width: 1000, height: 1000 } });
    try {
      const page = await open('dome.html', { from: other });
      await expectPicture(page, 'first');
      assert.deepEqual(page.outside, []);
    } finally {
      await other.close();
    }
  });
}

// ---- Saves, which both parts check ----

// Saves with a button (and a mesh format) into work/saved, emptied first;
// gives the names the page downloaded, once all are there.
async function save(page, button, format = null) {
  fs.rmSync(file('saved'), { recursive: true, force: true });
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: file('saved') });
  if (format) await page.select('#mesh-format', format);
  await page.click(button);
  await page.waitForFunction(() => window.dispdome.saved.length || window.dispdome.saveLine, { polling: 50 });
  const { saved, saveLine } = await page.evaluate(() => window.dispdome);
  assert.equal(saveLine, '');
  for (const name of saved) while (!fs.existsSync(file(`saved/${name}`))) await pause(50);
  return saved;
}

// The files the page saved are dispdome-export's with options, to the byte.
function expectExported(names, options) {
  run(EXPORT, [...options, names.find((name) => name !== 'dome.png')]);
  for (const name of names) assert.ok(fs.readFileSync(file(`saved/${name}`)).equals(fs.readFileSync(file(name))), name);
}

// The samples' page, which each part's checks move on from.
let dome;

// Heights in red that need all 16 bits (a cut to 8 loses more than 1e-5),
// in an image larger than the grid both ways, so that a page carries them
// averaged down; green and blue hold other heights, so that a page baked
// from another channel shows (work/heights16.png); and the export's PLY of
// them at a relief of 3 (relief16.ply).
function heightsLargerThanTheGrid() {
  execFileSync('convert', ['-size', '1500x1300', 'radial-gradient:white-black', '(', '-size', '1500x1300',
    'gradient:black-white', ')', '(', '-size', '1300x1500', 'gradient:white-black', '-rotate', '90', ')', '-combine',
    '-depth', '16', '-define', 'png:bit-depth=16', '-define', 'png:color-type=2', file('heights16.png')]);
  run(EXPORT, ['--displacement', 'heights16.png', '--relief', '3', '--normals', 'viewer', 'relief16.ply']);
}

if (part('view')) {
  test('from its first paint it says what it does, then draws dispdome-render\'s picture, asks for nothing, and is at most 0.9 MB', async () => {
    assert.ok(fs.statSync(file('dome.html')).size <= 900000, `${fs.statSync(file('dome.html')).size} bytes`);
    // The module started late, as on a slow machine: the picture's place
    // says what the page is doing meanwhile.
    const slowStart = () => {
      const instantiate = WebAssembly.instantiate;
      WebAssembly.instantiate = (...rest) => new Promise((go) => setTimeout(go, 1500)).then(() => instantiate(...rest));
    };
    // The first indices of each strip list the page gives GL.
    const recordIndices = () => {
      const bufferData = WebGL2RenderingContext.prototype.bufferData;
      WebGL2RenderingContext.prototype.bufferData = function (target, data, ...rest) {
        if (target === this.ELEMENT_ARRAY_BUFFER) (window.indices ||= []).push([...data.subarray(0, 4)]);
        return bufferData.call(this, target, data, ...rest);
      };
    };
    dome = await open('dome.html', { prepare: [slowStart, countReads, recordIndices], until: 'text' });
    const shown = pixels(await (await dome.$('#stage')).screenshot());
    const dark = shown.filter((level) => level < 128).length / shown.length;
    assert.ok(dark > 0 && dark < 0.1, `${(100 * dark).toFixed(2)}% of the place is dark: no words, or a dark square`);
    const state = await settled(dome);
    assert.equal(state.failed, '');
    // Each column's sample on the strip's first row, then on its next (1025
    // samples a row): every sample, and every fourth for the coarse grid.
    assert.deepEqual(await dome.evaluate(() => window.indices), [[0, 1025, 1, 1026], [0, 4100, 4, 4104]]);
    const refused = await dome.evaluate(() => new Promise((resolve) => {
      document.addEventListener('securitypolicyviolation', (event) => resolve(event.effectiveDirective));
      fetch('https://example.org/').catch(() => {});
    }));
    assert.equal(refused, 'connect-src');
    assert.deepEqual(dome.outside, []);
    assert.ok(dome.errors.splice(0).every((error) => /Content Security Policy/.test(error)));
    await expectPicture(dome, 'first');
    await expectPositions(dome, 'dome.ply');
    // Saved, the samples' mesh and page are dispdome-export's.
    expectExported(await save(dome, '#save-mesh', 'glb'),
      ['--color', 'texture/color.png', '--displacement', 'texture/displace.tga', '--normals', 'viewer']);
    await save(dome, '#save-page');
    assert.ok(fs.readFileSync(file('saved/dome.html')).equals(fs.readFileSync(file('dome.html'))), 'the page saved again');
  });

  test('mouse drags turn, pan and zoom as the viewer\'s; the saved picture is the full frame, also during a drag', async () => {
    // The drag draws the coarse grid, as a full frame takes long here; the
    // release the full one.
    await dome.evaluate(() => (window.dispdome.slowFrameMs = 0));
    const before = (await settled(dome)).coarseFrames;
    const session = await browser.target().createCDPSession();
    await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: file('saved') });
    const save = async () => {
      await dome.waitForFunction(() => window.dispdome.lastFrame === 'coarse' && !window.dispdome.pending);
      await dome.evaluate(() => document.getElementById('save').click());
      // It appears under its name once complete.
      for (let wait = 0; wait < 20000 && !fs.existsSync(file('saved/dome.png')); wait += 50) await pause(50);
    };
    const prevented = dome.evaluate(() =>
      new Promise((resolve) => window.addEventListener('contextmenu', (event) => resolve(event.defaultPrevented))));
    // The turn shows what the depth test hides: its picture, saved during
    // the drag, is the full frame shown after the release, to the pixel.
    const afterTurn = async (turned) => {
      const state = await settled(dome);
      assert.ok(state.coarseFrames > before, 'no coarse frame while dragging');
      assert.equal(state.lastFrame, 'full');
      const saved = fs.readFileSync(file('saved/dome.png'));
      render('hiding', viewOptions(turned));
      expectSame(saved, 'hiding');
      assert.ok(pixels(saved).equals(pixels(await (await dome.$('#view')).screenshot())), 'the saved picture is not the full frame');
    };
    render('dragged', viewOptions(await dragAround(dome, start(), { during: save, afterTurn })));
    assert.equal(await prevented, true, 'the context menu opens over the canvas');
    await expectPicture(dome, 'dragged');
    assert.deepEqual(dome.outside, []);
    assert.deepEqual(dome.errors, []);
  });

  test('the button, keys, the wheel, a double click and Home move the camera as drags do, and back', async () => {
    await dome.click('#reset');
    await expectCamera(dome, start(), 'after "Start view"');
    const step = Number(await dome.$eval('[data-value=STEP_PIXELS]', (element) => element.textContent));
    assert.equal(step, D.STEP_PIXELS);
    // A press on the picture takes the focus from a number field.
    await dome.click('#light-x');
    const [x, y] = await centre(dome);
    await dome.mouse.click(x, y);
    assert.equal(await dome.evaluate(() => document.activeElement.id), 'view');
    // A press each: a step of the drag it stands for (a pan with Shift held).
    // (Steps of 10 pixels.)
    let camera = start();
    for (const [key, change, shift] of [['ArrowDown', { turn: [10, 0] }], ['ArrowRight', { turn: [0, 10] }],
      ['ArrowRight', { by: [-0.1, 0, 0] }, true], ['ArrowUp', { by: [0, -0.1, 0] }, true], ['-', { by: [0, 0, 0.5] }],
      ['-', { by: [0, 0, 0.5] }], ['+', { by: [0, 0, -0.5] }]]) {
      if (shift) await dome.keyboard.down('Shift');
      await dome.keyboard.press(key);
      if (shift) await dome.keyboard.up('Shift');
      camera = moved(camera, change);
      await expectCamera(dome, camera, `after ${shift ? 'Shift + ' : ''}${key}`);
    }
    await dome.keyboard.press('Home');
    await expectCamera(dome, start(), 'after Home');
    await dome.mouse.wheel({ deltaY: 100 });
    await expectCamera(dome, moved(start(), { by: [0, 0, 0.5] }), 'after a notch of the wheel');
    await dome.mouse.click(x, y, { count: 2 });
    await expectCamera(dome, start(), 'after a double click');
    const [reads, frames] = await dome.evaluate(() => [window.reads || 0, window.dispdome.frames]);
    assert.ok(reads <= 3 && frames > 10, `${reads} pixel reads in ${frames} frames`);
  });

  test('one finger turns, two move together to pan and pinch to zoom', async () => {
    // A full turn, which stays (past it, an angle becomes 0).
    await touch(dome, [[[0, 0], [360, 30]]]);
    const turned = moved(start(), { turn: [30, 360] });
    await expectCamera(dome, turned, 'after a finger\'s drag');
    await touch(dome, [[[-20, 0], PAN], [[20, 0], PAN]]);
    const panned = moved(turned, PANNED);
    await expectCamera(dome, panned, 'after two fingers moved together');
    // From 80 pixels apart to 40: back by 40 pixels of a right drag.
    await touch(dome, [[[-40, 0], [20, 0]], [[40, 0], [-20, 0]]]);
    await expectCamera(dome, moved(panned, ZOOMED), 'after a pinch');
    await dome.keyboard.press('Home');
    assert.deepEqual(dome.errors, []);
  });

  test('the displaced normals, said while they take long, and a side light are dispdome-render\'s', async () => {
    const told = dome.waitForFunction(() => !progress.hidden && progress.offsetHeight && /normals/.test(progress.textContent),
      { polling: 'mutation' });
    await dome.select('#normals', 'displaced');
    await told;
    for (const [id, value] of [['x', '-10'], ['y', '2'], ['z', '-8']]) await type(dome, `#light-${id}`, value);
    render('side', ['--normals', 'displaced', '--light', '-10,2,-8']);
    await expectPicture(dome, 'side');
    // The light fields refuse what dispdome-render --light refuses, and say so.
    assert.throws(() => run(RENDER, ['--light', '1e40,0,10', 'refused.png']));
    await type(dome, '#light-x', '1e40');
    assert.match(await dome.$eval('#light-note', (note) => note.offsetHeight > 0 && note.textContent), /x must be/);
    assert.deepEqual((await dome.evaluate(() => window.dispdome)).lightPosition, [-10, 2, -8]);
    await dome.click('#light-reset');
    await dome.select('#normals', 'viewer');
  });

  test('at a device pixel ratio of 2 the drawing buffer has a pixel for each of the screen\'s', async () => {
    // A browser's zoom changes the ratio and the window's size.
    await dome.setViewport({ width: 1001, height: 1000, deviceScaleFactor: 2 });
    await dome.waitForFunction(() => document.getElementById('view').width === 1400);
    render('sharp', ['--size', '1400x1400']);
    await expectPicture(dome, 'sharp');
  });

  test('filling a 900 x 600 window, it reshapes as the viewer, the controls in view, and the wheel scrolls no page', async () => {
    await dome.setViewport({ width: 900, height: 600, deviceScaleFactor: 1 });
    // Without the words below it, the filled page has no scrollbar.
    await dome.$eval('#help', (help) => (help.hidden = true));
    await dome.click('#fill');
    await settled(dome);
    // The window less the page's margins of 8 pixels and the controls.
    const [width, height] = await dome.$eval('#view', (canvas) => [canvas.width, canvas.height]);
    assert.equal(width, 884);
    assert.ok(await dome.evaluate(() => document.documentElement.scrollHeight <= window.innerHeight), 'the filled page scrolls');
    await dome.$eval('#help', (help) => (help.hidden = false));
    // With the viewer's normals and light again.
    render('wide', ['--size', `${width}x${height}`]);
    await expectPicture(dome, 'wide');
    // The page, made taller than the window, scrolls under the wheel beside
    // the picture, not over it.
    await dome.evaluate(() => (document.body.style.minHeight = '300vh') && window.scrollTo(0, 0));
    const [x, y] = await centre(dome);
    await dome.mouse.move(x, y);
    await dome.mouse.wheel({ deltaY: 100 });
    // The browser scrolls once the page's handler and frame are done.
    await settled(dome);
    await pause(300);
    assert.equal(await dome.evaluate(() => window.scrollY), 0);
    await dome.mouse.move(x, 2 * y);
    await dome.mouse.wheel({ deltaY: 100 });
    await dome.waitForFunction(() => window.scrollY > 0);
    await dome.click('#reset');
    await dome.evaluate(() => (document.body.style.minHeight = '') || window.scrollTo(0, 0));
    await dome.setViewport({ width: 1000, height: 1000, deviceScaleFactor: 1 });
    await dome.click('#fill');
  });

  test('the relief control re-evaluates as dispdome-export --relief and dispdome-render --relief do', async () => {
    run(EXPORT, ['--relief=3', '--normals', 'viewer', 'relief3.ply']);
    await type(dome, '#relief', '3', 'change');
    render('relief3', ['--relief', '3']);
    await expectPicture(dome, 'relief3');
    await expectPositions(dome, 'relief3.ply');
    // Past single precision, as dispdome-render refuses it: a note, and
    // the relief as it was.
    await type(dome, '#relief', '1e40', 'change');
    assert.match(await dome.$eval('#notice', (element) => element.textContent), /"1e40"/);
    assert.equal((await dome.evaluate(() => window.dispdome)).relief, 3);
  });


  test('the heights and relief the export wrote in are evaluated as its PLY: 16-bit RGB larger than the grid, at a relief of 3', async () => {
    heightsLargerThanTheGrid();
    const red = execFileSync('convert', [file('heights16.png'), '-channel', 'R', '-separate', '-depth', '16', 'gray:-'], { maxBuffer: 1 << 24 });
    assert.ok(new Uint16Array(red.buffer, red.byteOffset, red.length / 2).some((v) => v % 257), 'the heights are not really 16-bit');
    run(EXPORT, ['--displacement', 'heights16.png', '--relief', '3', 'relief16.html']);
    await withPage('relief16.html', { until: 'ready' }, (page) => expectPositions(page, 'relief16.ply'));
    // And it carries them as the grid samples them, not the image whole,
    // which the module would average down alike: 1025 x 1025 at 16 bits.
    const carried = execFileSync('identify', ['-format', '%w x %h, %z-bit', 'png:-'],
      { input: Buffer.from(pageData('relief16.html').data.heights.bytes, 'base64') });
    assert.equal(carried.toString(), `${D.GRID_STEPS + 1} x ${D.GRID_STEPS + 1}, 16-bit`);
  });

  test('float heights, from an OpenEXR, are carried whole: below 0, above 1 and finer than 16 bits, as its PLY', async () => {
    // Floats below 0 and above 1 down the rows, a wave across them, 500 x
    // 600: not reduced, so every float the page carries is the file's.
    // ImageMagick with floating-point pixels (HDRI) keeps them out of 0..1.
    execFileSync('convert-im6.q16hdri', ['-size', '600x500', 'gradient:white-black', '-rotate', '90', '-set', 'colorspace', 'RGB',
      '-function', 'Sinusoid', '3,0,0.3,0.5', '-evaluate', 'Multiply', '2', '-evaluate', 'Subtract', '40%',
      '-define', 'quantum:format=floating-point', '-depth', '32', '-compress', 'zip', file('float-heights.exr')]);
    const floats = execFileSync('convert-im6.q16hdri', [file('float-heights.exr'), '-define', 'quantum:format=floating-point',
      '-depth', '32', '-endian', 'LSB', 'gray:-'], { maxBuffer: 1 << 24 });
    const values = new Float32Array(floats.buffer, floats.byteOffset, floats.length / 4);
    assert.ok(values.some((v) => v < 0) && values.some((v) => v > 1) && values.some((v) => Math.round(v * 65535) !== v * 65535));
    const options = ['--displacement', 'float-heights.exr', '--relief', '3'];
    run(EXPORT, [...options, 'float.html']);
    run(EXPORT, [...options, '--normals', 'viewer', 'float.ply']);
    await withPage('float.html', { until: 'ready' }, (page) => expectPositions(page, 'float.ply'));
    const heights = pageData('float.html').data.heights;
    const carried = execFileSync('identify', ['-format', '%w x %h, %z-bit %m', 'tiff:-'], { input: Buffer.from(heights.bytes, 'base64') });
    assert.deepEqual([heights.type, carried.toString()], ['tiff', '500 x 600, 32-bit TIFF']);
  });

  test('it draws nothing, saying why on the page, without WebGL2 or a definition, with a broken shader or cut data', async () => {
    const noWebGl2 = () => {
      const getContext = HTMLCanvasElement.prototype.getContext;
      HTMLCanvasElement.prototype.getContext = function (kind, ...rest) {
        return kind === 'webgl2' ? null : getContext.call(this, kind, ...rest);
      };
    };
    const { html, json, data } = pageData('dome.html');
    const without = (name) => html.replace(json, () => JSON.stringify({ ...data, definitions: { ...data.definitions, [name]: undefined } }));
    const half = (text) => text.slice(0, 4 * Math.floor(text.length / 8));
    const broken = [...Object.keys(data.definitions).map((name) => [without(name), name]),
      [html.replace('uniform bool textured;', 'uniform bool textured'), 'draw-fragment does not compile'],
      [html.replace(data.module, half(data.module)), 'module is cut short'],
      [html.replace(data.heights.bytes, half(data.heights.bytes)), 'heights cannot be read: heights.png: bad PNG'],
      [html, 'WebGL2', noWebGl2]];
    for (const [text, reason, prepare] of broken) {
      fs.writeFileSync(file('broken.html'), text);
      await withPage('broken.html', { prepare }, async (page) => {
        assert.ok((await page.$eval('#message', (element) => !element.hidden && element.textContent)).includes(reason), reason);
        assert.equal(await page.evaluate(() => window.dispdome.fullFrames), 0, reason);
      });
    }
  });

  test('a colour image larger than GL takes gets the viewer\'s line and no texture', async () => {
    const smallTextures = () => {
      const getParameter = WebGL2RenderingContext.prototype.getParameter;
      WebGL2RenderingContext.prototype.getParameter = function (name) {
        return name === this.MAX_TEXTURE_SIZE ? 256 : getParameter.call(this, name);
      };
    };
    // Without the viewer's colour image: a line, and no texture.
    fs.renameSync(file('texture/color.png'), file('color.png'));
    render('plain', []);
    fs.renameSync(file('color.png'), file('texture/color.png'));
    await withPage('named.html', { prepare: smallTextures }, async (page) => {
      // With the coarse grid's notice too, each on its own line.
      await page.evaluate(() => (window.dispdome.slowFrameMs = 0));
      await type(page, '#light-x', '0');
      await settled(page);
      const lines = await page.$eval('#notice', (element) => element.innerText.split('\n'));
      const line = `${ODD_COLOR}: 512 x 512 is larger than GL takes as a texture here (256 x 256)`;
      assert.ok(lines.includes(line) && lines.some((text) => text.startsWith('A full frame takes')), lines.join('|'));
      await expectPicture(page, 'plain');
    });
  });

}

if (part('images')) {
  // A JPEG with an EXIF orientation, put first as cameras put it.
  function withOrientation(jpeg, orientation) {
    const tiff = Buffer.from('II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\0\0\0\0\0\0\0\0', 'latin1');
    tiff[18] = orientation;
    const app1 = Buffer.concat([Buffer.from([0xff, 0xe1, 0, 2 + 6 + tiff.length]), Buffer.from('Exif\0\0', 'latin1'), tiff]);
    return Buffer.concat([jpeg.subarray(0, 2), app1, jpeg.subarray(2)]);
  }

  test('a JPEG travels as itself, turned as the viewer turns it', async () => {
    // A photo of 4096 x 4096: the page within 1.4 times its bytes and 0.6 MB.
    execFileSync('convert', ['-size', '4096x4096', 'xc:', '+noise', 'Random', '-blur', '0x3', '-quality', '92',
      file('photo.jpg')]);
    // Turned a quarter by its EXIF orientation, and not square: upright only
    // when the reader's turn is the page's, once.
    execFileSync('convert', [file('texture/color.png'), '-resize', '512x384!', '-quality', '95', file('stored.jpg')]);
    fs.writeFileSync(file('turned.jpg'), withOrientation(fs.readFileSync(file('stored.jpg')), 6));
    for (const name of ['photo', 'turned']) {
      const output = run(EXPORT, ['--color', `${name}.jpg`, `${name}.html`]).toString();
      const size = fs.statSync(file(`${name}.html`)).size;
      assert.match(output, new RegExp(`wrote ${name}.html: a web page of ${size} bytes`));
      render(name, ['--color', `${name}.jpg`]);
      await withPage(`${name}.html`, {}, (page) => expectPicture(page, name));
    }
    const jpeg = fs.statSync(file('photo.jpg')).size;
    assert.ok(fs.statSync(file('photo.html')).size <= 1.4 * jpeg + 600000, `${jpeg} bytes of JPEG`);
    // A pixel wider than 4096, and the export says many a phone draws it untextured.
    execFileSync('convert', ['-size', '4097x8', 'xc:red', file('wide.png')]);
    const wide = spawnSync(EXPORT, ['--color', 'wide.png', 'wide.html'], { cwd: work, encoding: 'utf8' });
    assert.match(wide.stderr, /^wide.png: 4097 x 8 is wider or taller than 4096, the largest texture many phones/);
  });

  // ---- The user's own images, read by the program's C++ in the browser ----

  // Files dropped on the picture (or selector) through the DevTools
  // protocol, as a user's drag from a file manager brings them.
  async function drop(page, names, selector = '#view') {
    const [x, y] = await centre(page, selector);
    const data = { items: [], files: names.map(file), dragOperationsMask: 1 };
    const session = await page.target().createCDPSession();
    for (const type of ['dragEnter', 'dragOver', 'drop']) await session.send('Input.dispatchDragEvent', { type, x, y, data });
    await session.detach();
  }

  // The page once it took colour and heights (picked with its file inputs
  // first, or dropped before): their names (waited for: the browser hands
  // the files over a moment later, and the page may be quiet before), no
  // refusal, and dispdome-render's picture of the same files at the relief
  // kept (3), drawn meanwhile, as the other runs beside ([binary, args]).
  async function expectTaken(name, colour, heights, { picked = false, beside = [] } = {}) {
    for (const [input, image] of picked ? [['#color-file', colour], ['#heights-file', heights]] : [])
      await (await dome.$(input)).uploadFile(file(image));
    const runs = [[RENDER, ['--color', colour, '--displacement', heights, '--relief', '3', `${name}.png`]], ...beside]
      .map(([binary, args]) => new Promise((resolve) => execFile(binary, args, { cwd: work }, resolve)));
    const named = (c, h) => window.dispdome.failed || (window.dispdome.colorName === c && window.dispdome.heightsName === h);
    await dome.waitForFunction(named, { polling: 20, timeout: 120000 }, colour, heights).catch(() => {});
    const state = await settled(dome);
    for (const error of await Promise.all(runs)) assert.ifError(error);
    assert.deepEqual([state.colorName, state.heightsName, state.refusal], [colour, heights, '']);
    await expectPicture(dome, name);
  }

  test('picked files are read as the desktop reads them: a 2048 x 2048 pair averaged down, its mesh saved; a run-length TGA and 16-bit PNG heights', async () => {
    // One drawing: an orange disc on navy, and its heights, a white blurred
    // disc in the same place, off centre (a corner read, or heights laid
    // otherwise than the colour, shows); 8-bit heights, averaged to 16.
    execFileSync('convert', ['-size', '2048x2048', 'xc:navy', '-fill', '#ff8c00', '-draw', 'circle 1434,614 1434,1014', '-depth', '8',
      '-write', file('disc-colour.png'), '+delete', 'xc:black', '(', '-size', '1200x1200', 'radial-gradient:white-black',
      '-sigmoidal-contrast', '12,33%', ')', '-geometry', '+834+14', '-composite', '-colorspace', 'Gray', file('disc-height.png')]);
    const options = ['--color', 'disc-colour.png', '--displacement', 'disc-height.png', '--relief', '3', '--normals', 'viewer'];
    await expectTaken('disc', 'disc-colour.png', 'disc-height.png', { picked: true, beside: [[EXPORT, [...options, 'disc.ply']]] });
    await expectPositions(dome, 'disc.ply');
    expectExported(await save(dome, '#save-mesh', 'glb'), options);
    execFileSync('convert', [file('texture/color.png'), '-flop', '-compress', 'RLE', file('rle.tga')]);
    await expectTaken('picked', 'rle.tga', 'heights16.png', { picked: true });
    // Heights that need all 16 bits (see above), so a cut to 8 shows; larger
    // than the grid, so the module averages them down first.
    await expectPositions(dome, 'relief16.ply');
  });

  // ---- Saving, by the export's own C++ in the page's module ----
  test('the page saves the mesh and itself as dispdome-export writes them for its images, relief, normals and light', async (t) => {
    await dome.select('#normals', 'displaced');
    // The viewer's normals and light again for the checks after, also when
    // this fails.
    t.after(() => dome.select('#normals', 'viewer').then(() => dome.click('#light-reset')));
    const options = ['--color', 'rle.tga', '--displacement', 'heights16.png', '--relief', '3', '--normals', 'displaced'];
    expectExported(await save(dome, '#save-mesh', 'glb'), options);
    const report = JSON.parse(execFileSync('node', [path.join(__dirname, 'validate_gltf.js'),
      path.join(PUPPETEER, '..', 'gltf-validator'), file('saved/dome.glb')]));
    assert.equal(report.issues.numErrors, 0);
    expectExported(await save(dome, '#save-mesh', 'ply'), options);
    // The page keeps a light moved (the meshes have none).
    for (const [id, value] of [['x', '-10'], ['y', '2'], ['z', '-8']]) await type(dome, `#light-${id}`, value);
    expectExported(await save(dome, '#save-page'), [...options, '--light', '-10,2,-8']);
    fs.renameSync(file('saved/dome.html'), file('saved.html'));
    // A save cancelled downloads nothing.
    fs.rmSync(file('saved'), { recursive: true, force: true });
    await dome.click('#save-mesh');
    await dome.click('#save-cancel');
    await pause(3000);
    assert.match(await dome.$eval('#save-note', (note) => note.textContent), /not saved: cancelled/);
    assert.ok(!fs.existsSync(file('saved')));
  });

  test('a saved page draws dispdome-render\'s picture, asks for nothing, and saves itself again the same', async () => {
    await withPage('saved.html', {}, async (page) => {
      render('saved', ['--color', 'rle.tga', '--displacement', 'heights16.png', '--relief', '3', '--normals', 'displaced',
        '--light', '-10,2,-8']);
      await expectPicture(page, 'saved');
      assert.deepEqual(page.outside, []);
      await save(page, '#save-page');
      assert.ok(fs.readFileSync(file('saved/dome.html')).equals(fs.readFileSync(file('saved.html'))));
    });
  });

  test('a save that runs out of memory saves nothing, says so in one line, and the picture stays', async () => {
    // A browser that gives the export's worker no more memory than it starts with.
    const noMemory = () => {
      const Whole = window.Blob;
      window.Blob = function Blob(parts, options) {
        const stop = 'WebAssembly.Memory.prototype.grow = () => { throw new RangeError("no memory here"); };\n';
        return new Whole(options && options.type === 'text/javascript' ? [stop, ...parts] : parts, options);
      };
    };
    await withPage('dome.html', { prepare: noMemory }, async (page) => {
      const frames = (await settled(page)).fullFrames;
      fs.rmSync(file('saved'), { recursive: true, force: true });
      await page.click('#save-mesh');
      await page.waitForFunction(() => window.dispdome.saveLine, { polling: 50 });
      const state = await page.evaluate(() => window.dispdome);
      assert.match(state.saveLine, /^dome\.glb was not saved: this browser gives the page too little memory for the surface \([^\n]*\)\.$/);
      assert.deepEqual([state.saved, state.fullFrames, fs.existsSync(file('saved'))], [[], frames, false]);
    });
  });

  test('a file the desktop refuses gets its line, hostile names as text, and the picture stays', async () => {
    fs.writeFileSync(file('cut-height.png'), fs.readFileSync(file('heights16.png')).subarray(0, 4000));
    // A GIF the browser would show, under a PNG's name, and a HEIC.
    execFileSync('convert', [file('texture/color.png'), `gif:${file('colour.png')}`]);
    execFileSync('convert', [file('texture/color.png'), file('map-height.heic')]);
    // 16000 x 16000 claimed by 18 bytes and a pixel.
    fs.writeFileSync(file('claim.tga'), Buffer.from([0, 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x3e, 0x80, 0x3e, 32, 8, 1, 2, 3, 4]));
    const hostile = '<img src=x onerror="window.hit=1">.jpg';
    fs.writeFileSync(file(hostile), '');
    // (A screenshot may resize the page, and so draw a frame.)
    const shown = await (await dome.$('#view')).screenshot();
    const before = await settled(dome);
    for (const [name, kind] of [['cut-height.png', 'heights'], ['colour.png', 'color'], ['map-height.heic', 'heights'], ['claim.tga', 'heights'],
      [hostile, 'color']]) {
      const option = kind === 'color' ? '--color' : '--displacement';
      const expected = spawnSync(RENDER, [option, name, 'refused.png'], { cwd: work, encoding: 'utf8' }).stderr.trim();
      // The last one's name says nothing: dropped on the picture, the page
      // asks which image it is.
      await drop(dome, [name], name === hostile ? '#view' : `#${kind}-target`);
      if (name === hostile) await dome.waitForSelector('#ask:not([hidden])').then(() => dome.click('#ask button'));
      // The line waited for, not a quiet moment, which may come before the
      // drop is taken.
      const told = (line) => window.dispdome.refusal === line && !window.dispdome.pending;
      await dome.waitForFunction(told, { polling: 20, timeout: 30000 }, expected).catch(() => {});
      assert.equal(await dome.$eval('#refusal', (element) => element.textContent), expected, name);
    }
    const after = await dome.evaluate(() => ({ ...window.dispdome, hit: window.hit, images: document.querySelectorAll('#images img').length }));
    // The same images, no markup made, and no frame drawn again.
    assert.deepEqual([after.colorName, after.heightsName, after.hit, after.images, after.fullFrames],
      [before.colorName, before.heightsName, undefined, 0, before.fullFrames]);
    assert.ok(pixels(shown).equals(pixels(await (await dome.$('#view')).screenshot())), 'the picture changed');
  });

  test('a WebP, a 16-bit tiled TIFF turned by its Orientation tag and half-float OpenEXR heights are read as the desktop reads them', async () => {
    execFileSync('convert', [file('texture/color.png'), '-quality', '80', file('colour.webp')]);
    execFileSync('convert', ['-size', '300x400', 'radial-gradient:white-black', '-depth', '16', '-orient', 'RightTop',
      '-compress', 'lzw', '-define', 'tiff:tile-geometry=64x64', file('turned-height.tif')]);
    execFileSync('convert', ['-size', '400x300', 'gradient:white-black', '-evaluate', 'Multiply', '1.5', '-depth', '16',
      '-compress', 'piz', file('half-height.exr')]);
    await drop(dome, ['turned-height.tif', 'colour.webp']);
    await expectTaken('webp-tiff', 'colour.webp', 'turned-height.tif');
    await expectTaken('webp-exr', 'colour.webp', 'half-height.exr', { picked: true });
  });

  test('two files dropped at once are told apart by their names: an EXIF-turned JPEG and 8-bit grey heights', async () => {
    fs.writeFileSync(file('turned-colour.jpg'), withOrientation(fs.readFileSync(file('stored.jpg')), 6));
    execFileSync('convert', ['-size', '512x512', 'radial-gradient:white-black', '-colorspace', 'Gray', '-depth', '8',
      file('grey-height.png')]);
    // Heights first: taken in order, they would be the colour.
    await drop(dome, ['grey-height.png', 'turned-colour.jpg']);
    await expectTaken('dropped', 'turned-colour.jpg', 'grey-height.png');
    await dome.close();
  });
}
