// Measures how the page starts, in headless Chromium against the real
// kiv-board (which serves content-named files as immutable): the time from
// navigation to the first drawn frame on a first visit, on a second visit
// (the service worker answering) and on a second visit offline; and the bytes
// a first visit transfers, the service worker's own fetches included.
//   NODE_PATH=build-web/node_modules node bench/web_start.js build-web/web build/kiv-board [--runs N]
const {startBoard, launch} = require('../tests/web/lib.js');

const [webDir, boardBin] = process.argv.slice(2);
const runsAt = process.argv.indexOf('--runs');
const runs = runsAt > 0 ? +process.argv[runsAt + 1] : 5;
const median = v => v.slice().sort((a, b) => a - b)[Math.floor(v.length / 2)];

// Bytes over the network (not from a cache) of a page or worker session.
function countBytes(session, into) {
  const cached = new Set();
  session.on('Network.requestServedFromCache', e => cached.add(e.requestId));
  session.on('Network.responseReceived', e => {
    if (e.response.fromDiskCache || e.response.fromServiceWorker) cached.add(e.requestId);
  });
  session.on('Network.loadingFinished', e => { if (!cached.has(e.requestId)) into.bytes += e.encodedDataLength; });
  return session.send('Network.enable');
}

// One visit in a new tab: milliseconds from navigation to the first frame.
async function visit(browser, url, offline, counted) {
  const page = await browser.newPage();
  if (counted) await countBytes(await page.createCDPSession(), counted);
  await page.setViewport({width: 1366, height: 768});
  if (offline) await page.setOfflineMode(true);
  await page.evaluateOnNewDocument(() => {
    const put = CanvasRenderingContext2D.prototype.putImageData;
    CanvasRenderingContext2D.prototype.putImageData = function (...a) {
      if (!window.kivFirst) window.kivFirst = performance.now();
      return put.apply(this, a);
    };
  });
  await page.goto(url);
  await page.waitForFunction(() => window.kivFirst, {timeout: 30000});
  const ms = await page.evaluate(() => window.kivFirst);
  return {page, ms};
}

(async () => {
  const {board, url} = await startBoard(boardBin, webDir);
  const figures = {first: [], second: [], offline: [], bytes: [], workerBytes: []};
  try {
    for (let run = 0; run < runs; run++) {
      const browser = await launch();
      try {
        const counted = {bytes: 0}, worker = {bytes: 0};
        browser.on('targetcreated', async t => {
          if (t.type() === 'service_worker') await countBytes(await t.createCDPSession(), worker);
        });
        const first = await visit(browser, url, false, counted);
        await first.page.waitForFunction(() => navigator.serviceWorker.controller !== null, {timeout: 20000});
        // The worker's cache filled: the bytes of the whole first visit.
        await first.page.evaluate(() => navigator.serviceWorker.ready);
        await new Promise(r => setTimeout(r, 500));
        figures.first.push(first.ms);
        await first.page.close();
        const second = await visit(browser, url, false);
        figures.second.push(second.ms);
        await second.page.close();
        const sw = await (await browser.waitForTarget(t => t.type() === 'service_worker')).createCDPSession();
        await sw.send('Network.emulateNetworkConditions', {offline: true, latency: 0, downloadThroughput: -1,
                                                           uploadThroughput: -1});
        const off = await visit(browser, url, true);
        figures.offline.push(off.ms);
        figures.bytes.push(counted.bytes);
        figures.workerBytes.push(worker.bytes);
      } finally {
        await browser.close();
      }
    }
  } finally {
    board.stop();
  }
  const show = v => `${median(v).toFixed(0)} ms (median of ${v.length}; ${Math.min(...v).toFixed(0)}-${Math.max(...v).toFixed(0)})`;
  console.log(`navigation to the first frame, first visit: ${show(figures.first)}`);
  console.log(`navigation to the first frame, second visit: ${show(figures.second)}`);
  console.log(`navigation to the first frame, second visit offline: ${show(figures.offline)}`);
  console.log(`bytes of a first visit: ${median(figures.bytes)} by the page, ${median(figures.workerBytes)} more by ` +
              `the service worker`);
})().catch(e => { console.error(e); process.exitCode = 1; });
