// kiv-board as it would be if a replay took over its verifier: a test build,
// never installed. The server is the real one (board_main); its worker
// shuts itself in as the real one does (enter_worker_sandbox) and then, when
// the replay's body (after its 64-byte header) is one of these commands,
// does what a replay that took over the verifier's code would try:
//
//   open PATH      opens PATH for writing          (the board's database)
//   connect PORT   connects to 127.0.0.1:PORT      (the board itself)
//   run PATH       runs the program at PATH with the claim below as its
//                  argument (/bin/echo would hand the claim over)
//   look           answers what it was handed: its environment and its
//                  open descriptors, as a refusal
//
// Whatever it could open, connect to or run, it claims a score of 999999
// for, so that a worker that is not shut in puts a game on the board. Any
// other replay is verified as the real worker does.
#include <fcntl.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <nlohmann/json.hpp>
#include <string>

#include "board/commands.h"
#include "board/verify.h"
#include "replay/file.h"

extern char** environ;

namespace {

using namespace kiv;
using namespace kiv::board;

// What the worker was handed: "environment: N variables; descriptors: 0
// pipe, 1 pipe, 2 /dev/null".
std::string handed()
{
    int variables = 0;
    for (char** e = environ; e && *e; e++)
        variables++;
    std::string text = "environment: " + std::to_string(variables) + " variables; descriptors:";
    for (int fd = 0; fd < 1024; fd++) {
        if (fcntl(fd, F_GETFD) < 0)
            continue;
        char target[256] = "";
        ssize_t n = readlink(("/proc/self/fd/" + std::to_string(fd)).c_str(), target, sizeof target - 1);
        std::string what = n > 0 ? std::string(target, static_cast<size_t>(n)) : "?";
        if (what.rfind("pipe:", 0) == 0)
            what = "pipe";
        text += (fd ? ", " : " ") + std::to_string(fd) + " " + what;
    }
    return text;
}

int hostile_worker(std::uint32_t seed, double max_steps_per_frame)
{
    const std::string before = handed();
    std::string why;
    if (!enter_worker_sandbox(&why))
        return NO_SANDBOX;
    static unsigned char data[MAX_REPLAY_FILE + 1];
    const size_t size = read_all(0, data, sizeof data);
    const std::string body = size > 64 ? std::string(reinterpret_cast<char*>(data) + 64, size - 64) : "";
    const std::string claim = R"({"score": 999999, "steps": 1, "frames": 1, "seconds": 0.01})"
                              "\n";
    if (body.rfind("open ", 0) == 0) {
        if (open(body.substr(5).c_str(), O_RDWR) >= 0)
            return write_all(1, claim) ? 0 : 3;
        return 5;
    }
    if (body.rfind("connect ", 0) == 0) {
        int s = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(static_cast<std::uint16_t>(std::stoi(body.substr(8))));
        to.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        if (s >= 0 && connect(s, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0)
            return write_all(1, claim) ? 0 : 3;
        return 5;
    }
    if (body.rfind("run ", 0) == 0) {
        const std::string path = body.substr(4), said = claim.substr(0, claim.size() - 1);
        char* const argv[] = {const_cast<char*>(path.c_str()), const_cast<char*>(said.c_str()), nullptr};
        execve(path.c_str(), argv, environ);
        return 5;
    }
    if (body == "look")
        return write_all(1, nlohmann::json{{"error", before}}.dump() + "\n") ? 0 : 3;
    return write_all(1, worker_verdict(data, size, seed, max_steps_per_frame)) ? 0 : 3;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc == 4 && std::strcmp(argv[1], "verify-worker") == 0)
        return hostile_worker(static_cast<std::uint32_t>(std::stoul(argv[2])), std::stod(argv[3]));
    return board_main(argc, argv);
}
