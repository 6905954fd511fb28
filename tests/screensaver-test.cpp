#include "BitMap.h"
#include "Bytes.h"
#include "Decoder.h"
#include "Display.h"
#include "Pictures.h"
#include "ScreenSaver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <functional>
#include <map>
#include <memory>
#include <set>
#include <unistd.h>
#include <vector>

namespace {

using test::TempDir;

class ScreenSaverTest : public testing::Test {
protected:
    ScreenSaverTest() { test::make_dirs(dir / "pics"); }

    std::string picture(const std::string& relative) {
        const std::string path = dir / ("pics/" + relative);
        test::make_dirs(path.substr(0, path.rfind('/')));
        EXPECT_TRUE(pictures::write(path, 40, 30, pictures::Format::Png));
        return path;
    }
    bool configure(const std::string& text) {
        const std::string file = dir / "Glimmerwall.cfg";
        test::write_file(file, text);
        return saver.read_config(file.c_str());
    }
    void connect() { saver.set_window_manager(&display, 320, 240); }
    // `count` pictures <prefix>0.png... in the folder, and the controller connected to show them.
    void show_pictures(int count, const std::string& prefix) {
        for (int i = 0; i < count; ++i) picture(prefix + std::to_string(i) + ".png");
        ASSERT_TRUE(configure("path " + (dir / "pics") + "\n"));
        connect();
    }
    // A timer tick with the clock at `ms` after the first one.
    void tick_at(std::int64_t ms) {
        clock.set(kStart + ms / 1000, static_cast<std::int32_t>(ms % 1000));
        saver.next(false);
    }
    void forced_at(std::int64_t ms) {
        clock.set(kStart + ms / 1000, static_cast<std::int32_t>(ms % 1000));
        saver.next(true);
    }
    // Ticks every 20 ms over (from, to]; returns how many drew.
    std::size_t ticks(std::int64_t from, std::int64_t to) {
        const std::size_t before = display.draws.size();
        for (std::int64_t t = from + 20; t <= to; t += 20) tick_at(t);
        return display.draws.size() - before;
    }

