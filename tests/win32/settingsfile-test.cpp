// What the Settings dialog reads from a settings file and how it writes its choices back.
#include "SettingsFile.h"

#include <gtest/gtest.h>

namespace {

using settings::Settings;

TEST(SettingsFile, ReadsTheDialogsKeysAsTheShowWould) {
    const Settings s =
        settings::read("# mine\r\npath \"C:\\My Photos\"\r\nDOSSIER=D:\\Scans # old\r\n"
                       "sauf thumbs\r\nexclude:_tmp\r\ndelai 2500\r\nSmall\r\n"
                       "trace 2\r\ncache 9\r\npath\r\n");
    EXPECT_EQ((std::vector<std::string>{"C:\\My Photos", "D:\\Scans"}), s.folders);
    EXPECT_EQ((std::vector<std::string>{"thumbs", "_tmp"}), s.exclusions);
    EXPECT_EQ(2500, s.delay_ms);
    EXPECT_TRUE(s.small);
    EXPECT_EQ(2, s.trace);
    const Settings none = settings::read("delai fast\ntrace\n");
    EXPECT_EQ(5000, none.delay_ms);
    EXPECT_EQ(4, none.trace);
    EXPECT_FALSE(none.small);
}

TEST(SettingsFile, ReadsCaptionBackgroundScreensAndFadeAsTheShowWould) {
    const struct {
        const char* text;
        const char* caption;
        const char* background;
        bool each;
        std::int32_t fade;
    } rows[] = {
        {"", "path", "black", false, 0},
        {"caption DATE+Path\nbackground Blur\nscreens EACH\nfade 800\n", "date+path", "blur", true,
         800},
        // The first line of a key counts, as the show reads it, even when it is refused.
        {"caption none\ncaption date\nscreens span\nscreens each\nfade 60000\nfade 5\n", "none",
         "black", false, 60000},
        {"caption title\ncaption date\nbackground grey\nfade -1\nfade 9\n", "path", "black", false,
         0},
        {"fade 60001\nscreens\n", "path", "black", false, 0},
    };
    for (const auto& row : rows) {
        const Settings s = settings::read(row.text);
        EXPECT_EQ(row.caption, s.caption) << row.text;
        EXPECT_EQ(row.background, s.background) << row.text;
        EXPECT_EQ(row.each, s.each_screen) << row.text;
        EXPECT_EQ(row.fade, s.fade_ms) << row.text;
    }
}

TEST(SettingsFile, RewriteKeepsEveryOtherLineAndReplacesEachKeyWhereItStood) {
    Settings wanted;
    wanted.folders = {"E:\\New", "F:\\Other"};
    wanted.exclusions = {"raw"};
    wanted.delay_ms = 8000;
    wanted.small = false;
    wanted.trace = 1;
    const struct {
        const char* before;
        const char* after;
    } rows[] = {
        // Comments, unknown keys and blank lines stay; a key's lines collapse into its first.
        {"# my show\npath C:\\Old # holiday\ncache 20\n\ndossier D:\\Gone\nsmall\ndelai 5000\n",
         "# my show\npath E:\\New # holiday\npath F:\\Other\ncache 20\n\ndelai 8000\n"
         "sauf raw\ntrace 1\n"},
        // CR LF files stay CR LF; a removed key keeps its comment.
        {"small # tiny\r\ntrace 4\r\n", "# tiny\r\ntrace 1\r\ndossier E:\\New\r\n"
                                        "dossier F:\\Other\r\nsauf raw\r\ndelai 8000\r\n"},
        // A new file holds the keys alone; those at the show's default are left out.
        {"", "dossier E:\\New\ndossier F:\\Other\nsauf raw\ndelai 8000\ntrace 1\n"},
        // Where the file holds them, they are kept even at their default.
        {"Caption date # mine\nfade 900\nfade 20\nscreens each\n",
         "Caption path # mine\nfade 0\nscreens span\ndossier E:\\New\ndossier F:\\Other\n"
         "sauf raw\ndelai 8000\ntrace 1\n"},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(row.after, settings::rewrite(row.before, wanted)) << row.before;
        const Settings again = settings::read(settings::rewrite(row.before, wanted));
        EXPECT_EQ(wanted.folders, again.folders);
        EXPECT_EQ(wanted.exclusions, again.exclusions);
        EXPECT_EQ(wanted.delay_ms, again.delay_ms);
        EXPECT_EQ(wanted.trace, again.trace);
    }
    Settings changed = wanted;
    changed.caption = "date+path";
    changed.background = "blur";
    changed.each_screen = true;
    changed.fade_ms = 750;
    EXPECT_EQ("screens each\ndossier E:\\New\ndossier F:\\Other\nsauf raw\ndelai 8000\n"
              "trace 1\ncaption date+path\nbackground blur\nfade 750\n",
              settings::rewrite("screens span\n", changed));
}

TEST(SettingsFile, DelayInSecondsBothWays) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t ms;
    } rows[] = {{"5", true, 5000},     {"2.5", true, 2500},   {"0,125", true, 125},
                {" 12 ", true, 12000}, {"", false, 0},        {"-1", false, 0},
                {"1e3", false, 0},     {"2000001", false, 0}, {".5", true, 500}};
    for (const auto& row : rows) {
        std::int32_t ms = -7;
        EXPECT_EQ(row.ok, settings::parse_seconds(row.text, ms)) << row.text;
        EXPECT_EQ(row.ok ? row.ms : -7, ms) << row.text;
    }
    EXPECT_EQ("5", settings::seconds_text(5000));
    EXPECT_EQ("2.5", settings::seconds_text(2500));
    EXPECT_EQ("0.125", settings::seconds_text(125));
}

TEST(SettingsFile, FadeInWholeMillisecondsUpToAMinute) {
    const struct {
        const char* text;
        bool ok;
        std::int32_t ms;
    } rows[] = {{"0", true, 0},      {" 800 ", true, 800},     {"60000", true, 60000},
                {"60001", false, 0}, {"", false, 0},           {"-5", false, 0},
                {"0.5", false, 0},   {"99999999999", false, 0}};
    for (const auto& row : rows) {
        std::int32_t ms = -7;
        EXPECT_EQ(row.ok, settings::parse_fade(row.text, ms)) << row.text;
        EXPECT_EQ(row.ok ? row.ms : -7, ms) << row.text;
    }
}

} // namespace
