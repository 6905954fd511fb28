// The Windows shell, cross-built, driven under Wine on an X server of the test's own (Xvfb):
// keys and pointer through xdotool, the screen through a root-window screenshot, the show's
// progress through its trace file, which drive D: of the Wine prefix leads to.
#include "Pictures.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace {

using namespace desktop::names;
using wine::g_machine;
using wine::shot_when;
using wine::Show;
using wine::WineShow;

// The trace at level 4, a step every `delai` milliseconds through the show's own picture folder.
void traced(Show& show, int delai) {
    show.configure("trace 4\ndelai " + std::to_string(delai) + "\n" + show.folder_setting());
}

// one.bmp and two.bmp, 64 x 48.
void two_small_pictures(Show& show) {
    show.picture("one.bmp", 64, 48);
    show.picture("two.bmp", 64, 48);
}

// ---------------------------------------------------------------------------------------------

TEST_F(WineShow, CoversTheScreenPictureCentredOneToOneUnderItsCaption) {
    Show show;
    traced(show, 100000);
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

// The colour of one.bmp or two.bmp, by the path that the trace names.
Rgb colour_of(const std::string& path) {
    return path.find("one.bmp") != std::string::npos ? Rgb{200, 60, 30} : Rgb{30, 60, 200};
}

double seconds_since(std::chrono::steady_clock::time_point begin) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
}

TEST_F(WineShow, AFadeBlendsThePictureInAndAKeyEndsItOnThePictureItActsOn) {
    Show show;
    show.configure("trace 4\ndelai 100000\nfade 5000\n" + show.folder_setting());
    show.picture("one.bmp", 1000, 750, 200, 60, 30);
    show.picture("two.bmp", 1000, 750, 30, 60, 200);
    show.start({"/s"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    const std::string first = show.drawn().back();
    const Rgb first_colour = colour_of(first);

    // Early in the fade from black: some of the picture, far from all of it.
    auto shot = shot_when(show.unix_path("fading.png"),
                          [](const Shot& s) { return !s.at(960, 540).black(); });
    ASSERT_TRUE(shot->ok());
    EXPECT_FALSE(shot->at(960, 540).near(first_colour, 40)) << shot->at(960, 540);

    // Delete ends the fade before it marks: the picture it marks is the one in full view.
    const auto deleted = std::chrono::steady_clock::now();
    EXPECT_EQ(first, desktop::mark(show, 1));
    shot = shot_when(show.unix_path("marked.png"),
                     [&](const Shot& s) { return s.at(960, 540) == first_colour; });
    EXPECT_EQ(first_colour, shot->at(960, 540));
    EXPECT_LT(seconds_since(deleted), 2.5) << "the fade ran its course";

    // The next picture fades in over the first one, and ends on its own pixels exactly.
    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.wait_draws(2));
    const auto drawn = std::chrono::steady_clock::now();
    const Rgb second_colour = colour_of(show.drawn().back());
    ASSERT_FALSE(first_colour == second_colour);
    shot = shot_when(show.unix_path("between.png"),
                     [&](const Shot& s) { return !s.at(960, 540).near(first_colour, 40); });
    EXPECT_FALSE(shot->at(960, 540).near(second_colour, 40)) << shot->at(960, 540);
    EXPECT_TRUE(wait_until(
        [&] {
            shot = std::make_unique<Shot>(wine::tool, show.unix_path("faded.png"));
            return shot->ok() && shot->at(960, 540) == second_colour;
        },
        10000));
    EXPECT_GT(seconds_since(drawn), 4.0);
    for (int x : {245, 960, 1673}) EXPECT_EQ(second_colour, shot->at(x, 540)) << x;
    EXPECT_TRUE(shot->at(239, 540).black() && shot->at(1680, 540).black());
    int text = 0;
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 239; ++x) text += shot->at(x, y) == Rgb{255, 240, 240};
    EXPECT_GT(text, 20);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
}

