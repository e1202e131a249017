// Players for recordings and soaks: they look at the game's records and
// answer with the input record of the next step, as a person with a mouse.
#pragma once

#include "media/input.h"

namespace kiv {

enum BotKind {
    BOT_IDLE,      // starts a game and leaves the pan where it is
    BOT_CATCHER,   // catches balls and tosses them out to the right
};

struct Bot {
    BotKind kind = BOT_CATCHER;
    long step = 0;
    int toss = 0;          // 1 while carrying a load out to the right
    int load = 30;         // balls to gather before carrying them out: a big
                           // load out at once makes a long combo
    int wait_title = 40;   // steps to linger on the title before pressing Start
};

// The input of the next step.
StepInput bot_input(Bot& bot);

// Keeps `in` as the input of the replay's step being run, and gives it to
// the game: what an input source does while a bot records a replay.
void record_step_input(const StepInput& in, StepInput* input);

} // namespace kiv
