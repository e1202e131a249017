// What the browser tests share: a static server for the web build, headless
// Chromium with a profile of its own (removed after), checks that print what
// they saw, and the canvas's place on the page.
const fs = require('fs'), http = require('http'), os = require('os'), path = require('path');
const puppeteer = require('puppeteer-core');

const types = {'.html': 'text/html', '.css': 'text/css', '.js': 'text/javascript', '.wasm': 'application/wasm'};

// Serves dir at / (and, if given, the files of replays at /replays/);
// resolves to the server's address.
async function serve(dir, replays) {
  const server = http.createServer((req, res) => {
    const url = decodeURIComponent(req.url.split('?')[0]);
    const file = replays && url.startsWith('/replays/') ? path.join(replays, path.basename(url))
      : path.join(dir, path.normalize(url).replace(/\/$/, '/index.html'));
    fs.readFile(file, (e, data) => {
      res.writeHead(e ? 404 : 200, {'Content-Type': e ? 'text/plain' : types[path.extname(file)] || 'application/octet-stream'});
      res.end(e ? 'not here' : data);
    });
  });
  await new Promise(r => server.listen(0, '127.0.0.1', r));
  return {server, url: `http://127.0.0.1:${server.address().port}/`};
}

async function launch() {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: true, pipe: true,
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--user-data-dir=' + profile]});
  const close = browser.close.bind(browser);
  browser.close = async () => {
    await close();
    fs.rmSync(profile, {recursive: true, force: true});
  };
  return browser;
}

function check(ok, what) {
  if (!ok) throw new Error(what);
  console.log('ok: ' + what);
}

// Waits for fn (run in the page) to give a true value, up to a deadline.
async function until(page, fn, what, ms = 10000, ...args) {
  try {
    return await (await page.waitForFunction(fn, {timeout: ms, polling: 50}, ...args)).jsonValue();
  } catch (e) {
    throw new Error(what + ': not within ' + ms / 1000 + ' s');
  }
}

// Page coordinates of a point of the game's screen.
async function canvasAt(page) {
  const r = await page.$eval('canvas', c => { const b = c.getBoundingClientRect(); return [b.left, b.top, b.width / 640]; });
  return (x, y) => [r[0] + x * r[2], r[1] + y * r[2]];
}

// The left button pressed on the canvas (which locks the pointer) and held
// while the pointer walks onto Start.
async function pressStart(page) {
  const at = await canvasAt(page);
  await page.mouse.move(...at(10, 10));
  await page.mouse.down();
  await page.mouse.move(...at(530, 326), {steps: 20});
  return at;
}

module.exports = {serve, launch, check, until, canvasAt, pressStart};
