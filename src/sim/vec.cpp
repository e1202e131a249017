// Two-dimensional vectors in single precision.
#include "sim/vec.h"

#include <cmath>

namespace kiv {

void vec_add(Vec2& a, const Vec2& b)
{
    a.x = a.x + b.x;
    a.y = a.y + b.y;
}

void vec_sub(Vec2& a, const Vec2& b)
{
    a.x = a.x - b.x;
    a.y = a.y - b.y;
}

void vec_scale(Vec2& a, float s)
{
    a.x = a.x * s;
    a.y = a.y * s;
}

Vec2 vec_project(const Vec2& a, const Vec2& b)
{
    float d = b.x * b.x + b.y * b.y;
    if (d == 0.0f)
        return Vec2{0.0f, 0.0f};
    float t = a.x * b.x + a.y * b.y;
    return Vec2{b.x * t / d, b.y * t / d};
}

float vec_side(const Vec2& p, const Vec2& a, const Vec2& b)
{
    float dx = b.x - a.x;
    float dy = b.y - a.y;
    if (dx == 0.0f && dy == 0.0f)
        return 0.0f;
    if (dx == 0.0f)
        return p.x - a.x;
    if (dy == 0.0f)
        return a.y - p.y;
    float r;
    if (dx * dy > 0.0f)
        r = (p.x - a.x) / dx - (p.y - a.y) / dy;
    else
        r = -(p.x - a.x) / dx + (p.y - a.y) / dy;
    if (r != r) {
        // Both quotients overflowed (a nearly degenerate line far from p):
        // let the cross product, in double, decide the side instead.
        double cross = (double)dx * ((double)p.y - (double)a.y)
                     - (double)dy * ((double)p.x - (double)a.x);
        return cross > 0.0 ? -1.0f : (cross < 0.0 ? 1.0f : 0.0f);
    }
    return r;
}

float vec_length(const Vec2& a)
{
    float sum = a.x * a.x + a.y * a.y;
    return (float)std::sqrt((double)sum);
}

} // namespace kiv
