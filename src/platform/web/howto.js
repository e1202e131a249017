// How to play, and whose scores are whose (emitted before the game's own
// script, after board.js). The panel's top tells a newcomer how to play,
// open until a game has begun in this browser, then one click away. Below
// it the title's HIGH SCORE is said to be the game's own (1,000,000 in a
// browser that never beat it), beside the player's best in this browser and
// the best on the board, each labelled.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var SEEN = 'kiv.how';    // set once a game has begun in this browser
  var BEST = 'kiv.best';   // the best score of the games played to their end in this browser
  var title = null;        // the title's high score, once the game runs
  var onBoard = null;      // the best score on the board, when it answers

  function stored(key) {
    try { return localStorage.getItem(key); } catch (e) { return null; }
  }
  function store(key, value) {
    try { localStorage.setItem(key, value); } catch (e) {}
  }
  function number(n) { return n.toLocaleString('en'); }

  function show() {
    var mine = parseInt(stored(BEST), 10);
    $('score-title').textContent = title === null ? '' : 'HIGH SCORE on the title: ' + number(title) +
      ', the game\'s own ·';
    $('score-mine').textContent = 'Your best: ' + (mine >= 0 ? number(mine) : 'none yet') + (onBoard === null ? '' : ' ·');
    $('score-board').textContent = onBoard === null ? '' : 'Best on the board: ' + number(onBoard);
  }
  function bestOnBoard() {
    board.api('GET', '/api/top?period=all&limit=1').then(function (top) {
      onBoard = top.games.length ? top.games[0].score : null;
      show();
    }, function () {});
  }

  $('how-to').open = stored(SEEN) === null;
  var started = Module['kivGameStarted'];
  Module['kivGameStarted'] = function (seed) {
    store(SEEN, '1');
    started(seed);
  };
  var startLoop = Module['kivStartLoop'];
  Module['kivStartLoop'] = function () {
    startLoop();
    title = _web_high_score();
    show();
  };
  // A game recorded: the title's high score and the player's best may have
  // grown, and the board's once it has judged the game.
  Module['kivGamePlayed'] = function (game) {
    title = _web_high_score();
    if (game.over && !(game.score <= parseInt(stored(BEST), 10))) store(BEST, String(game.score));
    show();
  };

  // The board's lists keep it current: all time's first is the best; a
  // better first of the day or the week is a new best.
  board.onTop(function (period, top) {
    var first = top.games.length ? top.games[0].score : null;
    if (period === 'all') onBoard = first;
    else if (first !== null && !(first <= onBoard)) onBoard = first;
    show();
  });

  show();
  bestOnBoard();
  board.onBack(bestOnBoard);
})();
