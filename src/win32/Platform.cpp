// Windows side of the platform seam.
#include "Platform.h"

#include "TraceFile.h"

#include <windows.h>

#include <direct.h>
#include <share.h>

namespace platform {

const char kSeparator = '\\';

namespace {

bool is_dot_entry(const char* name) {
    return name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'));
}

// 100-nanosecond ticks from 1601 to 1970.
constexpr std::uint64_t kEpochTicks = 116444736000000000ULL;

const char* trace_file_name = "d:\\Glimmerwall.txt";

} // namespace

bool list_folder(const std::string& pattern, EntryVisitor& visitor) {
    WIN32_FIND_DATAA entry;
    // The basic level leaves out the short 8.3 names, which nothing here uses.
    HANDLE find = FindFirstFileExA(pattern.c_str(), FindExInfoBasic, &entry, FindExSearchNameMatch,
                                   nullptr, 0);
    // A folder with nothing in it (a drive's empty root has not even "." and "..") is listed.
    if (find == INVALID_HANDLE_VALUE) return GetLastError() == ERROR_FILE_NOT_FOUND;
    do {
        if (is_dot_entry(entry.cFileName)) continue;
        if (!visitor.visit(static_cast<std::uint32_t>(entry.dwFileAttributes), entry.cFileName,
                           nullptr))
            break;
    } while (FindNextFileA(find, &entry));
    FindClose(find);
    return true;
}

bool folder_id(const std::string& path, FolderId& id) {
    // Backup semantics is what lets a folder be opened; links are followed to their target.
    HANDLE handle = CreateFileA(path.c_str(), FILE_READ_ATTRIBUTES,
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
    const DWORD attributes = GetFileAttributesA(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES &&
           (attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_DEVICE)) == 0;
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

std::FILE* open_shared(const char* name, const char* mode) { return _fsopen(name, mode, _SH_DENYNO); }

std::string trace_file_path() { return trace_file_name; }

} // namespace platform
