#include "platform/sdl/watch.h"

int main(int argc, char** argv)
{
    return kiv::watch_replay(argc, argv);
}
