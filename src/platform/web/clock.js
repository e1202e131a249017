// The game's clock in a hidden tab: a dedicated Worker whose timer the
// browser does not throttle when the page is hidden (the page's own timers
// then fire about once a second). Each message asks for one wake-up after
// that many milliseconds; the answer carries the id it was asked with (the
// frames' numbers, so the page can tell a wake-up it no longer wants, or
// the name of another wake-up: the stream's).
onmessage = function (e) {
  var ask = e.data;
  setTimeout(function () { postMessage(ask.id); }, ask.ms);
};
