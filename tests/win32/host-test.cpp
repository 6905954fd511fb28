// Glimmerwall.scr as the host's screen-saver dialog starts it, under Wine: the preview inside
// the dialog, the Settings button, the password request, names in any script.
// SaverHost.exe stands in for the dialog and reports what it sees.
#include "Pictures.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

namespace {

using namespace desktop::names;
using wine::g_machine;
using wine::Show;
using wine::WineShow;

// A show whose program the stand-in dialog starts, or that is started with host switches.
class Hosted : public Show {
public:
    Hosted() {
        std::filesystem::copy_file(GW_SAVER_HOST, unix_path("SaverHost.exe"));
        std::filesystem::remove(g_machine->drive_d() + "/Glimmerwall-preview.txt");
    }
    // SaverHost <scene> <report> <arguments...>, its report in this show's folder.
    void host(const std::string& scene, const std::string& report,
              const std::vector<std::string>& arguments) {
        std::vector<std::string> argv = {"wine", dos_path("SaverHost.exe"), scene,
                                         dos_path(report)};
        argv.insert(argv.end(), arguments.begin(), arguments.end());
        started(desktop::spawn(argv, g_machine->wine_environment(), g_machine->log()));
    }
    std::string report(const std::string& name = "report.txt") const {
        std::string text = test::read_file(unix_path(name));
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }
    // The rest of the first report line that begins with `key`, once it is there.
    bool wait_line(const std::string& key, std::string& rest,
                   const std::string& name = "report.txt") const {
        return desktop::wait_until([&] {
            const std::string all = "\n" + report(name);
            const auto at = all.find("\n" + key + " ");
            if (at == std::string::npos) return false;
            const auto begin = at + key.size() + 2;
            rest = all.substr(begin, all.find('\n', begin) - begin);
            return true;
        });
    }
    void end_scene(const std::string& name = "report.txt") const {
        test::write_file(unix_path(name + ".close"), "");
    }
    void trace_to(const std::string& file) { trace_file_ = file; }
    std::string trace() const override {
        std::string text = test::read_file(g_machine->drive_d() + "/" + trace_file_);
        text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
        return text;
    }

private:
    std::string trace_file_ = "Glimmerwall.txt";
};

bool trace_exists(const char* name) { return test::exists(g_machine->drive_d() + "/" + name); }

TEST_F(WineShow, PreviewLivesInTheDialogsChildOnlyAndEndsWithTheDialog) {
    Hosted show;
    show.configure("trace 4\ndelai 100000\n" + show.folder_setting());
    show.picture("green.bmp", 400, 300, 30, 160, 90);
    test::write_file(g_machine->drive_d() + "/Glimmerwall.txt", "the last show's trace\n");
    show.trace_to("Glimmerwall-preview.txt");
    show.host("preview", "report.txt", {show.dos_path("Glimmerwall.scr")});

    std::string child, inside;
    ASSERT_TRUE(show.wait_line("child", child)) << show.report();
    ASSERT_TRUE(show.wait_line("inside", inside)) << show.report();
    EXPECT_EQ("GLWLPreview 320 240", inside);
    ASSERT_TRUE(show.wait_draws(1)) << show.trace() << show.report();
    EXPECT_NE(std::string::npos, show.trace().find("set_window_manager ( 320x240 )"));
    int x = 0, y = 0;
    ASSERT_EQ(2, std::sscanf(child.c_str(), "%d %d", &x, &y));

    // Wine does not show what a process draws into a child of another process's window, so
    // the screen can only tell that nothing is drawn elsewhere: not round the child, not over
    // the desktop.
    const Rgb green{30, 160, 90};
    const auto shot = wine::shot_when(show.unix_path("shot.png"), [&](const Shot& s) {
        return s.at(x - 2, y + 120) == (Rgb{128, 128, 128});
    });
    ASSERT_TRUE(shot->ok());
    for (const auto& p : {std::make_pair(x - 2, y + 120), std::make_pair(x + 322, y + 120),
                          std::make_pair(x + 160, y - 2), std::make_pair(x + 160, y + 242)})
        EXPECT_EQ((Rgb{128, 128, 128}), shot->at(p.first, p.second))
            << p.first << "," << p.second << " " << shot->at(p.first, p.second);
    int outside = 0;
    for (int sy = 0; sy < kHeight; ++sy)
        for (int sx = 0; sx < kWidth; ++sx)
            if ((sx < x || sx >= x + 320 || sy < y || sy >= y + 240) &&
                shot->at(sx, sy).near(green, 12))
                ++outside;
    EXPECT_EQ(0, outside);
    EXPECT_TRUE(shot->at(0, 0).white() && shot->at(kWidth - 1, kHeight - 1).white());

    show.end_scene();
    std::string exit;
    ASSERT_TRUE(show.wait_line("exit", exit)) << show.report();
    int code = -1, ms = -1;
    ASSERT_EQ(2, std::sscanf(exit.c_str(), "%d %d", &code, &ms)) << exit;
    EXPECT_EQ(0, code);
    EXPECT_LT(ms, 3000) << "the preview outlived its dialog"; // the aim is a second; the rest is
                                                              // margin for a loaded machine
    EXPECT_EQ(std::string::npos, show.report().find("top-level")) << show.report();
    EXPECT_EQ("the last show's trace\n",
              test::read_file(g_machine->drive_d() + "/Glimmerwall.txt"));
}

TEST_F(WineShow, PreviewEndsWhenTheDialogsProcessDiesWithoutDestroyingIt) {
    Hosted show;
    show.configure("trace 3");
    show.trace_to("Glimmerwall-preview.txt");
    show.host("preview", "report.txt", {show.dos_path("Glimmerwall.scr"), "vanish"});
    std::string inside;
    ASSERT_TRUE(show.wait_line("inside", inside)) << show.report();
    EXPECT_EQ(3, show.exit_code());
    // The controller's last line: the preview went through its orderly end.
    EXPECT_TRUE(show.wait_count(" done\n", 1, 5000)) << show.trace();
}

// The Wine user's %APPDATA%\Glimmerwall\Glimmerwall.cfg, as a path of the test machine.
std::string user_settings() {
    const std::filesystem::path users = g_machine->drive_d() + "/../prefix/drive_c/users";
    for (const auto& entry : std::filesystem::directory_iterator(users))
        if (entry.path().filename() != "Public" &&
            std::filesystem::exists(entry.path() / "AppData/Roaming"))
            return (entry.path() / "AppData/Roaming/Glimmerwall/Glimmerwall.cfg").string();
    return {};
}

TEST_F(WineShow, SettingsDialogWritesTheUsersFileOnOkKeepingItsOtherLinesAndNothingOnCancel) {
    const std::string file = user_settings();
    ASSERT_FALSE(file.empty());
    test::make_dirs(file.substr(0, file.rfind('/')));
    const std::string before =
        "# my settings\r\ndossier D:\\old\r\ncachemb 64 # memory\r\ndelai 8000\r\nfade 300\r\n";
    // As Notepad's "Unicode" would save it: UTF-16 with its mark.
    std::string utf16 = "\xFF\xFE";
    for (const char c : before) utf16 += std::string(1, c) + '\0';
    const struct {
        bool ok;
        const std::string& content;
    } rows[] = {{false, before}, {true, before}, {true, utf16}};
    for (const auto& row : rows) {
        const bool ok = row.ok;
        SCOPED_TRACE(ok ? (row.content == before ? "OK" : "OK, UTF-16") : "Cancel");
        test::write_file(file, row.content);
        Hosted show;
        show.host("settings", "report.txt",
                  {show.dos_path("Glimmerwall.scr"), ok ? "owned" : "alone", ok ? "ok" : "cancel",
                   "D:\\new pictures"});
        std::string filled;
        ASSERT_TRUE(show.wait_line("filled", filled)) << show.report();
        const std::string report = show.report();
        EXPECT_NE(std::string::npos, report.find("box of the scr")) << report;
        EXPECT_NE(std::string::npos, report.find(ok ? "owner dialog" : "owner none")) << report;
        EXPECT_NE(std::string::npos, report.find("\nfolders D:\\old\n")) << report;
        EXPECT_NE(std::string::npos, report.find("\ndelay 8\n")) << report;
        EXPECT_NE(std::string::npos, report.find("\nfade 300\n")) << report;
        // For the README: the dialog as filled, where asked for.
        if (const char* keep = std::getenv("GW_KEEP_DIALOG_SHOT")) {
            wine::shot_when(show.unix_path("dialog.png"), [](const Shot&) { return true; });
            std::filesystem::copy_file(show.unix_path("dialog.png"), keep,
                                       std::filesystem::copy_options::overwrite_existing);
        }
        show.end_scene();
        std::string exit;
        ASSERT_TRUE(show.wait_line("exit", exit)) << show.report();
        EXPECT_EQ("0", exit.substr(0, 1)) << show.report();
        EXPECT_EQ(std::string::npos, show.report().find("\nshow\n")) << show.report();
        EXPECT_EQ(ok ? "# my settings\r\ndossier D:\\new pictures\r\ncachemb 64 # memory\r\n"
                       "delai 2500\r\nfade 800\r\nsauf thumbs\r\nsauf raw\r\nsmall\r\ntrace 1\r\n"
                       "caption date+path\r\nbackground blur\r\nscreens each\r\n"
                     : before,
                  test::read_file(file));
        EXPECT_FALSE(test::exists(file + ".new"));
        EXPECT_FALSE(trace_exists("Glimmerwall.txt"));
    }
    std::filesystem::remove(file);
}

TEST_F(WineShow, TheUsersSettingsFileIsReadWhenNoneStandsBesideTheProgramOrAbove) {
    const std::string file = user_settings();
    ASSERT_FALSE(file.empty());
    test::make_dirs(file.substr(0, file.rfind('/')));
    Hosted show;
    const std::string picture = show.picture("mine.bmp", 64, 48);
    test::write_file(file, "trace 4\ndelai 100000\n" + show.folder_setting() + "\n");
    show.start({"/s"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    EXPECT_EQ(std::vector<std::string>{picture}, show.drawn());
    EXPECT_EQ(1, show.count("AppData\\Roaming\\Glimmerwall\\Glimmerwall.cfg>")) << show.trace();
    ASSERT_TRUE(show.key("Escape"));
    EXPECT_EQ(0, show.exit_code());
    std::filesystem::remove(file);
}

TEST_F(WineShow, PasswordAndPreviewWithoutAWindowEndAtOnce) {
    const std::vector<std::vector<std::string>> rows = {
        {"/a"}, {"/a", "66000"}, {"/p"}, {"/p", "0"}, {"/p:1"}, {"/p", "12ab"}};
    for (const auto& arguments : rows) {
        Hosted show;
        show.configure("trace 4\n" + show.folder_setting());
        show.start(arguments);
        EXPECT_EQ(0, show.exit_code()) << arguments[0];
        EXPECT_FALSE(trace_exists("Glimmerwall.txt")) << arguments[0];
        EXPECT_FALSE(trace_exists("Glimmerwall-preview.txt")) << arguments[0];
    }
    {
        // A dialog gone before the preview started.
        Hosted show;
        show.configure("trace 4\n" + show.folder_setting());
        show.host("preview", "report.txt", {show.dos_path("Glimmerwall.scr"), "early"});
        std::string exit;
        ASSERT_TRUE(show.wait_line("exit", exit)) << show.report();
        EXPECT_EQ("0", exit.substr(0, 1)) << show.report();
    }
    // The desktop's own window, as a first process of the session would be handed it.
    Hosted show;
    show.configure("trace 4\n" + show.folder_setting());
    show.host("desktop", "report.txt", {show.dos_path("Glimmerwall.scr")});
    std::string exit;
    ASSERT_TRUE(show.wait_line("exit", exit)) << show.report();
    EXPECT_EQ("0", exit.substr(0, 1)) << show.report();
    EXPECT_FALSE(trace_exists("Glimmerwall-preview.txt"));
}

TEST_F(WineShow, NamesInAnyScriptAreListedCaptionedAndRecycled) {
    Hosted show;
    const std::string folder = "\xe6\x97\xa5\xe6\x9c\xac";        // 日本
    const std::string name = "\xc3\xa9t\xc3\xa9 caf\xc3\xa9.bmp"; // été café.bmp
    test::make_dirs(show.unix_path(folder));
    ASSERT_TRUE(pictures::write(show.unix_path(folder + "/" + name), 100, 1000,
                                pictures::Format::Bmp, 30, 160, 90));
    show.configure("trace 4\ndelai 100000\ndossier " + show.dos_path(folder));
    const std::string path = show.dos_path(folder + "\\" + name);

    // The caption as it should look: the stand-in draws it with the show's font and colours.
    test::write_file(show.unix_path("caption.txt"), path);
    show.host("text", "text.txt", {"18", show.dos_path("caption.txt")});
    std::string rest;
    ASSERT_TRUE(show.wait_line("drawn", rest, "text.txt")) << show.report("text.txt");
    const auto expected = wine::shot_when(show.unix_path("expected.png"),
                                          [](const Shot& s) { return !s.at(0, 100).white(); });
    ASSERT_TRUE(expected->ok());
    show.end_scene("text.txt");
    ASSERT_EQ(0, show.exit_code());

    show.start({"/s"});
    ASSERT_TRUE(show.wait_draws(1)) << show.trace();
    EXPECT_EQ(std::vector<std::string>{path}, show.drawn());
    // The 108 x 1080 picture stands from column 906: left of it only the caption is lit.
    const auto shot = wine::shot_when(show.unix_path("shot.png"), [](const Shot& s) {
        return s.at(960, 540).near(Rgb{30, 160, 90}, 12);
    });
    ASSERT_TRUE(shot->ok());
    int lit = 0, differ = 0;
    for (int y = 0; y < 18; ++y)
        for (int x = 0; x < 900; ++x) {
            lit += !expected->at(x, y).black();
            differ += !(expected->at(x, y) == shot->at(x, y));
        }
    EXPECT_GT(lit, 100);
    EXPECT_EQ(0, differ);

    ASSERT_TRUE(show.key("Delete"));
    ASSERT_TRUE(show.wait_count("erase <" + path + ">", 1)) << show.trace();
    ASSERT_TRUE(show.key("x"));
    EXPECT_EQ(0, show.exit_code());
    EXPECT_TRUE(show.wait_count("<" + path + "> deleted", 1)) << show.trace();
    EXPECT_FALSE(test::exists(show.unix_path(folder + "/" + name)));
    EXPECT_TRUE(test::exists(g_machine->trash() + "/" + name));
}

} // namespace
