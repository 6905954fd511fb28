// The trace file: every module registers a name, then writes leveled, timestamped records.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__GNUC__)
#define GW_PRINTF_FORMAT(fmt, args) __attribute__((format(printf, fmt, args)))
#else
#define GW_PRINTF_FORMAT(fmt, args)
#endif

class Tracer {
public:
    struct State;

    // djb2 over the name's bytes (as signed chars), top bit cleared: the module handle.
    static std::int32_t module_handle(const char* name);
    // Static-initialisation safe; `name` must live as long as the process (a literal).
    static std::int32_t register_module(const char* name);

    // The process-wide tracer; after the end of the run it is the null tracer.
    static Tracer& instance();

    // Names the trace file (copied); closes it if open. The next written record empties it,
    // unless the name is a link or not a regular file: then one level 1 line goes to stderr
    // and nothing is written until the file is named again.
    void set_file(const char* name);
    void all_module_level(std::int32_t level);
    // Opens one record: this tracer when it is to be written, the null tracer otherwise.
    Tracer& record(std::int32_t module, std::int32_t level);
    // printf-style text; "~" at the start continues the open line, at the end joins the next.
    int print(const char* format, ...) GW_PRINTF_FORMAT(2, 3);

    // Where the records of a process without a trace file of its own go (a decode worker):
    // each written record is handed over whole, header included, instead of being written.
    using Writer = void (*)(const char* bytes, std::size_t size);
    void set_writer(Writer writer);
    // Appends records written by another process's tracer, as they came, to the trace file.
    void relay(const char* bytes, std::size_t size);

    Tracer(const Tracer&) = delete;
    Tracer& operator=(const Tracer&) = delete;

private:
    explicit Tracer(State* state) : state_(state) {}
    void merge_pending();
    // Opens the named trace file once; false when nothing may be written.
    bool open_file();
    void report_refusal(bool link);
    static Tracer& null_tracer();

    State* state_;
};

// One trace statement: GW_TRACE(module, level, "format", args...).
#define GW_TRACE(module, level, ...) Tracer::instance().record((module), (level)).print(__VA_ARGS__)

// Wall-clock milliseconds since 1970, kept to 32 bits (wraps).
std::int32_t clock_ms();
// Milliseconds since the first call (which returns 0) on the monotonic clock, in wrapping
// 32-bit arithmetic: setting the wall clock back or forth does not change it.
std::int32_t elapsed_ms();

// Clock seams for tests. The wall clock feeds the time stamps and clock_ms; the monotonic
// clock (milliseconds from any origin) feeds elapsed_ms. nullptr restores the system's clock;
// replacing the monotonic clock forgets the origin of elapsed_ms.
using WallClock = void (*)(std::int64_t& seconds, std::int32_t& milliseconds);
void set_wall_clock(WallClock clock);
using MonotonicClock = std::int64_t (*)();
void set_monotonic_clock(MonotonicClock clock);
