// Replay files in the web build's replay tool, which runs under node: the
// body decompressed by node's zlib (the page uses the browser's).
#include <emscripten.h>

#include <cstdio>

#include "replay/file.h"

namespace kiv {

namespace {

unsigned char file_buffer[MAX_REPLAY_FILE];

EM_JS(long, node_inflate, (const unsigned char* source, long size, unsigned char* out, long capacity), {
    try {
        var body = require("zlib").inflateSync(HEAPU8.subarray(source, source + size), {maxOutputLength: capacity});
        HEAPU8.set(body, out);
        return body.length;
    } catch (e) {
        return -1;
    }
});

EM_JS(long, node_deflate, (const unsigned char* source, long size, unsigned char* out, long capacity), {
    var packed = require("zlib").deflateSync(HEAPU8.subarray(source, source + size), {level: 9});
    if (packed.length > capacity)
        return -1;
    HEAPU8.set(packed, out);
    return packed.length;
});

} // namespace

bool read_replay(const unsigned char* data, size_t size, ReplayError* error)
{
    ReplayHeader header;
    if (!read_replay_header(data, size, &header, error))
        return false;
    long body = node_inflate(data + REPLAY_HEADER_SIZE, static_cast<long>(size) - REPLAY_HEADER_SIZE, replay_body,
                             MAX_REPLAY_BODY);
    if (body < 0)
        return replay_error(error, "byte %d: the compressed body is damaged or cut short", REPLAY_HEADER_SIZE);
    return read_replay_body(header, replay_body, body, error);
}

bool load_replay(const char* path, ReplayError* error)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return replay_error(error, "%s: cannot open it", path);
    size_t size = std::fread(file_buffer, 1, sizeof file_buffer, f);
    std::fclose(f);
    return read_replay(file_buffer, size, error);
}

} // namespace kiv

namespace kiv {

bool save_replay(const char* path)
{
    long body = write_replay_body(replay_body, MAX_REPLAY_BODY);
    replay.header.steps = replay.steps;
    replay.header.frames = replay.frames;
    replay.header.body_size = body;
    write_replay_header(replay.header, file_buffer);
    long packed = node_deflate(replay_body, body, file_buffer + REPLAY_HEADER_SIZE, MAX_REPLAY_FILE - REPLAY_HEADER_SIZE);
    std::FILE* f = packed < 0 ? nullptr : std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(file_buffer, 1, REPLAY_HEADER_SIZE + packed, f) == static_cast<size_t>(REPLAY_HEADER_SIZE + packed);
    return std::fclose(f) == 0 && ok;
}

} // namespace kiv
