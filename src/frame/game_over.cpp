#include "frame/game_over.h"

namespace kiv {

const BarPiece caption_pieces[CAPTION_PIECES] = {};

void game_over_update() {}
void game_over_draw() {}

} // namespace kiv
