'use strict';
// The web page dispdome-export writes, opened from disk in Debian's headless
// Chromium (software WebGL2, SwiftShader) and driven through the DevTools
// protocol by puppeteer-core: that it asks for nothing outside itself (its
// policy refusing what it tries), that it says what it does from its first
// paint, that its pictures match dispdome-render's for the same view (first,
// after real mouse drags, touches, keys and wheel notches, back at the start,
// with the displaced normals and a side light, filling the window, at a
// device pixel ratio of 2, and as saved), that its evaluated positions are
// the PLY's (8- and 16-bit heights), and what it shows without WebGL2,
// without one of the viewer's definitions in its data, with a broken shader
// or data, or with a colour image larger than GL takes. web_moved_start.sh
// runs it again on programs whose camera start is moved in the C++ alone.
//     node web_test.js EXPORT RENDER SAMPLES PUPPETEER_FOLDER
// scripts/test.sh installs chromium and puppeteer-core (into the build
// folder, downloading no browser).
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [EXPORT, RENDER, SAMPLES, PUPPETEER] = process.argv.slice(2).map((name) => path.resolve(name));
const { puppeteerIn, launchChromium, settled: drawn } = require('../web/chromium.js');

const puppeteer = puppeteerIn(PUPPETEER);

const work = fs.mkdtempSync(path.join(os.tmpdir(), 'web-test-'));
const file = (name) => path.join(work, name);
let browser;
let failed = false;

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

// dispdome-render's options for each view compared, by name.
const VIEWS = {};
const ODD_FOLDER = 'x<!--<script>/y</script>';
const ODD_COLOR = `${ODD_FOLDER}/c.png`;

before(() => {
  run(SAMPLES, ['texture']);
  // The sample picture is the same mirrored: a red band on its left side
  // tells a mirrored picture apart.
  execFileSync('convert', [file('texture/color.tga'), '-fill', '#d02020', '-draw', 'rectangle 60,0 120,511',
    file('texture/color.png')]);
  fs.rmSync(file('texture/color.tga'));
  run(EXPORT, ['dome.html']);
  // The views compared: dispdome-render's options for each. The zoom is a
  // right drag of 40 pixels down from the start, both as the C++ defines.
  const { START_OFFSET, ZOOM_PER_PIXEL } = pageData('dome.html').data.definitions;
  const BACK = ['--distance', String(Math.fround(START_OFFSET[2] + Math.fround(40 * ZOOM_PER_PIXEL)))];
  const TILT = ['--tilt', '40'];
  const PAN = [...TILT, '--pan', '0.3,0.2'];
  const ZOOM = [...PAN, ...BACK];
  run(EXPORT, ['--normals', 'viewer', 'dome.ply']);
  // A colour file whose name would end or upset the page's data element.
  fs.mkdirSync(file(ODD_FOLDER), { recursive: true });
  fs.copyFileSync(file('texture/color.png'), file(ODD_COLOR));
  run(EXPORT, ['--color', ODD_COLOR, 'named.html']);
  // Heights that need all 16 bits (a cut to 8 loses more than 1e-5), wider
  // and taller than the 512 x 512 texels read.
  execFileSync('convert', ['-size', '600x530', 'radial-gradient:white-black', '-depth', '16',
    '-define', 'png:bit-depth=16', '-define', 'png:color-type=0', file('heights16.png')]);
  run(EXPORT, ['--displacement', 'heights16.png', 'relief16.html']);
  run(EXPORT, ['--displacement', 'heights16.png', 'relief16.ply']);
  // 8-bit heights in red, which the displacement reads, under other green and blue.
  execFileSync('convert', ['-size', '512x512', 'gradient:red-blue', file('rgb.png')]);
  run(EXPORT, ['--displacement', 'rgb.png', 'rgb.html']);
  run(EXPORT, ['--displacement', 'rgb.png', 'rgb.ply']);
  Object.assign(VIEWS, {
    first: [], tilt: TILT, pan: PAN, zoom: ZOOM, side: ['--normals', 'displaced', '--light', '-10,2,-8'], back: BACK,
    diagonal: ['--tilt', '40', '--turn', '30'], behind: ['--tilt', '-30', '--turn', '180'],
    sharp: ['--size', '1400x1400'],
  });
  for (const [name, options] of Object.entries(VIEWS)) run(RENDER, [...options, `${name}.png`]);
  // Without the viewer's colour image (a line, and no texture).
  fs.renameSync(file('texture/color.png'), file('color.png'));
  run(RENDER, ['plain.png']);
  fs.renameSync(file('color.png'), file('texture/color.png'));
});

