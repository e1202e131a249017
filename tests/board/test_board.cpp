// The board's checks that need no server: names, rate limits, one game in
// one form whatever its replay's bytes, the stream's chunks and pace, and a
// watcher's text.
#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "../../tools/bot/bot.h"
#include "board/http.h"
#include "board/names.h"
#include "board/rate.h"
#include "board/stream.h"
#include "board/verify.h"
#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "replay/file.h"
#include "replay/run.h"

namespace {

using namespace kiv::board;

struct NameCase {
    const char* typed;
    const char* stored;   // nullptr: refused
    const char* because;  // part of the refusal
};

TEST(BoardNames, Matrix)
{
    const std::string ten_thousand(10000, 'a');
    const NameCase cases[] = {
        {"Ann", "Ann", ""},
        {"  Ann Lee  ", "Ann Lee", ""},
        {"Top   Dog", "Top Dog", ""},                          // a run of spaces shows as one
        {"a b  c d e f g h i", nullptr, "too long"},           // 17 characters, spaces single
        {"a  b c d e f g h", "a b c d e f g h", ""},          // 15 once its spaces are single
        {"Robert');--", "Robert');--", ""},
        {"a!#$%&'()*+,-./:", "a!#$%&'()*+,-./:", ""},
        {"=?@[]^_{|}~ 0", "=?@[]^_{|}~ 0", ""},
        {"!#$%&'()*+,-./:;", nullptr, "no visible letter"},
        {"Zoë", "Zoë", ""},
        {"李小龍", "李小龍", ""},
        {"Ωμέγα 42", "Ωμέγα 42", ""},
        {"١٢٣", "١٢٣", ""},                                  // Arabic-Indic digits
        {"sixteen chars ok", "sixteen chars ok", ""},
        {"seventeen chars!!", nullptr, "too long"},
        {"ëëëëëëëëëëëëëëëë", "ëëëëëëëëëëëëëëëë", ""},        // 16 characters, 32 bytes
        {"", nullptr, "empty"},
        {"    ", nullptr, "empty"},
        {"<img src=x>", nullptr, "only letters"},
        {"a\"b", nullptr, "only letters"},
        {"a`b", nullptr, "only letters"},
        {"a\\b", nullptr, "only letters"},
        {"a\tb", nullptr, "control"},
        {"bell\a", nullptr, "control"},
        {"a\x7f", nullptr, "control"},
        {"a\xc2\x85", nullptr, "control"},                  // U+0085
        {"\xe2\x80\xae" "evil", nullptr, "bidirectional"},    // U+202E
        {"a\xe2\x81\xa6" "b", nullptr, "bidirectional"},      // U+2066
        {"a\xe2\x80\x8f", nullptr, "bidirectional"},          // U+200F
        {"a\xe2\x80\x8d" "b", nullptr, "invisible"},          // zero-width joiner
        // Blank names: fillers, soft hyphens, variation selectors, tags.
        {"\xe3\x85\xa4\xe3\x85\xa4\xe3\x85\xa4\xe3\x85\xa4", nullptr, "invisible"},  // U+3164 Hangul filler
        {"\xef\xbe\xa0\xef\xbe\xa0", nullptr, "invisible"},                    // U+FFA0
        {"a\xc2\xad" "b", nullptr, "invisible"},                                 // U+00AD
        {"a\xf3\xa0\x81\x81", nullptr, "invisible"},                             // U+E0041, a tag
        {"a\xef\xbf\xb9" "b", nullptr, "invisible"},                             // U+FFF9
        {"\xe2\xa0\x80\xe2\xa0\x80", nullptr, "only letters"},                  // U+2800, braille blank
        // Combining marks: on a letter, three at most; none alone.
        {"Zoe\xcc\x88", "Zoe\xcc\x88", ""},                                      // Zoë decomposed
        {"น้ำ", "น้ำ", ""},                                                            // Thai, a tone mark
        {"नमस्ते", "नमस्ते", ""},                                                      // a virama
        {"a\xcd\x85\xcd\x85\xcd\x85", "a\xcd\x85\xcd\x85\xcd\x85", ""},                 // three U+0345
        {"a\xcd\x85\xcd\x85\xcd\x85\xcd\x85", nullptr, "stacks"},                    // four
        {"\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85"
         "\xcd\x85\xcd\x85\xcd\x85", nullptr, "no letter under it"},                  // fifteen U+0345
        {"a \xcc\x81", nullptr, "no letter under it"},                           // on a space
        {"\xc3\x28", nullptr, "UTF-8"},
        {"\xc0\xaf", nullptr, "UTF-8"},                       // overlong "/"
        {"\xed\xa0\x80", nullptr, "UTF-8"},                   // a surrogate
        {"\xf4\x90\x80\x80", nullptr, "UTF-8"},               // past U+10FFFF
        {"ab\xe2\x82", nullptr, "UTF-8"},                     // cut short
        {ten_thousand.c_str(), nullptr, "too long"},
    };
    for (const NameCase& c : cases) {
        std::string name = c.typed, why;
        bool ok = check_name(&name, &why);
        SCOPED_TRACE(c.typed);
        EXPECT_EQ(ok, c.stored != nullptr) << why;
        if (c.stored)
            EXPECT_EQ(name, c.stored);
        else
            EXPECT_NE(why.find(c.because), std::string::npos) << why;
    }
    std::string nul("a\0b", 3), why;
    EXPECT_FALSE(check_name(&nul, &why));
    EXPECT_NE(why.find("control"), std::string::npos);
}

using Clock = RateLimit::Clock;
using std::chrono::seconds;

// Tokens `address` gets at `t` before it is refused.
int tokens(RateLimit& limit, const std::string& address, Clock::time_point t)
{
    int n = 0, retry = 0;
    while (n < 10000 && limit.take(address, t, &retry) == RateLimit::taken)
        n++;
    return n;
}

TEST(BoardRateLimit, BurstThenRefillPerAddress)
{
    RateLimit limit(6);  // one every 10 s, bursts of 6
    auto t = Clock::now();
    int retry = 0;
    EXPECT_EQ(tokens(limit, "192.0.2.1", t), 6);
    EXPECT_EQ(limit.take("192.0.2.1", t, &retry), RateLimit::address_limited);
    EXPECT_EQ(retry, 10);
    EXPECT_EQ(limit.take("192.0.2.1", t + seconds(9), &retry), RateLimit::address_limited);
    EXPECT_EQ(retry, 1);
    EXPECT_EQ(limit.take("192.0.2.1", t + seconds(10), &retry), RateLimit::taken);
    // A long quiet time refills no more than a burst.
    EXPECT_EQ(tokens(limit, "192.0.2.1", t + std::chrono::hours(1)), 6);
    // Who shares a bucket (a /64, its /56 and its /48 are the attack
    // table's): IPv4 mapped into IPv6 is the IPv4 address, not a /64 of
    // them all; a /48 gives 16 times an address's tokens, and of a whole
    // board's 64 a minute a sixteenth.
    std::vector<std::string> net48;
    for (int i = 0; i < 40; i++)
        net48.push_back("2001:db8:7:" + std::to_string(i / 5) + "0" + std::to_string(i % 5) + "::1");
    const std::vector<std::tuple<std::vector<std::string>, int, int>> shares = {
        {{"192.0.2.7", "::ffff:192.0.2.7"}, 6, 0}, {{"::ffff:192.0.2.8", "::ffff:192.0.2.9"}, 12, 0},
        {net48, 96, 0}, {net48, 4, 64}, {{"192.0.2.7", "192.0.2.8"}, 8, 64}};
    for (const auto& [addresses, total, board] : shares) {
        RateLimit fresh(6, board);
        int got = 0;
        for (const std::string& a : addresses)
            got += tokens(fresh, a, t);
        EXPECT_EQ(got, total) << addresses[1];
    }
}

TEST(BoardRateLimit, ATicketInPlayHasABucketOfItsOwn)
{
    TicketLimit limit(3);
    auto t = Clock::now();
    const std::string a(32, 'a'), b = std::string(31, 'a') + "b";
    int retry = 0, taken = 0;
    while (taken < 10 && limit.take(a, t, &retry))
        taken++;
    EXPECT_EQ(taken, 3);
    EXPECT_EQ(retry, 20);
    EXPECT_TRUE(limit.take(b, t, &retry));
    EXPECT_TRUE(limit.take(a, t + seconds(20), &retry));
}

TEST(BoardRateLimit, AddressesAreForgottenOnceTheirBucketsAreFull)
{
    RateLimit limit(6, 0, 1000);
    auto t = Clock::now();
    int retry = 0;
    limit.take("192.0.2.1", t, &retry);
    limit.take("2001:db8::1", t, &retry);
    EXPECT_EQ(limit.size(), 4u);  // an IPv4 address; a /64, its /56 and its /48
    // A request forgets those of its table that are full again.
    limit.take("192.0.2.2", t + seconds(9), &retry);
    EXPECT_EQ(limit.size(), 5u);
    limit.take("192.0.2.3", t + seconds(11), &retry);
    EXPECT_EQ(limit.size(), 4u);  // 192.0.2.2, 192.0.2.3; the /56 and /48
    // Without requests, the server's sweep forgets them.
    limit.forget_full(t + seconds(30));
    EXPECT_EQ(limit.size(), 0u);
    // Past its capacity a table forgets the longest idle, one at a time.
    for (int i = 0; i < 1500; i++)
        limit.take("10.0." + std::to_string(i / 256) + "." + std::to_string(i % 256), t, &retry);
    EXPECT_EQ(limit.size(), 1000u);
    EXPECT_EQ(tokens(limit, "10.0.0.0", t), 6);    // forgotten: a new bucket
    EXPECT_EQ(tokens(limit, "10.0.5.219", t), 5);  // the newest, still held
}

// One game, one form: every way a player could write a recorded game again
// is refused, or kept as the same game under the same key.

using kiv::replay;

// How the game in `replay` is written: zlib's level and window, empty
// stored blocks after a sync flush in the middle, its buttons or'ed with
// `bits`, its first motion a byte longer, a byte after the body or after
// the stream.
struct Writing {
    int level = 9, window = 15, stored = 0, bits = 0;
    bool padded = false, body_tail = false, stream_tail = false;
};

std::string written(const Writing& w)
{
    std::string body(kiv::MAX_REPLAY_BODY, '\0'), out(kiv::REPLAY_HEADER_SIZE, '\0');
    body.resize(static_cast<size_t>(kiv::write_replay_body(reinterpret_cast<unsigned char*>(body.data()),
                                                           kiv::MAX_REPLAY_BODY)));
    const size_t x = static_cast<size_t>(replay.frames + replay.steps);
    for (size_t s = static_cast<size_t>(replay.frames); s < x; s++)
        body[s] = static_cast<char>(body[s] | w.bits);
    if (w.padded)
        body.insert(x + 1, 1, '\0'), body[x] = static_cast<char>(body[x] | 0x80);
    if (w.body_tail)
        body += '\0';
    replay.header.steps = replay.steps, replay.header.frames = replay.frames;
    replay.header.body_size = static_cast<long>(body.size());
    kiv::write_replay_header(replay.header, reinterpret_cast<unsigned char*>(out.data()));
    z_stream z{};
    deflateInit2(&z, w.level, Z_DEFLATED, w.window, 8, Z_DEFAULT_STRATEGY);
    std::string packed(compressBound(static_cast<uLong>(body.size())) + 64, '\0');
    auto pack = [&](size_t from, size_t to, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(body.data() + from), z.avail_in = static_cast<uInt>(to - from);
        z.next_out = reinterpret_cast<Bytef*>(packed.data()), z.avail_out = static_cast<uInt>(packed.size());
        deflate(&z, flush);
        out += packed.substr(0, packed.size() - z.avail_out);
    };
    pack(0, body.size() / 2, Z_SYNC_FLUSH);
    // Whole bytes after a sync flush: an empty stored block may follow any number of times.
    for (int i = 0; i < w.stored; i++)
        out.append("\0\0\0\xff\xff", 5);
    pack(body.size() / 2, body.size(), Z_FINISH);
    deflateEnd(&z);
    return w.stream_tail ? out + '\0' : out;
}

bool read(const std::string& file)
{
    kiv::ReplayError error;
    return kiv::read_replay(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &error);
}

// The recorded games from their Start, and each recorded session's inputs
// played as a game from its Start, one a step, at mouse speeds of 3 (motion
// past the screen's edges) and 0.4 (motion too small to move the pointer).
const std::vector<kiv::StepInput>* session;

std::vector<std::pair<std::string, std::string>> recorded_games()
{
    using namespace kiv;
    std::vector<std::pair<std::string, std::string>> games;
    for (const auto& entry : std::filesystem::directory_iterator(KIV_SOURCE_DIR "/tests/replays")) {
        std::ifstream f(entry.path(), std::ios::binary);
        const std::string file{std::istreambuf_iterator<char>(f), {}}, name = entry.path().filename();
        EXPECT_TRUE(read(file)) << name;
        if (replay.header.kind == REPLAY_GAME) {
            games.emplace_back(name, file);
            continue;
        }
        const std::vector<StepInput> inputs(replay.input, replay.input + replay.steps);
        session = &inputs;
        for (float speed : {3.0f, 0.4f}) {
            replay.header = ReplayHeader{};
            replay.header.kind = REPLAY_GAME, replay.header.rules = RULES_VERSION, replay.header.seed = 7;
            replay.header.pointer_x = 630, replay.header.pointer_y = 5, replay.header.mouse_speed = speed;
            replay.header.end = END_OVER;
            replay.frames = replay.steps = 0;
            start_replay(true, false);
            input_source = [](StepInput* in) {
                const size_t s = static_cast<size_t>(replay_run.step);
                record_step_input(s < session->size() ? (*session)[s] : StepInput{}, in);
            };
            for (; !replay_run.ended && replay.steps < MAX_REPLAY_STEPS; run_replay_frame())
                replay.frame[replay.frames++] = ReplayFrame{1, 0, 0}, replay.steps++;
            stop_replay();
            replay.header.score = score;
            replay.header.fingerprint = replay_run.fp.hash;
            games.emplace_back(name + " at " + std::to_string(speed), written({}));
        }
    }
    return games;
}

Verdict verdict_of(const std::string& file)
{
    kiv::ReplayHeader h{};
    kiv::ReplayError e;
    kiv::read_replay_header(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &h, &e);
    // Any steps a frame: some writings add steps to the last frame.
    return replay_verdict(reinterpret_cast<const unsigned char*>(file.data()), file.size(), h.seed, 5, 5);
}

TEST(BoardOneForm, EveryWritingOfARecordedGameIsRefusedOrTheSameGame)
{
    kiv::present_screen = [] {};
    int games = 0, refused = 0, same = 0;
    for (const auto& [name, file] : recorded_games()) {
        SCOPED_TRACE(name);
        const Verdict first = verdict_of(file);
        ASSERT_EQ(first.kind, Verdict::verified) << first.error;
        games++;
        // The game as played is its own one form, and plays to its score
        // with the fingerprint its header gives.
        const Verdict again = verdict_of(first.replay);
        EXPECT_EQ(again.replay, first.replay);
        EXPECT_EQ(again.inputs, first.inputs);
        kiv::ReplayError error;
        kiv::ReplayResult result;
        ASSERT_TRUE(read(first.replay) && kiv::verify_replay(&result, &error)) << error.text;
        EXPECT_EQ(result.score, first.score);
        EXPECT_NE(replay.header.fingerprint, 0u);
        // Of the game as played, the last 121 steps are its ending: the pointer is not read.
        const long played = first.steps, ending = played - 121;
        const struct {
            const char* what;
            std::function<void()> edit;
            Writing writing;
            bool same_file;  // else the same game from another start (its header differs)
        } writings[] = {
            {"zlib's level 0 (stored blocks)", nullptr, {0}, true},
            {"zlib's level 1 and a window of 512 bytes", nullptr, {1, 9}, true},
            {"1.5 MB of empty stored blocks after a sync flush", nullptr, {9, 15, 300000}, true},
            {"a byte after the compressed stream", nullptr, {9, 15, 0, 0, false, false, true}, true},
            {"a byte after the last motion", nullptr, {9, 15, 0, 0, false, true}, true},
            {"a motion written in two bytes", nullptr, {9, 15, 0, 0, true}, true},
            {"every unused button bit set", nullptr, {9, 15, 0, 0xfe}, true},
            {"the left button held from Start to the end",
             [&] { for (long s = 0; s < played; s++) replay.input[s].buttons |= 1; }, {}, true},
            {"motion in the ending, which the game does not read",
             [&] { for (long s = ending; s < played; s++) replay.input[s].dx += 37, replay.input[s].dy -= 1000; }, {},
             true},
            {"motion past the screen's edge",
             [&] {
                 kiv::mouse_speed = replay.header.mouse_speed;
                 for (long s = 0, x = replay.header.pointer_x; s < ending; s++) {
                     x = kiv::pointer_moved(static_cast<int>(x), replay.input[s].dx, 640);
                     replay.input[s].dx += x == 0 ? -5000 : x == 639 ? 5000 : 0;
                 }
             }, {}, true},
            {"Escape pressed and the window closed after the game's end",
             [] { replay.frame[replay.frames - 1].escapes = 3, replay.frame[replay.frames - 1].close = 1; }, {}, true},
            {"steps after the game's end, with a click and motion, no fingerprint",
             [] {
                 for (auto& last = replay.frame[replay.frames - 1]; last.steps < 5; last.steps++)
                     replay.input[replay.steps++] = kiv::StepInput{300, -200, 1};
                 replay.header.fingerprint = 0;
             }, {}, true},
            {"another high score", [] { replay.header.high_score = 123456789, replay.header.fingerprint = 0; }, {},
             false},
        };
        for (const auto& w : writings) {
            SCOPED_TRACE(w.what);
            read(file);
            if (w.edit)
                w.edit();
            const Verdict v = verdict_of(written(w.writing));
            if (v.kind == Verdict::refused) {
                refused++;
                continue;
            }
            ASSERT_EQ(v.kind, Verdict::verified);
            same++;
            EXPECT_EQ(v.inputs, first.inputs);
            EXPECT_EQ(v.score, first.score);
            if (w.same_file) {
                EXPECT_EQ(v.replay, first.replay);
            }
        }
        // Another game has another key: the pointer a pixel away in one step.
        read(first.replay);
        const std::string key = played_key(replay.header.seed);
        int x = replay.header.pointer_x;
        for (long s = 0; s < played / 2; s++)
            x = kiv::pointer_moved(x, replay.input[s].dx, 640);
        for (const int landed = kiv::pointer_moved(x, replay.input[played / 2].dx, 640);
             kiv::pointer_moved(x, replay.input[played / 2].dx, 640) == landed;)
            replay.input[played / 2].dx += x < 320 ? 1 : -1;
        EXPECT_NE(played_key(replay.header.seed), key);
        // Frames written where they do not fit: not a byte past the room.
        for (long capacity : {replay.frames + replay.steps - 1, replay.frames + replay.steps + 1}) {
            std::string room(static_cast<size_t>(capacity + 8), '\xa5');
            EXPECT_EQ(kiv::write_frames(replay.frame, replay.frames, replay.input, replay.steps,
                                        reinterpret_cast<unsigned char*>(room.data()), 0, capacity), -1);
            EXPECT_EQ(room.substr(static_cast<size_t>(capacity)), std::string(8, '\xa5'));
        }
    }
    EXPECT_EQ(games, 7);
    // The reader refuses what no writer writes (numbers written long, bytes
    // after the end); everything else a player can write is the same game.
    EXPECT_EQ(refused, 3 * games);
    EXPECT_EQ(same, 10 * games);
}

// Random play cut into chunks: each reads back as the frames written, two
// joined read as one, and nothing else reads: a byte less or more, or more
// steps than a chunk may hold.
TEST(Stream, ChunksReadBackAsWritten)
{
    std::mt19937 random(32);
    auto below = [&](int n) { return static_cast<int>(random() % static_cast<unsigned>(n)); };
    std::vector<kiv::ReplayFrame> frame(400);
    std::vector<kiv::StepInput> input(2000);
    for (int round = 0; round < 100; round++) {
        const long frames = 1 + below(400);
        long steps = 0;
        for (long f = 0; f < frames; f++) {
            frame[f] = {static_cast<unsigned char>(1 + below(5)), static_cast<unsigned char>(below(8)),
                        static_cast<unsigned char>(below(2))};
            for (int s = 0; s < frame[f].steps; s++)
                input[steps++] = {below(4001) - 2000, below(1 << 20) - (1 << 19), below(128)};
        }
        auto written = [&](long f0, long f1) {
            long s0 = 0, s1 = 0;
            for (long f = 0; f < f1; f++)
                (f < f0 ? s0 : s1) += frame[f].steps;
            std::string raw(static_cast<size_t>(12 * (s1 + 1)), '\0');
            raw.resize(static_cast<size_t>(kiv::write_frames(frame.data() + f0, f1 - f0, input.data() + s0, s1,
                                                             reinterpret_cast<unsigned char*>(raw.data()), 0,
                                                             static_cast<long>(raw.size()))));
            return raw;
        };
        const std::string raw = written(0, frames);
        Frames out;
        std::string why;
        ASSERT_TRUE(unpack_chunk(pack(raw), steps, &out, &why)) << why;
        ASSERT_EQ(out.frames, frames);
        ASSERT_EQ(out.steps, steps);
        for (long f = 0; f < frames; f++)
            ASSERT_EQ(std::make_tuple(out.frame[f].steps, out.frame[f].escapes, out.frame[f].close),
                      std::make_tuple(frame[f].steps, frame[f].escapes, frame[f].close));
        for (long s = 0; s < steps; s++)
            ASSERT_EQ(std::make_tuple(out.input[s].dx, out.input[s].dy, out.input[s].buttons),
                      std::make_tuple(input[s].dx, input[s].dy, input[s].buttons));
        const long cut = below(static_cast<int>(frames));
        if (cut > 0) {
            EXPECT_EQ(join_chunks({pack(written(0, cut)), pack(written(cut, frames))}), pack(raw));
        }
        EXPECT_FALSE(unpack_chunk(pack(raw), steps - 1, &out, &why));
        EXPECT_FALSE(unpack_chunk(pack(raw.substr(0, raw.size() - 1)), steps, &out, &why));
        EXPECT_FALSE(unpack_chunk(pack(raw + raw.back()), steps, &out, &why));
        EXPECT_FALSE(unpack_chunk(pack(raw) + "x", steps, &out, &why));
    }
}

// A game is behind once its next step was due more than the margin before.
TEST(Stream, BehindPastTheMarginOnly)
{
    EXPECT_FALSE(fell_behind(5000, 100, 5000 + 1010 + 10000, 10));
    EXPECT_TRUE(fell_behind(5000, 100, 5000 + 1010 + 10001, 10));
    EXPECT_FALSE(fell_behind(5000, 0, 5000 + 10 + 2500, 2.5));
    EXPECT_TRUE(fell_behind(5000, 0, 5000 + 10 + 2501, 2.5));
}

// A watcher's text: what was sent is let go, and what waits is held to the
// cap, past which the stream is closed and nothing more is sent; a game's
// catch-up is kept whole, the cap holding what waits beyond it.
TEST(Stream, AWatchersTextHoldsWhatWaitsAlone)
{
    const std::string event(1000, 'e');
    char buf[4096];
    EventStream slow;  // a reader ten bytes short each time
    for (int i = 0; i < 300; i++) {
        ASSERT_TRUE(slow.push(event, false, 4000));
        ASSERT_EQ(slow.read(buf, 990, nullptr), 990);
    }
    EXPECT_EQ(slow.waiting(), 3000u);
    EXPECT_LE(slow.held(), 4000u);  // what waits, and what was last read until the next push
    EXPECT_FALSE(slow.push(event + event, false, 4000));
    EXPECT_EQ(slow.read(buf, sizeof buf, nullptr), -1);
    EXPECT_FALSE(slow.push(event, false, 4000));

    EventStream caught_up;  // a game so far, far past the cap, then what follows it
    ASSERT_TRUE(caught_up.push(std::string(100000, 'c'), false, 4000, true));
    for (int i = 0; i < 3; i++)
        ASSERT_TRUE(caught_up.push(event, false, 4000));
    ASSERT_EQ(caught_up.read(buf, 4000, nullptr), 4000);
    EXPECT_TRUE(caught_up.push(event, false, 4000));
    EXPECT_FALSE(caught_up.push(event, false, 4000));
    EXPECT_EQ(caught_up.read(buf, sizeof buf, nullptr), -1);
}

} // namespace
