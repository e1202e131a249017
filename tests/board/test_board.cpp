// The board's checks that need no server: names, rate limits and the
// bounds on a request's JSON.
#include <gtest/gtest.h>

#include <string>

#include "board/fields.h"
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
        {"\xe1\x85\xa0\xe1\x85\xa0", nullptr, "invisible"},                    // U+1160
        {"\xef\xbe\xa0\xef\xbe\xa0", nullptr, "invisible"},                    // U+FFA0
        {"a\xc2\xad" "b", nullptr, "invisible"},                                 // U+00AD
        {"a\xef\xb8\x8f", nullptr, "invisible"},                                 // U+FE0F
        {"a\xf3\xa0\x81\x81", nullptr, "invisible"},                             // U+E0041, a tag
        {"a\xef\xbf\xb9" "b", nullptr, "invisible"},                             // U+FFF9
        {"\xe2\xa0\x80\xe2\xa0\x80", nullptr, "only letters"},                  // U+2800, braille blank
        // Combining marks: on a letter, three at most; none alone.
        {"Zoe\xcc\x88", "Zoe\xcc\x88", ""},                                      // Zoë decomposed
        {"\xe0\xb8\x99\xe0\xb9\x89\xe0\xb8\xb3", "\xe0\xb8\x99\xe0\xb9\x89\xe0\xb8\xb3", ""},  // Thai, a tone mark
        {"नमस्ते", "नमस्ते", ""},                                                      // a virama
        {"a\xcd\x85\xcd\x85\xcd\x85", "a\xcd\x85\xcd\x85\xcd\x85", ""},                 // three U+0345
        {"a\xcd\x85\xcd\x85\xcd\x85\xcd\x85", nullptr, "stacks"},                    // four
        {"\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85\xcd\x85"
         "\xcd\x85\xcd\x85\xcd\x85", nullptr, "no letter under it"},                  // fifteen U+0345
        {"a \xcc\x81", nullptr, "no letter under it"},                           // on a space
        {"-\xcc\x81", nullptr, "no letter under it"},                            // on punctuation
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
    EXPECT_EQ(limit.take("192.0.2.2", t, &retry), RateLimit::taken);
    EXPECT_EQ(limit.take("192.0.2.1", t + seconds(9), &retry), RateLimit::address_limited);
    EXPECT_EQ(retry, 1);
    EXPECT_EQ(limit.take("192.0.2.1", t + seconds(10), &retry), RateLimit::taken);
    // A long quiet time refills no more than a burst.
    EXPECT_EQ(tokens(limit, "192.0.2.1", t + std::chrono::hours(1)), 6);
}

// Who shares a bucket: IPv4 addresses each their own (mapped into IPv6
// too); an IPv6 /64 one, its /56 four times as much, its /48 sixteen.
TEST(BoardRateLimit, IPv6CountsByNetwork)
{
    auto t = Clock::now();
    struct Case {
        const char* what;
        std::vector<const char*> addresses;  // asked in turn until each is refused
        int total;                            // tokens they got together
    } cases[] = {
        {"two IPv4 addresses", {"192.0.2.1", "192.0.2.2"}, 12},
        {"IPv4 and the same mapped into IPv6", {"192.0.2.1", "::ffff:192.0.2.1"}, 6},
        {"IPv4 mapped addresses are not one /64", {"::ffff:192.0.2.1", "::ffff:192.0.2.2"}, 12},
        {"one /64", {"2001:db8:0:1::1", "2001:db8:0:1:ffff:ffff:ffff:ffff"}, 6},
        {"the /64s of one /56", {"2001:db8:0:100::1", "2001:db8:0:101::1", "2001:db8:0:102::1",
                                 "2001:db8:0:103::1", "2001:db8:0:104::1", "2001:db8:0:1ff::1"}, 24},
        {"the /64s of the /56s of one /48", {}, 96},
        {"two /48s", {"2001:db8:8::1", "2001:db8:9::1"}, 12},
    };
    // Five /64s in each of six /56s: each /56 would give 24, the /48 gives 96.
    std::vector<std::string> networks;
    for (int net56 = 0; net56 < 6; net56++)
        for (int net64 = 0; net64 < 5; net64++)
            networks.push_back("2001:db8:7:" + std::to_string(net56) + "0" + std::to_string(net64) + "::1");
    for (const std::string& a : networks)
        cases[5].addresses.push_back(a.c_str());
    for (const Case& c : cases) {
        RateLimit limit(6);
        int total = 0;
        for (const char* a : c.addresses)
            total += tokens(limit, a, t);
        EXPECT_EQ(total, c.total) << c.what;
    }
}

