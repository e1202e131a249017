// The desktop's drawing primitives: blits and fills on the SDL screen, the
// present, the system cursor and the system mouse position.
#include <SDL.h>

#include "frame/game.h"
#include "media/draw.h"
#include "platform/sdl/video.h"

namespace kiv {

void draw_image(int k, int x, int y)
{
    SDL_Rect at = {static_cast<Sint16>(x), static_cast<Sint16>(y), 0, 0};
    SDL_BlitSurface(images[k], nullptr, screen, &at);
}

void fill_panel_rect(int x, int y, int w, int h)
{
    SDL_Rect r = {static_cast<Sint16>(x), static_cast<Sint16>(y), static_cast<Uint16>(w), static_cast<Uint16>(h)};
    SDL_FillRect(screen, &r, panel_colour);
}

void fill_side_panel()
{
    SDL_Rect r = panel_rect;   // SDL clips the rectangle it is given
    SDL_FillRect(screen, &r, panel_colour);
}

void clear_screen()
{
    SDL_Rect r = screen_rect;
    SDL_FillRect(screen, &r, 0);
}

static void sdl_present()
{
    SDL_Flip(screen);
}

void (*present_screen)() = sdl_present;

void show_cursor()
{
    if (!display_lost)
        SDL_ShowCursor(SDL_ENABLE);
}

const unsigned char* screen_pixels(int* pitch)
{
    *pitch = screen->pitch;
    return static_cast<const unsigned char*>(screen->pixels);
}

void reset_pointer()
{
    if (windowed) {
        SDL_GetMouseState(&pointer_x, &pointer_y);
    } else {
        pointer_x = SCREEN_W / 2;
        pointer_y = SCREEN_H / 2;
    }
}

} // namespace kiv
