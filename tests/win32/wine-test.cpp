// The Windows shell, cross-built, driven under Wine on an X server of the test's own (Xvfb):
// keys and pointer through xdotool, the screen through a root-window screenshot, the show's
// progress through its trace file, which drive D: of the Wine prefix leads to.
#include "Desktop.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace {

using desktop::kHeight;
using desktop::kWidth;
using desktop::Rgb;
using desktop::Shot;
using desktop::wait_until;

// The inherited environment without what points at a display, a user's folders or a Wine
// prefix, plus `set`.
std::vector<std::string> environment(const std::vector<std::string>& set) {
    std::vector<std::string> result =
        desktop::inherited_environment({"DISPLAY=", "WAYLAND_DISPLAY=", "HOME=", "XDG_", "WINE"});
    result.insert(result.end(), set.begin(), set.end());
    return result;
}

// The X server, the Wine prefix (made once: it takes seconds) with its server kept running,
// and the folder that drive D: leads to.
class Machine {
public:
    Machine() {
        // Wine recycles into the freedesktop trash only where the data folder exists, as on
        // any desktop; elsewhere it deletes for good.
        test::make_dirs(root_ / "home/.local/share");
        test::make_dirs(root_ / "d");
        if (x_server_.display().empty()) return;
        const auto begin = std::chrono::steady_clock::now();
        // A persistent server, started first: the cases then follow one another without a
        // server start each, and the prefix is ready without waiting for a server to quit.
        test::make_dirs(root_ / "prefix");
        if (run({"wineserver", "-p"}) != 0 || run({"wineboot", "-i"}, 180000) != 0) return;
        std::error_code error;
        std::filesystem::create_directory_symlink(root_ / "d", root_ / "prefix/dosdevices/d:", error);
        prefix_seconds_ = std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
        ready_ = !error;
    }
    ~Machine() {
        run({"wineserver", "-k"}, 15000);
        run({"wineserver", "-w"}, 15000);
    }
    Machine(const Machine&) = delete;
    Machine& operator=(const Machine&) = delete;

    bool ready() const { return ready_; }
    double prefix_seconds() const { return prefix_seconds_; }
    std::string drive_d() const { return root_ / "d"; }
    std::string trash() const { return root_ / "home/.local/share/Trash/files"; }
    std::vector<std::string> wine_environment(bool with_display = true) const {
        std::vector<std::string> set = {"HOME=" + root_ / "home", "WINEPREFIX=" + root_ / "prefix",
                                        "WINEDEBUG=-all",
                                        "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"};
        if (with_display) set.push_back("DISPLAY=" + x_server_.display());
        return environment(set);
    }
    std::string log() const { return root_ / "log.txt"; }
    // A program of the test machine (xdotool, import, wineserver); its exit code.
    int run(const std::vector<std::string>& argv, int timeout_ms = 15000) const {
        return desktop::run(argv, wine_environment(), log(), timeout_ms);
    }
    bool tool(const std::vector<std::string>& argv) const { return run(argv) == 0; }

private:
    test::TempDir root_;
    // Stopped after the Wine server, before its folders go.
    desktop::XServer x_server_{environment({})};
    bool ready_ = false;
    double prefix_seconds_ = 0;
};

Machine* g_machine = nullptr;

bool tool(const std::vector<std::string>& argv) { return g_machine->tool(argv); }

// Wine copies a window's drawing to the X server a moment after the drawing call: the first
// screenshot that satisfies `ready`, or the last one taken when none does before the deadline.
std::unique_ptr<Shot> shot_when(const std::string& path, const std::function<bool(const Shot&)>& ready) {
    std::unique_ptr<Shot> shot;
    wait_until([&] {
        shot = std::make_unique<Shot>(tool, path);
        return shot->ok() && ready(*shot);
    }, 10000);
    return shot;
}

// One run of Glimmerwall.scr from a folder of its own on drive D:, its configuration beside it.
class Show : public desktop::Program {
public:
    Show() : Program(tool), name_("show" + std::to_string(++count_)) {
        test::make_dirs(unix_path("pictures"));
        std::filesystem::copy_file(GW_SCR_PROGRAM, unix_path("Glimmerwall.scr"));
        std::filesystem::remove(g_machine->drive_d() + "/Glimmerwall.txt");
    }

