// Measures how honest pages keep a ranked game's pace, as the board sees it:
// the bot's page (build-web/web-bot: the page with the test bot at its
// mouse, its own clock and loop) plays ranked games against a kiv-board
// through a recording proxy, in headless Chromium with the network or the
// CPU slowed down by DevTools, or the network cut for a while mid-game.
// For each game: the time from the press on Start to the game's first
// frame; its stream, chunk by chunk, as it arrived at the proxy (the board's
// side of the emulated network), counted from the arrival of its start:
// how far ahead of real time a chunk's last step was at the most (due at
// start + steps x 10 ms, later than the chunk arrived) and how far behind
// its first step was at the most, and the longest time between two chunks;
// how much later than it lasted the whole game arrived, and its steps per
// frame (average, worst aligned second); and what the page said of it.
//   NODE_PATH=build-web/node_modules node bench/web_pace.js build-web/web-bot build/kiv-board [--long] [--runs N]
//     [--only NAME] [--stand-in]
// Games last about 40 s (the cuts begin 10 s into them); --long adds games
// of ten minutes. The board runs with a wide tolerance ahead of real time
// and wide bounds on steps per frame, so that what it would refuse is
// measured rather than refused; its margin is its default. With
// --stand-in the proxy takes the chunks itself, as a board that holds each
// one would (nothing refused: what an honest page does is measured alone).
const http = require('http'), zlib = require('zlib');
const {startBoard, launch, claim, botGame} = require('../tests/web/lib.js');

const [botDir, boardBin] = process.argv.slice(2);
const long = process.argv.includes('--long');
const option = name => { const i = process.argv.indexOf(name); return i > 0 ? process.argv[i + 1] : null; };
const runs = +(option('--runs') || 1);
const standIn = process.argv.includes('--stand-in');
const WIDE = '5';

const scenarios = [
  {name: 'as is'},
  {name: '300 ms latency', network: {latency: 300, downloadThroughput: -1, uploadThroughput: -1}},
  // 128 kbit/s up, 1 Mbit/s down, 100 ms: a poor mobile link.
  {name: '128 kbit/s up', network: {latency: 100, downloadThroughput: 125000, uploadThroughput: 16000}},
  {name: 'CPU 4x slower', cpu: 4},
  {name: 'cut 3 s', cut: 3000},
  {name: 'cut 15 s', cut: 15000},
].filter(s => !option('--only') || s.name === option('--only'));
const CUT_AT_MS = 10000;
// Steps of catching before the bot lets the balls fall (the game ends
// several seconds later).
const lengths = [{name: '40 s', steps: 3500}].concat(long ? [{name: '10 min', steps: 59000}] : []);

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

// The steps of a chunk (whole frames in the body's layout): every frame
// byte, button byte and last byte of a motion is below 0x80, so k frames
// of S steps hold k + 3S of them.
function chunkSteps(chunk) {
  const body = zlib.inflateSync(chunk);
  const ends = body.filter(b => b < 0x80).length;
  let steps = 0;
  for (let k = 0; k < body.length; k++) {
    if (k + 3 * steps === ends) return steps;
    steps += body[k] & 7;
  }
  return -1;
}

// The proxy in front of the board: when each start, chunk and game arrived,
// by ticket, in the order of their starts. With `standIn` it answers the
// chunks itself, as a board that takes each one would.
function proxy(target, standIn) {
  const games = [], byTicket = new Map();
  const server = http.createServer((req, res) => {
    const begun = performance.now(), chunks = [];
    req.on('data', c => chunks.push(c));
    req.on('end', () => {
      const arrived = performance.now(), body = Buffer.concat(chunks);
      const start = req.method === 'POST' && req.url.match(/^\/api\/tickets\/([0-9a-f]{32})\/start$/);
      if (start) {
        const game = {start: arrived, chunks: [], held: 0};
        games.push(game);
        byTicket.set(start[1], game);
      }
      const steps = req.method === 'POST' && req.url.match(/^\/api\/tickets\/([0-9a-f]{32})\/steps$/);
      const streamed = steps && byTicket.get(steps[1]);
      if (req.method === 'POST' && req.url === '/api/games') {
        const sent = JSON.parse(body), game = byTicket.get(sent.ticket);
        const replay = Buffer.from(sent.replay, 'base64');
        Object.assign(game, {late: arrived - game.start - replay.readUInt32LE(28) * 10, upload: arrived - begun,
                             bytes: body.length});
      }
      const answer = (status, headers, bytes) => {
        if (streamed && status === 200)
          streamed.chunks.push({arrived, from: JSON.parse(body).steps, held: JSON.parse(bytes).steps});
        res.writeHead(status, {...headers, 'content-length': bytes.length});
        res.end(bytes);
      };
      if (standIn && streamed) {
        const ask = JSON.parse(body);
        if (ask.steps !== streamed.held)
          return answer(409, {'content-type': 'application/json'}, Buffer.from(JSON.stringify({steps: streamed.held})));
        streamed.held += chunkSteps(Buffer.from(ask.chunk, 'base64'));
        return answer(200, {'content-type': 'application/json'},
                      Buffer.from(JSON.stringify({steps: streamed.held, watching: 0})));
      }
      // Tickets tell the page the board's wide bounds on steps per frame, so
      // that every game is sent and measured.
      const ticket = req.method === 'POST' && req.url === '/api/tickets';
      const up = http.request({host: '127.0.0.1', port: target, path: req.url, method: req.method, headers: req.headers},
                              r => {
        const parts = [];
        r.on('data', c => parts.push(c));
        r.on('end', () => {
          let bytes = Buffer.concat(parts);
          if (ticket && r.statusCode === 201)
            bytes = Buffer.from(JSON.stringify({...JSON.parse(bytes), max_steps_per_frame: +WIDE,
                                                max_steps_per_frame_in_second: +WIDE}));
          answer(r.statusCode, r.headers, bytes);
        });
      });
      up.on('error', () => { res.writeHead(502); res.end(); });
      up.end(body);
    });
  });
  return new Promise(r => server.listen(0, '127.0.0.1', () => r({server, games, port: server.address().port})));
}

