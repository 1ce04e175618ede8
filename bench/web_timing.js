'use strict';
// Times pages dispdome-export writes in Debian's headless Chromium (its
// software WebGL2, SwiftShader), each run in a fresh browser, the cases taking
// turns run by run so that load from elsewhere falls on all of them alike.
//     node bench/web_timing.js RUNS FRAMES PUPPETEER_FOLDER CASE...
// A CASE is NAME,KIND,RATIO,PAGE.html[,FILE...] (no commas in the paths):
// KIND "open" times the opening only, "frames" also the frames, "pick" also
// the picking of two files, the colour image and the heights (FILE FILE),
// "evaluate" also the surface's evaluation for other reliefs, "module" also
// a fresh instance of the page's module reading heights (FILE) and
// evaluating the surface with them, and "save" also a save, of the mesh in
// format FILE (glb, obj, ply) or of the page (html); RATIO is the device
// pixel ratio. A CASE NAME,run,0,PROGRAM[,ARG...]
// instead runs PROGRAM with the ARGs in a fresh folder of its own and times
// it whole (the figure "run"), so that a desktop tool takes turns with the
// pages. A NAME ending in @N is run in the first N runs only (a slow case).
// Prints one line
// "NAME figure value" per figure, the median of the runs (milliseconds unless
// the name says otherwise):
// - firstPaint, firstText: the browser's first paint and first contentful
//   paint (text or image) since the page was opened;
// - progressLine: 1 when the page has the progress line that stands over
//   the picture's place from its start, else 0;
// - firstFrame: the end of the first full frame (status.firstFrameAt), the
//   frame waited for by a one-pixel read in both pages (status.timeEveryFrame
//   set as the page makes its state), as a page without the timer query does;
// - bufferWidth: the drawing buffer's width (pixels);
// - full, coarse: a full frame (a light change) and a coarse frame (a left
//   drag, a pixel a step) as the page times it with status.timeEveryFrame
//   set: from its first GL call to the end of a one-pixel read; medians of
//   FRAMES frames;
// - fullRun, coarseRun: wall time per frame of FRAMES full frames asked for
//   one after another, each as soon as the last was drawn, and of 2 x FRAMES
//   coarse frames while the pointer drags on without waiting, in both cases
//   without a read after each frame unless the page does one itself; only
//   the last frame is read back, so that the time includes all the work;
// - fullTimer, coarseTimer: with a progress line and the timer query, the
//   full and coarse frame as the page times them itself, by the timer query
//   (no read); medians of FRAMES frames;
// - timerQuery: 1 when the browser offers EXT_disjoint_timer_query_webgl2;
// - pickFrame: from the pick of the two files through the page's file
//   inputs (#color-file, then #heights-file at once, as puppeteer's
//   uploadFile gives them; the first input's change event) to the end of
//   the full frame that shows both, waited for by a one-pixel read;
//   pickReadColor, pickReadHeights, pickEvaluate: the module's reading of
//   each file and its evaluation of the surface for the new heights in that
//   time (status.readMs and status.evaluateMs as each was set); pickFrames:
//   the full frames drawn in that time, the last one included;
// - evaluate: the module's evaluation of the surface (status.evaluateMs)
//   after the relief control changes (1.5 and 1 in turn, its change event),
//   median of FRAMES evaluations, each frame drawn before the next;
// - moduleRead, moduleEvaluate: in a "module" case, a second instance of
//   the page's own module, started from the page's data beside the page's
//   (which it leaves alone): its reading of the heights file, as the page
//   reads a picked one (decode), and its evaluation of the surface with
//   them (surfaceVertices: the heights averaged down to the grid where
//   larger, then the grid), median of FRAMES evaluations;
//   moduleMemoryStart, moduleMemoryRead, moduleMemoryEvaluate: that
//   module's WebAssembly memory (bytes; it only grows, by steps of up to
//   96 MiB, emscripten's) once started, after the reading and after the
//   evaluations; moduleImage: the bytes the read image holds, for 16-bit
//   heights (RGBA and the 16-bit red, 6 a pixel);
// - save: from the click on #save-mesh (the format chosen in #mesh-format
//   first) or #save-page to the last of the files the page downloads
//   complete: each there under its final name in the download folder, a
//   fresh one each run, looked for every 2 ms; saveWritten: from the click
//   to the page's status.saved set, when the worker has written them all
//   and the page hands them to the browser as blob: downloads; saveBytes:
//   the bytes of the files downloaded; saveFailed: the runs whose save
//   failed (each told on standard error, its save figures left out of the
//   medians);
// - run: a PROGRAM's whole run, from its start to its end (its files then
//   written and closed).
const { spawn } = require('node:child_process');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const [runs, frames] = [Number(process.argv[2]), Number(process.argv[3])];
const folder = path.resolve(process.argv[4]);
const cases = process.argv.slice(5).map((text) => {
  const [named, kind, ratio, page, ...files] = text.split(',');
  const [name, most] = named.split('@');
  const runsOf = most === undefined ? Infinity : Number(most);
  if (kind === 'run') return { name, runsOf, kind, program: path.resolve(page), args: files };
  if (kind === 'save') return { name, runsOf, kind, ratio: Number(ratio), page: path.resolve(page), format: files[0] };
  return { name, runsOf, kind, ratio: Number(ratio), page: path.resolve(page), files: files.map((file) => path.resolve(file)) };
});
const { launchChromium, settled, pressAtCentre } = require('../web/drivers/chromium.js');

