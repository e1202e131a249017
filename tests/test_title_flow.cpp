// The title and game-over screens inside the real frame loop (headless
// driver, full screen, mouse speed 3): a click acts while the frame is
// drawn, and the game-over screen hands over to the title.
#include <gtest/gtest.h>

#include "frame/game.h"
#include "frame/headless.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/video.h"

using namespace kiv;

namespace {

struct Script {
    int dx, dy, buttons;   // input of every step until changed
    int once_dx, once_dy;  // extra motion of the next step only
};

void play_script(int, StepInput* input, void* context)
{
    Script* s = static_cast<Script*>(context);
    input->dx = s->dx + s->once_dx;
    input->dy = s->dy + s->once_dy;
    input->buttons = s->buttons;
    s->once_dx = s->once_dy = 0;
}

Uint8 pixel(int x, int y)
{
    SDL_LockSurface(screen);
    Uint8 v = static_cast<Uint8*>(screen->pixels)[y * screen->pitch + x];
    SDL_UnlockSurface(screen);
    return v;
}

class TitleFlow : public ::testing::Test {
protected:
    Script script{};
    void SetUp() override
    {
        ASSERT_TRUE(start_headless(21));
        // The headless driver runs full screen: pointer at (320, 240), speed 3.
        windowed = 0;
        mouse_speed = 3.0f;
        reset_pointer();
        set_step_script(play_script, &script);
        shown_score = 0;
    }
    void TearDown() override { set_step_script(nullptr, nullptr); }
    // Moves the game pointer by (dx, dy) screen pixels in the next step.
    void move_by(int dx, int dy)
    {
        script.once_dx = dx / 3;
        script.once_dy = dy / 3;
    }
};

} // namespace

TEST_F(TitleFlow, ClickOnStartPlaysFromTheNextFrame)
{
    const Uint8 panel = static_cast<Uint8>(panel_colour);
    run_headless_frame(1);
    ASSERT_EQ(game_state, STATE_TITLE);
    EXPECT_EQ(pixel(620, 20), 0);        // white above the title's right strip
    EXPECT_EQ(pixel(620, 100), panel);   // the strip itself

    move_by(180, 69);                    // (320, 240) -> (500, 309): over Start
    script.buttons = 1;
    run_headless_frame(1);
    EXPECT_EQ(menu_x, 500);
    EXPECT_EQ(menu_y, 309);
    // Started while the frame was drawn; that frame is still the title and
    // was counted in pace after the reset.
    EXPECT_EQ(game_state, STATE_PLAYING);
    EXPECT_EQ(pace, 20001);
    EXPECT_EQ(pixel(620, 20), 0);

    script.buttons = 0;
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_PLAYING);
    EXPECT_EQ(pixel(620, 20), panel);    // the side panel of the playing field
    EXPECT_EQ(pace, 20002);
}

TEST_F(TitleFlow, GameOverEndsByHeldButtonAndTheTitleFollowsInTheSameFrame)
{
    move_by(150, 0);   // away from where the title puts the pointer back
    run_headless_frame(1);
    enter_game_over();
    script.buttons = 1;
    // Three steps: the first ends the game-over screen, two title steps
    // follow with the pointer back at (320, 240), over neither button.
    run_headless_frame(3);
    EXPECT_EQ(game_state, STATE_TITLE);
    EXPECT_EQ(game_over_timer, 1);
    EXPECT_EQ(title_wave, -46);
    EXPECT_EQ(menu_x, 320);
    EXPECT_EQ(menu_y, 240);
    EXPECT_EQ(hover_start, 0);

    // Still holding the button, the pointer reaches Start: a new game.
    move_by(180, 69);
    run_headless_frame(1);
    EXPECT_EQ(game_state, STATE_PLAYING);
}

