// The Linux shell, driven as a separate process on an X server of the test's own (Xvfb):
// keys and pointer through xdotool, the screen through a root-window screenshot, the show's
// progress through its trace file.
#include "Desktop.h"
#include "Pictures.h"
#include "Platform.h"
#include "Shell.h"
#include "TestSupport.h"
#include "UserFolders.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <sys/stat.h>
#include <thread>
#include <unistd.h>
#include <vector>

// Last: its macros (None, Bool) would clash with the headers above.
#include <X11/Xlib.h>

namespace {

using namespace desktop::names;

std::vector<std::string> environment(const std::vector<std::string>& set) {
    return desktop::program_environment(set, GW_LSAN_SUPPRESSIONS);
}

desktop::XServer* g_server = nullptr;

// A helper program (xdotool, import) on the test's display; true when it succeeded.
bool tool(const std::vector<std::string>& argv) {
    return desktop::run_tool(*g_server, GW_LSAN_SUPPRESSIONS, argv);
}

// One run of the program in a folder of its own: configuration, pictures, home, trash, trace.
class Show : public desktop::Program {
public:
    // Keys and screenshots through `keys`, on the test suite's server unless told otherwise.
    explicit Show(desktop::Tool keys = tool) : Program(std::move(keys)) {
        test::make_dirs(dir_ / "home");
        test::make_dirs(dir_ / "run");
        test::make_dirs(dir_ / "pictures");
    }
    // Before the folder that the program runs in goes.
    ~Show() override { end(); }

    // The settings, after "trace 4", in the run folder or in the user's configuration folder.
    void configure(const std::string& settings, bool in_user_config = false) const {
        const std::string file = in_user_config ? dir_ / "config/glimmerwall/Glimmerwall.cfg"
                                                : dir_ / "run/Glimmerwall.cfg";
        test::make_dirs(file.substr(0, file.rfind('/')));
        test::write_file(file, "trace 4\n" + settings + "\n");
    }
    std::string pictures() const { return dir_ / "pictures"; }
    std::string folder_setting() const { return "dossier " + pictures(); }
    std::string path(const std::string& relative) const { return dir_ / relative; }

    // A copy of the program in the run folder, started there as a bare name: the program's
    // folder is where its executable lies, so the run folder's configuration is read.
    void start(const std::vector<std::string>& arguments = {},
               const std::vector<std::string>& more_vars = {},
               const std::string& display = g_server->display()) {
        const std::string program = dir_ / "run/glimmerwall";
        if (!test::exists(program)) std::filesystem::copy_file(GW_SHELL_PROGRAM, program);
        std::vector<std::string> argv = {"glimmerwall"};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        std::vector<std::string> vars = {
            "HOME=" + dir_ / "home", "XDG_STATE_HOME=" + dir_ / "state",
            "XDG_DATA_HOME=" + dir_ / "data", "XDG_CONFIG_HOME=" + dir_ / "config",
            "SDL_VIDEODRIVER=x11"};
        if (!display.empty()) vars.push_back("DISPLAY=" + display);
        vars.insert(vars.end(), more_vars.begin(), more_vars.end());
        started(
            desktop::spawn(argv, environment(vars), dir_ / "output.txt", program, dir_ / "run"));
    }
    std::string trace() const override {
        return test::read_file(dir_ / "state/glimmerwall/Glimmerwall.txt");
    }
    std::string output() const { return test::read_file(dir_ / "output.txt"); }
    // The file is in the freedesktop trash, with its information file, and gone from its place.
    bool trashed(const std::string& original) const {
        const std::string name = original.substr(original.rfind('/') + 1);
        return test::exists(dir_ / ("data/Trash/files/" + name)) &&
               test::exists(dir_ / ("data/Trash/info/" + name + ".trashinfo")) &&
               !test::exists(original);
    }

private:
    test::TempDir dir_;
};

// Starts `show` without arguments and waits for its first picture; on failure, its trace and
// output say why.
::testing::AssertionResult started(Show& show) {
    show.start();
    if (show.wait_draws(1)) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no picture drawn\n" << show.trace() << show.output();
}

class ShellShow : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        FreeImage_Initialise(FALSE);
        g_server = new desktop::XServer(environment({}));
    }
    static void TearDownTestSuite() {
        delete g_server;
        g_server = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(g_server->display().empty()) << "Xvfb did not start"; }

    // A picture of its own colour and size in the show's folder.
    static std::string picture(const Show& show, const std::string& name, int w = 1000, int h = 750,
                               std::uint8_t red = 200, std::uint8_t green = 60,
                               std::uint8_t blue = 30) {
        const std::string path = show.pictures() + "/" + name;
        EXPECT_TRUE(pictures::write(path, w, h, pictures::Format::Png, red, green, blue)) << path;
        return path;
    }
};

// ---------------------------------------------------------------------------------------------

TEST(ShellPieces, ClassicGeneratorFromStateOne) {
    shell::ClassicRandom generator;
    const int expected[] = {41, 18467, 6334, 26500, 19169, 15724, 11478, 29358};
    for (int value : expected) EXPECT_EQ(value, generator.next());
}

TEST(ShellPieces, NoImageTextAndPosition) {
    EXPECT_EQ("Pas d'image \xe2\x98\xa0", shell::no_image_text(U'\u2620'));
    EXPECT_EQ("Pas d'image \xe2\x98\x83", shell::no_image_text(U'\u2603'));
    // Whatever the generator gives, the text stays inside, and a window no larger than the
    // text in a dimension puts it at 0 there.
    for (int i = 0; i < 200; ++i) {
        std::int32_t x = -1, y = -1;
        shell::no_image_position(400, 200, 380, 48, x, y);
        EXPECT_TRUE(x >= 0 && x < 20 && y >= 0 && y < 152) << x << "," << y;
        shell::no_image_position(300, 40, 380, 48, x, y);
        EXPECT_EQ(0, x);
        EXPECT_EQ(0, y);
    }
}