const median = (values) => {
  const sorted = [...values].sort((a, b) => a - b);
  const middle = Math.floor(sorted.length / 2);
  return sorted.length % 2 ? sorted[middle] : (sorted[middle - 1] + sorted[middle]) / 2;
};

const state = (tab) => tab.evaluate(() => ({ ...window.dispdome, now: performance.now() }));
const LONG = 600000;

// The opening: paints and the first full frame.
async function opening(tab) {
  await settled(tab, LONG);
  return tab.evaluate(() => {
    const paint = (name) => {
      const entry = performance.getEntriesByName(name)[0];
      return entry ? entry.startTime : NaN;
    };
    const progress = document.getElementById('progress');
    const probe = document.createElement('canvas').getContext('webgl2');
    return {
      failed: window.dispdome.failed,
      firstPaint: paint('first-paint'),
      firstText: paint('first-contentful-paint'),
      progressLine: progress ? 1 : 0,
      firstFrame: window.dispdome.firstFrameAt,
      bufferWidth: document.getElementById('view').width,
      timerQuery: probe && probe.getExtension('EXT_disjoint_timer_query_webgl2') ? 1 : 0,
    };
  });
}

// The next frame after ACT, waited for; gives the page's state then.
async function frameAfter(tab, act, counter) {
  const before = (await state(tab))[counter];
  await act();
  const drawn = (c, n) => window.dispdome[c] > n && !window.dispdome.pending;
  await tab.waitForFunction(drawn, { polling: 5, timeout: LONG }, counter, before);
  return state(tab);
}

const lightChange = (tab) => () =>
  tab.evaluate(() => document.getElementById('light-z').dispatchEvent(new Event('input')));
const readEveryFrame = (tab, on) =>
  tab.evaluate((value) => {
    window.dispdome.timeEveryFrame = value;
  }, on);

