// Drawing of the playfield: the pan, the balls with the multiplier label,
// and the score popups. Reads the simulation's records only; the label's
// own slide is the one state kept here.
#include "media/playfield_draw.h"

#include "media/draw.h"
#include "media/catalogue.h"
#include "sim/balls.h"
#include "sim/pan.h"
#include "sim/scoring.h"

namespace kiv {

int combo_label_y = 480;
int combo_label_value;

namespace {

constexpr int LABEL_TOP = 408;
constexpr int LABEL_GONE = 480;
constexpr int LABEL_DIGITS_X = 52;

// The bottom: eight pieces a fifth of the segment apart, from a fifth
// before its start to a fifth past its end.
void draw_bottom(const PanSegment& s)
{
    Vec2 d = {(s.end.x - s.start.x) / 5.0f, (s.end.y - s.start.y) / 5.0f};
    Vec2 p = {s.start.x - d.x, s.start.y - d.y};
    for (int i = 0; i < 8; ++i) {
        draw_image(IMAGE_PAN_H, (int)p.x, (int)p.y);
        p.x = p.x + d.x;
        p.y = p.y + d.y;
    }
}

// A wall: three pieces at 0, 0.7 and 1.4 of the segment.
void draw_wall(const PanSegment& s)
{
    Vec2 d = {(s.end.x - s.start.x) * 0.7f, (s.end.y - s.start.y) * 0.7f};
    Vec2 p = s.start;
    for (int i = 0; i < 3; ++i) {
        draw_image(IMAGE_PAN_V, (int)p.x, (int)p.y);
        p.x = p.x + d.x;
        p.y = p.y + d.y;
    }
}

void draw_label(int value, int y)
{
    draw_image(IMAGE_TIMES, 0, y);
    draw_number(value, LABEL_DIGITS_X, y);
}

} // namespace

void draw_pan()
{
    draw_bottom(pan_bottom);
    draw_wall(pan_left_wall);
    draw_wall(pan_right_wall);
}

void draw_balls()
{
    // The label stands while a combo runs and slides off, a pixel per frame,
    // once it ends.
    if (last_multiplier > 1) {
        combo_label_y = LABEL_TOP;
        combo_label_value = last_multiplier;
        draw_label(combo_label_value, combo_label_y);
    } else if (combo_label_y < LABEL_GONE) {
        ++combo_label_y;
        draw_label(combo_label_value, combo_label_y);
    }

    for (const Ball& b : balls)
        if (b.colour != -1)
            draw_image(b.image, (int)b.x, (int)b.y);
}

void draw_popups()
{
    for (const ScorePopup& p : popups) {
        if (p.life <= 0)
            continue;
        int px = (int)p.x;
        int py = (int)p.y;
        if (p.grow > 15) {
            int x1 = draw_number(p.points, px, py);
            draw_image(IMAGE_TIMES, x1, py);
            draw_number(p.multiplier, x1 + 50, py);
        } else {
            // Still growing or shrinking: one pip for the points, a smaller
            // one for the sign, smaller still for each multiplier digit.
            int h = p.grow / 2;
            int xa = draw_pips(1, px, py, h);
            int xb = draw_pips(1, xa, py, h - 1 > 0 ? h - 1 : 0);
            draw_pips(p.multiplier, xb, py, h - 2 > 0 ? h - 2 : 0);
        }
    }
}

} // namespace kiv
