// The board's checks that need no server: names and rate limits.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "board/names.h"
#include "board/rate.h"

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

} // namespace
