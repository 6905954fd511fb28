#include "ScreenWindow.h"

#include "ScreenSaver.h"
#include "Shell.h"
#include "WindowManager.h"

#include <cstdint>

namespace {
const char kClassName[] = "GLWL";
const WORD kIconId = 107;

POINT cursor_reference = {0, 0};
bool monitors_followed = false;
bool cursor_reference_set = false;

using GetSystemMetricsFunction = int(WINAPI*)(int);

// The multiple-monitor probe: all seven found, or none kept.
bool probe_done = false;
GetSystemMetricsFunction probed_get_system_metrics = nullptr;
FARPROC probed_monitor_from_window = nullptr;
FARPROC probed_monitor_from_rect = nullptr;
FARPROC probed_monitor_from_point = nullptr;
FARPROC probed_enum_display_monitors = nullptr;
FARPROC probed_get_monitor_info = nullptr;
FARPROC probed_enum_display_devices = nullptr;

void clear_probe() {
    probed_get_system_metrics = nullptr;
    probed_monitor_from_window = nullptr;
    probed_monitor_from_rect = nullptr;
    probed_monitor_from_point = nullptr;
    probed_enum_display_monitors = nullptr;
    probed_get_monitor_info = nullptr;
    probed_enum_display_devices = nullptr;
}

shell::Key key_of(WPARAM virtual_key) {
    return shell::key_from_code<WPARAM>(virtual_key, VK_SPACE, VK_LEFT, VK_RIGHT, VK_DELETE);
}

// Whether a Right or Left should give way to what is queued behind it. A step on a large
// picture outlasts the keyboard's repeat period, so a held key piles up repeats that would
// each run a whole step before a key or a movement that ends the show is seen. A queued key
// that ends the show, or a queued movement beyond the mouse rule, goes first; a repeat with
// another key press queued behind it leaves the step to that press.
bool step_gives_way(HWND window, LPARAM l_param) {
    MSG queued;
    const bool key_queued = PeekMessageA(&queued, window, WM_KEYDOWN, WM_KEYDOWN, PM_NOREMOVE) != 0;
    if (key_queued && key_of(queued.wParam) == shell::Key::Other) return true;
    POINT cursor;
    if (cursor_reference_set &&
        PeekMessageA(&queued, window, WM_MOUSEMOVE, WM_MOUSEMOVE, PM_NOREMOVE) &&
        GetCursorPos(&cursor) &&
        shell::mouse_moved_away(cursor_reference.x, cursor_reference.y, cursor.x, cursor.y))
        return true;
    const bool repeat = (l_param & (LPARAM{1} << 30)) != 0;
    return repeat && key_queued;
}

// One dimension of the area to cover: the virtual screen when the probe allows, else the
// primary screen. The probe is asked for each dimension; it runs once.
int screen_metric(int virtual_index, int primary_index) {
    if (probe_multiple_monitors()) return probed_get_system_metrics(virtual_index);
    return GetSystemMetrics(primary_index);
}
} // namespace

bool probe_multiple_monitors() {
    if (probe_done) return probed_get_monitor_info != nullptr;

    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    GetVersionExA(&version);
    const HMODULE user32 = GetModuleHandleA("USER32");

    FARPROC get_system_metrics = nullptr;
    const bool all =
        user32 && (get_system_metrics = GetProcAddress(user32, "GetSystemMetrics")) &&
        (probed_monitor_from_window = GetProcAddress(user32, "MonitorFromWindow")) &&
        (probed_monitor_from_rect = GetProcAddress(user32, "MonitorFromRect")) &&
        (probed_monitor_from_point = GetProcAddress(user32, "MonitorFromPoint")) &&
        (probed_enum_display_monitors = GetProcAddress(user32, "EnumDisplayMonitors")) &&
        (probed_get_monitor_info = GetProcAddress(user32, "GetMonitorInfoA")) &&
        (probed_enum_display_devices = GetProcAddress(user32, "EnumDisplayDevicesA"));
    probe_done = true;
    if (!all) {
        clear_probe();
        return false;
    }
    // Through the generic function type, which converts to any other without a warning.
    probed_get_system_metrics = reinterpret_cast<GetSystemMetricsFunction>(
        reinterpret_cast<void (*)()>(get_system_metrics));
    return true;
}

