// The screen, its palette and the catalogue of pictures.
#include "platform/sdl/video.h"

#include <SDL_image.h>
#include <SDL_syswm.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/loop.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/palette.h"

namespace kiv {

SDL_Surface* screen;
SDL_Rect screen_rect;
SDL_Rect panel_rect;
Uint32 panel_colour;
SDL_Surface* images[IMAGE_COUNT];
bool display_lost;
bool in_main_loop;

void set_ramp_palette(SDL_Surface* surface)
{
    // One call for all 208 entries: every palette change repaints the whole
    // window, and 208 single-entry calls took most of a second at start-up.
    SDL_Color colours[RAMP_ENTRIES];
    for (int i = 0; i < RAMP_COUNT; i++) {
        for (int j = 0; j < RAMP_SHADES; j++) {
            Rgb c = ramp_colour(i, j);
            colours[RAMP_SHADES * i + j] = SDL_Color{c.r, c.g, c.b, 0};
        }
    }
    SDL_SetColors(surface, colours, 0, RAMP_ENTRIES);
}

void set_key_colour(SDL_Surface* surface, Uint8 r, Uint8 g, Uint8 b)
{
    SDL_Color colour = {r, g, b, 0};
    SDL_SetColors(surface, &colour, 0, 1);
}

SDL_Surface* load_image(SDL_Surface* surface, const char* file)
{
    char path[256];
    std::snprintf(path, sizeof path, "images/%s", file);
    SDL_Surface* raw = IMG_Load(path);
    if (!raw)
        return nullptr;
    // Every pixel the conversion maps to entry 0, the key colour of the
    // moment, becomes transparent; the others take the nearest palette colour.
    SDL_Surface* converted = SDL_ConvertSurface(raw, surface->format, SDL_SRCCOLORKEY | SDL_HWSURFACE);
    SDL_FreeSurface(raw);
    if (!converted)
        return nullptr;
    SDL_SetColorKey(converted, SDL_SRCCOLORKEY | SDL_RLEACCEL, 0);
    return converted;
}

static void load_catalogue_image(int k)
{
    images[k] = load_image(screen, image_files[k]);
    if (!images[k]) {
        std::fprintf(stderr, "Unable to load: images/%s\n", image_files[k]);
        SDL_Quit();
        std::exit(1);
    }
}

// SDL_Init, with one mend: an X server may refuse a connection now and then
// while it is busy (Xvfb often does). SDL then quietly tries its other
// drivers: Wayland, which complains on the standard error stream when there
// is none, and at last "offscreen", with which the game would run without a
// window. So unless a driver was asked for, an X display is tried on its own
// a few times first; then SDL chooses, offscreen counting as no display.
static void open_display()
{
    const bool chosen = std::getenv("SDL_VIDEODRIVER") != nullptr;
    const bool x = !chosen && std::getenv("DISPLAY") != nullptr;
    for (int tries = 1;; tries++) {
        const bool x_only = x && tries <= 8;
        if (x_only)
            setenv("SDL_VIDEODRIVER", "x11", 1);
        const bool opened = SDL_Init(SDL_INIT_VIDEO) == 0;
        if (x_only)
            unsetenv("SDL_VIDEODRIVER");
        if (!opened && !x_only) {
            std::fprintf(stderr, "Unable to initialize SDL: %s\n", SDL_GetError());
            std::exit(1);
        }
        char name[32];
        const char* driver = opened ? SDL_VideoDriverName(name, sizeof name) : nullptr;
        if (driver && (chosen || std::strcmp(driver, "offscreen") != 0))
            return;
        // Quitting the video by name: after a failed start sdl12-compat still
        // counts it as started, and SDL_Quit alone would leave it so.
        SDL_QuitSubSystem(SDL_INIT_VIDEO);
        SDL_Quit();
        if (tries == 12) {
            std::fprintf(stderr, "Unable to initialize SDL: %s\n", "no display to open a window on");
            std::exit(1);
        }
        SDL_Delay(20 * tries);
    }
}

// Full screen on X is a request to the window manager, and SDL does not wait
// for the answer: it takes the screen's size for the window's at once and
// scales the picture to it. With no window manager (a kiosk, an arcade
// cabinet, a bare startx) nobody answers; the window keeps its 640 x 480 in
// the middle of the screen and shows a zoomed corner of a picture drawn for
// the whole screen. There the game does what a window manager would: it
// spreads the window over the screen it was centred on (w x h), raises it and
// gives it the keyboard.
static void fill_screen_without_window_manager(int w, int h)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWMInfo(&info) != 1 || info.subsystem != SDL_SYSWM_X11 || !info.info.x11.display)
        return;
    Display* display = info.info.x11.display;
    Window window = info.info.x11.window;
    info.info.x11.lock_func();
    XWindowAttributes root, at;
    // A window manager is the one client that redirects the root's children.
    if (XGetWindowAttributes(display, DefaultRootWindow(display), &root) &&
        !(root.all_event_masks & SubstructureRedirectMask) && XGetWindowAttributes(display, window, &at)) {
        XMoveResizeWindow(display, window, at.x - (w - at.width) / 2, at.y - (h - at.height) / 2, w, h);
        XRaiseWindow(display, window);
        XSetInputFocus(display, window, RevertToParent, CurrentTime);
        XSync(display, False);
    }
    info.info.x11.unlock_func();
}

