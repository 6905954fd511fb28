// Windows side of the platform seam.
#include "Platform.h"

#include "Ascii.h"
#include "TraceFile.h"
#include "WidePath.h"

#include <windows.h>

#include <shlobj.h>

#include <cstdlib>
#include <cstring>

#include <direct.h>
#include <fcntl.h>
#include <io.h>

namespace platform {

const char kSeparator = '\\';

namespace {

bool is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

bool is_separator(char c) { return c == '\\' || c == '/'; }

// CON, PRN, AUX, NUL, COM1 to COM9, LPT1 to LPT9 (and the superscript digits 1, 2, 3 of the
// Windows code page), CONIN$ and CONOUT$: the Win32 layer opens the device under any extension
// ("aux.bmp"), and spaces before the extension do not change that ("com1 .jpg").
bool is_device_name(const char* name, std::size_t length) {
    std::size_t base = 0;
    while (base < length && name[base] != '.') ++base;
    while (base > 0 && name[base - 1] == ' ') --base;
    if (base < 3 || base > 7) return false;
    std::string stem(name, base);
    for (char& c : stem) c = ascii_lower(c);
    if (stem == "con" || stem == "prn" || stem == "aux" || stem == "nul" || stem == "conin$" ||
        stem == "conout$")
        return true;
    if (base != 4 || (stem.compare(0, 3, "com") != 0 && stem.compare(0, 3, "lpt") != 0))
        return false;
    const auto digit = static_cast<unsigned char>(stem[3]);
    return (digit >= '1' && digit <= '9') || digit == 0xb9 || digit == 0xb2 || digit == 0xb3;
}

// False for a path that the Win32 layer would take for another: a device name as its last
// component, or a component that loses its trailing dot or space.
bool names_itself(const std::string& path) {
    // Every component but "." and ".." must survive the Win32 normalisation, which drops a
    // trailing dot or space: "red.bmp." would open, and delete, "red.bmp".
    std::size_t begin = 0;
    while (begin <= path.size()) {
        std::size_t end = begin;
        while (end < path.size() && !is_separator(path[end])) ++end;
        const std::size_t length = end - begin;
        const bool dots = (length == 1 && path[begin] == '.') ||
                          (length == 2 && path[begin] == '.' && path[begin + 1] == '.');
        if (length > 0 && !dots && (path[end - 1] == '.' || path[end - 1] == ' ')) return false;
        if (end == path.size()) return length > 0 && !is_device_name(path.c_str() + begin, length);
        begin = end + 1;
    }
    return false;
}

// 100-nanosecond ticks from 1601 to 1970.
constexpr std::uint64_t kEpochTicks = 116444736000000000ULL;

const char* trace_file_name = "d:\\Glimmerwall.txt";

} // namespace

bool list_folder(const std::string& pattern, EntryVisitor& visitor) {
    WIN32_FIND_DATAW entry;
    // The wide call, with the long-path prefix where needed: the narrow one stops at 260
    // characters. The basic level leaves out the short 8.3 names, which nothing here uses.
    HANDLE find = FindFirstFileExW(widepath::usable(pattern).c_str(), FindExInfoBasic, &entry,
                                   FindExSearchNameMatch, nullptr, 0);
    // A folder with nothing in it (a drive's empty root has not even "." and "..") is listed.
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        const std::string name = widepath::narrow(entry.cFileName);
        if (name.empty() || is_dot_entry(name.c_str())) continue;
        if (!visitor.visit(static_cast<std::uint32_t>(entry.dwFileAttributes), name.c_str(),
                           nullptr))
            break;
    } while (FindNextFileW(find, &entry));
    FindClose(find);
    return true;
}

