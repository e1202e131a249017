// Options and the high-score file.
#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/startup.h"

namespace {

struct Options {
    int ok;
    int sound_off, windowed;
    float speed;   // after the full-screen tripling
    std::string err;
};

Options parse(std::vector<std::string> args)
{
    kiv::sound_off = 0;
    kiv::windowed = 0;
    kiv::mouse_speed = 1.0f;
    args.insert(args.begin(), "./kiv");
    std::vector<char*> argv;
    for (std::string& a : args)
        argv.push_back(a.data());
    argv.push_back(nullptr);
    ::testing::internal::CaptureStderr();
    int ok = kiv::parse_options(static_cast<int>(args.size()), argv.data());
    std::string err = ::testing::internal::GetCapturedStderr();
    float speed = kiv::windowed ? kiv::mouse_speed : kiv::mouse_speed * 3.0f;
    return Options{ok, kiv::sound_off, kiv::windowed, speed, err};
}

TEST(Options, SpeedsAndFlags)
{
    struct Case {
        std::vector<std::string> args;
        int sound_off, windowed;
        float speed;
    } cases[] = {
        {{}, 0, 0, 3.0f},
        {{"-window"}, 0, 1, 1.0f},
        {{"-nosound"}, 1, 0, 3.0f},
        {{"-mousespeed", "15", "-window"}, 0, 1, 1.5f},
        {{"-mousespeed", "15"}, 0, 0, 4.5f},
        {{"-window", "-mousespeed", "99"}, 0, 1, 9.9f},
        {{"-mousespeed", "99"}, 0, 0, 29.7f},
        {{"-mousespeed", "1", "-window"}, 0, 1, 0.1f},
        {{"-mousespeed", "0"}, 0, 0, 3.0f},
        {{"-mousespeed", "100"}, 0, 0, 3.0f},
        {{"-mousespeed", "-3"}, 0, 0, 3.0f},
        {{"-mousespeed", "fast"}, 0, 0, 3.0f},
        {{"-mousespeed", "20x", "-window"}, 0, 1, 2.0f},
        // The word after -mousespeed is always the number: -window is eaten.
        {{"-mousespeed", "-window"}, 0, 0, 3.0f},
        // Repeats are fine; the last speed wins.
        {{"-window", "-nosound", "-window", "-mousespeed", "30", "-mousespeed", "50"}, 1, 1, 5.0f},
    };
    for (const Case& c : cases) {
        Options o = parse(c.args);
        std::string what = ::testing::PrintToString(c.args);
        EXPECT_EQ(o.ok, 1) << what;
        EXPECT_EQ(o.err, "") << what;
        EXPECT_EQ(o.sound_off, c.sound_off) << what;
        EXPECT_EQ(o.windowed, c.windowed) << what;
        EXPECT_FLOAT_EQ(o.speed, c.speed) << what;
    }
}

TEST(Options, AnythingElseGivesTheUsageLine)
{
    const std::string usage = "Usage: ./kiv [-nosound] [-mousespeed num] [-window]\n";
    for (const std::vector<std::string>& args : std::vector<std::vector<std::string>>{
             {"-mousespeed"}, {"-Window"}, {"kiv.prf"}, {""}, {"-window", "-nosound", "-x"},
             {"-window", "-mousespeed"}, {"--window"}, {"-nosound "}}) {
        Options o = parse(args);
        EXPECT_EQ(o.ok, 0) << ::testing::PrintToString(args);
        EXPECT_EQ(o.err, usage) << ::testing::PrintToString(args);
    }
    // Arguments after the bad one are not looked at.
    Options o = parse({"bad", "-window"});
    EXPECT_EQ(o.windowed, 0);
}

// Each test of the file works in a directory of its own.
struct PrefsFile : ::testing::Test {
    std::string old_dir;
    std::string dir;
    void SetUp() override
    {
        char buf[4096];
        old_dir = getcwd(buf, sizeof buf);
        char templ[] = "/tmp/kiv-prefs-XXXXXX";
        dir = mkdtemp(templ);
        ASSERT_EQ(chdir(dir.c_str()), 0);
    }
    void TearDown() override
    {
        ASSERT_EQ(chdir(old_dir.c_str()), 0);
        std::system(("rm -rf " + dir).c_str());
    }
    static void write_bytes(const std::string& bytes)
    {
        std::ofstream(kiv::PREFS_FILE, std::ios::binary) << bytes;
    }
    static std::string read_bytes()
    {
        std::ifstream f(kiv::PREFS_FILE, std::ios::binary);
        return std::string(std::istreambuf_iterator<char>(f), {});
    }
    static std::vector<std::string> entries()
    {
        std::vector<std::string> names;
        FILE* p = popen("ls -A", "r");
        char line[256];
        while (fgets(line, sizeof line, p))
            names.push_back(std::string(line, strcspn(line, "\n")));
        pclose(p);
        return names;
    }
};

TEST_F(PrefsFile, MissingFileGivesAMillionAndNoSeed)
{
    kiv::high_score = 5;
    EXPECT_EQ(kiv::read_high_score(), 0);
    EXPECT_EQ(kiv::high_score, 1000000);
    EXPECT_EQ(kiv::write_high_score(), 1);
    EXPECT_EQ(read_bytes(), std::string("\x00\x0f\x42\x40", 4));
}

TEST_F(PrefsFile, BigEndianBothWays)
{
    write_bytes(std::string("\x12\x34\x56\x78", 4));
    EXPECT_EQ(kiv::read_high_score(), 1);
    EXPECT_EQ(kiv::high_score, 0x12345678);

    write_bytes(std::string("\xff\xff\xff\xfe", 4));
    kiv::read_high_score();
    EXPECT_EQ(kiv::high_score, -2);

    kiv::high_score = 987654321;
    EXPECT_EQ(kiv::write_high_score(), 1);
    EXPECT_EQ(read_bytes(), std::string("\x3a\xde\x68\xb1", 4));
    kiv::high_score = 0;
    kiv::read_high_score();
    EXPECT_EQ(kiv::high_score, 987654321);
}

TEST_F(PrefsFile, ShortAndLongFiles)
{
    for (int n = 0; n < 4; n++) {
        write_bytes(std::string("\x00\x00\x10", n));
        kiv::high_score = 7;
        EXPECT_EQ(kiv::read_high_score(), 1) << n << " bytes";
        EXPECT_EQ(kiv::high_score, -1) << n << " bytes";
    }
    write_bytes(std::string("\x00\x00\x01\x00\xff\xff\xff\xff", 8));
    kiv::read_high_score();
    EXPECT_EQ(kiv::high_score, 256);
    kiv::write_high_score();
    EXPECT_EQ(read_bytes(), std::string("\x00\x00\x01\x00", 4));
}

TEST_F(PrefsFile, ReplacesTheFileWithoutLeavingTemporaries)
{
    write_bytes("old!");
    kiv::high_score = 42;
    EXPECT_EQ(kiv::write_high_score(), 1);
    EXPECT_EQ(read_bytes(), std::string("\x00\x00\x00\x2a", 4));
    EXPECT_EQ(entries(), std::vector<std::string>{"kiv.prf"});
}

TEST_F(PrefsFile, NothingIsWrittenWhereNothingCanBe)
{
    // A directory in the file's place stays as it is.
    ASSERT_EQ(mkdir(kiv::PREFS_FILE, 0755), 0);
    kiv::read_high_score();
    EXPECT_EQ(kiv::high_score, -1);
    EXPECT_EQ(kiv::write_high_score(), 0);
    struct stat st;
    ASSERT_EQ(stat(kiv::PREFS_FILE, &st), 0);
    EXPECT_TRUE(S_ISDIR(st.st_mode));
    EXPECT_EQ(entries(), std::vector<std::string>{"kiv.prf"});

    // A working directory that no longer exists: no file can be created.
    ASSERT_EQ(mkdir("gone", 0755), 0);
    ASSERT_EQ(chdir("gone"), 0);
    ASSERT_EQ(rmdir((dir + "/gone").c_str()), 0);
    EXPECT_EQ(kiv::write_high_score(), 0);
}

TEST_F(PrefsFile, ReadOnlyFileIsLeftAlone)
{
    if (geteuid() == 0)
        GTEST_SKIP() << "root may write any file";
    write_bytes(std::string("\x00\x00\x00\x05", 4));
    chmod(kiv::PREFS_FILE, 0444);
    kiv::high_score = 99;
    EXPECT_EQ(kiv::write_high_score(), 0);
    EXPECT_EQ(read_bytes(), std::string("\x00\x00\x00\x05", 4));
}

} // namespace
