// The pixel-free platform's side of the main loop: the process's monotonic
// clock, no events and no mouse. Replays and the verifier drive the frames
// themselves and supply every step's input.
#include <chrono>
#include <cstdlib>
#include <thread>

#include "frame/loop.h"
#include "frame/startup.h"
#include "media/input.h"

namespace kiv {

namespace {

unsigned steady_clock_ms()
{
    using namespace std::chrono;
    static const steady_clock::time_point start = steady_clock::now();
    return static_cast<unsigned>(duration_cast<milliseconds>(steady_clock::now() - start).count());
}

void steady_sleep(unsigned ms)
{
    std::this_thread::sleep_for(std::chrono::milliseconds(ms));
}

} // namespace

unsigned (*read_clock)() = steady_clock_ms;
void (*sleep_for)(unsigned ms) = steady_sleep;

void read_system_input(StepInput* input)
{
    input->buttons = 0;
}

void poll_events() {}

// A run on this platform leaves no replay: it is how replays are played.
void start_run_recording(unsigned) {}

void main_loop()
{
    for (;;)
        run_frame();
}

void exit_program(int status)
{
    std::exit(status);
}

} // namespace kiv
