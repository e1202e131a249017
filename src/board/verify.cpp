#include "board/verify.h"

#include <fcntl.h>
#include <netinet/in.h>
#include <poll.h>
#include <seccomp.h>
#include <signal.h>
#include <sodium.h>
#include <sys/mman.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <nlohmann/json.hpp>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "media/screen.h"
#include "replay/as_played.h"
#include "replay/file.h"
#include "replay/run.h"

namespace kiv::board {

using json = nlohmann::json;

bool check_game_header(const ReplayHeader& h, std::uint32_t seed, double max_steps_per_frame, std::string* error)
{
    char text[200];
    if (h.kind != REPLAY_GAME)
        *error = "it is not a game from its Start (it is a recorded session)";
    else if (h.end != END_OVER)
        *error = "the game was left before its end; only games played to game over are ranked";
    else if (h.seed != seed)
        *error = "the game did not start from its ticket's seed";
    else if (h.frames <= 0 || static_cast<double>(h.steps) > max_steps_per_frame * static_cast<double>(h.frames)) {
        std::snprintf(text, sizeof text, "the game ran %.2f steps per frame; the board takes at most %.2f",
                      h.frames > 0 ? static_cast<double>(h.steps) / static_cast<double>(h.frames) : 0.0,
                      max_steps_per_frame);
        *error = text;
    } else {
        return true;
    }
    return false;
}

bool check_frames(const ReplayFrame* frames, long count, double max_in_second, std::string* error)
{
    constexpr long SECOND = 1000 / STEP_MS;
    long step = 0, second = 0, in_second = 0;
    for (long f = 0; f <= count; f++) {
        // A second ends where the next frame begins past it, or at the end
        // when it is whole.
        const bool end = f == count;
        if (end ? step < (second + 1) * SECOND : step / SECOND == second) {
            if (end)
                break;
            in_second++;
            step += frames[f].steps;
            continue;
        }
        if (static_cast<double>(in_second) * max_in_second < static_cast<double>(SECOND)) {
            char text[200];
            std::snprintf(text, sizeof text,
                          "in its second %ld of play the game ran %.2f steps per frame; the board takes at most "
                          "%.2f in any second",
                          second + 1, in_second ? static_cast<double>(SECOND) / static_cast<double>(in_second) : 0.0,
                          max_in_second);
            *error = text;
            return false;
        }
        second++;
        in_second = 0;
        f--;  // the frame again, in the next second
    }
    return true;
}

namespace {

std::string generic_hash(const std::string& bytes)
{
    unsigned char key[crypto_generichash_BYTES];
    crypto_generichash(key, sizeof key, reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), nullptr,
                       0);
    return std::string(reinterpret_cast<const char*>(key), sizeof key);
}

void put_le(std::string* out, std::uint32_t v, int bytes)
{
    for (int i = 0; i < bytes; i++)
        out->push_back(static_cast<char>(v >> (8 * i)));
}

} // namespace

std::string played_key(std::uint32_t seed)
{
    std::string game;
    put_le(&game, seed, 4);
    put_le(&game, static_cast<std::uint32_t>(replay.frames), 4);
    for (long f = 0; f < replay.frames; f++)
        game.push_back(static_cast<char>(replay.frame[f].steps));
    mouse_speed = replay.header.mouse_speed;
    int x = replay.header.pointer_x, y = replay.header.pointer_y;
    for (long s = 0; s < replay.steps; s++) {
        x = pointer_moved(x, replay.input[s].dx, SCREEN_W);
        y = pointer_moved(y, replay.input[s].dy, SCREEN_H);
        put_le(&game, static_cast<std::uint32_t>(x), 2);
        put_le(&game, static_cast<std::uint32_t>(y), 2);
    }
    return generic_hash(game);
}

std::string replay_inputs_key(const std::string& bytes)
{
    ReplayError error;
    if (!read_replay(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size(), &error))
        return "";
    std::string key;
    put_le(&key, replay.header.seed, 4);
    key.append(reinterpret_cast<const char*>(replay_body), static_cast<size_t>(replay.header.body_size));
    return generic_hash(key);
}

