#include "TestSupport.h"

#include "Tracer.h"

#include <climits>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <sys/stat.h>
#include <unistd.h>

namespace fs = std::filesystem;

namespace test {

TempDir::TempDir() {
    std::string base = (fs::temp_directory_path() / "gwtest-XXXXXX").string();
    if (!mkdtemp(base.data())) throw std::runtime_error("mkdtemp failed");
    path_ = base;
}

TempDir::~TempDir() {
    std::error_code ignored;
    // Folders a test made unreadable must be opened again before they can be removed.
    for (auto it = fs::recursive_directory_iterator(
             path_, fs::directory_options::skip_permission_denied, ignored);
         it != fs::recursive_directory_iterator(); it.increment(ignored)) {
        if (it->is_directory(ignored) && !it->is_symlink(ignored))
            fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, ignored);
    }
    fs::permissions(path_, fs::perms::owner_all, fs::perm_options::add, ignored);
    fs::remove_all(path_, ignored);
}

std::string TempDir::operator/(const std::string& relative) const { return path_ + "/" + relative; }

std::string read_file(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream out;
    out << in.rdbuf();
    return out.str();
}

void write_file(const std::string& path, const std::string& content) {
    std::ofstream out(path, std::ios::binary);
    out << content;
}

void make_dirs(const std::string& path) { fs::create_directories(path); }

bool exists(const std::string& path) {
    std::error_code ignored;
    return fs::exists(fs::symlink_status(path, ignored));
}

namespace {
std::int64_t g_fake_seconds;
std::int32_t g_fake_milliseconds;
void fake_wall_clock(std::int64_t& seconds, std::int32_t& milliseconds) {
    seconds = g_fake_seconds;
    milliseconds = g_fake_milliseconds;
}
std::int64_t fake_monotonic_clock() { return g_fake_seconds * 1000 + g_fake_milliseconds; }
} // namespace

FakeClock::FakeClock(std::int64_t seconds, std::int32_t milliseconds) {
    set(seconds, milliseconds);
    set_wall_clock(&fake_wall_clock);
    set_monotonic_clock(&fake_monotonic_clock);
}

FakeClock::~FakeClock() {
    set_wall_clock(nullptr);
    set_monotonic_clock(nullptr);
}

void FakeClock::set(std::int64_t seconds, std::int32_t milliseconds) {
    g_fake_seconds = seconds;
    g_fake_milliseconds = milliseconds;
}

void FakeClock::advance(std::int64_t ms) {
    std::int64_t total = g_fake_seconds * 1000 + g_fake_milliseconds + ms;
    g_fake_seconds = total / 1000;
    g_fake_milliseconds = static_cast<std::int32_t>(total % 1000);
}

TraceFile::TraceFile() : path_(dir_ / "trace.txt") {
    Tracer::instance().set_file(path_.c_str());
    Tracer::instance().all_module_level(4);
}

std::string TraceFile::text() const { return read_file(path_); }

int TraceFile::count(const std::string& needle) const { return test::count(text(), needle); }

int count(const std::string& text, const std::string& needle) {
    int n = 0;
    for (std::size_t at = text.find(needle); at != std::string::npos;
         at = text.find(needle, at + needle.size()))
        ++n;
    return n;
}

StateHome::StateHome(const TempDir& dir) : folder_(dir / "state") {
    setenv("XDG_STATE_HOME", folder_.c_str(), 1);
    // The saved index too: a show of one test must not take up another's.
    setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
}

StateHome::~StateHome() {
    unsetenv("XDG_STATE_HOME");
    unsetenv("XDG_CACHE_HOME");
}

std::string StateHome::trace() const { return read_file(folder_ + "/glimmerwall/Glimmerwall.txt"); }

int positive_setting(const char* name, int fallback) {
    const char* text = std::getenv(name);
    if (!text || !*text) return fallback;
    char* end = nullptr;
    const long value = std::strtol(text, &end, 10);
    return *end == '\0' && value > 0 && value < INT_MAX ? static_cast<int>(value) : fallback;
}

} // namespace test

namespace test {

platform::FileId identity(const std::string& path) {
    platform::FileId id;
    std::string why;
    if (platform::file_identity(path, false, id, why) != platform::Lookup::found) return {};
    return id;
}

void set_modified(const std::string& path, std::int64_t seconds) {
    struct timespec times[2];
    times[0].tv_sec = static_cast<time_t>(seconds);
    times[0].tv_nsec = 0;
    times[1] = times[0];
    if (utimensat(AT_FDCWD, path.c_str(), times, 0) != 0)
        throw std::runtime_error("utimensat failed on " + path);
}

} // namespace test