before(async () => {
  browser = await launchChromium(PUPPETEER, { profileParent: work });
});

after(async () => {
  if (browser) await browser.close();
  if (failed) console.log(`pictures kept in ${work}`);
  else fs.rmSync(work, { recursive: true, force: true });
});

// Opens a page of work/ with every request but the page itself refused and
// recorded, and every console error and page error recorded; waits for its
// first full frame (or its message).
async function open(name, prepare, viewport = null, from = browser) {
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
  if (prepare) await page.evaluateOnNewDocument(prepare);
  await page.goto(url);
  await settled(page);
  return page;
}

// Runs check on a page of its own, closed afterwards whatever happens: a
// page left open would take the front from the next.
async function withPage(name, prepare, viewport, check) {
  const page = await open(name, prepare, viewport);
  try {
    await check(page);
  } finally {
    await page.close();
  }
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
  if (share < 0.998) {
    failed = true;
    fs.writeFileSync(file(`page-${name}.png`), shown);
  }
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

async function expectPositions(page, ply) {
  const bytes = Buffer.from(await page.evaluate(() => window.dispdome.positions()), 'base64');
  const shown = new Float32Array(bytes.buffer, bytes.byteOffset, bytes.length / 4);
  const expected = plyPositions(ply);
  assert.equal(shown.length, expected.length);
  let worst = 0;
  for (let k = 0; k < shown.length; ++k) worst = Math.max(worst, Math.abs(shown[k] - expected[k]));
  console.log(`# ${ply}: positions within ${worst}`);
  assert.ok(worst <= 1e-5, `positions differ from ${ply}'s by up to ${worst}`);
}

const centre = async (page) => {
  const box = await (await page.$('#view')).boundingBox();
  return [box.x + box.width / 2, box.y + box.height / 2];
};

// A field's value as if typed (or, with 'change', entered).
const type = (page, selector, value, event = 'input') => page.$eval(selector, (input, text, kind) => {
  input.value = text;
  input.dispatchEvent(new Event(kind));
}, value, event);

// A mouse drag on the canvas from its centre by (dx, dy) in steps, with a
// button and modifier keys, as a user's.
async function drag(page, dx, dy, button = 'left', keys = []) {
  const [x, y] = await centre(page);
  for (const key of keys) await page.keyboard.down(key);
  await page.mouse.move(x, y);
  await page.mouse.down({ button });
  for (let step = 1; step <= 4; ++step) {
    await page.mouse.move(x + (dx * step) / 4, y + (dy * step) / 4);
    await new Promise((resolve) => setTimeout(resolve, 50));
  }
  await page.mouse.up({ button });
  for (const key of keys) await page.keyboard.up(key);
  return settled(page);
}

// Counts the page's pixel reads, which stall a GPU.
const countReads = () => {
  const read = WebGL2RenderingContext.prototype.readPixels;
  WebGL2RenderingContext.prototype.readPixels = function (...rest) {
    window.reads = (window.reads || 0) + 1;
    return read.apply(this, rest);
  };
};

let dome;

test('the page draws what dispdome-render draws, loads nothing outside itself, and is at most 0.25 MB', async () => {
  assert.ok(fs.statSync(file('dome.html')).size <= 250000, `${fs.statSync(file('dome.html')).size} bytes`);
  dome = await open('dome.html', countReads);
  const state = await settled(dome);
  assert.equal(state.failed, '');
  const refused = await dome.evaluate(() => new Promise((resolve) => {
    document.addEventListener('securitypolicyviolation', (event) => resolve(event.effectiveDirective));
    fetch('https://example.org/').catch(() => {});
  }));
  assert.equal(refused, 'connect-src');
  assert.deepEqual(dome.outside, []);
  assert.ok(dome.errors.splice(0).every((error) => /Content Security Policy/.test(error)));
  // Its first frame is dispdome-render's, its positions the PLY's.
  await expectPicture(dome, 'first');
  await expectPositions(dome, 'dome.ply');
});

test('from its first paint the picture\'s place says what the page is doing', async () => {
  const page = await browser.newPage();
  try {
    // The picture decoded 3 s late, as a big photo's is.
    await page.evaluateOnNewDocument(() => {
      const decode = window.createImageBitmap;
      window.createImageBitmap = (...rest) => new Promise((go) => setTimeout(go, 3000)).then(() => decode(...rest));
    });
    await page.goto(`file://${file('dome.html')}`, { waitUntil: 'domcontentloaded' });
    const shown = pixels(await (await page.$('#stage')).screenshot());
    const dark = shown.filter((level) => level < 128).length / shown.length;
    assert.ok(dark > 0 && dark < 0.1, `${(100 * dark).toFixed(2)}% of the place is dark: no words, or a dark square`);
    await settled(page);
    // The displaced normals take long too.
    const told = page.waitForFunction(() => !progress.hidden && progress.offsetHeight && /normals/.test(progress.textContent),
      { polling: 'mutation' });
    await page.select('#normals', 'displaced');
    await told;
    assert.equal((await settled(page)).normals, 'displaced');
  } finally {
    await page.close();
  }
});

test('mouse drags turn, pan and zoom as the viewer\'s', async () => {
  // The drag draws the coarse grid, as a full frame takes long here; the
  // release the full one.
  await dome.evaluate(() => (window.dispdome.slowFrameMs = 0));
  const before = (await settled(dome)).coarseFrames;
  const state = await drag(dome, 0, 40);
  assert.ok(state.coarseFrames > before, 'no coarse frame while dragging');
  assert.equal(state.lastFrame, 'full');
  await expectPicture(dome, 'tilt');
  await drag(dome, 30, -20, 'left', ['Control']);
  await expectPicture(dome, 'pan');
  const prevented = dome.evaluate(() =>
    new Promise((resolve) => window.addEventListener('contextmenu', (event) => resolve(event.defaultPrevented))));
  await drag(dome, 0, 40, 'right');
  assert.equal(await prevented, true, 'the context menu opens over the canvas');
  await expectPicture(dome, 'zoom');
  assert.deepEqual(dome.outside, []);
  assert.deepEqual(dome.errors, []);
});

test('the button, keys, the wheel, a double click and Home move the view as stated and back', async () => {
  // After the drags above: left, Ctrl and right.
  await dome.click('#reset');
  await settled(dome);
  await expectPicture(dome, 'first');
  const step = Number(await dome.$eval('[data-value=STEP_PIXELS]', (element) => element.textContent));
  // A press on the picture takes the focus from a number field.
  await dome.click('#light-x');
  const [x, y] = await centre(dome);
  await dome.mouse.click(x, y);
  assert.equal(await dome.evaluate(() => document.activeElement.id), 'view');
  const press = async (key, pixels) => {
    for (let k = 0; k < pixels / step; ++k) await dome.keyboard.press(key);
    return settled(dome);
  };
  await press('ArrowDown', 40);
  await expectPicture(dome, 'tilt');
  await dome.keyboard.down('Shift');
  await press('ArrowRight', 30);
  await press('ArrowUp', 20);
  await dome.keyboard.up('Shift');
  await expectPicture(dome, 'pan');
  await press('-', 40);
  await expectPicture(dome, 'zoom');
  await press('+', 40);
  await expectPicture(dome, 'pan');
  await press('Home', step);
  await expectPicture(dome, 'first');
  for (let k = 0; k < 40 / step; ++k) await dome.mouse.wheel({ deltaY: 100 });
  await settled(dome);
  await expectPicture(dome, 'back');
  await dome.mouse.click(x, y, { count: 2 });
  await settled(dome);
  await expectPicture(dome, 'first');
  const [reads, frames] = await dome.evaluate(() => [window.reads || 0, window.dispdome.frames]);
  assert.ok(reads <= 3 && frames > 20, `${reads} pixel reads in ${frames} frames`);
});

test('a diagonal drag turns about both axes, and from behind the surface hides itself', async () => {
  await drag(dome, 30, 40);
  await expectPicture(dome, 'diagonal');
  await dome.keyboard.press('Home');
  await drag(dome, 180, -30);
  await expectPicture(dome, 'behind');
  await dome.keyboard.press('Home');
});

test('the saved picture is the full frame at the drawing buffer\'s size, also during a drag', async () => {
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: file('saved') });
  const [x, y] = await centre(dome);
  await dome.mouse.move(x, y);
  await dome.mouse.down();
  await dome.mouse.move(x, y + 40, { steps: 4 });
  await dome.waitForFunction(() => window.dispdome.lastFrame === 'coarse' && !window.dispdome.pending);
  await dome.evaluate(() => document.getElementById('save').click());
  const name = file('saved/dome.png');
  // It appears under its name once complete.
  for (let wait = 0; wait < 20000 && !fs.existsSync(name); wait += 50) await new Promise((go) => setTimeout(go, 50));
  const saved = fs.readFileSync(name);
  expectSame(saved, 'tilt');
  await dome.mouse.up();
  await settled(dome);
  // The full frame, to the pixel, not the coarse one shown while saving.
  assert.ok(pixels(saved).equals(pixels(await (await dome.$('#view')).screenshot())), 'the saved picture is not the full frame');
  await dome.keyboard.press('Home');
});

