// The installer under Wine: a silent per-user install that selects the screen saver and writes
// the user's settings only where there are none, and the uninstaller that leaves them.
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string>

namespace {

using desktop::wait_until;
using wine::g_machine;
using wine::WineShow;

// The Wine user's folder of the test machine.
std::filesystem::path wine_user() {
    const std::filesystem::path users = g_machine->drive_d() + "/../prefix/drive_c/users";
    for (const auto& entry : std::filesystem::directory_iterator(users))
        if (entry.path().filename() != "Public" &&
            std::filesystem::exists(entry.path() / "AppData"))
            return entry.path();
    return {};
}

// What `reg query` prints for a key.
std::string registry(const std::string& key) {
    const std::string out = g_machine->drive_d() + "/reg.txt";
    std::filesystem::remove(out);
    desktop::run({"wine", "reg", "query", key}, g_machine->wine_environment(), out, 30000);
    std::string text = test::read_file(out);
    text.erase(std::remove(text.begin(), text.end(), '\r'), text.end());
    return text;
}

TEST_F(WineShow, InstallerInstallsForTheUserSelectsTheSaverAndItsUninstallerKeepsTheSettings) {
    const std::filesystem::path user = wine_user();
    ASSERT_FALSE(user.empty());
    const std::filesystem::path folder = user / "AppData/Local/Programs/Glimmerwall";
    const std::filesystem::path settings = user / "AppData/Roaming/Glimmerwall/Glimmerwall.cfg";
    std::filesystem::remove(settings);
    std::filesystem::copy_file(GW_INSTALLER, g_machine->drive_d() + "/setup.exe",
                               std::filesystem::copy_options::overwrite_existing);

    ASSERT_EQ(0, g_machine->run({"wine", "D:\\setup.exe", "/S"}, 60000));
    EXPECT_TRUE(test::exists((folder / "Glimmerwall.scr").string()));
    EXPECT_TRUE(test::exists((folder / "Uninstall.exe").string()));
    const std::string desktop = registry("HKCU\\Control Panel\\Desktop");
    EXPECT_NE(std::string::npos,
              desktop.find("AppData\\Local\\Programs\\Glimmerwall\\Glimmerwall.scr"))
        << desktop;
    const std::string entry =
        registry("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerwall");
    EXPECT_NE(std::string::npos, entry.find("DisplayName")) << entry;
    EXPECT_NE(std::string::npos, entry.find("Uninstall.exe")) << entry;
    // The example, with the user's pictures folder.
    const std::string example = test::read_file(settings.string());
    EXPECT_NE(std::string::npos, example.find("delai 5000")) << example;
    EXPECT_NE(std::string::npos, example.find("dossier C:\\users\\")) << example;

    // Installed again over the user's own settings: they stay as they are.
    test::write_file(settings.string(), "dossier D:\\mine\n");
    ASSERT_EQ(0, g_machine->run({"wine", "D:\\setup.exe", "/S"}, 60000));
    EXPECT_EQ("dossier D:\\mine\n", test::read_file(settings.string()));

    // The uninstaller runs from a copy of itself and returns at once.
    const std::string uninstaller =
        "C:" + (folder / "Uninstall.exe")
                   .string()
                   .substr((user.parent_path().parent_path()).string().size());
    ASSERT_EQ(0, g_machine->run({"wine", uninstaller, "/S"}, 60000)) << uninstaller;
    EXPECT_TRUE(wait_until([&] { return !std::filesystem::exists(folder); }, 30000));
    EXPECT_EQ(std::string::npos, registry("HKCU\\Control Panel\\Desktop").find("Glimmerwall"));
    EXPECT_EQ(std::string::npos,
              registry("HKCU\\Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\Glimmerwall")
                  .find("DisplayName"));
    EXPECT_EQ("dossier D:\\mine\n", test::read_file(settings.string()));
    std::filesystem::remove(settings);
}

} // namespace