// CPU time (user and system, in ms) of the show's own process, the decode worker left out:
// the processes whose command line names this show's copy of the program.
double show_cpu_ms(const Show& show) {
    const std::string own = show.dos_folder().substr(3) + "\\Glimmerwall.scr";
    double ticks = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc")) {
        std::string line = test::read_file((entry.path() / "cmdline").string());
        for (char& c : line)
            if (c == '\0') c = ' ';
        if (line.find(own) == std::string::npos || line.find("--decode-worker") != line.npos)
            continue;
        const std::string stat = test::read_file((entry.path() / "stat").string());
        const auto after = stat.rfind(')');
        if (after == std::string::npos) continue;
        // After the name: state is field 3; utime and stime are fields 14 and 15.
        std::istringstream fields(stat.substr(after + 2));
        std::string field;
        for (int i = 3; i <= 15 && fields >> field; ++i)
            if (i >= 14) ticks += std::stod(field);
    }
    return ticks * 1000.0 / static_cast<double>(sysconf(_SC_CLK_TCK));
}

// What a fade costs the show's process at 1920 x 1080, against a second without one: the
// loop wakes for frames only while a fade runs.
TEST_F(WineShow, AFadeCostsItsFramesAndNothingOnceOver) {
    Show show;
    show.configure("trace 4\ndelai 100000\nfade 800\n" + show.folder_setting());
    show.picture("one.bmp", 1920, 1080, 200, 60, 30);
    show.picture("two.bmp", 1920, 1080, 30, 60, 200);
    show.start({"/s"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    ASSERT_GT(show_cpu_ms(show), 0.0) << "the show's process not found";

    const double idle_begin = show_cpu_ms(show);
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double idle = show_cpu_ms(show) - idle_begin;

    const double fade_begin = show_cpu_ms(show);
    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.wait_draws(2));
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    const double fade = show_cpu_ms(show) - fade_begin;
    std::printf("an 800 ms fade at 1920x1080: %.0f ms of CPU in the show's process (the step "
                "included), against %.0f ms in a second without one\n",
                fade, idle);
    EXPECT_LT(idle, 100.0);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
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
    // 400 x 200, 3 pixels from the top and right edges of the 1920-pixel screen.
    desktop::expect_window_at(shot, 1517, 3, 400, 200);
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
    traced(show, 100000);
    for (const char* name : {"p1.bmp", "p2.bmp", "p3.bmp", "p4.bmp"}) show.picture(name, 320, 240);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();

    const std::vector<std::string> drawn = desktop::expect_history_steps(show);
    ASSERT_EQ(3u, drawn.size());

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
    traced(show, 100000);
    for (int i = 0; i < 8; ++i) show.picture("p" + std::to_string(i) + ".bmp", 64, 48);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();

    const std::string first = desktop::mark(show, 1);
    ASSERT_EQ(show.drawn().back(), first);
    for (int step = 1; step <= 4; ++step) {
        ASSERT_TRUE(show.step_key("Right"));
        EXPECT_FALSE(show.recycled(first)) << "step " << step;
    }
    ASSERT_TRUE(show.step_key("Right"));
    EXPECT_TRUE(wait_until([&] { return show.recycled(first); })) << show.trace();
    EXPECT_TRUE(show.wait_count("<" + first + "> deleted", 1));

    ASSERT_TRUE(show.wait_draws(6));
    const std::string second = desktop::mark(show, 2);
    EXPECT_FALSE(show.recycled(second));
    ASSERT_TRUE(show.key("x"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_TRUE(wait_until([&] { return show.recycled(second); })) << show.trace();
}

TEST_F(WineShow, MouseEndsTheShowBeyondFortyPixelsNotAtForty) {
    Show show;
    traced(show, 100);
    two_small_pictures(show);
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

TEST_F(WineShow, WithoutADecodablePictureTheNoImageScreenShowsAndTheShowGoesOn) {
    Show show;
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    test::write_file(show.unix_path("pictures/one.bmp"), "not a picture");
    test::write_file(show.unix_path("pictures/two.bmp"), "not a picture");
    show.start();
    ASSERT_TRUE(show.wait_count("draw_bitmap : no image", 1)) << show.trace();

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

// A show started in its own way: another command line, environment additions, a working folder.
class CustomShow : public Show {
public:
    void start_as(const std::vector<std::string>& argv, const std::vector<std::string>& set = {},
                  const std::string& unix_folder = {}) {
        std::vector<std::string> env = g_machine->wine_environment();
        env.insert(env.end(), set.begin(), set.end());
        started(desktop::spawn(argv, env, g_machine->log(), {}, unix_folder));
    }
};

// A file that no one, root included, can remove or rename while this lives: the immutable
// flag, which only a privileged user can set, and only on a file system that has it.
class Unremovable {
public:
    explicit Unremovable(const std::string& file)
        : file_(file), ok_(g_machine->run({"chattr", "+i", file}) == 0) {}
    ~Unremovable() {
        if (ok_) g_machine->run({"chattr", "-i", file_});
    }
    Unremovable(const Unremovable&) = delete;
    Unremovable& operator=(const Unremovable&) = delete;
    bool ok() const { return ok_; }

private:
    std::string file_;
    bool ok_;
};

TEST_F(WineShow, DevicesAndNamesWithATrailingDotOrSpaceAreNeverShown) {
    Show show;
    traced(show, 20);
    const std::vector<std::string> shown = {show.picture("red.bmp", 64, 48, 200, 0, 0),
                                            show.picture("blue.bmp", 64, 48, 0, 0, 200)};
    // The devices would be opened and read (the serial port waits for ever); the altered names
    // would open "red.bmp" and "blue.bmp" under another caption.
    std::vector<std::string> refused;
    for (const char* name : {"aux.bmp", "com1.bmp", "Lpt2 .jpg", "red.bmp.", "blue.bmp "})
        refused.push_back(show.picture(name, 64, 48, 0, 200, 0));
    show.start();
    for (const std::string& path : refused)
        EXPECT_TRUE(show.wait_count("<" + path + "> not displayabe", 1)) << path << show.trace();
    ASSERT_TRUE(show.wait_draws(show.draws() + 6)) << "the show goes on\n" << show.trace();
    for (const std::string& caption : show.drawn())
        EXPECT_NE(shown.end(), std::find(shown.begin(), shown.end(), caption)) << caption;
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
}

TEST_F(WineShow, ADeletionCountsOnlyWhenTheFileWentToTheRecycleBin) {
    for (const char* prefix : {"", "\\\\?\\", "\\\\.\\"}) {
        // Where Wine finds no trash, the shell would delete for good: the file is kept. The
        // drive is checked in its plain form, however the folder is spelt.
        SCOPED_TRACE(prefix);
        CustomShow show;
        show.configure("trace 4\ndelai 100000\ndossier " + std::string(prefix) +
                       show.dos_path("pictures"));
        show.picture("kept.bmp", 64, 48);
        const std::string kept = prefix + show.dos_path("pictures\\kept.bmp");
        show.start_as({"wine", show.dos_path("Glimmerwall.scr")},
                      {"XDG_DATA_HOME=" + show.unix_path("no-such-folder")});
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        ASSERT_TRUE(show.key("Delete"));
        ASSERT_TRUE(show.wait_count("erase <" + kept + ">", 1)) << show.trace();
        ASSERT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code());
        EXPECT_TRUE(show.wait_count("<" + kept + "> deletion failed (no recycle bin on D:\\", 1))
            << show.trace();
        EXPECT_EQ(0, show.count("<" + kept + "> deleted"));
        EXPECT_TRUE(test::exists(show.unix_path("pictures/kept.bmp")));
    }
    {
        // The shell reports success for a file that it could not move: it stays, is traced as
        // failed, and is tried again at the end.
        Show show;
        traced(show, 100000);
        const std::string stuck = show.picture("stuck.bmp", 64, 48);
        const Unremovable lock(show.unix_path("pictures/stuck.bmp"));
        if (!lock.ok()) GTEST_SKIP() << "no immutable flag here (chattr +i)";
        show.start();
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        ASSERT_TRUE(show.key("Delete"));
        ASSERT_TRUE(show.wait_count("erase <" + stuck + ">", 1));
        for (int step = 0; step < 5; ++step) ASSERT_TRUE(show.step_key("Right"));
        EXPECT_TRUE(show.wait_count("<" + stuck + "> deletion failed (", 1)) << show.trace();
        ASSERT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code());
        EXPECT_TRUE(show.wait_count("<" + stuck + "> deletion failed (", 2)) << show.trace();
        EXPECT_EQ(0, show.count("<" + stuck + "> deleted"));
        EXPECT_TRUE(test::exists(show.unix_path("pictures/stuck.bmp")));
    }
}

// A registry value of the Wine prefix for the length of a case.
class RegistryValue {
public:
    RegistryValue(const std::string& key, const std::string& name, const std::string& type,
                  const std::string& data)
        : key_(key), name_(name) {
        g_machine->run({"wine", "reg", "add", key, "/v", name, "/t", type, "/d", data, "/f"});
    }
    ~RegistryValue() { g_machine->run({"wine", "reg", "delete", key_, "/v", name_, "/f"}); }
    RegistryValue(const RegistryValue&) = delete;
    RegistryValue& operator=(const RegistryValue&) = delete;

private:
    std::string key_, name_;
};

TEST_F(WineShow, AMarkedFileTheRecycleBinWillNotTakeIsKeptNeverDeletedForGood) {
    const std::string policies =
        "HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Policies\\Explorer";
    const std::string trash = g_machine->trash();
    const std::string trash_info = trash.substr(0, trash.rfind('/')) + "/info";
    test::make_dirs(trash);
    test::make_dirs(trash_info);
    const struct {
        const char* title;
        std::function<std::shared_ptr<void>()> arrange;
        const char* why;
    } rows[] = {
        {"unwritable trash", [&] { return std::make_shared<Unremovable>(trash); },
         "the recycle bin did not take it"},
        // Wine then leaves the file alone and reports success.
        {"trash that takes no record of the file",
         [&] { return std::make_shared<Unremovable>(trash_info); }, "still there"},
        {"bin set to remove files at once",
         [&] {
             return std::make_shared<RegistryValue>(policies, "NoRecycleFiles", "REG_DWORD", "1");
         },
         "the recycle bin of D:\\ removes files at once"},
        // Full: what the bin holds and this file together over the bin's size.
        {"bin of no size",
         [&] {
             return std::make_shared<RegistryValue>(policies, "RecycleBinSize", "REG_DWORD", "0");
         },
         "the recycle bin of D:\\ has no room"},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.title);
        Show show;
        show.picture("kept.bmp", 64, 48);
        const std::string unix_file = show.unix_path("pictures/kept.bmp");
        show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
        const std::shared_ptr<void> arranged = row.arrange();
        show.start();
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        ASSERT_TRUE(show.key("Delete"));
        ASSERT_TRUE(show.wait_count("erase <", 1)) << show.trace();
        ASSERT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code());
        const std::string drawn = show.drawn().front();
        EXPECT_TRUE(show.wait_count("<" + drawn + "> deletion failed (" + row.why, 1))
            << show.trace();
        EXPECT_EQ(0, show.count("> deleted")) << show.trace();
        EXPECT_TRUE(test::exists(unix_file)) << unix_file;
        const auto entries = std::filesystem::directory_iterator(show.unix_path("pictures"));
        EXPECT_EQ(1, std::distance(begin(entries), end(entries))) << "a second name was left";
    }
}

TEST_F(WineShow, OfTwoNamesThatDifferInCaseOnlyTheMarkedOneGoesAndIsTracedDeleted) {
    Show show;
    traced(show, 100000);
    show.picture("A.bmp", 64, 48, 200, 0, 0);
    show.picture("a.bmp", 64, 48, 0, 0, 200);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    const std::string marked = desktop::mark(show, 1);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_TRUE(show.wait_count("<" + marked + "> deleted", 1)) << show.trace();
    EXPECT_EQ(0, show.count("deletion failed")) << show.trace();
    const std::string name = marked.substr(marked.rfind('\\') + 1);
    const std::string other = name == "A.bmp" ? "a.bmp" : "A.bmp";
    EXPECT_TRUE(test::exists(g_machine->trash() + "/" + name));
    EXPECT_FALSE(test::exists(show.unix_path("pictures/" + name)));
    EXPECT_TRUE(test::exists(show.unix_path("pictures/" + other)));
}

TEST_F(WineShow, PicturesPastTwoHundredSixtyCharactersAreListedShownAndRecycled) {
    Show show;
    traced(show, 100000);
    // Five levels of 60 characters: the picture's path is over 320 characters long.
    std::string relative = "pictures";
    for (int level = 0; level < 5; ++level)
        relative +=
            "\\" + std::string(58, static_cast<char>('a' + level)) + "-" + std::to_string(level);
    test::make_dirs(show.unix_path(relative));
    const std::string picture = show.picture(relative.substr(9) + "\\deep.bmp", 64, 48);
    ASSERT_GT(picture.size(), 300u);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    EXPECT_EQ(std::vector<std::string>{picture}, show.drawn()) << show.trace();
    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 1));
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_TRUE(show.wait_count("<" + picture + "> deleted", 1)) << show.trace();
    EXPECT_TRUE(test::exists(g_machine->trash() + "/deep.bmp"));
}

