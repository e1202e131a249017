// The game in play is the player's (emitted before the game's own script,
// after page.js): nothing on the page ends it by one touch or click. Every
// control that would (Watch, a replay opened or dropped, a link of the
// page's own) hands what it does to Module.kivEndGame(action, go). Between
// games `go` runs at once. During a game the panel asks first, in one line
// that names what the game loses ("Watch this game? This ends your daily
// try: it counts as spent."); No, or the game ending by itself, takes the
// question away; Yes leaves the game as Escape leaves it (recorded, its
// ticket let go) and then runs `go`. body.playing marks a game in play.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var asked = null;     // the `go` waiting for the player's answer
  var leaving = null;   // the `go` to run once the game has been left
  var watch = null;     // the timer that follows the game while either waits

  function inGame() {
    return typeof _web_in_game === 'function' && Module['calledRun'] && !Module['kivStopped'] && !!_web_in_game();
  }
  function follow() {
    var playing = inGame();
    document.body.classList.toggle('playing', playing);
    if (!playing) {
      if (asked) close();
      if (leaving) {
        var go = leaving;
        leaving = null;
        go();
      }
    }
    if (!asked && !leaving && watch !== null) {
      clearInterval(watch);
      watch = null;
    }
  }
  setInterval(follow, 250);
  // Closely while a question or a leave waits.
  function following() {
    if (watch === null) watch = setInterval(follow, 40);
  }
  function close() {
    asked = null;
    $('ask').hidden = true;
  }

  // `action`: what the control does, as a question's start ("Watch this game").
  Module['kivEndGame'] = function (action, go) {
    if (!inGame()) {
      go();
      return;
    }
    var stake = Module['kivStake'] ? Module['kivStake']() : 'This ends the game in play.';
    $('ask-text').textContent = action + '? ' + stake;
    asked = go;
    $('ask').hidden = false;
    following();
  };
  $('ask-yes').onclick = function () {
    var go = asked;
    close();
    if (!go) return;
    if (!inGame()) {
      go();
      return;
    }
    leaving = go;
    following();
    _web_escape();
  };
  $('ask-no').onclick = close;
})();
