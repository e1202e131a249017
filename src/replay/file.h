// Replay files on the desktop side: the body compressed with zlib. (The web
// page compresses and decompresses with the browser's own zlib streams.)
#pragma once

#include <cstddef>

#include "replay/format.h"

namespace kiv {

// The largest replay file: the header and the largest body, compressed
// however badly.
constexpr long MAX_REPLAY_FILE = REPLAY_HEADER_SIZE + MAX_REPLAY_BODY + MAX_REPLAY_BODY / 1000 + 64;

// What inflating a compressed body gave: zlib's last status, the bytes the
// stream held (up to one past the room it was given), the compressed bytes
// read, and zlib's message.
struct Inflated {
    int status;
    long out;
    size_t in;
    const char* message;
};
// Inflates the zlib stream of `size` bytes into the `room` bytes at out,
// and never a byte past them: a stream that goes on beyond shows as
// out == room + 1.
Inflated inflate_body(const unsigned char* data, size_t size, unsigned char* out, long room);

// Reads a whole replay (header and compressed body) into `replay`.
bool read_replay(const unsigned char* data, size_t size, ReplayError* error);
// Reads the file at path into `replay`, refusing files larger than a replay
// can be.
bool load_replay(const char* path, ReplayError* error);
// Writes `replay` (its header from replay.header, its body from its frames
// and inputs) into out; returns the size, or -1 when it does not fit.
long write_replay(unsigned char* out, long capacity);
// The same into a file; false with errno set when it cannot be written.
bool save_replay(const char* path);

} // namespace kiv
