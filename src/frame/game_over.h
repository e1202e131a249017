// The game-over screen: the caption flies in from the bottom centre.
#pragma once

#include "frame/title.h"

namespace kiv {

constexpr int CAPTION_PIECES = 45;
extern const BarPiece caption_pieces[CAPTION_PIECES];

void game_over_update();
void game_over_draw();

} // namespace kiv