TEST_F(WineShow, ProgramFolderFromTheModuleAtADriveRootAndThroughForwardSlashes) {
    const std::string root = g_machine->drive_d();
    {
        // At D:\, started from a folder two levels down: "D:" alone would stay there, where
        // neither the settings nor their parent's copy are.
        // Gone again before the next show, whatever happens here.
        struct AtRoot {
            std::string root;
            ~AtRoot() {
                std::filesystem::remove(root + "/Glimmerwall.scr");
                std::filesystem::remove(root + "/Glimmerwall.cfg");
            }
        } at_root{root};
        CustomShow show;
        std::filesystem::copy_file(GW_SCR_PROGRAM, root + "/Glimmerwall.scr");
        test::write_file(root + "/Glimmerwall.cfg", "trace 4\ndelai 100000\n");
        show.start_as({"wine", "D:\\Glimmerwall.scr"}, {}, show.unix_path("pictures"));
        EXPECT_TRUE(show.wait_count("read config from <Glimmerwall.cfg>", 1)) << show.trace();
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        EXPECT_EQ(1, show.count("\ncurrent dir = <D:\\>\n")) << show.trace();
        EXPECT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code());
    }
    {
        // A command line that keeps its forward slashes (cmd passes it on as written).
        CustomShow show;
        show.configure("trace 4\ndelai 100000");
        test::make_dirs(show.unix_path("pictures/deeper"));
        std::string slashed = show.dos_path("Glimmerwall.scr");
        std::replace(slashed.begin(), slashed.end(), '\\', '/');
        show.start_as({"wine", "cmd", "/c", slashed}, {}, show.unix_path("pictures/deeper"));
        EXPECT_TRUE(show.wait_count("read config from <Glimmerwall.cfg>", 1)) << show.trace();
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        EXPECT_EQ(1, show.count("command line = <> (" + slashed + ")")) << show.trace();
        EXPECT_EQ(1, show.count("\ncurrent dir = <" + show.dos_folder() + ">\n"));
        EXPECT_TRUE(show.key("Escape"));
        EXPECT_TRUE(show.wait_count(" done\n", 1));
    }
}

