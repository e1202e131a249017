// The page's service worker (served as kiv-sw.js beside index.html). It keeps
// one build of the game, the page and every file it needs, so that the game
// starts without the network, and it never mixes two builds: the files are
// named by their content, and a new build's worker waits, its files fetched,
// until the page (between games) tells it to take over. The board's API is
// never answered from here.
'use strict';
var VERSION = '@KIV_VERSION@';
var FILES = [/* @KIV_FILES@ */];
var CACHE = 'kiv-' + VERSION;
var PREFIX = 'kiv-';

self.addEventListener('install', function (event) {
  // The content-named files come from the HTTP cache when the page has just
  // loaded them (a host serves them as immutable); the page is revalidated.
  event.waitUntil(caches.open(CACHE).then(function (cache) {
    return cache.addAll(['./', 'kiv.webmanifest'].concat(FILES));
  }));
});

self.addEventListener('activate', function (event) {
  event.waitUntil(caches.keys().then(function (keys) {
    return Promise.all(keys.filter(function (key) {
      return key.indexOf(PREFIX) === 0 && key !== CACHE;
    }).map(function (key) { return caches.delete(key); }));
  }).then(function () { return self.clients.claim(); }));
});

self.addEventListener('message', function (event) {
  if (event.data === 'take-over')
    self.skipWaiting();
});

function fromCache(request, key) {
  return caches.open(CACHE).then(function (cache) {
    return cache.match(key, {ignoreSearch: true});
  }).then(function (found) {
    return found || fetch(request);
  });
}

self.addEventListener('fetch', function (event) {
  var request = event.request;
  if (request.method !== 'GET')
    return;
  var url = new URL(request.url);
  var scope = new URL(self.registration.scope);
  // Other sites (a board elsewhere) and the board's API go to the network.
  if (url.origin !== scope.origin || url.pathname.indexOf(scope.pathname) !== 0 ||
      url.pathname.indexOf('/api/') === 0 || url.pathname.indexOf(scope.pathname + 'api/') === 0)
    return;
  // The game's page, whatever its query (?game=ID, ?daily=DATE), is this
  // build's page; other pages of the site are theirs.
  if (request.mode === 'navigate') {
    if (url.pathname === scope.pathname || url.pathname === scope.pathname + 'index.html')
      event.respondWith(fromCache(request, './'));
    return;
  }
  event.respondWith(fromCache(request, request));
});