// Fingers from the canvas's centre: each [x, y] start and the move; in steps.
async function touch(page, fingers) {
  const [x, y] = await centre(page);
  const handles = [];
  for (const [[x0, y0]] of fingers) handles.push(await page.touchscreen.touchStart(x + x0, y + y0));
  for (let step = 1; step <= 4; ++step)
    for (const [k, [[x0, y0], [dx, dy]]] of fingers.entries())
      await handles[k].move(x + x0 + (dx * step) / 4, y + y0 + (dy * step) / 4);
  for (const handle of handles) await handle.end();
  return settled(page);
}

test('one finger turns, two move together to pan and pinch to zoom', async () => {
  await withPage('dome.html', null, { hasTouch: true }, async (page) => {
    await touch(page, [[[0, 0], [0, 40]]]);
    await expectPicture(page, 'tilt');
    await touch(page, [[[-20, 0], [30, -20]], [[20, 0], [30, -20]]]);
    await expectPicture(page, 'pan');
    // From 80 pixels apart to 40: back by 40 pixels of a right drag.
    await touch(page, [[[-40, 0], [20, 0]], [[40, 0], [-20, 0]]]);
    await expectPicture(page, 'zoom');
    assert.deepEqual(page.errors, []);
  });
});

test('the displaced normals and a side light are dispdome-render\'s', async () => {
  // Frames are drawn in the tab in front.
  await dome.bringToFront();
  await dome.select('#normals', 'displaced');
  for (const [id, value] of [['x', '-10'], ['y', '2'], ['z', '-8']]) await type(dome, `#light-${id}`, value);
  await settled(dome);
  await expectPicture(dome, 'side');
  // The light fields refuse what dispdome-render --light refuses, and say so.
  assert.throws(() => run(RENDER, ['--light', '1e40,0,10', 'refused.png']));
  await type(dome, '#light-x', '1e40');
  assert.match(await dome.$eval('#light-note', (note) => note.offsetHeight > 0 && note.textContent), /x must be/);
  assert.deepEqual((await settled(dome)).lightPosition, [-10, 2, -8]);
  await dome.click('#light-reset');
  await dome.select('#normals', 'viewer');
  await settled(dome);
  await expectPicture(dome, 'first');
});