TEST_F(WineShow, AHeldArrowGivesWayToAQueuedEscapeOrMouseMove) {
    // Pictures that take a while each, none kept: a step outlasts the key's repeat period.
    Show first;
    for (const char* name : {"big1.bmp", "big2.bmp", "big3.bmp"}) first.picture(name, 4000, 3000);
    Show second;
    // Held through a few steps, while the X server repeats it, then released behind Escape or
    // behind a movement far beyond the mouse rule.
    const std::vector<std::vector<std::string>> endings = {
        {"xdotool", "keyup", "Right", "key", "Escape"},
        {"xdotool", "mousemove", "900", "900", "keyup", "Right"}};
    Show* shows[] = {&first, &second};
    for (int i = 0; i < 2; ++i) {
        Show& show = *shows[i];
        show.configure("trace 4\ndelai 100000\ncache 1\ndossier " + first.dos_path("pictures"));
        ASSERT_TRUE(pointer(500, 500));
        std::filesystem::remove(g_machine->drive_d() + "/Glimmerwall.txt"); // the first show's
        show.start();
        ASSERT_TRUE(show.wait_draws(1)) << show.trace();
        ASSERT_TRUE(g_machine->tool({"xdotool", "keydown", "Right"}));
        const bool stepped = show.wait_count("next( forced )", 8);
        const auto release = std::chrono::steady_clock::now();
        ASSERT_TRUE(g_machine->tool(endings[i]));
        const int at_release = show.count("next( forced )");
        ASSERT_TRUE(stepped) << show.trace();
        EXPECT_EQ(0, show.exit_code());
        const double seconds =
            std::chrono::duration<double>(std::chrono::steady_clock::now() - release).count();
        const int at_end = show.count("next( forced )");
        std::printf("%s: %d steps at the release, %d at the end, ended %.2f s after\n",
                    endings[i][1].c_str(), at_release, at_end, seconds);
        EXPECT_LE(at_end, at_release + 1) << endings[i][1];
    }
}