bool folder_id(const std::string& path, FolderId& id) {
    // Backup semantics is what lets a folder be opened; links are followed to their target.
    HANDLE handle = CreateFileW(widepath::usable(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION info;
    const bool ok = GetFileInformationByHandle(handle, &info) != FALSE &&
                    (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    CloseHandle(handle);
    if (!ok) return false;
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
}

bool is_regular_file(const std::string& path) {
    if (!names_itself(path)) return false;
    const std::wstring wide = widepath::usable(path);
    const DWORD attributes = GetFileAttributesW(wide.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES ||
        (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) != 0)
        return false;
    // The attributes of a device can look like a file's: only an open handle tells for sure.
    // Attribute access alone reads nothing and is granted even on files locked for reading.
    HANDLE handle = CreateFileW(wide.c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return false;
    const bool disk = GetFileType(handle) == FILE_TYPE_DISK;
    CloseHandle(handle);
    return disk;
}

bool change_directory(const std::string& path) { return _chdir(path.c_str()) == 0; }

std::string current_directory() {
    char buffer[300];
    return _getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

void use_preview_trace_file() { trace_file_name = "d:\\Glimmerwall-preview.txt"; }

std::tm local_time(std::int64_t seconds) {
    const std::time_t t = static_cast<std::time_t>(seconds);
    std::tm result{};
    localtime_s(&result, &t);
    return result;
}

void wall_clock(std::int64_t& seconds, std::int32_t& milliseconds) {
    FILETIME now;
    GetSystemTimeAsFileTime(&now);
    const std::uint64_t ticks =
        (static_cast<std::uint64_t>(now.dwHighDateTime) << 32) | now.dwLowDateTime;
    const std::uint64_t since_1970 = ticks - kEpochTicks;
    seconds = static_cast<std::int64_t>(since_1970 / 10000000ULL);
    milliseconds = static_cast<std::int32_t>((since_1970 % 10000000ULL) / 10000ULL);
}

std::FILE* open_shared(const char* name, const char* mode, OpenFailure* failure) {
    OpenFailure ignored;
    OpenFailure& why = failure ? *failure : ignored;
    bool write = false;
    if (!open_request(name, mode, why, write)) return nullptr;
    // For writing, a link is opened as itself, so that it can be recognised and left alone.
    HANDLE handle =
        CreateFileW(widepath::usable(name).c_str(), write ? GENERIC_WRITE : GENERIC_READ,
                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                    write ? OPEN_ALWAYS : OPEN_EXISTING,
                    FILE_ATTRIBUTE_NORMAL | (write ? FILE_FLAG_OPEN_REPARSE_POINT : 0), nullptr);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    BY_HANDLE_FILE_INFORMATION info;
    if (GetFileType(handle) != FILE_TYPE_DISK || !GetFileInformationByHandle(handle, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
        why = OpenFailure::NotRegular;
    } else if (write && (info.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        why = OpenFailure::Link;
    } else if (!write || SetEndOfFile(handle)) {
        const bool binary = std::strchr(mode, 'b') != nullptr;
        const int access = write ? _O_WRONLY : _O_RDONLY;
        const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(handle),
                                       access | (binary ? _O_BINARY : _O_TEXT));
        if (fd != -1) {
            // The descriptor owns the handle from here on.
            std::FILE* file = _fdopen(fd, write ? (binary ? "wb" : "wt") : (binary ? "rb" : "rt"));
            if (!file) {
                _close(fd);
                return nullptr;
            }
            why = OpenFailure::None;
            return file;
        }
    }
    CloseHandle(handle);
    return nullptr;
}

std::string trace_file_path() { return trace_file_name; }

std::int64_t monotonic_ms() { return static_cast<std::int64_t>(GetTickCount64()); }

std::string narrow_from_utf8(const std::string& utf8) {
    // The narrow file functions take the ANSI code page; UTF-8 passes through when that is it.
    if (utf8.empty() || GetACP() == CP_UTF8) return utf8;
    const int size = static_cast<int>(utf8.size());
    const int wide_length = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, nullptr, 0);
    if (wide_length <= 0) return utf8;
    std::wstring wide(static_cast<std::size_t>(wide_length), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), size, &wide[0], wide_length);
    const int narrow_length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (narrow_length <= 0) return utf8;
    std::string narrow(static_cast<std::size_t>(narrow_length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, &narrow[0], narrow_length, nullptr,
                        nullptr);
    return narrow;
}

namespace {

// The system's text for an error code, without its closing period and line break.
std::string system_message(DWORD code) {
    char buffer[256];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                  nullptr, code, 0, buffer, sizeof buffer, nullptr);
    while (length > 0 && (buffer[length - 1] == '\r' || buffer[length - 1] == '\n' ||
                          buffer[length - 1] == '.' || buffer[length - 1] == ' '))
        --length;
    if (length == 0) return "error " + std::to_string(static_cast<unsigned long>(code));
    return std::string(buffer, length);
}

bool same_ignoring_case(const std::string& a, const char* b) {
    std::size_t i = 0;
    for (; i < a.size() && b[i] != '\0'; ++i)
        if (ascii_lower(a[i]) != ascii_lower(b[i])) return false;
    return i == a.size() && b[i] == '\0';
}

} // namespace

Lookup file_identity(const std::string& path, bool follow, FileId& id, std::string& why) {
    // Backup semantics opens folders too; without following, a link or junction is opened
    // itself rather than what it leads to.
    const DWORD flags = FILE_FLAG_BACKUP_SEMANTICS | (follow ? 0 : FILE_FLAG_OPEN_REPARSE_POINT);
    HANDLE handle = CreateFileW(widepath::usable(path).c_str(), FILE_READ_ATTRIBUTES,
                                FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                OPEN_EXISTING, flags, nullptr);
    if (handle == INVALID_HANDLE_VALUE) {
        const DWORD error = GetLastError();
        if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND) return Lookup::missing;
        why = system_message(error);
        return Lookup::failed;
    }
    BY_HANDLE_FILE_INFORMATION info;
    // A device reached through a reserved name (aux, com1, ...) is no file of ours.
    const bool on_disk = GetFileType(handle) == FILE_TYPE_DISK;
    const bool ok = on_disk && GetFileInformationByHandle(handle, &info) != FALSE;
    const DWORD error = GetLastError();
    CloseHandle(handle);
    if (!ok) {
        why = on_disk ? system_message(error) : "not a file on disk";
        return Lookup::failed;
    }
    id.volume = info.dwVolumeSerialNumber;
    id.index = (static_cast<std::uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    id.size = (static_cast<std::uint64_t>(info.nFileSizeHigh) << 32) | info.nFileSizeLow;
    id.modified = static_cast<std::int64_t>(
        (static_cast<std::uint64_t>(info.ftLastWriteTime.dwHighDateTime) << 32) |
        info.ftLastWriteTime.dwLowDateTime);
    return Lookup::found;
}

std::int64_t modified_ms(const FileId& id) {
    return (id.modified - static_cast<std::int64_t>(kEpochTicks)) / 10000;
}

bool is_reserved_folder(const std::string& path, const FolderId*) {
    const std::size_t end = path.find_last_not_of("\\/");
    if (end == std::string::npos) return false;
    const std::size_t cut = path.find_last_of("\\/:", end);
    const std::string name = path.substr(cut == std::string::npos ? 0 : cut + 1,
                                         end + 1 - (cut == std::string::npos ? 0 : cut + 1));
    return same_ignoring_case(name, "$RECYCLE.BIN") || same_ignoring_case(name, "RECYCLER") ||
           same_ignoring_case(name, "System Volume Information");
}

std::string folder_problem(const std::string& path) {
    const DWORD attributes = GetFileAttributesW(widepath::usable(path).c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) return system_message(GetLastError());
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return system_message(ERROR_DIRECTORY);
    WIN32_FIND_DATAW entry;
    HANDLE find = FindFirstFileExW(widepath::usable(path + "\\*.*").c_str(), FindExInfoBasic,
                                   &entry, FindExSearchNameMatch, nullptr, 0);
    if (find == INVALID_HANDLE_VALUE) return system_message(GetLastError());
    FindClose(find);
    return "the listing failed";
}

std::string index_file_path() {
    // The local (not roaming) application data: the index describes this machine's disks.
    char local[MAX_PATH];
    std::string base;
    if (SHGetFolderPathA(nullptr, CSIDL_LOCAL_APPDATA, nullptr, SHGFP_TYPE_CURRENT, local) == S_OK)
        base = local;
    else if (const char* named = std::getenv("LOCALAPPDATA"))
        base = named;
    if (base.empty()) return {};
    const std::string folder = base + "\\Glimmerwall";
    if (!CreateDirectoryA(folder.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
        return {};
    const DWORD attributes = GetFileAttributesA(folder.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES || !(attributes & FILE_ATTRIBUTE_DIRECTORY))
        return {};
    return folder + "\\index";
}

bool replace_file(const std::string& from, const std::string& to) {
    return MoveFileExA(from.c_str(), to.c_str(),
                       MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) != 0;
}

} // namespace platform
