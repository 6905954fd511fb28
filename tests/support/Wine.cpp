#include "Wine.h"

#include "Pictures.h"

#include <FreeImage.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>

namespace wine {

std::vector<std::string> environment(const std::vector<std::string>& set) {
    // Wine maps Unix file names through the locale's character set: without a UTF-8 locale
    // (none is set on many minimal systems) names outside ASCII would not be found.
    std::vector<std::string> result = desktop::inherited_environment(
        {"DISPLAY=", "WAYLAND_DISPLAY=", "HOME=", "XDG_", "WINE", "LANG", "LC_"});
    result.push_back("LC_ALL=C.UTF-8");
    result.insert(result.end(), set.begin(), set.end());
    return result;
}

Machine::Machine() {
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
    prefix_seconds_ =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - begin).count();
    ready_ = !error;
}

Machine::~Machine() {
    run({"wineserver", "-k"}, 15000);
    run({"wineserver", "-w"}, 15000);
}

std::vector<std::string> Machine::wine_environment(bool with_display) const {
    std::vector<std::string> set = {"HOME=" + root_ / "home", "WINEPREFIX=" + root_ / "prefix",
                                    "WINEDEBUG=-all",
                                    "WINEDLLOVERRIDES=mscoree,mshtml=;winemenubuilder.exe=d"};
    if (with_display) set.push_back("DISPLAY=" + x_server_.display());
    return environment(set);
}

int Machine::run(const std::vector<std::string>& argv, int timeout_ms) const {
    return desktop::run(argv, wine_environment(), log(), timeout_ms);
}

Machine* g_machine = nullptr;

bool tool(const std::vector<std::string>& argv) { return g_machine->tool(argv); }

std::unique_ptr<desktop::Shot> shot_when(const std::string& path,
                                         const std::function<bool(const desktop::Shot&)>& ready) {
    std::unique_ptr<desktop::Shot> shot;
    desktop::wait_until(
        [&] {
            shot = std::make_unique<desktop::Shot>(tool, path);
            return shot->ok() && ready(*shot);
        },
        10000);
    return shot;
}

int Show::count_ = 0;

Show::Show() : Program(tool), name_("show" + std::to_string(++count_)) {
    test::make_dirs(unix_path("pictures"));
    std::filesystem::copy_file(GW_SCR_PROGRAM, unix_path("Glimmerwall.scr"));
    std::filesystem::remove(g_machine->drive_d() + "/Glimmerwall.txt");
}

void Show::configure(const std::string& settings) const {
    test::write_file(unix_path("Glimmerwall.cfg"), settings + "\n");
}

std::string Show::picture(const std::string& name, int w, int h, std::uint8_t red,
                          std::uint8_t green, std::uint8_t blue) const {
    EXPECT_TRUE(pictures::write(unix_path("pictures/" + name), w, h, pictures::Format::Bmp, red,
                                green, blue));
    return dos_path("pictures\\" + name);
}

std::string Show::unix_path(const std::string& relative) const {
    std::string path = g_machine->drive_d() + "/" + name_ + "/" + relative;
    std::replace(path.begin(), path.end(), '\\', '/');
    return path;
}

void Show::start(const std::vector<std::string>& arguments, bool with_display) {
    std::vector<std::string> argv = {"wine", dos_path("Glimmerwall.scr")};
    argv.insert(argv.end(), arguments.begin(), arguments.end());
    started(desktop::spawn(argv, g_machine->wine_environment(with_display), g_machine->log()));
}

std::string Show::trace() const {
    std::string text = test::read_file(g_machine->drive_d() + "/Glimmerwall.txt");
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

bool Show::recycled(const std::string& dos) const {
    const std::string name = dos.substr(dos.rfind('\\') + 1);
    return !test::exists(unix_path("pictures/" + name)) &&
           test::exists(g_machine->trash() + "/" + name);
}

void WineShow::SetUpTestSuite() {
    FreeImage_Initialise(FALSE);
    g_machine = new Machine;
    std::printf("Wine prefix made in %.1f s\n", g_machine->prefix_seconds());
}

void WineShow::TearDownTestSuite() {
    delete g_machine;
    g_machine = nullptr;
}

void WineShow::SetUp() {
    ASSERT_TRUE(g_machine->ready()) << "Xvfb or the Wine prefix did not start\n"
                                    << test::read_file(g_machine->log());
}

bool WineShow::pointer(int x, int y) {
    return g_machine->tool({"xdotool", "mousemove", std::to_string(x), std::to_string(y)});
}

} // namespace wine
