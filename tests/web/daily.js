// Daily Kiv through the page, against the real board with its clock set
// (KIV_BOARD_TEST_NOW), the test bot at the mouse: two names' ranked tries
// land on the day's board with the verifier's scores and the page then
// offers practice, which is verified and ranked nowhere; Share copies the
// line and the link, which opens that day's board the next day; the day's
// winner is watchable from the page once the board shows the day's replays
// (not before); and the game and the daily panel are both in view at four
// window sizes (screenshots in the artefacts).
// Usage: node daily.js <bot-web-dir> <kiv-board> <kiv-verify> <artefacts-dir>
const fs = require('fs'), os = require('os'), path = require('path');
const {execFileSync} = require('child_process');
const {startBoard, launch, check, until, claim, botGame} = require('./lib.js');

const [botDir, boardBin, verifier, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const data = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-daily-'));
const text = (page, id) => page.$eval('#' + id, e => e.textContent);
const SIZES = [[390, 844, true], [844, 390, true], [1366, 768, false], [1920, 1080, false]];

let board, browser;
async function boardAt(now, port = 0) {
  if (board) {
    board.stop();
    if (board.exitCode === null && board.signalCode === null) await new Promise(r => board.once('exit', r));
  }
  const started = await startBoard(boardBin, botDir, ['--max-steps-per-frame', '2', '--max-steps-per-frame-in-second',
                                                      '5'], {port, data, env: {KIV_BOARD_TEST_NOW: now}});
  board = started.board;
  return started;
}
(async () => {
  const {port, url} = await boardAt('2026-12-07T12:00:00Z');
  const api = async what => (await fetch(url + what)).json();
  browser = await launch();
  await browser.defaultBrowserContext().overridePermissions(url.slice(0, -1), ['clipboard-read', 'clipboard-write']);
  async function open(context, address = url + '?-nosound') {
    const page = await context.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    await page.setViewport({width: 1200, height: 700});
    await page.goto(address);
    await until(page, () => Module.kivReady && !document.getElementById('daily').hidden, 'the daily panel shows', 30000);
    return page;
  }
  try {
    // Two names' ranked tries; the page says the try before Start and
    // practice after it.
    const scores = {}, pages = {};
    for (const [name, steps, context] of [['Dana', 800, browser.defaultBrowserContext()],
                                          ['Eli', 300, await browser.createBrowserContext()]]) {
      const page = pages[name] = await open(context);
      await claim(page, name);
      check(await text(page, 'daily-kind') === 'Today\'s ranked try' && /counts from Start, once/.test(
        await text(page, 'daily-rule')), `${name}'s page offers today's ranked try and says its rule`);
      const game = await botGame(page, steps);
      scores[name] = await page.evaluate(() => Module.kivLastGame.score);
      check(game.line === `On the board of Daily Kiv 2026-12-07: ${scores[name].toLocaleString('en')} points, ` +
            `#${name === 'Dana' ? 1 : 2}.`, `${name}'s try is on the day's board (${game.startToFrame.toFixed(0)} ms ` +
            `from Start to the first frame): ${game.line}`);
      await until(page, () => document.getElementById('daily-kind').textContent === 'Practice today\'s seed (unranked)'
                  && document.querySelector('#daily-next input[value=daily]').checked, 'the page then offers practice');
    }
    await pages.Eli.close();
    const day = await api('api/top?period=daily&date=2026-12-07');
    check(day.games.map(g => g.name + ' ' + g.score).join() === `Dana ${scores.Dana},Eli ${scores.Eli}` &&
          (await api('api/top?period=all')).games.length === 0, 'the day\'s board has both tries, the others none');

    const page = pages.Dana;
    const practice = await botGame(page, 200);
    check(/^Not on the board: practice of Daily Kiv 2026-12-07, verified, [\d,]+ points?\.$/.test(practice.line),
          'practice is verified and on no board: ' + practice.line);
    await until(page, s => document.getElementById('daily-result').textContent === s && !document.getElementById(
      'daily-share').hidden, 'the try\'s result stays', 10000, `Your try: ${scores.Dana.toLocaleString('en')} points · ` +
      '#1 of 2 · streak: 1 day');
    await page.click('#daily-share');
    await until(page, () => /^Copied/.test(document.getElementById('daily-shared').textContent), 'Share copies');
    const shared = await page.evaluate(() => navigator.clipboard.readText());
    check(shared === `Daily Kiv 2026-12-07 · ${scores.Dana.toLocaleString('en')} points · #1 of 2\n${url}?daily=2026-12-07`,
          'Share copies the line and the link: ' + JSON.stringify(shared));

    // The game and the panel in view at each size, the game filling its room.
    for (const [width, height, phone] of SIZES) {
      await page.setViewport({width, height, isMobile: phone, hasTouch: phone, deviceScaleFactor: phone ? 2 : 1});
      await page.reload();
      await until(page, () => Module.kivReady && document.querySelectorAll('#daily-top li').length === 2 &&
                  !document.getElementById('daily-you').hidden, 'the panel shows again', 30000);
      const box = await page.evaluate(() => [document.querySelector('canvas'), document.getElementById('daily')]
        .map(e => e.getBoundingClientRect()).map(r => [r.left, r.top, r.right, r.bottom]).concat(
          [[document.documentElement.scrollWidth, document.documentElement.scrollHeight]]));
      const inside = r => r[0] >= 0 && r[1] >= 0 && r[2] <= width && r[3] <= height;
      check(inside(box[0]) && inside(box[1]) && box[2][0] <= width && box[2][1] <= height &&
            (Math.round(box[0][2]) === width || Math.round(box[0][3]) === height),
            `at ${width} x ${height} the game (${JSON.stringify(box[0])}) and the panel in view without scrolling`);
      await page.screenshot({path: path.join(art, `daily-${width}x${height}.png`)});
    }
    await page.setViewport({width: 1200, height: 700});

    // The next day, before the day's replays are shown: Watch waits, then plays.
    await boardAt('2026-12-08T01:00:06Z', port);
    await page.goto(url + '?-nosound');
    await until(page, () => Module.kivReady && /^Watch from/.test(document.querySelector('#daily-yesterday button')
      .textContent) && document.querySelector('#daily-yesterday button').disabled, 'yesterday\'s Watch waits', 30000);
    check(await text(page, 'daily-kind') === 'Today\'s ranked try', 'a new day brings a new ranked try');
    await until(page, () => !document.querySelector('#daily-yesterday button').disabled, 'then it can be watched');
    await page.click('#daily-yesterday button');
    await until(page, s => document.getElementById('watch-score').textContent === s, 'Watch plays yesterday\'s winner',
                10000, `A game of ${scores.Dana.toLocaleString('en')} points`);
    const replay = path.join(data, 'dana.rec');
    fs.writeFileSync(replay, Buffer.from(await (await fetch(`${url}api/games/${day.games[0].id}/replay`)).arrayBuffer()));
    const verified = JSON.parse(execFileSync(verifier, [replay], {encoding: 'utf8'}));
    check(verified.score === scores.Dana && verified.end === 'over', `kiv-verify agrees: ${verified.score}`);

    // The shared link opens that day's board.
    await page.goto(shared.split('\n')[1]);
    await until(page, () => document.getElementById('daily-board-title').textContent === 'The best of 2026-12-07 of 2' &&
                [...document.querySelectorAll('#daily-top .who')].map(w => w.textContent).join() === 'Dana,Eli',
                'the link opens that day\'s board', 30000);
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.stop();
  fs.rmSync(data, {recursive: true, force: true});
});