TEST(ShellPieces, WindowPlaceAndCaptionHeight) {
    struct Case {
        std::int32_t width, height;
        bool small;
        std::int32_t x, y, w, h;
    };
    const Case cases[] = {{1920, 1080, false, 0, 0, 1920, 1080},
                          {1920, 1080, true, 1517, 3, 400, 200},
                          {3840, 1080, true, 3437, 3, 400, 200}};
    for (const Case& c : cases) {
        const shell::WindowRect r = shell::window_rect(c.width, c.height, c.small);
        EXPECT_EQ(c.x, r.x) << c.width << (c.small ? " small" : "");
        EXPECT_EQ(c.y, r.y);
        EXPECT_EQ(c.w, r.width);
        EXPECT_EQ(c.h, r.height);
    }
    const std::int32_t heights[][2] = {{200, 12}, {779, 12}, {780, 13}, {1080, 18}, {1200, 20}};
    for (const auto& h : heights) EXPECT_EQ(h[1], shell::caption_height(h[0])) << h[0];
}

// The per-user files: an absolute XDG variable names the folder, a relative one or none
// leaves the folder under HOME.
TEST(ShellPieces, PerUserFilesFollowTheXdgVariablesElseHome) {
    const test::TempDir dir;
    const char* home = std::getenv("HOME");
    const std::string saved_home = home ? home : "";
    setenv("HOME", (dir / "home").c_str(), 1);
    const std::string cases[][3] = {
        {dir / "config", dir / "state", dir / "config/glimmerwall/Glimmerwall.cfg"},
        {"relative", "relative", dir / "home/.config/glimmerwall/Glimmerwall.cfg"},
        {"", "", dir / "home/.config/glimmerwall/Glimmerwall.cfg"}};
    for (const auto& c : cases) {
        setenv("XDG_CONFIG_HOME", c[0].c_str(), 1);
        setenv("XDG_STATE_HOME", c[1].c_str(), 1);
        EXPECT_EQ(c[2], platform::user_config_file()) << c[0];
    }
    EXPECT_EQ(dir / "home/.local/state/glimmerwall/Glimmerwall.txt", platform::trace_file_path());
    setenv("XDG_STATE_HOME", (dir / "state").c_str(), 1);
    EXPECT_EQ(dir / "state/glimmerwall/Glimmerwall.txt", platform::trace_file_path());
    unsetenv("XDG_CONFIG_HOME");
    unsetenv("XDG_STATE_HOME");
    if (home)
        setenv("HOME", saved_home.c_str(), 1);
    else
        unsetenv("HOME");
}

TEST(ShellPieces, ProgramFolderAndCommandLine) {
    std::string folder = "unchanged";
    EXPECT_TRUE(shell::program_folder("/opt/show/bin/glimmerwall", folder));
    EXPECT_EQ("/opt/show/bin", folder);
    EXPECT_TRUE(shell::program_folder("./glimmerwall", folder));
    EXPECT_EQ(".", folder);
    EXPECT_TRUE(shell::program_folder("/glimmerwall", folder));
    EXPECT_EQ("/", folder) << "the root keeps its separator";
    folder = "unchanged";
    EXPECT_FALSE(shell::program_folder("glimmerwall", folder));
    EXPECT_EQ("unchanged", folder);

    const char* const argv[] = {"glimmerwall", "/s", "-x", "two words"};
    EXPECT_EQ("/s -x two words", shell::join_arguments(4, argv));
    EXPECT_EQ("", shell::join_arguments(1, argv));
}

// ---------------------------------------------------------------------------------------------

