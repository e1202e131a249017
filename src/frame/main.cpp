#include "frame/startup.h"

int main(int argc, char** argv)
{
    return kiv::run_game(argc, argv);
}