test('filling a 900 x 600 window, it reshapes as the viewer, the controls in view, and the wheel scrolls no page', async () => {
  await dome.setViewport({ width: 900, height: 600, deviceScaleFactor: 1 });
  await dome.click('#fill');
  await settled(dome);
  // The window less the page's margins of 8 pixels and the controls.
  const [width, height] = await dome.$eval('#view', (canvas) => [canvas.width, canvas.height]);
  assert.equal(width, 884);
  assert.ok(await dome.$eval('#controls', (controls) => controls.getBoundingClientRect().bottom <= window.innerHeight));
  run(RENDER, ['--size', `${width}x${height}`, 'wide.png']);
  await expectPicture(dome, 'wide');
  // The page scrolls under the wheel beside the picture, not over it.
  await dome.evaluate(() => window.scrollTo(0, 0));
  const [x, y] = await centre(dome);
  await dome.mouse.move(x, y);
  await dome.mouse.wheel({ deltaY: 100 });
  await new Promise((resolve) => setTimeout(resolve, 500));
  assert.equal(await dome.evaluate(() => window.scrollY), 0);
  await dome.mouse.move(x, 2 * y);
  await dome.mouse.wheel({ deltaY: 100 });
  await dome.waitForFunction(() => window.scrollY > 0);
});

test('at a device pixel ratio of 2 the drawing buffer has a pixel for each of the screen\'s', async () => {
  await withPage('dome.html', null, { deviceScaleFactor: 2 }, async (page) => {
    assert.equal(await page.$eval('#view', (canvas) => canvas.width), 1400);
    await expectPicture(page, 'sharp');
  });
  // A browser's zoom changes the ratio and the window's size.
  await withPage('dome.html', null, null, async (page) => {
    await page.setViewport({ width: 1001, height: 1000, deviceScaleFactor: 2 });
    await page.waitForFunction(() => document.getElementById('view').width === 1400);
  });
});

