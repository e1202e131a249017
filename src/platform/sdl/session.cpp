// The desktop's recording of each run as a session replay: the title and
// every game, as the tests' recordings are, played again by kiv-verify and
// kiv-watch to the same steps. Nothing is reseeded: the run plays exactly as
// it would unrecorded. The replay is held in memory and written when the
// program ends, named by the date and time of its start and its best score;
// an hour is the most it holds, after which the run plays on unrecorded.
#include "platform/sdl/session.h"

#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <regex>
#include <string>
#include <vector>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/catalogue.h"
#include "media/draw.h"
#include "replay/file.h"
#include "replay/fingerprint.h"
#include "replay/record.h"

namespace kiv {

namespace {

constexpr int KEPT_REPLAYS = 100;

bool held;          // a replay is held to be written at the exit
bool left_title;    // the run has been beyond the title
int best_score;
char started[32];   // the date and time of the start, as the name gives them
Fingerprint fp;

void fold_step()
{
    add_step(fp);
}

void no_fold() {}

// Whatever the frame showed of the run, for the name and the header.
void take_stock()
{
    left_title = left_title || game_state != STATE_TITLE;
    best_score = score > best_score ? score : best_score;
    replay.header.score = score;
    replay.header.fingerprint = fp.hash;
}

void stop_session_recording()
{
    stop_recording();
    after_step = no_fold;
}

// Names of our replays in dir, oldest first.
std::vector<std::string> replays_in(const std::string& dir)
{
    std::vector<std::string> names;
    DIR* d = opendir(dir.c_str());
    if (!d)
        return names;
    const std::regex ours("kiv-[0-9]{4}-[0-9]{2}-[0-9]{2}-[0-9]{6}-[0-9]+(-[0-9]+)?\\.rec");
    while (dirent* e = readdir(d))
        if (std::regex_match(e->d_name, ours))
            names.push_back(e->d_name);
    closedir(d);
    std::sort(names.begin(), names.end());
    return names;
}

// $XDG_DATA_HOME/kiv/replays, made if need be; "" with a reason when it
// cannot be.
std::string replay_dir(std::string* why)
{
    const char* xdg = std::getenv("XDG_DATA_HOME");
    const char* home = std::getenv("HOME");
    std::string base;
    if (xdg && xdg[0] == '/')
        base = xdg;   // a relative one is to be ignored
    else if (home && home[0])
        base = std::string(home) + "/.local/share";
    else {
        *why = "neither XDG_DATA_HOME nor HOME is set";
        return "";
    }
    std::string dir = base + "/kiv/replays";
    // Each directory on the way, as mkdir -p makes them.
    for (size_t at = 1; at != std::string::npos; at = dir.find('/', at + 1)) {
        std::string part = dir.substr(0, dir.find('/', at + 1));
        if (mkdir(part.c_str(), 0777) != 0 && errno != EEXIST) {
            *why = part + ": " + std::strerror(errno);
            return "";
        }
    }
    return dir;
}

bool write_replay_file(const std::string& dir, std::string* why)
{
    // Written beside its place and then linked there, so that a replay is
    // whole or absent; a run started in the same second with the same score
    // gets a number after it.
    std::string temp = dir + "/.kiv-" + std::to_string(getpid()) + ".tmp";
    if (!save_replay(temp.c_str())) {
        *why = temp + ": " + std::strerror(errno);
        unlink(temp.c_str());
        return false;
    }
    std::string name = std::string("kiv-") + started + "-" + std::to_string(best_score);
    bool linked = false;
    for (int n = 1; n < 100 && !linked; n++) {
        std::string path = dir + "/" + name + (n > 1 ? "-" + std::to_string(n) : "") + ".rec";
        if (link(temp.c_str(), path.c_str()) == 0)
            linked = true;
        else if (errno != EEXIST) {
            *why = path + ": " + std::strerror(errno);
            break;
        }
    }
    unlink(temp.c_str());
    if (!linked && why->empty())
        *why = dir + ": no free name for " + name;
    return linked;
}

} // namespace

void start_run_recording(unsigned seed)
{
    ReplayHeader h{};
    h.kind = REPLAY_SESSION;
    h.rules = RULES_VERSION;
    h.seed = seed;
    h.pointer_x = std::min(std::max(pointer_x, 0), SCREEN_W - 1);
    h.pointer_y = std::min(std::max(pointer_y, 0), SCREEN_H - 1);
    h.mouse_speed = mouse_speed;
    h.high_score = high_score;
    h.end = END_NONE;
    h.windowed = windowed != 0;
    start_recording(h);
    fp = Fingerprint{};
    after_step = fold_step;
    std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    std::strftime(started, sizeof started, "%Y-%m-%d-%H%M%S", &local);
    held = true;
    left_title = false;
    best_score = 0;
}

void note_escape()
{
    if (!recording())
        return;
    record_escape();
    // Start and Escape in one frame: the title was left for a moment.
    left_title = left_title || game_state != STATE_TITLE;
}

void end_session_frame()
{
    if (!recording())
        return;
    take_stock();
    if (!record_frame()) {
        stop_session_recording();
        std::fprintf(stderr, "This run has lasted an hour, as long as a replay can be: its replay ends here\n");
    }
}

void save_session()
{
    if (!held)
        return;
    held = false;
    if (recording()) {
        take_stock();
        record_frame();
        stop_session_recording();
    }
    if (!left_title)
        return;
    std::string why;
    std::string dir = replay_dir(&why);
    if (dir.empty() || !write_replay_file(dir, &why)) {
        std::fprintf(stderr, "Couldn't save the replay of this run: %s\n", why.c_str());
        return;
    }
    std::vector<std::string> names = replays_in(dir);
    for (size_t i = 0; i + KEPT_REPLAYS < names.size(); i++)
        unlink((dir + "/" + names[i]).c_str());
}

} // namespace kiv
