// The ranked game in play, streamed to the board as it is played (emitted
// before the game's own script, after tickets.js). From its first frame,
// about once a second, the page sends the board what was played since the
// steps the board holds: the whole frames from there, in the replay body's
// layout, compressed as a replay is (POST /api/tickets/ID/steps); the first
// chunk also carries the game's start (the replay's header as it began).
// The board checks the pace of every chunk on its own clock, so a game is
// never ahead of real time and never more than the margin behind. The board
// counting other steps than the page sent from (409) gets the frames from
// its count; a chunk lost or refused for a while (no network, 429, 503) is
// sent again with the frames played since, for as long as the oldest of
// them can still arrive within the margin; past it, or refused by the
// board, the ranking ends at once, said in one sentence (tickets.js), and
// the stream stops. The chunks wait on the game's own clock (the Worker's
// where there is one: a hidden tab keeps streaming), each in a task of its
// own, never holding up a frame. When the game ends the page waits for the
// chunk on its way, then sends the whole game (games.js).
(function () {
  var board = Module['kivBoard'];
  var EVERY_MS = 1000;    // from one chunk to the next
  var ANSWER_MS = 4000;   // how long a chunk's answer is waited for before it is sent again
  var stream = null;      // the game streamed: {game, held, sending, started, over, after}

  // How far behind real time the oldest step the board does not hold is, in ms.
  function late(s) {
    return performance.now() - s.game.since - (s.held + 1) * 10;
  }
  function stop(s, reason) {
    if (s.over !== null) return;
    s.over = reason || '';
    if (stream === s) stream = null;
    Module['kivLiveYouEnded']();
    if (reason) Module['kivUnrank'](reason);
  }
  function next(s, ms) {
    if (s.over !== null) return;
    Module['kivAfter'](Math.max(0, ms), function () { send(s); });
  }

  function send(s) {
    if (s.over !== null) return;
    var behind = late(s);
    if (behind > s.game.margin * 1000) {
      stop(s, 'its play could not reach the board for ' + (behind / 1000).toFixed(1) + ' s, longer than the ' +
           'board\'s margin of ' + s.game.margin + ' s.');
      return;
    }
    var size = _web_stream_chunk(s.held);
    // The game is no longer recorded (it ended, or was left): its end sends it.
    if (size === -1) return stop(s);
    if (size < 0) return stop(s, 'the board holds ' + s.held + ' of its steps, where none of its frames begins.');
    var steps = _web_chunk_steps();
    if (steps === 0) return next(s, EVERY_MS);
    var from = s.held, body = HEAPU8.slice(_web_replay_body(), _web_replay_body() + size);
    var ask = {steps: from};
    if (from === 0) ask.header = board.base64(s.header);
    s.started = performance.now();
    var wait = EVERY_MS;
    s.sending = Module['kivDeflate'](body).then(function (packed) {
      ask.chunk = board.base64(packed);
      return board.api('POST', '/api/tickets/' + s.game.ticket + '/steps', ask, s.game.secret, ANSWER_MS);
    }).then(function (r) {
      if (typeof r.steps === 'number') s.held = r.steps;
      if (Module['kivLiveYou']) Module['kivLiveYou'](r.watching, s.game);
    }, function (e) {
      if (e.status === 409 && e.data && typeof e.data.steps === 'number') {
        // The board holds another count: the frames from there at once.
        s.held = e.data.steps;
        wait = 0;
      } else if (e instanceof board.Unreachable || e.status === 429 || e.status >= 500) {
        // Again after the wait asked for, and at the latest when the
        // margin runs out: then the ranking ends at once, said so.
        wait = Math.min(Math.max(EVERY_MS, (e.retryAfter || 0) * 1000),
                        s.game.margin * 1000 - late(s) + (performance.now() - s.started) + 1);
      } else {
        stop(s, e.message);
      }
    }).then(function () {
      s.sending = null;
      if (s.after) return s.after();
      next(s, wait - (performance.now() - s.started));
    });
  }

  // The ranked game has begun (its first frame has run): its stream starts.
  Module['kivStreamStart'] = function (game) {
    if (stream) stop(stream);
    if (!_web_recorded_header()) return;
    stream = {game: game, held: 0, sending: null, started: 0, over: null, after: null,
              header: HEAPU8.slice(_web_replay_header(), _web_replay_header() + 64)};
    next(stream, EVERY_MS);
  };
  // The ranking ended otherwise (tickets.js): no more chunks.
  Module['kivStreamStop'] = function () {
    if (stream) stop(stream);
  };
  // The game has ended: resolves, once no chunk is on its way, to why the
  // ranking ended if the stream ended it, or to '' when the game may be sent.
  Module['kivStreamEnd'] = function (game) {
    var s = stream && stream.game === game ? stream : null;
    if (!s) return Promise.resolve('');
    return new Promise(function (resolve) {
      var done = function () {
        var reason = s.over;
        stop(s);
        resolve(reason || '');
      };
      if (s.sending) s.after = done;
      else done();
    });
  };
})();
