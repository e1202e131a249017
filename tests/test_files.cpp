// The files the game reads and writes: the options, kiv.prf (also where it
// may not be read or written), the pictures when one is missing or broken,
// and the data files, which the generators must remake exactly.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/startup.h"
#include "media/catalogue.h"

using namespace kiv;

namespace {

std::string read_file(const std::string& path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), {});
}

void write_file(const std::string& path, const std::string& bytes)
{
    std::ofstream(path, std::ios::binary) << bytes;
}

// Each test works in a scratch directory of its own, open to everybody so
// that an ordinary user can be tried in it too. It is removed also when the
// process exits in the middle of a test, as a death test's child does.
std::string scratch;
void remove_scratch()
{
    if (!scratch.empty())
        std::system(("chmod -R u+rwx '" + scratch + "'; rm -rf '" + scratch + "'").c_str());
    scratch.clear();
}

struct InScratch : ::testing::Test {
    std::string old_dir, dir;
    void SetUp() override
    {
        static int registered = std::atexit(remove_scratch);
        (void)registered;
        char buf[4096];
        old_dir = getcwd(buf, sizeof buf);
        char templ[] = "/tmp/kiv-files-XXXXXX";
        ASSERT_NE(mkdtemp(templ), nullptr);
        scratch = dir = templ;
        chmod(dir.c_str(), 0777);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
        remove_scratch();
    }
    // Runs fn as an ordinary user (nobody, when the tests run as root) in a
    // child; returns what it returns.
    int as_ordinary_user(int (*fn)())
    {
        pid_t pid = fork();
        if (pid == 0) {
            if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0))
                _exit(100);
            _exit(fn());
        }
        int status = 0;
        waitpid(pid, &status, 0);
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
};

int parse(std::vector<std::string> args, std::string* err = nullptr)
{
    sound_off = windowed = 0;
    mouse_speed = 1.0f;
    args.insert(args.begin(), "./kiv");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::testing::internal::CaptureStderr();
    int ok = parse_options(static_cast<int>(args.size()), argv.data());
    std::string e = ::testing::internal::GetCapturedStderr();
    if (err)
        *err = e;
    return ok;
}

} // namespace

TEST(Files, OptionsSetSoundWindowAndSpeed)
{
    struct Row {
        std::vector<std::string> args;
        int sound_off, windowed;
        float speed;   // before the full-screen tripling
    } rows[] = {
        {{}, 0, 0, 1.0f},
        {{"-nosound", "-window"}, 1, 1, 1.0f},
        {{"-mousespeed", "15", "-window"}, 0, 1, 1.5f},
        {{"-mousespeed", "99"}, 0, 0, 9.9f},
        {{"-mousespeed", "1"}, 0, 0, 0.1f},
        {{"-mousespeed", "0"}, 0, 0, 1.0f},
        {{"-mousespeed", "100"}, 0, 0, 1.0f},
        {{"-mousespeed", "-3"}, 0, 0, 1.0f},
        {{"-mousespeed", "fast"}, 0, 0, 1.0f},
        {{"-mousespeed", "20x"}, 0, 0, 2.0f},      // atoi stops at the x
        {{"-mousespeed", "-window"}, 0, 0, 1.0f},  // the word after it is always the speed
        {{"-window", "-mousespeed", "30", "-mousespeed", "50", "-window"}, 0, 1, 5.0f},
    };
    for (const Row& r : rows) {
        std::string err;
        EXPECT_EQ(parse(r.args, &err), 1) << ::testing::PrintToString(r.args);
        EXPECT_EQ(err, "");
        EXPECT_EQ(sound_off, r.sound_off);
        EXPECT_EQ(windowed, r.windowed);
        EXPECT_FLOAT_EQ(mouse_speed, r.speed) << ::testing::PrintToString(r.args);
    }
    for (std::vector<std::string> args : std::vector<std::vector<std::string>>{
             {"-mousespeed"}, {"-Window"}, {"kiv.prf"}, {""}, {"-window", "-mousespeed"}, {"x", "-window"}}) {
        std::string err;
        EXPECT_EQ(parse(args, &err), 0) << ::testing::PrintToString(args);
        EXPECT_EQ(err, "Usage: ./kiv [-nosound] [-mousespeed num] [-window]\n");
    }
    EXPECT_EQ(windowed, 0) << "nothing after a bad argument is looked at";
}

