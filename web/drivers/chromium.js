'use strict';
// What the web page's test, its timing and its screenshot share: Debian's
// chromium started headless with its software WebGL2 (SwiftShader), driven
// by the puppeteer-core installed in PUPPETEER_FOLDER, and the wait for the
// page to finish drawing.
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

// puppeteer-core from its folder (node_modules inside it).
const puppeteerIn = (folder) => require(path.join(path.resolve(folder), 'node_modules', 'puppeteer-core'));

// A fresh browser with an empty profile, removed when it closes, and a
// viewport of width x height.
// The flags keep it off the network it has no use for, which this machine's
// closed network refuses many times a second otherwise.
async function launchChromium(folder, { width = 1000, height = 1000, profileParent = os.tmpdir(), args = [] } = {}) {
  const profile = fs.mkdtempSync(path.join(profileParent, 'chromium-'));
  const browser = await puppeteerIn(folder).launch({
    executablePath: '/usr/bin/chromium',
    headless: true,
    userDataDir: profile,
    defaultViewport: { width, height, deviceScaleFactor: 1 },
    args: ['--no-sandbox', '--disable-gpu', '--use-angle=swiftshader', '--enable-unsafe-swiftshader',
      '--disable-quic', '--no-first-run', '--disable-background-networking', '--disable-component-update',
      '--disable-sync', ...args],
  });
  // The profile goes once the browser has ended.
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, { recursive: true, force: true });
  };
  return browser;
}

// Until no frame is pending and the last one was full, or the page failed;
// a page whose script never ran counts as settled once loaded, so that a
// caller sees its state at once rather than after the timeout.
const settled = (tab, timeout = 180000) =>
  tab.waitForFunction(
    () =>
      window.dispdome
        ? window.dispdome.failed || (window.dispdome.fullFrames > 0 && !window.dispdome.pending)
        : document.readyState === 'complete',
    { timeout, polling: 20 },
  );

// Presses the left button over the middle of the picture; gives that point.
async function pressAtCentre(tab) {
  const box = await (await tab.$('#view')).boundingBox();
  const [x, y] = [box.x + box.width / 2, box.y + box.height / 2];
  await tab.mouse.move(x, y);
  await tab.mouse.down();
  return [x, y];
}

module.exports = { puppeteerIn, launchChromium, settled, pressAtCentre };
