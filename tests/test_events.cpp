// Special events: the free-record search and its cursor, placement and
// timing of each kind, the stages of a record, and the balls each kind throws.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <vector>

#include "events/events.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "test_screen.h"

using kiv::SpecialEvent;
using kiv_test::rand_calls;

namespace {

std::vector<int> sequence(unsigned seed, int n)
{
    srand(seed);
    std::vector<int> r(n);
    for (int& v : r)
        v = rand();
    return r;
}

class Events : public ::testing::Test {
protected:
    void SetUp() override
    {
        for (SpecialEvent& e : kiv::events)
            e = SpecialEvent{};
        kiv::event_cursor = 4;
        kiv::clear_balls();
        kiv::effect_requested[kiv::EFFECT_GEN] = 0;
    }
    static void set_event(int slot, int x, int y, int life, int phase, int kind)
    {
        kiv::events[slot] = SpecialEvent{x, y, life, phase, kind};
    }
    static int in_use()
    {
        int n = 0;
        for (const SpecialEvent& e : kiv::events)
            n += e.life > 0;
        return n;
    }
    // Runs steps until the record is free; -1 if that takes unreasonably
    // long. Every step of use must ask for the event sound.
    static int steps_in_use(int slot)
    {
        for (int step = 1; step < 2000; ++step) {
            kiv::effect_requested[kiv::EFFECT_GEN] = 0;
            kiv::update_events();
            if (!kiv::effect_requested[kiv::EFFECT_GEN])
                return -100 - step;
            if (kiv::events[slot].life == 0)
                return step;
            kiv::clear_balls();
        }
        return -1;
    }
};

TEST_F(Events, AFireOfLife120LastsThroughItsStages)
{
    set_event(0, 150, 200, 120, 0, 0);
    for (int step = 1; step <= 16; ++step) {
        kiv::update_events();
        ASSERT_EQ(kiv::events[0].phase, step);
        ASSERT_EQ(kiv::events[0].life, 120);
    }
    for (int step = 1; step <= 119; ++step) {
        kiv::update_events();
        ASSERT_EQ(kiv::events[0].phase, 16);
        ASSERT_EQ(kiv::events[0].life, 120 - step);
    }
    for (int step = 1; step <= 15; ++step) {
        kiv::update_events();
        ASSERT_EQ(kiv::events[0].phase, 16 - step);
        ASSERT_EQ(kiv::events[0].life, 1);
    }
    kiv::update_events();
    EXPECT_EQ(kiv::events[0].life, 0);
    EXPECT_EQ(kiv::events[0].phase, 0);

    // Free records are skipped entirely: no sound, no draws.
    kiv::effect_requested[kiv::EFFECT_GEN] = 0;
    EXPECT_EQ(rand_calls(3, kiv::update_events), 0);
    EXPECT_EQ(kiv::effect_requested[kiv::EFFECT_GEN], 0);

    set_event(2, 150, 200, 120, 0, 0);
    EXPECT_EQ(steps_in_use(2), 151);
}

TEST_F(Events, WaitingTreeRecordActsAndSoundsBeforeItShows)
{
    set_event(1, 150, 100, 50, -30, 2);
    EXPECT_EQ(steps_in_use(1), 50 + 61);
    set_event(1, 150, 100, 50, -30, 2);
    for (int i = 0; i < 30; ++i)
        kiv::update_events();
    EXPECT_EQ(kiv::events[1].phase, 0);
    // Even while waiting the tree makes its chance test: one draw a step at least.
    set_event(1, 150, 100, 50, -30, 2);
    EXPECT_GE(rand_calls(5, kiv::update_events), 1);
    // A life of 1 from the start only vanishes: phase 5 -> free after 5 steps.
    set_event(3, 10, 10, 1, 5, 5);
    EXPECT_EQ(steps_in_use(3), 5);
}

TEST_F(Events, TreeFromTheStartCursorTakesThreeRecordsDownward)
{
    for (unsigned seed : {1u, 77u, 4242u}) {
        SetUp();
        std::vector<int> r = sequence(seed, 12);
        EXPECT_EQ(rand_calls(seed, [] { kiv::start_event(2); }), 12);
        EXPECT_EQ(kiv::event_cursor, 0);
        EXPECT_EQ(kiv::events[0].life, 0);
        for (int i = 0; i < 3; ++i) {
            const SpecialEvent& e = kiv::events[3 - i];
            const int* d = &r[4 * i];
            EXPECT_EQ(e.kind, 2);
            EXPECT_EQ(e.x, 128 + d[0] % 320);
            EXPECT_EQ(e.y, 96 + d[1] % 96);
            EXPECT_EQ(e.phase, -(d[2] % 40) * i);
            EXPECT_EQ(e.life, 100 + d[3] % 100);
        }
        // The next start examines 3, 2, 1 and 0 and takes 0.
        kiv::start_event(0);
        EXPECT_EQ(kiv::event_cursor, 0);
        EXPECT_EQ(kiv::events[0].kind, 0);
        EXPECT_GT(kiv::events[0].life, 0);
        EXPECT_EQ(in_use(), 4);
    }
}

TEST_F(Events, AllRecordsBusyChangesNothing)
{
    for (int i = 0; i < 4; ++i)
        set_event(i, 10 * i, 20 * i, 5 + i, i * 3, i);
    for (int cursor = 0; cursor < 4; ++cursor) {
        kiv::event_cursor = cursor;
        SpecialEvent before[4];
        std::memcpy(before, kiv::events, sizeof before);
        for (int kind = -1; kind <= 6; ++kind) {
            EXPECT_EQ(rand_calls(9, [kind] { kiv::start_event(kind); }), 0);
            EXPECT_EQ(std::memcmp(before, kiv::events, sizeof before), 0) << "kind " << kind;
            EXPECT_EQ(kiv::event_cursor, cursor);
        }
    }
}

TEST_F(Events, TreesAndCloudsFillOnlyTheRecordsThatAreFree)
{
    // One free record: a cloud fills it, the search after it fails and the
    // cursor stays on it.
    set_event(0, 1, 1, 9, 16, 0);
    set_event(1, 1, 1, 9, 16, 0);
    set_event(3, 1, 1, 9, 16, 0);
    kiv::event_cursor = 0;
    EXPECT_EQ(rand_calls(5, [] { kiv::start_event(4); }), 3);
    EXPECT_EQ(kiv::events[2].kind, 4);
    EXPECT_GT(kiv::events[2].life, 0);
    EXPECT_EQ(kiv::event_cursor, 2);
    for (int i : {0, 1, 3})
        EXPECT_EQ(kiv::events[i].kind, 0);

    // A cloud from all free takes 3 and 2 and leaves the cursor on 1.
    SetUp();
    EXPECT_EQ(rand_calls(6, [] { kiv::start_event(4); }), 6);
    EXPECT_EQ(in_use(), 2);
    EXPECT_GT(kiv::events[3].life, 0);
    EXPECT_GT(kiv::events[2].life, 0);
    EXPECT_EQ(kiv::event_cursor, 1);

    // A tree with two free records (1 and 2) fills both, second one waiting.
    SetUp();
    set_event(0, 1, 1, 9, 16, 0);
    set_event(3, 1, 1, 9, 16, 0);
    kiv::event_cursor = 0;
    std::vector<int> r = sequence(8, 8);
    EXPECT_EQ(rand_calls(8, [] { kiv::start_event(2); }), 8);
    EXPECT_EQ(kiv::events[2].phase, 0);
    EXPECT_EQ(kiv::events[1].phase, -(r[6] % 40));
    EXPECT_EQ(kiv::events[1].kind, 2);
    EXPECT_EQ(kiv::event_cursor, 1);
}

TEST_F(Events, UnknownKindStartsNothing)
{
    for (int kind : {-1, 6, 99}) {
        SetUp();
        EXPECT_EQ(rand_calls(4, [kind] { kiv::start_event(kind); }), 0);
        EXPECT_EQ(in_use(), 0);
        EXPECT_EQ(kiv::event_cursor, 3);
    }
}

TEST_F(Events, PlacementAndDurationOfEachKind)
{
    struct Want {
        int x, y, phase, life;
    };
    for (unsigned seed = 1; seed <= 40; ++seed) {
        std::vector<int> r = sequence(seed, 4);
        const Want want[6] = {
            {106 + r[0] % 213, 120 + r[1] % 240, 0, 120 + r[2] % 120},
            {128 + r[0] % 160, 240 + r[1] % 120, 0, 200 + r[2] % 150},
            {128 + r[0] % 320, 96 + r[1] % 96, 0, 100 + r[3] % 100},
            {320 + r[0] % 213, 0, 0, 200 + r[1] % 50},
            {128 + r[0] % 320, r[1] % 120, 0, 50 + r[2] % 200},
            {0, r[0] % 120, 0, 100 + r[1] % 250},
        };
        const int draws[6] = {3, 3, 12, 2, 6, 2};
        for (int kind = 0; kind < 6; ++kind) {
            SetUp();
            ASSERT_EQ(rand_calls(seed, [kind] { kiv::start_event(kind); }), draws[kind]) << "kind " << kind;
            const SpecialEvent& e = kiv::events[3];
            EXPECT_EQ(e.kind, kind);
            EXPECT_EQ(e.x, want[kind].x) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(e.y, want[kind].y) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(e.phase, want[kind].phase);
            EXPECT_EQ(e.life, want[kind].life) << "kind " << kind << " seed " << seed;
        }
    }
}

TEST_F(Events, ClearFreesEveryRecordAndKeepsTheCursor)
{
    kiv::start_event(2);
    kiv::start_event(5);
    ASSERT_EQ(in_use(), 4);
    int x3 = kiv::events[3].x;
    kiv::clear_events();
    EXPECT_EQ(in_use(), 0);
    EXPECT_EQ(kiv::event_cursor, 0);
    EXPECT_EQ(kiv::events[3].x, x3);
    kiv::start_event(0);
    EXPECT_GT(kiv::events[3].life, 0) << "the search goes on from record 0 and wraps to 3";
}

// ---- The balls each kind throws ----------------------------------------

struct Thrown {
    float x, y, vx, vy;
    int colour, size;
};

// The one ball in use, or a ball with colour -1 when there is none.
Thrown only_ball(int* count)
{
    Thrown t{0, 0, 0, 0, -1, -1};
    *count = 0;
    for (const kiv::Ball& b : kiv::balls) {
        if (b.colour == -1)
            continue;
        ++*count;
        t = Thrown{b.x, b.y, b.vx, b.vy, b.colour, b.size};
    }
    return t;
}

// A seed whose first draw passes (or fails) the kind's chance test.
unsigned seed_where(bool pass, int kind, unsigned from)
{
    const int period[6] = {20, 18, 32, 16, 18, 12};
    for (unsigned seed = from;; ++seed) {
        srand(seed);
        if ((rand() % period[kind] == 0) == pass)
            return seed;
    }
}

float plus_or_minus(int sign_draw, float v) { return (sign_draw & 1) ? v : -v; }

TEST_F(Events, EachKindThrowsItsBallFromTheListedDraws)
{
    const int ex = 200, ey = 150;
    for (int kind = 0; kind < 6; ++kind) {
        unsigned seed = 1;
        for (int trial = 0; trial < 8; ++trial, ++seed) {
            seed = seed_where(true, kind, seed);
            std::vector<int> r = sequence(seed, 12);
            Thrown w{};
            int draws = 0;
            switch (kind) {
            case 0:
                w = {(float)(ex + 48), (float)ey, plus_or_minus(r[2], (float)(r[3] % 10) * 0.2f),
                     -(float)(r[4] % 10) * 0.3f - 0.3f, 0, r[1] % 2};
                draws = 5;
                break;
            case 1:
                w = {(float)(ex + 48 + ((r[2] & 1) ? r[3] % 92 : -(r[3] % 92))),
                     (float)(ey + ((r[4] & 1) ? -(r[5] % 48) : r[5] % 48)),
                     plus_or_minus(r[6], (float)(r[7] % 10) * 0.1f), -(float)(r[8] % 10) * 0.5f - 2.0f, 0, r[1] % 3};
                draws = 9;
                break;
            case 2:
                w = {(float)(ex + 48 + ((r[1] & 1) ? r[2] % 128 : -(r[2] % 128))), (float)(ey + 48),
                     plus_or_minus(r[3], (float)(r[4] % 30) * 0.1f), 1.0f, 1, 2};
                draws = 5;
                break;
            case 3:
                w = {(float)(ex - r[2] % 32), (float)(ey + 80),
                     (r[3] & 1) ? -(float)(r[4] % 30) * 0.1f - 4.0f : (float)(r[4] % 30) * 0.1f - 4.0f, 0.0f, 1,
                     r[1] % 2};
                draws = 5;
                break;
            case 4:
                w = {(float)(ex + 48 + ((r[2] & 1) ? r[3] % 160 : -(r[3] % 160))), (float)(ey + 48),
                     plus_or_minus(r[4], (float)(r[5] % 20) * 0.1f), (float)(r[6] % 10) * 0.3f + 1.0f, 2, r[1] % 3};
                draws = 7;
                break;
            default:
                w = {(float)(ex + 96), (float)(ey + 90), plus_or_minus(r[1], (float)(r[2] % 30) * 0.1f),
                     (float)(r[3] % 10) * 0.2f + 3.0f, 2, 0};
                draws = 4;
                break;
            }
            SetUp();
            set_event(1, ex, ey, 50, 16, kind);
            ASSERT_EQ(rand_calls(seed, kiv::update_events), draws) << "kind " << kind;
            int count = 0;
            Thrown got = only_ball(&count);
            ASSERT_EQ(count, 1) << "kind " << kind;
            EXPECT_EQ(got.x, w.x) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(got.y, w.y) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(got.vx, w.vx) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(got.vy, w.vy) << "kind " << kind << " seed " << seed;
            EXPECT_EQ(got.colour, w.colour) << "kind " << kind;
            EXPECT_EQ(got.size, w.size) << "kind " << kind;
        }
        // A failed chance test takes its one draw and throws nothing.
        unsigned miss = seed_where(false, kind, 1);
        SetUp();
        set_event(1, ex, ey, 50, 16, kind);
        EXPECT_EQ(rand_calls(miss, kiv::update_events), 1);
        int count = 0;
        only_ball(&count);
        EXPECT_EQ(count, 0);
    }
}

} // namespace
