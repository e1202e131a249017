// Drawing of the special events: which picture, where, how much it shakes,
// and exactly how many random draws each frame takes.
#include "test_screen.h"

#include "events/events.h"

using kiv_test::Blit;
using kiv_test::rand_calls;
using kiv_test::screen_shows;

namespace {

class EventDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        kiv_test::open_video();
        for (kiv::SpecialEvent& e : kiv::events)
            e = kiv::SpecialEvent{};
        kiv::clear_screen();
    }
    static void set_event(int slot, int x, int y, int life, int phase, int kind)
    {
        kiv::events[slot] = kiv::SpecialEvent{x, y, life, phase, kind};
    }
    static void draw() { kiv::draw_events(); }
};

TEST_F(EventDraw, FreeAndWaitingRecordsDrawNothingAndTakeNoDraws)
{
    EXPECT_EQ(rand_calls(7, draw), 0);
    EXPECT_TRUE(screen_shows({}));

    set_event(0, 100, 100, 0, 16, 1);    // freed with stale fields
    set_event(1, 200, 100, -3, 5, 2);    // not in use either
    set_event(2, 300, 100, 150, -1, 2);  // a tree still waiting
    set_event(3, 300, 300, 150, -30, 2);
    EXPECT_EQ(rand_calls(8, draw), 0);
    EXPECT_TRUE(screen_shows({}));
}

TEST_F(EventDraw, TwoDrawsPerDrawnRecord)
{
    set_event(0, 100, 100, 50, 16, 0);
    EXPECT_EQ(rand_calls(11, draw), 2);
    set_event(2, 100, 100, 50, 0, 3);
    EXPECT_EQ(rand_calls(12, draw), 4);
    set_event(1, 100, 100, 1, 3, 4);
    set_event(3, 100, 100, 50, -4, 2);
    EXPECT_EQ(rand_calls(13, draw), 6);
    kiv::events[3].phase = 0;
    EXPECT_EQ(rand_calls(14, draw), 8);
}

TEST_F(EventDraw, FullPlayShowsTheKindsPictureShakenByTwoPixels)
{
    for (int kind = 0; kind < kiv::EVENT_KINDS; ++kind) {
        for (unsigned seed = 1; seed <= 6; ++seed) {
            set_event(1, 200 + kind, 150, 10, 16, kind);
            srand(seed);
            int jx = rand() % 5;
            int jy = rand() % 5;
            srand(seed);
            kiv::clear_screen();
            draw();
            ASSERT_TRUE(screen_shows({{kiv::IMAGE_EVENT + kind, 198 + kind + jx, 148 + jy}}))
                << "kind " << kind << " seed " << seed;
        }
    }
}

TEST_F(EventDraw, AppearancePictureFollowsThePhaseShakenByFourPixels)
{
    // phase 16 with life 1 is still the kind's own picture; 15 is pr6.
    const int expected_image[17] = {28, 28, 28, 28, 29, 29, 29, 29, 30, 30, 30, 30, 31, 31, 31, 31, 35};
    for (int phase = 0; phase <= 16; ++phase) {
        set_event(3, 50, 60, 1, phase, 1);
        unsigned seed = 100 + phase;
        srand(seed);
        int jx = rand() % (phase > 15 ? 5 : 9);
        int jy = rand() % (phase > 15 ? 5 : 9);
        int shake = phase > 15 ? 2 : 4;
        srand(seed);
        kiv::clear_screen();
        draw();
        ASSERT_TRUE(screen_shows({{expected_image[phase], 50 + jx - shake, 60 + jy - shake}})) << "phase " << phase;
    }
}

TEST_F(EventDraw, LaterRecordsCoverEarlierOnesAndTheLeftEdgeClips)
{
    set_event(0, 200, 200, 40, 16, 2);
    set_event(1, 230, 210, 40, 16, 4);
    set_event(2, 0, 30, 40, 16, 5);   // a watg hugging the left edge
    srand(21);
    int d[6];
    for (int& v : d)
        v = rand() % 5 - 2;
    std::vector<Blit> want = {{kiv::IMAGE_EVENT + 2, 200 + d[0], 200 + d[1]},
                              {kiv::IMAGE_EVENT + 4, 230 + d[2], 210 + d[3]},
                              {kiv::IMAGE_EVENT + 5, 0 + d[4], 30 + d[5]}};
    std::vector<Blit> swapped = {want[1], want[0], want[2]};
    ASSERT_TRUE(kiv_test::orders_differ(want, swapped));
    srand(21);
    draw();
    EXPECT_TRUE(screen_shows(want));
}

} // namespace
