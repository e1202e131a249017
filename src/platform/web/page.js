// The page around the web build (emitted before the game's own script): the
// options from the page address, the high score kept in the browser, the
// canvas scaled to the window, the mouse (relative motion, under pointer
// lock once the canvas is clicked), touch and keys, and what the page shows
// when the game ends.
(function () {
  var canvas = document.getElementById('canvas');
  var notice = document.getElementById('notice');
  var messages = [];
  var running = false;
  var scale = 1;        // CSS pixels per screen pixel
  var rest = [0, 0];    // motion not yet handed over, in screen pixels
  var last = null;      // the pointer's last position over the canvas, CSS pixels
  var buttons = 0;
  var lastEscape = -1e9;
  var keyedWhileLocked = false;   // an Escape key came while the pointer was locked
  var finger = null;    // the touch that moves the pointer

  // ?-nosound&-mousespeed=15: each part one option, "=" separating a value
  // (the page's own parts, watch=, game= and daily=, are not the game's). The page is
  // the game's window.
  var args = ['-window'];
  location.search.replace(/^\?/, '').split('&').forEach(function (part) {
    if (part === '' || /^(watch|game|daily)=/.test(part)) return;
    decodeURIComponent(part.replace(/\+/g, ' ')).split('=').forEach(function (word, i, all) {
      if (i < 2) args.push(i === 1 ? all.slice(1).join('=') : word);
    });
  });

  Module['arguments'] = args;
  Module['thisProgram'] = 'kiv';
  Module['canvas'] = canvas;
  Module['kivPointer'] = [0, 0];
  Module['print'] = function (text) { console.log(text); };
  // The game's usage line names the desktop's command line: the page says
  // its own (the options as its address takes them) instead.
  var badOption = false;
  Module['printErr'] = function (text) {
    if (/^Usage: /.test(text)) {
      badOption = true;
      return;
    }
    console.error(text);
    messages.push(text);
  };

  // kiv.prf: four bytes kept in the browser as hex, put in place before the
  // game reads them and taken back when it quits.
  (Module['preRun'] = Module['preRun'] || []).push(function () {
    var hex = null;
    try { hex = localStorage.getItem('kiv.prf'); } catch (e) {}
    if (hex && /^([0-9a-f]{2})*$/.test(hex)) {
      var bytes = new Uint8Array(hex.length / 2);
      for (var i = 0; i < bytes.length; i++) bytes[i] = parseInt(hex.substr(2 * i, 2), 16);
      FS.writeFile('kiv.prf', bytes);
    }
  });
  Module['onRuntimeInitialized'] = function () {
    running = true;
    notice.hidden = true;
  };
  // The game has ended (Quit, or an option it does not know): the page
  // says why and how to play again, calmly; what the game wrote to its error
  // stream, if anything, below.
  function line(tag, text) {
    var part = document.createElement(tag);
    part.textContent = text;
    notice.appendChild(part);
    return part;
  }
  Module['onExit'] = function () {
    running = false;
    if (document.pointerLockElement) document.exitPointerLock();
    canvas.style.cursor = 'auto';
    notice.textContent = '';
    var page = location.origin + location.pathname;
    if (badOption) {
      line('p', 'Kiv does not know an option in this address.');
      line('pre', 'Usage: ' + page + '?-nosound&-mousespeed=N\n  -nosound       no sound or music\n' +
           '  -mousespeed=N  the pointer\'s speed in tenths, 1 to 99 (10 unless given)');
    } else {
      // Once its loop runs, the game ends only by Quit (or the page going away).
      line('p', Module['kivReady'] ? 'You left Kiv with Quit; your high score is kept.' : 'Kiv could not start.');
    }
    messages.forEach(function (text) { line('pre', text); });
    var again = line('button', badOption ? 'Play without options' : 'Play again');
    again.onclick = function () {
      if (badOption) location.href = page;
      else location.reload();
    };
    if (Module['kivReady']) line('p', 'Play again, or reloading the page, starts Kiv anew.').className = 'hint';
    notice.hidden = false;
  };

  // The game's frames run from a timer, a frame when a step is due; the
  // canvas shows the newest at each animation frame. While a game is in
  // play the timer is a Worker's (kiv-clock.js), which keeps the game's pace
  // in a hidden tab, where the browser slows the page's own timers to about
  // one a second; the title and watched replays use the page's own timer.
  // Each wake-up has a number: only the newest asked for runs a frame.
  var timer = null, wakeup = 0, stopped = false, clock = null;
  function schedule(ms) {
    var id = ++wakeup;
    if (timer !== null) clearTimeout(timer);
    timer = null;
    if (clock && _web_in_game()) clock.postMessage({id: id, ms: ms});
    else timer = setTimeout(function () { if (id === wakeup) tick(); }, ms);
  }
  function tick() {
    timer = null;
    if (!running || stopped) return;
    var wait;
    try {
      wait = _web_tick();
    } catch (e) {
      // Quit ends the program by throwing its status once onExit has run:
      // an end, not an error.
      if (e instanceof ExitStatus) return;
      throw e;
    }
    if (Module['kivAfterTick']) Module['kivAfterTick']();
    if (running && !stopped) schedule(wait);
  }
  // Other wake-ups on the same clock (the stream of a ranked game, once a
  // second), each a task of its own, never a frame's: by name.
  var after = {}, afterCount = 0;
  try {
    clock = new Worker(new URL('kiv-clock.js', document.currentScript.src));
    clock.onmessage = function (e) {
      var fn = after[e.data];
      delete after[e.data];
      if (fn) fn();
      else if (e.data === wakeup) tick();
    };
    // Without it (not served, or refused), the page's own timer.
    clock.onerror = function () {
      clock = null;
      if (running && !stopped) schedule(0);
      Object.keys(after).forEach(function (name) { setTimeout(after[name], 0); });
      after = {};
    };
  } catch (e) {
    clock = null;
  }
  Module['kivSteadyClock'] = function () { return clock !== null; };
  // Runs fn once, ms from now, on the Worker's clock where there is one.
  Module['kivAfter'] = function (ms, fn) {
    if (!clock) return void setTimeout(fn, ms);
    var name = 'after ' + ++afterCount;
    after[name] = fn;
    clock.postMessage({id: name, ms: ms});
  };
  Module['kivStartLoop'] = function () { schedule(0); };
  // A frame at once (a game that waited for its seed may begin).
  Module['kivWake'] = function () { if (running && !stopped) schedule(0); };
  Module['kivStopLoop'] = function () {
    Module['kivStopped'] = stopped = true;
    wakeup++;
    if (timer !== null) clearTimeout(timer);
    timer = null;
  };

  // The game as large as the window allows beside the side panel (at least
  // PANEL_WIDTH wide), or above it (at least PANEL_HEIGHT high) when that
  // gives a larger game, as on a phone held upright. The scale is
  // fractional: at 1366 x 768 whole multiples would keep the game at 1x in
  // room for 1.6x, and below 1x (phones) there are none. The canvas is
  // sized to whole device pixels and drawn nearest-neighbour, so it stays
  // sharp; its pixels differ by at most one device pixel in width. The
  // panel takes the rest, up to PANEL_MOST wide; a low window (a phone held
  // sideways) gets its compact look (kiv.css). The panel's type grows with
  // its room, from 13 px on a phone to 22 px (readable from a sofa at
  // 1920 x 1080); everything in it is sized in ems.
  var PANEL_WIDTH = 300, PANEL_HEIGHT = 420, PANEL_MOST = 560;
  var stage = document.getElementById('stage'), side = document.getElementById('side');
  function fit() {
    var width = document.documentElement.clientWidth, height = document.documentElement.clientHeight;
    var beside = Math.min((width - PANEL_WIDTH) / 640, height / 480);
    var above = Math.min(width / 640, (height - PANEL_HEIGHT) / 480);
    var dots = window.devicePixelRatio || 1;
    scale = Math.floor(640 * Math.max(beside, above, 0.1) * dots) / (640 * dots);
    document.body.classList.toggle('upright', above > beside);
    document.body.classList.toggle('low', height < 500);
    canvas.style.width = 640 * scale + 'px';
    canvas.style.height = 480 * scale + 'px';
    var stageWidth = Math.max(640 * scale, width - PANEL_MOST);
    stage.style.width = above > beside ? '' : stageWidth + 'px';
    stage.style.height = above > beside ? 480 * scale + 'px' : '';
    // (A phone held upright reads closer: a smaller share of its width.)
    var room = above > beside ? [width / 27, (height - 480 * scale) / 34] : [(width - stageWidth) / 23, height / 34];
    side.style.fontSize = Math.max(13, Math.min(22, room[0], room[1])).toFixed(1) + 'px';
  }
  window.addEventListener('resize', fit);
  fit();

  function move(dx, dy) {
    rest[0] += dx / scale;
    rest[1] += dy / scale;
    var x = Math.trunc(rest[0]), y = Math.trunc(rest[1]);
    rest[0] -= x;
    rest[1] -= y;
    if (running && (x || y)) _web_pointer_motion(x, y);
  }
  function place(clientX, clientY) {
    var r = canvas.getBoundingClientRect();
    var x = Math.floor((clientX - r.left) / scale), y = Math.floor((clientY - r.top) / scale);
    Module['kivPointer'] = [Math.max(0, Math.min(639, x)), Math.max(0, Math.min(479, y))];
  }
  function press(mask) {
    buttons = mask;
    if (running) _web_pointer_buttons(buttons);
  }
  function escape() {
    var now = performance.now();
    if (running && now - lastEscape > 250) _web_escape();
    lastEscape = now;
  }
  var locked = function () { return document.pointerLockElement === canvas; };
  // The page lets the pointer go after a game, so that its buttons can be
  // used; that release is not the player's Escape.
  var letGo = false;
  Module['kivReleasePointer'] = function () {
    if (!locked()) return;
    letGo = true;
    document.exitPointerLock();
  };

  canvas.addEventListener('mousemove', function (e) {
    if (locked()) {
      move(e.movementX, e.movementY);
      return;
    }
    // Unlocked, the pointer follows the mouse from where it was placed.
    if (!last) {
      var r = canvas.getBoundingClientRect();
      last = [r.left + Module['kivPointer'][0] * scale, r.top + Module['kivPointer'][1] * scale];
    }
    move(e.clientX - last[0], e.clientY - last[1]);
    last = [e.clientX, e.clientY];
    place(e.clientX, e.clientY);
  });
  canvas.addEventListener('mousedown', function (e) {
    if (!locked() && running && canvas.requestPointerLock) {
      var p = canvas.requestPointerLock();
      if (p && p.catch) p.catch(function () {});
    }
    press(buttons | [1, 2, 4][e.button]);
    e.preventDefault();
  });
  window.addEventListener('mouseup', function (e) { press(buttons & ~[1, 2, 4][e.button]); });
  canvas.addEventListener('contextmenu', function (e) { e.preventDefault(); });
  // The browser takes the first Escape to release the pointer, and may also
  // deliver the key: one press, one Escape, however late the release comes.
  // A release because the page merely lost the focus is no Escape.
  document.addEventListener('pointerlockchange', function () {
    last = null;
    var keyed = keyedWhileLocked;
    keyedWhileLocked = false;
    if (letGo) {
      letGo = locked();
      return;
    }
    if (!locked() && !keyed && document.hasFocus() && !document.hidden) escape();
  });
  document.addEventListener('keydown', function (e) {
    if (e.key === 'Escape') {
      if (locked()) keyedWhileLocked = true;
      escape();
      e.preventDefault();
    }
  });

  // A finger moves the pointer by its own motion and holds the left button.
  function touchOf(list) {
    for (var i = 0; i < list.length; i++) if (finger && list[i].identifier === finger.id) return list[i];
    return null;
  }
  canvas.addEventListener('touchstart', function (e) {
    if (!finger) {
      var t = e.changedTouches[0];
      finger = {id: t.identifier, x: t.clientX, y: t.clientY};
      press(buttons | 1);
    }
    e.preventDefault();
  }, {passive: false});
  canvas.addEventListener('touchmove', function (e) {
    var t = touchOf(e.changedTouches);
    if (t) {
      move(t.clientX - finger.x, t.clientY - finger.y);
      finger.x = t.clientX;
      finger.y = t.clientY;
    }
    e.preventDefault();
  }, {passive: false});
  function lift(e) {
    if (touchOf(e.changedTouches)) {
      finger = null;
      press(buttons & ~1);
    }
    e.preventDefault();
  }
  canvas.addEventListener('touchend', lift, {passive: false});
  canvas.addEventListener('touchcancel', lift, {passive: false});
  // While a finger drags the pan, no other touch reaches the page (a second
  // finger or the heel of the hand on the panel under the game). A drag
  // that begins on the game stays the game's wherever it ends.
  document.addEventListener('touchstart', function (e) {
    if (finger && e.target !== canvas) e.preventDefault();
  }, {passive: false, capture: true});

  // Leaving the page closes the game's window: it quits and keeps its score.
  window.addEventListener('pagehide', function () {
    if (!running) return;
    try { _web_close(); } catch (e) {}
  });
})();
