// Ranked games (emitted before the game's own script, after daily.js). A
// ticket is fetched ahead of every game, a daily one when the next Start is
// today's daily (daily.js); it carries no seed. When the player
// presses Start the game waits while the page starts the ticket under the
// player's name, and begins from the seed the board then gives. From that
// moment the board's clock runs: the game must arrive as long after its
// start as it lasted, within the ticket's margin. The page counts how far
// its game has fallen behind real time (every stall the loop does not
// catch up) and, past the margin, says at once that the game is no longer
// ranked and lets the ticket go. The board also takes only games whose
// frames kept up with their steps (a bound on the steps per frame over the
// game and in every second of play, when its ticket says them): a browser
// too slow to draw the game's 100 frames a second is told so at once too. A game left early, or a page
// going away, lets its ticket go too. Without a name, a ticket or a board, or when the
// start fails, the game begins at once from a seed of its own, unranked,
// and the board's line says why.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var START_WAIT_MS = 5000;   // how long Start waits for the board
  // The next game's ticket of each kind, normal and daily: {ticket, expires, margin}.
  var tickets = {normal: null, daily: null};
  var fetching = {normal: false, daily: false};
  var renewal = {normal: null, daily: null};
  var next = function () { return Module['kivDailyNext'] ? Module['kivDailyNext']() : 'normal'; };
  var ranked = null;    // the game in play's: {ticket, margin, since, seed}
  var starting = null;  // the kind of ticket whose start is on its way
  var why = '';         // why the game in play is not ranked
  var stale = '';       // the board's sentence when it plays other rules than this page

  function fetchTicket(kind) {
    if (fetching[kind]) return;
    fetching[kind] = true;
    tickets[kind] = null;
    if (renewal[kind] !== null) clearTimeout(renewal[kind]);
    var ask = {rules: Module['kivRulesVersion']};
    if (kind === 'daily') ask.daily = true;
    board.api('POST', '/api/tickets', ask).then(function (t) {
      fetching[kind] = false;
      stale = '';
      tickets[kind] = t;
      board.reached();
      // Renewed before it expires if no game uses it.
      renewal[kind] = setTimeout(function () { if (tickets[kind] === t) fetchTicket(kind); },
                                 Math.max(60000, t.expires * 1000 - Date.now() - 60000));
    }, function (e) {
      fetching[kind] = false;
      // Told before Start, in the board's words; a new version may be ready.
      if (e.status === 409 && e.data && typeof e.data.rules === 'number') {
        stale = e.message;
        board.say(stale);
        if (Module['kivLookForUpdate']) Module['kivLookForUpdate']();
        return;
      }
      board.failed(e, 'No ticket for the next game: ');
    });
  }
  // The next Start's kind has changed: its ticket is fetched ahead too.
  Module['kivNextChanged'] = function () {
    if (!tickets[next()] && !board.offline()) fetchTicket(next());
  };
  board.onBack(function () { Module['kivNextChanged'](); });

  function abandon(game) {
    board.send('/api/tickets/' + game.ticket + '/abandon', {});
  }
  // The game in play is not ranked, for this reason (a sentence).
  function unranked(reason) {
    why = reason;
    board.say('Unranked: ' + reason);
  }
  // The ranked game in play stops counting; it plays on, recorded, unranked.
  // The reason is the page's (a clause) or the board's whole sentence.
  var NO_LONGER = 'This game is no longer ranked: ';
  function unrank(reason) {
    if (!ranked) return;
    Module['kivStreamStop']();
    abandon(ranked);
    ranked = null;
    why = reason.indexOf(NO_LONGER) === 0 ? reason.slice(NO_LONGER.length) : reason;
    board.say(NO_LONGER + why);
  }
  Module['kivUnrank'] = unrank;

  // How far the ranked game has fallen behind real time, in ms: the time
  // since its start was sent less the steps it has run.
  function lag(game, steps) {
    return performance.now() - game.since - steps * 10;
  }
  function behind(ms) {
    return (ms / 1000).toFixed(1) + ' s';
  }
  function bound(value, otherwise) {
    return typeof value === 'number' && value >= 1 ? value : otherwise;
  }
  function tooFew(steps, frames, most, where) {
    return 'it ran ' + (steps / frames).toFixed(2) + ' steps per frame' + where +
      ' (the browser could not draw the game\'s 100 frames a second); the board takes at most ' + most + '.';
  }

  // Start was pressed: the game asks for its seed. Returns true when the
  // page will answer (the game waits), false to let it begin at once.
  Module['kivSeedWanted'] = function () {
    var player = Module['kivPlayer']();
    ranked = null;
    why = '';
    if (board.offline()) {
      why = navigator.onLine === false ? 'played offline (a game counts only when the board sees it begin).'
        : 'the board could not be reached at Start.';
      return false;
    }
    if (!player) {
      unranked('claim a name to put your games on the board.');
      return false;
    }
    var kind = next();
    var t = tickets[kind];
    if (!t) {
      unranked(stale || 'the board gave no ticket for this game.');
      fetchTicket(kind);
      return false;
    }
    tickets[kind] = null;
    starting = kind;
    var since = performance.now();
    board.api('POST', '/api/tickets/' + t.ticket + '/start', {name: player.name}, player.secret, START_WAIT_MS)
      .then(function (s) {
        var game = {ticket: t.ticket, margin: t.margin, since: since, seed: s.seed >>> 0, secret: player.secret,
                    average: bound(t.max_steps_per_frame, Infinity),
                    perSecond: bound(t.max_steps_per_frame_in_second, Infinity),
                    seen: 0, second: 0, frames: 0, daily: s.daily, dailyTry: s.ranked};
        if (_web_seed_game(1, game.seed)) {
          ranked = game;
          board.say('');
          if (s.daily && Module['kivDailyStarted']) Module['kivDailyStarted'](s);
        } else {
          abandon(game);
        }
      }, function (e) {
        // A start that was taken but not answered in time is let go.
        if (e instanceof board.Unreachable) abandon(t);
        if (e.status === 401) Module['kivPlayerRefused']();
        unranked(e instanceof board.Unreachable ? 'the board did not answer at Start.' : e.message);
        _web_seed_game(0, 0);
        if (kind === 'daily' && Module['kivDailyEnded']) Module['kivDailyEnded']();
      }).then(function () {
        starting = null;
        Module['kivWake']();
        fetchTicket(next());
      });
    return true;
  };

  // After every frame: a ranked game past its margin, or a second of play
  // that ran too few frames, is told at once. A frame is counted in the
  // second (100 steps) of its first step; a second is judged once the next
  // one has begun.
  Module['kivAfterTick'] = function () {
    if (!ranked) return;
    var steps = _web_recorded_steps();
    if (steps <= ranked.seen) return;
    var second = Math.floor(ranked.seen / 100);
    ranked.seen = steps;
    if (second !== ranked.second) {
      if (100 > ranked.frames * ranked.perSecond) {
        unrank(tooFew(100, ranked.frames, ranked.perSecond, ' in a second of play'));
        return;
      }
      ranked.second = second;
      ranked.frames = 0;
    }
    ranked.frames++;
    var late = lag(ranked, steps);
    if (late > ranked.margin * 1000)
      unrank('it has fallen ' + behind(late) + ' behind real time (the browser was too busy, or the tab hidden).');
  };
  // A hidden tab slows the page's own timers: without the Worker's clock, a
  // ranked game cannot keep its pace there.
  document.addEventListener('visibilitychange', function () {
    if (document.hidden && ranked && !Module['kivSteadyClock']()) unrank('its tab was hidden.');
  });
  var unrecorded = Module['kivGameUnrecorded'];
  Module['kivGameUnrecorded'] = function () {
    unrank('it is longer than a replay can hold.');
    unrecorded();
  };
  // A page going away lets its ranked game's ticket go.
  window.addEventListener('pagehide', function () {
    if (ranked) abandon(ranked);
    ranked = null;
  });

  // What the game in play loses if it is left now (inplay.js asks first).
  Module['kivStake'] = function () {
    if ((ranked && ranked.dailyTry) || starting === 'daily') return 'This ends your daily try: it counts as spent.';
    if (ranked && ranked.daily) return 'This ends your practice of today\'s seed.';
    if (ranked) return 'This ends your ranked game: it will not reach the board.';
    return 'This ends the game in play.';
  };

  // The game's first frame has run: a ranked one is streamed from now on.
  Module['kivBoardGameStarted'] = function (seed) {
    if (ranked && ranked.seed !== seed) ranked = null;
    if (ranked) Module['kivStreamStart'](ranked);
    Module['kivNextChanged']();
  };

  // The game has ended: a ranked game played to its end goes to the board
  // (once the chunk on its way is answered) if it kept its pace; one left
  // early lets its ticket go.
  Module['kivBoardGameRecorded'] = function (game) {
    var mine = ranked && ranked.seed === game.seed ? ranked : null;
    ranked = null;
    Module['kivBoardGameShown']();
    if (mine && mine.daily && Module['kivDailyEnded']) Module['kivDailyEnded']();
    var line = $('last-rank');
    if (!mine) {
      line.textContent = 'Unranked: ' + (why || 'the game had no ticket.');
      return;
    }
    line.textContent = '';
    Module['kivStreamEnd'](mine).then(function (reason) { judged(game, mine, reason); });
  };
  function judged(game, mine, reason) {
    var line = $('last-rank');
    if (reason) {
      line.textContent = 'Unranked: ' + reason;
      return;
    }
    if (!game.over) {
      abandon(mine);
      line.textContent = 'Unranked: the game was left before its end.';
      return;
    }
    var late = lag(mine, game.steps);
    if (late > mine.margin * 1000) {
      abandon(mine);
      line.textContent = 'Unranked: the game fell ' + behind(late) + ' behind real time.';
      return;
    }
    if (game.steps > game.frames * mine.average) {
      abandon(mine);
      line.textContent = 'Unranked: ' + tooFew(game.steps, game.frames, mine.average, '');
      return;
    }
    Module['kivSubmit'](game, mine);
  }

  fetchTicket(next());
})();
