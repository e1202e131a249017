// Replay files with their body compressed by zlib.
#include "replay/file.h"

#include <zlib.h>

#include <cerrno>
#include <cstdio>

namespace kiv {

namespace {

unsigned char file_buffer[MAX_REPLAY_FILE];

} // namespace

bool read_replay(const unsigned char* data, size_t size, ReplayError* error)
{
    if (size > static_cast<size_t>(MAX_REPLAY_FILE))
        return replay_error(error, "byte %ld: larger than any replay can be", MAX_REPLAY_FILE);
    ReplayHeader header;
    if (!read_replay_header(data, size, &header, error))
        return false;
    z_stream z{};
    if (inflateInit(&z) != Z_OK)
        return replay_error(error, "byte %d: cannot start decompressing the body", REPLAY_HEADER_SIZE);
    z.next_in = const_cast<unsigned char*>(data + REPLAY_HEADER_SIZE);
    z.avail_in = static_cast<uInt>(size - REPLAY_HEADER_SIZE);
    // One byte of room more than promised, to see a body that is too long.
    z.next_out = replay_body;
    z.avail_out = static_cast<uInt>(header.body_size + 1);
    int status = inflate(&z, Z_FINISH);
    long in = static_cast<long>(REPLAY_HEADER_SIZE + z.total_in);
    long out = static_cast<long>(z.total_out);
    const char* message = z.msg;
    inflateEnd(&z);
    if (status == Z_STREAM_END) {
        if (static_cast<size_t>(in) != size)
            return replay_error(error, "byte %ld: %zu bytes follow the end of the compressed body", in,
                                size - static_cast<size_t>(in));
        if (out != header.body_size)
            return replay_error(error, "byte %ld: the body holds %ld bytes where the header promises %ld", in, out,
                                header.body_size);
        return read_replay_body(header, replay_body, out, error);
    }
    if (out > header.body_size)
        return replay_error(error, "byte %ld: the body is longer than the %ld bytes the header promises", in,
                            header.body_size);
    if (status == Z_BUF_ERROR || (status == Z_OK && z.avail_in == 0))
        return replay_error(error, "byte %zu: the file ends inside its compressed body", size);
    return replay_error(error, "byte %ld: the compressed body is damaged (%s)", in, message ? message : "zlib");
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
