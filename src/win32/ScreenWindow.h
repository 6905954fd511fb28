// The screen window: creation over the whole screen (or small), and its input.
#pragma once

#include "ScreenSaver.h"

#include <windows.h>

#include <vector>

// The one controller of the process, defined with the entry function.
extern ScreenSaver g_screen_saver;

// Registers the class and shows the topmost window: the virtual screen at (0, 0), or 400 x 200
// at the top right in small mode. Null when the window cannot be created.
HWND create_screen_window(HINSTANCE instance, bool small_mode);
// True when USER32 has the multiple-monitor functions, so that the virtual screen is measured.
bool probe_multiple_monitors();
// The monitors as parts of `window` (which covers the virtual screen), those it overlaps only.
std::vector<ScreenSaver::Area> monitor_areas(HWND window);
// From now on the controller is given the monitors of `window`, now and at each change of
// the displays.
void follow_monitors(HWND window);
// The timers, paint, four keys and the mouse rule; every other message goes to DefWindowProcA.
LRESULT CALLBACK screen_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param);
