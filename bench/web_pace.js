// Measures how honest pages keep a ranked game's pace, as the board sees it:
// the bot's page (build-web/web-bot: the page with the test bot at its
// mouse, its own clock and loop) plays ranked games against a kiv-board
// through a recording proxy, in headless Chromium with the network or the
// CPU slowed down by DevTools. For each game: the time from the press on
// Start to the game's first frame, how much later the game arrived at the
// proxy (the board's side of the emulated network), counted from the
// arrival of its start, than it lasted (steps x 10 ms), how long its body
// took to arrive, and its steps per frame (average, worst aligned second).
//   NODE_PATH=build-web/node_modules node bench/web_pace.js build-web/web-bot build/kiv-board [--long] [--runs N]
// --long adds games of ten minutes to those of about ten seconds. The
// board runs with a wide --pace-margin and wide bounds on steps per frame,
// so that every game is sent and measured.
const http = require('http'), zlib = require('zlib');
const {startBoard, launch, claim, botGame} = require('../tests/web/lib.js');

const [botDir, boardBin] = process.argv.slice(2);
const long = process.argv.includes('--long');
const runsAt = process.argv.indexOf('--runs');
const runs = runsAt > 0 ? +process.argv[runsAt + 1] : 1;
const WIDE = '5';

const scenarios = [
  {name: 'plain', network: null, cpu: 1},
  {name: '300 ms latency', network: {latency: 300, downloadThroughput: -1, uploadThroughput: -1}, cpu: 1},
  {name: 'CPU 4x slower', network: null, cpu: 4},
  // 128 kbit/s up, 1 Mbit/s down, 100 ms: a poor mobile link.
  {name: '128 kbit/s up', network: {latency: 100, downloadThroughput: 125000, uploadThroughput: 16000}, cpu: 1},
];
// Steps of catching before the bot lets the balls fall (the game ends
// several seconds later).
const lengths = [{name: '10 s', steps: 400}].concat(long ? [{name: '10 min', steps: 59000}] : []);

// The steps per frame of a game: on average, and the most in any aligned
// second of play (each frame counted in the second where its first step
// falls).
function stepsPerFrame(frameSteps) {
  const seconds = [];
  let step = 0;
  for (const k of frameSteps) {
    const s = Math.floor(step / 100);
    seconds[s] = seconds[s] || {steps: 0, frames: 0};
    seconds[s].steps += k;
    seconds[s].frames++;
    step += k;
  }
  const worst = Math.max(...seconds.filter(Boolean).map(s => s.steps / s.frames));
  return {average: step / frameSteps.length, worst};
}

// The proxy in front of the board: when each start and each game arrived.
function proxy(target) {
  const starts = new Map();
  const games = [];
  const server = http.createServer((req, res) => {
    const begun = performance.now(), chunks = [];
    req.on('data', c => chunks.push(c));
    req.on('end', () => {
      const arrived = performance.now(), body = Buffer.concat(chunks);
      const start = req.method === 'POST' && req.url.match(/^\/api\/tickets\/([0-9a-f]{32})\/start$/);
      if (start) starts.set(start[1], arrived);
      if (req.method === 'POST' && req.url === '/api/games') {
        const sent = JSON.parse(body);
        const replay = Buffer.from(sent.replay, 'base64');
        const steps = replay.readUInt32LE(28);
        games.push({ticket: sent.ticket, late: arrived - starts.get(sent.ticket) - steps * 10,
                    upload: arrived - begun, bytes: body.length});
      }
      // Tickets tell the page the board's wide bounds on steps per frame, so
      // that every game is sent and measured.
      const ticket = req.method === 'POST' && req.url === '/api/tickets';
      const up = http.request({host: '127.0.0.1', port: target, path: req.url, method: req.method, headers: req.headers},
                              r => {
        if (!ticket || r.statusCode !== 201) {
          res.writeHead(r.statusCode, r.headers);
          r.pipe(res);
          return;
        }
        const parts = [];
        r.on('data', c => parts.push(c));
        r.on('end', () => {
          const wide = Buffer.from(JSON.stringify({...JSON.parse(Buffer.concat(parts)), max_steps_per_frame: +WIDE,
                                                   max_steps_per_frame_in_second: +WIDE}));
          res.writeHead(r.statusCode, {...r.headers, 'content-length': wide.length});
          res.end(wide);
        });
      });
      up.on('error', () => { res.writeHead(502); res.end(); });
      up.end(body);
    });
  });
  return new Promise(r => server.listen(0, '127.0.0.1', () => r({server, games, port: server.address().port})));
}

async function measure(port, scenario, length, run) {
  const browser = await launch();
  try {
    const page = await browser.newPage();
    await page.setViewport({width: 1200, height: 700});
    await page.goto(`http://127.0.0.1:${port}/?-nosound`);
    await page.waitForFunction(() => Module.kivReady, {timeout: 30000});
    await claim(page, `Pace${Date.now() % 100000}${run}`);
    const cdp = await page.createCDPSession();
    if (scenario.network) await cdp.send('Network.emulateNetworkConditions', {offline: false, ...scenario.network});
    await cdp.send('Emulation.setCPUThrottlingRate', {rate: scenario.cpu});
    await new Promise(r => setTimeout(r, 1500));   // a ticket fetched under the conditions
    return await botGame(page, length.steps, length.steps * 10 + 120000);
  } finally {
    await browser.close();
  }
}

(async () => {
  const {board, port: boardPort} = await startBoard(boardBin, botDir, ['--pace-margin', '600', '--max-steps-per-frame',
                                                                      WIDE, '--max-steps-per-frame-in-second', WIDE]);
  const {server, games, port} = await proxy(boardPort);
  try {
    console.log('scenario        | game     | Start->1st frame | arrived later than it lasted | body upload | steps/frame avg, worst second | page said');
    for (const length of lengths) {
      for (const scenario of scenarios) {
        for (let run = 0; run < runs; run++) {
          const before = games.length;
          const game = await measure(port, scenario, length, run);
          const sent = games.length > before ? games[games.length - 1] : null;
          const spf = stepsPerFrame(game.frameSteps);
          console.log(`${scenario.name.padEnd(15)} | ${(game.steps / 100).toFixed(0).padStart(5)} s | ` +
                      `${game.startToFrame.toFixed(0).padStart(13)} ms | ` +
                      `${sent ? (sent.late / 1000).toFixed(3).padStart(25) + ' s' : '             (not sent)'} | ` +
                      `${sent ? (sent.upload / 1000).toFixed(2).padStart(6) + ' s ' + String(sent.bytes).padStart(7) + ' B' : ''} | ` +
                      `${spf.average.toFixed(3)}, ${spf.worst.toFixed(2)} | ${game.line}`);
        }
      }
    }
  } finally {
    server.close();
    board.stop();
  }
})().catch(e => { console.error(e.message); process.exitCode = 1; });