async function frameFigures(tab, withTimer) {
  const result = {};
  // The page's own timing by the timer query: each frame's answer waited for.
  const timed = async (act, counter, figure) => {
    await tab.evaluate((name) => {
      window.dispdome[name] = NaN;
    }, figure);
    await frameAfter(tab, act, counter);
    await tab.waitForFunction((name) => !Number.isNaN(window.dispdome[name]), { polling: 5, timeout: LONG }, figure);
    return (await state(tab))[figure];
  };
  const ownTimer = withTimer;
  if (ownTimer) {
    await readEveryFrame(tab, false);
    const full = [];
    for (let k = 0; k < frames; ++k) full.push(await timed(lightChange(tab), 'fullFrames', 'fullFrameMs'));
    result.fullTimer = median(full);
  }

  // A sequence of full frames without reads but for the last one's.
  await readEveryFrame(tab, false);
  const start = (await state(tab)).now;
  for (let k = 1; k < frames; ++k) await frameAfter(tab, lightChange(tab), 'fullFrames');
  await readEveryFrame(tab, true);
  result.fullRun = ((await frameAfter(tab, lightChange(tab), 'fullFrames')).now - start) / frames;

  // Each full frame timed by the page, with a read.
  const full = [];
  for (let k = 0; k < frames; ++k) full.push((await frameAfter(tab, lightChange(tab), 'fullFrames')).fullFrameMs);
  result.full = median(full);

  // Coarse frames, each move waited for and timed by the page.
  const coarse = [];
  const [x, y] = await pressAtCentre(tab);
  let step = 0;
  for (let k = 0; k < frames; ++k)
    coarse.push((await frameAfter(tab, () => tab.mouse.move(x + ++step, y), 'coarseFrames')).coarseFrameMs);
  result.coarse = median(coarse);
  if (ownTimer) {
    await readEveryFrame(tab, false);
    const own = [];
    for (let k = 0; k < frames; ++k)
      own.push(await timed(() => tab.mouse.move(x + ++step, y), 'coarseFrames', 'coarseFrameMs'));
    result.coarseTimer = median(own);
  }

  // Dragging on without waiting for frames; the last move's frame read back.
  await readEveryFrame(tab, false);
  const before = await state(tab);
  while ((await state(tab)).coarseFrames < before.coarseFrames + 2 * frames - 1) await tab.mouse.move(x + ++step, y);
  await readEveryFrame(tab, true);
  const end = await frameAfter(tab, () => tab.mouse.move(x + ++step, y), 'coarseFrames');
  result.coarseRun = (end.now - before.now) / (end.coarseFrames - before.coarseFrames);
  await tab.mouse.up();
  await settled(tab, LONG);
  return result;
}

// The two files picked, colour and heights, and the full frame that shows
// them; the module's readings and evaluation meanwhile.
async function pick(tab, [color, heights]) {
  await tab.evaluate(() => {
    window.dispdomePicked = NaN;
    const picked = (event) => {
      if (event.target.type === 'file' && Number.isNaN(window.dispdomePicked)) window.dispdomePicked = performance.now();
    };
    window.addEventListener('change', picked, { capture: true });
  });
  await (await tab.$('#color-file')).uploadFile(color);
  await (await tab.$('#heights-file')).uploadFile(heights);
  const shown = (names) => {
    const status = window.dispdome;
    return status.failed || (status.ready && !status.pending && status.colorName === names[0] && status.heightsName === names[1]);
  };
  await tab.waitForFunction(shown, { polling: 5, timeout: LONG }, [path.basename(color), path.basename(heights)]);
  return tab.evaluate(() => {
    const status = window.dispdome;
    if (status.failed || status.refusal) throw new Error(status.failed || status.refusal);
    const since = window.dispdomePicked;
    const after = (key) => window.dispdomeLog[key].filter(([at]) => at > since).map(([, value]) => value);
    const [reads, evaluations, frames] = [after('readMs'), after('evaluateMs'), window.dispdomeLog.fullFrames.filter(([at]) => at > since)];
    if (reads.length !== 2 || evaluations.length !== 1 || !frames.length) throw new Error('the pick read or evaluated other than once a file');
    return { pickFrame: frames[frames.length - 1][0] - since, pickFrames: frames.length, pickReadColor: reads[0], pickReadHeights: reads[1], pickEvaluate: evaluations[0] };
  });
}

