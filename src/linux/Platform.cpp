// POSIX side of the platform seam.
#include "Platform.h"
#include "UserFolders.h"

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <dirent.h>
#include <fcntl.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <time.h>
#include <unistd.h>

namespace platform {

const char kSeparator = '/';

namespace {

// The core writes folder + "/*.*"; POSIX lists the folder itself.
std::string folder_of_pattern(const std::string& pattern) {
    static const std::string wildcard = "/*.*";
    if (pattern.size() >= wildcard.size() &&
        pattern.compare(pattern.size() - wildcard.size(), wildcard.size(), wildcard) == 0) {
        std::string folder = pattern.substr(0, pattern.size() - wildcard.size());
        return folder.empty() ? "/" : folder;
    }
    return pattern;
}

std::uint32_t attributes_of(int dir_fd, const struct dirent* entry) {
    unsigned char type = entry->d_type;
    if (type == DT_DIR) return kAttributeDirectory;
    if (type != DT_LNK && type != DT_UNKNOWN) return 0;
    struct stat st;
    if (type == DT_UNKNOWN) {
        if (fstatat(dir_fd, entry->d_name, &st, AT_SYMLINK_NOFOLLOW) != 0) return 0;
        if (S_ISDIR(st.st_mode)) return kAttributeDirectory;
        if (!S_ISLNK(st.st_mode)) return 0;
    }
    // A link is a folder when it leads to one, as Windows marks a directory link.
    std::uint32_t attributes = kAttributeReparsePoint;
    if (fstatat(dir_fd, entry->d_name, &st, 0) == 0 && S_ISDIR(st.st_mode))
        attributes |= kAttributeDirectory;
    return attributes;
}

std::string home_folder() {
    const char* home = std::getenv("HOME");
    if (home && home[0] == '/') return home;
    if (const struct passwd* pw = getpwuid(getuid()))
        if (pw->pw_dir && pw->pw_dir[0] == '/') return pw->pw_dir;
    return {};
}

// A per-user base folder of the XDG layout: the variable when it holds an absolute path (a
// relative one is to be ignored), else `under_home` in the home folder; empty without either.
std::string user_folder(const char* variable, const char* under_home) {
    const char* named = std::getenv(variable);
    if (named && named[0] == '/') return named;
    const std::string home = home_folder();
    return home.empty() ? std::string() : home + "/" + under_home;
}

bool make_folders(const std::string& path) {
    for (std::size_t i = 1; i <= path.size(); ++i) {
        if (i < path.size() && path[i] != '/') continue;
        std::string part = path.substr(0, i);
        if (mkdir(part.c_str(), 0700) != 0 && errno != EEXIST) return false;
    }
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

} // namespace

bool list_folder(const std::string& pattern, EntryVisitor& visitor) {
    DIR* dir = opendir(folder_of_pattern(pattern).c_str());
    if (!dir) return false;
    const int fd = dirfd(dir);
    // A sub-folder's identity is its inode on the listed folder's device: no stat needed.
    struct stat folder;
    const bool have_device = fstat(fd, &folder) == 0;
    while (const struct dirent* entry = readdir(dir)) {
        const char* name = entry->d_name;
        if (name[0] == '.' && (name[1] == '\0' || (name[1] == '.' && name[2] == '\0'))) continue;
        FolderId id;
        const FolderId* known = nullptr;
        if (have_device && entry->d_type == DT_DIR) {
            id.volume = static_cast<std::uint64_t>(folder.st_dev);
            id.index = static_cast<std::uint64_t>(entry->d_ino);
            known = &id;
        }
        if (!visitor.visit(attributes_of(fd, entry), name, known)) break;
    }
    closedir(dir);
    return true;
}

bool folder_id(const std::string& path, FolderId& id) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode)) return false;
    id.volume = static_cast<std::uint64_t>(st.st_dev);
    id.index = static_cast<std::uint64_t>(st.st_ino);
    return true;
}

bool is_regular_file(const std::string& path) {
    struct stat st;
    return stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool change_directory(const std::string& path) { return chdir(path.c_str()) == 0; }

std::string current_directory() {
    char buffer[PATH_MAX];
    return getcwd(buffer, sizeof buffer) ? std::string(buffer) : std::string();
}

std::tm local_time(std::int64_t seconds) {
    std::time_t t = static_cast<std::time_t>(seconds);
    std::tm result{};
    localtime_r(&t, &result);
    return result;
}

void wall_clock(std::int64_t& seconds, std::int32_t& milliseconds) {
    struct timeval tv;
    gettimeofday(&tv, nullptr);
    seconds = static_cast<std::int64_t>(tv.tv_sec);
    milliseconds = static_cast<std::int32_t>(tv.tv_usec / 1000);
}

std::FILE* open_shared(const char* name, const char* mode, OpenFailure* failure) {
    OpenFailure ignored;
    OpenFailure& why = failure ? *failure : ignored;
    bool write = false;
    if (!open_request(name, mode, why, write)) return nullptr;
    // Non-blocking, so that a pipe without a peer cannot hold the open; the flag goes once the
    // file is known to be a regular one.
    const int flags = O_CLOEXEC | O_NONBLOCK | (write ? O_WRONLY | O_CREAT | O_NOFOLLOW : O_RDONLY);
    const int fd = open(name, flags, 0600);
    if (fd < 0) {
        struct stat st;
        if (write && errno == ELOOP && lstat(name, &st) == 0 && S_ISLNK(st.st_mode))
            why = OpenFailure::Link;
        else if (errno == ENXIO) // a pipe with no reader, a socket
            why = OpenFailure::NotRegular;
        return nullptr;
    }
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        close(fd);
        why = OpenFailure::NotRegular;
        return nullptr;
    }
    // Emptied only now: a device or pipe is never truncated.
    const int status = fcntl(fd, F_GETFL);
    if ((write && ftruncate(fd, 0) != 0) || status < 0 ||
        fcntl(fd, F_SETFL, status & ~O_NONBLOCK) != 0) {
        close(fd);
        return nullptr;
    }
    std::FILE* file = fdopen(fd, write ? "w" : "r");
    if (!file) {
        close(fd);
        return nullptr;
    }
    why = OpenFailure::None;
    return file;
}

