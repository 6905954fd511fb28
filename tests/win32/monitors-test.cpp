// The Windows shell on two monitors under Wine: an X server of its own with Xorg's dummy driver
// and two 1920 x 1080 outputs side by side (Xvfb gives Wine one monitor whatever its screens),
// a Wine prefix of its own (a Wine server takes its monitors from the display it first saw),
// drive D: leading where the other cases' does.
#include "Desktop.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

namespace {

using desktop::Rgb;
using desktop::Shot;
using wine::g_machine;
using wine::WineShow;

// The two-head X server with a Wine prefix of its own; display() stays empty when either could
// not be made, why() tells.
class TwoHeads : private test::NoCopy {
public:
    TwoHeads() : server_(wine::environment({}), 2), display_(server_.display()) {
        if (display_.empty()) {
            why_ = "Xorg's dummy driver gave no two outputs: " + server_.why();
            return;
        }
        test::make_dirs(folder_ / "prefix");
        std::error_code error;
        if (!tool({"wineserver", "-p"}) ||
            desktop::run({"wineboot", "-i"}, environment(), folder_ / "log.txt", 180000) != 0 ||
            (std::filesystem::create_directory_symlink(g_machine->drive_d(),
                                                       folder_ / "prefix/dosdevices/d:", error),
             error)) {
            why_ =
                "no Wine prefix on the two-head display: " + test::read_file(folder_ / "log.txt");
            display_.clear();
        }
    }
    ~TwoHeads() {
        if (test::exists(folder_ / "prefix")) {
            tool({"wineserver", "-k"});
            tool({"wineserver", "-w"});
        }
    }
    const std::string& display() const { return display_; }
    const std::string& why() const { return why_; }
    std::vector<std::string> environment() const {
        std::vector<std::string> env;
        for (const std::string& entry : g_machine->wine_environment(false))
            if (entry.compare(0, 11, "WINEPREFIX=") != 0) env.push_back(entry);
        env.push_back("WINEPREFIX=" + folder_ / "prefix");
        env.push_back("DISPLAY=" + display_);
        return env;
    }
    // A program of the test machine (xrandr, xdotool, import) on this display.
    bool tool(const std::vector<std::string>& argv) const {
        return desktop::run(argv, environment(), folder_ / "log.txt") == 0;
    }
    // Monitor `index`'s 1920 x 1080 pixels.
    std::unique_ptr<Shot> shot(const std::string& path, int index) const {
        const std::string crop = "1920x1080+" + std::to_string(1920 * index) + "+0";
        return std::make_unique<Shot>(
            [&](const std::vector<std::string>&) {
                return tool({"import", "-window", "root", "-crop", crop, "+repage", path});
            },
            path);
    }

private:
    test::TempDir folder_;
    desktop::XServer server_;
    std::string display_;
    std::string why_;
};

// A show started on the two-head display; its keys go there too.
class TwoHeadShow : public wine::Show {
public:
    explicit TwoHeadShow(const TwoHeads& heads) : heads_(heads) {}
    ~TwoHeadShow() override { end(); }
    void start_show() {
        started(desktop::spawn({"wine", dos_path("Glimmerwall.scr"), "/s"}, heads_.environment(),
                               g_machine->log()));
    }
    bool press(const std::string& name) const { return heads_.tool({"xdotool", "key", name}); }

private:
    const TwoHeads& heads_;
};

// Columns of a picture fitted to 1920 x 1080 and centred: first lit, first black after it.
struct Fitted {
    Rgb colour;
    int left, right;
};

// The brightest caption pixels at the top left of a monitor: bright, dim, or neither.
void expect_caption(const Shot& shot, bool bright, const char* monitor) {
    int bright_pixels = 0;
    int dim_pixels = 0;
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 200; ++x) {
            bright_pixels += shot.at(x, y) == Rgb{255, 240, 240};
            dim_pixels += shot.at(x, y) == Rgb{128, 120, 120};
        }
    if (bright) {
        EXPECT_GT(bright_pixels, 20) << monitor;
        EXPECT_EQ(0, dim_pixels) << monitor;
    } else {
        EXPECT_EQ(0, bright_pixels) << monitor;
        EXPECT_GT(dim_pixels, 20) << monitor;
    }
}

} // namespace

