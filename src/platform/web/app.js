// The page as an installed app (emitted last of the page's scripts): its
// service worker (kiv-sw.js, made by the build) keeps this build's files so
// that the game starts without the network; a new build is fetched in the
// background and offered between games ("A new version of Kiv is ready:
// reload"), never in the middle of one; Install is offered where the browser
// can install the page, as a button, once. Offline the board's line says so,
// and its lists come back with the network.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var waiting = null;     // a new build's worker, its files in hand
  var installer = null;   // the browser's install prompt, when it offers one

  function inGame() {
    return typeof _web_in_game === 'function' && Module['calledRun'] && _web_in_game();
  }
  // The offers show between games only: during a game they keep their room,
  // unseen (kiv.css), so that nothing under them moves, and none comes or goes.
  var wasInGame = false;
  function between() {
    var playing = inGame();
    if (!playing) {
      $('update').hidden = !waiting;
      $('install').hidden = !installer;
      $('app').hidden = $('update').hidden && $('install').hidden;
    }
    if (wasInGame && !playing && registration) registration.update().catch(function () {});
    wasInGame = playing;
  }
  setInterval(between, 500);

  var registration = null;
  function watchForUpdates(reg) {
    registration = reg;
    function found(worker) {
      if (!worker) return;
      var settle = function () {
        // The first worker of a page takes it at once; a later one waits.
        if (worker.state === 'installed' && navigator.serviceWorker.controller) {
          waiting = worker;
          between();
        }
      };
      worker.addEventListener('statechange', settle);
      settle();
    }
    found(reg.waiting);
    reg.addEventListener('updatefound', function () { found(reg.installing); });
    // Builds are looked for when the page comes back into view, and hourly.
    document.addEventListener('visibilitychange', function () {
      if (!document.hidden) reg.update().catch(function () {});
    });
    setInterval(function () { reg.update().catch(function () {}); }, 3600000);
  }
  // The board plays other rules than this page: a new build may be there.
  Module['kivLookForUpdate'] = function () {
    if (registration) registration.update().catch(function () {});
  };
  if ('serviceWorker' in navigator && /^https?:$/.test(location.protocol)) {
    var reloading = false;
    navigator.serviceWorker.addEventListener('controllerchange', function () {
      if (reloading || !waiting) return;
      reloading = true;
      location.reload();
    });
    // After the page has loaded, so that it does not slow the first frame.
    var register = function () {
      navigator.serviceWorker.register('kiv-sw.js').then(watchForUpdates, function (e) {
        console.warn('Kiv will not start offline: ' + e.message);
      });
    };
    if (document.readyState === 'complete') register();
    else window.addEventListener('load', register);
  }
  $('update').onclick = function () {
    if (!waiting || inGame()) return;
    waiting.postMessage('take-over');
  };

  window.addEventListener('beforeinstallprompt', function (e) {
    e.preventDefault();
    installer = e;
    between();
  });
  $('install').onclick = function () {
    if (!installer || inGame()) return;
    var prompt = installer;
    installer = null;
    between();
    prompt.prompt();
  };
  window.addEventListener('appinstalled', function () {
    installer = null;
    between();
  });

  if (board) {
    window.addEventListener('offline', board.unreachable);
    window.addEventListener('online', board.showTop);
    if (navigator.onLine === false) board.unreachable();
  }
})();
