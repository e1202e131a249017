// The web page with the game's test bot at the mouse, for the browser tests
// and the benchmark that need games of a chosen length: the bot's input goes
// in through the page's own input functions, so the page's clock, loop,
// recorder and board code play the game exactly as a player's.
//
// From the page: _web_bot_play(games, give_up) has the bot press Start and
// play that many games, each with the catching bot until it has played
// give_up steps of the game (then it lets the balls fall); afterwards the
// pointer rests on the title.
#include <emscripten.h>

#include "../../tools/bot/bot.h"
#include "frame/game.h"
#include "media/input.h"

extern "C" {
void web_pointer_motion(int dx, int dy);
void web_pointer_buttons(int mask);
}

namespace {

using namespace kiv;

Bot bot;
int games_left;
long give_up, game_steps;
bool in_game;

void bot_at_the_mouse(StepInput* input)
{
    if (game_state == STATE_PLAYING) {
        in_game = true;
        game_steps++;
    } else if (in_game && game_state == STATE_TITLE) {
        in_game = false;
        games_left--;
    }
    if (games_left > 0) {
        StepInput in = bot_input(bot);
        if (game_state == STATE_PLAYING && game_steps > give_up)
            in = StepInput{0, 0, 0};
        if (game_state == STATE_TITLE)
            game_steps = 0;
        web_pointer_motion(in.dx, in.dy);
        web_pointer_buttons(in.buttons);
    } else {
        web_pointer_buttons(0);
    }
    read_system_input(input);
}

} // namespace

extern "C" EMSCRIPTEN_KEEPALIVE void web_bot_play(int games, int steps)
{
    bot = Bot{};
    games_left = games;
    give_up = steps;
    game_steps = 0;
    in_game = false;
    input_source = bot_at_the_mouse;
}
