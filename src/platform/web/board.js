// The page's side of the online board (emitted before the game's own script,
// after replays.js): the requests to the board, its one status line, the
// best games of today, the week and all time, each to be watched, and
// ?game=ID to watch one. The board is this page's site unless
// <meta name="kiv-board" content="URL"> names another. Names (names.js),
// ranked games (tickets.js) and their verdicts (games.js) build on it.
// Without a board the page says so in one line and plays as before:
// recorded, watchable, unranked. Names are always shown as text.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var meta = document.querySelector('meta[name="kiv-board"]');
  var base = (meta && meta.content ? meta.content : '').replace(/\/$/, '');
  var offline = false;
  var period = 'day';

  // The board answers in JSON, errors too; anything else (no answer, or a
  // web host's own page) means there is no board to reach. A refusal is an
  // Error with the board's sentence, its status, what it answered and its
  // Retry-After.
  function Unreachable() {}
  function api(method, path, body, secret, ms) {
    var headers = {};
    if (body) headers['Content-Type'] = 'application/json';
    if (secret) headers['Authorization'] = 'Bearer ' + secret;
    var options = {method: method, headers: headers, body: body ? JSON.stringify(body) : undefined};
    var timer = null;
    if (ms && typeof AbortController !== 'undefined') {
      var abort = new AbortController();
      options.signal = abort.signal;
      timer = setTimeout(function () { abort.abort(); }, ms);
    }
    return fetch(base + path, options).then(function (r) {
      return r.json().then(function (data) {
        if (timer !== null) clearTimeout(timer);
        if (!r.ok) {
          var e = new Error(data.error || 'the board answered ' + r.status);
          e.status = r.status;
          e.data = data;
          e.retryAfter = Number(r.headers.get('Retry-After')) || 0;  // seconds, of a 429 or 503
          throw e;
        }
        return data;
      }, function () { throw new Unreachable(); });
    }, function () { throw new Unreachable(); });
  }
  // A request that must go out even as the page goes away.
  function send(path, body) {
    try {
      fetch(base + path, {method: 'POST', keepalive: true, headers: {'Content-Type': 'application/json'},
                          body: JSON.stringify(body)}).catch(function () {});
    } catch (e) {}
  }
  // Bytes as standard base64, as the board takes replays and chunks.
  function base64(bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }
  function say(text) {
    $('board-status').textContent = text;
  }
  // What renews itself when the board can be reached again (the lists, the
  // daily, the next ticket): each part of the page adds its own.
  var back = [];
  var shown = [];   // and what follows the lists as they are shown
  function reached() {
    var was = offline;
    if (offline) say('');
    offline = false;
    $('board').classList.remove('offline');
    if (was) back.forEach(function (fn) { fn(); });
  }
  function unreachable() {
    offline = true;
    $('board').classList.add('offline');
    say(navigator.onLine === false ? 'Offline: games are recorded, saved and can be watched, but not ranked.'
        : 'The board cannot be reached: games are recorded and can be watched, but not ranked.');
  }
  // What a failed request means to the player, in the board's words.
  function failed(e, what) {
    if (e instanceof Unreachable) unreachable();
    else say(what + e.message);
  }

  // The best games of a period, names as text.
  function showTop() {
    return api('GET', '/api/top?period=' + period + '&limit=10').then(function (top) {
      var list = $('top');
      list.textContent = '';
      top.games.forEach(function (g, i) {
        var row = document.createElement('li');
        var who = document.createElement('span');
        who.className = 'who';
        who.textContent = g.name;
        var score = document.createElement('span');
        score.className = 'score';
        score.textContent = g.score.toLocaleString('en');
        // A link to share; followed here, it watches in place.
        var watch = document.createElement('a');
        watch.className = 'button';
        watch.textContent = 'Watch';
        watch.href = '?game=' + encodeURIComponent(g.id);
        watch.onclick = function (e) {
          e.preventDefault();
          watchGame(g.id);
        };
        row.value = i + 1;
        row.append(who, ' ', score, ' ', watch);
        list.appendChild(row);
      });
      if (!top.games.length) list.textContent = 'No games yet.';
      list.classList.toggle('none', !top.games.length);
      reached();
      shown.forEach(function (fn) { fn(top.period, top); });
    }).catch(function (e) { failed(e, 'The board: '); }).then(renewLater);
  }
  // The lists are renewed a minute after they were last shown; 5 s after,
  // while the board cannot be reached, so that they (and what renews with
  // them) come back soon after the network does.
  var renewal = null;
  function renewLater() {
    clearTimeout(renewal);
    renewal = setTimeout(function () {
      if (document.hidden) renewLater();
      else showTop();
    }, offline ? 5000 : 60000);
  }
  document.querySelectorAll('#board [data-period]').forEach(function (b) {
    b.onclick = function () {
      period = b.dataset.period;
      document.querySelectorAll('#board [data-period]').forEach(function (o) {
        o.setAttribute('aria-pressed', String(o === b));
      });
      showTop();
    };
  });

  // A game of the board played in the canvas; what stops it is told in a
  // sentence (the board's own when it gives one) to `tell`, the board's
  // line unless another is named.
  function watchGame(id, tell) {
    return fetch(base + '/api/games/' + encodeURIComponent(id) + '/replay').then(function (r) {
      if (r.ok) return r.arrayBuffer();
      var plain = 'That game cannot be watched: ' +
        (r.status === 404 ? 'there is no such game on the board.' : 'the board answered ' + r.status + '.');
      return r.json().then(function (data) { throw new Error(data.error || plain); },
                           function () { throw new Error(plain); });
    }, function () {
      throw new Error('That game cannot be watched: the board cannot be reached.');
    }).then(function (b) { return Module['kivWatch'](new Uint8Array(b)); })
      .catch(function (e) { (tell || say)(e.message); });
  }

  // Keys typed into the board's fields are not the game's.
  document.querySelectorAll('#board input').forEach(function (field) {
    field.addEventListener('keydown', function (e) { e.stopPropagation(); });
  });

  Module['kivBoard'] = {
    base: base, api: api, send: send, base64: base64, say: say, failed: failed, showTop: showTop, Unreachable: Unreachable,
    reached: reached, unreachable: unreachable, offline: function () { return offline; }, watchGame: watchGame,
    onBack: function (fn) { back.push(fn); }, onTop: function (fn) { shown.push(fn); },
  };
  back.push(showTop);

  showTop();
  var game = new URLSearchParams(location.search).get('game');
  if (game) watchGame(game);
})();
