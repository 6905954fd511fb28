// Stand-in for the host's screen-saver settings dialog, for the Wine tests: it starts
// Glimmerwall.scr the way the host does and writes what it sees to a report file, one
// "key value" line per finding. The test side creates "<report>.close" to end a scene.
//   SaverHost preview <report> <scr> [vanish]
//                                           a dialog with a preview child; "/p <child>";
//                                           with "vanish", the dialog's process ends
//                                           abruptly once the preview is in place; with
//                                           "early", the dialog goes at once
//   SaverHost settings <report> <scr> owned|alone ok|cancel <folder>
//                                           "/c:<dialog>" or "/c"; fills the Settings dialog,
//                                           then presses OK or Cancel once asked to
//   SaverHost desktop <report> <scr>        "/p <the desktop's handle>"
//   SaverHost start <report> <scr> <folder> <command line>
//                                           the scr run from another current folder
//   SaverHost text <report> <height> <utf-8 file>
//                                           a caption as the show would draw it, at (0, 0)
#include "SettingsIds.h"

#include <windows.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace {

constexpr int kDialogX = 300, kDialogY = 200, kDialogW = 600, kDialogH = 400;
constexpr int kChildX = 40, kChildY = 40, kChildW = 320, kChildH = 240;

std::string g_report;

void report(const std::string& line) {
    if (std::FILE* file = std::fopen(g_report.c_str(), "a")) {
        std::fprintf(file, "%s\n", line.c_str());
        std::fclose(file);
    }
}

bool close_asked() {
    return GetFileAttributesA((g_report + ".close").c_str()) != INVALID_FILE_ATTRIBUTES;
}

// Dispatches messages for `ms` milliseconds.
void pump(DWORD ms) {
    const DWORD begin = GetTickCount();
    while (GetTickCount() - begin < ms) {
        MSG message;
        while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
            TranslateMessage(&message);
            DispatchMessageA(&message);
        }
        Sleep(10);
    }
}

HWND make_window(const char* cls, DWORD style, int x, int y, int w, int h, HWND parent,
                 HBRUSH brush) {
    WNDCLASSA window_class{};
    window_class.lpfnWndProc = DefWindowProcA;
    window_class.hInstance = GetModuleHandleA(nullptr);
    window_class.hbrBackground = brush;
    window_class.lpszClassName = cls;
    RegisterClassA(&window_class);
    return CreateWindowExA(0, cls, "Host", style, x, y, w, h, parent, nullptr,
                           GetModuleHandleA(nullptr), nullptr);
}

HWND make_dialog() {
    HWND dialog =
        make_window("HostDialog", WS_POPUP | WS_VISIBLE | WS_CLIPCHILDREN, kDialogX, kDialogY,
                    kDialogW, kDialogH, nullptr, CreateSolidBrush(RGB(128, 128, 128)));
    pump(100);
    return dialog;
}

bool start(const std::string& scr, const std::string& line, const char* folder,
           PROCESS_INFORMATION& process) {
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    std::string mutable_line = line;
    if (!CreateProcessA(scr.c_str(), &mutable_line[0], nullptr, nullptr, FALSE, 0, nullptr, folder,
                        &startup, &process)) {
        report("error start " + std::to_string(GetLastError()));
        return false;
    }
    report("pid " + std::to_string(process.dwProcessId));
    return true;
}

// "exit <code> <ms>" once the process has ended within `ms`, else "running"; then it is ended.
void report_end(const PROCESS_INFORMATION& process, DWORD ms) {
    const DWORD begin = GetTickCount();
    DWORD code = STILL_ACTIVE;
    while (GetTickCount() - begin < ms) {
        if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0) break;
        pump(10);
    }
    if (WaitForSingleObject(process.hProcess, 0) == WAIT_OBJECT_0 &&
        GetExitCodeProcess(process.hProcess, &code)) {
        report("exit " + std::to_string(code) + " " + std::to_string(GetTickCount() - begin));
    } else {
        report("running");
        TerminateProcess(process.hProcess, 99);
    }
}

struct Search {
    DWORD pid;
    std::string found;
};

