// make_images OUTDIR          writes the game's 48 pictures into OUTDIR
// make_images --icons OUTDIR  writes the application icons kiv-N.png
// make_images --web-icons OUTDIR  writes the web app's icons: kiv-N.png and
//                             kiv-maskable-N.png at the sizes browsers ask for
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

bool write_icon(const std::string& dir, const char* name, int size, bool maskable)
{
    kiv::Canvas canvas;
    kiv::make_canvas(canvas, size, size);
    if (maskable)
        kiv::draw_maskable_icon(canvas, size);
    else
        kiv::draw_icon(canvas, (float)size);
    return kiv::write_rgba_png(dir + "/" + name + std::to_string(size) + ".png", canvas);
}

int write_icons(const std::string& dir, bool web)
{
    std::error_code ignored;
    std::filesystem::create_directories(dir, ignored);
    if (!web) {
        for (int size : {32, 48, 64, 128, 256})
            if (!write_icon(dir, "kiv-", size, false))
                return 1;
        return 0;
    }
    for (int size : {192, 512})
        if (!write_icon(dir, "kiv-", size, false) || !write_icon(dir, "kiv-maskable-", size, true))
            return 1;
    return 0;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 2 && argv[1][0] != '-')
        return write_catalogue(argv[1]);
    if (argc == 3 && (std::strcmp(argv[1], "--icons") == 0 || std::strcmp(argv[1], "--web-icons") == 0))
        return write_icons(argv[2], argv[1][2] == 'w');
    std::fprintf(stderr, "usage: make_images OUTDIR | make_images --icons OUTDIR | make_images --web-icons OUTDIR\n");
    return 2;
}