// What the board saw of a stream: the most its chunks' last steps were
// ahead of real time and their first steps behind it (ms), and the longest
// time between two chunks.
function streamed(game) {
  let ahead = -Infinity, behind = -Infinity, gap = 0;
  game.chunks.forEach((c, i) => {
    ahead = Math.max(ahead, game.start + c.held * 10 - c.arrived);
    behind = Math.max(behind, c.arrived - (game.start + (c.from + 1) * 10));
    if (i) gap = Math.max(gap, c.arrived - game.chunks[i - 1].arrived);
  });
  return {count: game.chunks.length, ahead, behind, gap};
}

async function measure(port, scenario, length, run) {
  const browser = await launch();
  try {
    const page = await browser.newPage();
    await page.setBypassServiceWorker(true);   // the page's requests are the network's, to cut
    await page.setViewport({width: 1200, height: 700});
    await page.goto(`http://127.0.0.1:${port}/?-nosound`);
    await page.waitForFunction(() => Module.kivReady, {timeout: 30000});
    await claim(page, `Pace${Date.now() % 100000}${run}`);
    const cdp = await page.createCDPSession();
    const conditions = {offline: false, latency: 0, downloadThroughput: -1, uploadThroughput: -1};
    if (scenario.network) await cdp.send('Network.emulateNetworkConditions', {...conditions, ...scenario.network});
    await cdp.send('Emulation.setCPUThrottlingRate', {rate: scenario.cpu || 1});
    await new Promise(r => setTimeout(r, 1500));   // a ticket fetched under the conditions
    const game = botGame(page, length.steps, length.steps * 10 + 120000);
    if (scenario.cut) {
      await page.waitForFunction(ms => _web_recorded_steps() * 10 > ms, {timeout: 60000, polling: 50}, CUT_AT_MS);
      await cdp.send('Network.emulateNetworkConditions', {...conditions, offline: true});
      await new Promise(r => setTimeout(r, scenario.cut));
      await cdp.send('Network.emulateNetworkConditions', conditions);
    }
    return await game;
  } finally {
    await browser.close();
  }
}

(async () => {
  const {board, port: boardPort} = await startBoard(boardBin, botDir, [
    ...(standIn ? [] : ['--pace-tolerance', '60']), '--max-steps-per-frame', WIDE,
    '--max-steps-per-frame-in-second', WIDE]);
  const {server, games, port} = await proxy(boardPort, standIn);
  try {
    console.log('scenario        | game  | Start->1st frame | chunks | ahead most | behind most | longest gap | ' +
                'game late | steps/frame avg, worst second | page said');
    for (const length of lengths) {
      for (const scenario of scenarios) {
        for (let run = 0; run < runs; run++) {
          const game = await measure(port, scenario, length, run);
          const sent = games[games.length - 1];
          const spf = stepsPerFrame(game.frameSteps);
          const s = streamed(sent);
          const ms = v => (v / 1000).toFixed(3).padStart(8) + ' s';
          console.log(`${scenario.name.padEnd(15)} | ${(game.steps / 100).toFixed(0).padStart(3)} s | ` +
                      `${game.startToFrame.toFixed(0).padStart(13)} ms | ${String(s.count).padStart(6)} | ` +
                      `${ms(s.ahead)} | ${ms(s.behind)} | ${ms(s.gap)} | ` +
                      `${sent.late === undefined ? '(not sent)'.padStart(10) : ms(sent.late)} | ` +
                      `${spf.average.toFixed(3)}, ${spf.worst.toFixed(2)} | ${game.status} ${game.line}`);
        }
      }
    }
  } finally {
    server.close();
    board.stop();
  }
})().catch(e => { console.error(e.message); process.exitCode = 1; });