std::string trace_file_path() {
    // A per-user folder: a fixed name in a shared folder could be planted as a link.
    const std::string state = user_folder("XDG_STATE_HOME", ".local/state");
    if (state.empty()) return {};
    const std::string folder = state + "/glimmerwall";
    if (!make_folders(folder)) return {};
    return folder + "/Glimmerwall.txt";
}

std::string user_config_file() {
    const std::string config = user_folder("XDG_CONFIG_HOME", ".config");
    return config.empty() ? std::string() : config + "/glimmerwall/Glimmerwall.cfg";
}

std::int64_t monotonic_ms() {
    struct timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<std::int64_t>(now.tv_sec) * 1000 + now.tv_nsec / 1000000;
}

std::string narrow_from_utf8(const std::string& utf8) { return utf8; }
Lookup file_identity(const std::string& path, bool follow, FileId& id, std::string& why) {
    struct stat st;
    const int result = follow ? stat(path.c_str(), &st) : lstat(path.c_str(), &st);
    if (result != 0) {
        if (errno == ENOENT || errno == ENOTDIR) return Lookup::missing;
        why = std::strerror(errno);
        return Lookup::failed;
    }
    id.volume = static_cast<std::uint64_t>(st.st_dev);
    id.index = static_cast<std::uint64_t>(st.st_ino);
    id.size = static_cast<std::uint64_t>(st.st_size);
    id.modified = static_cast<std::int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
    return Lookup::found;
}

std::int64_t modified_ms(const FileId& id) { return id.modified / 1000000; }

namespace {

// ".Trash" (a volume's shared trash) or ".Trash-" and a user number (a user's trash on a
// volume that is not the home one).
bool is_volume_trash_name(const std::string& name) {
    if (name == ".Trash") return true;
    static const std::string prefix = ".Trash-";
    if (name.size() <= prefix.size() || name.compare(0, prefix.size(), prefix) != 0) return false;
    for (std::size_t i = prefix.size(); i < name.size(); ++i)
        if (name[i] < '0' || name[i] > '9') return false;
    return true;
}

std::string home_trash() {
    const std::string data = user_folder("XDG_DATA_HOME", ".local/share");
    return data.empty() ? std::string() : data + "/Trash";
}

} // namespace

bool is_reserved_folder(const std::string& path, const FolderId* id) {
    std::size_t end = path.find_last_not_of('/');
    if (end == std::string::npos) return false;
    const std::size_t slash = path.rfind('/', end);
    const std::size_t begin = slash == std::string::npos ? 0 : slash + 1;
    if (is_volume_trash_name(path.substr(begin, end + 1 - begin))) return true;
    // The home trash is found by identity: a configured folder may reach it by another name.
    // So is the folder in it that holds the deleted files themselves.
    const std::string trash = home_trash();
    if (trash.empty()) return false;
    FolderId own;
    if (!id) {
        if (!folder_id(path, own)) return false;
        id = &own;
    }
    for (const std::string& reserved : {trash, trash + "/files"}) {
        FolderId reserved_id;
        if (folder_id(reserved, reserved_id) && id->volume == reserved_id.volume &&
            id->index == reserved_id.index)
            return true;
    }
    return false;
}

std::string folder_problem(const std::string& path) {
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return std::strerror(errno);
    if (!S_ISDIR(st.st_mode)) return std::strerror(ENOTDIR);
    DIR* dir = opendir(path.c_str());
    if (!dir) return std::strerror(errno);
    closedir(dir);
    return "the listing failed";
}

std::string index_file_path() {
    const std::string cache = user_folder("XDG_CACHE_HOME", ".cache");
    if (cache.empty()) return {};
    const std::string folder = cache + "/glimmerwall";
    if (!make_folders(folder)) return {};
    return folder + "/index";
}

bool replace_file(const std::string& from, const std::string& to) {
    return std::rename(from.c_str(), to.c_str()) == 0;
}

} // namespace platform
