// The Linux loop's timer plan against the controller on a simulated clock: sleeping through
// the ticks at which nothing is due must not move a single step.
#include "BitMap.h"
#include "Pictures.h"
#include "ScreenSaver.h"
#include "TestSupport.h"
#include "TickPlan.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <map>
#include <string>
#include <vector>

namespace {

constexpr std::int64_t kStart = 1700000000;

class StepLog final : public ScreenSaver::SystemWrapper {
public:
    void draw_bitmap(const BitMap*, const std::string& caption) override {
        steps.push_back(std::to_string(now) + " " + caption);
    }
    bool delete_file(const char*) override { return false; }
    std::int64_t now = 0;
    std::vector<std::string> steps;
};

enum class Command { Right, Space };

struct LoopRun {
    std::vector<std::string> steps; // "time caption" of each step
    int timer_calls = 0;            // timer steps the loop ran, due or not
};

// The loop of the shell on simulated time: a timer step at each planned tick, the user's
// commands at their times, until `end` ms. With `sleeping` false every 20 ms tick runs.
LoopRun simulate(const std::string& config, const std::map<std::int64_t, Command>& commands,
                 std::int64_t end, bool sleeping) {
    test::FakeClock clock(kStart, 0);
    ScreenSaver saver;
    EXPECT_TRUE(saver.read_config(config.c_str()));
    StepLog log;
    saver.set_window_manager(&log, 320, 240);
    LoopRun run;
    std::uint64_t next_tick = 0;
    auto command = commands.begin();
    for (;;) {
        const auto now = static_cast<std::uint64_t>(log.now);
        std::uint64_t tick = next_tick;
        if (sleeping) {
            const bool complete = saver.index_complete();
            std::int32_t due = 0;
            const bool known = complete && saver.next_due(due);
            const auto until = static_cast<std::int32_t>(static_cast<std::uint32_t>(due) -
                                                         static_cast<std::uint32_t>(elapsed_ms()));
            tick = tick_plan::planned_tick(next_tick, now, complete, known, known ? until : 0);
        }
        const bool command_first =
            command != commands.end() && static_cast<std::uint64_t>(command->first) < tick;
        const std::int64_t at = command_first ? command->first : static_cast<std::int64_t>(tick);
        if (at > end) break;
        log.now = at;
        clock.set(kStart + at / 1000, static_cast<std::int32_t>(at % 1000));
        if (command_first) {
            if (command->second == Command::Space) saver.toggle_pause();
            saver.next(true);
            ++command;
        } else {
            saver.next(false);
            ++run.timer_calls;
            next_tick = tick + tick_plan::kPeriodMs;
        }
    }
    run.steps = log.steps;
    return run;
}

class LoopPlan : public testing::Test {
protected:
    LoopPlan() {
        // Twelve folders of one picture each: the index takes several ticks to build.
        for (int i = 0; i < 12; ++i) {
            test::make_dirs(dir / ("pics/f" + std::to_string(i)));
            EXPECT_TRUE(pictures::write(dir / ("pics/f" + std::to_string(i) + "/p.png"), 40, 30,
                                        pictures::Format::Png));
        }
    }
    std::string configure(const std::string& settings) {
        const std::string file = dir / "Glimmerwall.cfg";
        test::write_file(file, settings + "\npath " + dir / "pics" + "\n");
        return file;
    }
    test::TempDir dir;
    test::StateHome state{dir};
};

TEST_F(LoopPlan, StepsComeAtTheSameTicksWithTheSleepingLoop) {
    struct Case {
        const char* settings;
        std::map<std::int64_t, Command> commands;
    };
    const std::vector<Case> cases = {
        {"delai 300", {}},
        // A forced step re-arms the delay; a pause stops the timer's steps, a forced step
        // while paused still shows, and resuming steps at once.
        {"delai 300",
         {{1010, Command::Right},
          {2030, Command::Space},
          {2500, Command::Right},
          {3370, Command::Space},
          {3371, Command::Right}}},
        {"delai 0", {{150, Command::Right}}},
        {"delai -5", {}},
        {"delai 1234567", {{700, Command::Right}}},
    };
    for (const Case& c : cases) {
        const std::string config = configure(c.settings);
        const LoopRun ticking = simulate(config, c.commands, 6000, false);
        const LoopRun sleeping = simulate(config, c.commands, 6000, true);
        EXPECT_EQ(ticking.steps, sleeping.steps) << c.settings;
        EXPECT_GE(ticking.steps.size(), 2u) << c.settings;
        const std::string settings = c.settings;
        if (settings == "delai 300" || settings == "delai 1234567") {
            EXPECT_LT(sleeping.timer_calls * 5, ticking.timer_calls) << settings;
        }
    }
    // No folder at all: the index is complete before the first step, which is due at once
    // (the no-image screen) however long the delay.
    const std::string empty = dir / "empty.cfg";
    test::write_file(empty, "delai 2000000000\n");
    const LoopRun sleeping = simulate(empty, {}, 1000, true);
    ASSERT_EQ(1u, sleeping.steps.size());
    EXPECT_EQ("0 ", sleeping.steps[0]);
}

} // namespace
