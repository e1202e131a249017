// kiv-board: see board/commands.h.
#include "board/commands.h"

int main(int argc, char** argv)
{
    return kiv::board::board_main(argc, argv);
}