    static constexpr std::int64_t kStart = 1800000000;
    TempDir dir;
    test::StateHome state{dir};
    test::FakeClock clock{kStart, 0};
    test::RecordingDisplay display;
    ScreenSaver saver;
};

TEST_F(ScreenSaverTest, ReadsEveryKeyInItsOrder) {
    ASSERT_TRUE(configure("trace 4\nsmall false\ndelai 3000ms\ncache 64x\ncachemb 48\n"
                          "dossier D1\ndossier D2\npath P1\n"
                          "sauf s1\nexclude e1\nsauf s2\n"));
    EXPECT_TRUE(saver.is_small());
    const std::string text = state.trace();
    EXPECT_NE(std::string::npos, text.find("read config from <" + (dir / "Glimmerwall.cfg") + ">"));
    EXPECT_NE(std::string::npos, text.find("init( 32 )"));
    EXPECT_NE(std::string::npos, text.find("set_budget( 48 MiB )"));
    const auto at = [&](const std::string& s) { return text.find(s); };
    EXPECT_LT(at("addPath : add <P1>"), at("addPath : add <D1>"));
    EXPECT_LT(at("addPath : add <D1>"), at("addPath : add <D2>"));
    EXPECT_LT(at("addExcludePattern : add <s1>"), at("addExcludePattern : add <s2>"));
    EXPECT_LT(at("addExcludePattern : add <s2>"), at("addExcludePattern : add <e1>"));

    connect();
    tick_at(0);
    EXPECT_EQ(0u, ticks(0, 2980));
    EXPECT_EQ(1u, ticks(2980, 3000)); // "3000ms" keeps its leading number
}

TEST_F(ScreenSaverTest, DefaultsWhenKeysAreMissingOrBad) {
    ASSERT_TRUE(configure("delai abc\n"));
    EXPECT_FALSE(saver.is_small());
    EXPECT_TRUE(state.traced("init( 32 )"));
    connect();
    tick_at(0);
    EXPECT_EQ(0u, ticks(0, 4980));
    EXPECT_EQ(1u, ticks(4980, 5000));
}

TEST_F(ScreenSaverTest, TraceLevelFromTheFileAndMissingFile) {
    EXPECT_FALSE(saver.read_config((dir / "none.cfg").c_str()));
    EXPECT_TRUE(state.traced("ReadConfigFile( " + (dir / "none.cfg") + " ) open failed"));
    ASSERT_TRUE(configure("trace 2\npath x\n"));
    EXPECT_FALSE(state.traced("open failed")); // naming the trace file again empties it
    EXPECT_FALSE(state.traced("addPath"));
    EXPECT_FALSE(state.traced("read config from"));
}

TEST_F(ScreenSaverTest, ZeroOrNegativeDelayStepsAtEveryTick) {
    picture("a.png");
    for (const char* delay : {"0", "-50"}) {
        ASSERT_TRUE(configure(std::string("delai ") + delay + "\npath " + (dir / "pics") + "\n"));
        connect();
        const std::size_t before = display.draws.size();
        for (int t = 0; t < 10; ++t) saver.next(false);
        EXPECT_EQ(10u, display.draws.size() - before) << delay;
    }
}

TEST_F(ScreenSaverTest, WorkedExampleOfTimingPauseAndForcedSteps) {
    // Seven folders of one picture: a tree this small is indexed within the first step.
    for (int i = 0; i < 7; ++i) picture("d" + std::to_string(i) + "/p.png");
    ASSERT_TRUE(configure("path " + (dir / "pics") + "\n"));
    connect();

    tick_at(0);
    ASSERT_EQ(1u, display.draws.size());
    EXPECT_TRUE(state.traced("next( not forced ) [0:0ms]"));
    EXPECT_TRUE(state.traced("constructPath : 7 files in 7 paths"));
    EXPECT_TRUE(state.traced("--------------------------------------------"));
    EXPECT_EQ(0u, ticks(0, 4980));
    EXPECT_EQ(1u, ticks(4980, 5000));

    forced_at(7000);
    EXPECT_TRUE(state.traced("next( forced ) [2:7000ms]"));
    EXPECT_EQ(0u, ticks(7000, 11980));
    EXPECT_EQ(1u, ticks(11980, 12000));
    const test::RecordingDisplay::Draw shown = display.draws.back();

    saver.toggle_pause();
    forced_at(13000);
    EXPECT_EQ(shown.caption + "   pause", display.draws.back().caption);
    EXPECT_TRUE(state.traced("toggle_pause : now paused"));
    EXPECT_EQ(0u, ticks(13000, 40000));

    forced_at(41000); // Right while paused: a new picture, still paused
    EXPECT_NE(shown.caption + "   pause", display.draws.back().caption);
    EXPECT_NE(std::string::npos, display.draws.back().caption.find("   pause"));
    EXPECT_EQ(0u, ticks(41000, 50000));

    saver.toggle_pause();
    forced_at(51000);
    EXPECT_TRUE(state.traced("toggle_pause : now not paused"));
    EXPECT_EQ(std::string::npos, display.draws.back().caption.find("pause"));
    EXPECT_EQ(0u, ticks(51000, 55980));
    EXPECT_EQ(1u, ticks(55980, 56000));
}

TEST_F(ScreenSaverTest, RedrawRepeatsTheLastDrawingWithoutAStep) {
    picture("a.png");
    picture("b.png");
    ASSERT_TRUE(configure("cache 1\npath " + (dir / "pics") + "\n"));
    connect();
    saver.redraw(); // nothing drawn yet: nothing to draw again
    EXPECT_TRUE(display.draws.empty());

    tick_at(0);
    saver.toggle_pause();
    forced_at(1000);
    ASSERT_EQ(2u, display.draws.size());
    const test::RecordingDisplay::Draw shown = display.draws.back();
    saver.redraw(); // the bitmap is read again: still alive with a one-picture cache (ASan)
    ASSERT_EQ(3u, display.draws.size());
    EXPECT_TRUE(display.draws.back().image);
    EXPECT_EQ(shown.width, display.draws.back().width);
    EXPECT_EQ(shown.caption, display.draws.back().caption);
    EXPECT_NE(std::string::npos, shown.caption.find("   pause"));

    saver.toggle_pause();
    EXPECT_EQ(0u, ticks(1000, 5980)); // a redraw is not a step: the delay still runs from 1000
    EXPECT_EQ(1u, ticks(5980, 6000));
    EXPECT_TRUE(state.traced("next( not forced ) [2:6000ms]"));
}

TEST_F(ScreenSaverTest, PrevShowsThePictureBefore) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(5, "p"));
    saver.next(true);
    saver.next(true);
    const std::string first = display.draws[0].caption;
    saver.prev();
    saver.next(true);
    EXPECT_EQ(first, display.draws.back().caption);
    EXPECT_TRUE(state.traced("prev"));
}

