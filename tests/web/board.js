// The page against the real board server, in headless Chromium: a game
// played in the page lands on the board with the score the board's own
// verifier gives it (kiv-verify agrees), its rank is shown, it is watched
// from the board's list and from ?game=ID, and a name that looks like HTML
// is shown as text; all of it under the server's Content-Security-Policy,
// which nothing the page does violates.
// Usage: node board.js <web-dir> <kiv-board> <kiv-verify> <artefacts-dir>
const fs = require('fs'), os = require('os'), path = require('path'), http = require('http');
const {spawn, execFileSync} = require('child_process');
const {launch, check, until, pressStart} = require('./lib.js');

const [webDir, boardBin, verifier, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const data = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-board-data-'));
function get(port, url) {
  return new Promise((resolve, reject) => {
    http.get({host: '127.0.0.1', port, path: url}, res => {
      const chunks = [];
      res.on('data', c => chunks.push(c));
      res.on('end', () => resolve({status: res.statusCode, body: Buffer.concat(chunks)}));
    }).on('error', reject);
  });
}

let board, browser;
(async () => {
  // The server dies with this test, whatever ends it.
  board = spawn('setpriv', ['--pdeathsig', 'KILL', boardBin, 'serve', '--port', '0', '--web', webDir, '--data', data],
                {stdio: ['ignore', 'pipe', 'inherit']});
  const port = await new Promise((resolve, reject) => {
    let out = '';
    board.stdout.on('data', c => {
      out += c;
      const m = out.match(/serving http:\/\/127\.0\.0\.1:(\d+)\//);
      if (m) resolve(+m[1]);
    });
    board.on('exit', code => reject(new Error('kiv-board ended with ' + code)));
  });
  // A name that looks like HTML, put on the board behind the server's back.
  execFileSync('python3', ['-c', `import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
db.execute("insert into games (name, score, time_ms, seconds, replay) values (?, 7, 0, 1.0, x'00')", (sys.argv[2],))
db.commit()`, path.join(data, 'board.sqlite'), '<img src=x onerror=alert(1)>']);

  browser = await launch();
  try {
    const page = await browser.newPage();
    let dialogs = 0;
    page.on('dialog', d => { dialogs++; d.dismiss(); });
    page.on('pageerror', e => console.log('page error: ' + e.message));
    // Every violation of the policy, as the page's own event and as the
    // console's report of it.
    const violations = [];
    page.on('console', m => { if (/Content Security Policy/i.test(m.text())) violations.push(m.text()); });
    await page.exposeFunction('kivViolation', text => violations.push(text));
    await page.evaluateOnNewDocument(() => document.addEventListener('securitypolicyviolation',
      e => window.kivViolation(e.violatedDirective + ' ' + e.blockedURI)));
    await page.setViewport({width: 1200, height: 700});
    const url = `http://127.0.0.1:${port}/`;
    const policy = (await page.goto(url)).headers()['content-security-policy'] || '';
    check(/frame-ancestors 'self'/.test(policy) && /'wasm-unsafe-eval'/.test(policy), 'the page comes with its policy');
    await until(page, () => Module.kivReady, 'the page starts');
    await page.type('#player-name', 'Robin');
    await page.click('#board [data-period="all"]');
    await until(page, () => /onerror/.test(document.getElementById('top').textContent), 'the board is listed');
    check(await page.$eval('#top', t => t.querySelector('img') === null &&
                           t.querySelector('.who').textContent === '<img src=x onerror=alert(1)>'),
          'a name like <img src=x onerror=alert(1)> shows as text');

    // A game, played to its end: the page hands it over and shows its rank.
    const at = await pressStart(page);
    await page.mouse.up();
    await page.mouse.move(...at(100, 100), {steps: 5});
    const rank = await until(page, () => /^Verified/.test(document.getElementById('last-rank').textContent) &&
                             document.getElementById('last-rank').textContent, 'the game is on the board', 40000);
    const shown = await page.evaluate(() => Module.kivLastGame.score);
    check(rank.startsWith(`Verified: ${shown.toLocaleString('en')} points, #`), 'the page shows its verified score and rank: ' + rank);
    const top = JSON.parse((await get(port, '/api/top?period=all&limit=100')).body);
    const mine = top.games.find(g => g.name === 'Robin');
    const replay = await get(port, `/api/games/${mine.id}/replay`);
    fs.writeFileSync(path.join(data, 'robin.rec'), replay.body);
    const verified = JSON.parse(execFileSync(verifier, [path.join(data, 'robin.rec')], {encoding: 'utf8'}));
    check(mine.score === shown && verified.score === shown && verified.end === 'over',
          `on the board with the verifier's score (${mine.score}; kiv-verify ${verified.score})`);
    await until(page, name => [...document.querySelectorAll('#top .who')].some(w => w.textContent === name),
                'the list shows it', 70000, 'Robin');
    await page.screenshot({path: path.join(art, '1-board.png')});

    // Watched from the list, and from its link.
    await page.evaluate(name => [...document.querySelectorAll('#top li')]
      .find(li => li.querySelector('.who').textContent === name).querySelector('a').click(), 'Robin');
    await until(page, () => !document.getElementById('watching').hidden, 'Watch in the list plays it');
    await page.click('#watch-stop');
    await until(page, () => document.getElementById('watching').hidden, 'Stop ends it');
    await page.goto(url + '?game=' + mine.id);
    await until(page, () => !document.getElementById('watching').hidden, '?game=ID plays it');
    await page.screenshot({path: path.join(art, '2-watching.png')});
    check(dialogs === 0, 'no script ran from a name');
    check(violations.length === 0, 'nothing the page did violated its policy' +
          (violations.length ? ': ' + violations.join('; ') : ''));
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.kill('SIGKILL');
  fs.rmSync(data, {recursive: true, force: true});
});