TEST_F(WineShow, EndOfTheSessionSendsTheMarkedFileToTheRecycleBin) {
    Show show;
    traced(show, 100000);
    two_small_pictures(show);
    show.start();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    const std::string marked = desktop::mark(show, 1);
    ASSERT_FALSE(show.recycled(marked));
    // Wine's log-off: every window is asked, told, and its process ended.
    EXPECT_EQ(0, g_machine->run({"wineboot", "--end-session"}, 30000));
    EXPECT_TRUE(wait_until([&] { return show.recycled(marked); })) << show.trace();
    EXPECT_GE(show.exit_code(), 0);
}

} // namespace

namespace {
// Whether a decode worker of the show in `folder` (a copy of Glimmerwall.scr started with its
// worker switch) still runs.
bool worker_runs(const Show& show) {
    const std::string folder = show.dos_folder().substr(3);
    return g_machine->run({"pgrep", "-f", folder + ".Glimmerwall.scr --decode-worker"}) == 0;
}
} // namespace

// The pictures are decoded by a worker copy of the program: Delete marks the picture on
// screen while a decode runs, a worker killed in a decode refuses that picture and the show
// goes on, keys end the show at once whatever is decoded, and no worker outlives the show.
TEST_F(WineShow, TheDecodeWorkerHoldsNothingAndEndsWithTheShow) {
    Show show;
    traced(show, 100000);
    const std::string quick = show.picture("quick.bmp", 64, 48);
    ASSERT_TRUE(pictures::write_slow_jpeg(show.unix_path("pictures/slow.jpg"), 4000, 3000, 40000));
    const std::string slow = show.dos_path("pictures\\slow.jpg");
    show.start();
    ASSERT_TRUE(show.wait_count("request( " + slow + " )", 1)) << show.trace();
    ASSERT_TRUE(worker_runs(show));
    ASSERT_EQ(0,
              g_machine->run({"pkill", "-KILL", "-f",
                              show.dos_folder().substr(3) + ".Glimmerwall.scr --decode-worker"}));
    ASSERT_TRUE(show.wait_count("load( " + slow + " ) refused: the decoder stopped", 1))
        << show.trace();
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    EXPECT_EQ(quick, desktop::mark(show, 1));
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code(5000));
    EXPECT_TRUE(show.wait_count("<" + quick + "> deleted", 1)) << show.trace();
    EXPECT_TRUE(desktop::wait_until([&] { return !worker_runs(show); }, 5000));
}

// A decode over the worker's time ends the worker; the picture is refused, the show goes on,
// and Escape in the middle of the next slow decode ends it at once.
TEST_F(WineShow, ADecodeOverItsTimeIsRefusedAndEscapeEndsTheShowDuringADecode) {
    Show show;
    traced(show, 0);
    // Each would take about a minute here: past the 10 s limit on any machine.
    for (const char* name : {"slow1.jpg", "slow2.jpg"})
        ASSERT_TRUE(pictures::write_slow_jpeg(show.unix_path(std::string("pictures/") + name), 4000,
                                              3000, 100000));
    show.start();
    ASSERT_TRUE(show.wait_count("refused: the decoder ran out of time (10000 ms)", 1, 30000))
        << show.trace();
    ASSERT_TRUE(show.wait_count("request(", 2)) << show.trace();
    ASSERT_TRUE(worker_runs(show));
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code(5000));
    EXPECT_EQ(0, show.count(") win:")) << show.trace();
    // Wine's launcher may end a moment before the program's last steps.
    EXPECT_TRUE(desktop::wait_until([&] { return !worker_runs(show); }, 5000));
}
