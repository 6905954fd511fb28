// The Linux program on a Wayland desktop without X11: sway on its headless backend, started
// by the test (as an unprivileged user when the test runs as root, which sway refuses), the
// screen read back through grim.
#include "Desktop.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <dirent.h>
#include <filesystem>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace desktop::names;

// The user that sway runs as when the test is root: the conventional unprivileged account.
constexpr uid_t kNobody = 65534;

class Compositor : private test::NoCopy {
public:
    Compositor() {
        const std::string runtime = dir_ / "runtime";
        test::make_dirs(runtime);
        test::write_file(dir_ / "sway.cfg",
                         "output HEADLESS-1 resolution 1920x1080\ngaps outer 60\n");
        std::vector<std::string> argv = {"sway", "-c", dir_ / "sway.cfg"};
        if (getuid() == 0) {
            // The folders it reads and the runtime folder it writes must be its own to reach.
            chmod((dir_ / "").c_str(), 0755);
            chmod((dir_ / "sway.cfg").c_str(), 0644);
            if (chown(runtime.c_str(), kNobody, kNobody) != 0) return;
            argv.insert(argv.begin(),
                        {"setpriv", "--reuid=65534", "--regid=65534", "--clear-groups"});
        }
        chmod(runtime.c_str(), 0700);
        pid_ = desktop::spawn(argv,
                              {"XDG_RUNTIME_DIR=" + runtime, "HOME=" + runtime,
                               "WLR_BACKENDS=headless", "WLR_RENDERER=pixman",
                               "WLR_LIBINPUT_NO_DEVICES=1", "PATH=/usr/bin:/bin"},
                              dir_ / "sway.txt");
        // Ready once its socket is there and an output can be read back.
        const bool ready = wait_until([&] {
            if (display_.empty()) display_ = socket_in(runtime);
            return !display_.empty() && shoot(dir_ / "probe.png");
        });
        if (!ready) display_.clear();
    }
    ~Compositor() {
        if (pid_ > 0) desktop::stop(pid_);
    }
    // "wayland-N", or empty when sway did not start.
    const std::string& display() const { return display_; }
    std::string log() const { return test::read_file(dir_ / "sway.txt"); }
    std::vector<std::string> environment() const {
        return {"XDG_RUNTIME_DIR=" + dir_ / "runtime", "WAYLAND_DISPLAY=" + display_};
    }
    bool shoot(const std::string& path) const {
        return desktop::run({"grim", path}, environment(), dir_ / "grim.txt") == 0;
    }

private:
    static std::string socket_in(const std::string& folder) {
        std::string found;
        if (DIR* d = opendir(folder.c_str())) {
            while (dirent* entry = readdir(d)) {
                const std::string name = entry->d_name;
                if (name.rfind("wayland-", 0) == 0 && name.find('.') == std::string::npos)
                    found = name;
            }
            closedir(d);
        }
        return found;
    }

    test::TempDir dir_;
    pid_t pid_ = -1;
    std::string display_;
};

Compositor* g_compositor = nullptr;

// The desktop helpers' requests, answered on Wayland: a screenshot through grim, a key
// through a virtual keyboard. wtype makes a new keyboard each time: it waits until the
// compositor has handed that keyboard's keymap to the show, or the press would come with
// the focus, as a key already down.
bool tool(const std::vector<std::string>& argv) {
    if (argv.size() == 4 && argv[0] == "import") return g_compositor->shoot(argv[3]);
    if (argv.size() == 3 && argv[0] == "xdotool" && argv[1] == "key")
        return desktop::run({"wtype", "-s", "150", "-k", argv[2]}, g_compositor->environment(),
                            "/dev/null") == 0;
    return false;
}

class Show : public desktop::Program {
public:
    Show() : Program(tool) {
        test::make_dirs(dir_ / "run");
        test::make_dirs(dir_ / "pictures");
        // The trash is made inside the data folder, beside the home folder: neither is made.
        test::make_dirs(dir_ / "data");
        test::make_dirs(dir_ / "home");
    }
    ~Show() override { end(); }

    std::string pictures() const { return dir_ / "pictures"; }
    std::string path(const std::string& relative) const { return dir_ / relative; }
    // Started with only the Wayland display, and `more_vars`.
    void start(const std::string& settings, const std::vector<std::string>& more_vars = {},
               const std::vector<std::string>& arguments = {}) {
        test::write_file(dir_ / "run/Glimmerwall.cfg",
                         "trace 4\ndossier " + pictures() + "\n" + settings + "\n");
        const std::string program = dir_ / "run/glimmerwall";
        std::filesystem::copy_file(GW_SHELL_PROGRAM, program);
        std::vector<std::string> vars = g_compositor->environment();
        vars.insert(vars.end(),
                    {"HOME=" + dir_ / "home", "XDG_STATE_HOME=" + dir_ / "state",
                     "XDG_DATA_HOME=" + dir_ / "data", "XDG_CACHE_HOME=" + dir_ / "cache"});
        // A variable of `more_vars` replaces the compositor's.
        for (const std::string& more : more_vars) {
            const std::string name = more.substr(0, more.find('=') + 1);
            vars.erase(std::remove_if(vars.begin(), vars.end(),
                                      [&](const std::string& v) { return v.rfind(name, 0) == 0; }),
                       vars.end());
        }
        vars.insert(vars.end(), more_vars.begin(), more_vars.end());
        std::vector<std::string> argv = {"glimmerwall"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        started(desktop::spawn(argv, desktop::program_environment(vars, GW_LSAN_SUPPRESSIONS),
                               dir_ / "output.txt", program, dir_ / "run"));
    }
    std::string trace() const override {
        return test::read_file(dir_ / "state/glimmerwall/Glimmerwall.txt");
    }
    std::string output() const { return test::read_file(dir_ / "output.txt"); }
    bool trashed(const std::string& original) const {
        const std::string name = original.substr(original.rfind('/') + 1);
        return test::exists(dir_ / ("data/Trash/files/" + name)) && !test::exists(original);
    }

private:
    test::TempDir dir_;
};

class WaylandShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FreeImage_Initialise(FALSE);
        g_compositor = new Compositor;
    }
    static void TearDownTestSuite() {
        delete g_compositor;
        g_compositor = nullptr;
    }
    void SetUp() override {
        ASSERT_FALSE(g_compositor->display().empty()) << "sway did not start\n"
                                                      << g_compositor->log();
    }
};

