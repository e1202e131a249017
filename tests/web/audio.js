// The web version's music and effects (src/platform/web/audio.js) on a stand-in for
// Web Audio whose clock the test moves: a track repeats end to end, a
// milestone before the end changes the track that follows, a stopped track
// is silent and nothing follows it, and an effect restarts its channel.
// Usage: node audio.js <source-dir>
const fs = require('fs'), path = require('path'), assert = require('assert');

const started = [], stopped = [];
class Source {
  constructor() { this.buffer = null; }
  connect() {}
  start(when) { this.when = when; started.push(this); }
  stop() { stopped.push(this); }
}
let now = 0;
class FakeContext {
  get currentTime() { return now; }
  createBufferSource() { return new Source(); }
  decodeAudioData(bytes) { return Promise.resolve({duration: bytes.byteLength, bytes}); }
  resume() {}
  close() {}
}
const files = {'kiv1.ogg': 40, 'kiv2.ogg': 50, 'gen.wav': 1, 'score.wav': 2, 'miss.wav': 3};
Object.assign(global, {
  LibraryManager: {library: {}}, mergeInto: (lib, more) => Object.assign(lib, more), Module: {}, err: () => {},
  UTF8ToString: s => s, FS: {readFile: name => new Uint8Array(files[path.basename(name)])},
  window: {AudioContext: FakeContext}, document: {addEventListener() {}}, requestAnimationFrame() {},
});
eval(fs.readFileSync(path.join(process.argv[2], 'src/platform/web/audio.js'), 'utf8'));
const lib = LibraryManager.library;
global.KivAudio = lib.$KivAudio;

(async () => {
  assert.strictEqual(lib.kiv_audio_open(), 1);
  Object.keys(files).forEach((f, slot) => assert.strictEqual(lib.kiv_audio_load('sounds/' + f, slot), 1));
  KivAudio.create();
  await new Promise(r => setImmediate(r));
  const track = s => [40, 50].indexOf(s.buffer.duration);

  lib.kiv_audio_play_music(0);
  assert.deepStrictEqual(started.map(s => [track(s), s.when]), [[0, 0]]);
  now = 39.6;
  assert.strictEqual(lib.kiv_audio_frame(0), 0);
  assert.deepStrictEqual(started.slice(1).map(s => [track(s), s.when]), [[0, 40]], 'the repeat is queued at the end');
  now = 40.1;
  assert.strictEqual(lib.kiv_audio_frame(0), 0);
  now = 79.7;
  lib.kiv_audio_frame(0);
  assert.strictEqual(lib.kiv_audio_frame(1), 0, 'a milestone late in the play');
  assert.deepStrictEqual(started.slice(2).map(s => [track(s), s.when]), [[0, 80], [1, 80]]);
  assert.strictEqual(stopped.pop(), started[2], 'the queued repeat gave way to the other track');
  now = 80.2;
  assert.strictEqual(lib.kiv_audio_frame(1), 1, 'track 1 plays from the end of the last play');
  lib.kiv_audio_stop_music();
  now = 129.9;
  assert.strictEqual(lib.kiv_audio_frame(-1), 1);
  assert.strictEqual(started.length, 4, 'nothing follows a stopped track');

  lib.kiv_audio_play_effect(3);
  lib.kiv_audio_play_effect(3);
  assert.strictEqual(stopped.pop(), started[4], 'an effect played again restarts its channel');
  assert.deepStrictEqual(started.slice(4).map(s => s.buffer.duration), [2, 2]);
  console.log('PASS');
})().catch(e => { console.error('FAIL: ' + e.message); process.exitCode = 1; });
