// The title screen: trembling logo, Start and Quit buttons, high score.
#pragma once

namespace kiv {

extern int title_wave;    // position of the tremble wave, -48..123
extern int hover_start;   // pointer over Start
extern int hover_quit;    // pointer over Quit
extern int menu_x, menu_y;   // pointer position read by the last title or game-over step
extern int menu_buttons;     // button mask of that step; bit 0 = left button

struct BarPiece {
    int kind;   // bar image 0..3
    int x, y;   // offset from the origin of the word
};
constexpr int LOGO_PIECES = 25;
extern const BarPiece logo_pieces[LOGO_PIECES];

// One random signed offset of size n: s = rand(), m = rand() % n; +m for odd s.
int jitter(int n);

void title_update();
void title_draw();

} // namespace kiv
