// The page against the real board server, in headless Chromium, as players
// use it: a name claimed in one browser is refused in another (also looking
// alike) until that one is paired with a code the first shows; a game played
// to its end lands on the board with the score the board's own verifier
// gives it (kiv-verify agrees) and its rank is shown; a game left with Escape
// and one whose page goes away let their tickets go (the next start is
// ranked, with one running game allowed a name); a
// page reloaded between the board's taking a game and its verdict shows the
// verdict when it comes; games are watched from the list and from
// ?game=ID; a name that looks like HTML is shown as text, long names
// whole; and nothing the
// page does violates the server's Content-Security-Policy.
// Usage: node board.js <web-dir> <kiv-board> <kiv-verify> <artefacts-dir>
const fs = require('fs'), path = require('path');
const {spawn, execFileSync} = require('child_process');
const {startBoard, launch, check, until, pressStart, claim, verdict, get} = require('./lib.js');

const [webDir, boardBin, verifier, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const text = (page, id) => page.$eval('#' + id, e => e.textContent);

let board, worker, browser;
(async () => {
  // The board verifies nothing itself: a worker beside it does, while it runs.
  // (Its games are not about their frames: a busy machine draws fewer.)
  const started = await startBoard(boardBin, webDir, ['--workers', '0', '--running-per-name', '1', '--max-steps-per-frame',
                                                      '2', '--max-steps-per-frame-in-second', '5']);
  board = started.board;
  const {port, url, data} = started;
  const startWorker = () => {
    worker = spawn('setpriv', ['--pdeathsig', 'KILL', boardBin, 'worker', '--data', data, '--max-steps-per-frame', '2',
                               '--max-steps-per-frame-in-second', '5'],
                   {stdio: 'inherit'});
  };
  startWorker();
  // A name that looks like HTML, and two long names that share all but
  // their last letter, put on the board behind the server's back.
  execFileSync('python3', ['-c', `import sqlite3, sys
db = sqlite3.connect(sys.argv[1])
for score, name in enumerate(sys.argv[2:]):
    db.execute("insert into games (name, score, time_ms, seconds, replay) values (?, ?, 0, 1.0, x'00')", (name, 7 - score))
db.commit()`, path.join(data, 'board.sqlite'), '<img src=x onerror=alert(1)>', 'ChampionPlayer01', 'ChampionPlayer02']);

  browser = await launch();
  try {
    // Every page is watched for dialogs, script errors and violations of
    // the policy (the page's own event and the console's report of it).
    let dialogs = 0;
    const violations = [];
    async function open(context, address = url) {
      const page = await context.newPage();
      page.on('dialog', d => { dialogs++; d.dismiss(); });
      page.on('pageerror', e => console.log('page error: ' + e.message));
      page.on('console', m => { if (/Content Security Policy/i.test(m.text())) violations.push(m.text()); });
      await page.exposeFunction('kivViolation', text => violations.push(text));
      await page.evaluateOnNewDocument(() => document.addEventListener('securitypolicyviolation',
        e => window.kivViolation(e.violatedDirective + ' ' + e.blockedURI)));
      await page.setViewport({width: 1200, height: 700});
      const policy = (await page.goto(address)).headers()['content-security-policy'] || '';
      check(/frame-ancestors 'self'/.test(policy) && /'wasm-unsafe-eval'/.test(policy), 'the page comes with its policy');
      await until(page, () => Module.kivReady, 'the page starts', 30000);
      return page;
    }
    // Start pressed with the mouse; resolves once the game runs, and says
    // whether the page started it ranked.
    async function start(page) {
      const at = await pressStart(page);
      await page.mouse.up();
      await until(page, () => _web_recorded_steps() > 0, 'the game begins');
      return {at, ranked: !/^Unranked/.test(await text(page, 'board-status'))};
    }

    // A name is one browser's until it pairs another.
    const a = await open(browser.defaultBrowserContext());
    await claim(a, 'Robin');
    const other = await browser.createBrowserContext();
    const b = await open(other);
    // (The second with a Cyrillic о; the third the page refuses in a short sentence of its own.)
    for (const [name, why] of [['ROBIN', /taken/], ['Rоbin', /scripts/],
                               ['Ro<bin>', /^A name cannot hold <: letters, digits, spaces and most punctuation can\.$/]]) {
      await b.$eval('#name-status', s => { s.textContent = ''; });
      await b.$eval('#player-name', f => { f.value = ''; });
      await b.type('#player-name', name);
      await b.click('#claim-name');
      const said = await until(b, () => document.getElementById('name-status').textContent, 'the claim is answered');
      check(why.test(said) && (await text(b, 'player-shown')) === '', `${name} is refused in another browser: ${said}`);
    }
    await a.click('#pair-show');
    const code = await until(a, () => /^[A-Z2-9]{4}-[A-Z2-9]{4}$/.test(document.getElementById('pair-code').textContent) &&
                             document.getElementById('pair-code').textContent, 'the first browser shows a code');
    await b.click('#pair-enter');
    await b.type('#code', code.replace('-', '').toLowerCase());
    await b.click('#pair-use');
    await until(b, () => document.getElementById('player-shown').textContent === 'Robin',
                'the other browser plays as Robin with the code, typed in lower case without its dash');
    // The board, with the HTML-like name shown as text.
    await a.click('#board [data-period="all"]');
    await until(a, () => /onerror/.test(document.getElementById('top').textContent), 'the board is listed');
    check(await a.$eval('#top', t => t.querySelector('img') === null &&
                        t.querySelector('.who').textContent === '<img src=x onerror=alert(1)>'),
          'a name like <img src=x onerror=alert(1)> shows as text');
    check(await a.$eval('#top', t => [...t.querySelectorAll('.who')].every(w => w.scrollWidth <= w.clientWidth &&
                                                                          w.getClientRects().length > 0)),
          'every name in the list shows whole (ChampionPlayer01 and ChampionPlayer02 wrapped, not cut to one)');

    // A game played to its end: the page hands it over and shows its rank.
    let game = await start(a);
    check(game.ranked, 'the game starts ranked');
    await a.mouse.move(...game.at(100, 100), {steps: 5});
    const rank = await verdict(a, 'the game is judged', 60000);
    const shown = await a.evaluate(() => Module.kivLastGame.score);
    check(rank.startsWith(`On the board: ${shown.toLocaleString('en')} point`) && / #1 today/.test(rank),
          'the page shows its verified score and rank: ' + rank);
    const top = JSON.parse((await get(port, '/api/top?period=all&limit=100')).body);
    const mine = top.games.find(g => g.name === 'Robin');
    const replay = await get(port, `/api/games/${mine.id}/replay`);
    fs.writeFileSync(path.join(data, 'robin.rec'), replay.body);
    const verified = JSON.parse(execFileSync(verifier, [path.join(data, 'robin.rec')], {encoding: 'utf8'}));
    check(mine.score === shown && verified.score === shown && verified.end === 'over',
          `on the board under Robin with the verifier's score (${mine.score}; kiv-verify ${verified.score})`);
    await until(a, name => [...document.querySelectorAll('#top .who')].some(w => w.textContent === name),
                'the list shows it', 10000, 'Robin');
    await a.screenshot({path: path.join(art, '1-board.png')});

    // Left with Escape, and gone with its page: each lets its ticket go, or
    // the next start would be refused (the board allows the name one running
    // game). The page sends /abandon before it says the game was left.
    game = await start(a);
    check(game.ranked, 'the next game starts ranked');
    await a.keyboard.press('Escape');
    await until(a, () => /^Unranked: the game was left/.test(document.getElementById('last-rank').textContent),
                'a game left with Escape is said unranked');
    game = await start(b);
    check(game.ranked, 'after a game left with Escape, a game in the other browser starts ranked');
    await b.goto('about:blank');

    // A reload between the board's taking the game and its verdict: the page
    // shows the verdict when it comes.
    worker.kill('SIGKILL');
    game = await start(a);
    check(game.ranked, 'after a page went away during its game, the next game starts ranked');
    await a.mouse.move(...game.at(100, 100), {steps: 5});
    await until(a, () => /^The board is playing your game again/.test(document.getElementById('last-rank').textContent),
                'the board has taken the game', 60000);
    const score = await a.evaluate(() => Module.kivLastGame.score);
    await a.reload();
    await until(a, () => Module.kivReady, 'the page starts again', 30000);
    await until(a, () => /^The board is playing your game again/.test(document.getElementById('last-rank').textContent),
                'after the reload the page says the game waits for its verdict');
    await a.screenshot({path: path.join(art, '2-pending.png')});
    startWorker();
    const later = await verdict(a, 'the verdict comes after the reload', 60000);
    check(later.startsWith(`On the board: ${score.toLocaleString('en')} point`) &&
          (await text(a, 'last-score')).startsWith(score.toLocaleString('en')),
          'after a reload the verdict is shown under the game: ' + later);

    // Watched from the list, and from its link.
    await a.evaluate(name => [...document.querySelectorAll('#top li')]
      .find(li => li.querySelector('.who').textContent === name).querySelector('a').click(), 'Robin');
    await until(a, () => !document.getElementById('watching').hidden, 'Watch in the list plays it');
    await a.click('#watch-stop');
    await until(a, () => document.getElementById('watching').hidden, 'Stop ends it');
    await a.goto(url + '?game=' + mine.id);
    await until(a, () => !document.getElementById('watching').hidden, '?game=ID plays it');
    await a.screenshot({path: path.join(art, '3-watching.png')});
    check(dialogs === 0, 'no script ran from a name');
    check(violations.length === 0, 'nothing the page did violated its policy' +
          (violations.length ? ': ' + violations.join('; ') : ''));
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (worker) worker.kill('SIGKILL');
  if (board) board.stop();
});
