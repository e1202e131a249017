// Ranked games as players' browsers run them, against the real board: headless
// Chromium without the flags that keep hidden tabs' timers at full speed,
// silent, on the page with the test bot at its mouse (the page's own clock,
// loop and board code). Told by what the page says: a game streamed as it
// is played, hidden for 5 s, keeps its pace (a timer of the page's own is
// throttled meanwhile) and is ranked, watched live by another page to its
// end; a clock at 1.25x is refused at its first chunk too far ahead; a network cut of
// 15 s ends the ranking at once; 300 ms on every request and
// a CPU 4x slower are ranked, or told at once that they fell behind; a game
// the board asks to wait for (429, 503) is sent again after its Retry-After
// and ranked, its stream going on from the board's count after a 409; a
// board gone at the end leaves the page's one line and a replay.
// Usage: node ranked.js <bot-web-dir> <kiv-board> <artefacts-dir>
const fs = require('fs'), path = require('path');
const {startBoard, launch, check, until, claim, botGame} = require('./lib.js');

const [botDir, boardBin, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const sleep = ms => new Promise(r => setTimeout(r, ms));
const ON_THE_BOARD = /^On the board: [\d,]+ points?, #\d+ today/;

let board, browser;
(async () => {
  // The games are judged on their pace, not their frames (a busy machine
  // draws fewer).
  const started = await startBoard(boardBin, botDir, ['--max-steps-per-frame', '2',
                                                      '--max-steps-per-frame-in-second', '5']);
  board = started.board;
  const url = started.url + '?-nosound';
  browser = await launch({throttled: true});
  const front = await browser.newPage();   // brought to the front, it hides the others
  async function open(prepare, named = true) {
    const page = await browser.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    if (prepare) await prepare(page);
    await page.setViewport({width: 1200, height: 700});
    await page.goto(url);
    await until(page, () => Module.kivReady, 'the page starts', 30000);
    if (named) await until(page, () => !document.getElementById('playing-as').hidden, 'the page plays as its name');
    return page;
  }
  try {
    // The name, claimed once, is every page's of this browser.
    let page = await open(null, false);
    await claim(page, 'Pacer');

    // A ranked game, streamed to the board as it is played, hidden for 5 s
    // in its middle: it keeps its pace on the Worker's clock (a 10 ms timer
    // of the page's own is throttled meanwhile) and streams on. The page
    // that hides it lists it under Live now and watches it live to its end,
    // at the verifier's score; its player sees someone watching.
    const chunks = [];
    page.on('request', r => { if (/\/steps$/.test(r.url())) chunks.push(r.url()); });
    const hidden = botGame(page, 2500);
    hidden.catch(() => {});   // its failure is told where it is awaited
    await until(page, () => _web_recorded_steps() > 200, 'the game runs');
    await front.setViewport({width: 1366, height: 768});
    await front.goto(url);
    await until(front, () => Module.kivReady && document.querySelector('#live-list button'),
                'Live now lists the game in play', 20000);
    await front.bringToFront();
    await until(page, () => document.hidden, 'the tab is hidden');
    await front.click('#live-list button');
    await until(front, () => !document.getElementById('watching').hidden, 'the game is watched live');
    await page.evaluate(() => { window.ticks = 0; (function chain() { ticks++; setTimeout(chain, 10); })(); });
    const before = await page.evaluate(() => [ticks, _web_recorded_steps()]);
    await sleep(5000);
    const after = await page.evaluate(() => document.hidden && [ticks, _web_recorded_steps()]);
    await front.screenshot({path: path.join(art, 'live-1366.png')});
    await until(page, () => /watching your game/.test(document.getElementById('live-you').textContent),
                'the player sees someone watching', 15000);
    await front.setViewport({width: 390, height: 844});
    await until(front, () => innerWidth === 390 && document.documentElement.scrollWidth <= 390, 'the panel fits 390 px');
    await front.screenshot({path: path.join(art, 'live-390.png'), fullPage: true});
    await page.bringToFront();
    const game = await hidden;
    await front.bringToFront();   // the watcher's tab seen again: its watch at full speed
    check(after && after[0] - before[0] < 50 && after[1] - before[1] > 400, `hidden for 5 s, a 10 ms timer of the ` +
          `page ran ${after[0] - before[0]} times, the game ${after[1] - before[1]} steps`);
    check(ON_THE_BOARD.test(game.line) && !/no longer ranked/.test(game.status) && chunks.length >= 15,
          `streamed in ${chunks.length} chunks, hidden for 5 s in its middle, the game is ranked: ${game.line}`);
    const score = game.line.match(/^On the board: ([\d,]+) point/)[1];
    await until(front, s => document.getElementById('watching').hidden &&
                new RegExp('ended: ' + s + ' points?').test(document.getElementById('live-status').textContent),
                'the watched game ends at the board\'s score', 30000, score);
    const seen = await front.$eval('#watch-now', e => e.textContent);
    check(seen === `Now ${score} points`, `watched live to its end, the game's running score ends at ${seen}`);
    await page.close();

    // A page whose clock runs at 1.25x is refused at its first chunk ahead
    // of real time.
    page = await open(p => p.evaluateOnNewDocument(() => {
      const now = performance.now.bind(performance);
      performance.now = () => now() * 1.25;
    }));
    const fast = botGame(page, 1000);
    fast.catch(() => {});
    await until(page, () => /^This game is no longer ranked: .*ahead/.test(
      document.getElementById('board-status').textContent), 'the game ahead of real time is told', 10000);
    check(/^Unranked: .*ahead/.test((await fast).line), `a game at 1.25x is unranked: ${(await fast).line}`);
    await page.close();

    // The network cut for 15 s mid-game: the ranking ends at once (before
    // the network is back), said in one sentence.
    page = await open();
    const cut = botGame(page, 1800);
    cut.catch(() => {});
    await until(page, () => _web_recorded_steps() > 200, 'the game runs');
    const cdp = await page.createCDPSession();
    const network = {offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1};
    await cdp.send('Network.emulateNetworkConditions', {...network, offline: true});
    const cutAt = Date.now();
    const said = await until(page, () => document.getElementById('board-status').textContent.startsWith(
      'This game is no longer ranked') && document.getElementById('board-status').textContent, 'the ranking ends', 14000);
    const saidAfter = Date.now() - cutAt;
    await cdp.send('Network.emulateNetworkConditions', network);
    check(/^This game is no longer ranked: [^\n]*\.$/.test(said) && saidAfter < 14000,
          `the network cut, ${saidAfter} ms later the page said: ${said}`);
    check(/^Unranked: /.test((await cut).line), `the game cut off is unranked: ${(await cut).line}`);
    await page.close();

    // 300 ms on every request: the game waits at its Start for the seed, and
    // is ranked.
    page = await open();
    await (await page.createCDPSession()).send('Network.emulateNetworkConditions', {offline: false, latency: 300, downloadThroughput: -1,
                                                        uploadThroughput: -1});
    const far = await botGame(page, 500);
    check(far.startToFrame >= 300, `with 300 ms on every request, ${far.startToFrame.toFixed(0)} ms from Start to ` +
          'the first frame');
    check(ON_THE_BOARD.test(far.line) || /no longer ranked/.test(far.status),
          `with 300 ms on every request, the game is ranked or told at once it is not: ${far.status} ${far.line}`);
    await page.close();

    // The CPU 4x slower: ranked, or told at once that it is not.
    page = await open();
    await (await page.createCDPSession()).send('Emulation.setCPUThrottlingRate', {rate: 4});
    const busy = await botGame(page, 1000);
    check(ON_THE_BOARD.test(busy.line) || /no longer ranked/.test(busy.status),
          `with the CPU 4x slower, the game is ranked or told at once it is not: ${busy.status} ${busy.line}`);
    await page.close();

    // A board that asks the page to wait as the game arrives (429, then 503,
    // each with a Retry-After): the page sends it again after each wait,
    // within its margin, and it is ranked. The answer to its first chunk is
    // lost on the way back (the board holds it): the next chunk, sent from
    // the page's count, gets 409 with the board's, and the page goes on
    // from there.
    const sends = [], waits = [[429, 1], [503, 2]], conflicts = [];
    let chunked = 0;
    page = await open(async p => {
      await p.setRequestInterception(true);
      p.on('response', r => { if (r.status() === 409) conflicts.push(r.url()); });
      p.on('request', r => {
        if (r.method() === 'POST' && r.url().endsWith('/steps') && chunked++ === 0) {
          return fetch(r.url(), {method: 'POST', headers: r.headers(), body: r.postData()})
            .then(held => held.ok && r.abort('connectionreset'));
        }
        if (r.method() !== 'POST' || !r.url().endsWith('/api/games')) return r.continue();
        sends.push(Date.now());
        const wait = waits.shift();
        if (!wait) return r.continue();
        r.respond({status: wait[0], contentType: 'application/json', headers: {'Retry-After': String(wait[1])},
                   body: JSON.stringify({error: 'Try again shortly.'})});
      });
    });
    const waited = await botGame(page, 500);
    check(conflicts.length === 1 && chunked >= 3, `a chunk's answer lost, ${conflicts.length} chunk got 409 of ` +
          `${chunked} sent`);
    check(ON_THE_BOARD.test(waited.line) && sends.length === 3 && sends[1] - sends[0] >= 1000 &&
          sends[2] - sends[1] >= 2000, `told to wait 1 s, then 2 s, the page sent the game again after each ` +
          `(${sends.slice(1).map((t, i) => t - sends[i]).join(' and ')} ms) and it is ranked: ${waited.line}`);
    await page.close();

    // The board gone before the game ends: the page's one line, and the game
    // stays a replay to watch.
    page = await open();
    const lost = botGame(page, 300);
    await until(page, () => _web_recorded_steps() > 100, 'the game runs');
    board.stop();
    const gone = await lost;
    // (Or, when the game outlasts the margin, the stream ends its ranking first.)
    check(/^(The board could not be reached when the game ended|Unranked: its play could not reach the board)/
            .test(gone.line),
          `the board down when the game ends: ${gone.line}`);
    await page.click('#watch-last');
    await until(page, () => !document.getElementById('watching').hidden, 'the unranked game can be watched');
    await page.screenshot({path: path.join(art, 'board-down.png')});
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.stop();
});
