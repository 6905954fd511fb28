#include "Configurator.h"
#include "ScreenSaver.h"
#include "Shell.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <random>
#include <string>

namespace {

bool read_text(const std::string& content, Configurator& store) {
    test::TempDir dir;
    test::write_file(dir / "Glimmerwall.cfg", content);
    return ReadConfigFile((dir / "Glimmerwall.cfg").c_str(), store);
}

std::string current_folder() {
    char buffer[4096];
    return getcwd(buffer, sizeof buffer) ? buffer : "";
}

std::string value_of(const Configurator& store, const std::string& key, int index = 0) {
    std::string value = "<none>";
    store.get_string(key, value, index);
    return value;
}

TEST(ConfiguratorFile, WorkedExample) {
    test::TraceFile trace;
    Configurator store;
    ASSERT_TRUE(read_text("#slideshow settings\ntrace = 3\ndelai : 5000\ncache 20\nsmall\n"
                          "path  C:\\Photos\\Holidays 2012  \ndossier=D:\\Pictures\n"
                          "PATH  E:\\Scans  # scanner output\nsauf thumbs\nexclude:_tmp\n",
                          store));
    std::int32_t trace_level = 0, delay = 0, cache = 0;
    EXPECT_TRUE(store.get_int("trace", trace_level, 0));
    EXPECT_TRUE(store.get_int("delai", delay, 0));
    EXPECT_TRUE(store.get_int("cache", cache, 0));
    EXPECT_EQ(3, trace_level);
    EXPECT_EQ(5000, delay);
    EXPECT_EQ(20, cache);
    EXPECT_TRUE(store.contains("small"));
    EXPECT_EQ("", value_of(store, "small"));
    EXPECT_EQ("C:\\Photos\\Holidays 2012", value_of(store, "path", 0));
    EXPECT_EQ("E:\\Scans", value_of(store, "path", 1));
    EXPECT_EQ("<none>", value_of(store, "path", 2));
    EXPECT_EQ("<none>", value_of(store, "path", -1));
    EXPECT_EQ("D:\\Pictures", value_of(store, "dossier"));
    EXPECT_EQ("thumbs", value_of(store, "sauf"));
    EXPECT_EQ("_tmp", value_of(store, "exclude"));
    EXPECT_FALSE(store.contains("scanner"));
    EXPECT_FALSE(store.contains("#slideshow"));

    EXPECT_EQ(1, trace.count("[Configurator]         ReadConfigFile( "));
    EXPECT_EQ(9, trace.count(" add <"));
    EXPECT_TRUE(trace.contains(" add <small> (no data)\n"));
    EXPECT_TRUE(trace.contains(" add <PATH> <E:\\Scans>\n"));
    EXPECT_TRUE(trace.contains(" add <path> <C:\\Photos\\Holidays 2012>\n"));
}

TEST(ConfiguratorFile, MissingFileFailsAndLeavesTheStoreAsItWas) {
    test::TraceFile trace;
    test::TempDir dir;
    const std::string file = dir / "a.cfg", missing = dir / "missing.cfg";
    test::write_file(file, "key value\nalone\n");
    Configurator store;
    store.add("k", "v");
    EXPECT_FALSE(ReadConfigFile(missing.c_str(), store));
    EXPECT_FALSE(ReadConfigFile(nullptr, store));
    EXPECT_EQ("v", value_of(store, "k"));
    EXPECT_EQ("<none>", value_of(store, "k", 1));
    EXPECT_TRUE(ReadConfigFile(file.c_str(), store));
    EXPECT_TRUE(trace.contains("add <key> <value>"));
    EXPECT_TRUE(trace.contains("add <alone> (no data)"));
}

TEST(ConfiguratorFile, NumberedEdgeCaseLinesAndKeyOnlyLines) {
    test::TraceFile trace;
    Configurator store;
    ASSERT_TRUE(read_text("key = value\nkey:value\nkey==value\n   key value\npath a b=c\n"
                          "path C:\\a#b\n;key value\n := :\npath x\nPath y\n"
                          "trail x:=\t \n\t\n# only a comment\n\n"
                          "flag\nFLAG\nname Bob\nname\nflag:\n",
                          store));
    for (int i = 0; i < 4; ++i) EXPECT_EQ("value", value_of(store, "key", i)) << i;
    EXPECT_EQ("<none>", value_of(store, "key", 4));
    EXPECT_EQ("value", value_of(store, ";key"));
    const char* paths[] = {"a b=c", "C:\\a", "x", "y", "<none>"};
    for (int i = 0; i < 5; ++i) EXPECT_EQ(paths[i], value_of(store, "path", i)) << i;
    EXPECT_EQ("x:=", value_of(store, "trail"));
    EXPECT_FALSE(store.contains(""));
    EXPECT_FALSE(store.contains(":"));
    // A key-only line stores the empty value only for a new key, but is always traced.
    EXPECT_EQ("", value_of(store, "flag", 0));
    EXPECT_EQ("<none>", value_of(store, "flag", 1));
    EXPECT_EQ("Bob", value_of(store, "name", 0));
    EXPECT_EQ("<none>", value_of(store, "name", 1));
    EXPECT_EQ(4, trace.count("(no data)"));
    EXPECT_EQ(2, trace.count("add <flag> (no data)"));
}

TEST(ConfiguratorFile, LineEndsAndOddBytes) {
    Configurator store;
    // CR LF is one line end, a lone CR stays text.
    ASSERT_TRUE(read_text("trace 2\r\ncache 7\r\nlone a\rb\r\n\r\nlast z\r", store));
    EXPECT_EQ("2", value_of(store, "trace"));
    EXPECT_EQ("7", value_of(store, "cache"));
    EXPECT_EQ("a\rb", value_of(store, "lone"));
    EXPECT_EQ("z\r", value_of(store, "last"));

    // Letters outside ASCII are compared as they are.
    Configurator accents;
    ASSERT_TRUE(read_text("d\xE9lai 1\nD\xC9LAI 2\n", accents));
    EXPECT_EQ("1", value_of(accents, "D\xE9LAI"));
    EXPECT_EQ("2", value_of(accents, "d\xC9lai"));
    EXPECT_EQ("<none>", value_of(accents, "d\xE9lai", 1));

    // A NUL ends the line's text; the rest of the file is read on.
    Configurator nul;
    const char with_nul[] = "a x\0y\nb\0\nc 3";
    ASSERT_TRUE(read_text(std::string(with_nul, sizeof with_nul - 1), nul));
    EXPECT_EQ("x", value_of(nul, "a"));
    EXPECT_EQ("", value_of(nul, "b"));
    EXPECT_EQ("3", value_of(nul, "c"));
}

TEST(ConfiguratorFile, LongLinesAndHostileFiles) {
    Configurator store;
    // "k", a space and 497 characters fill the line; its tail is dropped, not read as a key.
    const std::string value(497, 'v');
    ASSERT_TRUE(read_text(
        "k " + value + "TAIL evil\nnext 1\n" + std::string(499, 'w') + "\r\nafter 2", store));
    EXPECT_EQ(value, value_of(store, "k"));
    EXPECT_FALSE(store.contains("TAIL"));
    EXPECT_EQ("1", value_of(store, "next"));
    EXPECT_TRUE(store.contains(std::string(499, 'w')));
    EXPECT_EQ("2", value_of(store, "after"));

    std::mt19937 random(12345);
    std::string noise(200000, '\0');
    for (char& c : noise) c = static_cast<char>(random() & 0xff);
    Configurator noisy;
    ASSERT_TRUE(read_text(noise + "\nfinal ok\n", noisy));
    EXPECT_EQ("ok", value_of(noisy, "final"));

    Configurator huge; // ten megabytes without a line break
    ASSERT_TRUE(read_text(std::string(10 * 1024 * 1024, 'x') + "\nend 1", huge));
    EXPECT_TRUE(huge.contains(std::string(499, 'x')));
    EXPECT_EQ("1", value_of(huge, "end"));
}

// Text as a Windows editor saves it in "Unicode": a byte-order mark, then 16-bit units.
std::string utf16(const std::u16string& text, bool little_endian) {
    std::string bytes = little_endian ? "\xFF\xFE" : "\xFE\xFF";
    for (const char16_t unit : text) {
        const char low = static_cast<char>(unit & 0xFF), high = static_cast<char>(unit >> 8);
        bytes += little_endian ? low : high;
        bytes += little_endian ? high : low;
    }
    return bytes;
}

TEST(ConfiguratorFile, ByteOrderMarksAndUtf16TextAreReadAsUtf8) {
    const std::u16string text = u"path C:\\Fotos\\\u00C9t\u00E9 # comment\r\ntrace 2\r\n"
                                u"emoji \U0001F600\r\nlone \xD800x\r\nlow \xDC00\r\nlast 1";
    const struct {
        const char* name;
        std::string bytes;
        const char* traced;
    } table[] = {
        {"UTF-16LE", utf16(text, true), "text in UTF-16LE"},
        {"UTF-16BE", utf16(text, false), "text in UTF-16BE"},
        {"UTF-16LE, odd last byte", utf16(text, true) + "!", "text in UTF-16LE"},
    };
    for (const auto& row : table) {
        test::TraceFile trace;
        Configurator store;
        ASSERT_TRUE(read_text(row.bytes, store)) << row.name;
        EXPECT_TRUE(trace.contains(row.traced)) << row.name;
        EXPECT_EQ("C:\\Fotos\\\xC3\x89t\xC3\xA9", value_of(store, "path")) << row.name;
        std::int32_t level = 0;
        EXPECT_TRUE(store.get_int("trace", level, 0)) << row.name;
        EXPECT_EQ("\xF0\x9F\x98\x80", value_of(store, "emoji")) << row.name;
        // An unpaired surrogate becomes U+FFFD and the unit after it is kept.
        EXPECT_EQ("\xEF\xBF\xBDx", value_of(store, "lone")) << row.name;
        EXPECT_EQ("\xEF\xBF\xBD", value_of(store, "low")) << row.name;
        EXPECT_EQ(row.bytes.size() % 2 ? "1\xEF\xBF\xBD" : "1", value_of(store, "last"))
            << row.name;
    }

    test::TraceFile trace;
    Configurator bom;
    ASSERT_TRUE(read_text("\xEF\xBB\xBFtrace 2\npath x \xEF\xBB\xBF\n", bom));
    EXPECT_EQ("2", value_of(bom, "trace"));
    EXPECT_EQ("x \xEF\xBB\xBF", value_of(bom, "path")); // only a mark at the start is one
    EXPECT_TRUE(trace.contains("text in UTF-8"));
    Configurator mark_only;
    EXPECT_TRUE(read_text("\xFF\xFE", mark_only));
    EXPECT_TRUE(mark_only.keys().empty());
}

// The controller's reading of the settings, with the trace where the program puts it.
class SettingsTest : public testing::Test {
protected:
    bool configure(const std::string& text) {
        test::write_file(dir / "Glimmerwall.cfg", text);
        return saver.read_config((dir / "Glimmerwall.cfg").c_str());
    }

