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
const points = n => n.toLocaleString('en') + (n === 1 ? ' point' : ' points');
// Waits until the text of `selector` is `text`.
const shows = (page, selector, text, what, ms = 10000) =>
  until(page, (s, t) => document.querySelector(s)?.textContent === t, what, ms, selector, text);

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
  async function open(context, address = url + '?-nosound') {
    const page = await context.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    await page.goto(address);
    // Its panel complete, so that nothing moves under a click.
    await until(page, () => Module.kivReady && document.getElementById('daily-top').textContent &&
                document.getElementById('daily-yesterday').textContent, 'the daily panel shows', 30000);
    return page;
  }
  try {
    // Dana's try; then Eli's, while Dana practises.
    const scores = {}, pages = {};
    const tryToday = async (name, context, steps, rank) => {
      const page = pages[name] = await open(context);
      await claim(page, name);
      await page.click('#daily-next input[value=daily]');
      await shows(page, '#daily-kind', 'Today\'s ranked try', `${name}'s page offers today's ranked try`);
      check(/counts from Start, once/.test(await page.$eval('#daily-rule', e => e.textContent)), 'and says its rule');
      return async () => {
        const game = await botGame(page, steps);
        scores[name] = await page.evaluate(() => Module.kivLastGame.score);
        check(game.line === `On the board of Daily Kiv 2026-12-07: ${points(scores[name])}, #${rank}.`,
              `${game.line} (${game.startToFrame.toFixed(0)} ms from Start to the first frame)`);
        await shows(page, '#daily-kind', 'Practice today\'s seed (unranked)', 'the page then offers practice');
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
      await shows(page, '#daily-result', `Your try: ${points(scores.Dana)} · #1 of 2 · streak: 1 day`,
                  'the try\'s result shows', 30000);
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
    const next = await open(browser.defaultBrowserContext());
    await shows(next, '#daily-kind', 'Today\'s ranked try', 'the next day brings a new ranked try');
    check(await next.$eval('#daily-yesterday button', b => b.disabled && /^Watch from \d/.test(b.textContent)),
          'yesterday\'s Watch waits for the day\'s replays');
    await shows(next, '#daily-yesterday button:enabled', 'Watch', 'then it can be watched');
    await next.click('#daily-yesterday button');
    await shows(next, '#watch-score', `A game of ${points(scores.Dana)}`, 'Watch plays yesterday\'s winner');
    await next.goto(shared.split('\n')[1]);
    await shows(next, '#daily-board-title', 'The best of 2026-12-07 of 2', 'the link opens that day\'s board', 30000);
    check(await next.$$eval('#daily-top li', l => l.map(li => li.textContent).join()) ===
          `Dana ${scores.Dana} Watch,Eli ${scores.Eli} Watch`, 'with both tries to watch');
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (board) board.stop();
  fs.rmSync(data, {recursive: true, force: true});
});
