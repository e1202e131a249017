// The screen's size and the catalogue of pictures, the same in every build.
// The platform's video part opens the screen and loads the pictures.
#pragma once

namespace kiv {

constexpr int SCREEN_W = 640;
constexpr int SCREEN_H = 480;

constexpr int IMAGE_COUNT = 48;
// Catalogue indices; other indices are computed from these.
constexpr int IMAGE_BALL = 0;       // (2 - colour) * 3 + size
constexpr int IMAGE_DIGIT = 9;      // + digit
constexpr int IMAGE_TIMES = 19;     // xs.png
constexpr int IMAGE_PIP = 20;       // + size 0..7
constexpr int IMAGE_APPEAR = 28;    // + phase / 4
constexpr int IMAGE_PAN_H = 32;
constexpr int IMAGE_PAN_V = 33;
constexpr int IMAGE_EVENT = 34;     // + kind
constexpr int IMAGE_BAR = 40;       // + piece kind
constexpr int IMAGE_START = 44;
constexpr int IMAGE_QUIT = 45;
constexpr int IMAGE_HISCORE = 46;
constexpr int IMAGE_CURSOR = 47;
constexpr int BLUE_BALL_IMAGES = 3;   // catalogue 0..2 use red as the transparent colour

extern const char* const image_files[IMAGE_COUNT];

// 1 once init_video has opened the screen and loaded the pictures.
extern int video_ready;

// Opens video, the 640 x 480 8-bit screen (full screen unless windowed), the
// palette, loads all pictures from images/ and hides the system cursor.
// Prints one line and exits with status 1 on failure.
void init_video(int windowed);
// The same on a screen in memory that is never shown: headless runs.
void init_offscreen_video();
// Closes video when the game quits.
void close_video();

} // namespace kiv
