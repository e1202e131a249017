// The desktop's video on SDL2: the window, the game's screen shown in it
// through the palette, the system cursor and mouse, and the lost display.
#include "platform/sdl/video.h"

#include <SDL.h>
#include <SDL_syswm.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "frame/game.h"
#include "frame/loop.h"
#include "frame/startup.h"
#include "media/draw.h"
#include "media/input.h"
#include "media/screen.h"
#include "platform/sdl/session.h"

namespace kiv {

bool display_lost;
bool in_main_loop;

namespace {

SDL_Window* window;
// In a window the screen goes straight into the window's own framebuffer;
// full screen through a renderer, which scales it to fit.
SDL_Surface* window_surface;
SDL_Renderer* renderer;
SDL_Texture* texture;
// The palette in the pixel format shown, worked out once the pictures have
// set it.
Uint32 shown_format;
Uint32 shown_colour[256];

void map_palette()
{
    SDL_PixelFormat* format = SDL_AllocFormat(shown_format);
    for (int i = 0; i < 256; i++)
        shown_colour[i] = SDL_MapRGB(format, screen_palette[i].r, screen_palette[i].g, screen_palette[i].b);
    SDL_FreeFormat(format);
}

// The palette applied to the screen, once a frame, into 32-bit pixels
// `pitch` bytes a row apart, w x h of them (the screen's part that fits).
void convert_screen(void* pixels, int pitch, int w = SCREEN_W, int h = SCREEN_H)
{
    for (int y = 0; y < h; y++) {
        Uint32* out = reinterpret_cast<Uint32*>(static_cast<Uint8*>(pixels) + static_cast<long>(y) * pitch);
        const unsigned char* in = screen[y];
        for (int x = 0; x < w; x++)
            out[x] = shown_colour[in[x]];
    }
}

// Where a picture `size` pixels across begins in a window `room` across:
// in its middle, or at the left or top when the window is smaller.
int centred(int room, int size)
{
    return room > size ? (room - size) / 2 : 0;
}

void present_to_window()
{
    if (display_lost)
        return;
    // A window manager may give the window another size than it asked for:
    // SDL then makes it a new framebuffer, and the picture stays 640 x 480,
    // in the middle of it on black.
    SDL_Surface* s = SDL_GetWindowSurface(window);
    if (!s || s->format->BytesPerPixel != 4)
        return;
    if (s != window_surface) {
        window_surface = s;
        SDL_FillRect(s, nullptr, SDL_MapRGB(s->format, 0, 0, 0));
        if (s->format->format != shown_format) {
            shown_format = s->format->format;
            map_palette();
        }
    }
    if (SDL_MUSTLOCK(s) && SDL_LockSurface(s) != 0)
        return;
    const int x = centred(s->w, SCREEN_W), y = centred(s->h, SCREEN_H);
    convert_screen(static_cast<Uint8*>(s->pixels) + static_cast<long>(y) * s->pitch + 4 * x, s->pitch,
                   s->w < SCREEN_W ? s->w : SCREEN_W, s->h < SCREEN_H ? s->h : SCREEN_H);
    if (SDL_MUSTLOCK(s))
        SDL_UnlockSurface(s);
    SDL_UpdateWindowSurface(window);
}

void present_through_renderer()
{
    if (display_lost)
        return;
    void* pixels = nullptr;
    int pitch = 0;
    if (SDL_LockTexture(texture, nullptr, &pixels, &pitch) != 0)
        return;
    convert_screen(pixels, pitch);
    SDL_UnlockTexture(texture);
    SDL_RenderClear(renderer);   // the bars beside the picture: black
    SDL_RenderCopy(renderer, texture, nullptr, nullptr);
    SDL_RenderPresent(renderer);
}

[[noreturn]] void no_screen()
{
    std::fprintf(stderr, "Unable to create SDL screen: %s\n", SDL_GetError());
    SDL_Quit();
    std::exit(1);
}

// SDL_Init, with one mend: an X server may refuse a connection now and then
// while it is busy (Xvfb often does). SDL then quietly tries its other
// drivers: Wayland, which complains on the standard error stream when there
// is none, and the ones without a window. So unless a driver was asked for,
// an X display is tried on its own a few times first; then SDL chooses,
// "offscreen" counting as no display.
void open_display()
{
    const bool chosen = std::getenv("SDL_VIDEODRIVER") != nullptr;
    const bool x = !chosen && std::getenv("DISPLAY") != nullptr;
    for (int tries = 1;; tries++) {
        const bool x_only = x && tries <= 8;
        if (x_only)
            SDL_SetHint(SDL_HINT_VIDEODRIVER, "x11");
        const bool opened = SDL_Init(SDL_INIT_VIDEO) == 0;
        if (x_only)
            SDL_SetHint(SDL_HINT_VIDEODRIVER, nullptr);
        if (!opened && !x_only) {
            std::fprintf(stderr, "Unable to initialize SDL: %s\n", SDL_GetError());
            std::exit(1);
        }
        const char* driver = opened ? SDL_GetCurrentVideoDriver() : nullptr;
        if (driver && (chosen || std::strcmp(driver, "offscreen") != 0))
            return;
        SDL_Quit();
        if (tries == 12) {
            std::fprintf(stderr, "Unable to initialize SDL: %s\n", "no display to open a window on");
            std::exit(1);
        }
        SDL_Delay(20 * tries);
    }
}

// Full screen on X is a request to the window manager, which SDL does not
// wait for. With no window manager (a kiosk, an arcade cabinet, a bare
// startx) nobody answers; the window keeps its 640 x 480 in the middle of
// the screen. There the game does what a window manager would: it spreads
// the window over the screen it was centred on (w x h), raises it and gives
// it the keyboard. The renderer follows the new size.
void fill_screen_without_window_manager(int w, int h)
{
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11 || !info.info.x11.display)
        return;
    Display* display = info.info.x11.display;
    Window xwindow = info.info.x11.window;
    XWindowAttributes root, at;
    // A window manager is the one client that redirects the root's children.
    if (XGetWindowAttributes(display, DefaultRootWindow(display), &root) &&
        !(root.all_event_masks & SubstructureRedirectMask) && XGetWindowAttributes(display, xwindow, &at) &&
        (at.width != w || at.height != h)) {
        XMoveResizeWindow(display, xwindow, at.x - (w - at.width) / 2, at.y - (h - at.height) / 2, w, h);
        XRaiseWindow(display, xwindow);
        XSetInputFocus(display, xwindow, RevertToParent, CurrentTime);
        XSync(display, False);
    }
}

// Xlib calls this when the connection to the X server breaks (the server
// stopped or crashed, the player logged out, an ssh -X link dropped). Were it
// to return, Xlib would end the process with exit(), whose exit handlers
// reach SDL_Quit, and SDL would wait for ever for the dead server's answers.
// A lost display is the player leaving, as surely as a closed window: once
// the game runs it quits the same way, kiv.prf written, only with no further
// word to the X server; and the process ends at once, with status 1.
int on_display_lost(Display* display)
{
    display_lost = true;
    std::fprintf(stderr, "Lost the display %s\n", DisplayString(display));
    if (in_main_loop) {
        record_close();
        quit_game();
    }
    exit_program(1);
}

// The window: in a window, or full screen over the desktop.
void open_window(bool full_screen)
{
    open_display();
    std::atexit(SDL_Quit);
    XSetIOErrorHandler(on_display_lost);
    // A write to a dead X server must fail and reach that hook, not end the
    // game at once with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);

    SDL_DisplayMode desktop{};
    SDL_GetDesktopDisplayMode(0, &desktop);
    // Shown and named once it can be drawn in: an OpenGL renderer makes SDL
    // replace the window it was given.
    window = SDL_CreateWindow("", SDL_WINDOWPOS_CENTERED, SDL_WINDOWPOS_CENTERED, SCREEN_W, SCREEN_H,
                              SDL_WINDOW_HIDDEN | (full_screen ? SDL_WINDOW_FULLSCREEN_DESKTOP : 0));
    if (!window)
        no_screen();
    SDL_SetWindowTitle(window, "Kiv");
    if (!full_screen) {
        // SDL's own framebuffer, not a texture of its renderer: the cheapest
        // way into a window (a player's own setting wins).
        SDL_SetHintWithPriority(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0", SDL_HINT_DEFAULT);
        window_surface = SDL_GetWindowSurface(window);
        if (window_surface && window_surface->format->BytesPerPixel == 4) {
            shown_format = window_surface->format->format;
            present_screen = present_to_window;
            SDL_ShowWindow(window);
            return;
        }
        window_surface = nullptr;
    }
    // The whole picture scaled to fit, centred, black bars beside it, and
    // smoothed where the scale is not whole.
    SDL_SetHintWithPriority(SDL_HINT_RENDER_SCALE_QUALITY, "linear", SDL_HINT_DEFAULT);
    renderer = SDL_CreateRenderer(window, -1, 0);
    if (!renderer)
        no_screen();
    SDL_RenderSetLogicalSize(renderer, SCREEN_W, SCREEN_H);
    SDL_SetRenderDrawColor(renderer, 0, 0, 0, 255);
    texture = SDL_CreateTexture(renderer, SDL_PIXELFORMAT_ARGB8888, SDL_TEXTUREACCESS_STREAMING, SCREEN_W, SCREEN_H);
    shown_format = SDL_PIXELFORMAT_ARGB8888;
    if (!texture)
        no_screen();
    present_screen = present_through_renderer;
    SDL_ShowWindow(window);
    if (full_screen && desktop.w > 0)
        fill_screen_without_window_manager(desktop.w, desktop.h);
}

} // namespace

void init_video(int windowed)
{
    open_window(!windowed);
    load_pictures(read_png);
    map_palette();
    reset_pointer();
    SDL_ShowCursor(SDL_DISABLE);
    // Full screen the pointer is the game's alone: held in the window, and
    // moved by the mouse's motion however far it goes.
    if (!windowed) {
        SDL_SetWindowGrab(window, SDL_TRUE);
        SDL_SetRelativeMouseMode(SDL_TRUE);
    }
    SDL_StopTextInput();
    video_ready = 1;
}

void init_watch_video()
{
    open_window(false);
    load_pictures(read_png);
    map_palette();
    SDL_StopTextInput();
    video_ready = 1;
}

void set_window_caption(const char* caption)
{
    if (window && !display_lost)
        SDL_SetWindowTitle(window, caption);
}

// No window at all: the screen in memory, drawn and never shown.
void init_offscreen_video()
{
    load_pictures(read_png);
    reset_pointer();
    video_ready = 1;
}

void close_video()
{
    if (!display_lost)
        SDL_Quit();
}

static void present_nothing() {}
void (*present_screen)() = present_nothing;

void show_cursor()
{
    if (!display_lost && window)
        SDL_ShowCursor(SDL_ENABLE);
}

SDL_Window* game_window()
{
    return display_lost ? nullptr : window;
}

void window_to_picture(int wx, int wy, int* x, int* y)
{
    if (renderer) {
        float lx = 0, ly = 0;
        SDL_RenderWindowToLogical(renderer, wx, wy, &lx, &ly);
        wx = static_cast<int>(SDL_floorf(lx));
        wy = static_cast<int>(SDL_floorf(ly));
    } else if (window) {
        int w = SCREEN_W, h = SCREEN_H;
        SDL_GetWindowSize(window, &w, &h);
        wx -= centred(w, SCREEN_W);
        wy -= centred(h, SCREEN_H);
    }
    *x = wx < 0 ? 0 : (wx > SCREEN_W - 1 ? SCREEN_W - 1 : wx);
    *y = wy < 0 ? 0 : (wy > SCREEN_H - 1 ? SCREEN_H - 1 : wy);
}

bool ask_display_for_mouse(int* wx, int* wy)
{
    if (!window || display_lost)
        return false;
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (SDL_GetWindowWMInfo(window, &info) && info.subsystem == SDL_SYSWM_X11 && info.info.x11.display) {
        Window root, child;
        int rx, ry;
        unsigned mask;
        // False when the mouse is on another screen of the display.
        return XQueryPointer(info.info.x11.display, info.info.x11.window, &root, &child, &rx, &ry, wx, wy, &mask);
    }
    // Elsewhere SDL asks the system, where it can, for the mouse on the
    // desktop.
    int gx = 0, gy = 0, x = 0, y = 0;
    SDL_GetGlobalMouseState(&gx, &gy);
    SDL_GetWindowPosition(window, &x, &y);
    *wx = gx - x;
    *wy = gy - y;
    return true;
}

} // namespace kiv