// Waits until the screen shows `colour` at the middle and black at both sides of a picture
// fitted to 1440 x 1080 from column 240.
bool fitted_on_screen(const Show& show, const Rgb& colour) {
    return wait_until([&] {
        Shot shot(tool, show.path("shot.png"));
        return shot.ok() && shot.at(245, 540).near(colour, 12) &&
               shot.at(1674, 540).near(colour, 12) && shot.at(239, 540).black() &&
               shot.at(1680, 540).black();
    });
}

// Each way of showing on Wayland: the stand-alone show with the Wayland display alone or with
// SDL's Wayland driver named, and the layer mode; each run over the compositor's gaps (a
// tiled window would sit inside them). The picture fitted and centred under its caption,
// Right steps, Delete marks the picture on screen, and Escape, or a termination signal, ends
// in order with the marked picture in the trash.
TEST_F(WaylandShow, EveryModeCoversTheOutputAndKeepsTheKeys) {
    struct Case {
        const char* name;
        std::vector<std::string> arguments;
        std::vector<std::string> vars;
        bool by_signal;
    };
    const Case cases[] = {
        {"stand-alone", {}, {}, false},
        {"stand-alone, SDL's driver named", {}, {"SDL_VIDEODRIVER=wayland"}, true},
        {"layer", {"--layer"}, {}, false},
        {"layer, by signal", {"--layer"}, {}, true},
    };
    const Rgb colours[] = {{30, 120, 200}, {200, 60, 30}};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Show show;
        for (int i = 0; i < 2; ++i)
            ASSERT_TRUE(pictures::write(show.pictures() + "/" + std::to_string(i) + ".png", 1000,
                                        750, pictures::Format::Png, colours[i].r, colours[i].g,
                                        colours[i].b));
        const auto colour_of = [&](const std::string& path) {
            return colours[path.find("/0.png") != std::string::npos ? 0 : 1];
        };
        show.start("delai 100000", c.vars, c.arguments);
        ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.output();
        EXPECT_NE(std::string::npos, show.trace().find("set_window_manager ( 1920x1080 )"));
        const std::string first = show.drawn().front();
        EXPECT_TRUE(fitted_on_screen(show, colour_of(first))) << first;
        {
            Shot shot(tool, show.path("shot.png"));
            ASSERT_TRUE(shot.ok());
            int text = 0;
            for (int x = 0; x < 300; ++x)
                for (int y = 0; y < 18; ++y) text += shot.at(x, y) == Rgb{255, 240, 240} ? 1 : 0;
            EXPECT_GT(text, 20) << "no caption";
        }

        ASSERT_TRUE(show.step_key("Right")) << show.trace();
        ASSERT_TRUE(show.wait_draws(2));
        const std::string second = show.drawn().back();
        EXPECT_NE(first, second);
        EXPECT_TRUE(fitted_on_screen(show, colour_of(second))) << second;
        EXPECT_EQ(second, desktop::mark(show, 1));
        EXPECT_TRUE(show.running());

        if (c.by_signal)
            show.signal(SIGTERM);
        else
            ASSERT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code()) << show.output();
        EXPECT_NE(std::string::npos, show.trace().find("done"));
        EXPECT_TRUE(show.trashed(second)) << show.trace();
        EXPECT_TRUE(test::exists(first));
    }
}

// A display manager that gets no image of its window says so once and the show ends with
// code 1 rather than stepping on with nothing on screen: SDL's window of small mode, SDL told
// to keep off its renderers.
TEST_F(WaylandShow, ShowThatCannotDrawSaysSoOnceAndEndsWithCodeOne) {
    Show show;
    ASSERT_TRUE(pictures::write(show.pictures() + "/a.png", 64, 64, pictures::Format::Png));
    show.start("small\ndelai 200", {"SDL_FRAMEBUFFER_ACCELERATION=0"});
    EXPECT_EQ(1, show.exit_code()) << show.trace();
    EXPECT_EQ(1, show.count("no window surface")) << show.trace();
    EXPECT_EQ(0, show.draws());
    EXPECT_NE(std::string::npos, show.output().find("cannot be drawn")) << show.output();
}

// Without the layer shell's overlays (here: no Wayland display at all) layer mode ends with
// code 1 and one line that says why.
TEST_F(WaylandShow, LayerModeWithoutACompositorEndsWithCodeOne) {
    Show show;
    show.start("", {"WAYLAND_DISPLAY=wayland-none"}, {"--layer"});
    EXPECT_EQ(1, show.exit_code()) << show.trace();
    EXPECT_EQ(0u, show.output().find("glimmerwall: cannot show the overlay: no Wayland display"))
        << show.output();
    EXPECT_NE(std::string::npos, show.trace().find("no Wayland display")) << show.trace();
}

} // namespace