Verdict replay_verdict(const unsigned char* data, size_t size, std::uint32_t seed, double max_steps_per_frame,
                       double max_in_second)
{
    static unsigned char out[MAX_REPLAY_FILE];
    Verdict v;
    v.kind = Verdict::refused;
    ReplayError error;
    ReplayResult result;
    if (!read_replay(data, size, &error)) {
        v.error = error.text;
    } else if (!check_game_header(replay.header, seed, max_steps_per_frame, &v.error) ||
               !check_frames(replay.frame, replay.frames, max_in_second, &v.error)) {
    } else if (!verify_replay(&result, &error, false, true)) {
        v.error = error.text;
    } else if (!make_as_played()) {
        v.error = "the game's end cannot be found in its last frame";
    } else {
        const long written = write_replay(out, MAX_REPLAY_FILE);
        if (written < 0) {
            v.error = "the game as played cannot be written";
            return v;
        }
        v.kind = Verdict::verified;
        v.score = result.score;
        v.steps = replay.steps;
        v.frames = replay.frames;
        v.seconds = static_cast<double>(replay.steps) * STEP_MS / 1000.0;
        v.inputs = played_key(seed);
        v.replay.assign(reinterpret_cast<const char*>(out), static_cast<size_t>(written));
    }
    return v;
}

namespace {

// What a worker does first, before it reads a byte of the replay: no new
// privileges, and a seccomp filter under which it may only read descriptor
// 0, write descriptor 1, manage its memory and exit. Any other system call
// (opening a file, a socket, running a program) kills it with SIGSYS. False,
// with why, when the system cannot do it.
bool enter_worker_sandbox(std::string* why)
{
    // No new privileges: nothing this process runs gains any.
    if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0) {
        *why = std::string("no PR_SET_NO_NEW_PRIVS: ") + std::strerror(errno);
        return false;
    }
    scmp_filter_ctx filter = seccomp_init(SCMP_ACT_KILL_PROCESS);
    if (!filter) {
        *why = "libseccomp cannot make a filter";
        return false;
    }
    // The replay comes in on descriptor 0 and the verdict goes out on 1;
    // the rest is the C library's memory and the way out. No call that
    // opens, connects, runs a program or makes code executable.
    const int allowed[] = {SCMP_SYS(brk),          SCMP_SYS(munmap),   SCMP_SYS(mremap),
                           SCMP_SYS(madvise),      SCMP_SYS(exit),     SCMP_SYS(exit_group),
                           SCMP_SYS(rt_sigreturn), SCMP_SYS(clock_gettime)};
    int rc = 0;
    for (int call : allowed)
        rc = rc ? rc : seccomp_rule_add(filter, SCMP_ACT_ALLOW, call, 0);
    rc = rc ? rc : seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(read), 1, SCMP_A0(SCMP_CMP_EQ, 0));
    rc = rc ? rc : seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(write), 1, SCMP_A0(SCMP_CMP_EQ, 1));
    rc = rc ? rc
            : seccomp_rule_add(filter, SCMP_ACT_ALLOW, SCMP_SYS(mmap), 2,
                               SCMP_A2(SCMP_CMP_MASKED_EQ, PROT_EXEC, 0),
                               SCMP_A3(SCMP_CMP_MASKED_EQ, MAP_ANONYMOUS, MAP_ANONYMOUS));
    rc = rc ? rc : seccomp_load(filter);
    seccomp_release(filter);
    if (rc != 0) {
        *why = std::string("the system call filter cannot be loaded: ") + std::strerror(-rc);
        return false;
    }
    return true;
}

