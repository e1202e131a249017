// The pan: three thick segments around the pointer that hold and throw balls.
#include "sim/pan.h"

#include <cmath>

#include "media/draw.h"

namespace kiv {

Pan pan;
PanSegment pan_bottom, pan_left_wall, pan_right_wall;
PanSegment pan_bottom_prev, pan_left_wall_prev, pan_right_wall_prev;

namespace {

constexpr float START_X = 80.0f;
constexpr float START_Y = 60.0f;
constexpr float TILT_GAIN = 0.005f;
constexpr float TILT_DECAY = 0.92f;
constexpr double BOTTOM_HALF = 48.0;
constexpr float WALL_LENGTH = 16.0f;
constexpr float CORNER = 25.2f;
// 1, 3, 5, 7, 4 and 6 quarter turns of our pi, 3.1415
constexpr float QUARTER_1 = 0.785375f;
constexpr float QUARTER_3 = 2.356125f;
constexpr float QUARTER_5 = 3.926875f;
constexpr float QUARTER_7 = 5.497625f;
constexpr float HALF_TURN = 3.1415f;
constexpr float QUARTER_6 = 4.71225f;
constexpr float REFLECT = 1.2f;
constexpr float SIDE_KICK = 0.5f;

Vec2 dir(float a)
{
    return Vec2{(float)std::cos((double)a), (float)std::sin((double)a)};
}

Vec2 plus(Vec2 a, const Vec2& b)
{
    vec_add(a, b);
    return a;
}

// pos + 48 * (cos a, sin a), each coordinate summed in double
Vec2 bottom_end(const Vec2& pos, float a)
{
    double da = (double)a;
    return Vec2{(float)(BOTTOM_HALF * std::cos(da) + (double)pos.x),
                (float)(BOTTOM_HALF * std::sin(da) + (double)pos.y)};
}

void set_edges(PanSegment& s)
{
    s.edge1 = s.p1;
    vec_sub(s.edge1, s.p0);
    s.edge2 = s.p0;
    vec_sub(s.edge2, s.p2);
    s.edge1_len = vec_length(s.edge1);
    s.edge2_len = vec_length(s.edge2);
}

// A quick look that leaves out balls far from the box, with the same outcome
// as the full test: a ball that passes it lies within l1 of p0 along the old
// box's face and l2 across it, and with the old edges at right angles (to
// within 1 %) that puts it within 1.02 * (l1 + l2) of p0. The test is only
// taken for such a box; the pan's own boxes always are.
bool far_from_box(const Vec2& r, const PanSegment& s, const PanSegment& p)
{
    const Vec2& e1 = p.edge1;
    const Vec2& e2 = p.edge2;
    float n1 = e1.x * e1.x + e1.y * e1.y;
    float n2 = e2.x * e2.x + e2.y * e2.y;
    float dot = e1.x * e2.x + e1.y * e2.y;
    if (!(n1 > 0.0f && n2 > 0.0f && dot * dot <= 1e-4f * n1 * n2))
        return false;
    float reach = (s.edge1_len + s.edge2_len) * 1.02f + 1.0f;
    return std::fabs(r.x) > reach || std::fabs(r.y) > reach;
}

} // namespace

void reset_pan()
{
    pan.pos = Vec2{START_X, START_Y};
    pan.prev = Vec2{START_X, START_Y};
    pan.tilt = 0.0f;
}

void update_pan()
{
    pan.prev = pan.pos;
    int px = 0;
    int py = 0;
    read_pointer(px, py);
    pan.pos = Vec2{(float)px, (float)py};
    pan.vel = pan.prev;
    vec_sub(pan.vel, pan.pos);
    pan.tilt = (pan.tilt - pan.vel.x * TILT_GAIN) * TILT_DECAY;

    pan_bottom_prev = pan_bottom;
    pan_left_wall_prev = pan_left_wall;
    pan_right_wall_prev = pan_right_wall;

    const float tilt = pan.tilt;
    Vec2 q1 = dir(tilt + QUARTER_1);
    vec_scale(q1, CORNER);
    Vec2 q2 = dir(tilt + QUARTER_3);
    vec_scale(q2, CORNER);
    Vec2 q3 = dir(tilt + QUARTER_5);
    vec_scale(q3, CORNER);
    Vec2 q4 = dir(tilt + QUARTER_7);
    vec_scale(q4, CORNER);
    Vec2 up = dir(tilt + QUARTER_6);
    vec_scale(up, WALL_LENGTH);

    PanSegment& b = pan_bottom;
    b.start = bottom_end(pan.pos, tilt + HALF_TURN);
    b.end = bottom_end(pan.pos, tilt);
    b.p0 = plus(b.start, q3);
    b.p1 = plus(b.end, q4);
    b.p2 = plus(b.start, q2);
    b.p3 = plus(b.end, q1);

    // the walls stand on the corners of the bottom's box
    PanSegment& l = pan_left_wall;
    l.start = b.p0;
    l.end = plus(l.start, up);
    l.p0 = plus(l.end, q4);
    l.p1 = plus(l.start, q1);
    l.p2 = plus(l.end, q3);
    l.p3 = plus(l.start, q2);

    PanSegment& r = pan_right_wall;
    r.start = b.p1;
    r.end = plus(r.start, up);
    r.p0 = plus(r.start, q2);
    r.p1 = plus(r.end, q3);
    r.p2 = plus(r.start, q1);
    r.p3 = plus(r.end, q4);

    set_edges(b);
    set_edges(l);
    set_edges(r);
}

void collide_ball_with_segment(Ball& b, const PanSegment& s, const PanSegment& p, int kind)
{
    // A segment without extent (the pan has not been placed yet) holds nothing.
    if (!(s.edge1_len > 0.0f) || !(s.edge2_len > 0.0f))
        return;

    const Vec2 ball{b.x, b.y};
    Vec2 r = ball;
    vec_sub(r, p.p0);
    if (far_from_box(r, s, p))
        return;

    // Inner side of the current inner face, or on it.
    if (!(vec_side(ball, s.p0, s.p1) <= 0.0f))
        return;
    // Inside the previous or the current outer face.
    if (!(vec_side(ball, p.p2, p.p3) >= 0.0f) && !(vec_side(ball, s.p2, s.p3) >= 0.0f))
        return;

    // The lines bounding the region the box swept since the update before,
    // each directed along the pan's side; on a tie the old corner comes first.
    const Vec2* u0 = &p.p2;
    const Vec2* u1 = &s.p0;
    const Vec2* v0 = &p.p3;
    const Vec2* v1 = &s.p1;
    if (kind == 0) {
        if (s.p0.y < p.p2.y) { u0 = &s.p0; u1 = &p.p2; }
        if (s.p1.y < p.p3.y) { v0 = &s.p1; v1 = &p.p3; }
    } else if (kind == 1) {
        if (s.p0.x > p.p2.x) { u0 = &s.p0; u1 = &p.p2; }
        if (s.p1.x > p.p3.x) { v0 = &s.p1; v1 = &p.p3; }
    } else {
        if (s.p0.x < p.p2.x) { u0 = &s.p0; u1 = &p.p2; }
        if (s.p1.x < p.p3.x) { v0 = &s.p1; v1 = &p.p3; }
    }
    if (!(vec_side(ball, *v0, *v1) <= 0.0f))
        return;
    if (!(vec_side(ball, *u0, *u1) >= 0.0f))
        return;

    float l1 = vec_length(vec_project(r, p.edge1));
    if (!(l1 <= s.edge1_len))
        return;
    float l2 = vec_length(vec_project(r, p.edge2));
    if (!(l2 <= s.edge2_len))
        return;

    // Carry the ball into the current box: onto the inner face at the same
    // distance from p0, and as far out as it was when it came from above.
    Vec2 along = s.edge1;
    vec_scale(along, l1 / s.edge1_len);
    Vec2 pos = s.p0;
    vec_add(pos, along);
    if (r.y < 0.0f) {
        Vec2 out = s.edge2;
        vec_scale(out, l2 / s.edge2_len);
        vec_add(pos, out);
    }
    b.x = pos.x;
    b.y = pos.y;

    // Reverse the velocity across the face, keeping a fifth of it.
    Vec2 v{b.vx, b.vy};
    Vec2 across = vec_project(v, s.edge2);
    vec_scale(across, REFLECT);
    vec_sub(v, across);

    // Throw: the pan's upward and sideways motion goes into the ball.
    Vec2 kick = pan.vel;
    vec_scale(kick, -2.0f / (b.radius * 0.5f));
    if (kick.y > 0.0f)
        kick.y = 0.0f;
    kick.x = kick.x * SIDE_KICK;
    vec_add(v, kick);
    b.vx = v.x;
    b.vy = v.y;
}

} // namespace kiv
