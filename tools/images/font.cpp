#include "font.h"

#include <cmath>
#include <vector>

namespace kiv {

using Lines = std::vector<std::vector<float>>;

static std::vector<float> ring(float cx, float cy, float rx, float ry)
{
    std::vector<float> p;
    arc(p, cx, cy, rx, ry, 0.0f, 360.0f, 40);
    return p;
}

// A closed stadium: two half ellipses joined by straight sides.
static std::vector<float> stadium(float top, float bottom)
{
    std::vector<float> p;
    const float ry = 0.5f * (bottom - top) * 0.6f;
    arc(p, 0.5f, top + ry, 0.5f, ry, 180.0f, 360.0f, 20);
    arc(p, 0.5f, bottom - ry, 0.5f, ry, 0.0f, 180.0f, 20);
    p.push_back(p[0]);
    p.push_back(p[1]);
    return p;
}

static Lines rotate_half_turn(Lines lines)
{
    for (auto& l : lines)
        for (size_t i = 0; i < l.size(); ++i)
            l[i] = 1.0f - l[i];
    return lines;
}

static Lines glyph_lines(char c)
{
    std::vector<float> p, q;
    switch (c) {
    case '0':
        return {stadium(0.0f, 1.0f)};
    case '1':
        return {{0.15f, 0.24f, 0.6f, 0.0f, 0.6f, 1.0f}, {0.15f, 1.0f, 1.0f, 1.0f}};
    case '2':
        arc(p, 0.5f, 0.27f, 0.5f, 0.27f, 200.0f, 395.0f, 24);
        p.insert(p.end(), {0.0f, 1.0f, 1.0f, 1.0f});
        return {p};
    case '3':
        arc(p, 0.5f, 0.25f, 0.47f, 0.25f, 205.0f, 450.0f, 24);
        arc(p, 0.5f, 0.74f, 0.5f, 0.26f, 270.0f, 515.0f, 24);
        return {p};
    case '4':
        return {{0.74f, 1.0f, 0.74f, 0.0f, 0.0f, 0.68f, 1.0f, 0.68f}};
    case '5':
        p = {0.95f, 0.0f, 0.1f, 0.0f, 0.04f, 0.45f};
        arc(p, 0.5f, 0.69f, 0.5f, 0.31f, 235.0f, 515.0f, 28);
        return {p};
    case '6':
        arc(p, 0.55f, 0.55f, 0.5f, 0.55f, 305.0f, 180.0f, 20);
        p.insert(p.end(), {0.05f, 0.7f});
        return {p, ring(0.5f, 0.7f, 0.5f, 0.3f)};
    case '7':
        return {{0.0f, 0.0f, 1.0f, 0.0f, 0.32f, 1.0f}};
    case '8':
        return {ring(0.5f, 0.24f, 0.42f, 0.24f), ring(0.5f, 0.72f, 0.5f, 0.28f)};
    case '9':
        return rotate_half_turn(glyph_lines('6'));
    case 'x':   // the multiplication sign, centred in the box
        return {{0.1f, 0.32f, 0.9f, 0.78f}, {0.1f, 0.78f, 0.9f, 0.32f}};
    case 'A':
        return {{0.0f, 1.0f, 0.5f, 0.0f, 1.0f, 1.0f}, {0.2f, 0.64f, 0.8f, 0.64f}};
    case 'C':
        arc(p, 0.55f, 0.5f, 0.55f, 0.5f, 318.0f, 42.0f, 32);
        return {p};
    case 'E':
        return {{1.0f, 0.0f, 0.0f, 0.0f, 0.0f, 1.0f, 1.0f, 1.0f}, {0.0f, 0.5f, 0.75f, 0.5f}};
    case 'G':
        arc(p, 0.55f, 0.5f, 0.55f, 0.5f, 318.0f, 40.0f, 32);
        p.insert(p.end(), {1.0f, 0.56f, 0.55f, 0.56f});
        return {p};
    case 'H':
        return {{0.0f, 0.0f, 0.0f, 1.0f}, {1.0f, 0.0f, 1.0f, 1.0f}, {0.0f, 0.5f, 1.0f, 0.5f}};
    case 'I':
        return {{0.5f, 0.0f, 0.5f, 1.0f}, {0.0f, 0.0f, 1.0f, 0.0f}, {0.0f, 1.0f, 1.0f, 1.0f}};
    case 'O':
        return {stadium(0.0f, 1.0f)};
    case 'Q':
        return {stadium(0.0f, 1.0f), {0.62f, 0.72f, 1.05f, 1.08f}};
    case 'R':
        p = {0.0f, 1.0f, 0.0f, 0.0f, 0.55f, 0.0f};
        arc(p, 0.55f, 0.26f, 0.45f, 0.26f, 270.0f, 450.0f, 20);
        p.insert(p.end(), {0.0f, 0.52f});
        return {p, {0.5f, 0.52f, 1.0f, 1.0f}};
    case 'S':
        arc(p, 0.5f, 0.26f, 0.48f, 0.26f, 335.0f, 90.0f, 24);
        arc(p, 0.5f, 0.74f, 0.5f, 0.26f, 270.0f, 517.0f, 24);
        return {p};
    case 'T':
        return {{0.0f, 0.0f, 1.0f, 0.0f}, {0.5f, 0.0f, 0.5f, 1.0f}};
    case 'U':
        p = {0.0f, 0.0f};
        arc(p, 0.5f, 0.62f, 0.5f, 0.38f, 180.0f, 0.0f, 24);
        p.insert(p.end(), {1.0f, 0.0f});
        return {p};
    default:
        return {};
    }
}

float glyph_width(char c)
{
    switch (c) {
    case ' ': return 0.35f;
    case 'I': return 0.4f;
    case '1': return 0.75f;
    default: return 0.72f;
    }
}

Shape glyph_shape(char c, float x, float y, float w, float h, float half_width)
{
    Shape ink = [](float, float) { return 1e9f; };
    for (auto line : glyph_lines(c)) {
        if (line.empty())
            continue;
        for (size_t i = 0; i + 1 < line.size(); i += 2) {
            line[i] = x + line[i] * w;
            line[i + 1] = y + line[i + 1] * h;
        }
        ink = unite(ink, stroke(line, half_width));
    }
    return ink;
}

Shape text_shape(const char* text, float x, float y, float letter_w, float h, float gap,
                 float half_width, float* width)
{
    Shape ink = [](float, float) { return 1e9f; };
    const float x0 = x;
    for (const char* c = text; *c; ++c) {
        const float w = glyph_width(*c) / 0.72f * letter_w;
        if (*c != ' ')
            ink = unite(ink, glyph_shape(*c, x, y, w, h, half_width));
        x += w + gap;
    }
    if (width)
        *width = x - gap - x0;
    return ink;
}

} // namespace kiv