BOOL CALLBACK note_window_of(HWND window, LPARAM data) {
    auto* search = reinterpret_cast<Search*>(data);
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (pid == search->pid && IsWindowVisible(window)) {
        char cls[64] = "";
        GetClassNameA(window, cls, sizeof cls);
        RECT rect;
        GetWindowRect(window, &rect);
        search->found = std::string(cls) + " " + std::to_string(rect.right - rect.left) + " " +
                        std::to_string(rect.bottom - rect.top);
    }
    return TRUE;
}

int preview(const std::string& scr, bool vanish, bool early) {
    HWND dialog = make_dialog();
    HWND child = make_window("HostPreview", WS_CHILD | WS_VISIBLE | WS_CLIPCHILDREN, kChildX,
                             kChildY, kChildW, kChildH, dialog, CreateSolidBrush(RGB(0, 0, 255)));
    POINT origin = {0, 0};
    ClientToScreen(child, &origin);
    report("child " + std::to_string(origin.x) + " " + std::to_string(origin.y) + " " +
           std::to_string(kChildW) + " " + std::to_string(kChildH));
    PROCESS_INFORMATION process;
    const std::string handle = std::to_string(reinterpret_cast<std::uintptr_t>(child));
    if (!start(scr, "\"" + scr + "\" /p " + handle, nullptr, process)) return 1;
    if (early) {
        // The dialog closed before the preview could find its window.
        DestroyWindow(dialog);
        report_end(process, 3000);
        return 0;
    }

    bool inside = false, top_level = false;
    while (!close_asked()) {
        Search search{process.dwProcessId, {}};
        EnumWindows(note_window_of, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty() && !top_level) report("top-level " + search.found);
        top_level = top_level || !search.found.empty();
        search.found.clear();
        EnumChildWindows(child, note_window_of, reinterpret_cast<LPARAM>(&search));
        if (!search.found.empty() && !inside) report("inside " + search.found);
        inside = inside || !search.found.empty();
        // Gone without destroying a window, as a crashing dialog would.
        if (inside && vanish) TerminateProcess(GetCurrentProcess(), 3);
        pump(20);
    }
    DestroyWindow(dialog);
    report_end(process, 3000);
    return 0;
}

// The Settings dialog filled through its controls' messages: `folder` added, the first folder
// it showed removed, two exclusions, 2.5 seconds, small mode switched, trace level 1, the
// caption with date and path, the blurred background, a picture on each monitor, an 800 ms
// fade; then, once the test asks, OK or Cancel.
int settings(const std::string& scr, bool owned, bool ok, const std::string& folder) {
    HWND dialog = make_dialog();
    PROCESS_INFORMATION process;
    const std::string line =
        "\"" + scr + "\" " +
        (owned ? "/c:" + std::to_string(reinterpret_cast<std::uintptr_t>(dialog)) : "/c");
    if (!start(scr, line, nullptr, process)) return 1;

    HWND box = nullptr;
    for (int i = 0; i < 500 && !box; ++i) {
        if (FindWindowA("GLWL", nullptr)) report("show");
        // Visible only once its controls are filled.
        box = FindWindowA("#32770", "Glimmerwall Settings");
        if (box && !IsWindowVisible(box)) box = nullptr;
        if (!box) pump(20);
    }
    if (!box) {
        report("no box");
        report_end(process, 0);
        return 0;
    }
    DWORD pid = 0;
    GetWindowThreadProcessId(box, &pid);
    report(std::string("box ") + (pid == process.dwProcessId ? "of the scr" : "of another"));
    report(std::string("owner ") + (GetWindow(box, GW_OWNER) == dialog ? "dialog" : "none"));
    HWND folders = GetDlgItem(box, IDC_FOLDERS);
    std::string shown;
    const LRESULT count = SendMessageA(folders, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        wchar_t wide[1024] = L"";
        if (SendMessageW(folders, LB_GETTEXTLEN, i, 0) < 1000)
            SendMessageW(folders, LB_GETTEXT, i, reinterpret_cast<LPARAM>(wide));
        char text[4096] = "";
        WideCharToMultiByte(CP_UTF8, 0, wide, -1, text, sizeof text, nullptr, nullptr);
        shown += std::string(i ? "|" : "") + text;
    }
    report("folders " + shown);
    char delay[64] = "";
    GetDlgItemTextA(box, IDC_DELAY, delay, sizeof delay);
    report(std::string("delay ") + delay);
    char fade[64] = "";
    GetDlgItemTextA(box, IDC_FADE, fade, sizeof fade);
    report(std::string("fade ") + fade);

    SendMessageA(folders, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(folder.c_str()));
    SendMessageA(folders, LB_SETCURSEL, 0, 0);
    SendMessageA(GetDlgItem(box, IDC_REMOVE), BM_CLICK, 0, 0);
    SetDlgItemTextA(box, IDC_EXCLUSIONS, "thumbs\r\n  raw \r\n");
    SetDlgItemTextA(box, IDC_DELAY, "2.5");
    SendMessageA(GetDlgItem(box, IDC_SMALL), BM_CLICK, 0, 0);
    SendMessageA(GetDlgItem(box, IDC_TRACE), CB_SETCURSEL, 1, 0);
    SendMessageA(GetDlgItem(box, IDC_CAPTION), CB_SETCURSEL, 2, 0);
    SendMessageA(GetDlgItem(box, IDC_BACKGROUND), CB_SETCURSEL, 1, 0);
    SendMessageA(GetDlgItem(box, IDC_EACH_SCREEN), BM_CLICK, 0, 0);
    SetDlgItemTextA(box, IDC_FADE, "800");
    pump(300);
    report("filled 1");
    while (!close_asked()) pump(20);
    if (FindWindowA("GLWL", nullptr)) report("show");
    SendMessageA(GetDlgItem(box, ok ? IDOK : IDCANCEL), BM_CLICK, 0, 0);
    report_end(process, 5000);
    return 0;
}

