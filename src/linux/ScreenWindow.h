// The screen window: creation over the whole screen (or small, or inside a host's window),
// and its input.
#pragma once

#include <SDL.h>

class ScreenSaver;

// The one controller of the process, defined with the entry function.
extern ScreenSaver g_screen_saver;

// Starts SDL's video and shows the window: the virtual screen at (0, 0), or 400 x 200 at
// the top right in small mode. Null (SDL_GetError tells why) when no window can be made.
SDL_Window* create_screen_window(bool small);
// Starts SDL's video on X11 and draws into the existing X window `host` (0: the root window)
// that a saver daemon or a locker owns: no window of the program's own, no key or mouse rule,
// the cursor left alone. Null (SDL_GetError tells why) when the window cannot be used.
SDL_Window* create_saver_window(unsigned long host);
// True when the show is drawn into a host's window.
bool saver_mode();
// True when SDL reports more than one display.
bool probe_multiple_monitors();
// The event that stands for one expiry of the 20 ms timer.
SDL_Event timer_event();
// Turns one event into the controller's commands, or into the end of the show.
void screen_window_proc(const SDL_Event& event);
// True when `event`, handed to screen_window_proc, would end the show; no side effect.
bool ends_show(const SDL_Event& event);
// True for a key that performs a step (Space, Left, Right); `repeat` tells an auto-repeat.
bool is_step_key(const SDL_Event& event, bool& repeat);
// True once a key, the mouse, a close request or the host window's end has ended the show.
bool screen_window_quit();
// The file descriptor on which the window's X events arrive; -1 when not on X11.
int x_event_descriptor();
// Has the end of the X connection (the display went away) run `on_lost` before the process
// exits with code 1, and keeps X protocol errors (a host window that went) from ending it.
void watch_display(void (*on_lost)());
