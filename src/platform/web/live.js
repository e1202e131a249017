// Live now (emitted before the game's own script, after stream.js): the
// normal games being played on the board now, the longest-running first
// (name, minutes played, watchers), renewed every 15 s while the page is
// seen (the part hidden while the board cannot be reached); Watch live plays one in the canvas with the game's own code, a
// second or two behind its player (replays.cpp), with its running score, and
// at its end says the board's verdict. Watching asks first before it
// leaves a game in play (inplay.js) and never touches the page's own high
// score (replays.cpp puts it back). The player of a ranked game sees how
// many watch it (each chunk's answer says so).
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var RENEW_MS = 15000;
  var POLL_MS = 2000;      // a pending verdict asked for again
  var source = null;       // the EventSource of the game watched live
  var renewal = null;

  function line(id, text) {
    $(id).textContent = text;
    $(id).hidden = !text;
  }
  function say(text) { line('live-status', text); }
  function points(n) { return n.toLocaleString('en') + (n === 1 ? ' point' : ' points'); }
  function minutes(steps) {
    var m = Math.floor(steps / 6000);
    return m < 1 ? 'under a minute' : m + ' min';
  }

  function show() {
    clearTimeout(renewal);
    board.api('GET', '/api/live?limit=10').then(function (live) {
      var list = $('live-list');
      list.textContent = '';
      live.games.forEach(function (g) {
        var row = document.createElement('li');
        var who = document.createElement('span');
        who.className = 'who';
        who.textContent = g.name;
        var how = document.createElement('span');
        how.className = 'score';
        how.textContent = minutes(g.steps) + ', ' + g.watching + ' watching';
        var button = document.createElement('button');
        button.textContent = 'Watch live';
        button.onclick = function () {
          Module['kivEndGame']('Watch ' + g.name + ' live', function () { watch(g.id, g.name); });
        };
        row.append(who, ' ', how, ' ', button);
        list.appendChild(row);
      });
      if (!live.games.length) list.textContent = 'No games being played.';
      list.classList.toggle('none', !live.games.length);
      $('live').hidden = false;
    }, function () {
      // Without a board to reach, nothing is live here.
      $('live').hidden = true;
    }).then(function () {
      renewal = setTimeout(function wait() {
        if (document.hidden) renewal = setTimeout(wait, RENEW_MS);
        else show();
      }, RENEW_MS);
    });
  }

  function bytes(text) {
    var raw = atob(text), out = new Uint8Array(raw.length);
    for (var i = 0; i < raw.length; i++) out[i] = raw.charCodeAt(i);
    return out;
  }
  function close() {
    if (source) source.close();
    source = null;
  }

  // The board's verdict on the game watched, once it has one.
  function verdict(id, name) {
    board.api('GET', '/api/games/' + encodeURIComponent(id)).then(function (g) {
      if (g.status === 'pending') return void setTimeout(function () { verdict(id, name); }, POLL_MS);
      if (g.status === 'refused') say(name + '\'s game was refused: ' + g.reason);
      else say(name + '\'s game ended: ' + points(g.score) + (g.ranks && g.ranks.day ? ', #' + g.ranks.day +
               ' today.' : '.'));
    }, function () { say(name + '\'s game ended; the board cannot be reached for its verdict.'); });
  }

  // Watches the game `id` live: its start, then its chunks in order (each
  // decompressed in turn), then its end.
  function watch(id, name) {
    close();
    say('');
    var url = board.base + '/api/live/' + encodeURIComponent(id) + '?from=0';
    var es = source = new EventSource(url);
    var queue = Promise.resolve(), began = false;
    function failed(text) {
      if (source === es) close();
      say(text);
      if (began) _web_watch_stop();
    }
    function then(fn) {
      queue = queue.then(function () { if (source === es) return fn(); })
        .catch(function (e) { failed('This live game cannot be watched: ' + e.message + '.'); });
    }
    es.addEventListener('game', function (e) {
      var g = JSON.parse(e.data);
      then(function () {
        // Connected again after a break, the stream begins anew: the game
        // goes on from what is held (its chunks may repeat steps held).
        if (began) return;
        HEAPU8.set(bytes(g.header).subarray(0, 64), _web_replay_header());
        if (!_web_watch_live()) throw new Error(UTF8ToString(_web_replay_error()));
        began = true;
        $('watch-score').textContent = 'Watching ' + name + ' live';
        $('watching').classList.add('live');
        $('watch-title').textContent = 'Watching live';
        $('watching').hidden = false;
      });
    });
    es.addEventListener('chunk', function (e) {
      var c = JSON.parse(e.data);
      then(function () {
        // At most twelve bytes a step (a frame's byte, the buttons, and two
        // motions of five bytes at most): a joined chunk of a long game
        // is as long as its steps make it, and no longer.
        var limit = Math.max(0, c.to - c.steps) * 12 + 16;
        if (!(limit >= 16)) throw new Error('its chunk does not say its steps');
        return Module['kivInflate'](bytes(c.chunk), limit).then(function (body) {
          if (!began || source !== es) return;
          HEAPU8.set(body, _web_replay_body());
          if (!_web_live_chunk(c.steps, body.length)) throw new Error(UTF8ToString(_web_replay_error()));
        });
      });
    });
    es.addEventListener('end', function (e) {
      var end = JSON.parse(e.data);
      es.close();
      then(function () {
        if (!began) return say(end.reason || 'That game has ended.');
        _web_live_end(end.game ? 1 : 0);
        if (end.game) {
          say(name + '\'s game has ended; its verdict follows.');
          verdict(end.game, name);
        } else {
          say(end.reason || name + ' left the game.');
        }
      });
    });
    // Refused before the stream (no such game, a daily game not served yet,
    // too many watched): the same address once more for the board's sentence.
    es.onerror = function () {
      if (es.readyState !== 2 || source !== es) return;
      fetch(url).then(function (r) { return r.json(); }).then(function (d) {
        failed(d.error || 'That game cannot be watched live.');
      }, function () { failed('That game cannot be watched live: the board cannot be reached.'); });
    };
  }

  // Watching has ended (its end, Stop, or another game watched): the stream
  // is no longer wanted, unless the end still waits for its verdict.
  var ended = Module['kivWatchEnded'];
  Module['kivWatchEnded'] = function () {
    ended();
    $('watching').classList.remove('live');
    $('watch-title').textContent = 'Watching a replay';
    close();
  };

  // How many watch the ranked game in play, from each chunk's answer.
  Module['kivLiveYou'] = function (watching) {
    line('live-you', watching > 0 ? (watching === 1 ? 'One person is' : watching + ' people are') +
      ' watching your game.' : '');
  };
  Module['kivLiveYouEnded'] = function () { line('live-you', ''); };

  board.onBack(show);
  show();
})();