// The surface evaluated FRAMES times for another relief, each frame drawn.
async function evaluations(tab) {
  const times = [];
  for (let k = 0; k < frames; ++k) {
    const count = await tab.evaluate(() => window.dispdomeLog.evaluateMs.length);
    await tab.evaluate((value) => {
      const relief = document.getElementById('relief');
      relief.value = value;
      relief.dispatchEvent(new Event('change'));
    }, k % 2 ? '1' : '1.5');
    const done = (n) => window.dispdomeLog.evaluateMs.length > n && window.dispdome.ready && !window.dispdome.pending;
    await tab.waitForFunction(done, { polling: 5, timeout: LONG }, count);
    times.push(await tab.evaluate(() => window.dispdome.evaluateMs));
  }
  return { evaluate: median(times) };
}

// A fresh instance of the page's module reading HEIGHTS and evaluating the
// surface with them FRAMES times, as the page does with a picked file; its
// memory as it goes.
async function moduleFigures(tab, heights) {
  await tab.evaluate(() => {
    const input = document.createElement('input');
    input.type = 'file';
    input.id = 'timing-file';
    document.body.append(input);
  });
  await (await tab.$('#timing-file')).uploadFile(heights);
  return tab.evaluate(async (name, times) => {
    const data = JSON.parse(document.getElementById('surface-data').textContent);
    const deflated = new Blob([Uint8Array.from(atob(data.module), (c) => c.charCodeAt(0))]);
    const wasm = await new Response(deflated.stream().pipeThrough(new DecompressionStream('deflate'))).arrayBuffer();
    const M = await createDispdomeModule({ wasmBinary: wasm, print: () => {}, printErr: () => {} });
    const memory = () => M.HEAPU8.buffer.byteLength;
    const result = { moduleMemoryStart: memory() };
    const bytes = new Uint8Array(await document.getElementById('timing-file').files[0].arrayBuffer());
    const size = M.lengthBytesUTF8(name) + 1;
    const [at, text] = [M._malloc(bytes.length + 1), M._malloc(size)];
    if (!at || !text) throw new Error(`${name}: no memory for the file`);
    M.HEAPU8.set(bytes, at);
    M.stringToUTF8(name, text, size);
    let start = performance.now();
    const handle = M._decode(at, bytes.length, text, 1);
    result.moduleRead = performance.now() - start;
    M._free(at);
    M._free(text);
    const refusal = handle ? M.UTF8ToString(M._decodedRefusal(handle)) : 'no memory for the image';
    if (refusal) throw new Error(refusal);
    result.moduleImage = 6 * M._decodedWidth(handle) * M._decodedHeight(handle);
    result.moduleMemoryRead = memory();
    const evaluations = [];
    for (let k = 0; k < times; ++k) {
      start = performance.now();
      if (!M._surfaceVertices(handle, 1, 0)) throw new Error(`${name}: no memory for the surface`);
      evaluations.push(performance.now() - start);
    }
    result.moduleMemoryEvaluate = memory();
    evaluations.sort((a, b) => a - b);
    result.moduleEvaluate = (evaluations[(times - 1) >> 1] + evaluations[times >> 1]) / 2;
    M._surfaceVerticesFree();
    M._decodedFree(handle);
    return result;
  }, path.basename(heights), frames);
}

// The save of FORMAT clicked, and its files waited for in FOLDER.
async function save(browser, tab, format, folder) {
  const session = await browser.target().createCDPSession();
  await session.send('Browser.setDownloadBehavior', { behavior: 'allow', downloadPath: folder });
  if (format !== 'html') await tab.select('#mesh-format', format);
  const button = await tab.$(format === 'html' ? '#save-page' : '#save-mesh');
  // The click as the page sees it: its event, before the page's own listener.
  await tab.evaluate((element) => {
    element.addEventListener('click', () => (window.dispdomeClicked = performance.now()), { capture: true, once: true });
  }, button);
  await button.click();
  const start = await tab.evaluate(() => window.dispdomeClicked);
  await tab.waitForFunction(() => window.dispdome.saved.length || window.dispdome.saveLine, { polling: 2, timeout: LONG });
  const { saved, saveLine, now } = await state(tab);
  if (saveLine) throw new Error(`the save of .${format}: ${saveLine}`);
  const written = now;
  const there = () => saved.every((name) => fs.existsSync(path.join(folder, name)));
  while (!there()) await new Promise((resolve) => setTimeout(resolve, 2));
  const done = await tab.evaluate(() => performance.now());
  const saveBytes = saved.reduce((sum, name) => sum + fs.statSync(path.join(folder, name)).size, 0);
  return { save: done - start, saveWritten: written - start, saveBytes };
}

