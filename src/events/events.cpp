// Special events: fixed objects that appear somewhere on the field for a
// while and throw balls of their kind's colour into play.
#include "events/events.h"

#include <cstdlib>

#include "media/sound.h"
#include "sim/balls.h"

namespace kiv {

SpecialEvent events[MAX_EVENTS];
int event_cursor = MAX_EVENTS;

namespace {

enum { KIND_FIRE, KIND_VLCN, KIND_TREE, KIND_VCNT, KIND_CLUD, KIND_WATG };

// Records filled by one start of each kind.
const int records_by_kind[EVENT_KINDS] = {1, 1, 3, 1, 2, 1};

// Walks down from the cursor (wrapping from 0 to 3) to the first free record.
// The cursor is left on the last record examined; -1 when all four are busy.
int find_free_event()
{
    int slot = event_cursor;
    for (int tries = 0;; ++tries) {
        if (--slot < 0)
            slot = MAX_EVENTS - 1;
        if (events[slot].life == 0) {
            event_cursor = slot;
            return slot;
        }
        if (tries + 1 >= MAX_EVENTS) {
            event_cursor = slot;
            return -1;
        }
    }
}

// Place and time one record; i counts the records of one tree or cloud.
// Draws are taken one per statement, in the order x, y, phase, life.
void place_event(SpecialEvent& e, int i)
{
    int r;
    switch (e.kind) {
    case KIND_FIRE:
        e.x = 106 + rand() % 213;
        e.y = 120 + rand() % 240;
        e.phase = 0;
        e.life = 120 + rand() % 120;
        break;
    case KIND_VLCN:
        e.x = 128 + rand() % 160;
        e.y = 240 + rand() % 120;
        e.phase = 0;
        e.life = 200 + rand() % 150;
        break;
    case KIND_TREE:
        e.x = 128 + rand() % 320;
        e.y = 96 + rand() % 96;
        r = rand() % 40;
        e.phase = -r * i;   // later trees wait before they show
        e.life = 100 + rand() % 100;
        break;
    case KIND_VCNT:
        e.x = 320 + rand() % 213;
        e.y = 0;
        e.phase = 0;
        e.life = 200 + rand() % 50;
        break;
    case KIND_CLUD:
        e.x = 128 + rand() % 320;
        e.y = rand() % 120;
        e.phase = 0;
        e.life = 50 + rand() % 200;
        break;
    default:   // KIND_WATG
        e.x = 0;
        e.y = rand() % 120;
        e.phase = 0;
        e.life = 100 + rand() % 250;
        break;
    }
}

// The signed amount helpers: an odd sign draw keeps +m, an even one gives -m.
inline int signed_by(int sign_draw, int m) { return (sign_draw & 1) ? m : -m; }

// fire: red balls spurt upward from the top edge.
void act_fire(const SpecialEvent& e)
{
    if (rand() % 20 != 0)
        return;
    int size = rand() % 2;
    int s = rand();
    int m = rand() % 10;
    int n = rand() % 10;
    float vx = (s & 1) ? (float)m * 0.2f : -(float)m * 0.2f;
    float vy = -(float)n * 0.3f - 0.3f;
    add_ball((float)(e.x + 48), (float)e.y, vx, vy, 0, size);
}

// vlcn: red balls shoot up hard from a wide area.
void act_vlcn(const SpecialEvent& e)
{
    if (rand() % 18 != 0)
        return;
    int size = rand() % 3;
    int s1 = rand();
    int a = rand() % 92;
    int s2 = rand();
    int b = rand() % 48;
    int s3 = rand();
    int m = rand() % 10;
    int n = rand() % 10;
    int bx = e.x + 48 + signed_by(s1, a);
    int by = e.y - signed_by(s2, b);
    float vx = (s3 & 1) ? (float)m * 0.1f : -(float)m * 0.1f;
    float vy = -(float)n * 0.5f - 2.0f;
    add_ball((float)bx, (float)by, vx, vy, 0, size);
}

// tree: large green balls drop from the crown.
void act_tree(const SpecialEvent& e)
{
    if ((rand() & 31) != 0)
        return;
    int s1 = rand();
    int a = rand() % 128;
    int s2 = rand();
    int m = rand() % 30;
    int bx = e.x + 48 + signed_by(s1, a);
    float vx = (s2 & 1) ? (float)m * 0.1f : -(float)m * 0.1f;
    add_ball((float)bx, (float)(e.y + 48), vx, 1.0f, 1, 2);
}

// vcnt: green balls blown level to the left.
void act_vcnt(const SpecialEvent& e)
{
    if ((rand() & 15) != 0)
        return;
    int size = rand() % 2;
    int a = rand() % 32;
    int s = rand();
    int m = rand() % 30;
    float vx = (s & 1) ? -(float)m * 0.1f - 4.0f : (float)m * 0.1f - 4.0f;
    add_ball((float)(e.x - a), (float)(e.y + 80), vx, 0.0f, 1, size);
}

// clud: blue balls rain down.
void act_clud(const SpecialEvent& e)
{
    if (rand() % 18 != 0)
        return;
    int size = rand() % 3;
    int s1 = rand();
    int a = rand() % 160;
    int s2 = rand();
    int m = rand() % 20;
    int n = rand() % 10;
    int bx = e.x + 48 + signed_by(s1, a);
    float vx = (s2 & 1) ? (float)m * 0.1f : -(float)m * 0.1f;
    float vy = (float)n * 0.3f + 1.0f;
    add_ball((float)bx, (float)(e.y + 48), vx, vy, 2, size);
}

// watg: small blue balls pour down fast from the spout.
void act_watg(const SpecialEvent& e)
{
    if (rand() % 12 != 0)
        return;
    int s = rand();
    int m = rand() % 30;
    int n = rand() % 10;
    float vx = (s & 1) ? (float)m * 0.1f : -(float)m * 0.1f;
    float vy = (float)n * 0.2f + 3.0f;
    add_ball((float)(e.x + 96), (float)(e.y + 90), vx, vy, 2, 0);
}

void (*const actions[EVENT_KINDS])(const SpecialEvent&) = {
    act_fire, act_vlcn, act_tree, act_vcnt, act_clud, act_watg,
};

} // namespace

void clear_events()
{
    for (SpecialEvent& e : events)
        e.life = 0;
}

void start_event(int kind)
{
    int slot = find_free_event();
    if (slot < 0)
        return;
    events[slot].kind = kind;
    if (kind < 0 || kind >= EVENT_KINDS)
        return;   // the record stays free
    int count = records_by_kind[kind];
    for (int i = 0; i < count; ++i) {
        place_event(events[slot], i);
        if (count == 1)
            break;
        // Trees and clouds look for another record after each one, the last
        // included, so the cursor ends on a free record when there is one.
        slot = find_free_event();
        if (slot < 0 || i + 1 == count)
            break;
        events[slot].kind = kind;
    }
}

void update_events()
{
    for (SpecialEvent& e : events) {
        if (e.life <= 0)
            continue;
        request_effect(EFFECT_GEN);
        if (e.kind >= 0 && e.kind < EVENT_KINDS)
            actions[e.kind](e);
        if (e.life == 1) {
            if (--e.phase <= 0)
                e.life = 0;
        } else if (e.phase <= 15) {
            ++e.phase;
        } else {
            --e.life;
        }
    }
}

} // namespace kiv