TEST_F(ScreenSaverTest, NoPictureDrawsTheEmptyScreenAndCounts) {
    ASSERT_TRUE(configure("path " + (dir / "nothing") + "\n"));
    connect();
    saver.erase(); // nothing on screen: nothing is marked
    for (int i = 0; i < 6; ++i) saver.next(true);
    ASSERT_EQ(6u, display.draws.size());
    EXPECT_FALSE(display.draws[0].image);
    EXPECT_EQ("", display.draws[0].caption);
    EXPECT_TRUE(state.traced("next( forced ) [5:0ms]"));
    saver.suppress_all();
    EXPECT_TRUE(display.deletes.empty());
    EXPECT_TRUE(state.traced("erase : no picture on screen"));
}

TEST_F(ScreenSaverTest, MarkedFileIsDeletedAtTheFifthStepOrAtTheEnd) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(8, "p"));
    saver.next(true);
    const std::string marked = display.draws.back().caption;
    saver.erase();
    EXPECT_TRUE(state.traced("erase <" + marked + ">"));
    for (int i = 0; i < 4; ++i) saver.next(true);
    EXPECT_TRUE(test::exists(marked));
    saver.next(true);
    EXPECT_FALSE(test::exists(marked));
    EXPECT_EQ(std::vector<std::string>{marked}, display.deletes);

    const std::string last = display.draws.back().caption;
    saver.erase();
    saver.suppress_all();
    EXPECT_FALSE(test::exists(last));
    EXPECT_TRUE(state.traced("done"));
}

// The index lives in the user's cache folder: saved when the show ends, taken up by the next
// show of the same folders, which goes on with the pictures not shown yet.
TEST_F(ScreenSaverTest, TheNextShowTakesUpTheIndexFromTheCacheFolder) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(6, "p"));
    const std::string index = dir / "cache/glimmerwall/index";
    saver.next(true);
    saver.next(true);
    std::set<std::string> shown = {display.draws[0].caption, display.draws[1].caption};
    saver.suppress_all();
    EXPECT_TRUE(test::exists(index));

    ScreenSaver later;
    ASSERT_TRUE(later.read_config((dir / "Glimmerwall.cfg").c_str()));
    test::RecordingDisplay other;
    later.set_window_manager(&other, 320, 240);
    for (int i = 0; i < 4; ++i) later.next(true);
    EXPECT_TRUE(state.traced("loadIndex : 1 folders, 6 files from <" + index + ">"));
    for (const auto& draw : other.draws) EXPECT_TRUE(shown.insert(draw.caption).second);
    EXPECT_EQ(6u, shown.size());
}

TEST_F(ScreenSaverTest, ErasedFileIsTheOneOnScreenAfterItsFolderChanged) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(6, "f"));
    saver.next(true);
    const std::string shown = display.draws.back().caption;
    // Another program removes every other file of the folder behind the show's back.
    for (int i = 0; i < 6; ++i) {
        const std::string other = dir / ("pics/f" + std::to_string(i) + ".png");
        if (other != shown) unlink(other.c_str());
    }
    saver.erase();
    saver.suppress_all();
    EXPECT_EQ(std::vector<std::string>{shown}, display.deletes);
}

TEST_F(ScreenSaverTest, NestedStepDuringADeletionIsRefused) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(8, "p"));
    display.during_delete = [this] { saver.next(true); };
    saver.next(true);
    saver.erase();
    for (int i = 0; i < 5; ++i) saver.next(true);
    EXPECT_TRUE(state.traced("next already running"));
    EXPECT_EQ(6u, display.draws.size());
}

