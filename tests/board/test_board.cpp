// The board's checks that need no server: names, rate limits, and one game
// in one form whatever its replay's bytes.
#include <gtest/gtest.h>

#include <zlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

#include "../../tools/bot/bot.h"
#include "board/names.h"
#include "board/rate.h"
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
    // them all; a /48 gives 16 times an address's tokens.
    std::vector<std::string> net48;
    for (int i = 0; i < 40; i++)
        net48.push_back("2001:db8:7:" + std::to_string(i / 5) + "0" + std::to_string(i % 5) + "::1");
    const std::vector<std::pair<std::vector<std::string>, int>> shares = {
        {{"192.0.2.7", "::ffff:192.0.2.7"}, 6}, {{"::ffff:192.0.2.8", "::ffff:192.0.2.9"}, 12}, {net48, 96}};
    for (const auto& [addresses, total] : shares) {
        RateLimit fresh(6);
        int got = 0;
        for (const std::string& a : addresses)
            got += tokens(fresh, a, t);
        EXPECT_EQ(got, total) << addresses[1];
    }
    // Of a whole board's 64 a minute, one network takes a sixteenth: the
    // /48 four, an IPv4 address four; the rest is left for the others.
    RateLimit board(6, 64);
    int got = 0;
    for (const std::string& a : net48)
        got += tokens(board, a, t);
    EXPECT_EQ(got, 4);
    EXPECT_EQ(board.take("2001:db8:7:ff::1", t, &retry), RateLimit::network_limited);
    EXPECT_EQ(retry, 15);
    EXPECT_EQ(tokens(board, "192.0.2.1", t), 4);
    for (int i = 0; i < 20; i++)
        got += tokens(board, "198.51.100." + std::to_string(i), t);
    EXPECT_EQ(got, 60);
    EXPECT_EQ(board.take("203.0.113.1", t, &retry), RateLimit::board_limited);
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

using Bytes = std::string;

Bytes read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return Bytes(std::istreambuf_iterator<char>(f), {});
}

// The body compressed by zlib as told: a level, a window, and a sync flush
// every `flush_every` bytes followed by `flushes` empty stored blocks.
Bytes deflated(const Bytes& body, int level, int window_bits = 15, size_t flush_every = 0, int flushes = 1)
{
    z_stream z{};
    deflateInit2(&z, level, Z_DEFLATED, window_bits, 8, Z_DEFAULT_STRATEGY);
    Bytes out;
    unsigned char buffer[65536];
    auto pump = [&](const char* data, size_t size, int flush) {
        z.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data));
        z.avail_in = static_cast<uInt>(size);
        do {
            z.next_out = buffer;
            z.avail_out = sizeof buffer;
            deflate(&z, flush);
            out.append(reinterpret_cast<char*>(buffer), sizeof buffer - z.avail_out);
        } while (z.avail_out == 0);
    };
    // After a sync flush the stream is whole bytes: an empty stored block
    // (a zero byte of its header bits, a length of 0 and its complement)
    // may follow any number of times.
    const size_t step = flush_every ? flush_every : body.size();
    for (size_t at = 0; at < body.size(); at += step) {
        pump(body.data() + at, std::min(step, body.size() - at), flush_every ? Z_SYNC_FLUSH : Z_NO_FLUSH);
        for (int i = 0; flush_every && i < flushes; i++)
            out.append("\0\0\0\xff\xff", 5);
    }
    pump(nullptr, 0, Z_FINISH);
    deflateEnd(&z);
    return out;
}

// A replay file taken apart: its header and its body, uncompressed.
struct Parts {
    Bytes header, body;
    long frames = 0, steps = 0;
};

Parts parts(const Bytes& file)
{
    kiv::ReplayError error;
    EXPECT_TRUE(kiv::read_replay(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &error))
        << error.text;
    return Parts{file.substr(0, kiv::REPLAY_HEADER_SIZE),
                 Bytes(reinterpret_cast<const char*>(kiv::replay_body), kiv::replay.header.body_size),
                 kiv::replay.frames, kiv::replay.steps};
}

void put32(Bytes& b, size_t at, std::uint32_t v)
{
    for (int i = 0; i < 4; i++)
        b[at + i] = static_cast<char>(v >> (8 * i));
}

// Parts put together again, the header's body size (and steps) as they now are.
Bytes file_of(Parts p, int level = 9)
{
    put32(p.header, 28, static_cast<std::uint32_t>(p.steps));
    put32(p.header, 56, static_cast<std::uint32_t>(p.body.size()));
    return p.header + deflated(p.body, level);
}

