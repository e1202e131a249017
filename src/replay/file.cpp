// Replay files with their body compressed by zlib.
#include "replay/file.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>

namespace kiv {

namespace {

unsigned char file_buffer[MAX_REPLAY_FILE];

} // namespace

Inflated inflate_body(const unsigned char* data, size_t size, unsigned char* out, long room)
{
    Inflated r{Z_STREAM_ERROR, 0, 0, nullptr};
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return r;
    z.next_in = const_cast<unsigned char*>(data);
    z.avail_in = static_cast<uInt>(size);
    z.next_out = out;
    z.avail_out = static_cast<uInt>(room);
    r.status = inflate(&z, Z_FINISH);
    // Out of room: whether the stream goes on shows in a byte of its own.
    unsigned char past = 0;
    if (r.status == Z_BUF_ERROR && z.avail_out == 0) {
        z.next_out = &past;
        z.avail_out = 1;
        r.status = inflate(&z, Z_FINISH);
    }
    r.out = static_cast<long>(z.total_out);
    r.in = z.total_in;
    r.message = z.msg;
    inflateEnd(&z);
    return r;
}

bool read_replay(const unsigned char* data, size_t size, ReplayError* error)
{
    if (size > static_cast<size_t>(MAX_REPLAY_FILE))
        return replay_error(error, "byte %ld: larger than any replay can be", MAX_REPLAY_FILE);
    ReplayHeader header;
    if (!read_replay_header(data, size, &header, error))
        return false;
    // The largest body a header allows fills all of replay_body.
    const Inflated z =
        inflate_body(data + REPLAY_HEADER_SIZE, size - REPLAY_HEADER_SIZE, replay_body, header.body_size);
    const long in = static_cast<long>(REPLAY_HEADER_SIZE + z.in);
    if (z.out > header.body_size)
        return replay_error(error, "byte %ld: the body is longer than the %ld bytes the header promises", in,
                            header.body_size);
    if (z.status == Z_STREAM_END) {
        if (static_cast<size_t>(in) != size)
            return replay_error(error, "byte %ld: %zu bytes follow the end of the compressed body", in,
                                size - static_cast<size_t>(in));
        if (z.out != header.body_size)
            return replay_error(error, "byte %ld: the body holds %ld bytes where the header promises %ld", in,
                                z.out, header.body_size);
        return read_replay_body(header, replay_body, z.out, error);
    }
    if (z.status == Z_STREAM_ERROR)
        return replay_error(error, "byte %d: cannot start decompressing the body", REPLAY_HEADER_SIZE);
    if (z.status == Z_BUF_ERROR)
        return replay_error(error, "byte %zu: the file ends inside its compressed body", size);
    return replay_error(error, "byte %ld: the compressed body is damaged (%s)", in,
                        z.message ? z.message : "zlib");
}

bool load_replay(const char* path, ReplayError* error)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return replay_error(error, "%s: cannot open it", path);
    size_t size = std::fread(file_buffer, 1, sizeof file_buffer, f);
    bool larger = size == sizeof file_buffer && std::fgetc(f) != EOF;
    bool failed = std::ferror(f) != 0;
    std::fclose(f);
    if (failed)
        return replay_error(error, "%s: cannot read it", path);
    if (larger)
        return replay_error(error, "byte %ld: larger than any replay can be", MAX_REPLAY_FILE);
    return read_replay(file_buffer, size, error);
}

long write_replay(unsigned char* out, long capacity)
{
    long body = write_replay_body(replay_body, MAX_REPLAY_BODY);
    if (body < 0 || capacity < REPLAY_HEADER_SIZE)
        return -1;
    replay.header.steps = replay.steps;
    replay.header.frames = replay.frames;
    replay.header.body_size = body;
    write_replay_header(replay.header, out);
    uLongf packed = static_cast<uLongf>(capacity - REPLAY_HEADER_SIZE);
    if (compress2(out + REPLAY_HEADER_SIZE, &packed, replay_body, static_cast<uLong>(body), Z_BEST_COMPRESSION) != Z_OK)
        return -1;
    return REPLAY_HEADER_SIZE + static_cast<long>(packed);
}

bool save_replay(const char* path)
{
    long size = write_replay(file_buffer, MAX_REPLAY_FILE);
    if (size < 0) {
        errno = EOVERFLOW;
        return false;
    }
    std::FILE* f = std::fopen(path, "wb");
    if (!f)
        return false;
    bool ok = std::fwrite(file_buffer, 1, static_cast<size_t>(size), f) == static_cast<size_t>(size);
    return std::fclose(f) == 0 && ok;
}

} // namespace kiv
