// Entry and exit: the command line, the high-score file and quitting.
#include "frame/startup.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "media/sound.h"
#include "media/catalogue.h"

namespace kiv {

const char* const PREFS_FILE = "kiv.prf";

// The score shown when there is no high-score file yet.
constexpr int DEFAULT_HIGH_SCORE = 1000000;

int parse_options(int argc, char** argv)
{
    for (int i = 1; i < argc; i++) {
        if (std::strcmp(argv[i], "-mousespeed") == 0 && i + 1 < argc) {
            // The next argument is the speed in tenths, whatever it says.
            i = i + 1;
            float v = static_cast<float>(std::atoi(argv[i])) / 10.0f;
            mouse_speed = (v <= 0.0f || v >= 10.0f) ? 1.0f : v;
        } else if (std::strcmp(argv[i], "-nosound") == 0) {
            sound_off = 1;
        } else if (std::strcmp(argv[i], "-window") == 0) {
            windowed = 1;
        } else {
            std::fprintf(stderr, "Usage: %s [-nosound] [-mousespeed num] [-window]\n",
                         argc > 0 ? argv[0] : "kiv");
            return 0;
        }
    }
    return 1;
}

int read_high_score()
{
    std::FILE* f = std::fopen(PREFS_FILE, "rb");
    if (!f) {
        high_score = DEFAULT_HIGH_SCORE;
        return 0;
    }
    unsigned char b[4];
    if (std::fread(b, 1, 4, f) < 4) {
        high_score = -1;
    } else {
        unsigned v = (unsigned(b[0]) << 24) | (unsigned(b[1]) << 16) | (unsigned(b[2]) << 8) | unsigned(b[3]);
        high_score = static_cast<int>(v);
    }
    std::fclose(f);
    return 1;
}

int write_high_score()
{
    // An existing file that may not be written is left alone.
    if (access(PREFS_FILE, W_OK) != 0 && errno != ENOENT)
        return 0;

    // Write a new file beside the old one and rename it over it, so that a
    // crash or a full disk never leaves a short or empty kiv.prf.
    char temp[64];
    std::snprintf(temp, sizeof temp, "%s.%ld.tmp", PREFS_FILE, static_cast<long>(getpid()));
    int fd = open(temp, O_WRONLY | O_CREAT | O_TRUNC, 0666);
    if (fd < 0)
        return 0;
    unsigned v = static_cast<unsigned>(high_score);
    unsigned char b[4] = {static_cast<unsigned char>(v >> 24), static_cast<unsigned char>(v >> 16),
                          static_cast<unsigned char>(v >> 8), static_cast<unsigned char>(v)};
    bool ok = write(fd, b, 4) == 4;
    ok = fsync(fd) == 0 && ok;
    ok = close(fd) == 0 && ok;
    if (!ok || std::rename(temp, PREFS_FILE) != 0) {
        unlink(temp);
        return 0;
    }
    return 1;
}

void quit_game()
{
    if (playing_replay) {
        quit_requested = 1;
        return;
    }
    if (!sound_off)
        shutdown_sound();
    show_cursor();
    close_video();
    write_high_score();
    exit_program(1);   // every exit of the game has status 1, a normal quit included
}

int run_game(int argc, char** argv)
{
    if (!parse_options(argc, argv))
        std::exit(1);
    if (!windowed)
        mouse_speed = mouse_speed * 3.0f;
    init_video(windowed);
    if (!sound_off)
        init_sound();
    // Without a high-score file the default random sequence is used: the
    // C library's, as if seeded with 1.
    unsigned seed = 1;
    if (read_high_score()) {
        seed = read_clock();
        std::srand(seed);
    }
    start_run_recording(seed);
    go_to_title();
    main_loop();
}

} // namespace kiv