// A decoder beside the show whose answers the test hands out: each picture is decoded here at
// once, and kept back until released.
class HeldDecoder final : public Decoder {
public:
    Ticket request(const std::string& path, std::int32_t width, std::int32_t height) override {
        auto picture = std::make_unique<BitMap>();
        picture->set_window_size(width, height);
        if (!picture->load(path)) picture.reset();
        held_[++last_] = std::move(picture);
        return last_;
    }
    bool collect(Ticket ticket, std::unique_ptr<BitMap>& picture) override {
        if (held_.count(ticket) != 0) return false;
        const auto found = released_.find(ticket);
        picture.reset();
        if (found == released_.end()) return true;
        picture = std::move(found->second);
        released_.erase(found);
        return true;
    }
    void drop(Ticket ticket) override {
        held_.erase(ticket);
        released_.erase(ticket);
    }
    bool decodes_ahead() const override { return true; }
    // Every decode asked for so far is finished; how many there were.
    std::size_t release() {
        const std::size_t n = held_.size();
        for (auto& entry : held_) released_[entry.first] = std::move(entry.second);
        held_.clear();
        return n;
    }

private:
    Ticket last_ = 0;
    std::map<Ticket, std::unique_ptr<BitMap>> held_;
    std::map<Ticket, std::unique_ptr<BitMap>> released_;
};

// While the next picture is decoded, the one on screen stays the one that keys act on: Delete
// marks it, Right waits for the picture under way and skips none, Left goes back at once.
TEST_F(ScreenSaverTest, KeysActOnThePictureOnScreenWhileTheNextIsDecoded) {
    ASSERT_NO_FATAL_FAILURE(show_pictures(4, "p"));
    HeldDecoder decoder;
    saver.set_decoder(&decoder);
    tick_at(0);
    EXPECT_TRUE(display.draws.empty());
    EXPECT_TRUE(saver.waiting());
    ASSERT_EQ(1u, decoder.release());
    saver.on_decoded();
    ASSERT_EQ(1u, display.draws.size());
    const std::string first = display.captions.back();

    // The next picture was asked for ahead; the user marks the first meanwhile, and presses
    // Right twice: one step waits for the second picture, the other follows it.
    saver.erase();
    EXPECT_TRUE(state.traced("erase <" + first + ">"));
    forced_at(100);
    forced_at(120);
    saver.on_decoded();
    EXPECT_EQ(1u, display.draws.size());
    ASSERT_EQ(1u, decoder.release());
    saver.on_decoded();
    ASSERT_EQ(2u, display.draws.size());
    const std::string second = display.captions.back();
    EXPECT_NE(first, second);

    // The third is under way: Left gives it up for the history's picture, from the cache.
    EXPECT_TRUE(saver.waiting());
    saver.prev();
    saver.next(true);
    ASSERT_EQ(3u, display.draws.size());
    EXPECT_EQ(first, display.captions.back());
    // The third is still decoded ahead and comes once the history is back at its end.
    saver.next(true);
    EXPECT_EQ(second, display.captions.back());
    decoder.release();
    saver.next(true);
    ASSERT_EQ(5u, display.draws.size());
    EXPECT_NE(first, display.captions.back());
    EXPECT_NE(second, display.captions.back());

    saver.suppress_all();
    EXPECT_EQ(std::vector<std::string>{first}, display.deletes);
    saver.set_decoder(nullptr);
}

