// Recording a replay as the game plays.
#include "replay/record.h"

#include "frame/loop.h"

namespace kiv {

namespace {

bool active;
int frame_steps, frame_escapes;
bool frame_close;

} // namespace

void start_recording(const ReplayHeader& header)
{
    replay.header = header;
    replay.frames = replay.steps = replay.returns = 0;
    frame_steps = frame_escapes = 0;
    frame_close = false;
    active = true;
}

void stop_recording()
{
    active = false;
}

bool recording()
{
    return active;
}

void record_step(const StepInput& input)
{
    if (!active || replay.steps >= MAX_REPLAY_STEPS)
        return;
    replay.input[replay.steps++] = input;
    frame_steps++;
}

void record_escape()
{
    if (active)
        frame_escapes++;
}

void record_close()
{
    if (active)
        frame_close = true;
}

void record_pointer(int x, int y)
{
    if (active && replay.returns < MAX_POINTER_RETURNS)
        replay.place[replay.returns++] = PointerPlace{static_cast<std::int16_t>(x), static_cast<std::int16_t>(y)};
}

bool record_frame()
{
    if (!active)
        return false;
    // A frame runs one step at least; a quit before any leaves nothing to add.
    if (frame_steps > 0)
        replay.frame[replay.frames++] =
            ReplayFrame{static_cast<unsigned char>(frame_steps),
                        static_cast<unsigned char>(frame_escapes < MAX_FRAME_ESCAPES ? frame_escapes : MAX_FRAME_ESCAPES),
                        static_cast<unsigned char>(frame_close)};
    frame_steps = frame_escapes = 0;
    frame_close = false;
    return replay.steps + MAX_STEPS_PER_FRAME <= MAX_REPLAY_STEPS;
}

} // namespace kiv