// Each monitor changes in turn, with a picture fitted to it; the caption of the one changed
// last is bright, the other's dimmed, and Delete marks the picture changed last.
TEST_F(WineShow, EachMonitorItsOwnFittedPictureTheOneChangedLastMarked) {
    const TwoHeads heads;
    ASSERT_FALSE(heads.display().empty()) << heads.why();
    TwoHeadShow show(heads);
    show.configure("trace 4\ndelai 100000\nscreens each\n" + show.folder_setting());
    const std::string wide = show.picture("one.bmp", 1000, 750, 200, 60, 30);
    const std::string tall = show.picture("two.bmp", 800, 1000, 30, 60, 200);
    show.picture("three.bmp", 1000, 750, 30, 200, 60);
    show.start_show();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << test::read_file(g_machine->log());
    const std::string trace = show.trace();
    EXPECT_NE(std::string::npos, trace.find("set_window_manager ( 3840x1080 )")) << trace;
    EXPECT_NE(std::string::npos, trace.find("set_screens ( 2 monitors, a picture on each )"));
    EXPECT_NE(std::string::npos, trace.find("next : screen 0 at 0,0 (1920x1080)"));

    ASSERT_TRUE(show.press("Right"));
    ASSERT_TRUE(show.wait_draws(2)) << show.trace();
    EXPECT_NE(std::string::npos, show.trace().find("next : screen 1 at 1920,0 (1920x1080)"));
    // The draws alternate between the monitors; the pictures are drawn at random, so a few
    // more steps may be needed for the two monitors to differ.
    std::vector<std::string> drawn = show.drawn();
    while (drawn.size() < 8 && drawn[drawn.size() - 1] == drawn[drawn.size() - 2]) {
        ASSERT_TRUE(show.press("Right"));
        ASSERT_TRUE(show.wait_draws(static_cast<int>(drawn.size()) + 1)) << show.trace();
        drawn = show.drawn();
    }
    const std::size_t last = drawn.size() - 1;
    ASSERT_NE(drawn[last], drawn[last - 1]);
    const int last_monitor = static_cast<int>(last % 2);

    // 1000 x 750 fitted to 1440 x 1080 from column 240; 800 x 1000 to 864 x 1080 from 528.
    const Fitted landscape = {{200, 60, 30}, 240, 1680};
    const Fitted portrait = {{30, 60, 200}, 528, 1392};
    const Fitted green = {{30, 200, 60}, 240, 1680};
    for (int monitor = 0; monitor < 2; ++monitor) {
        SCOPED_TRACE("monitor " + std::to_string(monitor));
        const std::string& held = drawn[monitor == last_monitor ? last : last - 1];
        const Fitted& fitted = held == wide ? landscape : (held == tall ? portrait : green);
        const std::string path = show.unix_path("monitor" + std::to_string(monitor) + ".png");
        std::unique_ptr<Shot> shot;
        ASSERT_TRUE(desktop::wait_until(
            [&] {
                shot = heads.shot(path, monitor);
                return shot->ok() && shot->at(960, 540).near(fitted.colour, 12);
            },
            10000))
            << (shot->ok() ? "" : "no screenshot");
        for (int y : {100, 540, 1077}) {
            EXPECT_TRUE(shot->at(fitted.left - 1, y).black()) << y;
            EXPECT_TRUE(shot->at(fitted.left + 4, y).near(fitted.colour, 12)) << y;
            EXPECT_TRUE(shot->at(fitted.right - 5, y).near(fitted.colour, 12)) << y;
            EXPECT_TRUE(shot->at(fitted.right, y).black()) << y;
        }
        const bool bright = monitor == last_monitor;
        expect_caption(*shot, bright, bright ? "changed last" : "changed before");
    }

    ASSERT_TRUE(show.press("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 1)) << show.trace();
    EXPECT_EQ(drawn[last], show.marked());
    ASSERT_TRUE(show.press("Escape"));
    EXPECT_EQ(0, show.exit_code());
}
