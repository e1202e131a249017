#include "sim/vec.h"

namespace kiv {

void vec_add(Vec2&, const Vec2&) {}
void vec_sub(Vec2&, const Vec2&) {}
void vec_scale(Vec2&, float) {}
Vec2 vec_project(const Vec2&, const Vec2&) { return Vec2{0.0f, 0.0f}; }
float vec_side(const Vec2&, const Vec2&, const Vec2&) { return 0.0f; }
float vec_length(const Vec2&) { return 0.0f; }

} // namespace kiv