// The desktop's handle as the preview's window, which a preview must refuse.
int desktop(const std::string& scr) {
    PROCESS_INFORMATION process;
    const std::string handle = std::to_string(reinterpret_cast<std::uintptr_t>(GetDesktopWindow()));
    report("desktop " + handle);
    if (!start(scr, "\"" + scr + "\" /p " + handle, nullptr, process)) return 1;
    report_end(process, 5000);
    return 0;
}

int start_elsewhere(const std::string& scr, const std::string& folder, const std::string& line) {
    PROCESS_INFORMATION process;
    if (!start(scr, line, folder.c_str(), process)) return 1;
    WaitForSingleObject(process.hProcess, INFINITE);
    DWORD code = 1;
    GetExitCodeProcess(process.hProcess, &code);
    return static_cast<int>(code);
}

int text(int height, const std::string& file) {
    std::string utf8;
    if (std::FILE* in = std::fopen(file.c_str(), "rb")) {
        char buffer[1024];
        const std::size_t n = std::fread(buffer, 1, sizeof buffer, in);
        utf8.assign(buffer, n);
        std::fclose(in);
    }
    wchar_t wide[1024];
    const int length =
        MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), wide, 1024);
    HWND window = make_window("HostText", WS_POPUP | WS_VISIBLE, 0, 0, 1200, 200, nullptr,
                              static_cast<HBRUSH>(GetStockObject(BLACK_BRUSH)));
    HFONT font = CreateFontA(height, 0, 0, 0, FW_DONTCARE, FALSE, FALSE, FALSE, ANSI_CHARSET, 0, 0,
                             0, 0, "Tahoma");
    int drawn = 0;
    while (!close_asked()) {
        HDC dc = GetWindowDC(window);
        SelectObject(dc, font);
        SetTextColor(dc, RGB(255, 240, 240));
        SetBkColor(dc, RGB(0, 0, 0));
        TextOutW(dc, 0, 0, wide, length);
        ReleaseDC(window, dc);
        if (++drawn == 5) report("drawn 5");
        pump(20);
    }
    return 0;
}

} // namespace

int main(int argc, char** argv) {
    if (argc < 3) return 2;
    g_report = argv[2];
    const std::string what = argv[1];
    if (what == "preview" && (argc == 4 || argc == 5))
        return preview(argv[3], argc == 5 && std::strcmp(argv[4], "vanish") == 0,
                       argc == 5 && std::strcmp(argv[4], "early") == 0);
    if (what == "settings" && argc == 7)
        return settings(argv[3], std::strcmp(argv[4], "owned") == 0,
                        std::strcmp(argv[5], "ok") == 0, argv[6]);
    if (what == "desktop" && argc == 4) return desktop(argv[3]);
    if (what == "start" && argc == 6) return start_elsewhere(argv[3], argv[4], argv[5]);
    if (what == "text" && argc == 5) return text(std::atoi(argv[3]), argv[4]);
    return 2;
}
