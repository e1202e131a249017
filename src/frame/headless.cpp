// Runs the real game frame by frame with scripted input and no window.
#include "frame/headless.h"

#include <cstdlib>

#include "frame/game.h"
#include "frame/loop.h"
#include "media/draw.h"
#include "media/catalogue.h"

namespace kiv {

long headless_steps;

static StepScript step_script;
static void* step_context;
static StepObserver step_observer;
static void* observer_context;

static void scripted_input(StepInput* input)
{
    StepInput record = {0, 0, 0};
    if (step_script)
        step_script(static_cast<int>(headless_steps), &record, step_context);
    input->dx += record.dx;
    input->dy += record.dy;
    input->buttons = record.buttons;
}

void set_step_script(StepScript script, void* context)
{
    step_script = script;
    step_context = context;
}

void set_step_observer(StepObserver observer, void* context)
{
    step_observer = observer;
    observer_context = context;
}

int start_headless(unsigned seed)
{
    if (!video_ready) {
        sound_off = 1;
        windowed = 0;
        mouse_speed = 3.0f;
        init_offscreen_video();
    }
    input_source = scripted_input;
    present_screen = [] {};   // the frame is drawn into the surface, not shown
    step_input = StepInput{0, 0, 0};
    headless_steps = 0;
    quit_requested = 0;
    std::srand(seed);
    go_to_title();
    return video_ready;
}

void run_headless_frame(int k, int escapes, int close)
{
    for (int i = 0; i < k; i++) {
        run_step();
        headless_steps++;
        if (step_observer)
            step_observer(observer_context);
    }
    draw_frame();
    for (int i = 0; i < escapes; i++)
        handle_escape();
    if (close)
        handle_window_close();
}

} // namespace kiv