// A replay's verdict, as the worker's line of JSON.
std::string worker_verdict(const unsigned char* data, size_t size, std::uint32_t seed, double max_steps_per_frame,
                           double max_in_second)
{
    const Verdict v = replay_verdict(data, size, seed, max_steps_per_frame, max_in_second);
    json out;
    if (v.kind != Verdict::verified) {
        out["error"] = v.error;
    } else {
        std::string hex(2 * v.inputs.size() + 1, '\0');
        sodium_bin2hex(hex.data(), hex.size(), reinterpret_cast<const unsigned char*>(v.inputs.data()),
                       v.inputs.size());
        hex.pop_back();
        std::string b64(sodium_base64_ENCODED_LEN(v.replay.size(), sodium_base64_VARIANT_ORIGINAL), '\0');
        sodium_bin2base64(b64.data(), b64.size(), reinterpret_cast<const unsigned char*>(v.replay.data()),
                          v.replay.size(), sodium_base64_VARIANT_ORIGINAL);
        b64.pop_back();
        out = json{{"score", v.score}, {"steps", v.steps},  {"frames", v.frames},
                   {"seconds", v.seconds}, {"inputs", hex}, {"replay", b64}};
    }
    return out.dump(-1, ' ', false, json::error_handler_t::replace) + "\n";
}

size_t read_all(int fd, unsigned char* data, size_t capacity)
{
    size_t size = 0;
    while (size < capacity) {
        ssize_t n = read(fd, data + size, capacity - size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            break;
        size += static_cast<size_t>(n);
    }
    return size;
}

bool write_all(int fd, const std::string& text)
{
    for (size_t done = 0; done < text.size();) {
        ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        done += static_cast<size_t>(n);
    }
    return true;
}

// What a worker was handed: its environment and its open descriptors.
std::string handed()
{
    int variables = 0;
    for (char** e = environ; e && *e; e++)
        variables++;
    std::string text = "environment: " + std::to_string(variables) + " variables; descriptors:";
    for (int fd = 0; fd < 1024; fd++) {
        char target[256] = "?";
        if (fcntl(fd, F_GETFD) < 0)
            continue;
        ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        target[n > 0 ? n : 1] = 0;
        text += (fd ? ", " : " ") + std::to_string(fd) + " " + (std::strncmp(target, "pipe:", 5) ? target : "pipe");
    }
    return text;
}

// A trial's verdict, for what a worker shut in should never get to say.
int trial(const std::string& what, const std::string& before)
{
    const std::string arg = what.substr(what.find(':') + 1);
    std::string done;
    if (what.rfind("open:", 0) == 0 && open(arg.c_str(), O_RDWR | O_CLOEXEC) >= 0) {
        done = "opened " + arg;
    } else if (what.rfind("connect:", 0) == 0) {
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(std::atoi(arg.c_str())));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (connect(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0), reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
            done = "connected to port " + arg;
    } else if (what == "look") {
        done = before;
    }
    const json line{{"error", "the worker's trial: " + (done.empty() ? "nothing done" : done)}};
    return write_all(1, line.dump() + "\n") ? 0 : 3;
}

} // namespace

int verify_worker_main(std::uint32_t seed, double max_steps_per_frame, double max_in_second,
                       const std::string& trial_of)
{
    const std::string before = trial_of.empty() ? "" : handed();
    std::string why;
    // libsodium chooses its code for this processor once, before the filter.
    if (sodium_init() < 0) {
        write_all(1, json{{"sandbox", "libsodium cannot start"}}.dump() + "\n");
        return NO_SANDBOX;
    }
    if (!enter_worker_sandbox(&why)) {
        write_all(1, json{{"sandbox", why}}.dump() + "\n");
        return NO_SANDBOX;
    }
    if (!trial_of.empty())
        _exit(trial(trial_of, before));
    static unsigned char data[MAX_REPLAY_FILE + 1];
    size_t size = read_all(0, data, sizeof data);
    // _exit: no exit handlers, which may want more than the filter allows.
    _exit(write_all(1, worker_verdict(data, size, seed, max_steps_per_frame, max_in_second)) ? 0 : 3);
}

namespace {

// The longest line a worker may answer: the game as played in base64, and
// a little more.
constexpr size_t MAX_LINE = (MAX_REPLAY_FILE + 2) / 3 * 4 + 4096;

// Both ends of a pipe, closed when it goes.
struct Pipe {
    int fd[2] = {-1, -1};
    Pipe()
    {
        if (pipe2(fd, O_CLOEXEC) != 0)
            fd[0] = fd[1] = -1;
    }
    ~Pipe()
    {
        close_end(0);
        close_end(1);
    }
    Pipe(const Pipe&) = delete;
    Pipe& operator=(const Pipe&) = delete;
    void close_end(int i)
    {
        if (fd[i] >= 0)
            close(fd[i]);
        fd[i] = -1;
    }
};

Verdict failed(std::string why)
{
    Verdict v;
    v.kind = Verdict::failed;
    v.error = std::move(why);
    return v;
}

} // namespace

