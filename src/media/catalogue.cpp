// The catalogue of pictures: file names in catalogue order.
#include "media/catalogue.h"

namespace kiv {

const char* const image_files[IMAGE_COUNT] = {
    "ball_b7.png", "ball_b10.png", "ball_b15.png",
    "ball_g7.png", "ball_g10.png", "ball_g15.png",
    "ball_r7.png", "ball_r10.png", "ball_r15.png",
    "0s.png", "1s.png", "2s.png", "3s.png", "4s.png",
    "5s.png", "6s.png", "7s.png", "8s.png", "9s.png",
    "xs.png",
    "pp0s.png", "pp1s.png", "pp2s.png", "pp3s.png",
    "pp4s.png", "pp5s.png", "pp6s.png", "pp7s.png",
    "pr0.png", "pr2.png", "pr4.png", "pr6.png",
    "panh.png", "panv.png",
    "fire.png", "vlcn.png", "tree.png", "vcnt.png", "clud.png", "watg.png",
    "bar0.png", "bar1.png", "bar2.png", "bar3.png",
    "start.png", "quit.png", "hiscore.png", "cursor.png",
};

int video_ready;

} // namespace kiv
