// The per-step input record.
#include "media/input.h"

namespace kiv {

StepInput step_input;
InputSource input_source = read_system_input;
PointerSource pointer_source = read_system_pointer;

void gather_step_input()
{
    input_source(&step_input);
}

} // namespace kiv
