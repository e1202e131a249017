// Live now (emitted before the game's own script, after games.js).
(function () {
  var $ = function (id) { return document.getElementById(id); };
  Module['kivLiveYou'] = function (watching, game) {};
})();
