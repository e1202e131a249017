// Pictures from PNG files, read with libpng as the colours stored in them:
// palette and grey expanded to RGB, 16-bit samples cut to 8, any alpha
// dropped and no gamma applied, as the browser's reader gives them too.
#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>

#include "platform/sdl/video.h"

namespace kiv {

unsigned char* read_png(const char* path, int* w, int* h)
{
    std::FILE* f = std::fopen(path, "rb");
    if (!f)
        return nullptr;
    png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    png_infop info = png ? png_create_info_struct(png) : nullptr;
    // Set before the jump point: whatever libpng refuses leaves them as they
    // are when it jumps back.
    unsigned char* volatile rgb = nullptr;
    png_bytep* volatile rows = nullptr;
    bool ok = false;
    if (info && !setjmp(png_jmpbuf(png))) {
        png_init_io(png, f);
        png_read_info(png, info);
        png_set_expand(png);
        png_set_strip_16(png);
        png_set_strip_alpha(png);
        png_set_gray_to_rgb(png);
        png_set_interlace_handling(png);
        png_read_update_info(png, info);
        png_uint_32 width = png_get_image_width(png, info), height = png_get_image_height(png, info);
        if (width > 0 && height > 0 && width <= 4096 && height <= 4096 && png_get_rowbytes(png, info) == 3 * width) {
            rgb = static_cast<unsigned char*>(std::malloc(3 * width * height));
            rows = static_cast<png_bytep*>(std::malloc(height * sizeof(png_bytep)));
            if (rgb && rows) {
                for (png_uint_32 y = 0; y < height; y++)
                    rows[y] = rgb + 3 * width * y;
                png_read_image(png, rows);
                png_read_end(png, nullptr);
                *w = static_cast<int>(width);
                *h = static_cast<int>(height);
                ok = true;
            }
        }
    }
    png_destroy_read_struct(png ? &png : nullptr, info ? &info : nullptr, nullptr);
    std::fclose(f);
    std::free(rows);
    if (!ok) {
        std::free(rgb);
        return nullptr;
    }
    return rgb;
}

} // namespace kiv