TEST_F(InScratch, HighScoreFileIsFourBigEndianBytes)
{
    struct Row {
        const char* bytes;   // nullptr: no file
        int length, opened, high, written;
        const char* after;
    } rows[] = {
        {nullptr, 0, 0, 1000000, 1, "\x00\x0f\x42\x40"},
        {"\x12\x34\x56\x78", 4, 1, 0x12345678, 1, "\x12\x34\x56\x78"},
        {"\xff\xff\xff\xfe", 4, 1, -2, 1, "\xff\xff\xff\xfe"},
        {"", 0, 1, -1, 1, "\xff\xff\xff\xff"},
        {"\x00\x00\x10", 3, 1, -1, 1, "\xff\xff\xff\xff"},
        {"\x00\x00\x01\x00\xff\xff\xff\xff", 8, 1, 256, 1, "\x00\x00\x01\x00"},
    };
    for (const Row& r : rows) {
        std::remove(PREFS_FILE);
        if (r.bytes)
            write_file(PREFS_FILE, std::string(r.bytes, r.length));
        high_score = 5;
        EXPECT_EQ(read_high_score(), r.opened);
        EXPECT_EQ(high_score, r.high);
        EXPECT_EQ(write_high_score(), r.written);
        EXPECT_EQ(read_file(PREFS_FILE), std::string(r.after, 4));
    }
    EXPECT_EQ(std::system("test \"$(ls -A)\" = kiv.prf"), 0) << "a temporary file was left behind";
    // A directory in the file's place stays as it is.
    std::remove(PREFS_FILE);
    ASSERT_EQ(mkdir(PREFS_FILE, 0755), 0);
    read_high_score();
    EXPECT_EQ(write_high_score(), 0);
    EXPECT_EQ(std::system("test -d kiv.prf && test \"$(ls -A)\" = kiv.prf"), 0);
}

TEST_F(InScratch, UnreadableOrUnwritableHighScoreIsLeftAlone)
{
    write_file(PREFS_FILE, std::string("\x00\x00\x10\x92", 4));
    chmod(PREFS_FILE, 0);
    // Unreadable: the default score, and the file is not replaced.
    EXPECT_EQ(as_ordinary_user([] {
        high_score = 77;
        return read_high_score() == 0 && high_score == 1000000 && write_high_score() == 0 ? 0 : 1;
    }), 0);
    chmod(PREFS_FILE, 0644);
    // In a directory that may not be written: read, but nothing written.
    chmod(dir.c_str(), 0555);
    EXPECT_EQ(as_ordinary_user([] {
        return read_high_score() == 1 && high_score == 4242 && write_high_score() == 0 ? 0 : 1;
    }), 0);
    chmod(dir.c_str(), 0777);
    EXPECT_EQ(read_file(PREFS_FILE), std::string("\x00\x00\x10\x92", 4));
    EXPECT_EQ(std::system("test \"$(ls -A)\" = kiv.prf"), 0);
}

TEST_F(InScratch, AMissingOrBrokenPictureEndsTheStart)
{
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    std::string images = dir + "/images";
    ASSERT_EQ(std::system(("cp -r '" + old_dir + "/images' '" + images + "'").c_str()), 0);
    std::rename((images + "/cursor.png").c_str(), (dir + "/cursor.png").c_str());
    EXPECT_EXIT(init_video(1), ::testing::ExitedWithCode(1), "(^|\n)Unable to load: images/cursor.png\n$");
    std::rename((images + "/ball_g10.png").c_str(), (dir + "/ball_g10.png").c_str());
    EXPECT_EXIT(init_video(1), ::testing::ExitedWithCode(1), "(^|\n)Unable to load: images/ball_g10.png\n$");
    std::rename((dir + "/ball_g10.png").c_str(), (images + "/ball_g10.png").c_str());
    std::rename((dir + "/cursor.png").c_str(), (images + "/cursor.png").c_str());
    write_file(images + "/tree.png", "not a picture\n");
    EXPECT_EXIT(init_video(1), ::testing::ExitedWithCode(1), "(^|\n)Unable to load: images/tree.png\n$");
    EXPECT_EXIT((setenv("SDL_VIDEODRIVER", "no-such-driver", 1), init_video(1)), ::testing::ExitedWithCode(1),
                "(^|\n)Unable to initialize SDL: .*\n$");
    // Without a display SDL would quietly draw offscreen, and the game would
    // run for ever without a window.
    EXPECT_EXIT((unsetenv("SDL_VIDEODRIVER"), unsetenv("DISPLAY"), unsetenv("WAYLAND_DISPLAY"), init_video(1)),
                ::testing::ExitedWithCode(1), "(^|\n)Unable to initialize SDL: no display to open a window on\n$");
}

TEST_F(InScratch, GeneratorsRemakeTheCommittedPicturesAndSounds)
{
    ASSERT_EQ(std::system("'" KIV_BINARY_DIR "/tools/make_images' . && '" KIV_BINARY_DIR "/tools/make_sounds' . && '"
                          KIV_BINARY_DIR "/tools/make_images' --web-icons icons"), 0);
    for (int k = 0; k < IMAGE_COUNT; k++) {
        std::string made = read_file(image_files[k]);
        EXPECT_FALSE(made.empty()) << image_files[k];
        EXPECT_TRUE(made == read_file(old_dir + "/images/" + image_files[k])) << image_files[k] << " differs";
    }
    for (const char* f : {"gen.wav", "score.wav", "miss.wav", "kiv1.ogg", "kiv2.ogg"}) {
        std::string made = read_file(f);
        EXPECT_GT(made.size(), 1000u) << f;
        EXPECT_TRUE(made == read_file(old_dir + "/sounds/" + f)) << f << " differs";
    }
    for (const char* f : {"kiv-192.png", "kiv-512.png", "kiv-maskable-192.png", "kiv-maskable-512.png"}) {
        std::string made = read_file(std::string("icons/") + f);
        EXPECT_GT(made.size(), 1000u) << f;
        EXPECT_TRUE(made == read_file(old_dir + "/web/icons/" + f)) << f << " differs";
    }
}
