// The playfield drawing on the dummy screen: pan pieces, balls, the
// multiplier label and the score popups, each compared pixel for pixel with
// the pictures expected at their places.
#include "test_screen.h"

#include "media/playfield_draw.h"
#include "sim/balls.h"
#include "sim/pan.h"
#include "sim/scoring.h"

using kiv_test::Blit;
using kiv_test::screen_shows;

namespace {

class PlayfieldDraw : public ::testing::Test {
protected:
    void SetUp() override
    {
        kiv_test::open_video();
        kiv::clear_balls();
        kiv::clear_popups();
        for (kiv::Ball& b : kiv::balls)
            b.colour = -1;
        for (kiv::ScorePopup& p : kiv::popups)
            p.life = 0;
        kiv::last_multiplier = 1;
        kiv::combo_label_y = 480;
        kiv::clear_screen();
    }

    static void set_segment(kiv::PanSegment& s, float x0, float y0, float x1, float y1)
    {
        s = kiv::PanSegment{};
        s.start = {x0, y0};
        s.end = {x1, y1};
    }

    static void set_ball(int slot, float x, float y, int image)
    {
        kiv::balls[slot].x = x;
        kiv::balls[slot].y = y;
        kiv::balls[slot].colour = 2 - image / 3;
        kiv::balls[slot].size = image % 3;
        kiv::balls[slot].image = image;
    }

    static void set_popup(int slot, float x, float y, int points, int multiplier, int grow)
    {
        kiv::ScorePopup& p = kiv::popups[slot];
        p = kiv::ScorePopup{};
        p.x = x;
        p.y = y;
        p.points = points;
        p.multiplier = multiplier;
        p.grow = grow;
        p.life = 5;
    }

