// What the browser tests share: a static server for the web build, a GET, the
// real board server, headless Chromium with a profile of its own (removed after),
// checks that print what they saw, and the canvas's place on the page.
const fs = require('fs'), http = require('http'), os = require('os'), path = require('path');
const {spawn} = require('child_process');
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

// A GET of path from 127.0.0.1:port with the headers given; resolves to
// {status, head, body}.
function get(port, path, headers = {}) {
  return new Promise((resolve, reject) => {
    http.get({host: '127.0.0.1', port, path, headers}, res => {
      const chunks = [];
      res.on('data', c => chunks.push(c));
      res.on('end', () => resolve({status: res.statusCode, head: res.headers, body: Buffer.concat(chunks)}));
    }).on('error', reject);
  });
}

// kiv-board serving the page in webDir (serve's further options in args),
// with its data in a new folder; it dies with the test, whatever ends it.
// Resolves to {board, port, url, data}; board.stop() ends it and removes
// the data. A restart names its port, data (then kept) and environment.
async function startBoard(bin, webDir, args = [], {port = 0, data = null, env = {}} = {}) {
  const own = !data;
  if (own) data = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-board-data-'));
  const board = spawn('setpriv', ['--pdeathsig', 'KILL', bin, 'serve', '--port', String(port), '--web', webDir, '--data',
                                  data, ...args], {stdio: ['ignore', 'pipe', 'inherit'], env: {...process.env, ...env}});
  board.stop = () => {
    board.kill('SIGKILL');
    if (own) fs.rmSync(data, {recursive: true, force: true});
  };
  try {
    const port = await new Promise((resolve, reject) => {
      let out = '';
      board.stdout.on('data', c => {
        out += c;
        const m = out.match(/serving http:\/\/127\.0\.0\.1:(\d+)\//);
        if (m) resolve(+m[1]);
      });
      board.on('exit', code => reject(new Error('kiv-board ended with ' + code)));
    });
    return {board, port, url: `http://127.0.0.1:${port}/`, data};
  } catch (e) {
    board.stop();
    throw e;
  }
}

// Chromium's flags that puppeteer adds to keep a hidden tab's timers at full
// speed; a browser as players have it runs without them.
const UNTHROTTLED = ['--disable-background-timer-throttling', '--disable-backgrounding-occluded-windows',
                     '--disable-renderer-backgrounding'];

// Headless unless `headful` (then on the display of `env`), with `args` more.
async function launch({throttled = false, headful = false, env = process.env, args = []} = {}) {
  const profile = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-chromium-'));
  const browser = await puppeteer.launch({
    executablePath: '/usr/bin/chromium', headless: !headful, pipe: true, protocolTimeout: 20 * 60000, env,
    // A window as players see it: no bar saying that a program drives it.
    defaultViewport: headful ? null : undefined,
    ignoreDefaultArgs: throttled ? UNTHROTTLED : headful ? ['--enable-automation'] : [],
    args: ['--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run', '--disable-background-networking',
           '--disable-component-update', '--disable-sync', '--user-data-dir=' + profile,
           ...(headful ? ['--test-type'] : []), ...args]});
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
// while the pointer walks onto Start, once the title shows (a press on the
// game-over screen only leaves it).
async function pressStart(page) {
  await until(page, () => Array.from(document.getElementById('canvas').getContext('2d').getImageData(500, 120, 1, 1)
    .data.slice(0, 3)).join(',') === '255,255,135', 'the title shows', 30000);
  const at = await canvasAt(page);
  await page.mouse.move(...at(10, 10));
  await page.mouse.down();
  await page.mouse.move(...at(530, 326), {steps: 20});
  return at;
}

// Claims a name in the page; resolves when the page plays under it.
async function claim(page, name) {
  await page.$eval('#player-name', f => { f.value = ''; });
  await page.type('#player-name', name);
  await page.click('#claim-name');
  await until(page, name => document.getElementById('player-shown').textContent === name,
              'the page plays as ' + name, 10000, name);
}

// The line under the last game once it says what became of it.
const VERDICT = /^(On the board|Not on the board|Unranked|The board could not be reached)/;
function verdict(page, what, ms) {
  return until(page, re => new RegExp(re).test(document.getElementById('last-rank').textContent) &&
               document.getElementById('last-rank').textContent, what, ms, VERDICT.source);
}

// On the bot's page: one game, the bot catching for `steps` steps and then
// letting the balls fall, and what the page says of it. Also the time from
// the press on Start to the game's first frame, the game's length in steps,
// the board's line, and the steps of each frame (from the replay's body).
async function botGame(page, steps, ms = 120000) {
  await page.evaluate(() => {
    window.kivTimes = {};
    const wanted = Module.kivSeedWanted, started = Module.kivGameStarted, recorded = Module.kivGameRecorded;
    Module.kivSeedWanted = () => { window.kivTimes.start = performance.now(); return wanted(); };
    Module.kivGameStarted = seed => { window.kivTimes.first = performance.now(); started(seed); };
    Module.kivGameRecorded = (header, body, ...rest) => {
      const frames = new DataView(header.buffer, header.byteOffset).getUint32(32, true);
      window.kivTimes.frameSteps = Array.from(body.subarray(0, frames), b => b & 7);
      recorded(header, body, ...rest);
    };
    document.getElementById('last-rank').textContent = '';
  });
  await page.evaluate(steps => _web_bot_play(1, steps), steps);
  const line = await verdict(page, 'the bot\'s game ends and the page says what became of it', ms);
  const times = await page.evaluate(() => window.kivTimes);
  return {line, startToFrame: times.first - times.start, steps: await page.evaluate(() => Module.kivLastGame.steps),
          status: await page.$eval('#board-status', s => s.textContent), frameSteps: times.frameSteps};
}

module.exports = {serve, get, startBoard, launch, check, until, canvasAt, pressStart, claim, verdict, botGame};
