// The desktop that the shells' tests drive their program on: an X server of their own (Xvfb),
// child processes, helper programs (xdotool, import), root-window screenshots, the trace file.
#pragma once

#include "TestSupport.h"

#include <csignal>
#include <cstdlib>
#include <functional>
#include <ostream>
#include <string>
#include <sys/types.h>
#include <utility>
#include <vector>

struct FIBITMAP;

namespace desktop {

// The X server's screen, in pixels.
constexpr int kWidth = 1920;
constexpr int kHeight = 1080;

// Polls `done` every 20 ms until it holds (true) or `timeout_ms` have passed (false).
bool wait_until(const std::function<bool()>& done, int timeout_ms = 15000);

// The inherited environment less every "NAME=value" entry that starts with one of `dropped`.
std::vector<std::string> inherited_environment(const std::vector<std::string>& dropped);
// The environment of the Linux program under test: the inherited one without what points at
// a display or a user's folders, the sanitizers' options with the LeakSanitizer
// `suppressions` file, then `set`.
std::vector<std::string> program_environment(const std::vector<std::string>& set,
                                             const std::string& suppressions);

// Starts `argv` with `env` as its whole environment, standard output and error appended to
// `output`; argv[0] is found on PATH unless `program` is given, the process runs in `folder`
// unless it is empty. The process id, -1 when it could not be made.
pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& output, const std::string& program = {},
            const std::string& folder = {});
// Waits up to `timeout_ms`: the exit code, 128 + signal when killed, -1 when still running.
int reap(pid_t pid, int timeout_ms);
// Sends `signal`, then SIGKILL when the process has not ended 5 s later, and waits for it.
void stop(pid_t pid, int signal = SIGTERM);
// Runs `argv` (found on PATH) to its end, killed after `timeout_ms`; its exit code, -1 on timeout.
int run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& output, int timeout_ms = 15000);

// Xvfb, kWidth x kHeight x 24, on a display number that it chooses itself; or, with two
// `heads`, Xorg's dummy driver with two kWidth x kHeight monitors side by side on one screen
// (Xvfb's screens all look like one display to SDL). Stopped when this goes.
class XServer : private test::NoCopy {
public:
    // Started with `env` as its environment; display() stays empty when it did not start.
    explicit XServer(const std::vector<std::string>& env, int heads = 1);
    ~XServer();
    // ":N", or empty.
    const std::string& display() const { return display_; }
    // Why a two-head server did not start (Xorg's log is in its folder).
    const std::string& why() const { return why_; }

private:
    bool start(std::vector<std::string> argv, const std::vector<std::string>& env,
               const std::string& output);
    bool place_heads(const std::vector<std::string>& env);

    pid_t pid_ = -1;
    std::string display_;
    std::string why_;
    test::TempDir folder_;
};

// Runs a helper program (xdotool, import) on the test's display; true when it succeeded.
using Tool = std::function<bool(const std::vector<std::string>& argv)>;
// Runs `argv` to its end on `server`'s display, in the program environment; true on exit code 0.
bool run_tool(const XServer& server, const std::string& suppressions,
              const std::vector<std::string>& argv);

// A pixel's colour, each component 0 to 255.
struct Rgb {
    int r, g, b;
    bool operator==(const Rgb& o) const { return r == o.r && g == o.g && b == o.b; }
    // Every component within `tolerance` of o's.
    bool near(const Rgb& o, int tolerance) const {
        return std::abs(r - o.r) <= tolerance && std::abs(g - o.g) <= tolerance &&
               std::abs(b - o.b) <= tolerance;
    }
    bool black() const { return r == 0 && g == 0 && b == 0; }
    bool white() const { return r == 255 && g == 255 && b == 255; }
};
// "RGB(r, g, b)"
std::ostream& operator<<(std::ostream& out, const Rgb& c);

// What a screenshot's lit box leaves out: black only, or black and white.
enum class Unlit { Black, BlackOrWhite };

// A screenshot of the root window, taken by `tool` through import into the PNG `path` and read
// back through FreeImage (which the caller has initialised).
class Shot : private test::NoCopy {
public:
    // `width`: the screen's, kWidth unless two heads sit side by side.
    Shot(const Tool& tool, const std::string& path, int width = kWidth);
    ~Shot();
    // Taken, read, and as large as the screen.
    bool ok() const;
    // The pixel at column x, row y from the top; only when ok().
    Rgb at(int x, int y) const;
    // Smallest box holding every pixel that is not `unlit`; false when there is none.
    bool lit_box(int& left, int& top, int& right, int& bottom, Unlit unlit = Unlit::Black) const;
    const std::string& path() const { return path_; }

private:
    std::string path_;
    int width_;
    FIBITMAP* dib_ = nullptr;
};

// Expects (gtest) a window of w x h pixels at (x, y) on a white screen: the pixels on its
// edges, at both ends and the middle of each, are not white, and those just outside are.
void expect_window_at(const Shot& shot, int x, int y, int w, int h);

// A program under test: its process, killed when still running as this goes, its trace file, read
// afresh at each call, and its keys, sent through `tool` with xdotool.
class Program : private test::NoCopy {
public:
    explicit Program(Tool tool) : tool_(std::move(tool)) {}
    virtual ~Program() { end(); }

    // The trace file as it stands, with plain "\n" line ends.
    virtual std::string trace() const = 0;
    // Occurrences of `needle` in the trace, and a wait for `n` of them.
    int count(const std::string& needle) const;
    bool wait_count(const std::string& needle, int n, int timeout_ms = 15000) const;
    // The captions of the pictures drawn so far, in order.
    std::vector<std::string> drawn() const;
    // Draws so far, and a wait for `n` of them.
    int draws() const;
    bool wait_draws(int n, int timeout_ms = 15000) const;
    // The path of the last "erase <path>" record; empty when there is none.
    std::string marked() const;
    // The key (as xdotool names it) pressed and released; true when sent.
    bool key(const std::string& name) const;
    // The key, then the forced step it brings.
    bool step_key(const std::string& name) const;
    // Not ended yet; once ended, its exit code is kept.
    bool running() const;
    // The exit code, waiting up to `timeout_ms` for it; -1 while still running.
    int exit_code(int timeout_ms = 15000) const;
    // Sends signal `number` to the process.
    void signal(int number) const;

protected:
    // The process that the derived show has spawned.
    void started(pid_t pid) { pid_ = pid; }
    // Kills the process when still running and waits for it; for a show whose members must
    // outlive the process, in its own destructor.
    void end();

private:
    Tool tool_;
    pid_t pid_ = -1;
    mutable int exit_code_ = -1;
};

// Right twice, then Left, on a show that has drawn once and holds three pictures or more:
// expects (gtest) three different pictures, then the second again. The three captions, or
// none when the steps did not come.
std::vector<std::string> expect_history_steps(const Program& show);

// Delete, then a wait for the `n`th "erase <" record: the path marked, or empty (and a gtest
// failure) when the key or the record did not come.
std::string mark(const Program& show, int n);

} // namespace desktop

// The names the desktop tests spell without their namespace: `using namespace desktop::names;`.
namespace desktop::names {
using desktop::kHeight;
using desktop::kWidth;
using desktop::Rgb;
using desktop::Shot;
using desktop::wait_until;
} // namespace desktop::names
