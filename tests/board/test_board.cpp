// The board's checks that need no server: names and rate limits.
#include <gtest/gtest.h>

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
        {"!#$%&'()*+,-./:;", "!#$%&'()*+,-./:;", ""},
        {"=?@[]^_{|}~", "=?@[]^_{|}~", ""},
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
        {"a\xe2\x80\x8d" "b", nullptr, "only letters"},       // zero-width joiner
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

TEST(BoardRateLimit, BurstThenRefillPerAddress)
{
    RateLimit limit(6);  // one every 10 s, bursts of 6
    auto t = RateLimit::Clock::now();
    int retry = 0;
    for (int i = 0; i < 6; i++)
        EXPECT_TRUE(limit.take("192.0.2.1", t, &retry));
    EXPECT_FALSE(limit.take("192.0.2.1", t, &retry));
    EXPECT_EQ(retry, 10);
    EXPECT_TRUE(limit.take("192.0.2.2", t, &retry));
    EXPECT_FALSE(limit.take("192.0.2.1", t + std::chrono::seconds(9), &retry));
    EXPECT_EQ(retry, 1);
    EXPECT_TRUE(limit.take("192.0.2.1", t + std::chrono::seconds(10), &retry));
    // A long quiet time refills no more than a burst.
    auto later = t + std::chrono::hours(1);
    for (int i = 0; i < 6; i++)
        EXPECT_TRUE(limit.take("192.0.2.1", later, &retry));
    EXPECT_FALSE(limit.take("192.0.2.1", later, &retry));
}

} // namespace
