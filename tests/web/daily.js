// Daily Kiv through the page against the real board, its clock set by
// KIV_BOARD_TEST_NOW, the test bot at the mouse: two names' ranked tries land
// on the day's board with the board's scores, the page then offers practice
// (verified, on no board); the game and the panel are in view at four sizes;
// Share copies the line and the link; the next day the winner is watchable
// once the day's replays are shown, not before, and the link opens that day.
// Usage: node daily.js <bot-web-dir> <kiv-board> <artefacts-dir>
const fs = require('fs'), os = require('os'), path = require('path');
const {startBoard, launch, check, until, claim, botGame} = require('./lib.js');

const [botDir, boardBin, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const data = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-daily-'));
const text = (page, id) => page.$eval('#' + id, e => e.textContent);
const points = n => n.toLocaleString('en') + (n === 1 ? ' point' : ' points');

let board, browser;
async function boardAt(now, port = 0) {   // restarted on the same data
  if (board && board.exitCode === null && board.signalCode === null) {
    const gone = new Promise(r => board.once('exit', r));
    board.stop();
    await gone;
  }
  const started = await startBoard(boardBin, botDir, ['--max-steps-per-frame', '2', '--max-steps-per-frame-in-second',
                                                      '5'], {port, data, env: {KIV_BOARD_TEST_NOW: now}});
  board = started.board;
  return started;
}
(async () => {
  const {port, url} = await boardAt('2026-12-07T12:00:00Z');
  browser = await launch();
  await browser.defaultBrowserContext().overridePermissions(url.slice(0, -1), ['clipboard-read', 'clipboard-write']);
  // A page once its panel is complete (nothing moves under a click).
  async function open(context, address, ready = () => Module.kivReady &&
                      document.getElementById('daily-top').textContent && document.getElementById('daily-yesterday')
                      .textContent) {
    const page = await context.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    await page.goto(address);
    await until(page, ready, 'the daily panel shows', 30000);
    return page;
  }
  try {
    // Dana's try; then Eli's, while Dana practises.
    const scores = {}, pages = {};
    const tryToday = async (name, context, steps, rank) => {
      const page = pages[name] = await open(context, url + '?-nosound');
      await claim(page, name);
      await page.click('#daily-next input[value=daily]');
      check(await text(page, 'daily-kind') === 'Today\'s ranked try' && /counts from Start, once/.test(
        await text(page, 'daily-rule')), `${name}'s page offers today's ranked try and says its rule`);
      return async () => {
        const game = await botGame(page, steps);
        scores[name] = await page.evaluate(() => Module.kivLastGame.score);
        check(game.line === `On the board of Daily Kiv 2026-12-07: ${points(scores[name])}, #${rank}.`,
              `${game.line} (${game.startToFrame.toFixed(0)} ms from Start to the first frame)`);
        await until(page, () => document.getElementById('daily-kind').textContent === 'Practice today\'s seed ' +
                    '(unranked)' && document.querySelector('#daily-next input[value=daily]').checked,
                    'the page then offers practice');
      };
    };
    await (await tryToday('Dana', browser.defaultBrowserContext(), 800, 1))();
    const eli = await tryToday('Eli', await browser.createBrowserContext(), 0, 2);
    const page = pages.Dana, [practice] = await Promise.all([botGame(pages.Dana, 100), eli()]);
    check(/^Not on the board: practice of Daily Kiv 2026-12-07, verified, \d+ points?\.$/.test(practice.line),
          practice.line);

    for (const [width, height, phone] of [[390, 844, 1], [844, 390, 1], [1366, 768, 0], [1920, 1080, 0]]) {
      await page.setViewport({width, height, isMobile: !!phone, hasTouch: !!phone, deviceScaleFactor: 1 + phone});
      await page.reload();
      await until(page, s => document.getElementById('daily-result').textContent === s &&
                  document.querySelectorAll('#daily-top li').length === 2, 'the try\'s result shows', 30000,
                  `Your try: ${points(scores.Dana)} · #1 of 2 · streak: 1 day`);
      const [game, panel] = await page.evaluate(() => ['canvas', '#daily'].map(e =>
        document.querySelector(e).getBoundingClientRect()).map(r => [r.left, r.top, r.right, r.bottom]));
      check([game, panel].every(r => r[0] >= 0 && r[1] >= 0 && r[2] <= width && r[3] <= height) &&
            (Math.round(game[2]) === width || Math.round(game[3]) === height), `at ${width} x ${height} the game ` +
            `(${game.map(Math.round)}) fills its room, and it and the panel are in view without scrolling`);
      await page.screenshot({path: path.join(art, `daily-${width}x${height}.png`)});
    }
    await page.click('#daily-share');
    await until(page, () => /^Copied/.test(document.getElementById('daily-shared').textContent), 'Share copies');
    const shared = await page.evaluate(() => navigator.clipboard.readText());
    check(shared === `Daily Kiv 2026-12-07 · ${points(scores.Dana)} · #1 of 2\n${url}?daily=2026-12-07`,
          'Share copies ' + JSON.stringify(shared));
    await page.close();

    // The next day, 7 s before the day's replays are shown.
    await boardAt('2026-12-08T01:00:03Z', port);
    const next = await open(browser.defaultBrowserContext(), url + '?-nosound', () =>
      document.querySelector('#daily-yesterday button')?.disabled &&
      document.getElementById('daily-kind').textContent === 'Today\'s ranked try');
    check(/^Watch from \d/.test(await text(next, 'daily-yesterday button')), 'the next day: a new ranked try, and ' +
          'yesterday\'s Watch waits for the day\'s replays');
    await until(next, () => !document.querySelector('#daily-yesterday button').disabled, 'then it can be watched');
    await next.click('#daily-yesterday button');
    await until(next, s => document.getElementById('watch-score').textContent === s, 'Watch plays yesterday\'s winner',
                10000, `A game of ${points(scores.Dana)}`);
    await next.goto(shared.split('\n')[1]);
    await until(next, s => document.getElementById('daily-board-title').textContent === 'The best of 2026-12-07 of 2' &&
                [...document.querySelectorAll('#daily-top li')].map(w => w.textContent).join() === s,
                'the shared link opens that day\'s board', 30000, `Dana ${scores.Dana} Watch,Eli ${scores.Eli} Watch`);
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.stop();
  fs.rmSync(data, {recursive: true, force: true});
});
