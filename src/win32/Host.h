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

// The text of the settings note: the settings file, the places it is looked for, in order,
// given the folder the program runs in, and the keys it understands.
std::string settings_note(const std::string& program_folder);
// Shows the note in a message box owned by `owner` (none when null) and waits for its button.
void show_settings_note(HWND owner, const std::string& program_folder);
