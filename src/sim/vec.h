// Two-dimensional vectors in single precision.
#pragma once

namespace kiv {

struct Vec2 {
    float x, y;
};

void vec_add(Vec2& a, const Vec2& b);
void vec_sub(Vec2& a, const Vec2& b);
void vec_scale(Vec2& a, float s);
// Projection of a onto the direction of b; (0, 0) when b is zero.
Vec2 vec_project(const Vec2& a, const Vec2& b);
// Sign tells on which side of the line from a to b the point p lies.
float vec_side(const Vec2& p, const Vec2& a, const Vec2& b);
// sqrt in double precision of the single-precision sum of squares.
float vec_length(const Vec2& a);

} // namespace kiv
