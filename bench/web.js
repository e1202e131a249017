// Measures the web version in headless Chromium: the bytes a first visit
// transfers (as served, and gzipped as most hosts would send them), the time
// from navigation to the first drawn frame, and frames per second and steps
// per frame during ten seconds of play.
//   NODE_PATH=build-web/node_modules node bench/web.js build-web/web
const fs = require('fs'), http = require('http'), os = require('os'), path = require('path'), zlib = require('zlib');
const puppeteer = require('puppeteer-core');

const dir = process.argv[2] || 'build-web/web';
const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm'};
const server = http.createServer((req, res) => {
  const file = path.join(dir, req.url === '/' ? 'index.html' : path.normalize(req.url));
  fs.readFile(file, (e, data) => {
    res.writeHead(e ? 404 : 200, {'Content-Type': e ? 'text/plain' : types[path.extname(file)] || 'application/octet-stream'});
    res.end(e ? 'not here' : data);
  });
});
const sleep = ms => new Promise(r => setTimeout(r, ms));

(async () => {
  await new Promise(r => server.listen(0, '127.0.0.1', r));
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-bench-'));
  const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true, pipe: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--user-data-dir=' + profile]});
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 800, height: 600});
    const cdp = await page.createCDPSession();
    await cdp.send('Network.enable');
    let bytes = 0;
    cdp.on('Network.loadingFinished', e => { bytes += e.encodedDataLength; });
    // Every frame the game shows goes through putImageData.
    await page.evaluateOnNewDocument(() => {
      const put = CanvasRenderingContext2D.prototype.putImageData;
      window.kivFrames = [];
      CanvasRenderingContext2D.prototype.putImageData = function (...a) {
        window.kivFrames.push(performance.now());
        return put.apply(this, a);
      };
    });
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForFunction(() => window.kivFrames.length > 0, {timeout: 10000});
    const first = await page.evaluate(() => window.kivFrames[0]);
    await sleep(1000);
    const files = ['index.html', 'kiv.js', 'kiv.wasm', 'kiv.data'].map(f => fs.readFileSync(path.join(dir, f)));
    const gzipped = files.reduce((n, f) => n + zlib.gzipSync(f, {level: 9}).length, 0);
    console.log(`first visit: ${bytes} bytes transferred, ${gzipped} gzipped`);
    console.log(`navigation to the first drawn frame: ${first.toFixed(0)} ms`);

    // Start a game and sweep the pan for ten seconds.
    const box = await page.$eval('canvas', c => { const r = c.getBoundingClientRect(); return [r.left, r.top]; });
    await page.mouse.move(box[0] + 10, box[1] + 10);
    await page.mouse.down();
    await page.mouse.move(box[0] + 530, box[1] + 326, {steps: 20});
    await page.mouse.up();
    await page.evaluate(() => { window.kivFrames = []; });
    const start = Date.now();
    for (let i = 0; Date.now() - start < 10000; i++) {
      await page.mouse.move(box[0] + 320 + 200 * Math.sin(i / 10), box[1] + 400, {steps: 2});
      await sleep(15);
    }
    const times = await page.evaluate(() => window.kivFrames);
    const seconds = (times[times.length - 1] - times[0]) / 1000;
    const fps = (times.length - 1) / seconds;
    console.log(`play: ${fps.toFixed(1)} frames per second, ${(100 / fps).toFixed(2)} steps per frame on average`);
  } finally {
    await browser.close();
    server.close();
    fs.rmSync(profile, {recursive: true, force: true});
  }
})().catch(e => { console.error(e.message); process.exitCode = 1; server.close(); });
