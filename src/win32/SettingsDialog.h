// The Settings dialog that the host's Settings button opens.
#pragma once

#include <windows.h>

#include <string>

// Shows the dialog, owned by `owner` (none when null), over the settings of the per-user file
// `user_file`; `program_file` is a settings file beside the program, which the show reads first
// (empty when there is none). OK writes `user_file` (its folder made where needed), Cancel
// writes nothing. True when the file was written.
bool run_settings_dialog(HINSTANCE instance, HWND owner, const std::string& user_file,
                         const std::string& program_file);
