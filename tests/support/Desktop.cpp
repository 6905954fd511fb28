#include "Desktop.h"

#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

extern char** environ;

namespace desktop {

namespace {

const std::string kDrawn = "WindowManager::draw_bitmap";
const std::string kForcedStep = "next( forced )";

pid_t spawn_keeping(const std::vector<std::string>& argv, const std::vector<std::string>& env,
                    const std::string& output, const std::string& program,
                    const std::string& folder, int keep_fd) {
    // Built before the fork: the child only calls what is safe between fork and exec.
    std::vector<char*> args;
    for (const auto& a : argv) args.push_back(const_cast<char*>(a.c_str()));
    args.push_back(nullptr);
    std::vector<char*> vars;
    for (const auto& v : env) vars.push_back(const_cast<char*>(v.c_str()));
    vars.push_back(nullptr);
    const pid_t pid = fork();
    if (pid != 0) return pid;
    if (!folder.empty() && chdir(folder.c_str()) != 0) _exit(126);
    // Appended, so that the helpers of a test may share one log.
    const int out = open(output.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    if (out >= 0) {
        dup2(out, 1);
        dup2(out, 2);
    }
    for (int fd = 3; fd < 256; ++fd)
        if (fd != keep_fd) close(fd);
    if (program.empty())
        execvpe(args[0], args.data(), vars.data());
    else
        execve(program.c_str(), args.data(), vars.data());
    _exit(127);
}

} // namespace

bool wait_until(const std::function<bool()>& done, int timeout_ms) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(timeout_ms);
    while (!done()) {
        if (std::chrono::steady_clock::now() > deadline) return false;
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    return true;
}

std::vector<std::string> inherited_environment(const std::vector<std::string>& dropped) {
    std::vector<std::string> result;
    for (char** entry = environ; *entry; ++entry) {
        const std::string text = *entry;
        if (std::none_of(dropped.begin(), dropped.end(),
                         [&](const std::string& prefix) { return text.rfind(prefix, 0) == 0; }))
            result.push_back(text);
    }
    return result;
}

std::vector<std::string> program_environment(const std::vector<std::string>& set,
                                             const std::string& suppressions) {
    std::vector<std::string> result = inherited_environment(
        {"DISPLAY=", "WAYLAND_DISPLAY=", "SDL_VIDEODRIVER=", "HOME=", "XDG_STATE_HOME=",
         "XDG_DATA_HOME=", "XDG_CONFIG_HOME=", "XDG_CACHE_HOME=", "XDG_RUNTIME_DIR=",
         "LSAN_OPTIONS=", "ASAN_OPTIONS="});
    // Known leaks of system libraries are suppressed by function name, which needs stacks
    // unwound through libraries built without frame pointers.
    const char* asan = std::getenv("ASAN_OPTIONS");
    result.push_back(std::string("ASAN_OPTIONS=") + (asan && *asan ? std::string(asan) + ":" : "") +
                     "fast_unwind_on_malloc=0");
    const char* lsan = std::getenv("LSAN_OPTIONS");
    result.push_back("LSAN_OPTIONS=suppressions=" + suppressions +
                     (lsan && *lsan ? std::string(":") + lsan : std::string()));
    result.insert(result.end(), set.begin(), set.end());
    return result;
}

pid_t spawn(const std::vector<std::string>& argv, const std::vector<std::string>& env,
            const std::string& output, const std::string& program, const std::string& folder) {
    return spawn_keeping(argv, env, output, program, folder, -1);
}

int reap(pid_t pid, int timeout_ms) {
    int status = 0;
    int code = -1;
    wait_until(
        [&] {
            if (waitpid(pid, &status, WNOHANG) != pid) return false;
            code = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
            return true;
        },
        timeout_ms);
    return code;
}

void stop(pid_t pid, int signal) {
    kill(pid, signal);
    if (reap(pid, 5000) < 0) {
        kill(pid, SIGKILL);
        reap(pid, 5000);
    }
}

bool run_tool(const XServer& server, const std::string& suppressions,
              const std::vector<std::string>& argv) {
    test::TempDir scratch;
    return run(argv, program_environment({"DISPLAY=" + server.display()}, suppressions),
               scratch / "out.txt") == 0;
}

int run(const std::vector<std::string>& argv, const std::vector<std::string>& env,
        const std::string& output, int timeout_ms) {
    // Without a child, waiting on pid -1 would reap any child of the test, the show's included.
    const pid_t pid = spawn(argv, env, output);
    if (pid <= 0) return -1;
    const int code = reap(pid, timeout_ms);
    if (code < 0) {
        kill(pid, SIGKILL);
        reap(pid, 5000);
    }
    return code;
}

XServer::XServer(const std::vector<std::string>& env, int heads) {
    const std::string size = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    if (heads < 2) {
        start({"Xvfb", "-displayfd", "", "-screen", "0", size + "x24", "-nolisten", "tcp",
               "-noreset", "-wr"},
              env, "/dev/null");
        return;
    }
    // The dummy driver makes its outputs from the screen's one monitor section; the second
    // output is given the mode and its place with xrandr once the server runs.
    const std::string config = folder_ / "xorg.conf";
    test::write_file(config,
                     "Section \"Device\"\n  Identifier \"card\"\n  Driver \"dummy\"\n"
                     "  VideoRam 256000\nEndSection\n"
                     "Section \"Monitor\"\n  Identifier \"monitor\"\n"
                     "  HorizSync 5.0-1000.0\n  VertRefresh 5.0-200.0\n"
                     "  Modeline \"" +
                         size +
                         "\" 148.50 1920 2008 2052 2200 1080 1084 "
                         "1089 1125 +hsync +vsync\nEndSection\n"
                         "Section \"Screen\"\n  Identifier \"screen\"\n  Device \"card\"\n"
                         "  Monitor \"monitor\"\n  DefaultDepth 24\n  SubSection \"Display\"\n"
                         "    Depth 24\n    Virtual " +
                         std::to_string(2 * kWidth) + " " + std::to_string(kHeight) +
                         "\n  EndSubSection\nEndSection\n");
    test::make_dirs(folder_ / "conf.d");
    if (!start({"Xorg", "-displayfd", "", "-config", config, "-configdir", folder_ / "conf.d",
                "-logfile", folder_ / "Xorg.log", "-nolisten", "tcp", "-noreset", "-novtswitch",
                "-sharevts"},
               env, folder_ / "output.txt")) {
        why_ = "Xorg did not start: " + test::read_file(folder_ / "output.txt");
        return;
    }
    if (!place_heads(env)) display_.clear();
}

// Starts the server of `argv`, whose "-displayfd" argument is followed by an empty one that
// becomes the pipe's descriptor, and reads the display number it chose.
bool XServer::start(std::vector<std::string> argv, const std::vector<std::string>& env,
                    const std::string& output) {
    int fds[2];
    if (pipe(fds) != 0) return false;
    for (std::size_t i = 0; i + 1 < argv.size(); ++i)
        if (argv[i] == "-displayfd") argv[i + 1] = std::to_string(fds[1]);
    pid_ = spawn_keeping(argv, env, output, "", "", fds[1]);
    close(fds[1]);
    std::string number;
    struct pollfd ready = {fds[0], POLLIN, 0};
    while (poll(&ready, 1, 10000) > 0) {
        char c;
        if (read(fds[0], &c, 1) != 1 || c == '\n') break;
        number += c;
    }
    close(fds[0]);
    if (!number.empty()) display_ = ":" + number;
    return !display_.empty();
}

bool XServer::place_heads(const std::vector<std::string>& env) {
    std::vector<std::string> with_display = env;
    with_display.push_back("DISPLAY=" + display_);
    const std::string mode = std::to_string(kWidth) + "x" + std::to_string(kHeight);
    const std::string log = folder_ / "xrandr.txt";
    // The plain query last: until a client asks again, the server's outputs are not all
    // reported to the next one.
    const std::vector<std::vector<std::string>> steps = {
        {"xrandr", "--addmode", "DUMMY1", mode},
        {"xrandr", "--output", "DUMMY0", "--mode", mode, "--pos", "0x0", "--output", "DUMMY1",
         "--mode", mode, "--pos", std::to_string(kWidth) + "x0"},
        {"xrandr"}};
    for (const auto& step : steps) {
        if (run(step, with_display, log) != 0) {
            why_ = "xrandr failed: " + test::read_file(log);
            return false;
        }
    }
    return true;
}

XServer::~XServer() {
    if (pid_ > 0) stop(pid_);
}

std::ostream& operator<<(std::ostream& out, const Rgb& c) {
    return out << "RGB(" << c.r << ", " << c.g << ", " << c.b << ")";
}

Shot::Shot(const Tool& tool, const std::string& path, int width) : path_(path), width_(width) {
    if (!tool({"import", "-window", "root", path})) return;
    if (FIBITMAP* loaded = FreeImage_Load(FIF_PNG, path.c_str(), 0)) {
        dib_ = FreeImage_ConvertTo24Bits(loaded);
        FreeImage_Unload(loaded);
    }
}

Shot::~Shot() {
    if (dib_) FreeImage_Unload(dib_);
}

bool Shot::ok() const {
    return dib_ && FreeImage_GetWidth(dib_) == static_cast<unsigned>(width_) &&
           FreeImage_GetHeight(dib_) == kHeight;
}

Rgb Shot::at(int x, int y) const {
    RGBQUAD q{};
    FreeImage_GetPixelColor(dib_, x, kHeight - 1 - y, &q);
    return {q.rgbRed, q.rgbGreen, q.rgbBlue};
}

bool Shot::lit_box(int& left, int& top, int& right, int& bottom, Unlit unlit) const {
    left = INT_MAX, top = INT_MAX, right = -1, bottom = -1;
    for (int y = 0; y < kHeight; ++y)
        for (int x = 0; x < width_; ++x) {
            const Rgb c = at(x, y);
            if (c.black() || (unlit == Unlit::BlackOrWhite && c.white())) continue;
            left = std::min(left, x), right = std::max(right, x);
            top = std::min(top, y), bottom = std::max(bottom, y);
        }
    return right >= 0;
}

int Program::count(const std::string& needle) const {
    const std::string all = trace();
    int n = 0;
    for (auto at = all.find(needle); at != std::string::npos; at = all.find(needle, at + 1)) ++n;
    return n;
}

bool Program::wait_count(const std::string& needle, int n, int timeout_ms) const {
    return wait_until([&] { return count(needle) >= n; }, timeout_ms);
}

std::vector<std::string> Program::drawn() const {
    static const std::string marker = "just displayed <";
    const std::string all = trace();
    std::vector<std::string> captions;
    for (auto at = all.find(marker); at != std::string::npos; at = all.find(marker, at + 1)) {
        // The last record has no line end yet: the next record's header brings it.
        const auto begin = at + marker.size();
        std::string line = all.substr(begin, all.find('\n', begin) - begin);
        if (!line.empty() && line.back() == '>') line.pop_back();
        captions.push_back(line);
    }
    return captions;
}

int Program::draws() const { return count(kDrawn); }

bool Program::wait_draws(int n, int timeout_ms) const { return wait_count(kDrawn, n, timeout_ms); }

std::string Program::marked() const {
    const std::string all = trace();
    const auto at = all.rfind("erase <");
    if (at == std::string::npos) return {};
    return all.substr(at + 7, all.find('>', at) - at - 7);
}

bool Program::key(const std::string& name) const { return tool_({"xdotool", "key", name}); }

bool Program::step_key(const std::string& name) const {
    const int before = count(kForcedStep);
    return key(name) && wait_count(kForcedStep, before + 1);
}

bool Program::running() const {
    if (exit_code_ < 0) exit_code_ = reap(pid_, 0);
    return exit_code_ < 0;
}

int Program::exit_code(int timeout_ms) const {
    if (exit_code_ < 0) exit_code_ = reap(pid_, timeout_ms);
    return exit_code_;
}

void Program::signal(int number) const { kill(pid_, number); }

void Program::end() {
    if (pid_ > 0 && exit_code_ < 0) {
        kill(pid_, SIGKILL);
        exit_code_ = reap(pid_, 5000);
    }
}

void expect_window_at(const Shot& shot, int x, int y, int w, int h) {
    const int right = x + w - 1, bottom = y + h - 1;
    for (int row : {y, y + h / 2, bottom}) {
        EXPECT_TRUE(shot.at(x - 1, row).white()) << "left of the window, row " << row;
        EXPECT_FALSE(shot.at(x, row).white()) << "left edge, row " << row;
        EXPECT_FALSE(shot.at(right, row).white()) << "right edge, row " << row;
        EXPECT_TRUE(shot.at(right + 1, row).white()) << "right of the window, row " << row;
    }
    for (int column : {x, x + w / 2, right}) {
        EXPECT_TRUE(shot.at(column, y - 1).white()) << "above the window, column " << column;
        EXPECT_FALSE(shot.at(column, y).white()) << "top edge, column " << column;
        EXPECT_FALSE(shot.at(column, bottom).white()) << "bottom edge, column " << column;
        EXPECT_TRUE(shot.at(column, bottom + 1).white()) << "below the window, column " << column;
    }
}

std::vector<std::string> expect_history_steps(const Program& show) {
    for (int n : {2, 3}) {
        if (!show.step_key("Right") || !show.wait_draws(n)) {
            ADD_FAILURE() << "Right did not bring draw " << n << "\n" << show.trace();
            return {};
        }
    }
    const std::vector<std::string> drawn = show.drawn();
    if (drawn.size() != 3) {
        ADD_FAILURE() << drawn.size() << " draws after two steps, not 3";
        return {};
    }
    EXPECT_NE(drawn[0], drawn[1]);
    EXPECT_NE(drawn[1], drawn[2]);
    EXPECT_TRUE(show.step_key("Left") && show.wait_draws(4)) << "Left did not bring draw 4";
    EXPECT_EQ(drawn[1], show.drawn().back()) << "Left goes back to the picture before";
    return drawn;
}

std::string mark(const Program& show, int n) {
    if (!show.key("Delete") || !show.wait_count("erase <", n)) {
        ADD_FAILURE() << "Delete did not bring mark " << n << "\n" << show.trace();
        return {};
    }
    return show.marked();
}

} // namespace desktop
