// A libFuzzer target over the replay reader and the verifier: the bytes are
// read as a replay file, and also as a header followed by a body already
// decompressed (as the web page hands it over); whatever reads cleanly is
// played to its end.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "replay/file.h"
#include "replay/run.h"

using namespace kiv;

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, size_t size)
{
    ReplayError error;
    ReplayResult result;
    if (read_replay(data, size, &error))
        verify_replay(&result, &error);
    ReplayHeader header;
    if (size >= static_cast<size_t>(REPLAY_HEADER_SIZE) && read_replay_header(data, size, &header, &error)) {
        long body = static_cast<long>(size) - REPLAY_HEADER_SIZE;
        std::memcpy(replay_body, data + REPLAY_HEADER_SIZE, static_cast<size_t>(body));
        if (read_replay_body(header, replay_body, body, &error))
            verify_replay(&result, &error);
    }
    return 0;
}
