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

// Xlib's error handlers take no context: what they need is kept here.
void (*g_on_display_lost)() = nullptr;

shell::Key key_of(const SDL_KeyboardEvent& key) {
    const SDL_Keycode code = key.keysym.sym;
    // System keys never end the show: anything with Alt held, Alt itself, and F10.
    if ((key.keysym.mod & KMOD_ALT) != 0 || code == SDLK_LALT || code == SDLK_RALT ||
        code == SDLK_F10)
        return shell::Key::System;
    return shell::key_from_code<SDL_Keycode>(code, SDLK_SPACE, SDLK_LEFT, SDLK_RIGHT, SDLK_DELETE);
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

std::vector<ScreenSaver::Area> monitor_areas() {
    std::vector<SDL_Rect> bounds;
    SDL_Rect all{0, 0, 0, 0};
    const int displays = SDL_GetNumVideoDisplays();
    for (int i = 0; i < displays; ++i) {
        SDL_Rect one;
        if (SDL_GetDisplayBounds(i, &one) != 0 || one.w <= 0 || one.h <= 0) continue;
        if (bounds.empty())
            all = one;
        else
            SDL_UnionRect(&all, &one, &all);
        bounds.push_back(one);
    }
    std::vector<ScreenSaver::Area> areas;
    for (const SDL_Rect& one : bounds) {
        ScreenSaver::Area area;
        area.x = one.x - all.x;
        area.y = one.y - all.y;
        area.width = one.w;
        area.height = one.h;
        areas.push_back(area);
    }
    return areas;
}

namespace {
Display* x_display_of(SDL_Window* window) {
    SDL_SysWMinfo info;
    SDL_VERSION(&info.version);
    if (!SDL_GetWindowWMInfo(window, &info) || info.subsystem != SDL_SYSWM_X11) return nullptr;
    return info.info.x11.display;
}

// A window that a host destroys, or a request on it that fails, is no reason to end.
// The last X protocol error's code, for a caller that checks a request.
int g_x_error = 0;

int on_x_error(Display* display, XErrorEvent* error) {
    g_x_error = error->error_code;
    char text[160] = "";
    XGetErrorText(display, error->error_code, text, sizeof text);
    GW_TRACE(kModule, 3, "X error %d (%s), request %d", static_cast<int>(error->error_code), text,
             static_cast<int>(error->request_code));
    return 0;
}

// Xlib ends the process once this returns: the show is ended in order before that.
int on_x_io_error(Display*) {
    GW_TRACE(kModule, 1, "connection to the display lost");
    static bool ending = false;
    if (!ending && g_on_display_lost) {
        ending = true;
        g_on_display_lost();
    }
    std::exit(1);
}
} // namespace

bool probe_multiple_monitors() { return SDL_GetNumVideoDisplays() > 1; }

void watch_display(void (*on_lost)()) {
    g_on_display_lost = on_lost;
    XSetIOErrorHandler(on_x_io_error);
}

bool ScreenWindow::create(bool small) {
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;

    int width = 0;
    int height = 0;
    screen_size(width, height);
    if (width <= 0 || height <= 0) {
        SDL_SetError("no display to cover");
        return false;
    }

    const Uint32 flags = SDL_WINDOW_HIDDEN | SDL_WINDOW_BORDERLESS | SDL_WINDOW_ALWAYS_ON_TOP |
                         SDL_WINDOW_SKIP_TASKBAR;
    SDL_Window* window = SDL_CreateWindow("Glimmerwall", 0, 0, width, height, flags);
    if (!window) return false;
    window_ = window;

    // Wayland tells a client nothing of the pointer outside its surfaces, nor where its window
    // lies: there the reference is where the pointer first shows itself in the window.
    if (SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0) {
        int x = 0;
        int y = 0;
        SDL_GetGlobalMouseState(&x, &y);
        cursor_reference_x_ = x;
        cursor_reference_y_ = y;
        cursor_reference_set_ = true;
    }

    const shell::WindowRect place = shell::window_rect(width, height, small);
    SDL_SetWindowPosition(window, place.x, place.y);
    SDL_SetWindowSize(window, place.width, place.height);
    // A Wayland compositor places and sizes windows itself (sway would tile it): only the full
    // screen state covers the output.
    if (!small && SDL_strcmp(SDL_GetCurrentVideoDriver(), "wayland") == 0)
        SDL_SetWindowFullscreen(window, SDL_WINDOW_FULLSCREEN_DESKTOP);
    SDL_ShowWindow(window);
    SDL_RaiseWindow(window);
    // X gives the keyboard only to a mapped window, so the focus follows the showing.
    SDL_SetWindowInputFocus(window);
    return true;
}

bool ScreenWindow::create_in_host(unsigned long host) {
    // A host's window is an X window whatever driver the environment names.
    SDL_SetHintWithPriority(SDL_HINT_VIDEODRIVER, "x11", SDL_HINT_OVERRIDE);
    if (SDL_InitSubSystem(SDL_INIT_VIDEO) != 0) return false;
    saver_ = true;
    Display* probe_display = XOpenDisplay(nullptr);
    if (!probe_display) {
        SDL_SetError("cannot reach the X display");
        return false;
    }
    if (host == 0) host = static_cast<unsigned long>(DefaultRootWindow(probe_display));
    // A window that is not there would be drawn into for ever with nothing on screen.
    g_x_error = 0;
    XSetErrorHandler(on_x_error);
    XWindowAttributes probe;
    const bool exists = XGetWindowAttributes(probe_display, static_cast<Window>(host), &probe) != 0;
    XSync(probe_display, False);
    XCloseDisplay(probe_display);
    if (!exists || g_x_error != 0) {
        SDL_SetError("there is no window 0x%lx", host);
        return false;
    }
    SDL_Window* window = SDL_CreateWindowFrom(reinterpret_cast<const void*>(host));
    if (!window) return false;
    window_ = window;
    host_ = host;
    // Its size changes and its end reach the loop; what else the host selected stays.
    if (Display* display = x_display_of(window)) {
        const Window x_host = static_cast<Window>(host);
        XWindowAttributes attributes;
        long mask = StructureNotifyMask | ExposureMask;
        if (XGetWindowAttributes(display, x_host, &attributes)) mask |= attributes.your_event_mask;
        XSelectInput(display, x_host, mask);
        XFlush(display);
    }
    SDL_EventState(SDL_SYSWMEVENT, SDL_ENABLE);
    return true;
}

int ScreenWindow::x_event_descriptor() const {
    Display* display = window_ ? x_display_of(window_) : nullptr;
    return display ? ConnectionNumber(display) : -1;
}

bool ScreenWindow::mouse_ends(const SDL_MouseMotionEvent& motion) const {
    // The window's position plus the event's: SDL's global query can lag behind the server
    // when the pointer is moved by another client.
    int left = 0;
    int top = 0;
    if (window_ && SDL_strcmp(SDL_GetCurrentVideoDriver(), "x11") == 0)
        SDL_GetWindowPosition(window_, &left, &top);
    return cursor_reference_set_ &&
           shell::mouse_moved_away(cursor_reference_x_, cursor_reference_y_, left + motion.x,
                                   top + motion.y);
}

bool ScreenWindow::host_destroyed(const SDL_Event& event) const {
    if (event.type != SDL_SYSWMEVENT || !event.syswm.msg ||
        event.syswm.msg->subsystem != SDL_SYSWM_X11)
        return false;
    const XEvent& x = event.syswm.msg->msg.x11.event;
    return x.type == DestroyNotify && x.xdestroywindow.window == static_cast<Window>(host_);
}

void ScreenWindow::handle(ScreenSaver& controller, const SDL_Event& event) {
    if (saver_) {
        // The host owns keyboard and mouse; only its window's end concerns the show.
        if (host_destroyed(event)) ended_ = true;
        return;
    }
    if (event.type == SDL_KEYDOWN) {
        if (!shell::on_key(controller, key_of(event.key))) ended_ = true;
        return;
    }
    if (ends_show(event)) {
        ended_ = true;
    } else if (event.type == SDL_MOUSEMOTION && !cursor_reference_set_) {
        cursor_reference_x_ = event.motion.x;
        cursor_reference_y_ = event.motion.y;
        cursor_reference_set_ = true;
    }
}

bool ScreenWindow::ends_show(const SDL_Event& event) const {
    if (saver_) return host_destroyed(event);
    switch (event.type) {
    case SDL_KEYDOWN:
        return key_of(event.key) == shell::Key::Other;
    case SDL_MOUSEMOTION:
        return mouse_ends(event.motion);
    case SDL_WINDOWEVENT:
        return event.window.event == SDL_WINDOWEVENT_CLOSE;
    case SDL_QUIT:
        return true;
    default:
        return false;
    }
}

bool ScreenWindow::is_step_key(const SDL_Event& event, bool& repeat) const {
    if (saver_ || event.type != SDL_KEYDOWN) return false;
    const shell::Key key = key_of(event.key);
    repeat = event.key.repeat != 0;
    return key == shell::Key::Space || key == shell::Key::Left || key == shell::Key::Right;
}