Verdict run_worker(const VerifySettings& settings, const std::string& replay_bytes, std::uint32_t seed,
                   const std::atomic<bool>* stop)
{
    Pipe in, out;
    if (in.fd[0] < 0 || out.fd[0] < 0)
        return failed("no pipe for a verifier");
    // Everything the child needs is made before fork: after it, in a
    // threaded program, the child calls only async-signal-safe functions.
    std::string seed_arg = std::to_string(seed);
    char spf_arg[32], second_arg[32];
    std::snprintf(spf_arg, sizeof spf_arg, "%.6f", settings.max_steps_per_frame);
    std::snprintf(second_arg, sizeof second_arg, "%.6f", settings.max_steps_per_frame_in_second);
    const char* argv[] = {"kiv-board", "verify-worker", seed_arg.c_str(), spf_arg, second_arg,
                          settings.trial.empty() ? nullptr : settings.trial.c_str(), nullptr};
    const char* no_environment[] = {nullptr};
    rlimit cpu{static_cast<rlim_t>(settings.cpu_seconds), static_cast<rlim_t>(settings.cpu_seconds + 1)};
    rlim_t bytes = static_cast<rlim_t>(settings.memory_mb) * 1024 * 1024;
    rlimit memory{bytes, bytes};
    pid_t parent = getpid();

    pid_t pid = fork();
    if (pid < 0)
        return failed("cannot start a verifier");
    if (pid == 0) {
        // The worker dies with the server, gains no privileges, and has
        // nothing of the server's but its two pipes: no environment (the
        // database's password may be there), no other descriptor, its
        // errors into /dev/null. It shuts itself in before it reads.
        prctl(PR_SET_PDEATHSIG, SIGKILL);
        if (getppid() != parent)
            _exit(126);
        if (prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) != 0)
            _exit(126);
        setrlimit(RLIMIT_CPU, &cpu);
        setrlimit(RLIMIT_AS, &memory);
        signal(SIGPIPE, SIG_DFL);
        sigset_t none;
        sigemptyset(&none);
        sigprocmask(SIG_SETMASK, &none, nullptr);
        int null = open("/dev/null", O_WRONLY);
        if (null < 0 || dup2(in.fd[0], 0) < 0 || dup2(out.fd[1], 1) < 0 || dup2(null, 2) < 0)
            _exit(126);
        close_range(3, ~0U, 0);
        execve("/proc/self/exe", const_cast<char* const*>(argv), const_cast<char* const*>(no_environment));
        _exit(127);
    }
    in.close_end(0);
    out.close_end(1);
    fcntl(in.fd[1], F_SETFL, O_NONBLOCK);
    fcntl(out.fd[0], F_SETFL, O_NONBLOCK);

    using Clock = std::chrono::steady_clock;
    const auto deadline = Clock::now() + std::chrono::duration_cast<Clock::duration>(
                                             std::chrono::duration<double>(settings.deadline_seconds));
    size_t written = 0;
    std::string line;
    bool timed_out = false, eof = false;
    if (replay_bytes.empty())
        in.close_end(1);
    bool stopped = false;
    while (!eof && !(stopped = stop && *stop)) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
        if (left <= 0) {
            timed_out = true;
            break;
        }
        pollfd fds[2] = {{out.fd[0], POLLIN, 0}, {in.fd[1], POLLOUT, 0}};
        int n = poll(fds, in.fd[1] >= 0 ? 2 : 1, static_cast<int>(std::min<long long>(left, 200)));
        if (n < 0 && errno != EINTR)
            break;
        if (n <= 0)
            continue;
        if (in.fd[1] >= 0 && (fds[1].revents & (POLLOUT | POLLERR | POLLHUP))) {
            ssize_t w = write(in.fd[1], replay_bytes.data() + written, replay_bytes.size() - written);
            if (w > 0)
                written += static_cast<size_t>(w);
            // All written, or the worker stopped reading (it has its answer).
            if (written == replay_bytes.size() || (w < 0 && errno != EAGAIN && errno != EINTR))
                in.close_end(1);
        }
        if (fds[0].revents & (POLLIN | POLLHUP | POLLERR)) {
            char buffer[65536];
            ssize_t r = read(out.fd[0], buffer, sizeof buffer);
            if (r > 0 && line.size() < MAX_LINE)
                line.append(buffer, static_cast<size_t>(r));
            else if (r == 0 || (r < 0 && errno != EAGAIN && errno != EINTR))
                eof = true;
        }
    }
    if (!eof)
        kill(pid, SIGKILL);
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    if (stopped)
        return failed(STOPPED);
    if (timed_out) {
        char text[100];
        std::snprintf(text, sizeof text, "the verifier did not finish within %g s", settings.deadline_seconds);
        return failed(text);
    }
    if (WIFSIGNALED(status) && WTERMSIG(status) == SIGSYS)
        return failed("the verifier made a system call it may not make and was stopped (signal " +
                      std::to_string(SIGSYS) +
                      "): a replay that took over its verifier, or a filter that lacks a harmless call");
    if (WIFSIGNALED(status))
        return failed(std::string("the verifier was stopped by signal ") + std::to_string(WTERMSIG(status)) +
                      " (" + strsignal(WTERMSIG(status)) + ")");
    json answer = json::parse(line, nullptr, false);
    if (WIFEXITED(status) && WEXITSTATUS(status) == NO_SANDBOX && answer.is_object() &&
        answer.contains("sandbox") && answer["sandbox"].is_string())
        return failed("the verifier cannot shut itself in: " + answer["sandbox"].get<std::string>());
    if (!WIFEXITED(status) || WEXITSTATUS(status) != 0)
        return failed("the verifier failed with status " + std::to_string(WEXITSTATUS(status)));
    Verdict v;
    if (answer.is_object() && answer.contains("error") && answer["error"].is_string()) {
        v.kind = Verdict::refused;
        v.error = answer["error"].get<std::string>();
        return v;
    }
    if (!answer.is_object() || !answer.contains("score") || !answer["score"].is_number_integer() ||
        !answer.contains("steps") || !answer["steps"].is_number_integer() || !answer.contains("frames") ||
        !answer["frames"].is_number_integer() || !answer.contains("seconds") || !answer["seconds"].is_number() ||
        !answer.contains("inputs") || !answer["inputs"].is_string() || !answer.contains("replay") ||
        !answer["replay"].is_string())
        return failed("the verifier's answer was not understood");
    const std::string hex = answer["inputs"].get<std::string>(), b64 = answer["replay"].get<std::string>();
    v.inputs.resize(crypto_generichash_BYTES);
    v.replay.resize(b64.size() / 4 * 3 + 3);
    size_t decoded = 0, file = 0;
    const char* end = nullptr;
    if (sodium_hex2bin(reinterpret_cast<unsigned char*>(v.inputs.data()), v.inputs.size(), hex.data(), hex.size(),
                       nullptr, &decoded, nullptr) != 0 ||
        decoded != v.inputs.size() ||
        sodium_base642bin(reinterpret_cast<unsigned char*>(v.replay.data()), v.replay.size(), b64.data(), b64.size(),
                          nullptr, &file, &end, sodium_base64_VARIANT_ORIGINAL) != 0 ||
        end != b64.data() + b64.size() || file < static_cast<size_t>(REPLAY_HEADER_SIZE))
        return failed("the verifier's answer was not understood");
    v.replay.resize(file);
    v.kind = Verdict::verified;
    v.score = answer["score"].get<int>();
    v.steps = answer["steps"].get<long>();
    v.frames = answer["frames"].get<long>();
    v.seconds = answer["seconds"].get<double>();
    return v;
}

} // namespace kiv::board