TEST_F(ShellShow, FullScreenPictureIsCentredUnderItsCaption) {
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    const std::string file = picture(show, "a-picture-with-a-long-enough-name.png");
    show.start({"/s", "extra"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.output();

    const std::string trace = show.trace();
    EXPECT_NE(std::string::npos, trace.find("\n\n*** Glimmerwall / T.Orvald / build "));
    EXPECT_NE(std::string::npos, trace.find("\ncommand line = </s extra> (glimmerwall)\n"));
    EXPECT_NE(std::string::npos, trace.find("\ncurrent dir = <" + show.path("run") + ">\n"));
    EXPECT_NE(std::string::npos, trace.find("set_window_manager ( 1920x1080 )"));
    EXPECT_EQ(std::vector<std::string>{file}, show.drawn());

    Shot shot(tool, show.path("shot.png"));
    ASSERT_TRUE(shot.ok());
    // 1000 x 750 fitted to 1440 x 1080, from column 240; black on both sides.
    const Rgb colour{200, 60, 30};
    for (int y : {100, 540, 1000}) {
        EXPECT_TRUE(shot.at(239, y).black()) << y << " " << shot.at(239, y);
        EXPECT_TRUE(shot.at(245, y).near(colour, 12)) << y << " " << shot.at(245, y);
        EXPECT_TRUE(shot.at(1674, y).near(colour, 12)) << y << " " << shot.at(1674, y);
        EXPECT_TRUE(shot.at(1680, y).black()) << y << " " << shot.at(1680, y);
    }
    // The caption box, 18 pixels high over the picture: only text colour on black in it.
    int full_text = 0;
    for (int y = 0; y < 18; ++y) {
        for (int x = 0; x < 300; ++x) {
            const Rgb c = shot.at(x, y);
            if (c == Rgb{255, 240, 240}) ++full_text;
            EXPECT_TRUE(c.g == c.b && c.r >= c.g) << x << "," << y << " " << c;
        }
    }
    EXPECT_GT(full_text, 20);
    EXPECT_TRUE(shot.at(250, 17).g == shot.at(250, 17).b) << shot.at(250, 17);
    EXPECT_TRUE(shot.at(250, 18).near(colour, 12)) << shot.at(250, 18);

    ASSERT_TRUE(show.key("a"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_NE(std::string::npos, show.trace().find("done"));
}

TEST_F(ShellShow, SmallModeWindowSitsAtTheTopRight) {
    Show show;
    show.configure("small\ndelai 100000\n" + show.folder_setting());
    picture(show, "one.jpg");
    ASSERT_TRUE(started(show));
    EXPECT_NE(std::string::npos, show.trace().find("set_window_manager ( 400x200 )"));

    Shot shot(tool, show.path("shot.png"));
    ASSERT_TRUE(shot.ok());
    // The root window is white: the window is whatever is not, columns 1517-1916, rows 3-202.
    // 400 x 200, 3 pixels from the top and right edges of the 1920-pixel screen.
    desktop::expect_window_at(shot, 1517, 3, 400, 200);
    // 267 x 200 centred: the picture from window column 66, the caption 12 pixels high.
    EXPECT_TRUE(shot.at(1517 + 64, 150).black()) << shot.at(1517 + 64, 150);
    EXPECT_TRUE(shot.at(1517 + 70, 150).near({200, 60, 30}, 12)) << shot.at(1517 + 70, 150);
    EXPECT_TRUE(shot.at(1517 + 80, 3 + 12).near({200, 60, 30}, 12)) << shot.at(1517 + 80, 15);
    EXPECT_TRUE(show.running());
}

TEST_F(ShellShow, UncoveredWindowShowsItsLastFrameAgain) {
    Show below;
    below.configure("delai 100000\n" + below.folder_setting());
    picture(below, "red.png");
    ASSERT_TRUE(started(below));

    // A small show on top of it, in blue, then gone.
    Show above;
    above.configure("small\ndelai 100000\n" + above.folder_setting());
    picture(above, "blue.png", 400, 200, 30, 60, 200);
    ASSERT_TRUE(started(above));
    ASSERT_TRUE(above.key("q"));
    ASSERT_EQ(0, above.exit_code());

    const Rgb red{200, 60, 30};
    ASSERT_TRUE(wait_until(
        [&] {
            Shot shot(tool, below.path("shot.png"));
            return shot.ok() && shot.at(1600, 100).near(red, 12) &&
                   shot.at(1600, 190).near(red, 12);
        },
        5000));

    // A window made smaller loses its image: the picture is drawn again, not a new one.
    ASSERT_TRUE(
        tool({"xdotool", "search", "--name", "^Glimmerwall$", "windowsize", "1000", "700"}));
    ASSERT_TRUE(wait_until(
        [&] {
            Shot shot(tool, below.path("shot.png"));
            return shot.ok() && shot.at(500, 350).near(red, 12);
        },
        5000));
    const std::vector<std::string> drawn = below.drawn();
    ASSERT_EQ(2u, drawn.size());
    EXPECT_EQ(drawn[0], drawn[1]);
    EXPECT_TRUE(below.running());
}

TEST_F(ShellShow, ArrowsStepThroughTheHistorySystemKeysDoNotEnd) {
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    for (const char* name : {"p1.jpg", "p2.jpg", "p3.jpg", "p4.jpg"}) picture(show, name);
    ASSERT_TRUE(started(show));

    ASSERT_EQ(3u, desktop::expect_history_steps(show).size());

    // Alt with a letter, and F10, are system keys: the show goes on.
    ASSERT_TRUE(show.key("alt+q"));
    ASSERT_TRUE(show.key("F10"));
    ASSERT_TRUE(show.step_key("Right"));
    EXPECT_TRUE(show.running());
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_EQ(1, show.count("next( not forced )")) << "only the first step came from the timer";
}

TEST_F(ShellShow, SpacePausesOnTheSamePictureAndResumes) {
    Show show;
    show.configure("delai 250\n" + show.folder_setting());
    for (const char* name : {"p1.jpg", "p2.jpg", "p3.jpg"}) picture(show, name);
    show.start();
    ASSERT_TRUE(show.wait_draws(2)) << show.trace() << show.output();

    ASSERT_TRUE(show.step_key("space"));
    ASSERT_TRUE(show.wait_count("pause>", 1));
    const std::vector<std::string> drawn = show.drawn();
    ASSERT_GE(drawn.size(), 3u);
    EXPECT_EQ(drawn[drawn.size() - 2] + "   pause", drawn.back());

    // Paused: four delays pass without a step.
    const int steps = show.count("next( ");
    std::this_thread::sleep_for(std::chrono::milliseconds(1000));
    EXPECT_EQ(steps, show.count("next( "));

    ASSERT_TRUE(show.step_key("space"));
    EXPECT_TRUE(show.wait_count("toggle_pause : now not paused", 1));
    ASSERT_TRUE(show.wait_draws(static_cast<int>(drawn.size()) + 1));
    EXPECT_EQ(std::string::npos, show.drawn().back().find("pause"));
    const int timer_steps = show.count("next( not forced )");
    EXPECT_TRUE(show.wait_count("next( not forced )", timer_steps + 1)) << "the timer resumes";
    ASSERT_TRUE(show.key("Return"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
}

TEST_F(ShellShow, DeleteTrashesAtTheFifthStepOrAtTheEnd) {
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    for (int i = 0; i < 8; ++i) picture(show, "p" + std::to_string(i) + ".jpg");
    ASSERT_TRUE(started(show));

    const std::string first = desktop::mark(show, 1);
    ASSERT_EQ(show.drawn().back(), first);
    for (int step = 1; step <= 4; ++step) {
        ASSERT_TRUE(show.step_key("Right"));
        ASSERT_TRUE(show.wait_draws(1 + step));
        EXPECT_TRUE(test::exists(first)) << "step " << step;
    }
    ASSERT_TRUE(show.step_key("Right"));
    EXPECT_TRUE(wait_until([&] { return show.trashed(first); })) << show.trace();

    // Marked, then a key ends the show: the file goes at the end.
    ASSERT_TRUE(show.wait_draws(6));
    const std::string second = desktop::mark(show, 2);
    EXPECT_TRUE(test::exists(second));
    ASSERT_TRUE(show.key("x"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_TRUE(show.trashed(second));
}

TEST_F(ShellShow, TerminationSignalEndsInOrderAndTrashesTheLinkNotItsTarget) {
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    const std::string target = show.path("elsewhere.jpg");
    ASSERT_TRUE(pictures::write(target, 640, 480));
    ASSERT_EQ(0, symlink(target.c_str(), (show.pictures() + "/link.jpg").c_str()));
    ASSERT_TRUE(started(show));
    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <", 1));

    show.signal(SIGTERM);
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_TRUE(show.trashed(show.pictures() + "/link.jpg"));
    struct stat st;
    EXPECT_EQ(0, lstat(show.path("data/Trash/files/link.jpg").c_str(), &st));
    EXPECT_TRUE(S_ISLNK(st.st_mode));
    EXPECT_TRUE(test::exists(target));
    EXPECT_NE(std::string::npos, show.trace().find("done"));
}

TEST_F(ShellShow, MouseEndsBeyondFortyPixelsNotAtFortyNorOnAClick) {
    Show show;
    show.configure("delai 100\n" + show.folder_setting());
    picture(show, "one.jpg");
    picture(show, "two.jpg");
    ASSERT_TRUE(tool({"xdotool", "mousemove", "500", "500"}));
    ASSERT_TRUE(started(show));

    ASSERT_TRUE(tool({"xdotool", "mousemove", "540", "540"}));
    ASSERT_TRUE(show.wait_draws(show.draws() + 2));
    ASSERT_TRUE(tool({"xdotool", "mousemove", "460", "460"}));
    ASSERT_TRUE(show.wait_draws(show.draws() + 2));
    ASSERT_TRUE(tool({"xdotool", "click", "1"}));
    ASSERT_TRUE(tool({"xdotool", "click", "4"}));
    ASSERT_TRUE(show.wait_draws(show.draws() + 2));
    EXPECT_TRUE(show.running());

    ASSERT_TRUE(tool({"xdotool", "mousemove", "500", "541"}));
    EXPECT_EQ(0, show.exit_code()) << show.output();
}

TEST_F(ShellShow, NoPictureShowsTheTextInsideTheWindowAtNewPlaces) {
    // Read from the user's configuration folder, the third place looked at.
    Show show;
    show.configure("delai 100000", true);
    show.start();
    ASSERT_TRUE(show.wait_count("draw_bitmap : no image", 1)) << show.trace() << show.output();
    EXPECT_NE(std::string::npos, show.trace().find("config/glimmerwall/Glimmerwall.cfg"));

    int boxes[2][4];
    for (int frame = 0; frame < 2; ++frame) {
        if (frame == 1) {
            ASSERT_TRUE(show.step_key("Right"));
            ASSERT_TRUE(show.wait_count("draw_bitmap : no image", 2));
        }
        Shot shot(tool, show.path("shot" + std::to_string(frame) + ".png"));
        ASSERT_TRUE(shot.ok());
        int* b = boxes[frame];
        ASSERT_TRUE(shot.lit_box(b[0], b[1], b[2], b[3]));
        EXPECT_TRUE(b[0] > 0 && b[1] > 0 && b[2] < kWidth - 1 && b[3] < kHeight - 1);
        EXPECT_GT(b[2] - b[0], 200) << "the whole line, not a piece";
    }
    // The generator from state 1: symbol, then y, then x. With a 48-pixel cell the first line
    // stands in rows 923 to 970 (18467 % 1032), the second in rows 593 to 640 (19169 % 1032).
    EXPECT_GE(boxes[0][1], 923);
    EXPECT_LE(boxes[0][3], 970);
    EXPECT_GE(boxes[1][1], 593);
    EXPECT_LE(boxes[1][3], 640);
    EXPECT_NE(boxes[0][0], boxes[1][0]);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
}

TEST_F(ShellShow, BrokenPictureAndOddNameDoNotStopTheShow) {
    Show show;
    show.configure("delai 100\n" + show.folder_setting());
    const std::string good = picture(show, "good.jpg");
    // A Latin-1 name: not UTF-8, the caption is drawn all the same.
    const std::string odd = picture(show, "caf\xe9.jpg", 600, 800, 40, 90, 200);
    test::write_file(show.pictures() + "/broken.jpg", "\xff\xd8\xff\xe0 not a picture at all");
    show.start();
    ASSERT_TRUE(show.wait_draws(8)) << show.trace() << show.output();
    EXPECT_TRUE(show.running());
    const std::vector<std::string> drawn = show.drawn();
    EXPECT_NE(drawn.end(), std::find(drawn.begin(), drawn.end(), good));
    EXPECT_NE(drawn.end(), std::find(drawn.begin(), drawn.end(), odd));
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
}

// The show on the project's samples, kept as the build's screenshot for the documentation.
TEST_F(ShellShow, SamplesScreenshot) {
    Show show;
    show.configure("delai 100000\ndossier " GW_SAMPLES_FOLDER);
    ASSERT_TRUE(started(show));
    for (int i = 0; i < 12 && show.drawn().back().find("hills") == std::string::npos; ++i)
        ASSERT_TRUE(show.step_key("Right") && show.wait_draws(i + 2));
    Shot shot(tool, show.path("screenshot.png"));
    ASSERT_TRUE(shot.ok());
    EXPECT_FALSE(shot.at(kWidth / 2, kHeight / 2).black());
    std::error_code ignored;
    std::filesystem::copy_file(shot.path(), GW_BUILD_FOLDER "/screenshot.png.part",
                               std::filesystem::copy_options::overwrite_existing, ignored);
    std::filesystem::rename(GW_BUILD_FOLDER "/screenshot.png.part",
                            GW_BUILD_FOLDER "/screenshot.png", ignored);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
}

// A new picture fades in over the old one; a key ends the fade at once (Delete marking the
// picture that was fading in) and Escape ends the show; the fade's last frame is the picture
// exactly.
TEST_F(ShellShow, FadeMixesThePicturesKeysStayPromptAndTheEndIsExact) {
    const Rgb colour{200, 60, 30};
    {
        Show show;
        show.configure("delai 100000\nfade 20000\n" + show.folder_setting());
        const std::string file = picture(show, "fading.png");
        ASSERT_TRUE(started(show));
        // Some time into the fade, the picture shows, darkened.
        Rgb mixed{0, 0, 0};
        EXPECT_TRUE(wait_until([&] {
            Shot shot(tool, show.path("shot.png"));
            mixed = shot.ok() ? shot.at(kWidth / 2, kHeight / 2) : Rgb{0, 0, 0};
            return !mixed.black();
        })) << show.trace();
        EXPECT_LT(mixed.r, colour.r - 12) << mixed;
        EXPECT_EQ(file, desktop::mark(show, 1));
        EXPECT_TRUE(wait_until([&] {
            Shot shot(tool, show.path("shot.png"));
            return shot.ok() && shot.at(kWidth / 2, kHeight / 2).near(colour, 12);
        })) << show.trace();
        ASSERT_TRUE(show.key("Escape"));
        EXPECT_EQ(0, show.exit_code()) << show.output();
        EXPECT_TRUE(show.trashed(file)) << show.trace();
    }
    Show show;
    show.configure("delai 100000\nfade 300\n" + show.folder_setting());
    picture(show, "faded.png");
    ASSERT_TRUE(started(show));
    ASSERT_TRUE(show.wait_count("fade : ", 1)) << show.trace();
    Shot shot(tool, show.path("shot.png"));
    ASSERT_TRUE(shot.ok());
    for (int y : {100, 540, 1000}) {
        EXPECT_TRUE(shot.at(245, y).near(colour, 12)) << y << " " << shot.at(245, y);
        EXPECT_TRUE(shot.at(239, y).black()) << y << " " << shot.at(239, y);
    }
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
}

// With `screens each` on two monitors, each shows a picture of its own fitted to it, they change
// in turn, the caption of the one that changed last is the bright one, and Delete marks that one.
TEST(ShellScreens, EachMonitorShowsItsOwnPictureAndTheLastChangedIsOnScreen) {
    FreeImage_Initialise(FALSE);
    desktop::XServer two_heads(environment({}), 2);
    ASSERT_FALSE(two_heads.display().empty()) << two_heads.why();
    const desktop::Tool on_two = [&](const std::vector<std::string>& argv) {
        return desktop::run_tool(two_heads, GW_LSAN_SUPPRESSIONS, argv);
    };
    Show show(on_two);
    show.configure("delai 100000\nscreens each\n" + show.folder_setting());
    // Colours of their own: which monitor shows which picture is read off the screen. Three,
    // as two steps in a row draw different pictures from three on.
    const std::vector<std::pair<std::string, Rgb>> colours = {
        {"red", {200, 60, 30}}, {"blue", {30, 60, 200}}, {"green", {30, 200, 60}}};
    for (const auto& [name, c] : colours)
        ASSERT_TRUE(pictures::write(show.pictures() + "/" + name + ".png", 1000, 750,
                                    pictures::Format::Png, static_cast<std::uint8_t>(c.r),
                                    static_cast<std::uint8_t>(c.g),
                                    static_cast<std::uint8_t>(c.b)));
    const auto colour_of = [&](const std::string& path) {
        for (const auto& [name, c] : colours)
            if (path == show.pictures() + "/" + name + ".png") return c;
        return Rgb{0, 0, 0};
    };
    show.start({}, {}, two_heads.display());
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.output();
    ASSERT_TRUE(show.step_key("Right") && show.wait_draws(2)) << show.trace();
    const std::vector<std::string> drawn = show.drawn();
    ASSERT_EQ(2u, drawn.size());
    EXPECT_NE(drawn[0], drawn[1]);
    const std::string trace = show.trace();
    EXPECT_NE(std::string::npos, trace.find("set_screens ( 2 monitors, a picture on each )"));
    EXPECT_NE(std::string::npos, trace.find("next : screen 0 at 0,0 (1920x1080)"));
    EXPECT_NE(std::string::npos, trace.find("next : screen 1 at 1920,0 (1920x1080)"));

    Shot shot(on_two, show.path("shot.png"), 2 * kWidth);
    ASSERT_TRUE(shot.ok());
    // 1000 x 750 fitted to each 1920 x 1080 monitor: columns 240 to 1679 of each.
    for (int y : {100, 540, 1000}) {
        for (int monitor : {0, 1}) {
            const int left = monitor * kWidth;
            const Rgb colour = colour_of(drawn[monitor]);
            EXPECT_TRUE(shot.at(left + 239, y).black()) << monitor << " " << shot.at(left + 239, y);
            EXPECT_TRUE(shot.at(left + 245, y).near(colour, 12)) << monitor << " " << y;
            EXPECT_TRUE(shot.at(left + 1674, y).near(colour, 12)) << monitor << " " << y;
            EXPECT_TRUE(shot.at(left + 1680, y).black()) << monitor << " " << y;
        }
    }
    // Captions at each monitor's top left: bright text only on the one that changed last. Text
    // pixels are the caption colour's shades (green equal to blue), unlike the pictures'.
    const auto brightest = [&](int left) {
        int most = 0;
        for (int y = 0; y < 18; ++y)
            for (int x = left; x < left + 300; ++x)
                if (shot.at(x, y).g == shot.at(x, y).b) most = std::max(most, shot.at(x, y).r);
        return most;
    };
    EXPECT_LE(brightest(0), 128);
    EXPECT_EQ(255, brightest(kWidth));

    EXPECT_EQ(drawn[1], desktop::mark(show, 1));
    // Left replaces the picture on screen, on its own monitor, with the one before.
    ASSERT_TRUE(show.step_key("Left") && show.wait_draws(3)) << show.trace();
    EXPECT_EQ(drawn[0], show.drawn().back());
    EXPECT_EQ(2, show.count("next : screen 1 at 1920,0")) << show.trace();
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_TRUE(show.trashed(drawn[1])) << show.trace();
    EXPECT_TRUE(test::exists(drawn[0]));
}

// Without a display, with or without a driver named: code 1 and one line on stderr, soon;
// never SDL's invisible off-screen window.
TEST(ShellCommandLine, NoDisplayEndsWithCodeOneAndOneLine) {
    for (const bool named_driver : {true, false}) {
        test::TempDir dir;
        test::make_dirs(dir / "run");
        test::write_file(dir / "run/Glimmerwall.cfg", "trace 4\n");
        std::vector<std::string> vars = {"HOME=" + dir / "home", "XDG_STATE_HOME=" + dir / "state"};
        if (named_driver) vars.push_back("SDL_VIDEODRIVER=x11");
        const pid_t pid = desktop::spawn({"glimmerwall"}, environment(vars), dir / "output.txt",
                                         GW_SHELL_PROGRAM, dir / "run");
        EXPECT_EQ(1, desktop::reap(pid, 5000)) << named_driver;
        const std::string output = test::read_file(dir / "output.txt");
        EXPECT_EQ(0u, output.find("glimmerwall: cannot open the screen window")) << output;
        EXPECT_EQ(1, std::count(output.begin(), output.end(), '\n')) << output;
        EXPECT_NE(std::string::npos,
                  test::read_file(dir / "state/glimmerwall/Glimmerwall.txt").find("no window"));
    }
}

// --help and --version answer on standard output and end with code 0, before any window or
// trace; started by a bare name (as through PATH) it reads the configuration beside the executable,
// not the one in the folder it was started from.
TEST(ShellCommandLine, HelpVersionAndTheProgramsOwnFolder) {
    test::TempDir dir;
    test::make_dirs(dir / "bin");
    test::make_dirs(dir / "elsewhere");
    std::filesystem::copy_file(GW_SHELL_PROGRAM, dir / "bin/glimmerwall");
    const auto env = environment(
        {"HOME=" + dir / "home", "XDG_STATE_HOME=" + dir / "state", "PATH=" + dir / "bin"});
    struct Case {
        std::string argument;
        std::string expected;
    };
    for (const Case& c :
         {Case{"--help", "XSCREENSAVER_WINDOW"}, Case{"--help", "delai"},
          Case{"--help", "Glimmerwall.txt"}, Case{"--version", "glimmerwall " GW_VERSION "\n"}}) {
        const std::string output = dir / ("out-" + c.argument.substr(2) + ".txt");
        const pid_t pid = desktop::spawn({"glimmerwall", c.argument}, env, output,
                                         dir / "bin/glimmerwall", dir / "elsewhere");
        EXPECT_EQ(0, desktop::reap(pid, 5000)) << c.argument;
        EXPECT_NE(std::string::npos, test::read_file(output).find(c.expected)) << c.argument;
    }
    EXPECT_FALSE(test::exists(dir / "state/glimmerwall/Glimmerwall.txt"));

    test::write_file(dir / "bin/Glimmerwall.cfg", "trace 4\n# beside the program\n");
    test::write_file(dir / "elsewhere/Glimmerwall.cfg", "trace 4\n# stray\n");
    const pid_t pid = desktop::spawn({"glimmerwall"}, env, dir / "output.txt",
                                     dir / "bin/glimmerwall", dir / "elsewhere");
    EXPECT_EQ(1, desktop::reap(pid, 5000)) << "no display";
    const std::string trace = test::read_file(dir / "state/glimmerwall/Glimmerwall.txt");
    EXPECT_NE(std::string::npos, trace.find("read config from <Glimmerwall.cfg>")) << trace;
    EXPECT_NE(std::string::npos, trace.find("current dir = <" + dir / "bin" + ">")) << trace;
}

// A held Right steps at most once per turn of the loop, and Escape pressed after it ends the
// show before any further step: one forced step per key event would take many seconds here.
TEST_F(ShellShow, HeldRightThenEscapeEndsBeforeTheQueuedSteps) {
    Show show;
    show.configure("delai 100000\ncache 1\n" + show.folder_setting());
    for (int i = 0; i < 3; ++i)
        picture(show, "large" + std::to_string(i) + ".png", 4000, 3000, 60, 90, 200);
    ASSERT_TRUE(started(show));

    constexpr int kPresses = 40;
    std::vector<std::string> argv = {"xdotool"};
    for (int i = 0; i < kPresses; ++i) argv.insert(argv.end(), {"keydown", "Right"});
    argv.insert(argv.end(), {"keyup", "Right", "key", "Escape"});
    ASSERT_TRUE(tool(argv));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    const int forced = show.count("next( forced )");
    EXPECT_GE(forced, 1);
    EXPECT_LE(forced, kPresses / 4) << "held keys were not coalesced";
}

// Pictures are decoded by a worker process: Delete marks the picture on screen while the next
// one decodes, and that one comes with Right once it is ready.
TEST_F(ShellShow, DeleteMarksThePictureOnScreenWhileTheNextOneDecodes) {
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    for (const char* name : {"slow1.jpg", "slow2.jpg"})
        ASSERT_TRUE(pictures::write_slow_jpeg(show.pictures() + "/" + name, 4000, 3000, 400));
    ASSERT_TRUE(started(show));
    const std::string first = show.drawn().front();
    EXPECT_EQ(first, desktop::mark(show, 1));
    ASSERT_TRUE(show.step_key("Right"));
    ASSERT_TRUE(show.wait_draws(2)) << show.trace();
    const std::string second = show.drawn().back();
    EXPECT_NE(first, second);
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code()) << show.output();
    EXPECT_TRUE(show.trashed(first)) << show.trace();
    EXPECT_TRUE(test::exists(second));
}

// A key that ends the show, a termination signal, and the signals whose default would end the
// process without trashing the marks: each ends the show in order in the middle of a decode
// that would take far longer (the decode never finishes), and the marked picture is trashed.
TEST_F(ShellShow, EndingDuringASlowDecodeStopsTheWorkerAndKeepsTheMarks) {
    const struct {
        const char* key;
        int signal;
    } cases[] = {{"Escape", 0},      {nullptr, SIGTERM}, {nullptr, SIGINT},  {nullptr, SIGQUIT},
                 {nullptr, SIGUSR1}, {nullptr, SIGUSR2}, {nullptr, SIGALRM}, {nullptr, SIGHUP}};
    for (const auto& c : cases) {
        SCOPED_TRACE(c.key ? c.key : strsignal(c.signal));
        Show show;
        show.configure("delai 100000\ncache 1\n" + show.folder_setting());
        const std::string marked = picture(show, "marked.png");
        const std::string slow = show.pictures() + "/slow.jpg";
        ASSERT_TRUE(pictures::write_slow_jpeg(slow, 4000, 3000, 40000));
        show.start();
        // Whichever comes first, the slow one is decoded while the other is on screen or
        // before it: the mark waits until the quick one is on screen.
        ASSERT_TRUE(show.wait_count("request( " + slow + " )", 1)) << show.trace();
        if (show.wait_draws(1, 2000)) {
            ASSERT_EQ(marked, desktop::mark(show, 1));
        }
        if (c.key)
            ASSERT_TRUE(show.key(c.key));
        else
            show.signal(c.signal);
        EXPECT_EQ(0, show.exit_code(5000)) << show.output();
        const std::string trace = show.trace();
        EXPECT_EQ(std::string::npos, trace.find("load( " + slow + " ) win:")) << trace;
        EXPECT_NE(std::string::npos, trace.find("done")) << trace;
        if (!show.marked().empty()) {
            EXPECT_TRUE(show.trashed(marked)) << trace;
        }
        EXPECT_NE(0, desktop::run({"pgrep", "-f", show.path("run/glimmerwall") + " --decode"},
                                  environment({}), show.path("pgrep.txt")))
            << "the worker outlived the show";
    }
}

// Saver-window mode named wrongly, or a window that is not there: code 1 with one line on
// standard error and one in the trace, never the stand-alone show.
TEST_F(ShellShow, ABadSaverWindowEndsWithCodeOne) {
    const struct {
        std::vector<std::string> arguments;
        std::vector<std::string> vars;
    } cases[] = {
        {{}, {"XSCREENSAVER_WINDOW="}},      {{}, {"XSCREENSAVER_WINDOW=0"}},
        {{}, {"XSCREENSAVER_WINDOW=0x0"}},   {{}, {"XSCREENSAVER_WINDOW=-1"}},
        {{}, {"XSCREENSAVER_WINDOW=abc"}},   {{"--window-id"}, {}},
        {{"-window-id", "0"}, {}},           {{"--window-id", "abc"}, {}},
        {{"--window-id", "0x7ffffff0"}, {}}, {{}, {"XSCREENSAVER_WINDOW=0x7ffffff0"}},
    };
    for (const auto& c : cases) {
        Show show;
        show.configure(show.folder_setting());
        picture(show, "p.png");
        show.start(c.arguments, c.vars);
        const std::string label =
            (c.arguments.empty() ? "" : c.arguments[0]) + (c.vars.empty() ? "" : c.vars[0]);
        EXPECT_EQ(1, show.exit_code(5000)) << label;
        const std::string output = show.output();
        EXPECT_EQ(1, test::count(output, "glimmerwall: ")) << label << output;
        EXPECT_EQ(0u, output.find("glimmerwall: ")) << label << output;
        EXPECT_EQ(1, show.count(" : no window (")) << label << show.trace();
        EXPECT_EQ(0, show.draws()) << label;
    }
}

// The X server goes away (the session ends): the marked picture still reaches the trash and
// the trace is closed before the process exits.
TEST_F(ShellShow, LostDisplayStillTrashesTheMarkedPicture) {
    auto server = std::make_unique<desktop::XServer>(environment({}));
    ASSERT_FALSE(server->display().empty());
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    picture(show, "marked.png");
    show.start({}, {}, server->display());
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.output();
    ASSERT_TRUE(desktop::run_tool(*server, GW_LSAN_SUPPRESSIONS, {"xdotool", "key", "Delete"}));
    ASSERT_TRUE(show.wait_count("erase <", 1));
    const std::string marked = show.marked();

    server.reset();
    EXPECT_NE(-1, show.exit_code()) << "still running without its display";
    EXPECT_TRUE(show.trashed(marked)) << show.trace();
    const std::string trace = show.trace();
    EXPECT_NE(std::string::npos, trace.find("connection to the display lost"));
    EXPECT_EQ('\n', trace.back());
}

// A host's window (as a saver daemon or a locker makes one): the picture is fitted into it, no
// window of the program's own appears, keys are the host's, SIGTERM and the window's end
// both end the show with code 0.
class HostWindow {
public:
    HostWindow(int x, int y, int w, int h) : display_(XOpenDisplay(g_server->display().c_str())) {
        if (!display_) return;
        const int screen = DefaultScreen(display_);
        window_ = XCreateSimpleWindow(display_, RootWindow(display_, screen), x, y,
                                      static_cast<unsigned>(w), static_cast<unsigned>(h), 0,
                                      BlackPixel(display_, screen), BlackPixel(display_, screen));
        XMapWindow(display_, window_);
        XSync(display_, False);
    }
    ~HostWindow() {
        if (display_) XCloseDisplay(display_);
    }
    HostWindow(const HostWindow&) = delete;
    HostWindow& operator=(const HostWindow&) = delete;
    std::string id() const { return std::to_string(window_); }
    void resize(int w, int h) {
        XResizeWindow(display_, window_, static_cast<unsigned>(w), static_cast<unsigned>(h));
        XSync(display_, False);
    }
    void destroy() {
        XDestroyWindow(display_, window_);
        XSync(display_, False);
    }
    // The top-level windows on the screen.
    unsigned top_level() const {
        Window root = 0, parent = 0, *children = nullptr;
        unsigned count = 0;
        XQueryTree(display_, DefaultRootWindow(display_), &root, &parent, &children, &count);
        if (children) XFree(children);
        return count;
    }
    bool ok() const { return display_ && window_; }

private:
    Display* display_;
    Window window_ = 0;
};

TEST_F(ShellShow, SaverWindowModeDrawsIntoTheHostsWindow) {
    HostWindow host(200, 150, 800, 400);
    ASSERT_TRUE(host.ok());
    const unsigned windows = host.top_level();
    Show show;
    show.configure("delai 100000\n" + show.folder_setting());
    picture(show, "one.png");
    std::ostringstream hex;
    hex << "0x" << std::hex << std::stoul(host.id());
    show.start({"-root"}, {"XSCREENSAVER_WINDOW=" + hex.str()});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.output();
    EXPECT_NE(std::string::npos, show.trace().find("set_window_manager ( 800x400 )"));
    EXPECT_EQ(windows, host.top_level());

    // 1000 x 750 fitted to 533 x 400, from column 133 of the window; the caption above it.
    Shot shot(tool, show.path("shot.png"));
    ASSERT_TRUE(shot.ok());
    const Rgb colour{200, 60, 30};
    EXPECT_TRUE(shot.at(200 + 130, 350).black()) << shot.at(330, 350);
    EXPECT_TRUE(shot.at(200 + 137, 350).near(colour, 12)) << shot.at(337, 350);
    EXPECT_TRUE(shot.at(200 + 660, 545).near(colour, 12)) << shot.at(860, 545);
    EXPECT_TRUE(shot.at(200 + 670, 350).black()) << shot.at(870, 350);
    EXPECT_TRUE(shot.at(199, 350).white() && shot.at(200, 149).white());
    int left = 0, top = 0, right = 0, bottom = 0;
    ASSERT_TRUE(shot.lit_box(left, top, right, bottom, desktop::Unlit::BlackOrWhite));
    EXPECT_EQ(150, top) << "the caption at the window's top";

    // Keys belong to the host: nothing ends or steps the show.
    ASSERT_TRUE(tool({"xdotool", "key", "Escape", "Right", "Delete"}));
    std::this_thread::sleep_for(std::chrono::milliseconds(300));
    EXPECT_TRUE(show.running());
    EXPECT_EQ(1, show.draws());
    show.signal(SIGTERM);
    EXPECT_EQ(0, show.exit_code()) << show.output();
    const std::string trace = show.trace();
    EXPECT_EQ(0, show.count("erase <"));
    EXPECT_NE(std::string::npos, trace.find("done"));
    EXPECT_EQ('\n', trace.back());

    HostWindow second(100, 100, 640, 480);
    Show named;
    named.configure("delai 100000\n" + named.folder_setting());
    picture(named, "two.png");
    named.start({"--window-id", second.id()});
    ASSERT_TRUE(named.wait_draws(1)) << named.trace() << named.output();
    EXPECT_NE(std::string::npos, named.trace().find("set_window_manager ( 640x480 )"));
    // The show follows the window's size: the next pictures are fitted to the new one.
    second.resize(300, 500);
    EXPECT_TRUE(named.wait_count("set_window_manager ( 300x500 )", 1)) << named.trace();
    second.destroy();
    EXPECT_EQ(0, named.exit_code(3000)) << named.output();
}

} // namespace
