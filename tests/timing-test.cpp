// When the controller steps: the delay on a clock of its own, apart from the wall clock.
#include "Display.h"
#include "Pictures.h"
#include "ScreenSaver.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string>

namespace {

// The two clocks, set apart by the tests.
std::int64_t g_wall_ms;
std::int64_t g_monotonic_ms;
void wall(std::int64_t& seconds, std::int32_t& milliseconds) {
    seconds = g_wall_ms / 1000;
    milliseconds = static_cast<std::int32_t>(g_wall_ms % 1000);
}
std::int64_t monotonic() { return g_monotonic_ms; }

class TimingTest : public testing::Test {
protected:
    TimingTest() {
        setenv("TZ", "UTC0", 1);
        tzset();
        test::make_dirs(dir / "pics");
        EXPECT_TRUE(pictures::write(dir / "pics/a.png", 40, 30, pictures::Format::Png));
        g_wall_ms = kSixth;
        g_monotonic_ms = 7000000; // any origin
        set_wall_clock(&wall);
        set_monotonic_clock(&monotonic);
    }
    ~TimingTest() override {
        set_wall_clock(nullptr);
        set_monotonic_clock(nullptr);
    }
    void start(const std::string& delay) {
        test::write_file(dir / "Glimmerwall.cfg",
                         "delai " + delay + "\npath " + (dir / "pics") + "\n");
        ASSERT_TRUE(saver.read_config((dir / "Glimmerwall.cfg").c_str()));
        saver.set_window_manager(&display, 320, 240);
    }
    // One timer tick with both clocks moved on by `ms`; true when it drew.
    bool tick_after(std::int64_t ms, std::int64_t wall_ms) {
        g_monotonic_ms += ms;
        g_wall_ms += wall_ms;
        const std::size_t before = display.draws.size();
        saver.next(false);
        return display.draws.size() > before;
    }
    bool tick_after(std::int64_t ms) { return tick_after(ms, ms); }

    // 6 November 2026, 14:03:27 UTC, in milliseconds.
    static constexpr std::int64_t kSixth = 1793973807000;
    test::TempDir dir;
    test::StateHome state{dir};
    test::RecordingDisplay display;
    ScreenSaver saver;
};

TEST_F(TimingTest, HugeDelayStillShowsTheFirstPictureAtOnce) {
    start("2147483647");
    EXPECT_TRUE(tick_after(0));
    EXPECT_EQ(1, display.pictures());
    EXPECT_FALSE(tick_after(3600000));
    // A delay near 2^31 ms is waited for, and a tick just past it is not taken for the past.
    EXPECT_FALSE(tick_after(2147483647 - 3600000 - 1));
    EXPECT_TRUE(tick_after(21));
    EXPECT_FALSE(tick_after(20));
}

TEST_F(TimingTest, SettingTheWallClockDoesNotMoveTheShow) {
    start("5000");
    EXPECT_TRUE(tick_after(0));
    // Set back an hour, then forward a day: the delay runs on regardless.
    EXPECT_FALSE(tick_after(20, -3600000));
    EXPECT_FALSE(tick_after(20, 86400000));
    EXPECT_FALSE(tick_after(4940, 4940));
    EXPECT_TRUE(tick_after(20, 20));
    EXPECT_EQ(2, display.pictures());
    // The trace keeps the wall clock's time: an hour back, a day on, 4.96 s later.
    EXPECT_NE(std::string::npos, state.trace().find("\n07,13:03:31.960 [ScreenSaver]"));
}

} // namespace
