// Ranked games handed to the board, and their verdicts (emitted before the
// game's own script, after tickets.js). A game is kept in the browser
// (IndexedDB) from the moment it is sent: the board answers at once that it
// has it (202, with the game's id) and judges it in its own time, and the
// page asks for the verdict until it comes, after a reload or a closed tab
// too. A game that could not reach the board when it ended cannot prove it
// was played at its pace: it stays a replay to save and watch, unranked.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var RETRY_MS = 1000;      // between sends of a game the board did not take
  var POLL_MS = [500, 1000, 2000, 4000, 8000, 15000, 30000];
  var KEEP = 20;            // games kept once judged
  var shown = null;         // the ticket of the game shown as the last one

  // The store: one record per ranked game, by its ticket:
  // {ticket, bytes, score, over, seed, steps, when (ms), id, status, verdict,
  // daily (its day, for a daily game), dailyTry (the day's ranked try)} with
  // status 'sending', 'pending', 'on the board', 'practice', 'refused' or 'unsent'.
  var database = new Promise(function (resolve, reject) {
    if (typeof indexedDB === 'undefined') throw new Error('no IndexedDB');
    var r = indexedDB.open('kiv', 1);
    r.onupgradeneeded = function () { r.result.createObjectStore('games', {keyPath: 'ticket'}); };
    r.onsuccess = function () { resolve(r.result); };
    r.onerror = function () { reject(r.error); };
  });
  database.catch(function () {});
  function store(mode, fn) {
    return database.then(function (db) {
      return new Promise(function (resolve, reject) {
        var tx = db.transaction('games', mode);
        var request = fn(tx.objectStore('games'));
        tx.oncomplete = function () { resolve(request && request.result); };
        tx.onerror = tx.onabort = function () { reject(tx.error); };
      });
    });
  }
  function keep(entry) {
    return store('readwrite', function (s) { return s.put(entry); }).catch(function () {});
  }

  function points(n) { return n.toLocaleString('en') + (n === 1 ? ' point' : ' points'); }

  function verdict(entry) {
    switch (entry.status) {
    case 'sending': return 'Sending the game to the board…';
    case 'pending': return 'The board is playing your game again…';
    default: return entry.verdict;
    }
  }
  function tell(entry) {
    if (entry.ticket === shown) {
      $('last-rank').textContent = verdict(entry);
    } else if (entry.status !== 'pending' && entry.status !== 'sending') {
      board.say('Your game of ' + points(entry.score) + ' of ' + new Date(entry.when).toLocaleString() + ': ' +
                entry.verdict);
    }
  }
  // What the board said of a game: still pending, or its verdict.
  function settle(entry, r) {
    entry.id = r.id;
    entry.status = r.status;
    if (r.status === 'on the board' && r.daily) {
      entry.verdict = 'On the board of Daily Kiv ' + r.daily + ': ' + points(r.score) +
        (r.ranks && r.ranks.daily ? ', #' + r.ranks.daily + '.' : '.');
    } else if (r.status === 'on the board') {
      var ranks = r.ranks;
      entry.verdict = 'On the board: ' + points(r.score) + (ranks ? ', #' + ranks.day + ' today, #' + ranks.week +
        ' this week, #' + ranks.all + ' of all time.' : '.');
      board.showTop();
    } else if (r.status === 'practice') {
      entry.verdict = 'Not on the board: practice of Daily Kiv ' + r.daily + ', verified, ' + points(r.score) + '.';
    } else if (r.status === 'refused') {
      entry.verdict = 'Not on the board: ' + r.reason;
    } else {
      entry.status = 'pending';
    }
    keep(entry);
    tell(entry);
    if (entry.status === 'pending') poll(entry, 0);
    daily(entry);
  }
  function give(entry, status, text) {
    entry.status = status;
    entry.verdict = text;
    keep(entry);
    tell(entry);
    daily(entry);
  }
  // The daily panel follows its games.
  function daily(entry) {
    if (entry.daily && Module['kivDailyJudged']) Module['kivDailyJudged'](entry);
  }

  // Asks for the verdict, less often the longer it takes.
  function poll(entry, tries) {
    setTimeout(function () {
      board.api('GET', '/api/games/' + encodeURIComponent(entry.id)).then(function (r) {
        settle(entry, r);
      }, function (e) {
        if (e.status === 404) give(entry, 'refused', 'Not on the board: the board no longer has this game.');
        else poll(entry, tries + 1);
      });
    }, POLL_MS[Math.min(tries, POLL_MS.length - 1)]);
  }

  // Sends the game, with the secret of the name that streamed it; a ranked
  // game just ended is sent again, when the board cannot be reached or asks
  // to wait (429, 503: after its Retry-After), while it can still arrive
  // within its margin.
  function send(entry, ranked) {
    var player = Module['kivPlayer']();
    var secret = ranked ? ranked.secret : player && player.secret;
    board.api('POST', '/api/games', {ticket: entry.ticket, replay: board.base64(entry.bytes)}, secret).then(function (r) {
      settle(entry, r);
    }, function (e) {
      if (e.status === 422 && e.data && e.data.id) {
        settle(entry, {id: e.data.id, status: 'refused', reason: e.message});
      } else if (e instanceof board.Unreachable || e.status >= 500 || e.status === 429) {
        var left = ranked ? ranked.margin * 1000 - (performance.now() - ranked.since - entry.steps * 10) : 0;
        var wait = Math.max(RETRY_MS, (e.retryAfter || 0) * 1000);
        if (left > wait) {
          setTimeout(function () { send(entry, ranked); }, wait);
          return;
        }
        give(entry, 'unsent', 'The board could not be reached when the game ended, so it cannot show it was ' +
             'played in real time: it stays here, unranked, to save and watch.');
        if (e instanceof board.Unreachable) board.unreachable();
      } else {
        give(entry, 'refused', 'Not on the board: ' + e.message);
      }
    });
  }

  // A ranked game played to its end, in time.
  Module['kivSubmit'] = function (game, ranked) {
    var entry = {ticket: ranked.ticket, bytes: game.bytes, score: game.score, over: game.over, seed: game.seed,
                 steps: game.steps, when: game.when.getTime(), status: 'sending', daily: ranked.daily,
                 dailyTry: ranked.dailyTry};
    shown = entry.ticket;
    tell(entry);
    keep(entry);
    daily(entry);
    send(entry, ranked);
  };
  Module['kivBoardGameShown'] = function () { shown = null; };

  // After a reload: the newest game kept is the last game again, with its
  // verdict, and the games still waiting for one are asked after.
  store('readonly', function (s) { return s.getAll(); }).then(function (entries) {
    entries.sort(function (a, b) { return b.when - a.when; });
    var newest = entries[0];
    if (newest && !Module['kivLastGame']) {
      Module['kivShowLastGame']({bytes: newest.bytes, score: newest.score, over: newest.over, seed: newest.seed,
                                 steps: newest.steps, when: new Date(newest.when)});
      shown = newest.ticket;
    }
    entries.forEach(function (entry, i) {
      if (entry.status === 'sending') send(entry, null);
      else if (entry.status === 'pending') poll(entry, 0);
      else if (i >= KEEP) store('readwrite', function (s) { return s.delete(entry.ticket); }).catch(function () {});
      if (entry.ticket === shown) tell(entry);
    });
  }).catch(function () {});
})();