// The game held in `replay` (its header, frames and inputs) as a file.
Bytes written()
{
    Bytes out(kiv::MAX_REPLAY_FILE, '\0');
    out.resize(static_cast<size_t>(kiv::write_replay(reinterpret_cast<unsigned char*>(out.data()),
                                                     static_cast<long>(out.size()))));
    return out;
}

// A game from its Start played with a session's recorded inputs, one a
// step in frames of one step, still once they run out, at a mouse speed.
const std::vector<kiv::StepInput>* played_inputs;

void recorded_input(kiv::StepInput* input)
{
    const long s = kiv::replay_run.step;
    const auto& in = *played_inputs;
    kiv::record_step_input(s < static_cast<long>(in.size()) ? in[static_cast<size_t>(s)] : kiv::StepInput{0, 0, 0},
                           input);
}

Bytes game_with_inputs(unsigned seed, float speed, const std::vector<kiv::StepInput>& inputs)
{
    using namespace kiv;
    played_inputs = &inputs;
    replay.header = ReplayHeader{};
    replay.header.kind = REPLAY_GAME;
    replay.header.rules = RULES_VERSION;
    replay.header.seed = seed;
    replay.header.pointer_x = 630;
    replay.header.pointer_y = 5;
    replay.header.mouse_speed = speed;
    replay.header.end = END_OVER;
    replay.frames = replay.steps = 0;
    start_replay(true, false);
    input_source = recorded_input;
    while (!replay_run.ended && replay.steps < MAX_REPLAY_STEPS) {
        replay.frame[replay.frames++] = ReplayFrame{1, 0, 0};
        replay.steps++;
        run_replay_frame();
    }
    stop_replay();
    replay.header.score = score;
    replay.header.fingerprint = replay_run.fp.hash;
    return written();
}

// The recorded games: each game from its Start as it is, and each
// session's inputs played as a game from its Start at mouse speeds of 3
// (motion past the screen's edges) and 0.4 (motion too small to move the
// pointer).
std::vector<std::pair<std::string, Bytes>> recorded_games()
{
    std::vector<std::pair<std::string, Bytes>> games;
    for (const auto& entry : std::filesystem::directory_iterator(KIV_SOURCE_DIR "/tests/replays")) {
        const Bytes file = read_file(entry.path());
        kiv::ReplayError error;
        EXPECT_TRUE(kiv::read_replay(reinterpret_cast<const unsigned char*>(file.data()), file.size(), &error))
            << entry.path() << ": " << error.text;
        const std::string name = entry.path().filename();
        if (kiv::replay.header.kind == kiv::REPLAY_GAME) {
            games.emplace_back(name, file);
            continue;
        }
        const std::vector<kiv::StepInput> inputs(kiv::replay.input, kiv::replay.input + kiv::replay.steps);
        for (float speed : {3.0f, 0.4f})
            games.emplace_back(name + " at " + std::to_string(speed), game_with_inputs(kiv::replay.header.seed + 1,
                                                                                         speed, inputs));
    }
    return games;
}

