// The page's replays (emitted before the game's own script, after inplay.js):
// every game is recorded, and after it the page offers to save the replay
// and to watch it. A replay opened from a file, dropped on the page or named
// by ?watch=URL (on the same site) plays in the canvas, with pause, 1x, 4x
// and 16x, a progress bar and its score. The replay's body is compressed
// and decompressed with the browser's own zlib streams.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var HEADER = 64;
  var ready = false;    // the game runs: replays can be watched
  var waiting = null;   // a replay to watch once it does
  var speed = 1, paused = false;
  Module['kivLastGame'] = null;

  function fail(text) {
    $('replay-error').textContent = text;
  }
  function collect(stream, limit) {
    var reader = stream.getReader(), chunks = [], total = 0;
    var next = function () {
      return reader.read().then(function (r) {
        if (r.done) {
          var out = new Uint8Array(total), at = 0;
          chunks.forEach(function (c) { out.set(c, at); at += c.length; });
          return out;
        }
        total += r.value.length;
        if (total > limit) {
          reader.cancel();
          throw new Error('its body is longer than its header promises');
        }
        chunks.push(r.value);
        return next();
      });
    };
    return next();
  }
  function deflate(bytes) {
    return collect(new Blob([bytes]).stream().pipeThrough(new CompressionStream('deflate')), Infinity);
  }
  function inflate(bytes, limit) {
    return collect(new Blob([bytes]).stream().pipeThrough(new DecompressionStream('deflate')), limit);
  }
  // zlib as replays have it, for the stream of a ranked game and a game watched live.
  Module['kivDeflate'] = deflate;
  Module['kivInflate'] = inflate;
  function points(n) { return n.toLocaleString('en') + (n === 1 ? ' point' : ' points'); }
  function two(n) { return (n < 10 ? '0' : '') + n; }

  // The last game played, offered to save and watch (also one kept by the
  // board's side from before a reload).
  function showLast(game) {
    Module['kivLastGame'] = game;
    $('last-score').textContent = points(game.score) + (game.over ? '' : ', left before its end');
    $('last-game').hidden = false;
  }
  Module['kivShowLastGame'] = showLast;

  // A game has begun: the last one's offer stays until this one ends.
  Module['kivGameStarted'] = function (seed) {
    if (Module['kivBoardGameStarted']) Module['kivBoardGameStarted'](seed);
  };
  Module['kivGameRecorded'] = function (header, body, score, end, seed) {
    var when = new Date();
    Module['kivReleasePointer']();
    if (typeof CompressionStream === 'undefined') {
      fail('This browser cannot compress replays, so this game was not kept.');
      return;
    }
    deflate(body).then(function (packed) {
      var bytes = new Uint8Array(HEADER + packed.length);
      bytes.set(header);
      bytes.set(packed, HEADER);
      var fields = new DataView(header.buffer, header.byteOffset, HEADER);
      var game = {bytes: bytes, score: score, over: end === 1, seed: seed, steps: fields.getUint32(28, true),
                  frames: fields.getUint32(32, true), when: when};
      showLast(game);
      if (Module['kivGamePlayed']) Module['kivGamePlayed'](game);
      if (Module['kivBoardGameRecorded']) Module['kivBoardGameRecorded'](game);
    }).catch(function (e) { fail('The replay could not be made: ' + e.message); });
  };
  Module['kivGameUnrecorded'] = function () {
    fail('This game is longer than a replay can hold (an hour): it goes on unrecorded.');
  };

  function replayName(game) {
    var d = game.when;
    return 'kiv-' + d.getFullYear() + '-' + two(d.getMonth() + 1) + '-' + two(d.getDate()) + '-' +
           two(d.getHours()) + two(d.getMinutes()) + two(d.getSeconds()) + '-' + game.score + '.rec';
  }
  $('save-replay').onclick = function () {
    var game = Module['kivLastGame'];
    var link = document.createElement('a');
    link.href = URL.createObjectURL(new Blob([game.bytes], {type: 'application/octet-stream'}));
    link.download = replayName(game);
    document.body.appendChild(link);
    link.click();
    link.remove();
    setTimeout(function () { URL.revokeObjectURL(link.href); }, 10000);
  };
  $('watch-last').onclick = function () { watch(Module['kivLastGame'].bytes); };

  // Watching: the header is checked by the game, the body decompressed here
  // no further than the header promises, then the game plays it, once a
  // game in play has been left (asked first: inplay.js).
  function watch(bytes) {
    fail('');
    if (!ready) {
      waiting = bytes;
      return Promise.resolve();
    }
    if (bytes.length < HEADER) {
      fail('This is not a Kiv replay: the file is too short.');
      return Promise.resolve();
    }
    HEAPU8.set(bytes.subarray(0, HEADER), _web_replay_header());
    var size = _web_check_replay();
    if (size < 0) {
      fail('This replay cannot be played: ' + UTF8ToString(_web_replay_error()) + '.');
      return Promise.resolve();
    }
    var claimed = new DataView(bytes.buffer, bytes.byteOffset, HEADER).getInt32(24, true);
    return inflate(bytes.subarray(HEADER), size).then(function (body) {
      Module['kivEndGame']('Watch this game', function () {
        // The header again: a game recorded meanwhile wrote its own there.
        HEAPU8.set(bytes.subarray(0, HEADER), _web_replay_header());
        HEAPU8.set(body, _web_replay_body());
        if (_web_check_replay() < 0 || !_web_watch(body.length)) {
          fail('This replay cannot be played: ' + UTF8ToString(_web_replay_error()) + '.');
          return;
        }
        $('watch-score').textContent = 'A game of ' + points(claimed);
        $('watching').hidden = false;
        setSpeed(1);
        setPaused(false);
      });
    }).catch(function (e) { fail('This replay cannot be played: ' + e.message + '.'); });
  }
  Module['kivWatch'] = watch;

  function setSpeed(n) {
    speed = n;
    document.querySelectorAll('#watching [data-speed]').forEach(function (b) {
      b.setAttribute('aria-pressed', String(+b.dataset.speed === n));
    });
    if (!paused) _web_watch_speed(n);
  }
  function setPaused(p) {
    paused = p;
    $('watch-pause').setAttribute('aria-pressed', String(p));
    $('watch-pause').textContent = p ? 'Play' : 'Pause';
    _web_watch_speed(p ? 0 : speed);
  }
  document.querySelectorAll('#watching [data-speed]').forEach(function (b) {
    b.onclick = function () { setSpeed(+b.dataset.speed); };
  });
  $('watch-pause').onclick = function () { setPaused(!paused); };
  $('watch-stop').onclick = function () { _web_watch_stop(); };
  var shown = 0;
  Module['kivWatchProgress'] = function (frame, frames, score) {
    var now = performance.now();
    if (now - shown < 100 && frame < frames) return;
    shown = now;
    $('progress').firstElementChild.style.width = (100 * frame / frames).toFixed(1) + '%';
    $('watch-now').textContent = 'Now ' + points(score);
  };
  Module['kivWatchEnded'] = function () {
    $('watching').hidden = true;
  };

  // A file opened or dropped on the page.
  function watchFile(file) {
    if (file) file.arrayBuffer().then(function (b) { watch(new Uint8Array(b)); });
  }
  $('open-file').onchange = function () {
    watchFile(this.files[0]);
    this.value = '';
  };
  ['dragenter', 'dragover'].forEach(function (type) {
    document.addEventListener(type, function (e) {
      e.preventDefault();
      document.body.classList.add('dropping');
    });
  });
  document.addEventListener('dragleave', function (e) {
    if (!e.relatedTarget) document.body.classList.remove('dropping');
  });
  document.addEventListener('drop', function (e) {
    e.preventDefault();
    document.body.classList.remove('dropping');
    watchFile(e.dataTransfer.files[0]);
  });

  // ?watch=URL: a replay on the same site.
  var named = new URLSearchParams(location.search).get('watch');
  if (named) {
    var url = new URL(named, location.href);
    if (url.origin !== location.origin) {
      fail('Only replays on this site can be watched from the address.');
    } else {
      fetch(url).then(function (r) {
        if (!r.ok) throw new Error('the address answered ' + r.status);
        return r.arrayBuffer();
      }).then(function (b) { watch(new Uint8Array(b)); })
        .catch(function (e) { fail('The replay could not be fetched: ' + e.message + '.'); });
    }
  }

  var startLoop = Module['kivStartLoop'];
  Module['kivStartLoop'] = function () {
    startLoop();
    ready = Module['kivReady'] = true;
    if (waiting) {
      var bytes = waiting;
      waiting = null;
      setTimeout(function () { watch(bytes); }, 0);
    }
  };
})();
