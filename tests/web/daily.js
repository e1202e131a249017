// Daily Kiv through the page against the real board, its clock set by
// KIV_BOARD_TEST_NOW, the test bot at the mouse: two names' ranked tries land
// on the day's board with the board's scores, the page then offers practice
// (verified, on no board); at four sizes the game and the panel are in view,
// a newcomer's page on how to play; Share copies the line and the link; an
// open page renews itself at the board's midnight; the next day, on a
// phone, stray touches on the panel leave the new try running, and it
// counts; the winner is watchable once the day's replays are shown, not
// before, and the link opens that day.
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
  async function open(context, address = url + '?-nosound', viewport = null) {
    const page = await context.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    if (viewport) await page.setViewport(viewport);
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

    // Dana's page, and a newcomer's (a browser that never played).
    const newcomer = await open(await browser.createBrowserContext());
    const inView = (page, ...selectors) => page.evaluate(s => s.map(e => document.querySelector(e)
      .getBoundingClientRect()).map(r => [r.left, r.top, r.right, r.bottom].map(Math.round)), selectors);
    const within = (rects, w, h) => rects.every(r => r[0] >= 0 && r[1] >= 0 && r[2] <= w && r[3] <= h);
    for (const [width, height, phone] of [[390, 844, 1], [844, 390, 1], [1366, 768, 0], [1920, 1080, 0]]) {
      const viewport = {width, height, isMobile: !!phone, hasTouch: !!phone, deviceScaleFactor: 1 + phone};
      await page.setViewport(viewport);
      await page.reload();
      await shows(page, '#daily-result', `Your try: ${points(scores.Dana)} · #1 of 2 players · streak: 1 day`,
                  'the try\'s result shows', 30000);
      const [game, ...panel] = await inView(page, 'canvas', '#daily h2', '#daily-next legend', '#daily-result');
      const type = await page.$eval('#side', s => parseFloat(getComputedStyle(s).fontSize));
      check(within([game, ...panel], width, height) && (game[2] === width || game[3] === height) &&
            type >= (width === 1920 ? 18 : 13), `at ${width} x ${height} the game (${game}) fills its room, and it ` +
            `and the panel's daily (its choice labelled "Next Start", the try's result) are in view without ` +
            `scrolling, in ${type} px type (from a sofa at 1920 x 1080)`);
      await page.screenshot({path: path.join(art, `daily-${width}x${height}.png`)});
      await newcomer.setViewport(viewport);
      await until(newcomer, () => Module.kivReady && document.getElementById('how-to').open, 'the newcomer\'s page');
      check(within(await inView(newcomer, '#how-to summary', '#how-to li'), width, height),
            `at ${width} x ${height} a newcomer's page opens on how to play, in view`);
      await newcomer.screenshot({path: path.join(art, `first-visit-${width}x${height}.png`)});
    }
    await page.click('#daily-share');
    await until(page, () => /^Copied/.test(document.getElementById('daily-shared').textContent), 'Share copies');
    const shared = await page.evaluate(() => navigator.clipboard.readText());
    check(shared === `Daily Kiv 2026-12-07 · ${points(scores.Dana)} · #1 of 2\n${url}?daily=2026-12-07`,
          'Share copies ' + JSON.stringify(shared));
    await page.close();

    // The day's last seconds, in a page opened on the next day's board: at
    // the board's midnight it renews the day's lines by itself.
    await boardAt('2026-12-07T23:59:56Z', port);
    const midnight = Date.now() + 4000;
    const eve = await open(browser.defaultBrowserContext(), url + '?-nosound&daily=2026-12-08');
    await shows(eve, '#daily-top', 'That day has not come yet.', 'before it, a day to come has not come yet');
    const renewed = await until(eve, () => /^Yesterday's winner/.test(document.getElementById('daily-yesterday')
      .textContent) && ['date', 'kind', 'result', 'board-title', 'top', 'yesterday', 'left'].map(id =>
      document.getElementById('daily-' + id).textContent), 'the day renews within 4 s of the board\'s midnight',
                                midnight + 4000 - Date.now());
    check(new RegExp('^2026-12-08,Today\'s ranked try,,Today\'s best,No ranked game yet today\\.,Yesterday\'s ' +
                     `winner: Dana ${scores.Dana.toLocaleString('en')} Watch from \\d.*,Ends at .* in 23\u00a0h ` +
                     '59\u00a0min\\.$').test(renewed.join()),
          'at the board\'s midnight the page renews the day\'s lines: ' + JSON.stringify(renewed));
    await eve.close();

    // The next day, 7 s before the day's replays are shown, on a phone.
    await boardAt('2026-12-08T01:00:03Z', port);
    const next = await open(browser.defaultBrowserContext(), undefined,
                            {width: 390, height: 844, isMobile: true, hasTouch: true, deviceScaleFactor: 2});
    await shows(next, '#daily-kind', 'Today\'s ranked try', 'the next day brings a new ranked try');
    check(await next.$eval('#daily-yesterday button', b => b.disabled && /^Watch from \d/.test(b.textContent)),
          'yesterday\'s Watch waits for the day\'s replays');

    // Dana's try of the day, touched on the panel while it runs, once
    // yesterday's Watch can be watched.
    const place = selector => next.$eval(selector, e => (e.scrollIntoView({block: 'center'}),
      [(e.getBoundingClientRect().left + e.getBoundingClientRect().right) / 2, e.getBoundingClientRect().top + 5]));
    const cdp = await next.createCDPSession();
    const drag = async ([x0, y0], [x1, y1]) => {   // a finger, in ten moves
      for (let i = 0; i <= 10; i++) await cdp.send('Input.dispatchTouchEvent', {type: i ? 'touchMove' : 'touchStart',
        touchPoints: [{x: x0 + (x1 - x0) * i / 10, y: y0 + (y1 - y0) * i / 10}]});
      await cdp.send('Input.dispatchTouchEvent', {type: 'touchEnd', touchPoints: []});
    };
    const date = () => next.$eval('#daily-date', e => e.getBoundingClientRect().top), before = await date();
    const newTry = botGame(next, 1000);
    newTry.catch(() => {});   // (awaited below; a failure before that is the one told)
    await until(next, () => document.body.classList.contains('playing') &&
                document.getElementById('daily-result').textContent.startsWith('Your try is in play.'), 'the try runs');
    check(await date() === before, 'nothing on the panel moves as the game starts');
    await shows(next, '#daily-yesterday button:enabled', 'Watch', 'then it can be watched');
    await next.touchscreen.tap(...await place('#daily-yesterday button'));
    const asked = await until(next, () => !document.getElementById('ask').hidden &&
                              document.getElementById('ask-text').textContent, 'a tap on Watch asks first');
    check(asked === 'Watch this game? This ends your daily try: it counts as spent.', 'a tap on Watch asks: ' + asked);
    await next.screenshot({path: path.join(art, 'asked.png')});
    await next.touchscreen.tap(...await place('#ask-no'));
    await until(next, () => document.getElementById('ask').hidden, 'Keep playing takes the question away');
    const watch = await place('#daily-yesterday button');
    await drag([5, watch[1]], [365, watch[1]]);
    await drag(await next.$eval('canvas', c => [100, c.getBoundingClientRect().bottom - 40]), watch);
    check(await next.evaluate(() => _web_in_game() && document.getElementById('ask').hidden),
          'a swipe across the panel, and a drag from the game onto Watch, leave the game running, unasked');
    const played = await newTry;
    check(/^On the board of Daily Kiv 2026-12-08: [\d,]+ points?, #1\.$/.test(played.line) &&
          next.url().startsWith(url), 'the try counts: ' + played.line);
    await next.touchscreen.tap(...await place('#daily-yesterday button'));
    await shows(next, '#watch-score', `A game of ${points(scores.Dana)}`, 'Watch plays yesterday\'s winner');
    await next.goto(shared.split('\n')[1]);
    await shows(next, '#daily-board-title', 'The best of 2026-12-07 of 2 players', 'the link opens that day\'s board',
                30000);
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