TEST(BoardRateLimit, TheWholeBoardHasALimitOfItsOwn)
{
    RateLimit limit(6, 10);
    auto t = Clock::now();
    int retry = 0, taken = 0;
    for (int i = 1; i <= 20; i++)
        taken += limit.take("192.0.2." + std::to_string(i), t, &retry) == RateLimit::taken;
    EXPECT_EQ(taken, 10);
    EXPECT_EQ(limit.take("192.0.2.99", t, &retry), RateLimit::board_limited);
    EXPECT_EQ(retry, 6);
    // A refused address keeps its own tokens: those 10 each took one.
    EXPECT_EQ(tokens(limit, "192.0.2.1", t + seconds(60)), 6);
}

TEST(BoardRateLimit, AddressesAreForgottenOnceTheirBucketsAreFull)
{
    RateLimit limit(6, 0, 1000);
    auto t = Clock::now();
    int retry = 0;
    limit.take("192.0.2.1", t, &retry);
    limit.take("2001:db8::1", t, &retry);
    EXPECT_EQ(limit.size(), 4u);  // an IPv4 address; a /64, its /56 and its /48
    // Another request forgets those of its table that are full again.
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

// The bounds on a request's JSON: each of these stops the parse where it
// passes them.
TEST(BoardJson, FieldsAreReadWithinBounds)
{
    const std::vector<FieldBound> fields = {{"ticket", 8}, {"name", 16}};
    auto nest = [](int depth) { return std::string(static_cast<size_t>(depth), '[') + std::string(static_cast<size_t>(depth), ']'); };
    std::string many = R"({"ticket": "t", "name": "n", "x": [)";
    for (int i = 0; i < 70; i++)
        many += i ? ",{}" : "{}";
    many += "]}";
    struct Case {
        std::string body;
        const char* because;  // nullptr: read
    } cases[] = {
        {R"({"ticket": "abc", "name": "Ann"})", nullptr},
        {R"({"name": "Ann", "extra": {"a": [1, 2.5, true, null]}, "ticket": "abc"})", nullptr},
        {R"({"ticket": "abc", "name": "Ann", "x": )" + nest(3) + "}", nullptr},
        {R"({"ticket": "abc", "name": "Ann", "x": )" + nest(4) + "}", "nested too deeply"},
        {many, "too many values"},
        {R"({"ticket": "abcdefghi", "name": "Ann"})", "\"ticket\" is too long (at most 8 bytes)"},
        {R"({"ticket": "abc", "name": "Ann", "note": ")" + std::string(2000, 'x') + "\"}", "too long a string"},
        {R"({"ticket": "abc", "name": "Ann", ")" + std::string(2000, 'k') + "\": 1}", "too long a string"},
        {R"({"ticket": "abc", "name": "Ann", "name": "Bob"})", "\"name\" is given twice"},
        {R"({"ticket": "abc", "name": 42})", "\"name\" must be a string"},
        {R"({"ticket": "abc", "name": ["Ann"]})", "\"name\" must be a string"},
        {R"({"ticket": "abc"})", "\"name\" must be a string"},
        {R"(["ticket", "name"])", "not a JSON object"},
        {R"("ticket")", "not a JSON object"},
        {R"({"ticket": "abc", "name": "Ann"} {})", "not a JSON object"},
        {R"({"ticket": "abc", "name": )", "not a JSON object"},
        {"", "not a JSON object"},
    };
    for (const Case& c : cases) {
        std::map<std::string, std::string> out;
        std::string why;
        bool ok = read_fields(c.body, fields, &out, &why);
        SCOPED_TRACE(c.body.substr(0, 80));
        EXPECT_EQ(ok, c.because == nullptr) << why;
        if (ok)
            EXPECT_EQ(out, (std::map<std::string, std::string>{{"ticket", "abc"}, {"name", "Ann"}}));
        else
            EXPECT_NE(why.find(c.because), std::string::npos) << why;
    }
}

} // namespace
