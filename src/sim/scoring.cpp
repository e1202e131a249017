// Scoring: points times the combo multiplier, the music milestones and the
// floating score popups.
#include "sim/scoring.h"

#include <cstdlib>

#include "frame/game.h"
#include "media/sound.h"

namespace kiv {

int multiplier = 1;
int last_multiplier = 1;
int combo_timer;
ScorePopup popups[MAX_POPUPS];
int popup_cursor = MAX_POPUPS;

namespace {

constexpr int MULTIPLIER_CAP = 9999;
constexpr int COMBO_STEPS = 20;
constexpr int MILESTONE = 1000000;

int decimal_digits(int v)
{
    int n = 1;
    while (v >= 10) {
        v = v / 10;
        n = n + 1;
    }
    return n;
}

} // namespace

void catch_ball(Ball& b)
{
    int points = b.size + 3;
    add_score(points * multiplier);

    int n = 1 + decimal_digits(multiplier);
    int r_vx = rand() % 10;
    float vx = (float)(-r_vx) * 0.1f - 0.1f;   // -1.0 .. -0.1
    int r_vy = rand() % 20;
    float vy = (float)(-r_vy) * 0.1f;          // -1.9 .. 0
    int r_life = rand() % 10;
    int life = multiplier / 100 + r_life + 10;
    add_popup(b.x - (float)(52 * n), b.y, vx, vy, points, multiplier, life);

    // each catch adds half the previous multiplier plus one
    int m = (int)((float)multiplier + ((float)last_multiplier * 0.5f + 1.0f));
    if (m > MULTIPLIER_CAP)
        m = MULTIPLIER_CAP;
    last_multiplier = multiplier;
    multiplier = m;
    combo_timer = COMBO_STEPS;

    b.colour = -1;
}

void add_score(int points)
{
    long long sum = (long long)score + points;
    if (sum > SCORE_CAP)
        sum = SCORE_CAP;
    score = (int)sum;
    if (score > next_milestone) {
        advance_music();
        while (next_milestone < score)
            next_milestone = next_milestone + MILESTONE;
    }
}

void tick_combo()
{
    if (combo_timer > 0) {
        combo_timer = combo_timer - 1;
        if (combo_timer == 0) {
            multiplier = 1;
            last_multiplier = 1;
        }
    }
}

void add_popup(float x, float y, float vx, float vy, int points, int mult, int life)
{
    popup_cursor = popup_cursor - 1;
    if (popup_cursor < 0)
        popup_cursor = MAX_POPUPS - 1;
    ScorePopup& p = popups[popup_cursor];
    p.x = x;
    p.y = y;
    p.vx = vx;
    p.vy = vy;
    p.points = points;
    p.multiplier = mult;
    p.life = life;
    p.grow = 0;
}

void update_popups()
{
    for (ScorePopup& p : popups) {
        if (p.life <= 0)
            continue;
        p.x = p.x + p.vx;
        p.y = p.y + p.vy;
        if (p.life == 1) {
            p.grow = p.grow - 2;
            if (p.grow <= 0)
                p.life = 0;
        } else if (p.grow < 16) {
            p.grow = p.grow + 1;
        } else {
            p.life = p.life - 1;
        }
    }
}

void clear_popups()
{
    for (ScorePopup& p : popups)
        p.life = 0;
}

} // namespace kiv
