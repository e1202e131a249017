// make_images OUTDIR          writes the game's 48 pictures into OUTDIR
// make_images --icons OUTDIR  writes the application icons kiv-N.png
//
// The output depends on nothing but this program: the same bytes every run.
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "pictures.h"
#include "raster.h"

namespace {

int write_catalogue(const std::string& dir)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    std::vector<kiv::Art> arts;
    kiv::make_catalogue(arts);
    for (const kiv::Art& art : arts) {
        kiv::Canvas canvas;
        kiv::make_canvas(canvas, art.w, art.h);
        art.draw(canvas);
        kiv::Picture picture;
        kiv::reduce(canvas, art.colours, art.red_key ? kiv::KEY_RED : kiv::KEY_BLUE, picture);
        if (!kiv::write_paletted_png(dir + "/" + art.file, picture))
            return 1;
    }
    return 0;
}

int write_icons(const std::string& dir)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    for (int size : {32, 48, 64, 128, 256}) {
        kiv::Canvas canvas;
        kiv::make_canvas(canvas, size, size);
        kiv::draw_icon(canvas, size);
        if (!kiv::write_rgba_png(dir + "/kiv-" + std::to_string(size) + ".png", canvas))
            return 1;
    }
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && std::strcmp(argv[1], "--icons") != 0)
        return write_catalogue(argv[1]);
    if (argc == 3 && std::strcmp(argv[1], "--icons") == 0)
        return write_icons(argv[2]);
    std::fprintf(stderr, "usage: make_images OUTDIR | make_images --icons OUTDIR\n");
    return 2;
}
