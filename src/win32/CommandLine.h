// The switches that a screen-saver host passes on the command line, read without any Windows
// header so that the reading can be tested on any system.
#pragma once

#include <cstdint>

namespace command {

// What the program is asked to do.
enum class Request {
    Show,     // /s, nothing, or anything not recognised: the full show
    Preview,  // /p <window> or /p:<window>: the show in small inside the host's window
    Settings, // /c or /c:<window>: where the settings live, in a message box
    Password, // /a: nothing to do
};

struct Command {
    Request request = Request::Show;
    // The host's window as a decimal handle; 0 when missing or not a plain decimal number.
    std::uint64_t window = 0;
};

// Reads the arguments after the program's name (WinMain's command line). Switch letters are
// taken in either case, after "/" or "-"; the window follows a ":" or blanks.
Command parse(const char* arguments);

} // namespace command
