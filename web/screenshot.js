'use strict';
// A picture of the page dispdome-export writes, as a browser shows it:
// opened in Debian's headless Chromium, tilted 40 degrees by a real left drag
// 40 pixels down, lit by the displaced surface's own normals under a light
// from the left (chosen with the page's controls), the whole window saved.
//     node web/screenshot.js PAGE.html OUTPUT.png PUPPETEER_FOLDER
const path = require('node:path');

const [page, output, folder] = process.argv.slice(2).map((name) => path.resolve(name));
const { launchChromium, settled, pressAtCentre } = require('./chromium.js');


(async () => {
  const browser = await launchChromium(folder, { width: 760, height: 1010, args: ['--hide-scrollbars'] });
  try {
    const tab = await browser.newPage();
    await tab.goto(`file://${page}`);
    await settled(tab);
    const [x, y] = await pressAtCentre(tab);
    await tab.mouse.move(x, y + 40, { steps: 4 });
    await tab.mouse.up();
    await tab.select('#normals', 'displaced');
    for (const [id, value] of [['#light-x', '-10'], ['#light-y', '2'], ['#light-z', '-8']]) {
      await tab.click(id, { clickCount: 3 });
      await tab.keyboard.type(value);
    }
    await tab.mouse.move(0, 0);
    await settled(tab);
    await tab.screenshot({ path: output });
  } finally {
    await browser.close();
  }
})().catch((error) => {
  console.error(`web/screenshot.js: ${error.message}`);
  process.exit(1);
});
