// Vector arithmetic of the simulation.
#include <gtest/gtest.h>

#include <cmath>
#include <limits>

#include "sim/vec.h"

using namespace kiv;

TEST(VecArithmetic, AddSubScaleChangeTheFirstOperandOnly)
{
    Vec2 a{1.5f, -2.0f};
    const Vec2 b{0.25f, 4.0f};
    vec_add(a, b);
    EXPECT_EQ(a.x, 1.75f);
    EXPECT_EQ(a.y, 2.0f);
    vec_sub(a, b);
    EXPECT_EQ(a.x, 1.5f);
    EXPECT_EQ(a.y, -2.0f);
    vec_scale(a, -3.0f);
    EXPECT_EQ(a.x, -4.5f);
    EXPECT_EQ(a.y, 6.0f);
    EXPECT_EQ(b.x, 0.25f);
}

TEST(VecProject, OntoAxesDiagonalsAndZero)
{
    Vec2 p = vec_project(Vec2{3.0f, 4.0f}, Vec2{10.0f, 0.0f});
    EXPECT_EQ(p.x, 3.0f);
    EXPECT_EQ(p.y, 0.0f);
    p = vec_project(Vec2{3.0f, 4.0f}, Vec2{0.0f, -0.5f});
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 4.0f);
    // (2, 0) onto the diagonal (1, 1) is (1, 1)
    p = vec_project(Vec2{2.0f, 0.0f}, Vec2{1.0f, 1.0f});
    EXPECT_FLOAT_EQ(p.x, 1.0f);
    EXPECT_FLOAT_EQ(p.y, 1.0f);
    // perpendicular: nothing along it
    p = vec_project(Vec2{1.0f, -1.0f}, Vec2{1.0f, 1.0f});
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);
    // onto the zero vector: zero
    p = vec_project(Vec2{123.0f, -7.5f}, Vec2{0.0f, 0.0f});
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);
    // a direction too short to square in single precision counts as zero
    p = vec_project(Vec2{1.0f, 1.0f}, Vec2{1e-30f, 0.0f});
    EXPECT_EQ(p.x, 0.0f);
    EXPECT_EQ(p.y, 0.0f);
}

TEST(VecSide, PointsAboveAndBelowALeftToRightLineAndDegenerateLines)
{
    const Vec2 a{0.0f, 10.0f}, b{10.0f, 10.0f};
    EXPECT_EQ(vec_side(Vec2{5.0f, 0.0f}, a, b), 10.0f);
    EXPECT_EQ(vec_side(Vec2{5.0f, 20.0f}, a, b), -10.0f);
    EXPECT_EQ(vec_side(Vec2{5.0f, 10.0f}, a, b), 0.0f);
    // a degenerate line gives zero
    EXPECT_EQ(vec_side(Vec2{100.0f, -50.0f}, a, a), 0.0f);
    EXPECT_EQ(vec_side(a, a, a), 0.0f);
}

TEST(VecSide, VerticalAndSlopedLines)
{
    // downward vertical line: right of it is positive
    EXPECT_GT(vec_side(Vec2{5.0f, 0.0f}, Vec2{0.0f, 0.0f}, Vec2{0.0f, 10.0f}), 0.0f);
    EXPECT_LT(vec_side(Vec2{-5.0f, 0.0f}, Vec2{0.0f, 0.0f}, Vec2{0.0f, 10.0f}), 0.0f);
    // upward vertical line: the same simple rule, so the opposite of the cross product
    EXPECT_GT(vec_side(Vec2{5.0f, 0.0f}, Vec2{0.0f, 10.0f}, Vec2{0.0f, 0.0f}), 0.0f);
    // leftward horizontal line: above is still positive
    EXPECT_GT(vec_side(Vec2{5.0f, 0.0f}, Vec2{10.0f, 10.0f}, Vec2{0.0f, 10.0f}), 0.0f);
    // sloped lines take the sign opposite to the cross product
    const Vec2 a{0.0f, 0.0f}, down_right{10.0f, 5.0f}, up_right{10.0f, -5.0f};
    EXPECT_GT(vec_side(Vec2{5.0f, -10.0f}, a, down_right), 0.0f);
    EXPECT_LT(vec_side(Vec2{5.0f, 10.0f}, a, down_right), 0.0f);
    EXPECT_GT(vec_side(Vec2{5.0f, -10.0f}, a, up_right), 0.0f);
    EXPECT_LT(vec_side(Vec2{0.0f, 10.0f}, a, up_right), 0.0f);
    // the magnitude is the sum of quotients, not a distance
    EXPECT_FLOAT_EQ(vec_side(Vec2{4.0f, 0.0f}, a, Vec2{2.0f, 4.0f}), 2.0f);
}

TEST(VecSide, OverflowingQuotientsStillGiveASignAndNeverNaN)
{
    // A nearly vertical line whose quotients both overflow to infinity.
    const Vec2 a{0.0f, 0.0f}, b{1e-38f, 1e-38f};
    float above = vec_side(Vec2{3e38f, 1e38f}, a, b);
    float below = vec_side(Vec2{1e38f, 3e38f}, a, b);
    EXPECT_FALSE(std::isnan(above));
    EXPECT_FALSE(std::isnan(below));
    // the same sides as for the same points scaled down to ordinary sizes
    EXPECT_GT(vec_side(Vec2{3.0f, 1.0f}, a, Vec2{1.0f, 1.0f}), 0.0f);
    EXPECT_GT(above, 0.0f);
    EXPECT_LT(below, 0.0f);
}

TEST(VecLength, SquareRootInDoubleOfASingleSum)
{
    EXPECT_EQ(vec_length(Vec2{3.0f, 4.0f}), 5.0f);
    EXPECT_EQ(vec_length(Vec2{0.0f, 0.0f}), 0.0f);
    EXPECT_EQ(vec_length(Vec2{-6.0f, 8.0f}), 10.0f);
    const float x = 1.1f, y = 2.3f;
    float sum = x * x + y * y;
    EXPECT_EQ(vec_length(Vec2{x, y}), (float)std::sqrt((double)sum));
}
