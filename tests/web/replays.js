// Replays in the page, in headless Chromium, served without a board: three
// games of one visit, each saved with the page's button and verified on its
// own by kiv-verify to the score the page showed (and the page says in one
// line that there is no board to rank them); the last one watched to its end; a replay named by
// the address, one opened from a file and one dropped on the page watched
// (Escape and Stop end watching, the stored high score stays as it was);
// and a file that is no replay refused in one line.
// Usage: node replays.js <web-dir> <replays-dir> <kiv-verify> <artefacts-dir>
const fs = require('fs'), os = require('os'), path = require('path');
const {execFileSync} = require('child_process');
const {serve, launch, check, until, pressStart} = require('./lib.js');

const [webDir, replaysDir, verifier, art] = process.argv.slice(2);
fs.mkdirSync(art, {recursive: true});
const downloads = fs.mkdtempSync(path.join(os.tmpdir(), 'kiv-downloads-'));

let server;
(async () => {
  let url;
  ({server, url} = await serve(webDir, replaysDir));
  const browser = await launch();
  try {
    const page = await browser.newPage();
    page.on('pageerror', e => console.log('page error: ' + e.message));
    const cdp = await page.createCDPSession();
    // Each download saved under its id, with the name the page gave it.
    await cdp.send('Browser.setDownloadBehavior', {behavior: 'allowAndName', downloadPath: downloads, eventsEnabled: true});
    const names = {}, saved = [];
    cdp.on('Browser.downloadWillBegin', e => { names[e.guid] = e.suggestedFilename; });
    cdp.on('Browser.downloadProgress', e => { if (e.state === 'completed') saved.push(e.guid); });
    await page.setViewport({width: 1200, height: 700});
    // A stored high score of 0: a watched game of more must not replace it.
    await page.goto(url + 'elsewhere');
    await page.evaluate(() => localStorage.setItem('kiv.prf', '00000000'));
    await page.goto(url);
    await until(page, () => Module.kivReady, 'the page starts');
    await page.evaluate(() => {
      window.kivStarted = 0;
      const started = Module.kivGameStarted;
      Module.kivGameStarted = (...a) => { window.kivStarted++; started(...a); };
    });

    // Three games: lost, left with Escape, lost. Each is saved and verified.
    const ends = ['over', 'left', 'over'];
    for (let game = 0; game < 3; game++) {
      await page.evaluate(() => { window.kivBefore = Module.kivLastGame; window.kivStartedBefore = window.kivStarted; });
      const at = await pressStart(page);
      await until(page, () => window.kivStarted > window.kivStartedBefore, `game ${game + 1} starts`);
      await page.mouse.up();
      await page.mouse.move(...at(200 + 150 * game, 300), {steps: 10});
      if (ends[game] === 'left') await page.keyboard.press('Escape');
      await until(page, () => Module.kivLastGame !== window.kivBefore, `game ${game + 1} is recorded`, 30000);
      // The page lets the pointer go after a game, for its buttons.
      await until(page, () => document.pointerLockElement === null, 'the pointer is let go');
      const shown = await page.$eval('#last-score', e => e.textContent);
      await page.click('#save-replay');
      for (const end = Date.now() + 10000; saved.length <= game && Date.now() < end;)
        await new Promise(r => setTimeout(r, 50));
      const file = names[saved[game]];
      check(/^kiv-\d{4}-\d\d-\d\d-\d{6}-\d+\.rec$/.test(file || ''), `game ${game + 1} saved as ${file}`);
      const verified = JSON.parse(execFileSync(verifier, [path.join(downloads, saved[game])], {encoding: 'utf8'}));
      check(verified.end === ends[game] && shown.startsWith(verified.score.toLocaleString('en') + ' point') &&
            file.endsWith('-' + verified.score + '.rec'),
            `kiv-verify: game ${game + 1} ${verified.end} with ${verified.score}, as the page showed ("${shown}")`);
    }
    await page.screenshot({path: path.join(art, '1-recorded.png')});
    check(await page.$eval('#board-status', e => e.offsetParent !== null && e.textContent) ===
          'The board cannot be reached: games are recorded and can be watched, but not ranked.',
          'without a board the page says so in one line, shown');

    // The last game watched at 16x to its end, then the title again.
    await page.click('#watch-last');
    await until(page, () => !document.getElementById('watching').hidden, 'watching begins');
    await page.click('#watching [data-speed="16"]');
    await until(page, () => document.getElementById('watching').hidden, 'the watched game ends', 20000);

    // A replay from the address: a game of 9,828, more than the stored 0.
    await page.goto(url + '?watch=replays/game.rec');
    await until(page, () => !document.getElementById('watching').hidden, 'a replay named by the address plays');
    check(await page.$eval('#watch-score', e => e.textContent) === 'A game of 9,828 points', 'its score is shown');
    await until(page, () => parseFloat(document.querySelector('#progress div').style.width) > 5, 'the bar moves');
    await page.screenshot({path: path.join(art, '2-watching.png')});
    await page.click('#watching [data-speed="16"]');
    await until(page, () => document.getElementById('watching').hidden, 'it plays to its end', 20000);
    await page.goto(url + 'elsewhere');
    check(await page.evaluate(() => localStorage.getItem('kiv.prf')) === '00000000', 'the stored high score is untouched');

    // Opened from a file, ended with Escape; dropped on the page, ended with Stop.
    await page.goto(url);
    await until(page, () => Module.kivReady, 'the page starts again');
    const input = await page.$('#open-file');
    await input.uploadFile(path.join(replaysDir, 'game.rec'));
    await until(page, () => !document.getElementById('watching').hidden, 'a replay opened from a file plays');
    await page.keyboard.press('Escape');
    await until(page, () => document.getElementById('watching').hidden, 'Escape ends watching');
    check(await page.evaluate(() => document.getElementById('notice').hidden), 'and the game goes on');
    const bytes = Array.from(fs.readFileSync(path.join(replaysDir, 'short.rec')));
    await page.evaluate(b => {
      const data = new DataTransfer();
      data.items.add(new File([new Uint8Array(b)], 'short.rec'));
      document.getElementById('stage').dispatchEvent(new DragEvent('drop', {dataTransfer: data, bubbles: true}));
    }, bytes);
    await until(page, () => !document.getElementById('watching').hidden, 'a replay dropped on the page plays');
    await page.click('#watch-stop');
    await until(page, () => document.getElementById('watching').hidden, 'Stop ends watching');
    await input.uploadFile(path.join(webDir, 'index.html'));
    const refused = await until(page, () => document.getElementById('replay-error').textContent, 'a file that is no replay');
    check(refused === 'This replay cannot be played: byte 0: not a Kiv replay (it does not begin with "KIVR").',
          'is refused in one line: ' + refused);
    console.log('PASS');
  } finally {
    await browser.close();
  }
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; }).finally(() => {
  if (server) server.close();
  fs.rmSync(downloads, {recursive: true, force: true});
});
