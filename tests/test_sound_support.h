// Helpers of the sound tests: running a piece of the game in a child process
// (its own working directory, audio driver and stderr), making a sounds/
// folder with the generator, and reading what SDL's disk audio driver wrote.
#pragma once

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <utility>
#include <vector>

#include <sys/wait.h>
#include <unistd.h>

namespace kiv_test {

struct ChildResult {
    int exit_code = -1;   // -1 when the child did not exit normally
    std::string out;      // what the child printed on stdout
    std::string err;      // and on stderr
};

inline std::string read_file(const std::string& path) {
    std::ifstream f(path, std::ios::binary);
    return std::string((std::istreambuf_iterator<char>(f)), std::istreambuf_iterator<char>());
}

inline std::string make_temp_dir() {
    char dir[] = "/tmp/kiv_sound_XXXXXX";
    if (!mkdtemp(dir)) return "";
    return dir;
}

inline void remove_tree(const std::string& dir) {
    if (dir.size() > 5) std::system(("rm -rf '" + dir + "'").c_str());
}

// Runs body() in a forked child with the given environment and working
// directory; its return value is the exit code.
inline ChildResult run_child(const std::function<int()>& body, const std::string& cwd,
                             const std::vector<std::pair<std::string, std::string>>& env) {
    ChildResult r;
    std::string dir = make_temp_dir();
    std::string out_path = dir + "/out", err_path = dir + "/err";
    std::fflush(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        if (!std::freopen(out_path.c_str(), "w", stdout) || !std::freopen(err_path.c_str(), "w", stderr)) _exit(100);
        for (const auto& e : env) setenv(e.first.c_str(), e.second.c_str(), 1);
        if (!cwd.empty() && chdir(cwd.c_str()) != 0) _exit(101);
        int code = body();
        std::fflush(nullptr);
        _exit(code);
    }
    int status = 0;
    waitpid(pid, &status, 0);
    if (WIFEXITED(status)) r.exit_code = WEXITSTATUS(status);
    r.out = read_file(out_path);
    r.err = read_file(err_path);
    remove_tree(dir);
    return r;
}

// Builds <dir>/sounds with the generator; short test tracks when asked.
inline bool generate_sounds(const std::string& dir, bool test_tracks) {
    std::string cmd = "mkdir -p '" + dir + "/sounds' && '" KIV_BINARY_DIR "/tools/make_sounds' '" + dir +
                      "/sounds'" + (test_tracks ? " --test-tracks" : "");
    return std::system(cmd.c_str()) == 0;
}

// The disk driver's recording. The game's 16 kHz mono output reaches the
// driver converted to its device format, 44.1 kHz stereo 16-bit here.
constexpr int REC_RATE = 44100;

struct Recording {
    std::vector<int> left;
    bool channels_equal = true;
    int clipped = 0;   // samples at full scale

    double ms(size_t frame) const { return 1000.0 * frame / REC_RATE; }
    size_t frame(double ms) const { return (size_t)(ms * REC_RATE / 1000.0); }
    // RMS over [from, from + length) frames.
    double rms(size_t from, size_t length) const {
        double s = 0;
        size_t n = 0;
        for (size_t i = from; i < from + length && i < left.size(); i++, n++) s += (double)left[i] * left[i];
        return n ? std::sqrt(s / n) : 0.0;
    }
    // Frequency by zero crossings over [from, from + length).
    double pitch(size_t from, size_t length) const {
        int crossings = 0;
        size_t end = std::min(left.size(), from + length);
        for (size_t i = from + 1; i < end; i++) crossings += (left[i - 1] < 0) != (left[i] < 0);
        return end > from ? crossings / 2.0 * REC_RATE / (double)(end - from) : 0.0;
    }
    // Stretches of sound, split where at least `gap_ms` of silence lies between.
    std::vector<std::pair<size_t, size_t>> sounds(double gap_ms = 50.0, int level = 40) const {
        std::vector<std::pair<size_t, size_t>> out;
        size_t gap = frame(gap_ms), last = 0;
        bool open = false;
        for (size_t i = 0; i < left.size(); i++) {
            if (std::abs(left[i]) <= level) continue;
            if (open && i - last <= gap) {
                last = i;
                continue;
            }
            if (open) out.back().second = last + 1;
            out.push_back({i, i + 1});
            open = true;
            last = i;
        }
        if (open) out.back().second = last + 1;
        return out;
    }
    // First frame at or after `from` whose magnitude exceeds `level`.
    size_t first_sound(size_t from, int level = 40) const {
        for (size_t i = from; i < left.size(); i++)
            if (std::abs(left[i]) > level) return i;
        return left.size();
    }
};

inline Recording read_recording(const std::string& path) {
    Recording r;
    std::string bytes = read_file(path);
    size_t frames = bytes.size() / 4;
    r.left.resize(frames);
    for (size_t i = 0; i < frames; i++) {
        auto sample = [&](size_t at) {
            return (int)(int16_t)((unsigned char)bytes[at] | ((unsigned char)bytes[at + 1] << 8));
        };
        int l = sample(4 * i), rr = sample(4 * i + 2);
        r.left[i] = l;
        if (l != rr) r.channels_equal = false;
        if (l >= 32767 || l <= -32768) r.clipped++;
    }
    return r;
}

} // namespace kiv_test
