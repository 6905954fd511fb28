#include "WidePath.h"

#include "Text.h"

#include <windows.h>

#include <cwchar>

namespace widepath {

namespace {

bool starts_with(const std::wstring& text, const wchar_t* prefix) {
    return text.compare(0, std::wcslen(prefix), prefix) == 0;
}

bool has_drive(const std::wstring& text, std::size_t at) {
    return text.size() >= at + 2 && text[at + 1] == L':' &&
           ((text[at] >= L'A' && text[at] <= L'Z') || (text[at] >= L'a' && text[at] <= L'z')) &&
           (text.size() == at + 2 || text[at + 2] == L'\\' || text[at + 2] == L'/');
}

bool unc_prefix(const std::wstring& text) {
    return text.size() >= 8 && (text[4] == L'U' || text[4] == L'u') &&
           (text[5] == L'N' || text[5] == L'n') && (text[6] == L'C' || text[6] == L'c') &&
           text[7] == L'\\';
}

// What the Win32 layer would stop at: MAX_PATH counts the terminator.
constexpr std::size_t kShortLimit = MAX_PATH - 1;

} // namespace

std::wstring plain(const std::wstring& path) {
    const bool question = starts_with(path, L"\\\\?\\") || starts_with(path, L"//?/");
    const bool dot = starts_with(path, L"\\\\.\\") || starts_with(path, L"//./");
    if (!question && !dot) return path;
    if (has_drive(path, 4)) return path.substr(4);
    if (question && unc_prefix(path)) return L"\\\\" + path.substr(8);
    return path;
}

bool is_namespace_path(const std::wstring& path) {
    const std::wstring p = plain(path);
    return starts_with(p, L"\\\\?\\") || starts_with(p, L"\\\\.\\") || starts_with(p, L"//?/") ||
           starts_with(p, L"//./");
}

std::wstring usable(const std::string& narrow_path) {
    std::wstring path = plain(widen(narrow_path));
    if (path.empty() || is_namespace_path(path)) return path;
    const DWORD needed = GetFullPathNameW(path.c_str(), 0, nullptr, nullptr);
    if (needed == 0) return std::wstring();
    std::wstring full(needed, L'\0');
    const DWORD length = GetFullPathNameW(path.c_str(), needed, &full[0], nullptr);
    if (length == 0 || length >= needed) return std::wstring();
    full.resize(length);
    if (full.size() < kShortLimit) return full;
    if (starts_with(full, L"\\\\")) return L"\\\\?\\UNC\\" + full.substr(2);
    return L"\\\\?\\" + full;
}

std::string narrow(const std::wstring& wide) {
    if (wide.empty()) return std::string();
    const int size = static_cast<int>(wide.size());
    const int length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
    if (length <= 0) return std::string();
    std::string text(static_cast<std::size_t>(length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), size, &text[0], length, nullptr, nullptr);
    return text;
}

} // namespace widepath
