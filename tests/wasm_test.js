'use strict';
// The WebAssembly module (scripts/build-wasm.sh) against the desktop: the
// same files give the same size, pixels, 16-bit heights and orientation, and
// a damaged file the same line. dispdome-export shows the desktop's side
// without GL: the colour image it writes beside a PLY holds the pixels it
// read, the PLY the surface the heights displace, its standard error the
// reader's line. Run by hand after the script:
//     node tests/wasm_test.js build-wasm/dispdome-module.js build/dispdome-export
const { test, before, after } = require('node:test');
const assert = require('node:assert/strict');
const { execFileSync, spawnSync } = require('node:child_process');
const [fs, os, path] = ['fs', 'os', 'path'].map((name) => require(`node:${name}`));

const [MODULE, EXPORT] = process.argv.slice(2, 4).map((name) => path.resolve(name));
const work = fs.mkdtempSync(path.join(os.tmpdir(), 'wasm-test-'));
const file = (name) => path.join(work, name);
const convert = (...args) => execFileSync('convert', args, { cwd: work });
const { readImage, surfacePositions } = require('../web/module_calls.js');
let M;
// The module's reading of work/name.
const decode = (name, wantRed16) => readImage(M, name, fs.readFileSync(file(name)), wantRed16);

// The desktop's export with colour image name: its status and standard error.
const exported = (name) => spawnSync(EXPORT, ['--displacement', 'grey16.png', '--color', name, 'out.ply'], { cwd: work });

before(async () => {
  // Node's fetch takes no file path: the module is given its bytes.
  M = await require(MODULE)({ wasmBinary: fs.readFileSync(MODULE.replace(/\.js$/, '.wasm')) });
  convert('-size', '37x23', 'gradient:red-blue', '-compress', 'RLE', 'run.tga');
  convert('-size', '40x30', 'plasma:fractal', '-colors', '16', 'PNG8:palette.png');
  convert('-size', '512x512', 'gradient:black-white', '-depth', '16', '-evaluate', 'add', '3', '-type', 'Grayscale', 'grey16.png');
  convert('-size', '48x32', 'plasma:fractal', '-quality', '80', 'plain.jpg');
  // EXIF orientation 6 after the start of image, as tests/support.h's withOrientation.
  const jpeg = fs.readFileSync(file('plain.jpg')), palette = fs.readFileSync(file('palette.png'));
  const app1 = Buffer.from('ffe1002245786966000049492a0008000000010012010300010000000600000000000000', 'hex');
  fs.writeFileSync(file('turned.jpg'), Buffer.concat([jpeg.subarray(0, 2), app1, jpeg.subarray(2)]));
  fs.writeFileSync(file('cut.png'), palette.subarray(0, palette.length >> 1));
  fs.writeFileSync(file('empty.png'), Buffer.alloc(0));
});

after(() => fs.rmSync(work, { recursive: true, force: true }));

// A damaged file (no orientation here) is refused with the desktop's line.
for (const [name, orientation] of [['run.tga', 1], ['palette.png', 1], ['turned.jpg', 6], ['grey16.png', 1], ['cut.png'], ['empty.png']])
  test(name, () => {
    const image = decode(name, false), desktop = exported(name);
    if (!orientation)
      return assert.deepEqual([image.pixels, image.refusal, desktop.status], [null, desktop.stderr.toString().trimEnd(), 1]);
    // The export writes the rows, kept bottom first, top first and without alpha.
    const size = convert('out.png', '-format', '%w %h', 'info:').toString(), rgb = convert('out.png', '-flip', '-depth', '8', 'rgb:-');
    assert.deepEqual([`${image.width} ${image.height}`, image.orientation, image.refusal, desktop.status], [size, orientation, '', 0]);
    assert.ok(rgb.equals(Buffer.from(image.pixels.filter((_, k) => k % 4 !== 3))));
  });

// out.ply: the last export's, displaced by grey16.png as every export here.
test('grey16.png: its 16-bit heights displace the surface as on the desktop', () => {
  const image = decode('grey16.png', true), positions = surfacePositions(M, image.handle, 1);
  assert.ok(image.red16.some((value) => value % 257 !== 0), 'more than 8 bits of height');
  const ply = fs.readFileSync(file('out.ply')), start = ply.indexOf('end_header\n') + 11;
  const unlike = positions.filter((value, k) => ply.readFloatLE(start + 32 * Math.floor(k / 3) + 4 * (k % 3)) !== value);
  assert.equal(unlike.length, 0);
});
