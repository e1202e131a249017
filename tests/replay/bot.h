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
    int toss = 0;          // steps left of a toss in progress
    int wait_title = 40;   // steps to linger on the title before pressing Start
};

// The input of the next step.
StepInput bot_input(Bot& bot);

} // namespace kiv
