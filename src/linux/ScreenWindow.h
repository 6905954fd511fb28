// The screen window: creation over the whole screen (or small), and its input.
#pragma once

#include <SDL.h>

class ScreenSaver;

// The one controller of the process, defined with the entry function.
extern ScreenSaver g_screen_saver;

// Starts SDL's video and shows the window: the virtual screen at (0, 0), or 400 x 200 at
// the top right in small mode. Null (SDL_GetError tells why) when no window can be made.
SDL_Window* create_screen_window(bool small);
// True when SDL reports more than one display.
bool probe_multiple_monitors();
// The event that stands for one expiry of the 20 ms timer.
SDL_Event timer_event();
// Turns one event into the controller's commands, or into the end of the show.
void screen_window_proc(const SDL_Event& event);
// True once a key, the mouse or a close request has ended the show.
bool screen_window_quit();
