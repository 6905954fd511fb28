// The screen window: creation over the whole screen (or small, or inside a host's window),
// and its input.
#pragma once

#include "ScreenSaver.h"

#include <SDL.h>

#include <cstdint>
#include <vector>

// The show's one window and what its input rules hold: the mouse reference, the host's window
// in saver-window mode, and whether the show has ended. The SDL window is not destroyed here:
// it ends with the process.
class ScreenWindow {
public:
    ScreenWindow() = default;
    ScreenWindow(const ScreenWindow&) = delete;
    ScreenWindow& operator=(const ScreenWindow&) = delete;

    // Starts SDL's video and shows the window: the virtual screen at (0, 0), or 400 x 200 at
    // the top right in small mode. False (SDL_GetError tells why) when no window can be made.
    bool create(bool small);
    // Starts SDL's video on X11 and draws into the existing X window `host` (0: the root
    // window) that a saver daemon or a locker owns: no window of the program's own, no key or
    // mouse rule, the cursor left alone. False (SDL_GetError tells why) when it cannot be used.
    bool create_in_host(unsigned long host);

    SDL_Window* sdl() const { return window_; }
    // True when the show is drawn into a host's window.
    bool saver_mode() const { return saver_; }
    // True once a key, the mouse, a close request or the host window's end has ended the show.
    bool ended() const { return ended_; }

    // Turns one input event into the controller's commands, or into the end of the show.
    void handle(ScreenSaver& controller, const SDL_Event& event);
    // True when `event`, handed to handle(), would end the show; no side effect.
    bool ends_show(const SDL_Event& event) const;
    // True for a key that performs a step (Space, Left, Right); `repeat` tells an auto-repeat.
    bool is_step_key(const SDL_Event& event, bool& repeat) const;
    // The file descriptor on which the window's X events arrive; -1 when not on X11.
    int x_event_descriptor() const;

private:
    bool mouse_ends(const SDL_MouseMotionEvent& motion) const;
    bool host_destroyed(const SDL_Event& event) const;

    SDL_Window* window_ = nullptr;
    bool saver_ = false;
    unsigned long host_ = 0;
    bool ended_ = false;
    std::int32_t cursor_reference_x_ = 0;
    std::int32_t cursor_reference_y_ = 0;
    bool cursor_reference_set_ = false;
};

// Every display's bounds, placed as in the window that covers them all.
std::vector<ScreenSaver::Area> monitor_areas();
// True when SDL reports more than one display.
bool probe_multiple_monitors();
// Has the end of the X connection (the display went away) run `on_lost` before the process
// exits with code 1, and keeps X protocol errors (a host window that went) from ending it.
void watch_display(void (*on_lost)());
