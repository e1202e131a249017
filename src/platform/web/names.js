// The player's name on the board (emitted before the game's own script,
// after howto.js). A name is claimed once and then belongs to the browser
// that holds its secret (kept in local storage, sent only in the
// Authorization header). "Use on another browser" asks the board for a
// one-time code; "I have a code" takes one typed on another browser and
// gets that browser a secret of its own for the same name.
(function () {
  var $ = function (id) { return document.getElementById(id); };
  var board = Module['kivBoard'];
  var PLAYER = 'kiv.player';   // {"name", "secret"}
  var player = null;

  function status(text) {
    $('name-status').textContent = text;
  }
  function show() {
    $('playing-as').hidden = !player;
    $('player-shown').textContent = player ? player.name : '';
    $('claim').hidden = !!player;
    $('pair-show').hidden = !player;
    $('pair-enter').hidden = !!player;
    if (player) $('code-entry').hidden = true;
    $('pair-code').textContent = '';
  }
  function keep(p) {
    player = p && typeof p.name === 'string' && /^[0-9a-f]{32}$/.test(p.secret) ? {name: p.name, secret: p.secret} : null;
    try {
      if (player) localStorage.setItem(PLAYER, JSON.stringify(player));
      else localStorage.removeItem(PLAYER);
    } catch (e) {}
    show();
    if (Module['kivPlayerChanged']) Module['kivPlayerChanged']();
  }
  function refused(e) {
    if (e instanceof board.Unreachable) status('The board cannot be reached: try again later.');
    else status(/^The name may hold only /.test(e.message) ? SHORT : e.message);
  }

  // A name holds letters, digits, spaces and most punctuation: a symbol or a
  // mark it cannot hold is named in a short sentence before the board is
  // asked (which checks everything, and says the rest in its own words).
  var PUNCTUATION = '!#$%&\'()*+,-./:;=?@[]^_{|}~';
  var SHORT = 'A name holds letters, digits, spaces and most punctuation only.';
  function notHeld(name) {
    var chars = Array.from(name);
    for (var i = 0; i < chars.length; i++)
      if (/^[\p{S}\p{P}]$/u.test(chars[i]) && PUNCTUATION.indexOf(chars[i]) < 0) return chars[i];
    return null;
  }

  // "ABCDEFGH" as "ABCD-EFGH"; typed codes are taken as typed.
  function shown(code) {
    var plain = String(code).replace(/-/g, '').toUpperCase();
    return plain.length === 8 ? plain.slice(0, 4) + '-' + plain.slice(4) : plain;
  }

  function claim() {
    var name = $('player-name').value.trim();
    if (!name) {
      status('Type the name you want first.');
      return;
    }
    var odd = notHeld(name);
    if (odd) {
      status('A name cannot hold ' + odd + ': letters, digits, spaces and most punctuation can.');
      return;
    }
    status('');
    board.api('POST', '/api/names', {name: name}).then(function (p) {
      keep(p);
      status('The name ' + p.name + ' is yours on this browser.');
    }, refused);
  }
  $('claim-name').onclick = claim;
  $('player-name').addEventListener('keydown', function (e) { if (e.key === 'Enter') claim(); });

  $('pair-show').onclick = function () {
    if (!player) return;
    status('');
    board.api('POST', '/api/names/pairing', {}, player.secret).then(function (p) {
      var until = new Date(p.expires * 1000);
      $('pair-code').textContent = shown(p.code);
      status('On the other browser choose "I have a code" and type this code. It works once, until ' +
             until.toLocaleTimeString([], {hour: '2-digit', minute: '2-digit'}) + '.');
    }, refused);
  };
  $('pair-enter').onclick = function () {
    $('code-entry').hidden = false;
    $('code').focus();
  };
  function pair() {
    var code = $('code').value.trim();
    if (!code) return;
    status('');
    board.api('POST', '/api/names/paired', {code: code}).then(function (p) {
      keep(p);
      $('code').value = '';
      status('You play as ' + p.name + ' on this browser too.');
    }, refused);
  }
  $('pair-use').onclick = pair;
  $('code').addEventListener('keydown', function (e) { if (e.key === 'Enter') pair(); });

  // The name and secret the ranked games are played under, or null.
  Module['kivPlayer'] = function () { return player; };
  // The board no longer takes this browser's secret (an operator released
  // the name): it is forgotten.
  Module['kivPlayerRefused'] = function () {
    var name = player ? player.name : '';
    keep(null);
    status('The board no longer knows this browser as ' + name + ': claim a name to play ranked games.');
  };

  var stored = null;
  try { stored = JSON.parse(localStorage.getItem(PLAYER) || 'null'); } catch (e) {}
  keep(stored);
  // The name typed before names were claimed is offered to claim.
  try { if (!player) $('player-name').value = localStorage.getItem('kiv.name') || ''; } catch (e) {}
  // The secret checked with the board, which also gives the name as it now
  // stands (an operator may have renamed it).
  if (player) {
    board.api('GET', '/api/names/me', null, player.secret).then(function (me) {
      if (player) keep({name: me.name, secret: player.secret});
    }, function (e) {
      if (e.status === 401) Module['kivPlayerRefused']();
    });
  }
})();
