// Game states, the globals every part of the game shares, and the
// transitions between the states.
#pragma once

namespace kiv {

enum GameState {
    STATE_TITLE = 0,
    STATE_PLAYING = 1,
    STATE_ENDING = 2,
    STATE_GAME_OVER = 3,
};

extern int game_state;      // the current GameState
extern int score;           // score of the running game, capped at 999,999,999
extern int shown_score;     // the score as displayed, counting up towards score
extern int high_score;      // best score, read from and written to kiv.prf
extern int next_milestone;  // score above which the music next advances
extern int pace;            // difficulty: +1 per drawn frame, 20000 at a new game
extern int spawn_timer;     // steps until the next ball
extern int event_pressure;  // accumulator that starts special events
extern int end_timer;       // steps spent in STATE_ENDING
extern int game_over_timer; // steps spent in STATE_GAME_OVER
extern int sound_off;       // -nosound: no sound was opened
extern int windowed;        // -window: run in a window
extern float mouse_speed;   // factor on relative mouse motion

constexpr int SCORE_CAP = 999999999;
constexpr int START_PACE = 20000;

// Starts a game: clears balls, pan, popups and events, resets the counters
// and starts the first music track.
void new_game();
// Returns to the title screen: stops the music, clears the balls, resets
// the pointer and the title's own state.
void go_to_title();
// game_state = STATE_GAME_OVER, game_over_timer = 0.
void enter_game_over();

// One step of the displayed score towards score (playing and ending steps).
void count_up_score();
// One ending step after the balls: count-up, countdown, and at its end the
// high score and the game-over screen.
void ending_step();

} // namespace kiv
