'use strict';
// Times the page dispdome-export writes in Debian's headless Chromium (its
// software WebGL2, SwiftShader): from opening the file to the end of the
// first full frame, a full frame, and a coarse frame while dragging. Each
// frame is timed by the page itself, from its first GL call to the end of a
// one-pixel read that waits for it (status.timeEveryFrame). Each run opens a fresh browser; the
// medians come out as lines "name value" (milliseconds).
//     node bench/web_timing.js PAGE.html RUNS FRAMES PUPPETEER_FOLDER
const path = require('node:path');

const [page, folder] = [process.argv[2], process.argv[5]].map((name) => path.resolve(name));
const runs = Number(process.argv[3]);
const frames = Number(process.argv[4]);
const { launchChromium, settled, pressAtCentre } = require('../web/chromium.js');

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const state = (tab) => tab.evaluate(() => ({ ...window.dispdome }));

async function measure() {
  const browser = await launchChromium(folder);
  try {
    const tab = await browser.newPage();
    await tab.goto(`file://${page}`);
    await settled(tab, 300000);
    const first = await state(tab);
    if (first.failed) throw new Error(first.failed);
    // Every frame timed by a read, as the page times only its first ones.
    await tab.evaluate(() => {
      window.dispdome.timeEveryFrame = true;
    });

    // Full frames: each light change asks for one.
    const full = [];
    for (let k = 0; k < frames; ++k) {
      await tab.evaluate(() => document.getElementById('light-z').dispatchEvent(new Event('input')));
      await settled(tab, 300000);
      full.push((await state(tab)).fullFrameMs);
    }

    // Coarse frames: a left drag, each pixel's move waited for.
    const coarse = [];
    const [x, y] = await pressAtCentre(tab);
    for (let k = 1; k <= frames; ++k) {
      const before = (await state(tab)).coarseFrames;
      await tab.mouse.move(x + k, y);
      await tab.waitForFunction((n) => window.dispdome.coarseFrames > n && !window.dispdome.pending, { polling: 5 }, before);
      coarse.push((await state(tab)).coarseFrameMs);
    }
    await tab.mouse.up();
    await settled(tab, 300000);
    return { first: first.firstFrameAt, firstFull: first.fullFrameMs, full: median(full), coarse: median(coarse) };
  } finally {
    await browser.close();
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