    test::TempDir dir;
    test::StateHome state{dir};
    ScreenSaver saver;
};

TEST_F(SettingsTest, EmptyFoldersAreSkippedAndQuotesDropped) {
    test::make_dirs(dir / "My Photos");
    ASSERT_TRUE(configure("path\npath =\ndossier # later\npath \"\"\n"
                          "dossier \"" +
                          (dir / "My Photos") + "\"\nsauf \"x\"\n"));
    // The second key-only "path" line stores nothing (the key has its empty value already).
    EXPECT_EQ(2, state.count("read_config : empty folder of <path> skipped"));
    EXPECT_EQ(1, state.count("read_config : empty folder of <dossier> skipped"));
    EXPECT_EQ(1, state.count("addPath : add <"));
    EXPECT_EQ(1, state.count("addPath : add <" + (dir / "My Photos") + ">"));
    EXPECT_EQ(1, state.count("addExcludePattern : add <\"x\">")); // only folders are unquoted
}

TEST_F(SettingsTest, UnknownKeysAreTracedOnceAtLevelOne) {
    ASSERT_TRUE(configure("trace 1\ndelay 3000\nDELAY 4\nPth /x\nPATH x\nCacheMB 5\n"
                          "Small\ncache 3\nDelai 7\nDossier y\nsauf a\nexclude b\n"));
    EXPECT_EQ(2, state.count("unknown key <"));
    EXPECT_EQ(1, state.count("[ScreenSaver]          unknown key <delay>"));
    EXPECT_EQ(1, state.count("unknown key <Pth>"));
}

// Each place a configuration may be is tried in turn; what is not a regular file is passed by.
TEST(ConfigurationPlaces, WhatIsNotARegularFileLetsTheNextPlaceBeRead) {
    test::TempDir dir;
    test::StateHome state{dir};
    const std::string before = current_folder();
    test::make_dirs(dir / "parent/program/Glimmerwall.cfg");
    ASSERT_EQ(0, chdir((dir / "parent/program").c_str()));
    ASSERT_EQ(0, symlink("/dev/zero", (dir / "parent/Glimmerwall.cfg").c_str()));
    const std::string further = dir / "further.cfg";
    ASSERT_EQ(0, mkfifo(further.c_str(), 0600));
    ScreenSaver saver;
    EXPECT_FALSE(shell::read_configuration(saver, further));
    EXPECT_TRUE(state.traced("ReadConfigFile( " + further + " ) open failed"));

    // A link to a regular file is followed.
    std::remove(further.c_str());
    test::write_file(dir / "real.cfg", "path F\n");
    ASSERT_EQ(0, symlink((dir / "real.cfg").c_str(), further.c_str()));
    EXPECT_TRUE(shell::read_configuration(saver, further));
    EXPECT_TRUE(state.traced("read config from <" + further + ">"));
    EXPECT_EQ(0, chdir(before.c_str()));
}

TEST(ConfiguratorStore, KeysIgnoreAsciiCaseAndKeepOrder) {
    Configurator store;
    store.add("path", "1");
    store.add("pat", "short");
    store.add("PATH", "2");
    store.add("paths", "long");
    store.add_key("pAtH");
    store.add_key("fresh");
    store.add_key("FRESH");
    store.add("[", "bracket"); // between 'Z' and 'a': only A to Z are folded
    EXPECT_EQ("1", value_of(store, "Path", 0));
    EXPECT_EQ("2", value_of(store, "pATH", 1));
    EXPECT_EQ("<none>", value_of(store, "path", 2));
    EXPECT_EQ("short", value_of(store, "PAT"));
    EXPECT_EQ("long", value_of(store, "pathS"));
    EXPECT_EQ("", value_of(store, "fresh"));
    EXPECT_EQ("<none>", value_of(store, "fresh", 1));
    EXPECT_FALSE(store.contains("pa"));
    EXPECT_FALSE(store.contains("{"));
}

TEST(ConfiguratorStore, GetIntReadsLikeAStream) {
    const struct {
        const char* text;
        bool result;
        std::int32_t filled;
    } table[] = {{"12", true, 12},
                 {"+7", true, 7},
                 {"-3", true, -3},
                 {"007", true, 7},
                 {"12abc", false, 12},
                 {"12 34", false, 12},
                 {"0x10", false, 0},
                 {"1.5", false, 1},
                 {"abc", false, -55},
                 {"", false, -55},
                 {"2147483648", false, -55},
                 {"-2147483649", false, -55},
                 {"-", false, -55},
                 {"2147483647", true, INT32_MAX},
                 {"-2147483648", true, INT32_MIN}};
    for (const auto& row : table) {
        Configurator store;
        store.add("n", row.text);
        std::int32_t number = -55;
        EXPECT_EQ(row.result, store.get_int("n", number, 0)) << row.text;
        EXPECT_EQ(row.filled, number) << row.text;
        EXPECT_FALSE(store.get_int("n", number, 1));
        EXPECT_EQ(row.filled, number) << row.text;
    }
}

} // namespace
