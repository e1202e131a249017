// The page as an installed app, in headless Chromium against the real
// kiv-board serving a build of its own (compressed for browsers that take
// it): Chromium's installability check finds nothing missing and the page
// controls itself through its service worker; then, the network cut
// (DevTools' offline emulation, for the page and its worker), a reload
// starts the game from the worker's cache, and a game is played (unranked,
// and why), saved and watched, the board's line saying the page is offline;
// back online, the daily comes back by itself, a new build put in place
// while a game is in play is offered only once that game is over, and,
// taken, runs; a page of older rules is told by the board, before Start, to
// update.
// Usage: node app.js <cmake> <source-dir> <stage-dir> <kiv-board> <artefacts-dir>
const fs = require('fs'), net = require('net'), os = require('os'), path = require('path'), zlib = require('zlib');
const {execFileSync, spawn} = require('child_process');
const {startBoard, launch, check, until, pressStart, get} = require('./lib.js');

const [cmake, source, stage, boardBin, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const scratch = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-app-'));
const web = path.join(scratch, 'web');

// The build's last step, from a linked page in `from` into the served folder.
function release(from) {
  fs.mkdirSync(web, {recursive: true});
  execFileSync(cmake, ['-DSTAGE=' + from, '-DICONS=' + path.join(source, 'web/icons'), '-DOUT=' + web, '-P',
                       path.join(source, 'cmake/web_release.cmake')]);
}

// One game, its balls let fall; resolves once it is recorded.
async function playOne(page, x) {
  await page.evaluate(() => { window.kivBefore = Module.kivLastGame; });
  const at = await pressStart(page);
  await until(page, () => _web_in_game(), 'a game starts');
  await page.mouse.up();
  await page.mouse.move(...at(x, 300), {steps: 10});
  return at;
}
const recorded = page => until(page, () => Module.kivLastGame !== window.kivBefore, 'the game is recorded', 30000);

// The app's own window (Chromium's --app, no browser bars, on an X server of
// the test's own) at a phone's and a laptop's size: its screenshot, and what
// the page sees of it.
async function appWindows(url) {
  const xvfb = spawn('setpriv', ['--pdeathsig', 'KILL', 'Xvfb', '-displayfd', '3', '-screen', '0', '1400x900x24',
                                 '-nolisten', 'tcp'], {stdio: ['ignore', 'ignore', 'ignore', 'pipe']});
  try {
    const display = await new Promise((resolve, reject) => {
      let out = '';
      xvfb.stdio[3].on('data', c => { out += c; if (out.includes('\n')) resolve(out.trim()); });
      xvfb.on('exit', code => reject(new Error('Xvfb ended with ' + code)));
    });
    for (const [w, h] of [[390, 844], [1366, 768]]) {
      const browser = await launch({headful: true, env: {...process.env, DISPLAY: ':' + display},
                                    args: ['--app=' + url, `--window-size=${w},${h}`, '--window-position=0,0']});
      try {
        const target = await browser.waitForTarget(t => t.type() === 'page' && t.url().startsWith(url));
        const page = await target.page();
        await until(page, () => window.Module && Module.kivReady && !document.getElementById('daily').hidden,
                    'the app window starts', 30000).catch(async e => {
          throw new Error(e.message + ' (' + await page.evaluate(() => [location.href, document.readyState,
            window.Module && Module.kivReady, document.getElementById('daily').hidden,
            document.getElementById('board-status').textContent].join(', ')).catch(f => f.message) + ')');
        });
        const seen = await page.evaluate(() => [matchMedia('(display-mode: standalone)').matches, innerWidth,
                                                innerHeight, outerHeight]);
        await page.screenshot({path: path.join(art, `app-${w}x${h}.png`)});
        check(seen[0] && seen[1] === w && seen[2] === seen[3],
              `the app's window at ${w}x${h}: standalone, no browser bars (${seen.slice(1).join(', ')})`);
      } finally {
        await browser.close();
      }
    }
  } finally {
    xvfb.kill('SIGKILL');
  }
}

// Every content-named file's compressed forms are the file, byte for byte,
// and smaller; the page's code and data have both. The board sends a form
// only to a request that takes it.
async function compressed(port) {
  const read = f => fs.readFileSync(path.join(web, f));
  const named = fs.readdirSync(web).filter(f => /\.[0-9a-f]{16}\.[a-z]+$/.test(f));
  const unpack = {gz: zlib.gunzipSync, br: zlib.brotliDecompressSync, gzip: zlib.gunzipSync};
  const forms = named.flatMap(f => [f + '.gz', f + '.br']).filter(f => fs.existsSync(path.join(web, f)));
  const wrong = forms.filter(f => !(read(f).length < read(f.slice(0, -3)).length &&
                                    unpack[f.slice(-2)](read(f)).equals(read(f.slice(0, -3)))));
  const both = kind => ['.gz', '.br'].every(form => forms.includes(named.find(f => f.endsWith(kind)) + form));
  check(!wrong.length && ['js', 'wasm', 'data'].every(both), `the ${forms.length} compressed forms of ` +
        `${named.length} files are smaller and are the files; kiv.js, kiv.wasm and kiv.data have both` +
        (wrong.length ? ': not ' + wrong : ''));
  const wasm = named.find(f => f.endsWith('.wasm'));
  for (const [accept, coding] of [[null], ['gzip', 'gzip'], ['gzip, deflate, br', 'br'], ['br;q=0']]) {
    const {head, body} = await get(port, '/' + wasm, accept ? {'Accept-Encoding': accept} : {});
    check(head['content-encoding'] === coding && head.vary === 'Accept-Encoding' &&
          (coding ? unpack[coding](body) : body).equals(read(wasm)),
          `the board sends ${wasm} ${coding || 'as it is'} to ${accept || 'a request without Accept-Encoding'}`);
  }
}

let board, plain;
(async () => {
  release(stage);
  board = await startBoard(boardBin, web);
  board.stop = board.board.stop;
  await compressed(board.port);
  const browser = await launch();
  try {
    const page = await browser.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    await page.setViewport({width: 1366, height: 768});
    await page.goto(board.url);
    await until(page, () => Module.kivReady, 'the page starts');
    await until(page, () => navigator.serviceWorker.controller !== null, 'its service worker takes the page', 20000);
    const cdp = await page.createCDPSession();
    const {installabilityErrors} = await cdp.send('Page.getInstallabilityErrors');
    check(installabilityErrors.length === 0, 'Chromium finds the page installable: ' + JSON.stringify(installabilityErrors));
    const manifest = await cdp.send('Page.getAppManifest');
    check(manifest.errors.length === 0 && /"name": "Kiv"/.test(manifest.data), 'its manifest reads without errors');

    // Offline: the page and its worker.
    const downloads = path.join(scratch, 'downloads');
    await cdp.send('Browser.setDownloadBehavior', {behavior: 'allow', downloadPath: downloads});
    const worker = await (await browser.waitForTarget(t => t.type() === 'service_worker')).createCDPSession();
    const offline = {offline: true, latency: 0, downloadThroughput: -1, uploadThroughput: -1};
    await worker.send('Network.enable');
    await worker.send('Network.emulateNetworkConditions', offline);
    await page.setOfflineMode(true);
    await until(page, () => document.getElementById('board-status').textContent ===
                'Offline: games are recorded, saved and can be watched, but not ranked.', 'the board\'s line says offline');
    const fetched = [];
    page.on('requestfinished', r => { if (!r.response().fromServiceWorker()) fetched.push(r.url()); });
    await page.reload();
    await until(page, () => Module.kivReady, 'offline, a reload starts the game', 20000);
    check(fetched.filter(u => !u.includes('/api/')).length === 0, 'every file of the page came from the worker');
    // (Chromium's emulation does not tell a reloaded page that it is offline.)
    await until(page, () => /^(Offline|The board cannot be reached): games are recorded.*but not ranked\.$/
      .test(document.getElementById('board-status').textContent), 'after the reload too, unranked');
    await playOne(page, 300);
    await recorded(page);
    const why = await until(page, () => document.getElementById('last-rank').textContent, 'the game says its rank');
    check(['Unranked: played offline (a game counts only when the board sees it begin).',
           'Unranked: the board could not be reached at Start.'].includes(why),
          'offline, the game says it is unranked, and why: ' + why);
    await until(page, () => document.pointerLockElement === null, 'the pointer is let go');
    await page.click('#save-replay');
    for (const end = Date.now() + 10000; !(fs.existsSync(downloads) && fs.readdirSync(downloads)
      .some(f => f.endsWith('.rec'))) && Date.now() < end;) await new Promise(r => setTimeout(r, 50));
    check(fs.readdirSync(downloads).some(f => /^kiv-.*\.rec$/.test(f)), 'offline, the game is saved as a replay');
    await page.click('#watch-last');
    await until(page, () => !document.getElementById('watching').hidden, 'offline, watching begins');
    await page.click('#watching [data-speed="16"]');
    await until(page, () => document.getElementById('watching').hidden, 'the watched game ends', 20000);
    await page.screenshot({path: path.join(art, '1-offline.png')});

    // Back online, a new build (one file changed) while a game is in play.
    await page.setOfflineMode(false);
    await worker.send('Network.emulateNetworkConditions', {...offline, offline: false});
    const oldStyle = await page.$eval('link[rel="stylesheet"]', l => l.getAttribute('href'));
    const stage2 = path.join(scratch, 'stage2');
    fs.cpSync(stage, stage2, {recursive: true});
    fs.appendFileSync(path.join(stage2, 'kiv.css'), '\n#side { outline: 1px solid #383838; }\n');
    release(stage2);
    await playOne(page, 320);
    await page.evaluate(() => navigator.serviceWorker.getRegistration().then(r => r.update()));
    await until(page, () => navigator.serviceWorker.getRegistration().then(r => r.waiting !== null),
                'the new build is fetched in the background', 20000);
    await new Promise(r => setTimeout(r, 1200));  // two turns of the page's check
    check(await page.evaluate(() => _web_in_game() && document.getElementById('update').hidden),
          'in the middle of a game, no offer');
    await recorded(page);
    await until(page, () => !document.getElementById('daily').hidden && document.getElementById('daily-left').textContent,
                'back online, the daily part comes back without a reload', 20000);
    await until(page, () => !document.getElementById('update').hidden, 'between games, the offer shows');
    check(await page.$eval('#update', b => b.textContent) === 'A new version of Kiv is ready: reload', 'in its words');
    await page.screenshot({path: path.join(art, '2-update.png')});
    await Promise.all([page.waitForNavigation(), page.click('#update')]);
    await until(page, () => Module.kivReady, 'the new version starts');
    const newStyle = await page.$eval('link[rel="stylesheet"]', l => l.getAttribute('href'));
    check(newStyle !== oldStyle && fs.existsSync(path.join(web, newStyle)) &&
          await page.evaluate(() => getComputedStyle(document.getElementById('side')).outlineStyle) === 'solid',
          `the page runs the new build (${oldStyle} -> ${newStyle})`);

    // A page that claims older rules (its ticket requests rewritten) hears so
    // from the board before Start.
    const context = await browser.createBrowserContext();
    const old = await context.newPage();
    await old.setRequestInterception(true);
    old.on('request', r => r.url().endsWith('/api/tickets') && r.method() === 'POST'
      ? r.continue({postData: JSON.stringify({...JSON.parse(r.postData()), rules: 0})}) : r.continue());
    await old.goto(board.url);
    await until(old, () => Module.kivReady, 'a page of older rules starts');
    const told = await until(old, () => document.getElementById('board-status').textContent, 'the board tells it');
    check(told === 'This page plays an older version of Kiv\'s rules than the board: update Kiv to play ranked games.',
          'before Start: ' + told);
    await context.close();

    // Served as scripts/web.sh serves it (Python's own server), the page is
    // installable too.
    const port = await new Promise(r => { const s = net.createServer().listen(0, '127.0.0.1', () => {
      const p = s.address().port; s.close(() => r(p)); }); });
    plain = spawn('setpriv', ['--pdeathsig', 'KILL', 'python3', '-m', 'http.server', String(port), '--bind', '127.0.0.1',
                              '--directory', web], {stdio: 'ignore'});
    const served = await browser.newPage();
    for (const end = Date.now() + 10000; ;) {
      if (await served.goto(`http://127.0.0.1:${port}/`).then(() => true, () => false)) break;
      if (Date.now() > end) throw new Error('Python\'s server did not start');
      await new Promise(r => setTimeout(r, 100));
    }
    await until(served, () => navigator.serviceWorker.controller !== null, 'its worker takes the page', 20000);
    const errors = (await (await served.createCDPSession()).send('Page.getInstallabilityErrors')).installabilityErrors;
    check(errors.length === 0, 'served by Python\'s server, installable too: ' + JSON.stringify(errors));
    await appWindows(board.url);
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.stop();
  if (plain) plain.kill('SIGKILL');
  fs.rmSync(scratch, {recursive: true, force: true});
});
