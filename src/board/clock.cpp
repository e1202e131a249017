#include "board/clock.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <regex>

namespace kiv::board {

namespace {

using Steady = std::chrono::steady_clock;

// Set once, at the start: a clock started at a test's instant.
bool test_clock = false;
std::int64_t test_start_ms = 0;
Steady::time_point test_started;

// A UTC date and time of day as written, checked field by field: false for
// 2026-02-30 or 24:00:00, which timegm would carry into the next day.
bool utc_ms(int year, int month, int day, int hour, int minute, int second, std::int64_t* ms)
{
    std::tm tm{};
    tm.tm_year = year - 1900;
    tm.tm_mon = month - 1;
    tm.tm_mday = day;
    tm.tm_hour = hour;
    tm.tm_min = minute;
    tm.tm_sec = second;
    const std::time_t t = timegm(&tm);
    std::tm back{};
    if (!gmtime_r(&t, &back) || back.tm_year != year - 1900 || back.tm_mon != month - 1 || back.tm_mday != day ||
        back.tm_hour != hour || back.tm_min != minute || back.tm_sec != second)
        return false;
    *ms = static_cast<std::int64_t>(t) * 1000;
    return true;
}

} // namespace

bool parse_instant(const std::string& text, std::int64_t* ms)
{
    static const std::regex instant(R"((\d{4})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)Z)");
    std::smatch m;
    auto n = [&m](int i) { return std::stoi(m[i].str()); };
    return std::regex_match(text, m, instant) && utc_ms(n(1), n(2), n(3), n(4), n(5), n(6), ms);
}

bool start_clock()
{
    const char* given = std::getenv("KIV_BOARD_TEST_NOW");
    if (!given)
        return true;
    if (!parse_instant(given, &test_start_ms)) {
        std::fprintf(stderr, "kiv-board: KIV_BOARD_TEST_NOW=%s is not an instant in UTC written as "
                             "2026-12-07T23:59:50Z\n", given);
        return false;
    }
    test_clock = true;
    test_started = Steady::now();
    std::fprintf(stderr, "kiv-board: the clock starts at %s (KIV_BOARD_TEST_NOW, for tests only)\n",
                 iso_time(test_start_ms).c_str());
    return true;
}

std::int64_t now_ms()
{
    using namespace std::chrono;
    if (test_clock)
        return test_start_ms + duration_cast<milliseconds>(Steady::now() - test_started).count();
    return duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count();
}

std::string iso_time(std::int64_t ms)
{
    std::time_t t = static_cast<std::time_t>(ms / 1000);
    std::tm tm{};
    gmtime_r(&t, &tm);
    char text[32];
    std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", &tm);
    return text;
}

std::string day_of(std::int64_t ms)
{
    return iso_time(ms).substr(0, 10);
}

bool parse_day(const std::string& text, std::int64_t* start_ms)
{
    static const std::regex day(R"((\d{4})-(\d\d)-(\d\d))");
    std::smatch m;
    return std::regex_match(text, m, day) &&
           utc_ms(std::stoi(m[1].str()), std::stoi(m[2].str()), std::stoi(m[3].str()), 0, 0, 0, start_ms);
}

} // namespace kiv::board
