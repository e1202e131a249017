// The web build played in headless Chromium: how to play on a first visit,
// the title, Start held with the mouse, the pan following it, Escape, a game
// started and played with a finger, a lost ball, the game-over screen, a
// reload that keeps the high score, Escape on the title, Quit (no error on
// the way), and the page's options. Screenshots go to <artefacts>.
// Usage: node browser.js <web-dir> <artefacts-dir>   (puppeteer-core on NODE_PATH)
const fs = require('fs'), path = require('path');
const {serve, launch, check, canvasAt} = require('./lib.js');

const [webDir, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const sleep = ms => new Promise(r => setTimeout(r, ms));

// What the canvas shows, from a few pixels: the side panel (255, 255, 135)
// fills the right edge while playing; the title has its strip at the top.
const PANEL = '255,255,135';
async function screenOf(page) {
  return page.evaluate(PANEL => {
    const c = document.getElementById('canvas').getContext('2d');
    const at = (x, y) => Array.from(c.getImageData(x, y, 1, 1).data.slice(0, 3)).join(',');
    // the pan: the longest row of its greys, and where its middle is
    const d = c.getImageData(0, 0, 590, 480).data, greys = [60, 75, 90, 120, 225];
    let pan = {run: 0, x: -1};
    for (let y = 0; y < 480; y++) {
      for (let x = 0, run = 0; x < 590; x++) {
        const i = 4 * (y * 590 + x), g = d[i];
        run = d[i + 1] === g && d[i + 2] === g && greys.includes(g) ? run + 1 : 0;
        if (run > pan.run) pan = {run, x: x - run / 2};
      }
    }
    const name = at(630, 450) === PANEL ? 'playing' : at(500, 120) === PANEL ? 'title' : 'over';
    // the high score's second digit, 50 px right of its first at (10, 410)
    const digit = c.getImageData(60, 410, 48, 48).data.filter((v, i) => i % 4 === 0 && v !== 255).length;
    return {name, pan: pan.run > 100 ? pan.x : -1, second_digit: digit > 50};
  }, PANEL);
}
// Every check waits for its condition, up to a deadline: the page handles
// input, resizes and frames in its own time, later still on a busy machine.
// until: the first reading of the screen that passes the test (or the last).
async function until(page, test, ms = 10000) {
  for (const end = Date.now() + ms; ; await sleep(50)) {
    const s = await screenOf(page);
    if (test(s) || Date.now() > end) return s;
  }
}
async function waitFor(page, name, ms = 10000) {
  return (await until(page, s => s.name === name, ms)).name === name;
}
async function holds(page, fn, ms = 10000) {
  return page.waitForFunction(fn, {timeout: ms}).then(() => true, () => false);
}
// Waits for n of the display's frames.
const frames = (page, n) => page.evaluate(n => new Promise(done => {
  const frame = () => --n ? requestAnimationFrame(frame) : done();
  requestAnimationFrame(frame);
}), n);
// The pan's place once it is level and two readings agree.
async function panAtRest(page) {
  let last = -2;
  return (await until(page, s => { const rest = s.pan > 0 && Math.abs(s.pan - last) < 1; last = s.pan; return rest; })).pan;
}
let server;
(async () => {
  let url;
  ({server, url} = await serve(webDir));
  const browser = await launch();
  try {
    const page = await browser.newPage();
    const errors = [];   // what the page reports as an error (but the board's API, absent here)
    page.on('console', m => {
      if (m.text().includes('willReadFrequently')) return;
      console.log('page: ' + m.text());
      if (m.type() === 'error' && !/^Failed to load resource/.test(m.text())) errors.push(m.text());
    });
    page.on('pageerror', e => { console.log('page error: ' + e.message); errors.push(e.message); });
    await page.setViewport({width: 800, height: 600});
    await page.goto(url);
    check(await waitFor(page, 'title', 30000), 'the title comes up');
    const how = () => page.evaluate(() => ({open: document.getElementById('how-to').open,
      inView: document.querySelector('#how-to summary').getBoundingClientRect().bottom <= innerHeight,
      scores: document.getElementById('scores').textContent.replace(/\s+/g, ' ').trim()}));
    let help = await how();
    check(help.open && help.inView && help.scores === 'HIGH SCORE on the title: 1,000,000, the game\'s own · ' +
          'Your best: none yet', 'a first visit opens how to play at the panel\'s top, the scores labelled: ' +
          help.scores);
    check((await until(page, s => s.second_digit)).second_digit, 'without a stored score the high score is 1,000,000');
    // A stored score of three bytes reads as -1: any finished game beats it.
    // (Set from another page of the site: leaving the game stores its own.)
    await page.goto(url + 'elsewhere');
    await page.evaluate(() => localStorage.setItem('kiv.prf', '000000'));
    await page.goto(url);
    check(await waitFor(page, 'title', 30000), 'the title after a reload');
    // (a ball falling behind the digits can pass for a second one for a moment)
    check(!(await until(page, s => !s.second_digit)).second_digit, 'a short kiv.prf shows a high score of one digit');
    await page.screenshot({path: path.join(art, '1-title.png')});

    // The mouse: a click locks the pointer; held over Start, it starts a game.
    let at = await canvasAt(page);
    await page.mouse.move(...at(10, 10));
    await page.mouse.down();
    check(await holds(page, () => document.pointerLockElement !== null), 'a click locks the pointer');
    await page.mouse.move(...at(10 + 520, 10 + 316), {steps: 20});
    check(await waitFor(page, 'playing'), 'Start held with the mouse begins a game');
    await page.mouse.up();
    check(await holds(page, () => Module.kivAudio.context.state === 'running'), 'sound runs after the click');
    await page.mouse.move(...at(530 - 200, 326), {steps: 10});
    const before = await panAtRest(page);
    await page.mouse.move(...at(530 - 100, 326), {steps: 10});
    const after = (await until(page, s => Math.abs(s.pan - before - 100) < 8)).pan;
    check(before > 0 && Math.abs(after - before - 100) < 8, `the pan follows the mouse (${before} to ${after})`);
    await page.screenshot({path: path.join(art, '2-play.png')});
    // The browser's Escape: it releases the pointer, and that is the game's Escape.
    await page.evaluate(() => document.exitPointerLock());
    check(await waitFor(page, 'title'), 'releasing the pointer in a game returns to the title');

    // A finger: dragging moves the pointer, touching holds the button. The
    // phone is a browser of its own (its own storage): the high score it
    // keeps when it closes is not the first page's.
    const phone = await browser.createBrowserContext();
    const touch = await phone.newPage();
    await touch.setViewport({width: 844, height: 390, hasTouch: true, isMobile: true});
    await touch.goto(url);
    check(await waitFor(touch, 'title', 30000), 'the title on a phone-sized screen');
    at = await canvasAt(touch);
    const [x0, y0] = at(5, 5);
    await touch.touchscreen.touchStart(x0, y0);
    for (let i = 1; i <= 20; i++) await touch.touchscreen.touchMove(...at(5 + i * 26, 5 + i * 16));
    check(await waitFor(touch, 'playing'), 'a finger dragged onto Start begins a game');
    for (let i = 1; i <= 10; i++) await touch.touchscreen.touchMove(...at(525 - i * 10, 325));
    const first = await panAtRest(touch);
    for (let i = 1; i <= 10; i++) await touch.touchscreen.touchMove(...at(425 - i * 15, 325));
    const moved = (await until(touch, s => Math.abs(first - s.pan - 150) < 8)).pan;
    await touch.screenshot({path: path.join(art, '3-touch.png')});
    check(first > 0 && Math.abs(first - moved - 150) < 8, `the pan follows the finger (${first} to ${moved})`);
    await touch.touchscreen.touchEnd();
    await touch.keyboard.press('Escape');
    check(await waitFor(touch, 'title'), 'Escape in a game returns to the title');
    await phone.close();

    // Back in the first page: a game left alone until a ball is lost.
    await page.bringToFront();
    at = await canvasAt(page);
    await page.mouse.move(...at(300, 100), {steps: 5});
    await page.mouse.move(...at(300 + 240, 100 + 216), {steps: 20});
    await page.mouse.down();
    check(await waitFor(page, 'playing'), 'a second game');
    await page.mouse.up();
    await page.mouse.move(...at(1000, -500), {steps: 5});
    check(await waitFor(page, 'over', 60000), 'a lost ball ends the game');
    await page.screenshot({path: path.join(art, '4-game-over.png')});
    check(await waitFor(page, 'title', 30000), 'the title follows the game-over screen');
    check(await page.evaluate(() => Module.kivAudio.stats.effects > 0 && Module.kivAudio.stats.tracks > 0),
          'the game played effects and music');

    // Leaving the page keeps the high score the game reached (0, above -1).
    await page.reload();
    check(await waitFor(page, 'title', 30000), 'the title after leaving the page');
    const stored = await page.evaluate(() => localStorage.getItem('kiv.prf'));
    check(stored === '00000000', 'kiv.prf holds the new score: ' + stored);
    check(!(await until(page, s => !s.second_digit)).second_digit, 'the title shows it');
    help = await how();
    check(!help.open && help.inView && help.scores === 'HIGH SCORE on the title: 0, the game\'s own · Your best: 0',
          'once a game was played, how to play is one click away; the scores: ' + help.scores);

    // Escape on the title (the mouse free already) does nothing.
    await page.keyboard.press('Escape');
    await frames(page, 20);   // the game has seen it long before
    check(await page.evaluate(() => document.getElementById('notice').hidden) && await waitFor(page, 'title'),
          'Escape on the title leaves the game on its title');

    // Quit ends the loop and the page says so.
    at = await canvasAt(page);
    await page.mouse.move(...at(10, 10));
    await page.mouse.down();
    await page.mouse.move(...at(10, 366), {steps: 10});
    await page.mouse.move(...at(520, 366), {steps: 20});
    await page.waitForSelector('#notice:not([hidden]) button', {timeout: 10000});
    const text = await page.$eval('#notice', n => n.innerText.replace(/\n+/g, ' '));
    check(text === 'You left Kiv with Quit; your high score is kept. Play again Play again, or reloading the page, ' +
          'starts Kiv anew.', 'Quit leaves a calm page that offers to play again: ' + text);
    check(errors.length === 0, 'no error on the way (Quit included): ' + errors.join('; '));
    const frozen = await page.$eval('canvas', c => c.toDataURL());
    await frames(page, 10);   // the game would have drawn in each
    check(await page.$eval('canvas', c => c.toDataURL()) === frozen, 'no frame is drawn after Quit');
    await page.screenshot({path: path.join(art, '5-ended.png')});

    // A larger window scales the canvas to the room beside the 300 px panel.
    await page.setViewport({width: 1700, height: 1100});
    check(await holds(page, () => document.getElementById('canvas').getBoundingClientRect().width === 1400),
          'the canvas grows to 2.1875x in a window of 1700 x 1100');

    // The page's options follow the game's rules.
    await page.goto(url + '?-nosound&-mousespeed=15');
    check(await waitFor(page, 'title', 30000), 'options from the address');
    check(await page.evaluate(() => Module.kivAudio === undefined), '-nosound opens no sound');
    await page.goto(url + '?-mousespeed');
    await page.waitForSelector('#notice:not([hidden]) button', {timeout: 30000});
    const usage = await page.$eval('#notice', n => n.innerText);
    check(usage.startsWith('Kiv does not know an option in this address.\n') &&
          usage.includes(`Usage: ${url}?-nosound&-mousespeed=N\n`) && !usage.includes('Usage: kiv'),
          'a bad option shows the page\'s own usage line: ' + JSON.stringify(usage));
    await Promise.all([page.waitForNavigation(), page.$eval('#notice button', b => b.click())]);
    check(page.url() === url, 'and offers the page without options');
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => { if (server) server.close(); });
