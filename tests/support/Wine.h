// The Windows shell's test machine: an X server of the test's own (Xvfb), a Wine prefix made once
// with drive D: leading to a scratch folder, runs of Glimmerwall.scr from folders of their own,
// and the fixture that the Wine tests share.
#pragma once

#include "Desktop.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

namespace wine {

// The inherited environment without what points at a display, a user's folders, a Wine prefix
// or a locale, in the UTF-8 locale C.UTF-8, plus `set`.
std::vector<std::string> environment(const std::vector<std::string>& set);

// The X server, the Wine prefix (made once: it takes seconds) with its server kept running,
// and the folder that drive D: leads to.
class Machine : private test::NoCopy {
public:
    Machine();
    ~Machine();

    bool ready() const { return ready_; }
    double prefix_seconds() const { return prefix_seconds_; }
    std::string drive_d() const { return root_ / "d"; }
    std::string trash() const { return root_ / "home/.local/share/Trash/files"; }
    std::vector<std::string> wine_environment(bool with_display = true) const;
    std::string log() const { return root_ / "log.txt"; }
    // A program of the test machine (xdotool, import, wineserver); its exit code.
    int run(const std::vector<std::string>& argv, int timeout_ms = 15000) const;
    bool tool(const std::vector<std::string>& argv) const { return run(argv) == 0; }

private:
    test::TempDir root_;
    // Stopped after the Wine server, before its folders go.
    desktop::XServer x_server_{environment({})};
    bool ready_ = false;
    double prefix_seconds_ = 0;
};

extern Machine* g_machine;

bool tool(const std::vector<std::string>& argv);

// Wine copies a window's drawing to the X server a moment after the drawing call: the first
// screenshot that satisfies `ready`, or the last one taken when none does before the deadline.
std::unique_ptr<desktop::Shot> shot_when(const std::string& path,
                                         const std::function<bool(const desktop::Shot&)>& ready);

// One run of Glimmerwall.scr from a folder of its own on drive D:, its configuration beside it.
class Show : public desktop::Program {
public:
    Show();

    void configure(const std::string& settings) const;
    std::string folder_setting() const { return "dossier " + dos_path("pictures"); }
    // A BMP of its own colour and size; its path as the show names it.
    std::string picture(const std::string& name, int w = 1000, int h = 750, std::uint8_t red = 200,
                        std::uint8_t green = 60, std::uint8_t blue = 30) const;
    std::string unix_path(const std::string& relative) const;
    std::string dos_folder() const { return "D:\\" + name_; }
    std::string dos_path(const std::string& relative) const {
        return dos_folder() + "\\" + relative;
    }

    void start(const std::vector<std::string>& arguments = {}, bool with_display = true);
    // The trace file, with the line ends of Windows text files made plain.
    std::string trace() const override;
    // A picture of this show gone from its folder and found in the Wine user's trash.
    bool recycled(const std::string& dos) const;

private:
    static int count_;
    std::string name_;
};

class WineShow : public ::testing::Test {
protected:
    static void SetUpTestSuite();
    static void TearDownTestSuite();
    void SetUp() override;
    static bool pointer(int x, int y);
};

} // namespace wine
