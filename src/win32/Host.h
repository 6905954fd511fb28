// What a screen-saver host asks for besides the show: the preview inside its dialog, and the
// answer to its Settings button.
#pragma once

#include <windows.h>

#include <string>

// A borderless child of `parent` covering its client area, shown, not topmost, taking no key
// or mouse rule. Each timer tick steps the controller, or ends the preview once the parent
// is gone; the child's destruction posts the quit message. Null when the parent has no area
// or the window cannot be made. A timer of the thread also ends the preview when the parent
// or the child vanishes without a message (the host's process died).
HWND create_preview_window(HINSTANCE instance, HWND parent);

// True for a window that a preview may live in: a child window of another, never a top-level
// window nor the desktop, which no key or dialog would end.
bool is_preview_area(HWND window);

// The user's own settings file, %APPDATA%\Glimmerwall\Glimmerwall.cfg; empty when the
// folder cannot be named.
std::string user_settings_path();

// The settings file that the show reads before the user's own: Glimmerwall.cfg in the
// program's folder, else in the folder above; empty when there is none.
std::string program_settings_file(const std::string& program_folder);
