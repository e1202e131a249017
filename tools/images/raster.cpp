#include "raster.h"

#include <png.h>

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace kiv {

Colour ramp_at(int ramp, float shade)
{
    shade = std::min(15.0f, std::max(0.0f, shade));
    const Rgb base = ramp_bases[ramp];
    auto comp = [shade](int b) { return 255.0f - shade * (float)((255 - b) / 16); };
    return Colour{comp(base.r), comp(base.g), comp(base.b)};
}

Colour to_colour(Rgb c)
{
    return Colour{(float)c.r, (float)c.g, (float)c.b};
}

Colour mix(Colour a, Colour b, float t)
{
    t = std::min(1.0f, std::max(0.0f, t));
    return Colour{a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

void make_canvas(Canvas& c, int w, int h)
{
    c.w = w;
    c.h = h;
    const size_t n = (size_t)w * h * SUPERSAMPLE * SUPERSAMPLE;
    c.r.assign(n, 0.0f);
    c.g.assign(n, 0.0f);
    c.b.assign(n, 0.0f);
    c.a.assign(n, 0.0f);
}

// Calls f(index, x, y) for every sample of the canvas.
template <typename F>
static void for_samples(const Canvas& c, F f)
{
    const int sw = c.w * SUPERSAMPLE;
    const int sh = c.h * SUPERSAMPLE;
    for (int sy = 0; sy < sh; ++sy)
        for (int sx = 0; sx < sw; ++sx) {
            const float x = ((float)sx + 0.5f) / SUPERSAMPLE;
            const float y = ((float)sy + 0.5f) / SUPERSAMPLE;
            f((size_t)sy * sw + sx, x, y);
        }
}

void fill(Canvas& c, const Shape& shape, const Paint& paint, float opacity)
{
    for_samples(c, [&](size_t i, float x, float y) {
        if (shape(x, y) > 0.0f)
            return;
        const Colour p = paint(x, y);
        const float keep = 1.0f - opacity;
        c.r[i] = p.r * opacity + c.r[i] * keep;
        c.g[i] = p.g * opacity + c.g[i] * keep;
        c.b[i] = p.b * opacity + c.b[i] * keep;
        c.a[i] = opacity + c.a[i] * keep;
    });
}

void fill(Canvas& c, const Shape& shape, Colour colour, float opacity)
{
    fill(c, shape, [colour](float, float) { return colour; }, opacity);
}

void erase(Canvas& c, const Shape& shape)
{
    for_samples(c, [&](size_t i, float x, float y) {
        if (shape(x, y) <= 0.0f)
            c.r[i] = c.g[i] = c.b[i] = c.a[i] = 0.0f;
    });
}

Shape circle(float cx, float cy, float radius)
{
    return [=](float x, float y) { return std::hypot(x - cx, y - cy) - radius; };
}

Shape ellipse(float cx, float cy, float rx, float ry)
{
    return [=](float x, float y) {
        const float k = std::hypot((x - cx) / rx, (y - cy) / ry);
        return (k - 1.0f) * std::min(rx, ry);
    };
}

Shape box(float x0, float y0, float x1, float y1, float corner)
{
    const float cx = (x0 + x1) * 0.5f, cy = (y0 + y1) * 0.5f;
    const float hx = (x1 - x0) * 0.5f - corner, hy = (y1 - y0) * 0.5f - corner;
    return [=](float x, float y) {
        const float qx = std::fabs(x - cx) - hx, qy = std::fabs(y - cy) - hy;
        const float outside = std::hypot(std::max(qx, 0.0f), std::max(qy, 0.0f));
        return outside + std::min(std::max(qx, qy), 0.0f) - corner;
    };
}

static float segment_distance(float x, float y, float ax, float ay, float bx, float by)
{
    const float px = x - ax, py = y - ay, dx = bx - ax, dy = by - ay;
    const float len2 = dx * dx + dy * dy;
    float t = len2 > 0.0f ? (px * dx + py * dy) / len2 : 0.0f;
    t = std::min(1.0f, std::max(0.0f, t));
    return std::hypot(px - dx * t, py - dy * t);
}

Shape stroke(std::vector<float> pts, float half_width)
{
    return [pts, half_width](float x, float y) {
        float d = 1e9f;
        if (pts.size() == 2)
            d = std::hypot(x - pts[0], y - pts[1]);
        for (size_t i = 0; i + 3 < pts.size(); i += 2)
            d = std::min(d, segment_distance(x, y, pts[i], pts[i + 1], pts[i + 2], pts[i + 3]));
        return d - half_width;
    };
}

Shape polygon(std::vector<float> pts)
{
    return [pts](float x, float y) {
        const size_t n = pts.size() / 2;
        float d = 1e9f;
        bool inside = false;
        for (size_t i = 0, j = n - 1; i < n; j = i++) {
            const float xi = pts[2 * i], yi = pts[2 * i + 1];
            const float xj = pts[2 * j], yj = pts[2 * j + 1];
            d = std::min(d, segment_distance(x, y, xi, yi, xj, yj));
            if ((yi > y) != (yj > y) && x < (xj - xi) * (y - yi) / (yj - yi) + xi)
                inside = !inside;
        }
        return inside ? -d : d;
    };
}

Shape unite(Shape a, Shape b)
{
    return [a, b](float x, float y) { return std::min(a(x, y), b(x, y)); };
}

Shape intersect(Shape a, Shape b)
{
    return [a, b](float x, float y) { return std::max(a(x, y), b(x, y)); };
}

Shape subtract(Shape a, Shape b)
{
    return [a, b](float x, float y) { return std::max(a(x, y), -b(x, y)); };
}

Shape grow(Shape s, float by)
{
    return [s, by](float x, float y) { return s(x, y) - by; };
}

Shape shift(Shape s, float dx, float dy)
{
    return [s, dx, dy](float x, float y) { return s(x - dx, y - dy); };
}

void arc(std::vector<float>& out, float cx, float cy, float rx, float ry,
         float from_deg, float to_deg, int steps)
{
    for (int i = 0; i <= steps; ++i) {
        const double a = (from_deg + (to_deg - from_deg) * (double)i / steps) * M_PI / 180.0;
        out.push_back(cx + rx * (float)std::cos(a));
        out.push_back(cy + ry * (float)std::sin(a));
    }
}

static bool same(Rgb a, Rgb b)
{
    return a.r == b.r && a.g == b.g && a.b == b.b;
}

void reduce(const Canvas& c, const Colours& allowed, Rgb key, Picture& out, float threshold)
{
    std::vector<Rgb> choices;
    for (int ramp : allowed.ramps)
        for (int s = 0; s < RAMP_SHADES; ++s)
            choices.push_back(ramp_colour(ramp, s));
    for (int e : allowed.cube_entries)
        choices.push_back(cube_colour(e));

    out.w = c.w;
    out.h = c.h;
    out.pixels.assign((size_t)c.w * c.h, 0);
    std::vector<Rgb> used;
    std::vector<int> chosen((size_t)c.w * c.h, -1);
    const int ss = SUPERSAMPLE;
    const int sw = c.w * ss;
    for (int py = 0; py < c.h; ++py)
        for (int px = 0; px < c.w; ++px) {
            float r = 0, g = 0, b = 0, a = 0;
            for (int j = 0; j < ss; ++j)
                for (int i = 0; i < ss; ++i) {
                    const size_t k = (size_t)(py * ss + j) * sw + (px * ss + i);
                    r += c.r[k];
                    g += c.g[k];
                    b += c.b[k];
                    a += c.a[k];
                }
            const float n = (float)(ss * ss);
            r /= n;
            g /= n;
            b /= n;
            a /= n;
            if (a < threshold)
                continue;
            // Seen over the white screen.
            r += (1.0f - a) * 255.0f;
            g += (1.0f - a) * 255.0f;
            b += (1.0f - a) * 255.0f;
            int best = 0;
            float best_d = 1e30f;
            for (size_t q = 0; q < choices.size(); ++q) {
                const float dr = r - choices[q].r, dg = g - choices[q].g, db = b - choices[q].b;
                // Weighted towards green as the eye is.
                const float d = 3.0f * dr * dr + 4.0f * dg * dg + 2.0f * db * db;
                if (d < best_d) {
                    best_d = d;
                    best = (int)q;
                }
            }
            chosen[(size_t)py * c.w + px] = best;
        }

    // Palette: the key first, then the colours used, in a fixed order.
    std::vector<Rgb> colours;
    for (int q : chosen)
        if (q >= 0) {
            const Rgb col = choices[q];
            bool found = false;
            for (const Rgb& u : colours)
                found = found || same(u, col);
            if (!found)
                colours.push_back(col);
        }
    std::sort(colours.begin(), colours.end(), [](Rgb x, Rgb y) {
        const int lx = x.r + x.g + x.b, ly = y.r + y.g + y.b;
        if (lx != ly)
            return lx > ly;
        if (x.r != y.r)
            return x.r < y.r;
        if (x.g != y.g)
            return x.g < y.g;
        return x.b < y.b;
    });
    out.palette.clear();
    out.palette.push_back(key);
    for (const Rgb& col : colours)
        out.palette.push_back(col);
    for (size_t i = 0; i < chosen.size(); ++i) {
        if (chosen[i] < 0)
            continue;
        const Rgb col = choices[chosen[i]];
        for (size_t p = 1; p < out.palette.size(); ++p)
            if (same(out.palette[p], col))
                out.pixels[i] = (unsigned char)p;
    }
}

static bool write_png(const std::string& path, int w, int h, int colour_type,
                      const std::vector<Rgb>* palette, const std::vector<unsigned char>& rows,
                      int bytes_per_pixel)
{
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "make_images: cannot write %s\n", path.c_str());
        return false;
    }
    png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png_create_info_struct(png);
    if (setjmp(png_jmpbuf(png))) {
        png_destroy_write_struct(&png, &info);
        std::fclose(f);
        return false;
    }
    png_init_io(png, f);
    png_set_compression_level(png, 9);
    png_set_IHDR(png, info, (png_uint_32)w, (png_uint_32)h, 8, colour_type, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    std::vector<png_color> pal;
    if (palette) {
        for (const Rgb& c : *palette)
            pal.push_back(png_color{c.r, c.g, c.b});
        png_set_PLTE(png, info, pal.data(), (int)pal.size());
    }
    png_write_info(png, info);
    for (int y = 0; y < h; ++y)
        png_write_row(png, rows.data() + (size_t)y * w * bytes_per_pixel);
    png_write_end(png, nullptr);
    png_destroy_write_struct(&png, &info);
    return std::fclose(f) == 0;
}

bool write_paletted_png(const std::string& path, const Picture& p)
{
    return write_png(path, p.w, p.h, PNG_COLOR_TYPE_PALETTE, &p.palette, p.pixels, 1);
}

bool write_rgba_png(const std::string& path, const Canvas& c)
{
    std::vector<unsigned char> rows((size_t)c.w * c.h * 4);
    const int ss = SUPERSAMPLE;
    const int sw = c.w * ss;
    for (int py = 0; py < c.h; ++py)
        for (int px = 0; px < c.w; ++px) {
            float r = 0, g = 0, b = 0, a = 0;
            for (int j = 0; j < ss; ++j)
                for (int i = 0; i < ss; ++i) {
                    const size_t k = (size_t)(py * ss + j) * sw + (px * ss + i);
                    r += c.r[k];
                    g += c.g[k];
                    b += c.b[k];
                    a += c.a[k];
                }
            unsigned char* o = &rows[((size_t)py * c.w + px) * 4];
            if (a <= 0.0f) {
                o[0] = o[1] = o[2] = o[3] = 0;
                continue;
            }
            auto byte = [](float v) { return (unsigned char)std::lround(std::min(255.0f, std::max(0.0f, v))); };
            o[0] = byte(r / a);   // un-premultiply
            o[1] = byte(g / a);
            o[2] = byte(b / a);
            o[3] = byte(a / (float)(ss * ss) * 255.0f);
        }
    return write_png(path, c.w, c.h, PNG_COLOR_TYPE_RGB_ALPHA, nullptr, rows, 4);
}

} // namespace kiv