// The caption as the settings ask for it: the path, the date the photo was taken (its EXIF
// date, else its file's last write), both, or nothing; an unknown value keeps the path.
TEST_F(ScreenSaverTest, CaptionShowsThePathTheDateBothOrNothing) {
    test::make_dirs(dir / "exif");
    test::make_dirs(dir / "plain");
    const std::string photo = dir / "exif/photo.jpg";
    ASSERT_TRUE(pictures::write(photo, 40, 30, pictures::Format::Jpeg));
    std::string jpeg = test::read_file(photo);
    jpeg.insert(2, bytes::exif_date_segment("2019:07:14 16:05:00"));
    test::write_file(photo, jpeg);
    const std::string plain = dir / "plain/plain.png";
    ASSERT_TRUE(pictures::write(plain, 40, 30, pictures::Format::Png));
    test::set_modified(plain, 1500000000);
    std::tm taken = {};
    taken.tm_year = 119;
    taken.tm_mon = 6;
    taken.tm_mday = 14;
    char exif_date[64];
    ASSERT_GT(std::strftime(exif_date, sizeof exif_date, "%x", &taken), 0u);
    const std::tm written = platform::local_time(1500000000);
    char file_date[64];
    ASSERT_GT(std::strftime(file_date, sizeof file_date, "%x", &written), 0u);

    const struct {
        const char* setting;
        const std::string& picture;
        std::string caption;
    } cases[] = {
        {"caption date", photo, exif_date},
        {"caption date", plain, file_date},
        {"CAPTION Date+Path", photo, std::string(exif_date) + "   " + photo},
        {"caption none", photo, ""},
        {"caption path", plain, plain},
        {"caption sideways", plain, plain},
    };
    for (const auto& c : cases) {
        const std::string folder = c.picture.substr(0, c.picture.rfind('/'));
        const std::string file = dir / "caption.cfg";
        test::write_file(file, std::string(c.setting) + "\npath " + folder + "\n");
        test::RecordingDisplay shown;
        ScreenSaver show;
        ASSERT_TRUE(show.read_config(file.c_str()));
        show.set_window_manager(&shown, 320, 240);
        show.next(false);
        ASSERT_EQ(1u, shown.draws.size()) << c.setting;
        EXPECT_TRUE(shown.draws[0].image) << c.setting;
        EXPECT_EQ(c.caption, shown.draws[0].caption) << c.setting;
    }
    EXPECT_EQ(1, state.count("unknown caption <sideways>, path kept"));
}

} // namespace

// With `screens each`, the monitors change in turn, delai / monitors apart, each picture fitted
// to its own monitor; Left, pause and Delete act on the monitor that changed last. Without it,
// or with bad values, one picture over the whole window, and each bad value says so.
TEST_F(ScreenSaverTest, EachMonitorChangesInTurnAndKeysActOnTheLastChanged) {
    for (int i = 0; i < 5; ++i) picture("m" + std::to_string(i) + ".png");
    ASSERT_TRUE(configure("screens EACH\nfade 800\ndelai 1000\npath " + (dir / "pics") + "\n"));
    EXPECT_TRUE(saver.each_screen());
    EXPECT_EQ(800, saver.fade_ms());
    connect();
    saver.set_screens({{0, 0, 320, 240}, {320, 0, 160, 120}});
    tick_at(0);
    EXPECT_EQ(0u, ticks(0, 480));
    EXPECT_EQ(1u, ticks(480, 500));
    EXPECT_EQ(1u, ticks(500, 1000));
    ASSERT_EQ(3u, display.draws.size());
    const struct {
        int area_x, width, height;
    } expected[] = {{0, 320, 240}, {320, 160, 120}, {0, 320, 240}};
    for (std::size_t i = 0; i < 3; ++i) {
        EXPECT_EQ(expected[i].area_x, display.draws[i].area_x) << i;
        EXPECT_EQ(expected[i].width, display.draws[i].width) << i;
        EXPECT_EQ(expected[i].height, display.draws[i].height) << i;
    }
    saver.erase();
    EXPECT_TRUE(state.traced("erase <" + display.draws[2].caption + ">"));
    // Left: the picture before, where the picture on screen was; then on in turn.
    saver.prev();
    forced_at(1100);
    EXPECT_EQ(0, display.draws.back().area_x);
    EXPECT_EQ(display.draws[1].caption, display.draws.back().caption);
    forced_at(1200);
    EXPECT_EQ(320, display.draws.back().area_x);
    saver.toggle_pause();
    forced_at(1300);
    EXPECT_EQ(320, display.draws.back().area_x);
    EXPECT_EQ(display.draws[4].caption + "   pause", display.draws.back().caption);
    // One monitor left: the whole window again, at the next step.
    saver.set_screens({{0, 0, 320, 240}});
    EXPECT_TRUE(state.traced("set_screens ( 1 monitors, one picture )"));

    ScreenSaver other;
    const std::string file = dir / "other.cfg";
    test::write_file(file, "screens both\nfade -5\nfade 90000\n");
    ASSERT_TRUE(other.read_config(file.c_str()));
    EXPECT_FALSE(other.each_screen());
    EXPECT_EQ(0, other.fade_ms());
    EXPECT_TRUE(state.traced("read_config : unknown screens <both>, span kept"));
    EXPECT_TRUE(state.traced("read_config : fade -5 outside 0 to 60000 ms, no fade kept"));
}
