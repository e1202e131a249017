// The page's side of the online board (emitted before the game's own script,
// after replays.js): a ticket fetched ahead of every game gives its seed;
// a game played to its end on a ticket is handed over (ticket, name and
// replay) and the board plays it again to rank it; the best games of today,
// the week and all time, each to be watched; ?game=ID watches one. The board
// is this page's site unless <meta name="kiv-board" content="URL"> names
// another. Without a board the page says so in one line and plays as
// before: recorded, watchable, unranked. Names are always shown as text.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var meta = document.querySelector('meta[name="kiv-board"]');
  var base = (meta && meta.content ? meta.content : '').replace(/\/$/, '');
  var ticket = null;    // the next game's: {ticket, seed, expires}
  var ranked = null;    // the running game's ticket
  var offline = false;
  var period = 'day';
  var NAME = 'kiv.name';

  // The board answers in JSON, errors too; anything else (no answer, or a
  // web host's own page) means there is no board to reach.
  function Unreachable() {}
  function api(method, path, body) {
    return fetch(base + path, {
      method: method,
      headers: body ? {'Content-Type': 'application/json'} : {},
      body: body ? JSON.stringify(body) : undefined,
    }).then(function (r) {
      return r.json().then(function (data) {
        if (!r.ok) throw new Error(data.error || 'the board answered ' + r.status);
        return data;
      }, function () { throw new Unreachable(); });
    }, function () { throw new Unreachable(); });
  }
  function say(text) {
    $('board-status').textContent = text;
  }
  function reached() {
    if (offline) say('');
    offline = false;
    $('board').classList.remove('offline');
  }
  function unreachable() {
    offline = true;
    $('board').classList.add('offline');
    say('The board cannot be reached: games are recorded and can be watched, but not ranked.');
  }

  // A ticket for the next game; its seed is the one that game starts from.
  function fetchTicket() {
    ticket = null;
    return api('POST', '/api/tickets', {}).then(function (t) {
      ticket = t;
      reached();
      if (Module['kivReady']) _web_next_seed(t.seed);
      // Renewed before it expires if no game uses it.
      setTimeout(function () { if (ticket === t) fetchTicket(); }, Math.max(60000, t.expires * 1000 - Date.now() - 60000));
    }).catch(function (e) {
      if (e instanceof Unreachable) unreachable();
      else say('No ticket for the next game: ' + e.message);
    });
  }
  var startLoop = Module['kivStartLoop'];
  Module['kivStartLoop'] = function () {
    startLoop();
    if (ticket) _web_next_seed(ticket.seed);
  };

  Module['kivBoardGameStarted'] = function (seed) {
    ranked = ticket && ticket.seed === seed ? ticket : null;
    $('last-rank').textContent = '';
    if (!offline) fetchTicket();
  };

  function name() {
    return $('player-name').value.trim();
  }
  function base64(bytes) {
    var text = '';
    for (var i = 0; i < bytes.length; i += 0x8000)
      text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
    return btoa(text);
  }
  function submit(game) {
    var button = $('submit-game');
    button.hidden = true;
    $('last-rank').textContent = 'The board is playing your game again…';
    return api('POST', '/api/games', {ticket: game.ticket.ticket, name: name(), replay: base64(game.bytes)})
      .then(function (r) {
        game.ticket = null;
        // The ranks are left out when the board could not count them.
        $('last-rank').textContent = 'Verified: ' + r.score.toLocaleString('en') + ' points' + (r.ranks ?
          ', #' + r.ranks.day + ' today, #' + r.ranks.week + ' this week, #' + r.ranks.all + ' of all time.' : '.');
        showTop();
      })
      .catch(function (e) {
        $('last-rank').textContent = e instanceof Unreachable ? 'The board cannot be reached: try again.' :
          'Not on the board: ' + e.message;
        if (e instanceof Unreachable) button.hidden = false;
      });
  }
  Module['kivBoardGameRecorded'] = function (game) {
    game.ticket = game.over && ranked && ranked.seed === game.seed ? ranked : null;
    ranked = null;
    var button = $('submit-game');
    button.hidden = true;
    button.onclick = function () { submit(game); };
    if (!game.ticket) {
      $('last-rank').textContent = offline ? '' : game.over ? 'Unranked: the game had no ticket.' :
        'Unranked: the game was left before its end.';
    } else if (!name()) {
      $('last-rank').textContent = 'Enter your name to put this game on the board.';
      button.hidden = false;
    } else {
      submit(game);
    }
  };

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
      reached();
    }).catch(function (e) {
      if (e instanceof Unreachable) unreachable();
      else say('The board: ' + e.message);
    });
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

  function watchGame(id) {
    return fetch(base + '/api/games/' + encodeURIComponent(id) + '/replay').then(function (r) {
      if (!r.ok) throw new Error(r.status === 404 ? 'there is no such game on the board' : 'the board answered ' + r.status);
      return r.arrayBuffer();
    }).then(function (b) { return Module['kivWatch'](new Uint8Array(b)); })
      .catch(function (e) { say('That game cannot be watched: ' + e.message + '.'); });
  }

  var field = $('player-name');
  try { field.value = localStorage.getItem(NAME) || ''; } catch (e) {}
  field.addEventListener('input', function () {
    try { localStorage.setItem(NAME, field.value); } catch (e) {}
  });
  // Keys typed into the name are not the game's.
  field.addEventListener('keydown', function (e) { e.stopPropagation(); });

  fetchTicket();
  showTop();
  setInterval(function () { if (!document.hidden) showTop(); }, 60000);
  var game = new URLSearchParams(location.search).get('game');
  if (game) watchGame(game);
})();
