// Replays rewritten as the game read them.
#include "replay/as_played.h"

#include "frame/loop.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"
#include "replay/run.h"

namespace kiv {

int least_motion(int from, int to, int motion, int size)
{
    if (pointer_moved(from, 0, size) == to)
        return 0;
    // Where a motion lands never falls as the motion grows: the motions
    // that land on `to` run from zero's side to `motion` without a gap, and
    // the nearest is found by halving.
    long near = 0, far = motion;
    while (far - near > 1 || near - far > 1) {
        const long mid = near + (far - near) / 2;
        if (pointer_moved(from, static_cast<int>(mid), size) == to)
            far = mid;
        else
            near = mid;
    }
    return static_cast<int>(far);
}

void keep_as_played()
{
    ReplayRun& r = replay_run;
    if (r.played_steps)
        return;
    StepInput& in = replay.input[r.step - 1];
    in.buttons = 0;
    // Motion the game did not read stays in step_input for a later step;
    // motion it read is gone from there.
    if (step_input.dx == 0 && step_input.dy == 0) {
        in.dx = least_motion(r.read_x, pointer_x, r.fed_x, SCREEN_W);
        in.dy = least_motion(r.read_y, pointer_y, r.fed_y, SCREEN_H);
        r.read_x = pointer_x;
        r.read_y = pointer_y;
    } else {
        in.dx = in.dy = 0;
    }
    if (!game_in_play()) {
        r.played_steps = r.step;
        r.played_frames = r.frame + 1;
        r.played_fingerprint = r.fp.hash;
    }
}

bool make_as_played()
{
    const ReplayRun& r = replay_run;
    ReplayHeader& h = replay.header;
    if (!r.as_played || h.kind != REPLAY_GAME || h.end != END_OVER || r.ended != END_OVER || !r.played_steps ||
        r.played_frames != r.ended_frame + 1)
        return false;
    long before = 0;
    for (long f = 0; f + 1 < r.played_frames; f++)
        before += replay.frame[f].steps;
    ReplayFrame& last = replay.frame[r.played_frames - 1];
    last = ReplayFrame{static_cast<unsigned char>(r.played_steps - before), 0, 0};
    replay.frames = h.frames = r.played_frames;
    replay.steps = h.steps = r.played_steps;
    h.fingerprint = r.played_fingerprint;
    h.screens = 0;
    return true;
}

} // namespace kiv
