// Entry of the Windows shell: what the host asks for (show, preview, settings), start-up, the
// message loop with its 20 ms timer, orderly shutdown.
#include "CommandLine.h"
#include "DecodeWorker.h"
#include "Host.h"
#include "Platform.h"
#include "ScreenSaver.h"
#include "ScreenWindow.h"
#include "SettingsDialog.h"
#include "Shell.h"
#include "TraceFile.h"
#include "WindowManager.h"

#include <windows.h>

#include <clocale>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

ScreenSaver g_screen_saver;

namespace {
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

// The thread's last error as the trace shows it: "error " and the number.
std::string last_error() {
    return "error " + std::to_string(static_cast<unsigned long>(GetLastError()));
}

// DLLs that the system loads for the program come from the program's folder and the system
// folders only, never from the current folder or PATH; where the call exists (Windows 8, or 7
// with its update).
void restrict_dll_search() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    const HMODULE kernel32 = GetModuleHandleA("kernel32.dll");
    const FARPROC found = kernel32 ? GetProcAddress(kernel32, "SetDefaultDllDirectories") : nullptr;
    if (!found) return;
    reinterpret_cast<SetDefaultDllDirectoriesFunction>(reinterpret_cast<void (*)()>(found))(
        LOAD_LIBRARY_SEARCH_DEFAULT_DIRS);
}

// Folder, configuration, start-up lines: the same for the show and the preview.
// The program's own path comes from the module: the command line may name the program in a
// form that does not lead back to it (forward slashes, a name found on the search path).
void start_up(const std::string& argument0, const char* command_line) {
    shell::enter_program_folder(platform::executable_path(argument0));
    shell::read_configuration(g_screen_saver, user_settings_path());
    shell::trace_start(__DATE__, __TIME__, command_line ? command_line : "", argument0);
}

// Messages as they come; the loop ends only on the quit message (GetMessageA's 0). Its -1 is
// transient here, as the window is never destroyed while the loop runs. After each message
// (the timer's come every 20 ms) the worker's answers are taken in.
void run_message_loop(WorkerDecoder* decoder) {
    MSG message;
    while (GetMessageA(&message, nullptr, 0, 0) != 0) {
        TranslateMessage(&message);
        DispatchMessageA(&message);
        if (decoder && decoder->pump()) g_screen_saver.on_decoded();
    }
}

// The switch that starts this program as the show's decode worker; never shown to the user.
const char kWorkerSwitch[] = "--decode-worker";

// The controller drives `window` until the quit message, its pictures decoded by a worker
// process of this program; then the worker is stopped and the marked files go. Only the show
// over the whole screen puts a picture on each monitor.
void run_show(HWND window, bool whole_screen, const std::string& argument0) {
    WindowManager display(window);
    display.set_fade_ms(g_screen_saver.fade_ms());
    g_screen_saver.set_window_manager(&display, display.width(), display.height());
    if (whole_screen && g_screen_saver.each_screen()) follow_monitors(window);
    auto decoder = std::make_unique<WorkerDecoder>(
        platform::executable_path(argument0),
        std::vector<std::string>{kWorkerSwitch, std::to_string(g_screen_saver.trace_level()),
                                 g_screen_saver.backdrop() ? "blur" : "black"},
        WorkerDecoder::Limits{});
    decoder->start();
    g_screen_saver.set_decoder(decoder.get());
    SetTimer(window, 0, shell::kTimerPeriodMs, nullptr);
    if (whole_screen) ShowCursor(FALSE);
    run_message_loop(decoder.get());
    g_screen_saver.set_decoder(nullptr);
    decoder.reset();
    g_screen_saver.suppress_all();
}

// The show in small inside the host's window, until that window goes. Its trace has a file
// of its own: opening the host's dialog must not empty the trace of the last full show.
int run_preview(HINSTANCE instance, std::uint64_t handle, const std::string& argument0,
                const char* command_line) {
    HWND parent = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
    if (!is_preview_area(parent)) return 0;
    platform::use_preview_trace_file();
    start_up(argument0, command_line);
    HWND window = create_preview_window(instance, parent);
    if (!window) {
        shell::trace_no_window("create_preview_window", last_error());
        return 0;
    }
    run_show(window, false, argument0);
    return 0;
}

// The Settings button: the dialog over the user's settings file, then the end; the show never
// starts.
int run_settings(HINSTANCE instance, std::uint64_t handle, const std::string& argument0) {
    HWND owner = reinterpret_cast<HWND>(static_cast<std::uintptr_t>(handle));
    if (owner && !IsWindow(owner)) owner = nullptr;
    shell::enter_program_folder(platform::executable_path(argument0));
    run_settings_dialog(instance, owner, user_settings_path(),
                        program_settings_file(platform::current_directory()));
    return 0;
}
} // namespace

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR command_line, int) {
    restrict_dll_search();
    if (command_line && std::strncmp(command_line, kWorkerSwitch, sizeof kWorkerSwitch - 1) == 0) {
        char* after = nullptr;
        const long level = std::strtol(command_line + sizeof kWorkerSwitch - 1, &after, 10);
        return run_decode_worker(static_cast<std::int32_t>(level),
                                 after && std::strstr(after, "blur") != nullptr);
    }
    // Dates in captions are written in the user's own format.
    std::setlocale(LC_TIME, "");
    const std::string argument0 = program_argument();
    const command::Command command = command::parse(command_line);
    switch (command.request) {
    case command::Request::Password:
        return 0;
    case command::Request::Settings:
        return run_settings(instance, command.window, argument0);
    case command::Request::Preview:
        return run_preview(instance, command.window, argument0, command_line);
    case command::Request::Show:
        break;
    }

    start_up(argument0, command_line);
    HWND window = create_screen_window(instance, g_screen_saver.is_small());
    if (!window) {
        shell::trace_no_window("create_screen_window", last_error());
        return 1;
    }
    run_show(window, !g_screen_saver.is_small(), argument0);
    // The window ends with the process.
    return 0;
}
