// Helpers shared by the tests: temporary folders, files, a settable clock, the trace file.
#pragma once

#include <cstdint>
#include <string>

namespace test {

// Base of the helpers that own a folder, a process or a setting until they go: never copied.
class NoCopy {
public:
    NoCopy(const NoCopy&) = delete;
    NoCopy& operator=(const NoCopy&) = delete;

protected:
    NoCopy() = default;
    ~NoCopy() = default;
};

// A fresh folder under the system's temporary folder, removed with everything in it.
class TempDir : private test::NoCopy {
public:
    TempDir();
    ~TempDir();
    const std::string& path() const { return path_; }
    // path() + "/" + relative
    std::string operator/(const std::string& relative) const;

private:
    std::string path_;
};

std::string read_file(const std::string& path);
void write_file(const std::string& path, const std::string& content);
// Creates the folder and its parents.
void make_dirs(const std::string& path);
bool exists(const std::string& path);

// The environment variable `name` read as a whole positive number, else `fallback`: how long
// forms of the tests are asked for.
int positive_setting(const char* name, int fallback);

// Replaces the wall and monotonic clocks of the tracer and its helpers until destroyed; both
// show the same time.
class FakeClock {
public:
    explicit FakeClock(std::int64_t seconds = 1000000000, std::int32_t milliseconds = 0);
    ~FakeClock();
    void set(std::int64_t seconds, std::int32_t milliseconds);
    // Moves the clock on by `ms` milliseconds.
    void advance(std::int64_t ms);
};

// Number of occurrences of `needle` in `text`, none overlapping.
int count(const std::string& text, const std::string& needle);

// Points XDG_STATE_HOME at `dir`/state (and XDG_CACHE_HOME at `dir`/cache) while it lives, so
// that a show started by the test writes its own trace file and index there; reads the trace.
class StateHome : private test::NoCopy {
public:
    explicit StateHome(const TempDir& dir);
    ~StateHome();
    std::string trace() const;
    int count(const std::string& needle) const { return test::count(trace(), needle); }
    bool traced(const std::string& needle) const { return count(needle) > 0; }

private:
    std::string folder_;
};

// Points the tracer at a file of its own, every module at level 4, and reads it back.
class TraceFile {
public:
    TraceFile();
    std::string text() const;
    // Number of occurrences of `needle` in the trace.
    int count(const std::string& needle) const;
    bool contains(const std::string& needle) const { return count(needle) > 0; }
    const std::string& path() const { return path_; }

private:
    TempDir dir_;
    std::string path_;
};

} // namespace test

#include "Platform.h"

namespace test {

// The identity of what `path` names itself (a link not followed); all zero when nothing is there.
platform::FileId identity(const std::string& path);
// Sets the last write time of `path` (a link followed) to `seconds` since 1970, nanoseconds 0.
void set_modified(const std::string& path, std::int64_t seconds);

} // namespace test