test('16-bit heights are kept to the last bit', async () => {
  const values = execFileSync('convert', [file('heights16.png'), '-depth', '16', 'gray:-'], { maxBuffer: 1 << 24 });
  const samples = new Uint16Array(values.buffer, values.byteOffset, values.length / 2);
  assert.ok(samples.some((v) => v % 257 !== 0), 'the heights are not really 16-bit');
  await withPage('relief16.html', null, null, (page) => expectPositions(page, 'relief16.ply'));
  await withPage('rgb.html', null, null, (page) => expectPositions(page, 'rgb.ply'));
});

test('the relief scale is dispdome-render\'s and the export\'s, and the page\'s control sets it', async () => {
  run(EXPORT, ['--relief', '3', 'relief3.html']);
  run(EXPORT, ['--relief=3', '--normals', 'viewer', 'relief3.ply']);
  run(RENDER, ['--relief', '3', 'relief3.png']);
  await withPage('relief3.html', null, false, async (page) => {
    await expectPositions(page, 'relief3.ply');
    await expectPicture(page, 'relief3');
    // Past single precision, as dispdome-render refuses it: a note, and
    // the relief as it was.
    await type(page, '#relief', '1e40', 'change');
    assert.match(await page.$eval('#notice', (element) => element.textContent), /"1e40"/);
    await type(page, '#relief', '1', 'change');
    await settled(page);
    await expectPicture(page, 'first');
  });
});

// A JPEG with an EXIF orientation, put first as cameras put it.
function withOrientation(jpeg, orientation) {
  const tiff = Buffer.from('II*\0\x08\0\0\0\x01\0\x12\x01\x03\0\x01\0\0\0\0\0\0\0\0\0\0\0', 'latin1');
  tiff[18] = orientation;
  const app1 = Buffer.concat([Buffer.from([0xff, 0xe1, 0, 2 + 6 + tiff.length]), Buffer.from('Exif\0\0', 'latin1'), tiff]);
  return Buffer.concat([jpeg.subarray(0, 2), app1, jpeg.subarray(2)]);
}

test('a JPEG travels as itself, turned as the viewer turns it', async () => {
  // A photo of 4096 x 4096: the page within 1.4 times its bytes and 0.3 MB.
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
    run(RENDER, ['--color', `${name}.jpg`, `${name}.png`]);
    await withPage(`${name}.html`, null, false, (page) => expectPicture(page, name));
  }
  const jpeg = fs.statSync(file('photo.jpg')).size;
  assert.ok(fs.statSync(file('photo.html')).size <= 1.4 * jpeg + 300000, `${jpeg} bytes of JPEG`);
  // A pixel wider than 4096, and the export says many a phone draws it untextured.
  execFileSync('convert', ['-size', '4097x8', 'xc:red', file('wide.png')]);
  const wide = spawnSync(EXPORT, ['--color', 'wide.png', 'wide.html'], { cwd: work, encoding: 'utf8' });
  assert.match(wide.stderr, /^wide.png: 4097 x 8 is wider or taller than 4096, the largest texture many phones/);
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
  const cut = data.heights.slice(0, 4 * Math.floor(data.heights.length / 8));
  const broken = [...Object.keys(data.definitions).map((name) => [without(name), name]),
    [html.replace('uniform bool textured;', 'uniform bool textured'), 'draw-fragment does not compile'],
    [html.replace(data.heights, cut), 'heights are cut short'], [html, 'WebGL2', noWebGl2]];
  for (const [text, reason, prepare] of broken) {
    fs.writeFileSync(file('broken.html'), text);
    await withPage('broken.html', prepare, null, async (page) => {
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
  await withPage('named.html', smallTextures, null, async (page) => {
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

// Firefox draws with Mesa's GL on the X display (Xvfb in the test script);
// headless, it offers no WebGL2 here.
const firefox = '/usr/bin/firefox-esr';
const noFirefox = !fs.existsSync(firefox) ? `no ${firefox}` : !process.env.DISPLAY ? 'no X display' : false;

test('it opens in Firefox too, asking for nothing outside itself', { skip: noFirefox }, async () => {
  const other = await puppeteer.launch({ browser: 'firefox', executablePath: firefox, headless: false,
    userDataDir: fs.mkdtempSync(path.join(work, 'firefox-')), defaultViewport: { width: 1000, height: 1000 } });
  try {
    const page = await open('dome.html', null, null, other);
    assert.equal((await settled(page)).failed, '');
    await expectPicture(page, 'first');
    assert.deepEqual(page.outside, []);
  } finally {
    await other.close();
  }
});