Verdict verdict_of(const Bytes& file)
{
    kiv::ReplayHeader h;
    kiv::ReplayError error;
    const auto* d = reinterpret_cast<const unsigned char*>(file.data());
    const std::uint32_t seed = kiv::read_replay_header(d, file.size(), &h, &error) ? h.seed : 0;
    // Any steps a frame: some writings add steps to the last frame.
    return replay_verdict(d, file.size(), seed, 5, 5);
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
        ASSERT_EQ(again.kind, Verdict::verified) << again.error;
        EXPECT_EQ(again.replay, first.replay);
        EXPECT_EQ(again.inputs, first.inputs);
        kiv::ReplayError error;
        kiv::ReplayResult result;
        ASSERT_TRUE(kiv::read_replay(reinterpret_cast<const unsigned char*>(first.replay.data()), first.replay.size(),
                                     &error) &&
                    kiv::verify_replay(&result, &error))
            << error.text;
        EXPECT_EQ(result.score, first.score);
        EXPECT_NE(kiv::replay.header.fingerprint, 0u);
        // What each step of play read: the last 100 of the game as played are
        // its ending, when the pointer is not read.
        const long played = first.steps;

        const Parts p = parts(file);
        auto body_edit = [&p](const std::function<void(Parts&)>& edit) {
            Parts q = p;
            edit(q);
            return file_of(q);
        };
        auto game_edit = [&file](const std::function<void()>& edit) {
            parts(file);
            edit();
            return written();
        };
        struct Writing {
            const char* what;
            Bytes file;
            bool same_file;  // else the same game from another start (its header differs)
        };
        const Writing writings[] = {
            {"zlib's level 0 (stored blocks)", p.header + deflated(p.body, 0), true},
            {"zlib's level 1", p.header + deflated(p.body, 1), true},
            {"a window of 512 bytes", p.header + deflated(p.body, 6, 9), true},
            {"empty stored blocks after every 64 bytes (sync flushes), 1.5 MB in all",
             p.header + deflated(p.body, 9, 15, 64, static_cast<int>(1500000 / 5 / ((p.body.size() + 63) / 64)) + 1), true},
            {"bytes after the compressed body", file + Bytes("\0\0\0\0", 4), true},
            {"bytes after the last motion", body_edit([](Parts& q) { q.body += '\0'; }), true},
            {"a motion written in two bytes", body_edit([](Parts& q) {
                 const size_t x = static_cast<size_t>(q.frames + q.steps);
                 q.body[x] = static_cast<char>(q.body[x] | 0x80);
                 q.body.insert(x + 1, 1, '\0');
             }), true},
            {"every unused button bit set in every step", body_edit([](Parts& q) {
                 for (long s = 0; s < q.steps; s++)
                     q.body[static_cast<size_t>(q.frames + s)] = static_cast<char>(q.body[q.frames + s] | 0xfe);
             }), true},
            {"the left button held from Start to the end", game_edit([played] {
                 for (long s = 0; s < played; s++)
                     kiv::replay.input[s].buttons |= 1;
             }), true},
            {"motion in the ending, which the game does not read", game_edit([played] {
                 for (long s = played - 100; s < played; s++)
                     kiv::replay.input[s].dx += 37, kiv::replay.input[s].dy -= 1000;
             }), true},
            {"motion past the screen's edge", game_edit([played] {
                 kiv::mouse_speed = kiv::replay.header.mouse_speed;
                 int x = kiv::replay.header.pointer_x;
                 for (long s = 0; s < played - 121; s++) {
                     kiv::StepInput& in = kiv::replay.input[s];
                     x = kiv::pointer_moved(x, in.dx, 640);
                     in.dx += x == 0 ? -5000 : x == 639 ? 5000 : 0;
                 }
             }), true},
            {"Escape pressed and the window closed after the game's end", game_edit([] {
                 kiv::replay.frame[kiv::replay.frames - 1].escapes = 3;
                 kiv::replay.frame[kiv::replay.frames - 1].close = 1;
             }), true},
            {"steps after the game's end, with a click and motion", game_edit([] {
                 kiv::ReplayFrame& last = kiv::replay.frame[kiv::replay.frames - 1];
                 while (last.steps < 5) {
                     last.steps++;
                     kiv::replay.input[kiv::replay.steps++] = kiv::StepInput{300, -200, 1};
                 }
                 kiv::replay.header.fingerprint = 0;
             }), true},
            {"another high score, no fingerprint", game_edit([] {
                 kiv::replay.header.high_score = 123456789;
                 kiv::replay.header.fingerprint = 0;
             }), false},
        };
        EXPECT_GT(writings[3].file.size(), 1500000u);
        for (const Writing& w : writings) {
            SCOPED_TRACE(w.what);
            const Verdict v = verdict_of(w.file);
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
        parts(first.replay);
        const std::string key = played_key(kiv::replay.header.seed);
        kiv::mouse_speed = kiv::replay.header.mouse_speed;
        int x = kiv::replay.header.pointer_x;
        for (long s = 0; s < played / 2; s++)
            x = kiv::pointer_moved(x, kiv::replay.input[s].dx, 640);
        int& dx = kiv::replay.input[played / 2].dx;
        const int landed = kiv::pointer_moved(x, dx, 640), away = x < 320 ? 1 : -1;
        while (kiv::pointer_moved(x, dx, 640) == landed)
            dx += away;
        EXPECT_NE(played_key(kiv::replay.header.seed), key);
    }
    EXPECT_EQ(games, 7);
    // The reader refuses what no writer writes (padded numbers, bytes after
    // the end); everything else a player can write is kept as the same game.
    EXPECT_EQ(refused, 3 * games);
    EXPECT_EQ(same, 11 * games);
}

} // namespace
