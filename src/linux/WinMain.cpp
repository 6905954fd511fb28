// Entry of the Linux shell: start-up, the event loop with its 20 ms timer, orderly shutdown.
#include "ScreenSaver.h"
#include "ScreenWindow.h"
#include "Shell.h"
#include "Tracer.h"
#include "WindowManager.h"

#include <SDL.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <string>

ScreenSaver g_screen_saver;

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");
constexpr Uint64 kTimerPeriodMs = 20;

volatile std::sig_atomic_t g_signalled = 0;

extern "C" void on_signal(int) { g_signalled = 1; }

void install_signal_handlers() {
    struct sigaction action = {};
    action.sa_handler = on_signal;
    sigemptyset(&action.sa_mask);
    for (int number : {SIGTERM, SIGINT, SIGHUP}) sigaction(number, &action, nullptr);
}

// The per-user place of the configuration, tried after the program's folder and its parent.
std::string user_config_file() {
    const char* xdg = std::getenv("XDG_CONFIG_HOME");
    std::string folder;
    if (xdg && xdg[0] == '/') {
        folder = xdg;
    } else {
        const char* home = std::getenv("HOME");
        if (!home || home[0] != '/') return {};
        folder = std::string(home) + "/.config";
    }
    return folder + "/glimmerwall/Glimmerwall.cfg";
}

void dispatch(WindowManager& display, const SDL_Event& event) {
    const bool shown_again = event.type == SDL_WINDOWEVENT &&
                             (event.window.event == SDL_WINDOWEVENT_EXPOSED ||
                              event.window.event == SDL_WINDOWEVENT_SIZE_CHANGED);
    if (!shown_again)
        screen_window_proc(event);
    else if (!display.repaint())
        g_screen_saver.redraw();
}

// Events as they come, and a timer event whenever 20 ms have passed. As with a window timer,
// the first tick comes at once, a late tick is not repeated to catch up, and it waits only for
// the events already queued, not for a further period.
void run_event_loop(WindowManager& display) {
    Uint64 next_tick = SDL_GetTicks64();
    bool late = false;
    while (!screen_window_quit() && !g_signalled) {
        SDL_Event event;
        if (late) {
            while (!screen_window_quit() && SDL_PollEvent(&event)) dispatch(display, event);
            late = false;
            continue;
        }
        Uint64 now = SDL_GetTicks64();
        if (now >= next_tick) {
            screen_window_proc(timer_event());
            next_tick += kTimerPeriodMs;
            now = SDL_GetTicks64();
            if (next_tick <= now) {
                next_tick = now;
                late = true;
            }
            continue;
        }
        if (SDL_WaitEventTimeout(&event, static_cast<int>(next_tick - now)) != 0)
            dispatch(display, event);
    }
}
} // namespace

int main(int argc, char** argv) {
    install_signal_handlers();
    const std::string argument0 = argc > 0 && argv[0] ? argv[0] : "";

    shell::enter_program_folder(argument0);
    shell::read_configuration(g_screen_saver, user_config_file());
    shell::trace_start(__DATE__, __TIME__, shell::join_arguments(argc, argv), argument0);

    SDL_SetHint(SDL_HINT_NO_SIGNAL_HANDLERS, "1");
    // The X server's own image transfer: a GL framebuffer would start threads of its own.
    SDL_SetHint(SDL_HINT_FRAMEBUFFER_ACCELERATION, "0");
    SDL_Window* window = create_screen_window(g_screen_saver.is_small());
    if (!window) {
        const std::string why = SDL_GetError();
        GW_TRACE(kModule, 1)("create_screen_window : no window (%s)", why.c_str());
        std::fprintf(stderr, "glimmerwall: cannot open the screen window: %s\n", why.c_str());
        SDL_Quit();
        return 1;
    }
    {
        WindowManager display(window);
        g_screen_saver.set_window_manager(&display, display.width(), display.height());
        if (!g_screen_saver.is_small()) SDL_ShowCursor(SDL_DISABLE);
        run_event_loop(display);
        g_screen_saver.suppress_all();
    }
    // The window ends with the process, unclosed: SDL 2.26 may still have a wake-up message
    // for it in flight on its second X connection, and closing that connection after the
    // window is gone turns the server's error into exit code 1.
    return 0;
}
