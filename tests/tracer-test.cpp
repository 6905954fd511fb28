#include "BitMap.h"
#include "Configurator.h"
#include "ImageCache.h"
#include "Randomizator.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <string>

namespace {

const std::int32_t kConfigurator = Tracer::register_module("Configurator");
const std::int32_t kBitMap = Tracer::register_module("BitMap");
const std::int32_t kLongName = Tracer::register_module("AModuleNameOf21Chars_");
const std::int32_t kUnregistered = 12345;

struct UtcZone {
    UtcZone() {
        setenv("TZ", "UTC0", 1);
        tzset();
    }
};
const UtcZone utc_zone;

// 6 November 2026, 14:03:27 UTC.
constexpr std::int64_t kSixth = 1793973807;

std::string header(const char* name, const char* time = "06,14:03:27.125") {
    std::string h = std::string("\n") + time + " [" + name + "]";
    for (int i = static_cast<int>(std::string(name).size()); i < 21; ++i) h += ' ';
    return h;
}

// Records written at a fixed moment: kSixth and 125 milliseconds.
class TracerRecords : public ::testing::Test {
protected:
    test::FakeClock clock{kSixth, 125};
};

TEST(TracerHandles, MatchTheRegisteredTable) {
    EXPECT_EQ(193485963, Tracer::module_handle("abc"));
    const struct {
        const char* name;
        std::int32_t handle;
    } table[] = {
        {"BitMap", 696286114},       {"Configurator", 445028504}, {"DataBase", 2107140506},
        {"FileManager", 1998040640}, {"History", 661709559},      {"ImageCache", 1675218684},
        {"Randomizator", 12159999},  {"ScreenSaver", 861441606},  {"DelayedSuppressor", 865522659},
        {"Tracer", 1410737766},      {"WinMain", 699029560}};
    for (const auto& row : table) {
        EXPECT_EQ(row.handle, Tracer::module_handle(row.name)) << row.name;
        EXPECT_EQ(row.handle, Tracer::register_module(row.name)) << row.name;
    }
    // Bytes above 127 count as negative values.
    EXPECT_EQ(
        static_cast<std::int32_t>((5381u * 33u + static_cast<std::uint32_t>(-23)) & 0x7fffffffu),
        Tracer::module_handle("\xe9"));
}

TEST_F(TracerRecords, WorkedExampleByteForByte) {
    test::TempDir dir;
    const std::string file = dir / "trace.txt";
    Tracer& tracer = Tracer::instance();
    tracer.set_file(file.c_str());
    tracer.all_module_level(4);
    clock.set(kSixth, 126);
    GW_TRACE(kConfigurator, 3, "ReadConfigFile( %s )", "Glimmerwall.cfg");
    clock.set(kSixth, 127);
    GW_TRACE(kConfigurator, 4, "add <%s> <%s>", "path", "C:\\Photos");
    clock.set(kSixth, 940);
    GW_TRACE(kBitMap, 4, "load( %s ) win:%dx%d img:%dx%d", "C:\\Photos\\a.jpg", 1280, 1024, 2000,
             1500);
    GW_TRACE(kBitMap, 4, "~ rescale:%dx%d", 1280, 960);

    EXPECT_EQ("\n06,14:03:27.125 [Tracer]               all_module_level( 4 )"
              "\n06,14:03:27.126 [Configurator]         ReadConfigFile( Glimmerwall.cfg )"
              "\n06,14:03:27.127 [Configurator]         add <path> <C:\\Photos>"
              "\n06,14:03:27.940 [BitMap]               load( C:\\Photos\\a.jpg ) win:1280x1024 "
              "img:2000x1500 rescale:1280x960",
              test::read_file(file));

    // With "trace" 3 the two BitMap records are not written.
    tracer.set_file(file.c_str());
    tracer.all_module_level(3);
    GW_TRACE(kBitMap, 4, "load( %s )", "x");
    GW_TRACE(kBitMap, 4, "~ rescale");
    EXPECT_EQ(header("Tracer", "06,14:03:27.940") + "all_module_level( 3 )", test::read_file(file));
}

TEST_F(TracerRecords, LevelsFilterPerModule) {
    test::TraceFile trace;
    Tracer& tracer = Tracer::instance();
    tracer.all_module_level(2);
    GW_TRACE(kBitMap, 2, "equal");
    GW_TRACE(kBitMap, 3, "above");
    EXPECT_FALSE(trace.contains("all_module_level( 2 )")); // its own record is level 3
    EXPECT_TRUE(trace.contains("equal"));
    EXPECT_FALSE(trace.contains("above"));

    tracer.all_module_level(0);
    GW_TRACE(kBitMap, 0, "grave");
    GW_TRACE(kBitMap, 1, "failure");
    tracer.all_module_level(-1);
    GW_TRACE(kBitMap, 0, "silenced");
    // An unknown handle is written at any level under "???".
    GW_TRACE(kUnregistered, 9, "stranger");
    EXPECT_TRUE(trace.contains("grave"));
    EXPECT_FALSE(trace.contains("failure"));
    EXPECT_FALSE(trace.contains("silenced"));
    EXPECT_TRUE(trace.contains(header("???") + "stranger"));
    EXPECT_EQ(18, header("???").size() - std::string("\n06,14:03:27.125 [???]").size());
    tracer.all_module_level(4);
}

// The modules' lines each at its level: written from that level on, not one level below.
TEST_F(TracerRecords, ModuleLinesAppearFromTheirLevelOn) {
    test::TempDir dir;
    const std::string file = dir / "a.cfg", missing = dir / "missing.cfg";
    test::write_file(file, "key value\n");
    const auto read = [](const std::string& name) {
        Configurator store;
        ReadConfigFile(name.c_str(), store);
    };
    const auto exhaust = [] {
        Randomizator r;
        r.init(1);
        r.try_next();
        r.set_result(false);
        r.try_next();
    };
    const struct {
        int level;
        std::string line;
        std::function<void()> act;
    } rows[] = {
        {1, "ReadConfigFile( " + missing + " ) open failed", [&] { read(missing); }},
        {3, "ReadConfigFile( " + file + " )", [&] { read(file); }},
        {4, "add <key> <value>", [&] { read(file); }},
        {3, "init( 2 )", [] { ImageCache cache(2); }},
        {1, "init( -1 )---> failure !", [] { ImageCache(2).init(-1); }},
        {4, "get( p )", [] { ImageCache(2).get("p"); }},
        {2, "add( p )--> cache not created !",
         [] {
             ImageCache cache(0);
             std::unique_ptr<BitMap> picture = std::make_unique<BitMap>();
             cache.add("p", picture);
         }},
        {1, "try_next no displayable file found => exit", exhaust},
        {4, "update_valid : nb_value=1", exhaust},
        {2, "try_next : still waiting result of previous try",
         [] {
             Randomizator r;
             r.init(1);
             r.try_next();
             r.try_next();
         }},
        {3, "make_permutation : nb_value=1",
         [] {
             Randomizator r;
             r.init(1);
             r.try_next();
         }},
    };
    for (const auto& row : rows) {
        for (int level : {row.level - 1, row.level}) {
            test::TraceFile trace;
            Tracer::instance().all_module_level(level);
            row.act();
            EXPECT_EQ(level >= row.level, trace.contains(row.line))
                << "<" << row.line << "> at level " << level << "\n"
                << trace.text();
        }
    }
    Tracer::instance().all_module_level(4);
}

TEST_F(TracerRecords, NameOfTwentyOneCharactersGetsNoPadding) {
    test::TraceFile trace;
    GW_TRACE(kLongName, 4, "text");
    EXPECT_TRUE(trace.contains("[AModuleNameOf21Chars_]text"));
}

TEST_F(TracerRecords, TildesJoinAndSplitLines) {
    test::TraceFile trace;
    const std::string before = trace.text();
    GW_TRACE(kBitMap, 4, "get( p )");
    GW_TRACE(kBitMap, 4, "~ not in cache");
    GW_TRACE(kBitMap, 4, "~");         // writes nothing, header stays due
    GW_TRACE(kBitMap, 4, "~~leading"); // header, then one tilde
    GW_TRACE(kBitMap, 4, "joined~");   // next record continues the line
    GW_TRACE(kBitMap, 4, "tail");
    GW_TRACE(kBitMap, 4, "two~~"); // one tilde kept, next starts a new line
    GW_TRACE(kBitMap, 4, "last");
    const std::string h = header("BitMap");
    EXPECT_EQ(before + h + "get( p ) not in cache" + h + "~leading" + h + "joinedtail" + h +
                  "two~" + h + "last",
              trace.text());
}

TEST_F(TracerRecords, BannerEndsTheLineAndLeavesAnEmptyOne) {
    test::TraceFile trace;
    const std::string before = trace.text();
    GW_TRACE(kBitMap, 2, "~\n\n*** Glimmerwall / T.Orvald / build %s %s ***\n", "Dec  7 2026",
             "13:00:00");
    GW_TRACE(kBitMap, 2, "next");
    EXPECT_EQ(before + "\n\n*** Glimmerwall / T.Orvald / build Dec  7 2026 13:00:00 ***\n" +
                  header("BitMap") + "next",
              trace.text());
}

TEST_F(TracerRecords, LongTextIsCutAt999Characters) {
    test::TraceFile trace;
    const std::size_t before = trace.text().size();
    const std::string text(5000, 'x');
    GW_TRACE(kBitMap, 4, "%s", text.c_str());
    EXPECT_EQ(before + 999, trace.text().size());
}

TEST(TracerFile, NoFileNameWritesNothing) {
    test::TempDir dir;
    Tracer::instance().set_file("");
    GW_TRACE(kBitMap, 0, "dropped");
    // A module registered now is merged at the next record all the same.
    static const std::int32_t late = Tracer::register_module("LateModule");
    GW_TRACE(late, 0, "dropped too");
    test::TraceFile trace;
    GW_TRACE(late, 4, "named");
    EXPECT_TRUE(trace.contains("[LateModule]"));
}

TEST(TracerFile, SetFileAgainEmptiesTheFileAtTheNextRecord) {
    test::FakeClock clock(kSixth, 125);
    test::TraceFile trace;
    GW_TRACE(kBitMap, 4, "first attempt");
    Tracer::instance().set_file(trace.path().c_str());
    EXPECT_TRUE(trace.contains("first attempt")); // closed, not yet emptied
    GW_TRACE(kBitMap, 4, "second attempt");
    EXPECT_EQ(header("BitMap") + "second attempt", trace.text());
}

TEST(TracerFile, UnopenableFileIsRetriedAtEachRecord) {
    test::FakeClock clock(kSixth, 125);
    test::TempDir dir;
    const std::string file = dir / "later/trace.txt";
    Tracer::instance().set_file(file.c_str());
    GW_TRACE(kBitMap, 4, "lost");
    test::make_dirs(dir / "later");
    GW_TRACE(kBitMap, 4, "kept");
    EXPECT_EQ(header("BitMap") + "kept", test::read_file(file));
}

TEST(TracerFile, NeverWrittenThroughALinkOrIntoAPipe) {
    test::FakeClock clock(kSixth, 125);
    test::TempDir dir;
    const std::string victim = dir / "victim.txt";
    test::write_file(victim, "precious");
    ASSERT_EQ(0, symlink(victim.c_str(), (dir / "link.txt").c_str()));
    ASSERT_EQ(0, symlink((dir / "nowhere.txt").c_str(), (dir / "dangling.txt").c_str()));
    ASSERT_EQ(0, mkfifo((dir / "pipe.txt").c_str(), 0600));
    const struct {
        const char* name;
        const char* why;
    } table[] = {{"link.txt", "is a symbolic link"},
                 {"dangling.txt", "is a symbolic link"},
                 {"pipe.txt", "is not a regular file"}};
    for (const auto& row : table) {
        const std::string file = dir / row.name;
        testing::internal::CaptureStderr();
        Tracer::instance().set_file(file.c_str());
        GW_TRACE(kBitMap, 1, "first");
        GW_TRACE(kBitMap, 1, "second");
        const std::string said = testing::internal::GetCapturedStderr();
        EXPECT_EQ("06,14:03:27.125 [Tracer]               trace file <" + file + "> " + row.why +
                      ": no trace written\n",
                  said)
            << row.name;
    }
    EXPECT_EQ("precious", test::read_file(victim));
    EXPECT_FALSE(test::exists(dir / "nowhere.txt"));
    // Named again, a regular file is written as before.
    test::TraceFile trace;
    GW_TRACE(kBitMap, 1, "after");
    EXPECT_TRUE(trace.contains("after"));
}

TEST(TracerFile, MissedRegistrationsAreReportedOnce) {
    Tracer::instance().set_file(""); // merges what static initialisation registered
    static char names[120][16];
    for (int i = 0; i < 120; ++i) {
        std::snprintf(names[i], sizeof names[i], "Extra%03d", i);
        Tracer::register_module(names[i]);
    }
    test::FakeClock clock(kSixth, 125);
    test::TraceFile trace;
    GW_TRACE(kBitMap, 4, "after");
    EXPECT_EQ(1, trace.count("Tracer missed 20 modules"));
    // The hundred that fitted write under their names, the others under "???".
    GW_TRACE(Tracer::module_handle(names[99]), 4, "fitted");
    GW_TRACE(Tracer::module_handle(names[100]), 4, "missed");
    EXPECT_TRUE(trace.contains(header("Extra099") + "fitted"));
    EXPECT_TRUE(trace.contains(header("???") + "missed"));
}

TEST(TracerFile, FinalLineBreakAtProcessEnd) {
    test::TempDir dir;
    const std::string file = dir / "trace.txt";
    EXPECT_EXIT(
        {
            Tracer::instance().set_file(file.c_str());
            GW_TRACE(kBitMap, 4, "last words");
            std::exit(0);
        },
        testing::ExitedWithCode(0), "");
    const std::string text = test::read_file(file);
    ASSERT_GE(text.size(), 12u);
    EXPECT_EQ("last words\n", text.substr(text.size() - 11));
}

TEST(TracerClocks, ElapsedCountsFromTheFirstCallAndWraps) {
    test::FakeClock clock(kSixth, 900);
    EXPECT_EQ(0, elapsed_ms());
    clock.advance(1500);
    EXPECT_EQ(1500, elapsed_ms());
    // Past 2^31 ms the count wraps around instead of overflowing.
    clock.advance(2147483647LL - 1500 + 1);
    EXPECT_EQ(INT32_MIN, elapsed_ms());
}

TEST(TracerClocks, ClockKeepsThe32LowBitsOfMilliseconds) {
    test::FakeClock clock(kSixth, 125);
    const std::uint64_t full = static_cast<std::uint64_t>(kSixth) * 1000u + 125u;
    EXPECT_EQ(static_cast<std::int32_t>(static_cast<std::uint32_t>(full)), clock_ms());
    clock.set(0, 1);
    EXPECT_EQ(1, clock_ms());
}

} // namespace
