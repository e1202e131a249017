// Shared game globals and the transitions between the game states.
#include "frame/game.h"

#include "events/events.h"
#include "frame/title.h"
#include "media/draw.h"
#include "media/sound.h"
#include "sim/balls.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace kiv {

int game_state;
int score;
int shown_score;
int high_score;
int next_milestone;
int pace;
int spawn_timer;
int event_pressure;
int end_timer;
int game_over_timer;
int sound_off;
int windowed;
float mouse_speed = 1.0f;

// The ending countdown lasts this many steps after a lost ball.
constexpr int ENDING_STEPS = 120;

void new_game()
{
    clear_balls();
    reset_pan();
    clear_popups();
    clear_events();
    game_state = STATE_PLAYING;
    next_milestone = 1000000;
    pace = START_PACE;
    spawn_timer = 16;
    end_timer = 0;
    score = 0;
    shown_score = 0;
    event_pressure = 0;
    start_music(0);
}

void go_to_title()
{
    stop_music();
    clear_balls();
    reset_pointer();
    title_wave = -48;
    hover_start = 0;
    game_state = STATE_TITLE;
    hover_quit = 0;
}

void enter_game_over()
{
    game_state = STATE_GAME_OVER;
    game_over_timer = 0;
}

void count_up_score()
{
    if (shown_score >= score)
        return;
    // One point plus a twentieth of the remaining gap, in single precision.
    float a = static_cast<float>(shown_score + 1);
    float d = static_cast<float>(score - shown_score - 1);
    shown_score = static_cast<int>(a + 0.05f * d);
    request_effect(EFFECT_SCORE);
}

void ending_step()
{
    count_up_score();
    end_timer = end_timer + 1;
    if (end_timer > ENDING_STEPS) {
        shown_score = score;
        if (score > high_score)
            high_score = score;
        enter_game_over();
    }
}

} // namespace kiv
