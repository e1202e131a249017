// Drawing primitives and the game pointer.
#pragma once

namespace kiv {

extern int pointer_x;   // game pointer, 0..639 after read_pointer
extern int pointer_y;   // 0..479

void draw_image(int k, int x, int y);
// Draws value (0..999,999,999; negative draws 0) in digit pictures 50 px
// apart, without leading zeros; returns x past the last digit.
int draw_number(int value, int x, int y);
// One pip of size k per digit of value, 6 * k px apart; returns x past them.
int draw_pips(int value, int x, int y, int k);
void fill_panel_rect(int x, int y, int w, int h);
void fill_side_panel();
void clear_screen();
void flip_screen();
// How flip_screen presents the frame: the platform shows the screen. A
// seam, so that headless runs, whose screen nobody looks at, can leave the
// present out.
extern void (*present_screen)();
void show_cursor();
// The screen's pixel values, row after row, *pitch bytes apart: what the
// replays and tests look at.
const unsigned char* screen_pixels(int* pitch);

// Full screen: (320, 240); windowed: where the system mouse is
// (pointer_source).
void reset_pointer();
// Where a pointer coordinate at `from` lands after a relative motion: from +
// motion * mouse_speed, truncated, on the screen (`size` wide or high).
int pointer_moved(int from, int motion, int size);
// Moves the game pointer by this step's relative motion times mouse_speed,
// keeps it on the screen, stores it in x and y and returns the button mask.
int read_pointer(int& x, int& y);

} // namespace kiv
