#include "ScreenWindow.h"

#include "ScreenSaver.h"
#include "Shell.h"

#include <cstdint>

namespace {
SDL_Window* g_window = nullptr;
Uint32 g_timer_event_type = 0;
bool g_quit = false;

std::int32_t g_cursor_reference_x = 0;
std::int32_t g_cursor_reference_y = 0;
bool g_cursor_reference_set = false;

void post_quit() { g_quit = true; }

shell::Key key_of(const SDL_KeyboardEvent& key) {
    const SDL_Keycode code = key.keysym.sym;
    // System keys never end the show: anything with Alt held, Alt itself, and F10.
    if ((key.keysym.mod & KMOD_ALT) != 0 || code == SDLK_LALT || code == SDLK_RALT ||
        code == SDLK_F10)
        return shell::Key::System;
    switch (code) {
    case SDLK_SPACE: return shell::Key::Space;
    case SDLK_LEFT: return shell::Key::Left;
    case SDLK_RIGHT: return shell::Key::Right;
    case SDLK_DELETE: return shell::Key::Delete;
    default: return shell::Key::Other;
    }
}

// Width and height of the area to cover: every display's bounds together, or the first one.
void screen_size(int& width, int& height) {
    const int displays = probe_multiple_monitors() ? SDL_GetNumVideoDisplays() : 1;
    SDL_Rect all{0, 0, 0, 0};
    bool any = false;
    for (int i = 0; i < displays; ++i) {
        SDL_Rect bounds;
        if (SDL_GetDisplayBounds(i, &bounds) != 0) continue;
        if (any) {
            SDL_UnionRect(&all, &bounds, &all);
        } else {
            all = bounds;
            any = true;
        }
    }
    width = all.w;
    height = all.h;
}
} // namespace

bool probe_multiple_monitors() { return SDL_GetNumVideoDisplays() > 1; }

SDL_Window* create_screen_window(bool small) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    if (g_timer_event_type == 0) g_timer_event_type = SDL_RegisterEvents(1);

    int width = 0;
    int height = 0;
    screen_size(width, height);
    if (width <= 0 || height <= 0) {
        SDL_SetError("no display to cover");
        return nullptr;
    }

    const Uint32 flags =
        SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP | SDL_WINDOW_SKIP_TASKBAR;
    SDL_Window* window = SDL_CreateWindow("Glimmerwall", 0, 0, width, height, flags);
    if (!window) return nullptr;
    g_window = window;

    int x = 0;
    int y = 0;
    SDL_GetGlobalMouseState(&x, &y);
    g_cursor_reference_x = x;
    g_cursor_reference_y = y;
    g_cursor_reference_set = true;

    if (small) {
        SDL_SetWindowPosition(window, width - 403, 3);
        SDL_SetWindowSize(window, 400, 200);
    } else {
        SDL_SetWindowPosition(window, 0, 0);
        SDL_SetWindowSize(window, width, height);
    }
    SDL_ShowWindow(window);
    SDL_RaiseWindow(window);
    // X gives the keyboard only to a mapped window, so the focus follows the showing.
    SDL_SetWindowInputFocus(window);
    return window;
}

SDL_Event timer_event() {
    SDL_Event event;
    SDL_zero(event);
    event.type = g_timer_event_type;
    event.user.timestamp = SDL_GetTicks();
    return event;
}

bool screen_window_quit() { return g_quit; }

void screen_window_proc(const SDL_Event& event) {
    if (event.type == g_timer_event_type && g_timer_event_type != 0) {
        g_screen_saver.next(false);
        return;
    }
    switch (event.type) {
    case SDL_KEYDOWN:
        if (!shell::on_key(g_screen_saver, key_of(event.key))) post_quit();
        break;
    case SDL_MOUSEMOTION: {
        // The window's position plus the event's: SDL's global query can lag behind the
        // server when the pointer is moved by another client.
        int left = 0;
        int top = 0;
        if (g_window) SDL_GetWindowPosition(g_window, &left, &top);
        if (g_cursor_reference_set &&
            shell::mouse_moved_away(g_cursor_reference_x, g_cursor_reference_y,
                                    left + event.motion.x, top + event.motion.y))
            post_quit();
        break;
    }
    case SDL_WINDOWEVENT:
        if (event.window.event == SDL_WINDOWEVENT_CLOSE) post_quit();
        break;
    case SDL_QUIT:
        post_quit();
        break;
    default:
        break;
    }
}
