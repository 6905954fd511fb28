#include "ScreenWindow.h"

#include "ScreenSaver.h"
#include "Shell.h"
#include "Tracer.h"

#include <SDL_syswm.h>
#include <X11/Xlib.h>

#include <cstdint>
#include <cstdlib>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");

SDL_Window* g_window = nullptr;
Uint32 g_timer_event_type = 0;
bool g_quit = false;
bool g_saver = false;
Window g_host = 0;
void (*g_on_display_lost)() = nullptr;

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

bool mouse_ends(const SDL_MouseMotionEvent& motion) {
    // The window's position plus the event's: SDL's global query can lag behind the server
    // when the pointer is moved by another client.
    int left = 0;
    int top = 0;
    if (g_window) SDL_GetWindowPosition(g_window, &left, &top);
    return g_cursor_reference_set &&
           shell::mouse_moved_away(g_cursor_reference_x, g_cursor_reference_y, left + motion.x,
                                   top + motion.y);
}

bool host_destroyed(const SDL_Event& event) {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg ||
        event.syswm.msg->subsystem != SDL_SYSWM_X11)
        return false;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    return x.type == DestroyNotify && x.xdestroywindow.window == g_host;
}

Display* x_display_of(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    return info.info.x11.display;
}

// A window that a host destroys, or a request on it that fails, is no reason to end.
int on_x_error(Display* display, XErrorEvent* error) {
    char text[160] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    GW_TRACE(kModule, 3)("X error %d (%s), request %d", static_cast<int>(error->error_code), text,
                         static_cast<int>(error->request_code));
    return 0;
}

// Xlib ends the process once this returns: the show is ended in order before that.
int on_x_io_error(Display*) {
    GW_TRACE(kModule, 1)("connection to the display lost");
    static bool ending = false;
    if (!ending && g_on_display_lost) {
        ending = true;
        g_on_display_lost();
    }
    std::exit(1);
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

    const shell::WindowRect place = shell::window_rect(width, height, small);
    SDL_SetWindowPosition(window, place.x, place.y);
    SDL_SetWindowSize(window, place.width, place.height);
    SDL_ShowWindow(window);
    SDL_RaiseWindow(window);
    // X gives the keyboard only to a mapped window, so the focus follows the showing.
    SDL_SetWindowInputFocus(window);
    return window;
}

SDL_Window* create_saver_window(unsigned long host) {
    // A host's window is an X window whatever driver the environment names.
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return nullptr;
    if (g_timer_event_type == 0) g_timer_event_type = SDL_RegisterEvents(1);
    g_saver = true;
    if (host == 0) {
        Display* display = XOpenDisplay(nullptr);
        if (!display) {
            SDL_SetError("cannot reach the X display");
            return nullptr;
        }
        host = static_cast<unsigned long>(DefaultRootWindow(display));
        XCloseDisplay(display);
    }
    XSetErrorHandler(on_x_error);
    SDL_Window* window = SDL_CreateWindowFrom(reinterpret_cast<const void*>(host));
    if (!window) return nullptr;
    g_window = window;
    g_host = static_cast<Window>(host);
    // Its size changes and its end reach the loop; what else the host selected stays.
    if (Display* display = x_display_of(window)) {
        XWindowAttributes attributes;
        long mask = StructureNotifyMask | ExposureMask;
        if (XGetWindowAttributes(display, g_host, &attributes))
            mask |= attributes.your_event_mask;
        XSelectInput(display, g_host, mask);
        XFlush(display);
    }
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    return window;
}

bool saver_mode() { return g_saver; }

int x_event_descriptor() {
    Display* display = g_window ? x_display_of(g_window) : nullptr;
    return display ? ConnectionNumber(display) : -1;
}

void watch_display(void (*on_lost)()) {
    g_on_display_lost = on_lost;
    XSetIOErrorHandler(on_x_io_error);
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
    if (g_saver) {
        // The host owns keyboard and mouse; only its window's end concerns the show.
        if (host_destroyed(event)) post_quit();
        return;
    }
    switch (event.type) {
    case SDL_KEYDOWN:
        if (!shell::on_key(g_screen_saver, key_of(event.key))) post_quit();
        break;
    case SDL_MOUSEMOTION:
        if (mouse_ends(event.motion)) post_quit();
        break;
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

bool ends_show(const SDL_Event& event) {
    if (g_saver) return host_destroyed(event);
    switch (event.type) {
    case SDL_KEYDOWN: return key_of(event.key) == shell::Key::Other;
    case SDL_MOUSEMOTION: return mouse_ends(event.motion);
    case SDL_WINDOWEVENT: return event.window.event == SDL_WINDOWEVENT_CLOSE;
    case SDL_QUIT: return true;
    default: return false;
    }
}

bool is_step_key(const SDL_Event& event, bool& repeat) {
    if (g_saver || event.type != SDL_KEYDOWN) return false;
    const shell::Key key = key_of(event.key);
    repeat = event.key.repeat != 0;
    return key == shell::Key::Space || key == shell::Key::Left || key == shell::Key::Right;
}
