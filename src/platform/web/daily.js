// Daily Kiv (emitted before the game's own script, after names.js): one seed
// a day for everyone, one ranked try a day per name, a board per day. The
// panel shows today (UTC days) and the time left in it in the player's own
// time; the choice for the next Start (today's ranked try, after it practice
// of today's seed, or a normal game) with its rule said before Start; the
// try's result, rank and streak, and Share; the day's best ten; and
// yesterday's winner, to watch once the board shows that day's replays.
// ?daily=YYYY-MM-DD opens the panel on that day's board. tickets.js asks
// kivDailyNext() which ticket the next Start takes.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var NEXT = 'kiv.next';         // the choice kept in the browser: 'daily' or 'normal'
  var DAY = 86400;
  var today = null;              // GET /api/daily's answer, and `at`: performance.now() when it came
  var asked = new URLSearchParams(location.search).get('daily');   // the day whose board is shown
  // A normal game unless the player chose the daily, or came by a daily's link.
  var next = asked ? 'daily' : 'normal';
  var playing = null;            // the daily game in play: the start's answer {daily, ranked}
  var sending = false;           // the try is on its way to the board
  var yesterday = '';            // the day whose winner is shown
  var opens = null;              // the timer that enables yesterday's Watch
  var asking = 0;                // questions to the board on their way
  var questions = 0, answered = 0;   // the newest question asked, and the newest answered
  var midnight = null;           // the timer that renews the panel when the day ends
  var lastAsked = 0;             // performance.now() of the last question at the day's end
  var shortest = Infinity;       // the least time left shown for today: the countdown only counts down

  try { if (localStorage.getItem(NEXT) === 'daily') next = 'daily'; } catch (e) {}

  var UNREACHABLE = 'The board cannot be reached.';
  function status(text) { $('daily-status').textContent = text; }
  function points(n) { return n.toLocaleString('en') + (n === 1 ? ' point' : ' points'); }
  function players(n) { return n.toLocaleString('en') + (n === 1 ? ' player' : ' players'); }
  // The board's clock in unix seconds (under test it is not the browser's).
  function now() {
    return today.now + (performance.now() - today.at) / 1000;
  }
  function dayStart(date) { return Date.parse(date + 'T00:00:00Z') / 1000; }
  function dayBefore(date) { return new Date((dayStart(date) - DAY) * 1000).toISOString().slice(0, 10); }
  function clock(time) {
    return new Date(time * 1000).toLocaleTimeString([], {hour: '2-digit', minute: '2-digit'});
  }
  // "23 h 59 min", its parts never broken over two lines.
  function span(seconds) {
    var minutes = Math.floor(seconds / 60), hours = Math.floor(minutes / 60);
    if (minutes < 1) return 'less than a\u00a0minute';
    return (hours ? hours + '\u00a0h ' : '') + (minutes % 60) + '\u00a0min';
  }
  function text(className, value) {
    var part = document.createElement('span');
    part.className = className;
    part.textContent = value;
    return part;
  }
  function who(name) { return text('who', name); }
  function score(n) { return text('score', n.toLocaleString('en')); }
  function watchButton(id) {
    var button = document.createElement('button');
    button.textContent = 'Watch';
    button.onclick = function () {
      status('');
      board.watchGame(id, status);
    };
    return button;
  }

  // The next Start: today's daily (ranked or practice, as the board has it)
  // or a normal game; normal while the board has no daily.
  Module['kivDailyNext'] = function () { return today && next === 'daily' ? 'daily' : 'normal'; };
  document.querySelectorAll('#daily-next input').forEach(function (radio) {
    radio.onchange = function () {
      next = radio.value;
      try { localStorage.setItem(NEXT, next); } catch (e) {}
      show();
      if (Module['kivNextChanged']) Module['kivNextChanged']();
    };
  });

  // The time left in today, counted down from the board's clock (which it
  // gives to the second: a new answer may put it up to a second later);
  // past the day's end the board is asked for the new day, once a second
  // until it gives it.
  function left() {
    if (!today) return;
    var rest = Math.min(today.ends - now(), DAY - 1, shortest);
    shortest = rest;
    if (rest <= 0 && !asking && performance.now() - lastAsked > 900) {
      lastAsked = performance.now();
      ask();
    }
    $('daily-left').textContent = 'Ends at ' + clock(today.ends) + ' your time, in ' + span(Math.max(0, rest)) + '.';
  }
  function renewAtMidnight() {
    if (midnight !== null) clearTimeout(midnight);
    var wait = (today.ends - now()) * 1000;
    midnight = setTimeout(function () {
      midnight = null;
      left();
    }, wait > 0 ? wait + 100 : 1000);
  }

  // What the player has of today: the rule before Start, the try's result.
  function show() {
    if (!today) return;
    var you = today.you, player = Module['kivPlayer']();
    var tried = !!(you && you.tried) || !!(playing && playing.ranked);
    $('daily').hidden = false;
    $('daily-date').textContent = today.date;
    $('daily-date').title = 'Days change at midnight UTC.';
    left();
    $('daily-kind').textContent = tried ? 'Practice today\'s seed (unranked)' : 'Today\'s ranked try';
    document.querySelectorAll('#daily-next input').forEach(function (radio) { radio.checked = radio.value === next; });
    $('daily-seed').hidden = next === 'normal';
    $('daily-rule').textContent = next === 'normal' ? 'A normal game: a seed of its own, on the usual board.'
      : !player ? 'Claim a name under Board for today\'s ranked try; without one, Start plays a normal game, unranked.'
      : tried ? 'You have played today\'s ranked try. Practice plays today\'s seed again: verified and kept, on no ' +
                'board, its replay shown after the day.'
      : 'Your one ranked try of today counts from Start, once: a game left, refused or never sent (a closed tab, ' +
        'a lost connection) spends it too.';

    var result = '', game = you && you.game;
    if (playing && playing.ranked) result = 'Your try is in play.';
    else if (game && game.status === 'on the board')
      result = 'Your try: ' + points(game.score) + ' · #' + game.rank + ' of ' + players(today.players);
    else if (game && game.status === 'pending') result = 'Your try: the board is playing it again…';
    else if (game) result = 'Your try was refused by the board.';
    else if (sending) result = 'Your try: sending it to the board…';
    else if (tried) result = 'Your try of today was spent without reaching the board.';
    if (result && you && you.streak > 0)
      result += ' · streak: ' + (you.streak === 1 ? '1 day' : you.streak + ' days in a row');
    $('daily-result').textContent = result;
    $('daily-you').hidden = !result;
    $('daily-share').hidden = !(game && game.status === 'on the board' && !(playing && playing.ranked));
  }

  // Share: the result in one line and the link to the day's board.
  function shareText() {
    var game = today.you.game;
    return 'Daily Kiv ' + today.date + ' · ' + points(game.score) + ' · #' + game.rank + ' of ' + today.players +
      '\n' + location.origin + location.pathname + '?daily=' + today.date;
  }
  function copied(text) {
    if (navigator.clipboard && navigator.clipboard.writeText) {
      return navigator.clipboard.writeText(text).catch(function () { return copiedByHand(text); });
    }
    return copiedByHand(text);
  }
  function copiedByHand(text) {
    var field = document.createElement('textarea');
    field.value = text;
    field.setAttribute('readonly', '');
    field.style.position = 'fixed';
    field.style.opacity = '0';
    document.body.appendChild(field);
    field.select();
    var done = false;
    try { done = document.execCommand('copy'); } catch (e) {}
    field.remove();
    return done ? Promise.resolve() : Promise.reject(new Error('not copied'));
  }
  $('daily-share').onclick = function () {
    var text = shareText();
    copied(text).then(function () {
      $('daily-shared').textContent = 'Copied: paste it anywhere.';
    }, function () {
      $('daily-shared').textContent = 'This browser would not copy it; here it is: ' + text.replace('\n', ' ');
    });
  };

  // A day's best ten; a past day's to watch once the board shows them.
  function showBoard() {
    var date = asked || today.date;
    return board.api('GET', '/api/top?period=daily&limit=10&date=' + encodeURIComponent(date)).then(function (top) {
      var list = $('daily-top'), player = Module['kivPlayer']();
      var past = now() >= top.replays_from;   // the day's last game is over
      list.textContent = '';
      $('daily-board-title').textContent = (top.date === today.date ? 'Today\'s best' : 'The best of ' + top.date) +
        (top.players ? ' of ' + players(top.players) : '');
      $('daily-today').hidden = top.date === today.date;
      top.games.forEach(function (g, i) {
        var row = document.createElement('li');
        row.value = i + 1;
        row.append(who(g.name), ' ', score(g.score));
        if (player && g.name === player.name) row.className = 'mine';
        if (past) row.append(' ', watchButton(g.id));
        list.appendChild(row);
      });
      if (!top.games.length) list.textContent = top.date === today.date ? 'No ranked game yet today.'
        : top.date > today.date ? 'That day has not come yet.' : 'No ranked game that day.';
      list.classList.toggle('none', !top.games.length);
    }, function (e) {
      if (e instanceof board.Unreachable) return;
      status(e.message);
      if (asked) {
        asked = null;
        return showBoard();
      }
    });
  }
  $('daily-today').onclick = function () {
    asked = null;
    status('');
    showBoard();
  };

  // Yesterday's winner, to watch from when the board shows the day's replays.
  function showYesterday() {
    var date = dayBefore(today.date);
    return board.api('GET', '/api/top?period=daily&limit=1&date=' + date).then(function (top) {
      var line = $('daily-yesterday');
      yesterday = date;
      line.textContent = '';
      if (opens !== null) clearTimeout(opens);
      opens = null;
      if (!top.games.length) {
        line.textContent = 'Yesterday nobody played a ranked try.';
        return;
      }
      var g = top.games[0], from = top.replays_from, watch = watchButton(g.id);
      line.append('Yesterday\'s winner: ', who(g.name), ' ', score(g.score), ' ', watch);
      if (now() < from) {
        watch.disabled = true;
        watch.textContent = 'Watch from ' + clock(from);
        watch.title = 'The day\'s replays are shown once its last game is over.';
        opens = setTimeout(showYesterday, (from - now()) * 1000 + 500);
      }
    }, function () { yesterday = ''; });
  }

  // Today from the board: the date, the player's try, the boards. An
  // answer overtaken by a newer one, or of a day before the one shown, is
  // not shown.
  function ask() {
    var player = Module['kivPlayer'](), question = ++questions;
    asking++;
    return board.api('GET', '/api/daily', null, player && player.secret, 10000).then(function (d) {
      asking--;
      if ($('daily-status').textContent === UNREACHABLE) status('');
      if (question < answered || (today && d.date < today.date)) {
        renewAtMidnight();
        return;
      }
      answered = question;
      var first = !today;
      if (first || d.date !== today.date) shortest = Infinity;
      d.at = performance.now();
      today = d;
      show();
      renewAtMidnight();
      if (first && Module['kivNextChanged']) Module['kivNextChanged']();
      var boards = [showBoard()];
      if (yesterday !== dayBefore(d.date)) boards.push(showYesterday());
      return Promise.all(boards);
    }, function (e) {
      asking--;
      if (e.status === 401 && player) {
        Module['kivPlayerRefused']();
        return today ? undefined : ask();
      }
      // A board without the daily, or none: the panel stays hidden.
      if (!today) return;
      if (e instanceof board.Unreachable) status(UNREACHABLE);
    });
  }

  Module['kivDailyStarted'] = function (start) {
    playing = start;
    status(!start.ranked && today && today.you && !today.you.tried
      ? 'Today\'s ranked try was spent already (on another browser?): this game is practice.' : '');
    show();
    ask();
  };
  Module['kivDailyEnded'] = function () {
    playing = null;
    show();
    ask();
  };
  // A daily game kept by games.js: sending, waiting for its verdict, judged.
  Module['kivDailyJudged'] = function (entry) {
    if (entry.dailyTry) sending = entry.status === 'sending';
    if (entry.status === 'sending') show();
    else ask();
  };
  Module['kivPlayerChanged'] = function () { if (today) ask(); };

  ask();
  board.onBack(ask);
  setInterval(function () { if (!document.hidden) ask(); }, 60000);
  setInterval(left, 15000);
})();