// PROGRAM run whole in a fresh folder.
async function runWhole(one) {
  const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'web-timing-run-'));
  try {
    const start = performance.now();
    await new Promise((resolve, reject) => {
      const child = spawn(one.program, one.args, { cwd: folder, stdio: 'ignore' });
      child.on('error', reject);
      child.on('exit', (code) => (code === 0 ? resolve() : reject(new Error(`${one.name}: ${one.program} ended with ${code}`))));
    });
    return { run: performance.now() - start };
  } finally {
    fs.rmSync(folder, { recursive: true, force: true });
  }
}

async function measure(one) {
  if (one.kind === 'run') return runWhole(one);
  const browser = await launchChromium(folder);
  try {
    const tab = await browser.newPage();
    await tab.setViewport({ width: 1000, height: 1000, deviceScaleFactor: one.ratio });
    // The first frame waited for by a read, as in a browser without the timer query.
    await tab.evaluateOnNewDocument(() => {
      let status;
      Object.defineProperty(window, 'dispdome', {
        configurable: true,
        get: () => status,
        set: (value) => {
          status = value;
          status.timeEveryFrame = true;
          // Every reading, evaluation and full frame as it comes: when, and
          // the value the page set.
          const log = { readMs: [], evaluateMs: [], fullFrames: [] };
          window.dispdomeLog = log;
          for (const key of Object.keys(log)) {
            let kept = value[key];
            Object.defineProperty(value, key, {
              enumerable: true,
              get: () => kept,
              set: (next) => {
                kept = next;
                log[key].push([performance.now(), next]);
              },
            });
          }
        },
      });
    });
    await tab.goto(`file://${one.page}`, { timeout: LONG });
    const result = await opening(tab);
    if (result.failed) throw new Error(`${one.name}: ${result.failed}`);
    delete result.failed;
    if (one.kind === 'pick') return { ...result, ...(await pick(tab, one.files)) };
    if (one.kind === 'evaluate') return { ...result, ...(await evaluations(tab)) };
    if (one.kind === 'module') return { ...result, ...(await moduleFigures(tab, one.files[0])) };
    if (one.kind === 'save') {
      const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'web-timing-save-'));
      // A save that fails is told and counted (saveFailed), and the
      // other cases go on.
      let crashed = '';
      tab.on('error', (error) => (crashed = ` (the tab crashed: ${error.message})`));
      try {
        return { ...result, ...(await save(browser, tab, one.format, downloads)), saveFailed: 0 };
      } catch (error) {
        console.error(`web_timing: ${one.name}: ${error.message}${crashed}`);
        return { ...result, saveFailed: 1 };
      } finally {
        fs.rmSync(downloads, { recursive: true, force: true });
      }
    }
    if (one.kind !== 'frames') return result;
    return { ...result, ...(await frameFigures(tab, result.progressLine && result.timerQuery)) };
  } finally {
    await browser.close();
  }
}

(async () => {
  const results = cases.map(() => []);
  for (let run = 0; run < runs; ++run)
    for (const [k, one] of cases.entries()) {
      if (run >= one.runsOf) continue;
      results[k].push(await measure(one));
      console.error(`web_timing: ${one.name}, run ${run + 1} of ${Math.min(runs, one.runsOf)} done`);
    }
  for (const [k, one] of cases.entries())
    for (const key of new Set(results[k].flatMap((r) => Object.keys(r)))) {
      const values = results[k].filter((r) => key in r).map((r) => r[key]);
      const figure = key === 'saveFailed' ? values.reduce((sum, value) => sum + value, 0) : median(values);
      console.log(`${one.name} ${key} ${figure.toFixed(1)}`);
    }
})().catch((error) => {
  console.error(`web_timing: ${error.message}`);
  process.exit(1);
});
