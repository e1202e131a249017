#include "pictures.h"

#include <algorithm>
#include <cmath>
#include <string>

#include "font.h"

namespace kiv {

namespace {

const float PI = 3.14159265f;

Colour grey(float shade) { return ramp_at(RAMP_GREY, shade); }

float clamp01(float v) { return std::min(1.0f, std::max(0.0f, v)); }

float smooth(float e0, float e1, float v)
{
    const float t = clamp01((v - e0) / (e1 - e0));
    return t * t * (3.0f - 2.0f * t);
}

// A ramp shade that runs linearly between two values across y0..y1.
Paint vertical(int ramp, float top, float bottom, float y0, float y1)
{
    return [=](float, float y) { return ramp_at(ramp, top + (bottom - top) * clamp01((y - y0) / (y1 - y0))); };
}

Paint horizontal(int ramp, float left, float right, float x0, float x1)
{
    return [=](float x, float) { return ramp_at(ramp, left + (right - left) * clamp01((x - x0) / (x1 - x0))); };
}

// A lit sphere: light from the upper left, a bright highlight and a rim that
// darkens to the ramp's deepest shade.
Paint sphere(float cx, float cy, float radius, int ramp, float lit = 4.5f)
{
    return [=](float x, float y) {
        const float nx = (x - cx) / radius, ny = (y - cy) / radius;
        const float rr = nx * nx + ny * ny;
        const float r = std::sqrt(rr);
        const float nz = std::sqrt(std::max(0.0f, 1.0f - rr));
        const float lx = -0.5f, ly = -0.62f, lz = 0.6f;
        const float diffuse = std::max(0.0f, nx * lx + ny * ly + nz * lz);
        float shade = 15.0f - (15.0f - lit) * diffuse;
        // Highlight: the half vector between the light and the eye.
        const float hx = lx, hy = ly, hz = lz + 1.0f;
        const float hl = std::sqrt(hx * hx + hy * hy + hz * hz);
        const float gloss = std::pow(std::max(0.0f, (nx * hx + ny * hy + nz * hz) / hl), 30.0f);
        shade *= 1.0f - clamp01(gloss * 1.6f);
        // A little light bounced back onto the lower right edge.
        const float bounce = smooth(0.55f, 0.9f, r) * clamp01(nx * 0.6f + ny * 0.8f);
        shade -= 2.5f * bounce * (1.0f - smooth(0.9f, 1.0f, r));
        shade = shade + (15.0f - shade) * smooth(0.86f, 1.0f, r);
        return ramp_at(ramp, shade);
    };
}

void draw_ball(Canvas& c, float cx, float cy, float radius, int ramp, float outline)
{
    fill(c, circle(cx, cy, radius), grey(12.5f));
    fill(c, circle(cx, cy, radius - outline), sphere(cx, cy, radius - outline, ramp));
}

// Ink drawn with a dark outline around a coloured face.
void draw_outlined(Canvas& c, const Shape& ink, float outline, Colour edge, const Paint& face)
{
    fill(c, grow(ink, outline), edge);
    fill(c, ink, face);
}

// The face of the numbers and labels: warm orange, lighter at the top, with a
// pale glint along the upper part of every stroke.
Paint number_face(float y0, float y1)
{
    return [=](float, float y) {
        const float t = clamp01((y - y0) / (y1 - y0));
        return ramp_at(RAMP_ORANGE, 9.0f + 6.0f * t);
    };
}

// ---------------------------------------------------------------- balls

Art ball(const char* file, int radius, int ramp)
{
    const int size = 2 * radius + 1;
    Art a{file, size, size, {{ramp, RAMP_GREY}, {}}, ramp == RAMP_BLUE, nullptr};
    a.draw = [=](Canvas& c) {
        const float r = (float)radius + 0.5f;
        draw_ball(c, r, r, r, ramp, radius < 10 ? 0.9f : 1.1f);
    };
    return a;
}

// ---------------------------------------------------------------- numbers

const int DIGIT_W = 44, DIGIT_H = 58;
const float DIGIT_STROKE = 3.7f;    // half width of the face
const float DIGIT_OUTLINE = 2.5f;

Art digit(const char* file, char d)
{
    Art a{file, DIGIT_W, DIGIT_H, {{RAMP_ORANGE, RAMP_GREY}, {}}, false, nullptr};
    a.draw = [=](Canvas& c) {
        const float m = DIGIT_STROKE + DIGIT_OUTLINE + 0.6f;
        const Shape ink = glyph_shape(d, m, m, DIGIT_W - 2 * m, DIGIT_H - 2 * m, DIGIT_STROKE);
        draw_outlined(c, ink, DIGIT_OUTLINE, grey(14.0f), number_face(m - 4.0f, DIGIT_H - m + 4.0f));
    };
    return a;
}

Art times_sign()
{
    Art a{"xs.png", DIGIT_W, DIGIT_H, {{RAMP_ORANGE, RAMP_GREY}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        const Shape ink = unite(stroke({11.0f, 18.0f, 33.0f, 40.0f}, DIGIT_STROKE),
                                stroke({11.0f, 40.0f, 33.0f, 18.0f}, DIGIT_STROKE));
        draw_outlined(c, ink, DIGIT_OUTLINE, grey(14.0f), number_face(12.0f, 46.0f));
    };
    return a;
}

// A pip stands for a digit while a score popup grows: a round dot of the
// numbers' colours.
Art pip(const char* file, int k)
{
    const int size = std::max(2, 6 * k - 1);
    Art a{file, size, size, {{RAMP_ORANGE, RAMP_GREY}, {}}, false, nullptr};
    a.draw = [=](Canvas& c) {
        const float r = (float)size * 0.5f;
        const float edge = std::min(DIGIT_OUTLINE, std::max(0.8f, r * 0.2f));
        fill(c, circle(r, r, r), grey(14.0f));
        if (size > 2)
            fill(c, circle(r, r, r - edge), sphere(r, r, r - edge, RAMP_ORANGE, 8.0f));
    };
    return a;
}

// ---------------------------------------------------------------- pan

// The pan's metal seen across a bar of the given thickness: a dark rim, a
// bright edge on the lit side, the body darkening towards the far side.
Colour pan_metal(float t, float thickness)
{
    const float d = t * thickness;
    if (d < 1.0f || d > thickness - 1.0f)
        return grey(13.5f);
    if (d < 2.6f)
        return grey(2.0f);
    return grey(5.5f + 6.5f * clamp01((d - 2.6f) / (thickness - 3.6f)));
}

Art pan_bottom()
{
    Art a{"panh.png", 20, 12, {{RAMP_GREY}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        fill(c, box(0.0f, 0.0f, 20.0f, 12.0f), [](float, float y) { return pan_metal(y / 12.0f, 12.0f); });
    };
    return a;
}

Art pan_wall()
{
    Art a{"panv.png", 12, 18, {{RAMP_GREY}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        fill(c, box(0.0f, 0.0f, 12.0f, 18.0f), [](float x, float) { return pan_metal(x / 12.0f, 12.0f); });
    };
    return a;
}

// ---------------------------------------------------------------- events

// A flame tongue from a round base at (cx, base) up to a tip, swaying.
Shape flame(float cx, float base, float tip_x, float tip_y, float half_width, float sway)
{
    std::vector<float> pts;
    const int n = 40;
    auto centre = [&](float t) {
        return cx + (tip_x - cx) * t * t + sway * std::sin(t * PI * 1.6f) * t;
    };
    auto width = [&](float t) {
        const float body = std::pow(1.0f - t, 0.9f);
        const float round = std::sqrt(clamp01(1.0f - std::pow((0.28f - std::min(t, 0.28f)) / 0.28f, 2.0f)));
        return half_width * body * round;
    };
    auto height = [&](float t) { return base + (tip_y - base) * t; };
    for (int i = 0; i <= n; ++i) {
        const float t = (float)i / n;
        pts.push_back(centre(t) - width(t));
        pts.push_back(height(t));
    }
    for (int i = n; i >= 0; --i) {
        const float t = (float)i / n;
        pts.push_back(centre(t) + width(t));
        pts.push_back(height(t));
    }
    return polygon(pts);
}

void draw_log(Canvas& c, float x0, float y0, float x1, float y1, float half)
{
    const Shape log = stroke({x0, y0, x1, y1}, half);
    fill(c, grow(log, 1.2f), grey(14.0f));
    const float dx = x1 - x0, dy = y1 - y0, len = std::hypot(dx, dy);
    fill(c, log, [=](float x, float y) {
        // Across the log: lit on top, grain lines along it.
        const float across = ((x - x0) * -dy + (y - y0) * dx) / len / half;   // -1 .. 1
        const float along = ((x - x0) * dx + (y - y0) * dy) / len;
        Colour wood = to_colour(cube_colour(208));
        if (across < -0.45f)
            wood = to_colour(cube_colour(212));
        const float grain = std::sin(along * 0.9f + across * 3.0f);
        if (std::fabs(across) < 0.8f && grain > 0.93f)
            wood = grey(11.0f);
        return wood;
    });
    // The sawn end, with its rings.
    fill(c, circle(x1, y1, half - 0.3f), to_colour(cube_colour(216)));
    std::vector<float> ring_pts;
    arc(ring_pts, x1, y1, half * 0.5f, half * 0.5f, 0.0f, 360.0f, 24);
    fill(c, stroke(ring_pts, 0.45f), to_colour(cube_colour(208)));
}

Art fire()
{
    Art a{"fire.png", 96, 96, {{RAMP_RED, RAMP_ORANGE, RAMP_YELLOW, RAMP_GREY}, {208, 212, 216}}, false,
          nullptr};
    a.draw = [](Canvas& c) {
        // Flames, from the outer red to the white-hot core; the middle tongue
        // reaches the top edge where the sparks fly out.
        const Shape outer = unite(unite(flame(48.0f, 88.0f, 48.0f, -0.5f, 30.0f, -5.0f),
                                        flame(30.0f, 88.0f, 14.0f, 22.0f, 17.0f, 4.0f)),
                                  flame(66.0f, 88.0f, 82.0f, 16.0f, 17.0f, -4.0f));
        fill(c, outer, vertical(RAMP_RED, 12.0f, 15.0f, 0.0f, 60.0f));
        const Shape middle = unite(unite(flame(48.0f, 88.0f, 50.0f, 14.0f, 23.0f, -4.0f),
                                         flame(34.0f, 88.0f, 24.0f, 40.0f, 12.0f, 3.0f)),
                                   flame(62.0f, 88.0f, 74.0f, 36.0f, 12.0f, -3.0f));
        fill(c, middle, vertical(RAMP_ORANGE, 13.0f, 15.0f, 14.0f, 70.0f));
        fill(c, flame(48.0f, 88.0f, 46.0f, 36.0f, 16.0f, 3.0f), vertical(RAMP_YELLOW, 13.0f, 11.0f, 36.0f, 80.0f));
        fill(c, flame(48.0f, 88.0f, 48.0f, 58.0f, 9.0f, -2.0f), ramp_at(RAMP_YELLOW, 4.0f));
        // Sparks.
        const float sparks[][3] = {{18.0f, 8.0f, 2.2f}, {80.0f, 5.0f, 1.8f}, {30.0f, 3.0f, 1.5f}, {70.0f, 30.0f, 1.6f}};
        for (const auto& s : sparks) {
            fill(c, circle(s[0], s[1], s[2]), ramp_at(RAMP_ORANGE, 15.0f));
            fill(c, circle(s[0], s[1], s[2] * 0.5f), ramp_at(RAMP_YELLOW, 8.0f));
        }
        // Stones around the fire and two crossed logs.
        const float stones[][4] = {{8.0f, 90.0f, 8.0f, 5.5f}, {88.0f, 90.0f, 8.0f, 5.5f}, {22.0f, 92.0f, 7.0f, 4.0f},
                                   {74.0f, 92.0f, 7.0f, 4.0f}};
        for (const auto& s : stones) {
            fill(c, ellipse(s[0], s[1], s[2], s[3]), grey(13.5f));
            fill(c, ellipse(s[0], s[1], s[2] - 1.2f, s[3] - 1.2f), vertical(RAMP_GREY, 4.0f, 9.0f, s[1] - s[3], s[1] + s[3]));
        }
        draw_log(c, 78.0f, 92.0f, 16.0f, 76.0f, 5.0f);
        draw_log(c, 18.0f, 92.0f, 80.0f, 76.0f, 5.0f);
    };
    return a;
}

Art volcano()
{
    Art a{"vlcn.png", 104, 72, {{RAMP_GREY, RAMP_RED, RAMP_ORANGE, RAMP_YELLOW}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        // A concave cone: steep near the crater, spreading at the foot.
        std::vector<float> pts;
        const int n = 24;
        for (int i = 0; i <= n; ++i) {
            const float t = (float)i / n;
            pts.push_back(36.0f - 36.5f * std::pow(t, 1.7f));
            pts.push_back(9.0f + 63.5f * t);
        }
        for (int i = n; i >= 0; --i) {
            const float t = (float)i / n;
            pts.push_back(60.0f + 44.5f * std::pow(t, 1.7f));
            pts.push_back(9.0f + 63.5f * t);
        }
        const Shape cone = unite(polygon(pts), ellipse(48.0f, 9.0f, 13.0f, 4.0f));
        fill(c, grow(cone, 1.3f), grey(14.5f));
        fill(c, cone, [](float x, float y) {
            // Lit from the left, with ridges running down from the crater.
            const float dx = x - 48.0f, dy = y + 6.0f;
            const float angle = std::atan2(dx, dy);
            const float ridge = std::sin(angle * 26.0f);
            float shade = 5.0f + 7.0f * clamp01(x / 104.0f) + (ridge > 0.6f ? 2.0f : 0.0f);
            return grey(shade);
        });
        // Lava in the crater and running down the slopes.
        fill(c, ellipse(48.0f, 9.0f, 11.0f, 3.2f), ramp_at(RAMP_ORANGE, 15.0f));
        fill(c, ellipse(47.0f, 8.5f, 7.0f, 1.8f), ramp_at(RAMP_YELLOW, 9.0f));
        const std::vector<float> streams[] = {
            {40.0f, 11.0f, 38.0f, 20.0f, 33.0f, 28.0f, 31.0f, 38.0f, 24.0f, 48.0f, 21.0f, 56.0f},
            {55.0f, 11.0f, 58.0f, 22.0f, 63.0f, 30.0f, 64.0f, 40.0f, 71.0f, 50.0f},
            {47.0f, 12.0f, 48.0f, 24.0f, 46.0f, 32.0f}};
        const float widths[] = {2.6f, 2.3f, 1.8f};
        for (int i = 0; i < 3; ++i) {
            fill(c, stroke(streams[i], widths[i]), ramp_at(RAMP_RED, 15.0f));
            fill(c, stroke(streams[i], widths[i] * 0.45f), ramp_at(RAMP_ORANGE, 14.0f));
        }
        // Glowing blobs thrown out of the crater.
        const float blobs[][3] = {{44.0f, 2.6f, 2.6f}, {54.0f, 1.8f, 1.8f}, {36.0f, 4.0f, 1.5f}, {61.0f, 4.5f, 1.5f}};
        for (const auto& b : blobs) {
            fill(c, circle(b[0], b[1], b[2]), ramp_at(RAMP_RED, 15.0f));
            fill(c, circle(b[0] - b[2] * 0.25f, b[1] - b[2] * 0.25f, b[2] * 0.5f), ramp_at(RAMP_YELLOW, 10.0f));
        }
    };
    return a;
}

Art tree()
{
    Art a{"tree.png", 96, 88, {{RAMP_GREEN, RAMP_LIME, RAMP_GREY}, {208, 212}}, false, nullptr};
    a.draw = [](Canvas& c) {
        // Trunk with roots, under the crown.
        const Shape trunk = polygon({40.0f, 36.0f, 56.0f, 36.0f, 55.0f, 74.0f, 62.0f, 84.0f, 68.0f, 87.0f, 28.0f, 87.0f,
                                     34.0f, 84.0f, 41.0f, 74.0f});
        const Shape branch = unite(stroke({48.0f, 60.0f, 34.0f, 44.0f}, 2.6f), stroke({50.0f, 56.0f, 64.0f, 42.0f}, 2.4f));
        const Shape wood = unite(trunk, branch);
        fill(c, grow(wood, 1.3f), grey(14.5f));
        fill(c, wood, [](float x, float y) {
            const float bark = std::sin(x * 1.3f + std::sin(y * 0.35f) * 2.0f);
            if (bark > 0.75f)
                return grey(12.0f);
            return to_colour(cube_colour(x < 45.0f ? 212 : 208));
        });
        // Crown: leafy clumps, each lit from the upper left and ringed by a
        // darker edge, drawn from the back to the front.
        const float clumps[][4] = {{48.0f, 17.0f, 17.0f, 0}, {27.0f, 22.0f, 15.0f, 1}, {69.0f, 22.0f, 15.0f, 1},
                                   {14.5f, 34.0f, 12.0f, 0}, {81.5f, 34.0f, 12.0f, 0}, {34.0f, 36.0f, 14.0f, 1},
                                   {62.0f, 36.0f, 14.0f, 0}, {48.0f, 31.0f, 13.0f, 1}};
        Shape crown = [](float, float) { return 1e9f; };
        for (const auto& k : clumps)
            crown = unite(crown, circle(k[0], k[1], k[2]));
        fill(c, grow(crown, 1.3f), grey(14.5f));
        for (const auto& k : clumps) {
            const float cx = k[0], cy = k[1], r = k[2];
            const int ramp = k[3] > 0.5f ? RAMP_LIME : RAMP_GREEN;
            fill(c, circle(cx, cy, r), grey(11.0f));
            fill(c, circle(cx, cy, r - 0.8f), [=](float x, float y) {
                const float nx = (x - cx) / r, ny = (y - cy) / r;
                const float lit = clamp01(0.45f - 0.5f * nx - 0.65f * ny);
                const float rim = smooth(0.8f, 1.0f, std::sqrt(nx * nx + ny * ny));
                float shade = 15.0f - 10.0f * lit + 0.06f * (y - 20.0f);
                shade = shade + (15.0f - shade) * rim;
                return ramp_at(ramp, shade);
            });
            // Leaves catching the light.
            for (int i = 0; i < 3; ++i) {
                const float ang = 3.6f + 0.55f * (float)i;
                const float lx = cx + 0.55f * r * std::cos(ang), ly = cy + 0.55f * r * std::sin(ang);
                fill(c, ellipse(lx, ly, 1.8f, 1.1f), ramp_at(ramp, 4.0f));
            }
        }
        // A few fruit hanging under the crown.
        const float fruit[][2] = {{30.0f, 45.0f}, {66.0f, 46.0f}, {50.0f, 43.0f}};
        for (const auto& f : fruit)
            draw_ball(c, f[0], f[1], 3.6f, RAMP_GREEN, 0.9f);
    };
    return a;
}

Art vent()
{
    Art a{"vcnt.png", 80, 96, {{RAMP_GREY, RAMP_AZURE, RAMP_CYAN}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        // Ceiling plate, a duct coming down and bending left into a flared
        // mouth whose grille faces left, centred at y 78.
        const float bx = 30.0f, by = 56.0f, inner = 6.0f, outer = 38.0f;   // the bend
        const Shape plate = box(26.0f, -2.0f, 78.0f, 6.0f, 1.5f);
        const Shape duct = box(bx + inner, 4.0f, bx + outer, by + 0.5f);
        const Shape bend = intersect(subtract(circle(bx, by, outer), circle(bx, by, inner)),
                                     box(bx, by, bx + outer, by + outer));
        const Shape run = box(12.0f, by + inner, bx + 0.5f, by + outer);
        const Shape mouth = polygon({16.0f, by + inner, 7.0f, by + 1.0f, 7.0f, 96.0f, 16.0f, by + outer});
        const Shape rim = box(0.0f, by, 8.0f, 96.0f, 1.5f);
        const Shape body = unite(unite(unite(duct, bend), run), mouth);
        fill(c, grow(unite(unite(body, plate), rim), 1.3f), grey(14.5f));
        fill(c, plate, vertical(RAMP_GREY, 6.0f, 11.0f, 0.0f, 6.0f));
        fill(c, body, [=](float x, float y) {
            // Across the round duct: bright near its inner side, dark outside,
            // continuing through the bend.
            float t;
            if (y < by)
                t = (x - bx - inner) / (outer - inner);
            else if (x > bx)
                t = (std::hypot(x - bx, y - by) - inner) / (outer - inner);
            else
                t = (y - by - inner) / (outer - inner);
            float shade = 3.0f + 10.0f * clamp01(t);
            if (std::fabs(t - 0.2f) < 0.06f)
                shade = 0.5f;
            return ramp_at(RAMP_AZURE, shade);
        });
        // Seams with rivets.
        for (float y : {20.0f, 40.0f}) {
            fill(c, box(bx + inner, y - 0.6f, bx + outer, y + 0.6f), grey(12.0f));
            for (float x : {40.0f, 52.0f, 64.0f})
                fill(c, circle(x, y + 3.0f, 1.1f), grey(10.0f));
        }
        fill(c, box(23.0f, by + inner, 24.2f, by + outer), grey(12.0f));
        // The grille: slanted louvres in the dark mouth.
        fill(c, rim, grey(12.5f));
        fill(c, box(1.6f, by + 2.0f, 6.4f, 94.5f), grey(14.5f));
        for (int i = 0; i < 7; ++i) {
            const float y = by + 5.0f + 5.0f * (float)i;
            fill(c, stroke({1.6f, y + 1.5f, 6.4f, y}, 0.85f), ramp_at(RAMP_CYAN, 5.0f));
        }
    };
    return a;
}

Art cloud()
{
    Art a{"clud.png", 120, 54, {{RAMP_GREY, RAMP_BLUE, RAMP_AZURE}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        const float puffs[][3] = {{46.0f, 20.0f, 18.0f}, {72.0f, 18.0f, 16.5f}, {24.0f, 30.0f, 14.0f},
                                  {94.0f, 28.0f, 15.0f}, {60.0f, 30.0f, 15.0f}, {12.0f, 36.0f, 9.0f},
                                  {108.0f, 36.0f, 9.0f}, {38.0f, 34.0f, 12.0f}, {82.0f, 34.0f, 12.0f}};
        Shape body = [](float, float) { return 1e9f; };
        for (const auto& p : puffs)
            body = unite(body, circle(p[0], p[1], p[2]));
        body = intersect(body, box(-10.0f, -10.0f, 130.0f, 44.0f, 0.0f));
        // Rain below: streaks and drops.
        const float drops[][2] = {{22.0f, 47.0f}, {44.0f, 50.0f}, {66.0f, 47.0f}, {88.0f, 50.0f}, {104.0f, 46.0f},
                                  {33.0f, 51.0f}, {77.0f, 51.0f}, {56.0f, 52.0f}};
        for (const auto& d : drops) {
            const Shape drop = unite(circle(d[0], d[1], 1.7f), polygon({d[0] - 1.5f, d[1] - 0.6f, d[0] + 0.6f, d[1] - 5.0f,
                                                                        d[0] + 1.7f, d[1] - 0.3f}));
            fill(c, grow(drop, 0.5f), ramp_at(RAMP_BLUE, 15.0f));
            fill(c, circle(d[0] - 0.4f, d[1] - 0.2f, 0.8f), ramp_at(RAMP_AZURE, 6.0f));
        }
        fill(c, grow(body, 1.4f), grey(14.0f));
        for (const auto& p : puffs) {
            const float cx = p[0], cy = p[1], r = p[2];
            fill(c, intersect(circle(cx, cy, r), box(-10.0f, -10.0f, 130.0f, 44.0f, 0.0f)),
                 [=](float x, float y) {
                     const float nx = (x - cx) / r, ny = (y - cy) / r;
                     const float lit = clamp01(0.55f - 0.45f * nx - 0.75f * ny);
                     float shade = 11.0f - 9.5f * lit + 2.0f * smooth(28.0f, 44.0f, y);
                     shade += (11.0f - shade) * smooth(0.85f, 1.0f, std::sqrt(nx * nx + ny * ny)) * 0.7f;
                     return grey(shade);
                 });
        }
        // The dark underside of a rain cloud.
        fill(c, intersect(body, box(-10.0f, 40.0f, 130.0f, 44.0f)), grey(11.5f));
    };
    return a;
}

Art water_pipe()
{
    Art a{"watg.png", 110, 112, {{RAMP_GREY, RAMP_ORANGE, RAMP_RED, RAMP_BLUE, RAMP_AZURE}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        // Water pouring from the mouth at (96, 90), bending down as it falls.
        std::vector<float> jet;
        for (int i = 0; i <= 16; ++i) {
            const float t = (float)i / 16;
            jet.push_back(95.0f + 7.0f * std::sqrt(t));
            jet.push_back(89.0f + 25.0f * t);
        }
        fill(c, stroke(jet, 5.2f), ramp_at(RAMP_BLUE, 15.0f));
        fill(c, stroke(jet, 3.6f), ramp_at(RAMP_AZURE, 10.0f));
        fill(c, shift(stroke(jet, 0.9f), -1.8f, 1.0f), ramp_at(RAMP_AZURE, 2.0f));
        const float drops[][3] = {{90.0f, 104.0f, 1.6f}, {107.0f, 100.0f, 1.4f}, {88.0f, 111.0f, 1.2f}};
        for (const auto& d : drops) {
            fill(c, circle(d[0], d[1], d[2] + 0.6f), ramp_at(RAMP_BLUE, 15.0f));
            fill(c, circle(d[0] - 0.3f, d[1] - 0.3f, d[2] * 0.5f), ramp_at(RAMP_AZURE, 3.0f));
        }
        // Wall plate, the copper pipe and the flange at its mouth.
        const Shape wall_plate = box(-2.0f, 68.0f, 7.0f, 108.0f, 2.0f);
        const Shape pipe = box(-2.0f, 80.0f, 90.0f, 97.0f);
        const Shape flange = box(86.0f, 77.0f, 96.0f, 100.0f, 1.5f);
        const Shape stem = box(43.5f, 62.0f, 50.5f, 81.0f);
        const Shape wheel_ring = stroke([] {
            std::vector<float> p;
            arc(p, 47.0f, 50.0f, 14.5f, 14.5f, 0.0f, 360.0f, 36);
            return p;
        }(), 2.6f);
        const Shape spokes = unite(stroke({33.5f, 50.0f, 60.5f, 50.0f}, 1.6f), stroke({47.0f, 36.5f, 47.0f, 63.5f}, 1.6f));
        const Shape wheel = unite(unite(wheel_ring, spokes), circle(47.0f, 50.0f, 3.5f));
        fill(c, grow(unite(unite(unite(wall_plate, pipe), flange), stem), 1.3f), grey(14.5f));
        fill(c, grow(wheel, 1.2f), grey(14.5f));
        fill(c, wall_plate, horizontal(RAMP_GREY, 5.0f, 11.0f, 0.0f, 7.0f));
        for (float y : {73.0f, 103.0f})
            fill(c, circle(3.0f, y, 1.3f), grey(13.0f));
        const Paint copper = [](float, float y) {
            const float t = clamp01((y - 80.0f) / 17.0f);
            return ramp_at(RAMP_ORANGE, t < 0.2f ? 5.0f : 10.0f + 5.0f * t);
        };
        fill(c, pipe, copper);
        fill(c, stem, horizontal(RAMP_ORANGE, 7.0f, 15.0f, 43.5f, 50.5f));
        fill(c, box(40.0f, 76.0f, 54.0f, 81.0f, 1.0f), ramp_at(RAMP_ORANGE, 14.0f));
        fill(c, flange, [](float, float y) {
            const float t = clamp01((y - 77.0f) / 23.0f);
            return ramp_at(RAMP_ORANGE, t < 0.15f ? 6.0f : 11.0f + 4.0f * t);
        });
        fill(c, box(92.5f, 83.0f, 96.0f, 94.0f), grey(14.5f));   // the open mouth
        fill(c, box(20.0f, 80.0f, 21.2f, 97.0f), ramp_at(RAMP_ORANGE, 15.0f));
        fill(c, box(70.0f, 80.0f, 71.2f, 97.0f), ramp_at(RAMP_ORANGE, 15.0f));
        fill(c, wheel, [](float x, float y) {
            const float lit = clamp01(0.5f - (x - 47.0f) / 30.0f - (y - 50.0f) / 30.0f);
            return ramp_at(RAMP_RED, 15.0f - 8.0f * lit);
        });
    };
    return a;
}

// ---------------------------------------------------------------- appearing

// A burst of light that grows over four frames: a star of rays around a
// bright core, ringed by small twinkles.
Art appear(const char* file, int phase)
{
    Art a{file, 96, 96, {{RAMP_YELLOW, RAMP_ORANGE, RAMP_MAGENTA}, {}}, false, nullptr};
    a.draw = [=](Canvas& c) {
        const float s = 0.25f + 0.25f * (float)phase;   // 0.25 .. 1
        const float cx = 48.0f, cy = 48.0f;
        const float turn = 0.2f * (float)phase;
        auto star = [&](float outer, float inner, int points, float rot) {
            std::vector<float> p;
            for (int i = 0; i < 2 * points; ++i) {
                const float r = (i % 2 == 0) ? outer : inner;
                const float ang = rot + PI * (float)i / points;
                p.push_back(cx + r * std::cos(ang));
                p.push_back(cy + r * std::sin(ang));
            }
            return polygon(p);
        };
        // A soft halo ring first.
        if (phase > 0) {
            std::vector<float> ringp;
            arc(ringp, cx, cy, 34.0f * s + 4.0f, 34.0f * s + 4.0f, 0.0f, 360.0f, 48);
            fill(c, stroke(ringp, 1.0f + 0.8f * (float)phase), ramp_at(RAMP_MAGENTA, 4.0f + (float)phase));
        }
        const Shape big = star(46.0f * s, 12.0f * s, 4, -PI / 2 + turn);
        const Shape small = star(30.0f * s, 9.0f * s, 4, -PI / 4 + turn);
        fill(c, grow(unite(big, small), 1.0f), ramp_at(RAMP_ORANGE, 15.0f));
        fill(c, unite(big, small), [=](float x, float y) {
            const float d = std::hypot(x - cx, y - cy) / (46.0f * s);
            return ramp_at(RAMP_YELLOW, 2.0f + 13.0f * clamp01(d * 1.4f));
        });
        fill(c, circle(cx, cy, 7.0f * s + 1.0f), ramp_at(RAMP_YELLOW, 1.0f));
        // Twinkles.
        if (phase > 0) {
            const float twinkles[][3] = {{0.72f, 0.35f, 1.0f}, {0.78f, 2.2f, 0.8f}, {0.7f, 4.1f, 0.9f}, {0.8f, 5.4f, 0.7f}};
            for (int i = 0; i < phase + 1 && i < 4; ++i) {
                const float r = twinkles[i][0] * 46.0f * s + 4.0f, ang = twinkles[i][1] + turn;
                const float tx = cx + r * std::cos(ang), ty = cy + r * std::sin(ang);
                const float size = 3.0f + 3.0f * twinkles[i][2] * s;
                std::vector<float> p;
                for (int k = 0; k < 8; ++k) {
                    const float rr = (k % 2 == 0) ? size : size * 0.3f;
                    p.push_back(tx + rr * std::cos(PI * (float)k / 4));
                    p.push_back(ty + rr * std::sin(PI * (float)k / 4));
                }
                fill(c, grow(polygon(p), 0.6f), ramp_at(RAMP_MAGENTA, 13.0f));
                fill(c, polygon(p), ramp_at(RAMP_YELLOW, 3.0f));
            }
        }
    };
    return a;
}

// ---------------------------------------------------------------- bars

// Strokes for the logo and the game-over caption: a light face within a
// dark edge, all of the violet ramp, lit from the upper left. The straight
// bars are squarish so that bars laid end to end join up; the diagonals have
// round ends.
const float BAR_EDGE = 1.1f;

Colour bar_face(float t)   // t: 0 on the lit side .. 1 on the far side
{
    return ramp_at(RAMP_VIOLET, 3.5f + 6.0f * clamp01(t));
}

void draw_diagonal(Canvas& c, float x0, float y0, float x1, float y1)
{
    const float half = 3.4f;
    fill(c, stroke({x0, y0, x1, y1}, half), ramp_at(RAMP_VIOLET, 15.0f));
    const float dx = x1 - x0, dy = y1 - y0, len = std::hypot(dx, dy);
    // The unit normal that points down (away from the light).
    const float nx = (dy > 0.0f ? dy : -dy) / len * (dx * dy > 0.0f ? -1.0f : 1.0f);
    const float ny = std::fabs(dx) / len;
    fill(c, stroke({x0, y0, x1, y1}, half - BAR_EDGE), [=](float x, float y) {
        const float across = ((x - x0) * nx + (y - y0) * ny) / (half - BAR_EDGE);   // -1 .. 1
        return bar_face(0.5f + 0.5f * across);
    });
}

Art bar(const char* file, int kind)
{
    static const int sizes[4][2] = {{20, 7}, {25, 28}, {7, 28}, {25, 28}};
    const int w = sizes[kind][0], h = sizes[kind][1];
    Art a{file, w, h, {{RAMP_VIOLET}, {}}, false, nullptr};
    a.draw = [=](Canvas& c) {
        const float e = BAR_EDGE;
        switch (kind) {
        case 0:
        case 2:
            fill(c, box(0.0f, 0.0f, (float)w, (float)h, 2.2f), ramp_at(RAMP_VIOLET, 15.0f));
            fill(c, box(e, e, (float)w - e, (float)h - e, 1.4f), [=](float x, float y) {
                return bar_face(kind == 0 ? (y - e) / (7.0f - 2 * e) : (x - e) / (7.0f - 2 * e));
            });
            break;
        case 1: draw_diagonal(c, 3.5f, 24.5f, 21.5f, 3.5f); break;
        default: draw_diagonal(c, 3.5f, 3.5f, 21.5f, 24.5f); break;
        }
    };
    return a;
}

// ---------------------------------------------------------------- title

Art button(const char* file, const char* label, int ramp)
{
    Art a{file, 106, 30, {{RAMP_GREY, ramp}, {}}, false, nullptr};
    a.draw = [=](Canvas& c) {
        const Shape plate = box(0.5f, 0.5f, 105.5f, 29.5f, 8.0f);
        fill(c, plate, grey(14.0f));
        fill(c, grow(plate, -1.6f), [](float, float y) {
            return grey(y < 4.0f ? 0.0f : 1.0f + 4.0f * clamp01((y - 4.0f) / 24.0f));
        });
        float width = 0.0f;
        text_shape(label, 0.0f, 0.0f, 12.0f, 16.0f, 6.0f, 2.0f, &width);
        const Shape ink = text_shape(label, 53.0f - width * 0.5f, 7.0f, 12.0f, 16.0f, 6.0f, 2.0f, nullptr);
        draw_outlined(c, ink, 1.6f, grey(14.5f), vertical(ramp, 8.0f, 15.0f, 5.0f, 25.0f));
    };
    return a;
}

Art hiscore()
{
    Art a{"hiscore.png", 256, 40, {{RAMP_ORANGE, RAMP_GREY}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        float width = 0.0f;
        const float half = 3.0f, edge = 2.2f, m = half + edge + 0.5f;
        text_shape("HIGH SCORE", 0.0f, 0.0f, 18.0f, 40.0f - 2 * m, 9.0f, half, &width);
        const Shape ink = text_shape("HIGH SCORE", 128.0f - width * 0.5f, m, 18.0f, 40.0f - 2 * m, 9.0f, half, nullptr);
        draw_outlined(c, ink, edge, grey(14.0f), number_face(m - 3.0f, 40.0f - m + 3.0f));
    };
    return a;
}

Art cursor()
{
    Art a{"cursor.png", 16, 24, {{RAMP_GREY}, {}}, false, nullptr};
    a.draw = [](Canvas& c) {
        const Shape arrow = polygon({0.0f, 0.0f, 0.0f, 19.5f, 4.6f, 15.4f, 8.3f, 23.2f, 11.4f, 21.8f, 7.8f, 14.2f,
                                     13.6f, 14.2f});
        fill(c, grow(arrow, 0.7f), grey(15.0f));
        fill(c, grow(arrow, -1.0f), [](float x, float y) { return grey(clamp01((x + y) / 30.0f) * 3.0f); });
    };
    return a;
}

} // namespace

void make_catalogue(std::vector<Art>& out)
{
    out.clear();
    out.push_back(ball("ball_b7.png", 7, RAMP_BLUE));
    out.push_back(ball("ball_b10.png", 10, RAMP_BLUE));
    out.push_back(ball("ball_b15.png", 15, RAMP_BLUE));
    out.push_back(ball("ball_g7.png", 7, RAMP_GREEN));
    out.push_back(ball("ball_g10.png", 10, RAMP_GREEN));
    out.push_back(ball("ball_g15.png", 15, RAMP_GREEN));
    out.push_back(ball("ball_r7.png", 7, RAMP_RED));
    out.push_back(ball("ball_r10.png", 10, RAMP_RED));
    out.push_back(ball("ball_r15.png", 15, RAMP_RED));
    static const char* const digit_files[10] = {"0s.png", "1s.png", "2s.png", "3s.png", "4s.png",
                                                "5s.png", "6s.png", "7s.png", "8s.png", "9s.png"};
    for (int d = 0; d < 10; ++d)
        out.push_back(digit(digit_files[d], (char)('0' + d)));
    out.push_back(times_sign());
    static const char* const pip_files[8] = {"pp0s.png", "pp1s.png", "pp2s.png", "pp3s.png",
                                             "pp4s.png", "pp5s.png", "pp6s.png", "pp7s.png"};
    for (int k = 0; k < 8; ++k)
        out.push_back(pip(pip_files[k], k));
    out.push_back(appear("pr0.png", 0));
    out.push_back(appear("pr2.png", 1));
    out.push_back(appear("pr4.png", 2));
    out.push_back(appear("pr6.png", 3));
    out.push_back(pan_bottom());
    out.push_back(pan_wall());
    out.push_back(fire());
    out.push_back(volcano());
    out.push_back(tree());
    out.push_back(vent());
    out.push_back(cloud());
    out.push_back(water_pipe());
    out.push_back(bar("bar0.png", 0));
    out.push_back(bar("bar1.png", 1));
    out.push_back(bar("bar2.png", 2));
    out.push_back(bar("bar3.png", 3));
    out.push_back(button("start.png", "START", RAMP_GREEN));
    out.push_back(button("quit.png", "QUIT", RAMP_RED));
    out.push_back(hiscore());
    out.push_back(cursor());
}

void draw_icon(Canvas& c, float size, float x0, float y0)
{
    const float u = size / 64.0f;
    auto X = [=](float x) { return x0 + x * u; };
    auto Y = [=](float y) { return y0 + y * u; };
    // The pan: a bottom bar and two walls, with three balls resting in it.
    const Shape bottom = box(X(4.0f), Y(46.0f), X(60.0f), Y(56.0f), 1.5f * u);
    const Shape left = box(X(4.0f), Y(28.0f), X(12.0f), Y(56.0f), 1.5f * u);
    const Shape right = box(X(52.0f), Y(28.0f), X(60.0f), Y(56.0f), 1.5f * u);
    const Shape pan = unite(unite(bottom, left), right);
    const float r = 10.5f * u;
    draw_ball(c, X(32.0f), Y(17.5f), r, RAMP_GREEN, std::max(0.8f, 0.9f * u));
    fill(c, grow(pan, 0.8f * u), grey(13.5f));
    fill(c, pan, [=](float x, float y) {
        if (y > Y(46.0f))
            return pan_metal((y - Y(46.0f)) / (10.0f * u), 10.0f);
        return pan_metal((x < X(32.0f) ? x - X(4.0f) : x - X(52.0f)) / (8.0f * u), 8.0f);
    });
    draw_ball(c, X(22.5f), Y(35.0f), r, RAMP_RED, std::max(0.8f, 0.9f * u));
    draw_ball(c, X(41.5f), Y(35.0f), r, RAMP_BLUE, std::max(0.8f, 0.9f * u));
}

void draw_maskable_icon(Canvas& c, int size)
{
    // A launcher may cut the icon to any shape that holds the middle circle
    // of 80 % of its width: the background fills everything, and the pan
    // and its balls keep to the square inside that circle.
    fill(c, box(0.0f, 0.0f, (float)size, (float)size), grey(14.0f));
    const float inner = 0.54f * (float)size;
    draw_icon(c, inner, 0.5f * ((float)size - inner), 0.5f * ((float)size - inner));
}

} // namespace kiv
