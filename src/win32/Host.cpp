#include "Host.h"

#include "ScreenSaver.h"
#include "ScreenWindow.h"
#include "Text.h"
#include "WidePath.h"
#include "WindowManager.h"

#include <shlobj.h>

#include <initializer_list>

namespace {
const char kPreviewClass[] = "GLWLPreview";

constexpr UINT kWatchPeriodMs = 100;

// The dialog window that the preview lives in, and the preview; read on every tick.
HWND preview_parent = nullptr;
HWND preview_window = nullptr;

// A host that dies takes its windows, ours included, without a message to this thread: the
// window's own timer then stops too. This timer belongs to the thread and notices it.
void CALLBACK watch_parent(HWND, UINT, UINT_PTR, DWORD) {
    if (IsWindow(preview_parent) && IsWindow(preview_window)) return;
    if (IsWindow(preview_window))
        DestroyWindow(preview_window);
    else
        PostQuitMessage(0);
}

LRESULT CALLBACK preview_window_proc(HWND window, UINT message, WPARAM w_param, LPARAM l_param) {
    switch (message) {
    case WM_DESTROY:
        PostQuitMessage(0);
        return 0;
    case WM_PAINT:
        WindowManager::paint_window(window);
        return 0;
    case WM_TIMER:
        // A host in another process may go without destroying this child first.
        if (!IsWindow(preview_parent)) {
            DestroyWindow(window);
            return 0;
        }
        if (w_param == WindowManager::kFadeTimer) {
            if (WindowManager* display = WindowManager::of(window)) display->fade_frame();
            return 0;
        }
        g_screen_saver.next(false);
        return 0;
    default:
        // Keys and the mouse belong to the dialog: nothing here ends the show or marks a file.
        return DefWindowProcA(window, message, w_param, l_param);
    }
}

// The folder above `folder`; a drive's root is its own parent.
std::string parent_of(std::string folder) {
    while (folder.size() > 1 && folder.back() == '\\') folder.pop_back();
    const std::string::size_type cut = folder.rfind('\\');
    if (cut == std::string::npos) return folder;
    return folder.substr(0, cut == 2 && folder[1] == ':' ? cut + 1 : cut);
}

std::string in_folder(const std::string& folder, const char* name) {
    if (!folder.empty() && folder.back() != '\\') return folder + "\\" + name;
    return folder + name;
}
} // namespace

HWND create_preview_window(HINSTANCE instance, HWND parent) {
    RECT area;
    if (!GetClientRect(parent, &area) || area.right <= 0 || area.bottom <= 0) return nullptr;
    preview_parent = parent;

    WNDCLASSEXA window_class{};
    window_class.cbSize = sizeof window_class;
    window_class.lpfnWndProc = preview_window_proc;
    window_class.hInstance = instance;
    // The dialog's pointer, not the show's hidden one.
    window_class.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    window_class.lpszClassName = kPreviewClass;
    RegisterClassExA(&window_class);
    preview_window = CreateWindowExA(0, kPreviewClass, "Glimmerwall", WS_CHILD | WS_VISIBLE, 0, 0,
                                     area.right, area.bottom, parent, nullptr, instance, nullptr);
    if (preview_window) SetTimer(nullptr, 0, kWatchPeriodMs, watch_parent);
    return preview_window;
}

bool is_preview_area(HWND window) {
    if (!window || !IsWindow(window) || window == GetDesktopWindow()) return false;
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_STYLE);
    return (style & WS_CHILD) != 0 && GetAncestor(window, GA_PARENT) != GetDesktopWindow();
}

std::string user_settings_path() {
    PWSTR folder = nullptr;
    std::string path;
    if (SUCCEEDED(SHGetKnownFolderPath(FOLDERID_RoamingAppData, 0, nullptr, &folder)))
        path = widepath::narrow(folder) + "\\Glimmerwall\\Glimmerwall.cfg";
    CoTaskMemFree(folder);
    return path;
}

std::string program_settings_file(const std::string& program_folder) {
    for (const std::string& path : {in_folder(program_folder, "Glimmerwall.cfg"),
                                    in_folder(parent_of(program_folder), "Glimmerwall.cfg")})
        if (GetFileAttributesW(widepath::usable(path).c_str()) != INVALID_FILE_ATTRIBUTES)
            return path;
    return std::string();
}
