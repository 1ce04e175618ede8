'use strict';
// Times the page dispdome-export writes in Debian's headless Chromium (its
// software WebGL2, SwiftShader): from opening the file to the end of the
// first full frame, a full frame, and a coarse frame while dragging. Each
// frame is timed by the page itself, from its first GL call to the end of a
// one-pixel read that waits for it. Each run opens a fresh browser; the
// medians come out as lines "name value" (milliseconds).
//     node bench/web_timing.js PAGE.html RUNS FRAMES PUPPETEER_FOLDER
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [page, folder] = [process.argv[2], process.argv[5]].map((name) => path.resolve(name));
const runs = Number(process.argv[3]);
const frames = Number(process.argv[4]);
const puppeteer = require(path.join(folder, 'node_modules', 'puppeteer-core'));

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const state = (tab) => tab.evaluate(() => ({ ...window.dispdome }));
const settled = (tab) =>
  tab.waitForFunction(() => window.dispdome.failed || (window.dispdome.fullFrames > 0 && !window.dispdome.pending), {
    timeout: 300000,
    polling: 20,
  });

async function measure() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'web-timing-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    defaultViewport: { width: 1000, height: 1000, deviceScaleFactor: 1 },
    args: ['--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync'],
  });
  try {
    const tab = await browser.newPage();
    await tab.goto(`file://${page}`);
    await settled(tab);
    const first = await state(tab);
    if (first.failed) throw new Error(first.failed);

    // Full frames: each light change asks for one.
    const full = [];
    for (let k = 0; k < frames; ++k) {
      await tab.evaluate(() => document.getElementById('light-z').dispatchEvent(new Event('input')));
      await settled(tab);
      full.push((await state(tab)).fullFrameMs);
    }

    // Coarse frames: a left drag, each pixel's move waited for.
    const coarse = [];
    const box = await (await tab.$('#view')).boundingBox();
    const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
    await tab.mouse.move(x, y);
    await tab.mouse.down();
    for (let k = 1; k <= frames; ++k) {
      const before = (await state(tab)).coarseFrames;
      await tab.mouse.move(x + k, y);
      await tab.waitForFunction((n) => window.dispdome.coarseFrames > n && !window.dispdome.pending, { polling: 5 }, before);
      coarse.push((await state(tab)).coarseFrameMs);
    }
    await tab.mouse.up();
    await settled(tab);
    return { first: first.firstFrameAt, firstFull: first.fullFrameMs, full: median(full), coarse: median(coarse) };
  } finally {
    await browser.close();
    fs.rmSync(profile, { recursive: true, force: true });
  }
}

(async () => {
  const results = [];
  for (let run = 0; run < runs; ++run) {
    results.push(await measure());
    console.error(`web_timing: run ${run + 1} of ${runs} done`);
  }
  for (const key of ['first', 'firstFull', 'full', 'coarse'])
    console.log(`${key} ${median(results.map((result) => result[key])).toFixed(1)}`);
})().catch((error) => {
  console.error(`web_timing: ${error.message}`);
  process.exit(1);
});
