#include "SettingsDialog.h"

#include "SettingsFile.h"
#include "SettingsIds.h"
#include "Text.h"
#include "WidePath.h"

#include <shlobj.h>

#include <cstddef>
#include <cstdio>
#include <string>

namespace {

struct State {
    std::string user_file;
    std::string program_file;
    std::string text; // the file as it was read: OK rewrites it
    settings::Settings values;
    bool written = false;
};

std::string read_whole(const std::string& path) {
    std::string text;
    HANDLE file = CreateFileW(widepath::usable(path).c_str(), GENERIC_READ,
                              FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return text;
    char buffer[4096];
    DWORD got = 0;
    while (ReadFile(file, buffer, sizeof buffer, &got, nullptr) && got > 0)
        text.append(buffer, got);
    CloseHandle(file);
    // The show reads UTF-8 with or without its mark and UTF-16 with its mark; the dialog
    // edits them as the narrow text of the process and writes that back.
    if (text.compare(0, 3, "\xEF\xBB\xBF") == 0) return text.substr(3);
    const bool little = text.compare(0, 2, "\xFF\xFE") == 0;
    if (!little && text.compare(0, 2, "\xFE\xFF") != 0) return text;
    std::wstring wide;
    for (std::size_t i = 2; i + 1 < text.size(); i += 2) {
        const auto first = static_cast<unsigned char>(text[i]);
        const auto second = static_cast<unsigned char>(text[i + 1]);
        wide += static_cast<wchar_t>(little ? first | (second << 8) : (first << 8) | second);
    }
    return widepath::narrow(wide);
}

// The new text beside the old file first, then put in its place in one step: a show that
// starts meanwhile reads the old file or the new one, never half of one.
bool write_atomically(const std::string& path, const std::string& text) {
    const std::wstring target = widepath::usable(path);
    const std::wstring::size_type cut = target.rfind(L'\\');
    if (cut == std::wstring::npos) return false;
    SHCreateDirectoryExW(nullptr, widepath::plain(target.substr(0, cut)).c_str(), nullptr);
    const std::wstring temporary = target + L".new";
    HANDLE file = CreateFileW(temporary.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                              FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    const bool ok = WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &put, nullptr) &&
                    put == text.size() && FlushFileBuffers(file);
    CloseHandle(file);
    if (ok && MoveFileExW(temporary.c_str(), target.c_str(),
                          MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return true;
    DeleteFileW(temporary.c_str());
    return false;
}

// The choices of the caption and background lists: the file's value and what the user reads.
struct Choice {
    const char* value;
    const wchar_t* label;
};
const Choice kCaptionChoices[] = {{"path", L"The file's path"},
                                  {"date", L"The date taken"},
                                  {"date+path", L"The date and the path"},
                                  {"none", L"None"}};
const Choice kBackgroundChoices[] = {{"black", L"Black"}, {"blur", L"The picture, blurred"}};

template <std::size_t N>
void fill_choices(HWND dialog, int id, const Choice (&choices)[N], const std::string& value) {
    HWND list = GetDlgItem(dialog, id);
    WPARAM selected = 0;
    for (std::size_t i = 0; i < N; ++i) {
        SendMessageW(list, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(choices[i].label));
        if (value == choices[i].value) selected = static_cast<WPARAM>(i);
    }
    SendMessageW(list, CB_SETCURSEL, selected, 0);
}

template <std::size_t N>
void take_choice(HWND dialog, int id, const Choice (&choices)[N], std::string& value) {
    const LRESULT at = SendDlgItemMessageW(dialog, id, CB_GETCURSEL, 0, 0);
    if (at >= 0 && static_cast<std::size_t>(at) < N) value = choices[at].value;
}

// A field whose text was refused: a beep, and the text selected for the user to mend.
bool refuse(HWND dialog, int id) {
    MessageBeep(MB_ICONWARNING);
    SetFocus(GetDlgItem(dialog, id));
    SendDlgItemMessageW(dialog, id, EM_SETSEL, 0, -1);
    return false;
}

std::wstring item_text(HWND dialog, int id) {
    const int length = GetWindowTextLengthW(GetDlgItem(dialog, id));
    std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
    GetDlgItemTextW(dialog, id, &text[0], length + 1);
    text.resize(static_cast<std::size_t>(length));
    return text;
}

void fill(HWND dialog, const State& state) {
    HWND folders = GetDlgItem(dialog, IDC_FOLDERS);
    for (const std::string& folder : state.values.folders)
        SendMessageW(folders, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(widen(folder).c_str()));
    std::string patterns;
    for (const std::string& pattern : state.values.exclusions)
        patterns += (patterns.empty() ? "" : "\r\n") + pattern;
    SetDlgItemTextW(dialog, IDC_EXCLUSIONS, widen(patterns).c_str());
    SetDlgItemTextW(dialog, IDC_DELAY,
                    widen(settings::seconds_text(state.values.delay_ms)).c_str());
    CheckDlgButton(dialog, IDC_SMALL, state.values.small ? BST_CHECKED : BST_UNCHECKED);
    SetDlgItemTextW(dialog, IDC_FADE, std::to_wstring(state.values.fade_ms).c_str());
    fill_choices(dialog, IDC_CAPTION, kCaptionChoices, state.values.caption);
    fill_choices(dialog, IDC_BACKGROUND, kBackgroundChoices, state.values.background);
    CheckDlgButton(dialog, IDC_EACH_SCREEN, state.values.each_screen ? BST_CHECKED : BST_UNCHECKED);
    HWND trace = GetDlgItem(dialog, IDC_TRACE);
    static const wchar_t* const kLevels[] = {L"0: the gravest only", L"1: and failures",
                                             L"2: and start-up", L"3: and events",
                                             L"4: everything"};
    for (const wchar_t* level : kLevels)
        SendMessageW(trace, CB_ADDSTRING, 0, reinterpret_cast<LPARAM>(level));
    const int level =
        state.values.trace < 0 ? 0 : (state.values.trace > 4 ? 4 : state.values.trace);
    SendMessageW(trace, CB_SETCURSEL, static_cast<WPARAM>(level), 0);
    std::string where = "Saved in " + state.user_file + ".";
    if (!state.program_file.empty())
        where += " The show reads " + state.program_file + " first: remove it to use these.";
    SetDlgItemTextW(dialog, IDC_FILE, widen(where).c_str());
}

// What the controls hold; false, with the field selected, when the delay or the fade is no
// number the show takes.
bool collect(HWND dialog, settings::Settings& values) {
    std::int32_t delay = 0;
    if (!settings::parse_seconds(widepath::narrow(item_text(dialog, IDC_DELAY)), delay))
        return refuse(dialog, IDC_DELAY);
    std::int32_t fade = 0;
    if (!settings::parse_fade(widepath::narrow(item_text(dialog, IDC_FADE)), fade))
        return refuse(dialog, IDC_FADE);
    values.delay_ms = delay;
    values.fade_ms = fade;
    take_choice(dialog, IDC_CAPTION, kCaptionChoices, values.caption);
    take_choice(dialog, IDC_BACKGROUND, kBackgroundChoices, values.background);
    values.each_screen = IsDlgButtonChecked(dialog, IDC_EACH_SCREEN) == BST_CHECKED;
    values.folders.clear();
    HWND folders = GetDlgItem(dialog, IDC_FOLDERS);
    const LRESULT count = SendMessageW(folders, LB_GETCOUNT, 0, 0);
    for (LRESULT i = 0; i < count; ++i) {
        const LRESULT length = SendMessageW(folders, LB_GETTEXTLEN, static_cast<WPARAM>(i), 0);
        if (length <= 0) continue;
        std::wstring text(static_cast<std::size_t>(length) + 1, L'\0');
        SendMessageW(folders, LB_GETTEXT, static_cast<WPARAM>(i),
                     reinterpret_cast<LPARAM>(&text[0]));
        text.resize(static_cast<std::size_t>(length));
        values.folders.push_back(widepath::narrow(text));
    }
    values.exclusions.clear();
    const std::string patterns = widepath::narrow(item_text(dialog, IDC_EXCLUSIONS));
    std::string::size_type begin = 0;
    while (begin <= patterns.size()) {
        std::string::size_type end = patterns.find('\n', begin);
        if (end == std::string::npos) end = patterns.size();
        std::string pattern = patterns.substr(begin, end - begin);
        const std::string::size_type first = pattern.find_first_not_of(" \t\r");
        const std::string::size_type last = pattern.find_last_not_of(" \t\r");
        if (first != std::string::npos)
            values.exclusions.push_back(pattern.substr(first, last - first + 1));
        begin = end + 1;
    }
    values.small = IsDlgButtonChecked(dialog, IDC_SMALL) == BST_CHECKED;
    const LRESULT level = SendDlgItemMessageW(dialog, IDC_TRACE, CB_GETCURSEL, 0, 0);
    if (level >= 0) values.trace = static_cast<std::int32_t>(level);
    return true;
}

void add_folder(HWND dialog) {
    BROWSEINFOW browse{};
    browse.hwndOwner = dialog;
    browse.lpszTitle = L"A folder of pictures:";
    browse.ulFlags = BIF_RETURNONLYFSDIRS | BIF_NEWDIALOGSTYLE;
    PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&browse);
    if (!chosen) return;
    wchar_t path[MAX_PATH];
    if (SHGetPathFromIDListW(chosen, path))
        SendDlgItemMessageW(dialog, IDC_FOLDERS, LB_ADDSTRING, 0, reinterpret_cast<LPARAM>(path));
    CoTaskMemFree(chosen);
}

INT_PTR CALLBACK dialog_proc(HWND dialog, UINT message, WPARAM w_param, LPARAM l_param) {
    State* state = reinterpret_cast<State*>(GetWindowLongPtrW(dialog, DWLP_USER));
    switch (message) {
    case WM_INITDIALOG:
        SetWindowLongPtrW(dialog, DWLP_USER, l_param);
        fill(dialog, *reinterpret_cast<State*>(l_param));
        return TRUE;
    case WM_COMMAND:
        switch (LOWORD(w_param)) {
        case IDC_ADD:
            add_folder(dialog);
            return TRUE;
        case IDC_REMOVE: {
            const LRESULT at = SendDlgItemMessageW(dialog, IDC_FOLDERS, LB_GETCURSEL, 0, 0);
            if (at != LB_ERR)
                SendDlgItemMessageW(dialog, IDC_FOLDERS, LB_DELETESTRING, static_cast<WPARAM>(at),
                                    0);
            return TRUE;
        }
        case IDOK: {
            settings::Settings values = state->values;
            if (!collect(dialog, values)) return TRUE;
            if (!write_atomically(state->user_file, settings::rewrite(state->text, values))) {
                const std::wstring text =
                    widen("The settings could not be saved in " + state->user_file + ".");
                MessageBoxW(dialog, text.c_str(), L"Glimmerwall", MB_OK | MB_ICONERROR);
                return TRUE;
            }
            state->written = true;
            EndDialog(dialog, IDOK);
            return TRUE;
        }
        case IDCANCEL:
            EndDialog(dialog, IDCANCEL);
            return TRUE;
        }
        return FALSE;
    default:
        return FALSE;
    }
}

} // namespace

bool run_settings_dialog(HINSTANCE instance, HWND owner, const std::string& user_file,
                         const std::string& program_file) {
    State state;
    state.user_file = user_file;
    state.program_file = program_file;
    state.text = read_whole(user_file);
    state.values = settings::read(state.text);
    // The folder picker needs the thread in a single-threaded apartment.
    const HRESULT com = CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED | COINIT_DISABLE_OLE1DDE);
    DialogBoxParamW(instance, MAKEINTRESOURCEW(IDD_SETTINGS), owner, dialog_proc,
                    reinterpret_cast<LPARAM>(&state));
    if (SUCCEEDED(com)) CoUninitialize();
    return state.written;
}
