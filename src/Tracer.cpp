#include "Tracer.h"

#include "OwnedFile.h"
#include "Platform.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <map>
#include <string>

namespace {

struct PendingEntry {
    const char* name;
    std::int32_t level;
};

// Plain static data, zero-initialised before any constructor runs.
constexpr int kPendingCapacity = 100;
PendingEntry g_pending[kPendingCapacity];
int g_pending_count;
int g_missed;

constexpr std::size_t kRecordBuffer = 1000;
constexpr int kNameColumn = 21;

WallClock g_clock = nullptr;
MonotonicClock g_monotonic = nullptr;
bool g_have_origin = false;
std::int64_t g_origin;

void read_clock(std::int64_t& seconds, std::int32_t& milliseconds) {
    if (g_clock)
        g_clock(seconds, milliseconds);
    else
        platform::wall_clock(seconds, milliseconds);
}

bool g_finished = false;

struct ModuleEntry {
    const char* name;
    std::int32_t level;
};

} // namespace

struct Tracer::State {
    OwnedFile file; // open from the first record written after set_file
    std::string file_name;
    const char* module_name = "???";
    bool header_due = true;
    // The named file is a link or not a regular file: nothing is written until set_file.
    bool refused = false;
    Tracer::Writer writer = nullptr;
    std::map<std::int32_t, ModuleEntry> modules;
};

const std::int32_t kTracerModule = Tracer::register_module("Tracer");

namespace {
Tracer::State* g_state = nullptr;

// Puts the header of a record of `module_name` into `buffer`: a line break, day and local time
// to the millisecond, the bracketed name and the padding; returns its length (< size).
std::size_t put_header(char* buffer, std::size_t size, const char* module_name) {
    std::int64_t seconds;
    std::int32_t milliseconds;
    read_clock(seconds, milliseconds);
    const std::tm local = platform::local_time(seconds);
    std::size_t used = std::strftime(buffer, size, "\n%d,%H:%M:%S", &local);
    const int name_length = static_cast<int>(std::strlen(module_name));
    const int padding = kNameColumn - name_length > 0 ? kNameColumn - name_length : 0;
    const int written = std::snprintf(buffer + used, size - used, ".%03d [%s]%*s",
                                      static_cast<int>(milliseconds), module_name, padding, "");
    if (written > 0) used += static_cast<std::size_t>(written);
    return used > size - 1 ? size - 1 : used;
}

// Closes the trace at the end of the run with the final line break.
struct TraceCloser {
    ~TraceCloser() {
        if (g_state && g_state->file) std::fputs("\n", g_state->file.get());
        delete g_state;
        g_state = nullptr;
        g_finished = true;
    }
} g_closer;
} // namespace

std::int32_t Tracer::module_handle(const char* name) {
    std::uint32_t hash = 5381;
    for (const char* p = name; *p; ++p)
        hash = hash * 33u +
               static_cast<std::uint32_t>(static_cast<std::int32_t>(static_cast<signed char>(*p)));
    return static_cast<std::int32_t>(hash & 0x7fffffffu);
}

std::int32_t Tracer::register_module(const char* name) {
    if (g_pending_count < kPendingCapacity)
        g_pending[g_pending_count++] = PendingEntry{name, 4};
    else
        ++g_missed;
    return module_handle(name);
}

Tracer& Tracer::null_tracer() {
    static Tracer tracer(nullptr);
    return tracer;
}

Tracer& Tracer::instance() {
    static Tracer tracer(nullptr);
    if (g_finished) return null_tracer();
    if (!g_state) g_state = new State;
    tracer.state_ = g_state;
    return tracer;
}

void Tracer::merge_pending() {
    if (g_missed > 0) {
        const int missed = g_missed;
        g_missed = 0;
        record(kTracerModule, 1).print("Tracer missed %d modules", missed);
    }
    for (int i = 0; i < g_pending_count; ++i) {
        const PendingEntry& entry = g_pending[i];
        state_->modules.emplace(module_handle(entry.name), ModuleEntry{entry.name, entry.level});
    }
    g_pending_count = 0;
    g_missed = 0;
}

void Tracer::set_file(const char* name) {
    if (!state_) return;
    state_->file.reset();
    state_->file_name = name ? name : "";
    state_->refused = false;
    merge_pending();
}

void Tracer::all_module_level(std::int32_t level) {
    if (!state_) return;
    for (auto& module : state_->modules) module.second.level = level;
    record(kTracerModule, 3).print("all_module_level( %d )", level);
}

