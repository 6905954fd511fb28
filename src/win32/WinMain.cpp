// Entry of the Windows shell: start-up, the message loop with its 20 ms timer, orderly shutdown.
#include "ScreenSaver.h"
#include "ScreenWindow.h"
#include "Shell.h"
#include "Tracer.h"
#include "WindowManager.h"

#include <windows.h>

#include <string>

ScreenSaver g_screen_saver;

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");
constexpr UINT kTimerPeriodMs = 20;

// Argument 0 as the program was started: the command line's first token without its quotes,
// or the module's file name when the command line is empty.
std::string program_argument() {
    const char* line = GetCommandLineA();
    std::string token;
    if (line && *line == '"') {
        for (const char* c = line + 1; *c && *c != '"'; ++c) token += *c;
    } else if (line) {
        for (const char* c = line; *c && *c != ' ' && *c != '\t'; ++c) token += *c;
    }
    if (token.empty()) {
        char module[MAX_PATH];
        const DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
        if (length > 0 && length < sizeof module) token.assign(module, length);
    }
    return token;
}

// Messages as they come; the loop ends only on the quit message (GetMessageA's 0). Its -1 is
// transient here, as the window is never destroyed while the loop runs.
void run_message_loop() {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
    }
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    const std::string argument0 = program_argument();

    // The folder comes from the module's own path: the command line may name the program in a
    // form that does not lead back to it (forward slashes, a name found on the search path).
    char module[MAX_PATH];
    const DWORD length = GetModuleFileNameA(nullptr, module, sizeof module);
    shell::enter_program_folder(length > 0 && length < sizeof module ? std::string(module, length)
                                                                     : argument0);
    shell::read_configuration(g_screen_saver, std::string());
    shell::trace_start(__DATE__, __TIME__, command_line ? command_line : "", argument0);

    HWND window = create_screen_window(instance, g_screen_saver.is_small());
    if (!window) {
        GW_TRACE(kModule, 1)("create_screen_window : no window (error %lu)",
                             static_cast<unsigned long>(GetLastError()));
        return 1;
    }
    {
        WindowManager display(window);
        g_screen_saver.set_window_manager(&display, display.width(), display.height());
        SetTimer(window, 0, kTimerPeriodMs, nullptr);
        if (!g_screen_saver.is_small()) ShowCursor(FALSE);
        run_message_loop();
        g_screen_saver.suppress_all();
    }
    // The window ends with the process.
    return 0;
}
