#include "sim/motion.h"

namespace kiv {

float gravity[3];
float miss_x;

void update_balls() {}

} // namespace kiv