    static void frame(void (*draw)())
    {
        kiv::clear_screen();
        draw();
    }
};

const int H = kiv::IMAGE_PAN_H;
const int V = kiv::IMAGE_PAN_V;

TEST_F(PlayfieldDraw, PanPiecesCoverTheSegmentsInBottomLeftRightOrder)
{
    set_segment(kiv::pan_bottom, 100, 400, 200, 400);
    set_segment(kiv::pan_left_wall, 100, 300, 100, 400);
    set_segment(kiv::pan_right_wall, 500, 100, 500, 120);
    frame(kiv::draw_pan);
    std::vector<Blit> want;
    for (int x = 80; x <= 220; x += 20)
        want.push_back({H, x, 400});
    want.insert(want.end(), {{V, 100, 300}, {V, 100, 370}, {V, 100, 440}});
    want.insert(want.end(), {{V, 500, 100}, {V, 500, 114}, {V, 500, 128}});
    EXPECT_TRUE(screen_shows(want));
    EXPECT_EQ(want.size(), 14u);

    // A wall standing on the bottom covers it: walls come after the bottom.
    set_segment(kiv::pan_left_wall, 140, 390, 140, 410);
    set_segment(kiv::pan_right_wall, 180, 395, 180, 415);
    frame(kiv::draw_pan);
    std::vector<Blit> bottom_first, walls_first;
    for (int x = 80; x <= 220; x += 20)
        bottom_first.push_back({H, x, 400});
    bottom_first.insert(bottom_first.end(),
                        {{V, 140, 390}, {V, 140, 404}, {V, 140, 418}, {V, 180, 395}, {V, 180, 409}, {V, 180, 423}});
    walls_first.assign(bottom_first.begin() + 8, bottom_first.end());
    walls_first.insert(walls_first.end(), bottom_first.begin(), bottom_first.begin() + 8);
    ASSERT_TRUE(kiv_test::orders_differ(bottom_first, walls_first));
    EXPECT_TRUE(screen_shows(bottom_first));
}

TEST_F(PlayfieldDraw, PanPiecesTruncateTowardZeroAndFollowATilt)
{
    // Steps of 8 from -37.5: truncation gives -37 and 2, flooring would give -38.
    set_segment(kiv::pan_bottom, -29.5f, 0.5f, 10.5f, 0.5f);
    // A sloping wall going up and to the left: 0.7 of (-10, -20) per piece.
    set_segment(kiv::pan_left_wall, 300.0f, 200.0f, 290.0f, 180.0f);
    set_segment(kiv::pan_right_wall, 400.9f, -0.9f, 400.9f, 9.1f);
    frame(kiv::draw_pan);
    std::vector<Blit> want = {{H, -37, 0}, {H, -29, 0}, {H, -21, 0}, {H, -13, 0},
                              {H, -5, 0},  {H, 2, 0},   {H, 10, 0},  {H, 18, 0},
                              {V, 300, 200}, {V, 293, 186}, {V, 286, 172},
                              {V, 400, 0},   {V, 400, 6},   {V, 400, 13}};
    EXPECT_TRUE(screen_shows(want));
}

TEST_F(PlayfieldDraw, BallsAtTruncatedPositionsHigherSlotsOnTop)
{
    frame(kiv::draw_balls);
    EXPECT_TRUE(screen_shows({})) << "nothing in use and no combo draws nothing";

    set_ball(40, 100.9f, -3.5f, 8);
    frame(kiv::draw_balls);
    EXPECT_TRUE(screen_shows({{8, 100, -3}}));

    // Overlapping balls: the higher slot covers the lower one, whatever the
    // order in which they were put there. A freed slot keeps its stale
    // fields and must not be drawn.
    set_ball(7, 300.2f, 200.7f, 2);
    set_ball(3, 305.0f, 205.0f, 6);
    set_ball(60, -5.9f, 470.99f, 4);
    set_ball(61, 200, 200, 0);
    kiv::balls[61].colour = -1;
    frame(kiv::draw_balls);
    std::vector<Blit> want = {{6, 305, 205}, {2, 300, 200}, {8, 100, -3}, {4, -5, 470}};
    ASSERT_TRUE(kiv_test::orders_differ(want, {{2, 300, 200}, {6, 305, 205}, {8, 100, -3}, {4, -5, 470}}));
    EXPECT_TRUE(screen_shows(want));
}

TEST_F(PlayfieldDraw, MultiplierLabelStandsThenSlidesOffOnePixelPerFrame)
{
    kiv::last_multiplier = 3;
    for (int i = 0; i < 3; ++i) {
        frame(kiv::draw_balls);
        ASSERT_TRUE(screen_shows({{kiv::IMAGE_TIMES, 0, 408}, {kiv::IMAGE_DIGIT + 3, 52, 408}}));
    }
    EXPECT_EQ(kiv::combo_label_y, 408);

    // The combo ends: the label keeps its 3 and slides to 480, then goes.
    kiv::last_multiplier = 1;
    for (int y = 409; y <= 480; ++y) {
        frame(kiv::draw_balls);
        ASSERT_TRUE(screen_shows({{kiv::IMAGE_TIMES, 0, y}, {kiv::IMAGE_DIGIT + 3, 52, y}})) << "y " << y;
        ASSERT_EQ(kiv::combo_label_y, y);
    }
    for (int i = 0; i < 3; ++i) {
        frame(kiv::draw_balls);
        EXPECT_TRUE(screen_shows({}));
        EXPECT_EQ(kiv::combo_label_y, 480);
    }

    // A new combo mid-slide jumps the label back up with its new value.
    kiv::last_multiplier = 14;
    frame(kiv::draw_balls);
    kiv::last_multiplier = 1;
    for (int i = 0; i < 10; ++i)
        frame(kiv::draw_balls);
    kiv::last_multiplier = 20;
    frame(kiv::draw_balls);
    EXPECT_TRUE(screen_shows({{kiv::IMAGE_TIMES, 0, 408}, {kiv::IMAGE_DIGIT + 2, 52, 408}, {kiv::IMAGE_DIGIT, 102, 408}}));
    kiv::last_multiplier = 1;
    frame(kiv::draw_balls);
    EXPECT_TRUE(screen_shows({{kiv::IMAGE_TIMES, 0, 409}, {kiv::IMAGE_DIGIT + 2, 52, 409}, {kiv::IMAGE_DIGIT, 102, 409}}));
}

TEST_F(PlayfieldDraw, LabelIsDrawnUnderTheBalls)
{
    kiv::last_multiplier = 5;
    set_ball(0, 10, 400, 2);
    frame(kiv::draw_balls);
    std::vector<Blit> want = {{kiv::IMAGE_TIMES, 0, 408}, {kiv::IMAGE_DIGIT + 5, 52, 408}, {2, 10, 400}};
    ASSERT_TRUE(kiv_test::orders_differ(want, {{2, 10, 400}, {kiv::IMAGE_TIMES, 0, 408}, {kiv::IMAGE_DIGIT + 5, 52, 408}}));
    EXPECT_TRUE(screen_shows(want));
}

TEST_F(PlayfieldDraw, GrownPopupShowsPointsSignAndMultiplierInDigits)
{
    set_popup(2, 200.6f, 100.2f, 4, 12, 16);
    frame(kiv::draw_popups);
    const int D = kiv::IMAGE_DIGIT;
    EXPECT_TRUE(screen_shows({{D + 4, 200, 100}, {kiv::IMAGE_TIMES, 250, 100}, {D + 1, 300, 100}, {D + 2, 350, 100}}));

    // Zeros inside the multiplier are drawn; a popup left of the screen is clipped.
    set_popup(2, -60.5f, 300.0f, 5, 102, 16);
    frame(kiv::draw_popups);
    EXPECT_TRUE(screen_shows({{D + 5, -60, 300}, {kiv::IMAGE_TIMES, -10, 300}, {D + 1, 40, 300}, {D + 0, 90, 300}, {D + 2, 140, 300}}));
}

TEST_F(PlayfieldDraw, GrowingPopupShowsShrinkingPips)
{
    const int P = kiv::IMAGE_PIP;
    set_popup(0, 200, 100, 4, 12, 9);   // h = 4
    frame(kiv::draw_popups);
    EXPECT_TRUE(screen_shows({{P + 4, 200, 100}, {P + 3, 224, 100}, {P + 2, 242, 100}, {P + 2, 254, 100}}));

    set_popup(0, 200, 100, 3, 7, 3);    // h = 1: sign and digits clamp at size 0
    frame(kiv::draw_popups);
    EXPECT_TRUE(screen_shows({{P + 1, 200, 100}, {P + 0, 206, 100}, {P + 0, 206, 100}}));

    set_popup(0, 200, 100, 3, 9999, 0); // size 0 pips all stand on one spot
    frame(kiv::draw_popups);
    EXPECT_TRUE(screen_shows({{P + 0, 200, 100}}));

    set_popup(0, 200, 100, 3, 1234, 15); // h = 7, the largest pips
    frame(kiv::draw_popups);
    EXPECT_TRUE(screen_shows({{P + 7, 200, 100}, {P + 6, 242, 100}, {P + 5, 278, 100},
                              {P + 5, 308, 100}, {P + 5, 338, 100}, {P + 5, 368, 100}}));
}

TEST_F(PlayfieldDraw, PopupsInSlotOrderAndOnlyWhileAlive)
{
    const int D = kiv::IMAGE_DIGIT;
    set_popup(4, 100, 50, 3, 1, 16);
    set_popup(1, 110, 55, 5, 1, 16);
    set_popup(3, 400, 400, 4, 2, 16);
    kiv::popups[3].life = 0;   // freed: stale fields stay, nothing is drawn
    frame(kiv::draw_popups);
    std::vector<Blit> want = {{D + 5, 110, 55}, {kiv::IMAGE_TIMES, 160, 55}, {D + 1, 210, 55},
                              {D + 3, 100, 50}, {kiv::IMAGE_TIMES, 150, 50}, {D + 1, 200, 50}};
    std::vector<Blit> reversed(want.begin() + 3, want.end());
    reversed.insert(reversed.end(), want.begin(), want.begin() + 3);
    ASSERT_TRUE(kiv_test::orders_differ(want, reversed));
    EXPECT_TRUE(screen_shows(want));
}

} // namespace
