// Measures the web version in headless Chromium: the bytes a first visit
// transfers (as served, gzipped as most hosts would send them, and with the
// build's brotli forms as kiv-board sends them), the time
// from navigation to the first drawn frame, the frames the canvas shows per
// second, and the game's own frames per second (the growth of its difficulty)
// during ten seconds of play; the last at the display's rate and again with
// Chromium's frame-rate limit off.
//   NODE_PATH=build-web/node_modules node bench/web.js build-web/web
const fs = require('fs'), http = require('http'), os = require('os'), path = require('path'), zlib = require('zlib');
const puppeteer = require('puppeteer-core');
const {pressStart} = require('../tests/web/lib.js');

const dir = process.argv[2] || 'build-web/web';
const types = {'.html': 'text/html', '.js': 'text/javascript', '.wasm': 'application/wasm', '.css': 'text/css'};
const server = http.createServer((req, res) => {
  const file = path.join(dir, req.url === '/' ? 'index.html' : path.normalize(req.url.split('?')[0]));
  fs.readFile(file, (e, data) => {
    res.writeHead(e ? 404 : 200, {'Content-Type': e ? 'text/plain' : types[path.extname(file)] || 'application/octet-stream'});
    res.end(e ? 'not here' : data);
  });
});
const sleep = ms => new Promise(r => setTimeout(r, ms));

async function measure(flags, first) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-bench-'));
  const browser = await puppeteer.launch({executablePath: '/usr/bin/chromium', headless: true, pipe: true,
    args: ['--no-sandbox', '--disable-gpu', '--no-first-run', '--disable-background-networking', '--user-data-dir=' + profile]
      .concat(flags)});
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 1200, height: 700});
    const cdp = await page.createCDPSession();
    await cdp.send('Network.enable');
    let bytes = 0;
    cdp.on('Network.loadingFinished', e => { bytes += e.encodedDataLength; });
    // Every frame the canvas shows goes through putImageData.
    await page.evaluateOnNewDocument(() => {
      const put = CanvasRenderingContext2D.prototype.putImageData;
      window.kivShown = [];
      CanvasRenderingContext2D.prototype.putImageData = function (...a) {
        window.kivShown.push(performance.now());
        return put.apply(this, a);
      };
    });
    await page.goto(`http://127.0.0.1:${server.address().port}/`);
    await page.waitForFunction(() => window.kivShown.length > 0, {timeout: 10000});
    const shownFirst = await page.evaluate(() => window.kivShown[0]);
    await sleep(1000);
    if (first) {
      const names = fs.readdirSync(dir).filter(f => /^(index\.html|kiv\.[0-9a-f]{16}\.(js|wasm|data|css))$/.test(f));
      const files = names.map(f => fs.readFileSync(path.join(dir, f)));
      const gzipped = files.reduce((n, f) => n + zlib.gzipSync(f, {level: 9}).length, 0);
      // What kiv-board sends a browser that takes brotli: the build's .br
      // forms where it wrote them.
      const size = f => fs.statSync(path.join(dir, f)).size;
      const brotli = names.reduce((n, f) => n + (fs.existsSync(path.join(dir, f + '.br')) ? size(f + '.br') : size(f)), 0);
      console.log(`first visit: ${bytes} bytes transferred, ${gzipped} gzipped, ${brotli} with the build's brotli forms`);
      console.log(`navigation to the first drawn frame: ${shownFirst.toFixed(0)} ms`);
    }
    // The game's frames: those of its replay, over the time it took.
    await page.evaluate(() => {
      const started = Module.kivGameStarted, recorded = Module.kivGameRecorded;
      Module.kivGameStarted = (...a) => { window.kivStart = performance.now(); started(...a); };
      Module.kivGameRecorded = (header, ...a) => {
        const view = new DataView(header.buffer);
        window.kivGame = {ms: performance.now() - window.kivStart, steps: view.getUint32(28, true),
                          frames: view.getUint32(32, true)};
        recorded(header, ...a);
      };
    });
    // Start a game and sweep the pan for ten seconds, then leave it.
    const at = await pressStart(page);
    // Held until the game begins (a click too short to be seen is no press).
    await page.waitForFunction(() => _web_in_game(), {timeout: 10000, polling: 20});
    await page.mouse.up();
    await page.evaluate(() => { window.kivShown = []; });
    const start = Date.now();
    for (let i = 0; Date.now() - start < 10000; i++) {
      await page.mouse.move(...at(320 + 200 * Math.sin(i / 10), 400), {steps: 2});
      await sleep(15);
    }
    const times = await page.evaluate(() => window.kivShown);
    await page.keyboard.press('Escape');
    const game = await (await page.waitForFunction(() => window.kivGame, {timeout: 5000})).jsonValue();
    const shown = (times.length - 1) / ((times[times.length - 1] - times[0]) / 1000);
    const pace = game.frames / (game.ms / 1000);
    console.log(`${flags.length ? 'frame-rate limit off' : 'display rate'}: the canvas shows ${shown.toFixed(1)} ` +
                `frames a second; the game ran ${pace.toFixed(1)} frames a second (pace per second), ` +
                `${(game.steps / game.frames).toFixed(3)} steps per frame`);
  } finally {
    await browser.close();
    fs.rmSync(profile, {recursive: true, force: true});
  }
}

(async () => {
  await new Promise(r => server.listen(0, '127.0.0.1', r));
  try {
    await measure([], true);
    await measure(['--disable-frame-rate-limit', '--disable-gpu-vsync'], false);
  } finally {
    server.close();
  }
})().catch(e => { console.error(e.message); process.exitCode = 1; server.close(); });