// Xlib calls this when the connection to the X server breaks (the server
// stopped or crashed, the player logged out, an ssh -X link dropped). Were it
// to return, Xlib would end the process with exit(), whose exit handlers
// reach SDL_Quit, and SDL would wait for ever for the dead server's answers.
// A lost display is the player leaving, as surely as a closed window: once
// the game runs it quits the same way, kiv.prf written, only with no further
// word to the X server; and the process ends at once, with status 1.
static int on_display_lost(Display* display)
{
    display_lost = true;
    std::fprintf(stderr, "Lost the display %s\n", DisplayString(display));
    if (in_main_loop)
        quit_game();
    exit_program(1);
}

void init_video(int windowed)
{
    if (windowed) {
        // The cheapest way to show an 8-bit window through sdl12-compat: SDL's
        // software renderer drawing straight into the window's own
        // framebuffer. By default SDL presents through OpenGL, which without
        // a GPU (software GL) costs some 40 % of a core at 100 frames/s and
        // half a second at start-up; this path costs about 6 %, near the
        // classic SDL 1.2 library, and shows exactly the same pixels (see the
        // frame-time benchmark). Both hints are needed. Full screen keeps the
        // default, which scales the picture to the desktop. A player's own
        // setting wins.
        setenv("SDL_RENDER_DRIVER", "software", 0);
        setenv("SDL_FRAMEBUFFER_ACCELERATION", "0", 0);
    }
    open_display();
    std::atexit(SDL_Quit);
    XSetIOErrorHandler(on_display_lost);
    // A write to a dead X server must fail and reach that hook, not end the
    // game at once with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    Uint32 flags = SDL_HWSURFACE | SDL_HWPALETTE | SDL_DOUBLEBUF;
    if (!windowed)
        flags |= SDL_FULLSCREEN;
    const SDL_VideoInfo* desktop = SDL_GetVideoInfo();
    const int desktop_w = desktop->current_w, desktop_h = desktop->current_h;
    screen = SDL_SetVideoMode(SCREEN_W, SCREEN_H, 8, flags);
    if (!screen) {
        std::fprintf(stderr, "Unable to create SDL screen: %s\n", SDL_GetError());
        SDL_Quit();
        std::exit(1);
    }
    if (!windowed)
        fill_screen_without_window_manager(desktop_w, desktop_h);
    screen_rect = SDL_Rect{0, 0, SCREEN_W, SCREEN_H};

    set_ramp_palette(screen);
    SDL_WM_SetCaption("Kiv", nullptr);

    // The blue balls are keyed on red, everything else on blue.
    set_key_colour(screen, 255, 0, 0);
    for (int k = 0; k < BLUE_BALL_IMAGES; k++)
        load_catalogue_image(k);
    set_key_colour(screen, 0, 0, 255);
    for (int k = BLUE_BALL_IMAGES; k < IMAGE_COUNT; k++)
        load_catalogue_image(k);
    set_key_colour(screen, 255, 255, 255);

    // The side panel is 64 wide; the screen clips it to its last 45 columns.
    panel_rect = SDL_Rect{595, 0, 64, SCREEN_H};
    panel_colour = SDL_MapRGB(screen->format, 240, 240, 128);

    if (windowed) {
        SDL_GetMouseState(&pointer_x, &pointer_y);
    } else {
        pointer_x = SCREEN_W / 2;
        pointer_y = SCREEN_H / 2;
    }
    SDL_ShowCursor(SDL_DISABLE);
    video_ready = 1;
}

void init_offscreen_video()
{
    setenv("SDL_VIDEODRIVER", "dummy", 1);
    init_video(0);
}

void close_video()
{
    if (!display_lost)
        SDL_Quit();
}

} // namespace kiv
