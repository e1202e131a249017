// kiv-verify FILE: plays a recorded game again with the game's own code and
// prints what it came to as one line of JSON. A replay that is malformed,
// cut short, inconsistent, edited or from another version of the game's
// rules is refused with one line on standard error and status 1.
#include <cstdio>
#include <cstring>

#include "replay/file.h"
#include "replay/run.h"

int main(int argc, char** argv)
{
    if (argc != 2 || argv[1][0] == '-') {
        std::fprintf(stderr, "usage: kiv-verify FILE\n");
        return 2;
    }
    kiv::ReplayError error;
    kiv::ReplayResult result;
    if (!kiv::load_replay(argv[1], &error) || !kiv::verify_replay(&result, &error)) {
        std::fprintf(stderr, "%s: %s\n", argv[1], error.text);
        return 1;
    }
    const char* const ends[] = {"none", "over", "left"};
    std::printf("{\"score\": %d, \"steps\": %ld, \"frames\": %ld, \"seconds\": %.2f, \"fingerprint\": \"%016llx\", "
                "\"end\": \"%s\"}\n",
                result.score, result.steps, result.frames, result.seconds,
                static_cast<unsigned long long>(result.fingerprint), ends[result.end]);
    return 0;
}