Tracer& Tracer::record(std::int32_t module, std::int32_t level) {
    if (!state_) return null_tracer();
    merge_pending();
    const char* name = "???";
    auto found = state_->modules.find(module);
    if (found != state_->modules.end()) {
        if (found->second.level < level) return null_tracer();
        name = found->second.name;
    }
    if (!state_->writer && !open_file()) return null_tracer();
    state_->module_name = name;
    return *this;
}

bool Tracer::open_file() {
    if (state_->file_name.empty() || state_->refused) return false;
    if (state_->file) return true;
    platform::OpenFailure failure = platform::OpenFailure::None;
    state_->file.reset(platform::open_shared(state_->file_name.c_str(), "w", &failure));
    if (state_->file) return true;
    // Writing through a link planted under the trace's name would overwrite whatever it
    // points to; a pipe or device could block. Said once, where the user may see it.
    if (failure == platform::OpenFailure::Link || failure == platform::OpenFailure::NotRegular) {
        state_->refused = true;
        report_refusal(failure == platform::OpenFailure::Link);
    }
    return false;
}

void Tracer::set_writer(Writer writer) {
    if (!state_) return;
    merge_pending();
    state_->writer = writer;
}

void Tracer::relay(const char* bytes, std::size_t size) {
    if (!state_ || size == 0 || !open_file()) return;
    std::fwrite(bytes, 1, size, state_->file.get());
    std::fflush(state_->file.get());
}

void Tracer::report_refusal(bool link) {
    auto found = state_->modules.find(kTracerModule);
    if (found != state_->modules.end() && found->second.level < 1) return;
    char buffer[kRecordBuffer];
    std::size_t used = put_header(buffer, sizeof buffer, "Tracer");
    const int written = std::snprintf(
        buffer + used, sizeof buffer - used, "trace file <%s> %s: no trace written",
        state_->file_name.c_str(), link ? "is a symbolic link" : "is not a regular file");
    if (written > 0) used += static_cast<std::size_t>(written);
    if (used > sizeof buffer - 1) used = sizeof buffer - 1;
    // The header's leading line break becomes a trailing one on the terminal.
    std::fwrite(buffer + 1, 1, used - 1, stderr);
    std::fputc('\n', stderr);
    std::fflush(stderr);
}

int Tracer::print(const char* format, ...) {
    if (!state_) return 0;
    bool header = state_->header_due;
    state_->header_due = true;

    std::string trimmed; // only a format ending in "~" is copied
    if (format[0] == '~') {
        if (format[1] == '~') {
            format += 1;
        } else {
            format += 1;
            header = false;
        }
    }
    const std::size_t length = std::strlen(format);
    if (length > 0 && format[length - 1] == '~') {
        trimmed.assign(format, length - 1);
        if (length >= 2 && format[length - 2] != '~') state_->header_due = false;
        format = trimmed.c_str();
    }

    char buffer[kRecordBuffer];
    std::size_t used = 0;
    if (header) used = put_header(buffer, sizeof buffer, state_->module_name);
    va_list args;
    va_start(args, format);
    const int written = std::vsnprintf(buffer + used, sizeof buffer - used, format, args);
    va_end(args);
    if (written > 0) used += static_cast<std::size_t>(written);
    if (used > sizeof buffer - 1) used = sizeof buffer - 1;

    if (state_->writer) {
        state_->writer(buffer, used);
        return static_cast<int>(used);
    }
    const int result = static_cast<int>(std::fwrite(buffer, 1, used, state_->file.get()));
    std::fflush(state_->file.get());
    return result;
}

std::int32_t clock_ms() {
    std::int64_t seconds;
    std::int32_t milliseconds;
    read_clock(seconds, milliseconds);
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(seconds) * 1000u +
                                     static_cast<std::uint32_t>(milliseconds));
}

std::int32_t elapsed_ms() {
    const std::int64_t now = g_monotonic ? g_monotonic() : platform::monotonic_ms();
    if (!g_have_origin) {
        g_have_origin = true;
        g_origin = now;
        return 0;
    }
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(
        static_cast<std::uint64_t>(now) - static_cast<std::uint64_t>(g_origin)));
}

void set_wall_clock(WallClock clock) { g_clock = clock; }

void set_monotonic_clock(MonotonicClock clock) {
    g_monotonic = clock;
    g_have_origin = false;
}