    void with_freeimage() const {
        std::filesystem::copy_file(GW_FREEIMAGE_DOUBLE, unix_path("FreeImage.dll"));
    }
    void configure(const std::string& settings) const {
        test::write_file(unix_path("Glimmerwall.cfg"), settings + "\n");
    }
    std::string folder_setting() const { return "dossier " + dos_path("pictures"); }
    // A BMP of its own colour and size; its path as the show names it.
    std::string picture(const std::string& name, int w = 1000, int h = 750, std::uint8_t red = 200,
                        std::uint8_t green = 60, std::uint8_t blue = 30) const {
        EXPECT_TRUE(pictures::write(unix_path("pictures/" + name), w, h, pictures::Format::Bmp, red,
                                    green, blue));
        return dos_path("pictures\\" + name);
    }
    std::string unix_path(const std::string& relative) const {
        std::string path = g_machine->drive_d() + "/" + name_ + "/" + relative;
        std::replace(path.begin(), path.end(), '\\', '/');
        return path;
    }
    std::string dos_folder() const { return "D:\\" + name_; }
    std::string dos_path(const std::string& relative) const { return dos_folder() + "\\" + relative; }

    void start(const std::vector<std::string>& arguments = {}, bool with_display = true) {
        std::vector<std::string> argv = {"wine", dos_path("Glimmerwall.scr")};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        started(desktop::spawn(argv, g_machine->wine_environment(with_display), g_machine->log()));
    }
    // The trace file, with the line ends of Windows text files made plain.
    std::string trace() const override {
        std::string text = test::read_file(g_machine->drive_d() + "/Glimmerwall.txt");
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    // A picture of this show gone from its folder and found in the Wine user's trash.
    bool recycled(const std::string& dos) const {
        const std::string name = dos.substr(dos.rfind('\\') + 1);
        return !test::exists(unix_path("pictures/" + name)) &&
               test::exists(g_machine->trash() + "/" + name);
    }

private:
    static int count_;
    std::string name_;
};
int Show::count_ = 0;

class WineShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FreeImage_Initialise(FALSE);
        g_machine = new Machine;
        std::printf("Wine prefix made in %.1f s\n", g_machine->prefix_seconds());
    }
    static void TearDownTestSuite() {
        delete g_machine;
        g_machine = nullptr;
    }
    void SetUp() override {
        ASSERT_TRUE(g_machine->ready()) << "Xvfb or the Wine prefix did not start\n"
                                        << test::read_file(g_machine->log());
    }
    static bool pointer(int x, int y) {
        return g_machine->tool({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
    }
};

// ---------------------------------------------------------------------------------------------

TEST_F(WineShow, CoversTheScreenPictureCentredOneToOneUnderItsCaption) {
    Show show;
    show.with_freeimage();
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    const std::string file = show.picture("a-picture-with-a-long-enough-name.bmp", 999, 750);
    const auto begin = std::chrono::steady_clock::now();
    show.start({"/s"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << test::read_file(g_machine->log());
    std::printf("first picture %.2f s after start\n",
                std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count());

    // The start-up lines follow the configuration's and come before the window's.
    const std::string trace = show.trace();
    const auto banner = trace.find("\n\n*** Glimmerwall / T.Orvald / build ");
    ASSERT_NE(std::string::npos, banner) << trace;
    EXPECT_LT(trace.find("read config from <Glimmerwall.cfg>"), banner);
    EXPECT_LT(banner, trace.find("set_window_manager"));
    EXPECT_NE(std::string::npos,
              trace.find("\ncommand line = </s> (" + show.dos_path("Glimmerwall.scr") + ")\n"));
    EXPECT_NE(std::string::npos, trace.find("\ncurrent dir = <" + show.dos_folder() + ">\n"));
    EXPECT_NE(std::string::npos, trace.find("set_window_manager ( 1920x1080 )"));
    EXPECT_EQ(std::vector<std::string>{file}, show.drawn());
    EXPECT_EQ(0, show.count("FreeImage.dll"));

    const Rgb colour{200, 60, 30};
    const auto taken = shot_when(show.unix_path("shot.png"),
                                 [&](const Shot& s) { return s.at(960, 540).near(colour, 12); });
    const Shot& shot = *taken;
    ASSERT_TRUE(shot.ok());
    // The root window is white: a black border all round means the window covers the screen.
    for (int x : {0, kWidth - 1})
        for (int y : {100, kHeight - 1}) EXPECT_TRUE(shot.at(x, y).black()) << x << "," << y;
    EXPECT_TRUE(shot.at(kWidth - 1, 0).black());
    // 999 x 750 fitted to 1439 x 1080 and copied one to one from column 240 to 1678: of the
    // odd 481 columns of border, the extra one is on the right.
    for (int y : {100, 540, 1077}) {
        EXPECT_TRUE(shot.at(239, y).black()) << y << " " << shot.at(239, y);
        EXPECT_FALSE(shot.at(240, y).black()) << y;
        EXPECT_TRUE(shot.at(245, y).near(colour, 12)) << y << " " << shot.at(245, y);
        EXPECT_TRUE(shot.at(1673, y).near(colour, 12)) << y << " " << shot.at(1673, y);
        EXPECT_FALSE(shot.at(1678, y).black()) << y;
        EXPECT_TRUE(shot.at(1679, y).black()) << y << " " << shot.at(1679, y);
    }
    EXPECT_TRUE(shot.at(239, 1079).black() && shot.at(1679, 1079).black());
    EXPECT_FALSE(shot.at(240, 1079).black() || shot.at(1678, 1079).black());
    // The caption, 18 pixels high at the top left: text colour on black, nothing below it.
    int text = 0;
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 239; ++x) {
            const Rgb c = shot.at(x, y);
            if (c == Rgb{255, 240, 240}) ++text;
            EXPECT_TRUE(c.g == c.b && c.r >= c.g) << x << "," << y << " " << c;
        }
    EXPECT_GT(text, 20);
    for (int x = 0; x < 239; x += 7) EXPECT_TRUE(shot.at(x, 18).black()) << x;

    ASSERT_TRUE(show.key("a"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_NE(std::string::npos, show.trace().find(" done\n"));
}

TEST_F(WineShow, SmallModeAtTheTopRightAndTraceOneHidesTheStartupLines) {
    Show show;
    show.configure("trace 1\nsmall\ndelai 100000");
    ASSERT_TRUE(pointer(200, 600));
    show.start();
    // Nothing at level 1 or less is due: the screen tells when the window is up.
    const auto taken = shot_when(show.unix_path("shot.png"), [](const Shot& s) {
        return !s.at(1517, 3).white() && !s.at(1916, 202).white();
    });
    const Shot& shot = *taken;
    ASSERT_TRUE(shot.ok());
    for (int y : {3, 100, 202}) {
        EXPECT_TRUE(shot.at(1516, y).white()) << y;
        EXPECT_FALSE(shot.at(1517, y).white()) << y;
        EXPECT_FALSE(shot.at(1916, y).white()) << y;
        EXPECT_TRUE(shot.at(1917, y).white()) << y;
    }
    for (int x : {1517, 1700, 1916}) {
        EXPECT_TRUE(shot.at(x, 2).white()) << x;
        EXPECT_FALSE(shot.at(x, 3).white()) << x;
        EXPECT_FALSE(shot.at(x, 202).white()) << x;
        EXPECT_TRUE(shot.at(x, 203).white()) << x;
    }
    EXPECT_TRUE(show.running());

    // The mouse counts only over the window: onto it, far from where it stood, ends the show.
    ASSERT_TRUE(pointer(1700, 100));
    EXPECT_EQ(0, show.exit_code());
    const std::string trace = show.trace();
    EXPECT_EQ(std::string::npos, trace.find("Glimmerwall / T.Orvald")) << trace;
    EXPECT_EQ(std::string::npos, trace.find("command line = ")) << trace;
    EXPECT_EQ(std::string::npos, trace.find("current dir = ")) << trace;
}

TEST_F(WineShow, KeysActAsTheirTableSaysAndAnyOtherEndsTheShow) {
    Show show;
    show.with_freeimage();
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    for (const char* name : {"p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp"}) show.picture(name, 320, 240);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();

    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.wait_draws(3));
    const std::vector<std::string> drawn = show.drawn();
    ASSERT_EQ(3u, drawn.size());
    EXPECT_NE(drawn[0], drawn[1]);
    EXPECT_NE(drawn[1], drawn[2]);

    ASSERT_TRUE(show.step_key("Left"));
    ASSERT_TRUE(show.wait_draws(4));
    EXPECT_EQ(drawn[1], show.drawn().back());

    ASSERT_TRUE(show.step_key("space"));
    ASSERT_TRUE(show.wait_draws(5));
    EXPECT_EQ(drawn[1] + "   pause", show.drawn().back());
    EXPECT_EQ(1, show.count("toggle_pause : now paused"));
    ASSERT_TRUE(show.step_key("space"));
    ASSERT_TRUE(show.wait_draws(6));
    EXPECT_EQ(std::string::npos, show.drawn().back().find("pause"));

    // Delete marks without a step; system keys (Alt held, F10) are left to Windows.
    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 1));
    ASSERT_TRUE(show.key("alt+q"));
    ASSERT_TRUE(show.key("F10"));
    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.wait_draws(7));
    EXPECT_EQ(7, show.draws());
    EXPECT_TRUE(show.running());

    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_EQ(1, show.count("next( not forced )")) << "only the first step came from the timer";
}

