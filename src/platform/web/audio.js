// The web build's sound through Web Audio (an emscripten JS library): slots
// 0 and 1 are the music tracks, 2 to 4 the effects. Each effect plays on a
// channel of its own and restarts it; a track plays once, and the track to
// follow it is queued to start exactly at its end.
mergeInto(LibraryManager.library, {
  $KivAudio: {
    Context: null,
    context: null,
    files: [],       // the files' bytes, decoded once the context exists
    buffers: [],
    channels: [],
    play: null,      // the track playing: {track, source, end}
    follower: null,  // the one queued after it: {track, source, end}
    lastTrack: 0,
    failed: false,
    stats: {effects: 0, tracks: 0},

    start: function (track, when) {
      var buffer = KivAudio.buffers[track];
      if (!buffer) return null;
      var source = KivAudio.context.createBufferSource();
      source.buffer = buffer;
      source.connect(KivAudio.context.destination);
      source.start(when);
      KivAudio.stats.tracks++;
      return {track: track, source: source, end: when + buffer.duration};
    },
    silence: function (play) {
      if (play) try { play.source.stop(); } catch (e) {}
    },
    // Opening the audio device can take a good part of a second: it waits
    // until the first frame is on the screen.
    create: function () {
      try {
        KivAudio.context = new KivAudio.Context();
      } catch (e) {
        err("Couldn't open audio: " + e.message);
        KivAudio.failed = true;
        return;
      }
      KivAudio.files.forEach(function (file, slot) {
        KivAudio.context.decodeAudioData(file.data.buffer.slice(file.data.byteOffset, file.data.byteOffset + file.data.length))
          .then(function (buffer) { KivAudio.buffers[slot] = buffer; })
          .catch(function () {
            err("Couldn't load: " + file.name);
            KivAudio.failed = true;
          });
      });
      KivAudio.files = [];
    },
  },

  kiv_audio_open__deps: ['$KivAudio'],
  kiv_audio_open: function () {
    var Context = typeof window !== 'undefined' && (window.AudioContext || window.webkitAudioContext);
    if (!Context) return 0;
    KivAudio.Context = Context;
    requestAnimationFrame(function () { setTimeout(KivAudio.create, 50); });
    // Browsers start a page's sound only after a gesture.
    var resume = function () { if (KivAudio.context && !KivAudio.failed) KivAudio.context.resume(); };
    ['pointerdown', 'touchstart', 'keydown'].forEach(function (type) {
      document.addEventListener(type, resume, true);
    });
    Module['kivAudio'] = KivAudio;
    return 1;
  },

  kiv_audio_load__deps: ['$KivAudio'],
  kiv_audio_load: function (path, slot) {
    var name = UTF8ToString(path);
    try {
      KivAudio.files[slot] = {name: name, data: FS.readFile(name)};
    } catch (e) {
      return 0;
    }
    return 1;
  },

  kiv_audio_play_music__deps: ['$KivAudio'],
  kiv_audio_play_music: function (track) {
    KivAudio.silence(KivAudio.play);
    KivAudio.silence(KivAudio.follower);
    KivAudio.follower = null;
    KivAudio.lastTrack = track;
    var context = KivAudio.context;
    KivAudio.play = context && !KivAudio.failed ? KivAudio.start(track, context.currentTime) : null;
  },

  kiv_audio_stop_music__deps: ['$KivAudio'],
  kiv_audio_stop_music: function () {
    KivAudio.silence(KivAudio.play);
    KivAudio.silence(KivAudio.follower);
    KivAudio.play = KivAudio.follower = null;
  },

  // Once a frame: hands over to the queued track when the play has ended,
  // queues the follower half a second before the end, and changes it when
  // the next track changed meanwhile. Returns the track playing.
  kiv_audio_frame__deps: ['$KivAudio'],
  kiv_audio_frame: function (next) {
    var play = KivAudio.play;
    if (!play) return KivAudio.lastTrack;
    var now = KivAudio.context.currentTime;
    if (play && now >= play.end) {
      play = KivAudio.play = KivAudio.follower;
      KivAudio.follower = null;
      if (play) KivAudio.lastTrack = play.track;
    }
    if (play && now > play.end - 0.5) {
      var queued = KivAudio.follower;
      if (queued && queued.track !== next) {
        KivAudio.silence(queued);
        queued = KivAudio.follower = null;
      }
      if (!queued && next >= 0) KivAudio.follower = KivAudio.start(next, play.end);
    }
    return KivAudio.lastTrack;
  },

  kiv_audio_play_effect__deps: ['$KivAudio'],
  kiv_audio_play_effect: function (slot) {
    var buffer = KivAudio.buffers[slot];
    if (!buffer || KivAudio.failed) return;
    KivAudio.silence(KivAudio.channels[slot]);
    var source = KivAudio.context.createBufferSource();
    source.buffer = buffer;
    source.connect(KivAudio.context.destination);
    source.start();
    KivAudio.channels[slot] = {source: source};
    KivAudio.stats.effects++;
  },

  kiv_audio_close__deps: ['$KivAudio'],
  kiv_audio_close: function () {
    KivAudio.silence(KivAudio.play);
    KivAudio.silence(KivAudio.follower);
    KivAudio.channels.forEach(KivAudio.silence);
    if (KivAudio.context) KivAudio.context.close();
    KivAudio.context = null;
    KivAudio.failed = true;
  },
});
