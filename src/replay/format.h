// Recorded games. A replay holds where a game starts and, frame by frame,
// how many steps the frame ran, its key events and every step's input: all
// the game needs to play it again, step for step. The web page records every
// game it plays; the verifier, the board, the page that watches a game and
// the replay tests all read the same files through the reader here.
//
// A replay file is a header of 64 bytes followed by its body, compressed as
// one zlib stream (RFC 1950) that runs to the end of the file. All numbers
// are little-endian.
//
//   offset size  field
//        0    4  "KIVR"
//        4    1  format version (1)
//        5    1  kind: 1 a game from its Start, 2 a session from the start of the program
//        6    2  rules version of the game that recorded it
//        8    4  seed of the random generator at the start
//       12    2  pointer x at the start (0..639)
//       14    2  pointer y at the start (0..479)
//       16    4  mouse speed (single-precision float)
//       20    4  high score at the start (signed)
//       24    4  score at the end, as the recording game saw it (signed)
//       28    4  steps
//       32    4  frames
//       36    1  how the game ended: 0 no end recorded (a session), 1 game over, 2 left
//       37    1  1: a session played in a window, 0 otherwise
//       38    2  zero
//       40    8  fingerprint of the game's records after every step; 0 when not given
//       48    8  fingerprint of the drawn screens; 0 when not given
//       56    4  size of the body before compression
//       60    4  zero
//
// The body, before compression: one byte per frame (bits 0-2 its steps, 1
// to 5; bits 3-5 its Escape presses; bit 6 a window close; bit 7 zero), one
// byte per step (the button mask), then every step's x motion and then every
// step's y motion, each a zigzag-encoded LEB128 number in its fewest bytes
// (at most five; a number written longer is refused).
// A session played in a window goes on with where the system mouse was each
// time the game returned to the title, which is where the pointer returns
// to there: their number, then x and y of each in turn, in the same
// numbers; full screen it always returns to the middle.
#pragma once

#include <cstddef>
#include <cstdint>

#include "media/input.h"

namespace kiv {

// Raised whenever a change to the game may change how a recorded game
// plays (the recorded games in the tests then change their fingerprints).
// A replay of another rules version is refused, not played to a wrong score.
constexpr int RULES_VERSION = 1;
constexpr int REPLAY_FORMAT = 1;
constexpr int REPLAY_HEADER_SIZE = 64;
// The longest game a replay may hold: an hour of play.
constexpr long MAX_REPLAY_STEPS = 360000;
// A game returns to the title at most twice a frame (from the game-over
// screen in a step, and by Escape after Start in the same frame), and once
// at the start.
constexpr long MAX_POINTER_RETURNS = 2 * MAX_REPLAY_STEPS + 1;
// The largest body: a byte per frame, a byte per step and two numbers of at
// most five bytes per step (a frame runs at least one step), then the
// pointer's places: their number, and two numbers of at most three bytes
// each (window positions fit in 16 bits).
constexpr long MAX_REPLAY_BODY = MAX_REPLAY_STEPS * 12 + 5 + MAX_POINTER_RETURNS * 6;
constexpr int MAX_FRAME_ESCAPES = 7;

enum ReplayKind { REPLAY_GAME = 1, REPLAY_SESSION = 2 };
enum ReplayEnd { END_NONE = 0, END_OVER = 1, END_LEFT = 2 };

struct ReplayHeader {
    int kind;
    int rules;
    unsigned seed;
    int pointer_x, pointer_y;
    float mouse_speed;
    int high_score;
    int score;
    long steps, frames;
    int end;
    bool windowed;   // a session in a window: the pointer's returns are in the body
    std::uint64_t fingerprint;
    std::uint64_t screens;
    long body_size;
};

struct ReplayFrame {
    unsigned char steps, escapes, close;
};

// Where the system mouse was when the game returned to the title.
struct PointerPlace {
    std::int16_t x, y;
};

// The one replay being recorded, watched or verified, in fixed arrays.
struct Replay {
    ReplayHeader header;
    long frames, steps;   // frames and steps held
    long returns;         // the pointer's places held
    ReplayFrame frame[MAX_REPLAY_STEPS];
    StepInput input[MAX_REPLAY_STEPS];
    PointerPlace place[MAX_POINTER_RETURNS];
};
extern Replay replay;
// Room for one body before compression or after decompression.
extern unsigned char replay_body[MAX_REPLAY_BODY];

// What is wrong with a replay and where, in one line.
struct ReplayError {
    char text[200];
};
// Fills the error like printf and returns false.
bool replay_error(ReplayError* error, const char* format, ...) __attribute__((format(printf, 2, 3)));

void write_replay_header(const ReplayHeader& header, unsigned char out[REPLAY_HEADER_SIZE]);
// Checks and reads the first REPLAY_HEADER_SIZE of size bytes. A replay of
// other rules is refused unless `any_rules` (its header is read all the
// same: every rules version writes this format).
bool read_replay_header(const unsigned char* data, size_t size, ReplayHeader* header, ReplayError* error,
                        bool any_rules = false);

// Whole frames in the body's layout: their frame bytes, their steps'
// buttons, then their steps' x motions and their y motions. A body begins
// with all of its frames so, and a game sent in parts would send each part
// so. Reads `frames` frames from body[*at] on into frame[] and input[],
// refusing frames that run more than max_steps steps in all; *steps is set
// and *at left past them.
bool read_frames(const unsigned char* body, long size, long* at, long frames, long max_steps, ReplayFrame* frame,
                 StepInput* input, long* steps, ReplayError* error);
// A chunk: whole frames in the same layout, nothing before or after them,
// their count not written. It needs none: a frame byte, a button byte and
// the last byte of each motion are the bytes below 0x80, so a chunk of k
// frames and n steps has k + 3n of them, and no other count of frames
// reads it to its end. Reads at most max_steps steps into frame[] and
// input[]; *frames and *steps are set. A chunk holds at least one frame.
bool read_chunk(const unsigned char* body, long size, long max_steps, ReplayFrame* frame, StepInput* input,
                long* frames, long* steps, ReplayError* error);
// Writes frames and their steps at out[at]; returns where they end, or -1
// when they would not fit in capacity.
long write_frames(const ReplayFrame* frame, long frames, const StepInput* input, long steps, unsigned char* out,
                  long at, long capacity);

// The body of `replay` (its frames and inputs) into out; returns its size,
// or -1 when it would not fit in capacity.
long write_replay_body(unsigned char* out, long capacity);
// Reads a body into `replay`, checking it against the header, which it
// takes as replay.header.
bool read_replay_body(const ReplayHeader& header, const unsigned char* body, long size, ReplayError* error);

} // namespace kiv