TEST_F(WineShow, MarkedFileGoesToTheRecycleBinAtTheFifthStepOrAtTheEnd) {
    Show show;
    show.with_freeimage();
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    for (int i = 0; i < 8; ++i) show.picture("p" + std::to_string(i) + ".bmp", 64, 48);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();

    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 1));
    const std::string first = show.marked();
    ASSERT_EQ(show.drawn().back(), first);
    for (int step = 1; step <= 4; ++step) {
        ASSERT_TRUE(show.step_key("Right"));
        EXPECT_FALSE(show.recycled(first)) << "step " << step;
    }
    ASSERT_TRUE(show.step_key("Right"));
    EXPECT_TRUE(wait_until([&] { return show.recycled(first); })) << show.trace();
    EXPECT_TRUE(show.wait_count("<" + first + "> deleted", 1));

    ASSERT_TRUE(show.wait_draws(6));
    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 2));
    const std::string second = show.marked();
    EXPECT_FALSE(show.recycled(second));
    ASSERT_TRUE(show.key("x"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_TRUE(show.recycled(second)) << show.trace();
}

TEST_F(WineShow, MouseEndsTheShowBeyondFortyPixelsNotAtForty) {
    Show show;
    show.with_freeimage();
    show.configure("trace 4\ndelai 100\n" + show.folder_setting());
    show.picture("one.bmp", 64, 48);
    show.picture("two.bmp", 64, 48);
    ASSERT_TRUE(pointer(500, 500));
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();

    ASSERT_TRUE(pointer(540, 540));
    ASSERT_TRUE(show.wait_draws(show.draws() + 2));
    ASSERT_TRUE(pointer(460, 460));
    ASSERT_TRUE(g_machine->tool({"xdotool", "click", "1"}));
    ASSERT_TRUE(show.wait_draws(show.draws() + 2));
    EXPECT_TRUE(show.running());

    ASSERT_TRUE(pointer(541, 500));
    EXPECT_EQ(0, show.exit_code());
}

TEST_F(WineShow, WithoutFreeImageDllTheNoImageScreenShowsAndTheShowGoesOn) {
    Show show;
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    show.picture("one.bmp");
    show.picture("two.bmp");
    show.start();
    ASSERT_TRUE(show.wait_count("draw_bitmap : no image", 1)) << show.trace();
    EXPECT_EQ(1, show.count("FreeImage.dll")) << show.trace();

    int left, top, right, bottom;
    const auto taken = shot_when(show.unix_path("shot.png"), [&](const Shot& s) {
        return s.lit_box(left, top, right, bottom, desktop::Unlit::BlackOrWhite);
    });
    ASSERT_TRUE(taken->ok());
    ASSERT_TRUE(taken->lit_box(left, top, right, bottom, desktop::Unlit::BlackOrWhite));
    EXPECT_TRUE(left > 0 && top > 0 && right < kWidth - 1 && bottom < kHeight - 1);
    EXPECT_GT(right - left, 150) << "the whole line, not a piece";
    // The never-seeded generator: symbol, then y = 18467 % (1080 - 48) = 923, then x.
    EXPECT_GE(top, 923);
    EXPECT_LE(bottom, 970);

    // Delete with no picture on screen marks nothing.
    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase : no picture on screen", 1));
    for (int step = 0; step < 5; ++step) ASSERT_TRUE(show.step_key("Right"));
    EXPECT_EQ(0, show.count("delete_file")) << show.trace();
    EXPECT_EQ(6, show.count("draw_bitmap : no image"));
    EXPECT_EQ(1, show.count("FreeImage.dll"));
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
}

TEST_F(WineShow, WithoutADisplayNoWindowEndsWithCodeOne) {
    Show show;
    show.configure("trace 4");
    show.start({}, false);
    EXPECT_EQ(1, show.exit_code());
    EXPECT_EQ(1, show.count("create_screen_window : no window")) << show.trace();
    EXPECT_EQ(0, show.count("set_window_manager"));
}

} // namespace
