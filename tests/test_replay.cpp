// Replays: a recorded game against edits, damage and foreign files, each
// refused with a message that says what and where, or played to its true
// score; and a game that plays the same whatever the process played before
// it.
#include <gtest/gtest.h>

#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "replay/file.h"
#include "replay/run.h"
#include "replay/watch.h"

using namespace kiv;

namespace {

using Bytes = std::vector<unsigned char>;

// A short game recorded from its Start, as the web page records them.
const char* const GAME = "tests/replays/game.rec";
constexpr int GAME_SCORE = 9828;

Bytes game_file()
{
    std::ifstream f(GAME, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// Reads the bytes; the edit changes the game held in `replay`; the result
// is written out again with the header's claims as they were.
Bytes edited(const std::function<void()>& edit)
{
    Bytes b = game_file();
    ReplayError error;
    EXPECT_TRUE(read_replay(b.data(), b.size(), &error)) << error.text;
    edit();
    Bytes out(MAX_REPLAY_FILE);
    out.resize(static_cast<size_t>(write_replay(out.data(), static_cast<long>(out.size()))));
    return out;
}

// "" when the bytes verify (to *score), else the error.
std::string verify(const Bytes& b, int* score = nullptr)
{
    present_screen = [] {};
    ReplayError error;
    ReplayResult result;
    if (!read_replay(b.data(), b.size(), &error) || !verify_replay(&result, &error))
        return error.text;
    if (score)
        *score = result.score;
    return "";
}

void put32(Bytes& b, size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<unsigned char>(v >> (8 * i));
}

// `n` zero bytes compressed: a few kB for megabytes.
Bytes packed_zeros(long n)
{
    Bytes body(static_cast<size_t>(n));
    uLongf size = compressBound(static_cast<uLong>(body.size()));
    Bytes packed(size);
    compress2(packed.data(), &size, body.data(), static_cast<uLong>(body.size()), 9);
    packed.resize(size);
    return packed;
}

} // namespace

TEST(Replay, EditedDamagedAndForeignFilesAreRefusedWithWhatAndWhere)
{
    std::mt19937 random(7);
    struct Case {
        const char* what;
        std::function<Bytes()> make;
        const char* message;   // "" = verifies to its true score
    } cases[] = {
        {"the game as recorded", [] { return game_file(); }, ""},
        {"a button held in play, which the game does not read",
         [] { return edited([] { replay.input[1200].buttons = 1; }); }, ""},
        {"one step's motion changed, to the largest there is",
         [] { return edited([] { replay.input[1200].dx = 2147483647; }); },
         "frame 1141: the game ended in frame 1140, yet the replay goes on for 1449 frames"},
        {"the claimed score raised",
         [] { Bytes b = game_file(); put32(b, 24, GAME_SCORE + 1000); return b; },
         "frame 2589: the game scores 9828, not the 10828 the header claims"},
        {"the step count raised", [] { Bytes b = game_file(); put32(b, 28, 2999); return b; },
         "byte 56: a body of 11584 bytes cannot hold 2590 frames of 2999 steps"},
        {"the end a game it was not", [] { Bytes b = game_file(); b[36] = END_LEFT; return b; },
         "the game was over, not left as the header says"},
        {"a mouse speed no option gives",
         [] { Bytes b = game_file(); float f = 100.0f; std::uint32_t u; std::memcpy(&u, &f, 4); put32(b, 16, u); return b; },
         "byte 16: a mouse speed of 100 is not one the game can have"},
        {"a reserved byte set", [] { Bytes b = game_file(); b[61] = 1; return b; },
         "byte 60: a reserved byte is not zero"},
        {"a game said to be played in a window, as only a session can",
         [] { Bytes b = game_file(); b[37] = 1; return b; }, "byte 37: 1 is not how a game can be played"},
        {"another version of the rules", [] { Bytes b = game_file(); b[6] = RULES_VERSION + 1; return b; },
         "byte 6: recorded under version 2 of the game's rules; this build plays version 1"},
        {"cut short in the header", [] { Bytes b = game_file(); b.resize(40); return b; },
         "byte 40: the file ends inside its 64-byte header"},
        {"cut short in the body", [] { Bytes b = game_file(); b.resize(b.size() - 100); return b; },
         "the file ends inside its compressed body"},
        {"bytes after the body", [] { Bytes b = game_file(); b.insert(b.end(), {'x', 'y', 'z'}); return b; },
         "3 bytes follow the end of the compressed body"},
        {"random bytes",
         [&] { Bytes b(700); for (auto& c : b) c = static_cast<unsigned char>(random()); return b; },
         "byte 0: not a Kiv replay"},
        {"a random body",
         [&] { Bytes b = game_file(); for (size_t i = 64; i < b.size(); i++) b[i] = static_cast<unsigned char>(random()); return b; },
         "the compressed body is damaged"},
        {"a body that unpacks to more than promised",
         [] { Bytes b = game_file(), z = packed_zeros(10 << 20); b.resize(64); b.insert(b.end(), z.begin(), z.end());
              return b; },
         "the body is longer than the 11584 bytes the header promises"},
        {"a frame of six steps", [] { return edited([] { replay.frame[10].steps = 6; }); },
         "frame 10: runs 6 steps (a frame runs 1 to 5)"},
        {"frames after the game's end",
         [] {
             return edited([] {
                 for (int i = 0; i < 50; i++) {
                     replay.frame[replay.frames++] = ReplayFrame{1, 0, 0};
                     replay.input[replay.steps++] = StepInput{0, 0, 0};
                 }
             });
         },
         "frame 2590: the game ended in frame 2589, yet the replay goes on for 50 frames"},
        {"its last frames cut off",
         [] {
             return edited([] {
                 for (int i = 0; i < 100; i++)
                     replay.steps -= replay.frame[--replay.frames].steps;
             });
         },
         "frame 2489: the replay ends while the game is still running"},
    };
    Bytes file = game_file();
    ReplayHeader header;
    ReplayError error;
    unsigned char again[REPLAY_HEADER_SIZE];
    ASSERT_TRUE(read_replay_header(file.data(), file.size(), &header, &error));
    write_replay_header(header, again);
    EXPECT_TRUE(std::equal(again, again + REPLAY_HEADER_SIZE, file.begin())) << "the header written again as read";
    for (const Case& c : cases) {
        int score = -1;
        std::string got = verify(c.make(), &score);
        if (*c.message == 0) {
            EXPECT_EQ(got, "") << c.what;
            EXPECT_EQ(score, GAME_SCORE) << c.what;
        } else {
            EXPECT_NE(got.find(c.message), std::string::npos) << c.what << ": " << got;
        }
    }
}

// The largest body fills all of replay_body: a byte more in the stream is
// seen, not written past the room (a guard behind it stays as it was).
TEST(Replay, ABodyIsInflatedIntoItsRoomAndNotAByteBeyond)
{
    for (long extra : {0L, 1L, 1000L}) {
        const Bytes packed = packed_zeros(MAX_REPLAY_BODY + extra);
        Bytes room(MAX_REPLAY_BODY + 64, 0xA5);
        const Inflated z = inflate_body(packed.data(), packed.size(), room.data(), MAX_REPLAY_BODY);
        EXPECT_EQ(z.out, MAX_REPLAY_BODY + (extra ? 1 : 0)) << extra;
        if (extra == 0) {
            EXPECT_EQ(z.status, Z_STREAM_END);
        }
        EXPECT_TRUE(std::all_of(room.begin() + MAX_REPLAY_BODY, room.end(), [](unsigned char c) { return c == 0xA5; }))
            << extra << " more bytes: written past the room";
    }
}

TEST(Replay, AGamePlaysTheSameWhateverThisProcessPlayedBefore)
{
    // Leave the records of a long session's middle behind: balls in play,
    // events, a score, cursors anywhere.
    ReplayError error;
    ASSERT_TRUE(load_replay("tests/replays/million.rec", &error)) << error.text;
    start_replay(false, false);
    for (int f = 0; f < 6000; f++)
        run_replay_frame();
    ASSERT_EQ(game_state, STATE_PLAYING);
    int score = -1;
    EXPECT_EQ(verify(game_file(), &score), "");
    EXPECT_EQ(score, GAME_SCORE);
    EXPECT_EQ(replay_run.fp.hash, replay.header.fingerprint);
}

// A game as its page streams it: chunks of whole frames cut anywhere, some
// sent again from an earlier frame, the watcher's clock a step at a time.
// Watched live it plays a second or two behind the last step held and ends
// where the whole replay does; a watcher come late is taken to that lead
// unseen; a chunk that leaves a gap or is malformed changes nothing held;
// a stream cut off is watched to its last frame held and no further.
TEST(Replay, AGameWatchedLiveChunkByChunkEndsWhereTheWholeReplayDoes)
{
    present_screen = [] {};
    Bytes b = game_file();
    ReplayError error;
    ASSERT_TRUE(read_replay(b.data(), b.size(), &error)) << error.text;
    const ReplayHeader start = replay.header;
    const std::vector<ReplayFrame> frames(replay.frame, replay.frame + replay.frames);
    const std::vector<StepInput> inputs(replay.input, replay.input + replay.steps);
    std::vector<long> begins{0};
    for (const ReplayFrame& f : frames)
        begins.push_back(begins.back() + f.steps);
    const long all = static_cast<long>(frames.size());
    auto chunk = [&](long from, long to) {
        Bytes out(static_cast<size_t>(12 * (begins[to] - begins[from]) + to - from));
        out.resize(static_cast<size_t>(write_frames(frames.data() + from, to - from, inputs.data() + begins[from],
                                                    begins[to] - begins[from], out.data(), 0,
                                                    static_cast<long>(out.size()))));
        return out;
    };
    auto add = [&](long from, long to) {
        Bytes c = chunk(from, to);
        return add_live_chunk(begins[from], c.data(), static_cast<long>(c.size()), &error);
    };
    auto tick = [] { return advance_watch(live_passed(STEP_MS)); };

    // What the replay held before is no help to the watch.
    auto forget = [] {
        std::fill(std::begin(replay.frame), std::end(replay.frame), ReplayFrame{5, 0, false});
        std::fill(std::begin(replay.input), std::end(replay.input), StepInput{7, -7, 1});
    };
    for (unsigned seed : {1u, 2u, 3u}) {
        std::mt19937 rng(seed);
        forget();
        start_live_watch(start);
        // Come late: the game so far in one chunk.
        long sent = 600 + static_cast<long>(rng() % 400);
        ASSERT_TRUE(add(0, sent)) << error.text;
        tick();
        EXPECT_GE(replay.steps - replay_run.step, LIVE_LEAD_STEPS - 5);
        EXPECT_LT(replay.steps - replay_run.step, LIVE_LEAD_STEPS + 5);
        while (sent < all) {
            const long to = std::min(all, sent + 1 + static_cast<long>(rng() % 160));
            const long from = rng() % 4 == 0 ? sent - static_cast<long>(rng() % 50) : sent;
            ASSERT_TRUE(add(from, to)) << error.text;
            EXPECT_EQ(replay.steps, begins[to]);
            sent = to;
            for (int t = 0; t < 100; t++) {
                tick();
                EXPECT_LE(replay.steps - replay_run.step, LIVE_CATCH_UP_STEPS + 5 * 160);
            }
        }
        // Refused, nothing held changes: a gap, bytes cut short.
        const long held = replay.steps;
        Bytes cut = chunk(all - 3, all);
        EXPECT_FALSE(add_live_chunk(held + 1, cut.data(), static_cast<long>(cut.size()), &error));
        EXPECT_FALSE(add_live_chunk(begins[all - 3], cut.data(), static_cast<long>(cut.size()) - 1, &error));
        EXPECT_EQ(replay.steps, held);
        end_live_watch(true);
        for (int t = 0; t < 200000 && tick() >= 0; t++) {
        }
        EXPECT_EQ(game_state, STATE_TITLE);
        EXPECT_EQ(score, GAME_SCORE) << "seed " << seed;
    }

    // Cut off half way: watched to the last frame held, and not a frame on.
    forget();
    start_live_watch(start);
    ASSERT_TRUE(add(0, all / 2));
    end_live_watch(false);
    for (int t = 0; t < 100000 && !live_cut_off(); t++)
        tick();
    EXPECT_TRUE(live_cut_off());
    EXPECT_EQ(replay_run.frame, all / 2);
    EXPECT_EQ(game_state, STATE_PLAYING);
}