namespace {
BOOL CALLBACK add_monitor(HMONITOR, HDC, LPRECT rect, LPARAM list) {
    reinterpret_cast<std::vector<RECT>*>(list)->push_back(*rect);
    return TRUE;
}
} // namespace

std::vector<ScreenSaver::Area> monitor_areas(HWND window) {
    std::vector<ScreenSaver::Area> areas;
    RECT place;
    if (!GetWindowRect(window, &place)) return areas;
    std::vector<RECT> monitors;
    EnumDisplayMonitors(nullptr, nullptr, add_monitor, reinterpret_cast<LPARAM>(&monitors));
    for (const RECT& m : monitors) {
        RECT inside;
        if (!IntersectRect(&inside, &m, &place)) continue;
        ScreenSaver::Area area;
        area.x = inside.left - place.left;
        area.y = inside.top - place.top;
        area.width = inside.right - inside.left;
        area.height = inside.bottom - inside.top;
        areas.push_back(area);
    }
    return areas;
}

void follow_monitors(HWND window) {
    monitors_followed = true;
    g_screen_saver.set_screens(monitor_areas(window));
}

HWND create_screen_window(HINSTANCE instance, bool small_mode) {
    WNDCLASSEXA window_class{};
    // The structure's own size: 48 bytes on 32-bit Windows, 80 on x64.
    window_class.cbSize = sizeof window_class;
    window_class.style = 0;
    window_class.lpfnWndProc = screen_window_proc;
    window_class.hInstance = instance;
    window_class.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(kIconId));
    window_class.lpszClassName = kClassName;
    RegisterClassExA(&window_class);

    const int width = screen_metric(SM_CXVIRTUALSCREEN, SM_CXSCREEN);
    const int height = screen_metric(SM_CYVIRTUALSCREEN, SM_CYSCREEN);

    // WM_CREATE takes the cursor reference inside this call, before the window is shown.
    HWND window = CreateWindowExA(0, kClassName, "Glimmerwall", WS_POPUP, 0, 0, width, height,
                                  nullptr, nullptr, instance, nullptr);
    if (!window) return nullptr;
    SetFocus(window);
    // At (0, 0) even when the virtual screen begins elsewhere, as the rest of the show assumes.
    const shell::WindowRect place = shell::window_rect(width, height, small_mode);
    SetWindowPos(window, HWND_TOPMOST, place.x, place.y, place.width, place.height,
                 SWP_NOOWNERZORDER | SWP_SHOWWINDOW);
    return window;
}

LRESULT CALLBACK screen_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    switch (message) {
    case WM_CREATE:
        GetCursorPos(&cursor_reference);
        cursor_reference_set = true;
        return 0;
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        WindowManager::paint_window(window);
        return 0;
    case WM_DISPLAYCHANGE:
        if (monitors_followed) g_screen_saver.set_screens(monitor_areas(window));
        return 0;
    case WM_KEYDOWN: {
        // A fade ends before the key acts: the picture it acts on is the one in full view.
        if (WindowManager* display = WindowManager::of(window)) display->finish_fade();
        const shell::Key key = key_of(w_param);
        const bool arrow = key == shell::Key::Right || key == shell::Key::Left;
        if (arrow && step_gives_way(window, l_param)) return 0;
        if (!shell::on_key(g_screen_saver, key)) PostQuitMessage(0);
        return 0;
    }
    case WM_QUERYENDSESSION:
        return TRUE;
    case WM_ENDSESSION:
        // The process may be ended as soon as this returns: the marked files go now.
        if (w_param) {
            g_screen_saver.suppress_all();
            PostQuitMessage(0);
        }
        return 0;
    case WM_TIMER:
        if (w_param == WindowManager::kFadeTimer) {
            if (WindowManager* display = WindowManager::of(window)) display->fade_frame();
            return 0;
        }
        g_screen_saver.next(false);
        return 0;
    case WM_MOUSEMOVE: {
        // The cursor's screen position, not the message's window coordinates: a window that
        // is not at the origin (small mode) would otherwise shift the rule.
        POINT cursor;
        if (GetCursorPos(&cursor) && cursor_reference_set &&
            shell::mouse_moved_away(cursor_reference.x, cursor_reference.y, cursor.x, cursor.y))
            PostQuitMessage(0);
        return 0;
    }
    default:
        return DefWindowProcA(window, message, w_param, l_param);
    }
}
