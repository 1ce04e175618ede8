'use strict';
// Pictures of the page dispdome-export writes, as a browser shows it:
// opened in Debian's headless Chromium, tilted 40 degrees by a real left drag
// 40 pixels down, lit by the displaced surface's own normals under a light
// from the left (chosen with the page's controls), the whole window saved.
// Given a second picture's name, a colour image and a height image, then
// the same view in a fresh tab with those two images picked through the
// page's file inputs, as a user gives the page their own, saved down to the
// end of the images' controls (the names taken, and where they went).
//     node web/screenshot.js PAGE.html OUTPUT.png PUPPETEER_FOLDER \
//         [DROPPED.png COLOUR_IMAGE HEIGHT_IMAGE]
const path = require('node:path');

const [page, output, folder, dropped, colour, heights] = process.argv.slice(2).map((name) => path.resolve(name));
const { launchChromium, settled, pressAtCentre } = require('./chromium.js');

const WIDTH = 760;

// The page in a new tab of that height, tilted and lit from the left, with
// the controls given (selector and value) typed in too; nothing keeps the
// focus, so that no control shows a caret or a focus ring.
async function tiltedAndLit(browser, height, controls = []) {
  const tab = await browser.newPage();
  await tab.setViewport({ width: WIDTH, height, deviceScaleFactor: 1 });
  await tab.goto(`file://${page}`);
  await settled(tab);
  const [x, y] = await pressAtCentre(tab);
  await tab.mouse.move(x, y + 40, { steps: 4 });
  await tab.mouse.up();
  await tab.select('#normals', 'displaced');
  for (const [id, value] of [['#light-x', '-10'], ['#light-y', '2'], ['#light-z', '-8'], ...controls]) {
    await tab.click(id, { clickCount: 3 });
    await tab.keyboard.type(value);
  }
  await tab.mouse.move(0, 0);
  await unfocus(tab);
  return tab;
}

// Takes the focus off whatever has it (a typed value then counts as
// changed) and waits for the frame after.
async function unfocus(tab) {
  await tab.evaluate(() => document.activeElement && document.activeElement.blur());
  await settled(tab);
}

// The colour and height images picked, once both are drawn in a full frame
// after them; fails with the page's own line when it refused one.
async function pick(tab) {
  const before = await tab.evaluate(() => window.dispdome.fullFrames);
  await (await tab.$('#color-file')).uploadFile(colour);
  await (await tab.$('#heights-file')).uploadFile(heights);
  const names = [path.basename(colour), path.basename(heights)];
  await tab.waitForFunction(
    ([color, height, frames]) => {
      const state = window.dispdome;
      return state.failed || state.refusal ||
        (state.ready && !state.pending && state.colorName === color && state.heightsName === height &&
          state.fullFrames > frames);
    },
    { timeout: 180000, polling: 20 },
    [...names, before],
  );
  await unfocus(tab);
  const { failed, refusal } = await tab.evaluate(() => window.dispdome);
  if (failed || refusal) throw new Error(`the page did not take the images: ${failed || refusal}`);
}

(async () => {
  const browser = await launchChromium(folder, { width: WIDTH, height: 1010, args: ['--hide-scrollbars'] });
  try {
    const tab = await tiltedAndLit(browser, 1010);
    await tab.screenshot({ path: output });
    await tab.close();
    if (!dropped) return;
    // A photo's relief, faint at the viewer's, three times as high.
    const taking = await tiltedAndLit(browser, 1200, [['#relief', '3']]);
    await pick(taking);
    const box = await (await taking.$('#images')).boundingBox();
    await taking.screenshot({ path: dropped, clip: { x: 0, y: 0, width: WIDTH, height: Math.ceil(box.y + box.height + 8) } });
  } finally {
    await browser.close();
  }
})().catch((error) => {
  console.error(`web/screenshot.js: ${error.message}`);
  process.exit(1);
});
