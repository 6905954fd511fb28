// The Linux program over a long run on an X server of the test's own (Xvfb): a step at every
// timer tick, Delete every 50 steps. Its resident size must stay flat once the image cache is
// full, the sanitizer build must end without a leak, and the trash must hold exactly the marked
// pictures. GW_SOAK_STEPS sets the number of steps (400 unless set; 20000 for the long form),
// GW_SOAK_PICTURES the size of the library (300 unless set).
#include "Desktop.h"
#include "Pictures.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <climits>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <thread>
#include <utility>
#include <vector>

namespace {

constexpr int kMarkEvery = 50;
constexpr int kCache = 32;
// Resident size is compared as the mean over a window of steps: under the sanitizers it swings
// by some 10 % from one reading to the next as freed pictures pass through the quarantine.
// The first window starts once the cache is full and the allocators have settled (glibc's
// mmap threshold, the quarantine); the second ends the run.
constexpr int kSettledSteps = 100;
constexpr int kWindow = 100;
constexpr int kSampleEvery = 50;

std::vector<std::string> environment(const std::vector<std::string>& set) {
    return desktop::program_environment(set, GW_LSAN_SUPPRESSIONS);
}

desktop::XServer* g_server = nullptr;

bool tool(const std::vector<std::string>& argv) {
    return desktop::run_tool(*g_server, GW_LSAN_SUPPRESSIONS, argv);
}

// "%2F"-style escapes of a trash information file's Path= undone.
std::string unescape(const std::string& text) {
    std::string result;
    for (std::size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size()) {
            result += static_cast<char>(std::stoi(text.substr(i + 1, 2), nullptr, 16));
            i += 2;
        } else {
            result += text[i];
        }
    }
    return result;
}

// The trace file read as it grows: each call hands over the records completed since the last.
// A record is complete when the next one starts, for each begins with its line break.
class TraceTail {
public:
    explicit TraceTail(std::string path) : path_(std::move(path)) {}
    void read(const std::function<void(const std::string&)>& record) {
        std::ifstream in(path_, std::ios::binary);
        if (!in) return;
        in.seekg(offset_);
        std::string fresh((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        offset_ += fresh.size();
        partial_ += fresh;
        std::size_t begin = 0;
        for (auto end = partial_.find('\n'); end != std::string::npos;
             end = partial_.find('\n', begin)) {
            record(partial_.substr(begin, end - begin));
            begin = end + 1;
        }
        partial_.erase(0, begin);
    }

private:
    std::string path_;
    std::streamoff offset_ = 0;
    std::string partial_;
};

// One long run of the program in a folder of its own.
class LongShow : public desktop::Program {
public:
    LongShow() : Program(tool) {
        test::make_dirs(dir_ / "home");
        test::make_dirs(dir_ / "run");
    }
    ~LongShow() override { end(); }

    void start(const std::string& settings) {
        test::write_file(dir_ / "run/Glimmerwall.cfg", "trace 4\n" + settings + "\n");
        // Beside its configuration: the program reads the one of its own folder.
        const std::string program = dir_ / "run/glimmerwall";
        if (!test::exists(program)) std::filesystem::copy_file(GW_SHELL_PROGRAM, program);
        pid_ = desktop::spawn(
            {"glimmerwall"},
            environment({"HOME=" + dir_ / "home", "XDG_STATE_HOME=" + dir_ / "state",
                         "XDG_DATA_HOME=" + dir_ / "data", "XDG_CONFIG_HOME=" + dir_ / "config",
                         "SDL_VIDEODRIVER=x11", "DISPLAY=" + g_server->display()}),
            dir_ / "output.txt", program, dir_ / "run");
        started(pid_);
    }
    std::string trace_path() const { return dir_ / "state/glimmerwall/Glimmerwall.txt"; }
    std::string trace() const override { return test::read_file(trace_path()); }
    std::string output() const { return test::read_file(dir_ / "output.txt"); }
    std::string path(const std::string& relative) const { return dir_ / relative; }
    // VmRSS of the running program in kB; -1 when it cannot be read.
    long resident_kb() const {
        std::ifstream status("/proc/" + std::to_string(pid_) + "/status");
        std::string line;
        while (std::getline(status, line))
            if (line.rfind("VmRSS:", 0) == 0) return std::atol(line.c_str() + 6);
        return -1;
    }
    // The original path of every file in the trash (from its information file), with its bytes.
    std::map<std::string, std::string> trash() const {
        std::map<std::string, std::string> result;
        const std::string files = dir_ / "data/Trash/files";
        if (!test::exists(files)) return result;
        for (const auto& entry : std::filesystem::directory_iterator(files)) {
            const std::string name = entry.path().filename().string();
            const std::string info =
                test::read_file(dir_ / ("data/Trash/info/" + name + ".trashinfo"));
            const auto at = info.find("\nPath=");
            const std::string original =
                at == std::string::npos
                    ? "(no information for " + name + ")"
                    : unescape(info.substr(at + 6, info.find('\n', at + 6) - at - 6));
            result[original] = test::read_file(entry.path());
        }
        return result;
    }

private:
    test::TempDir dir_;
    pid_t pid_ = -1;
};

class Soak : public ::testing::Test {
protected:
    static void SetUpTestSuite() { g_server = new desktop::XServer(environment({})); }
    static void TearDownTestSuite() {
        delete g_server;
        g_server = nullptr;
    }
    void SetUp() override { ASSERT_FALSE(g_server->display().empty()) << "Xvfb did not start"; }
};

TEST_F(Soak, LongRunKeepsItsSizeLeaksNothingAndTrashesExactlyTheMarkedPictures) {
    const int steps = test::positive_setting("GW_SOAK_STEPS", 400);
    const int count = test::positive_setting("GW_SOAK_PICTURES", 300);
    LongShow show;
    // Small pictures in three folders, each of its own colour, so decoding costs little.
    std::map<std::string, std::string> library;
    for (int i = 0; i < count; ++i) {
        const char folder = static_cast<char>('a' + i % 3);
        const std::string dir = show.path(std::string("pictures/") + folder);
        test::make_dirs(dir);
        const std::string file = dir + "/" + folder + "-" + std::to_string(i) + ".jpg";
        ASSERT_TRUE(pictures::write(
            file, 320, 240, pictures::Format::Jpeg, static_cast<std::uint8_t>(i * 7),
            static_cast<std::uint8_t>(i * 13), static_cast<std::uint8_t>(255 - i)));
        library[file] = test::read_file(file);
    }
    show.start("delai 0\ncache " + std::to_string(kCache) + "\ndossier " + show.path("pictures"));

    TraceTail tail(show.trace_path());
    int draws = 0, empty_draws = 0;
    std::vector<std::string> erased;
    const auto read = [&] {
        tail.read([&](const std::string& record) {
            if (record.find("WindowManager::draw_bitmap : ") != std::string::npos) ++draws;
            if (record.find("WindowManager::draw_bitmap : no image") != std::string::npos)
                ++empty_draws;
            const auto at = record.find("  erase <");
            if (at != std::string::npos && record.back() == '>')
                erased.push_back(record.substr(at + 9, record.size() - at - 10));
        });
    };
    // A generous deadline: the sanitizer build steps a few times slower than the timer.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60) +
                          std::chrono::milliseconds(200) * steps;
    int marks = 0;
    // (step, kB) read at every round.
    std::vector<std::pair<int, long>> samples;
    while (draws < steps) {
        ASSERT_TRUE(show.running()) << show.output();
        ASSERT_LT(std::chrono::steady_clock::now(), deadline) << draws << " steps only";
        read();
        if (draws >= (marks + 1) * kMarkEvery && marks < steps / kMarkEvery) {
            ASSERT_TRUE(show.key("Delete"));
            ++marks;
        }
        const long kb = show.resident_kb();
        if (kb > 0) samples.emplace_back(draws, kb);
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    ASSERT_TRUE(desktop::wait_until([&] {
        read();
        return static_cast<int>(erased.size()) >= marks;
    })) << erased.size()
        << " of " << marks << " marks reached the trace";
    ASSERT_TRUE(show.key("Escape"));
    const int code = show.exit_code(60000);
    const std::string output = show.output();
    EXPECT_EQ(0, code) << output;
    EXPECT_EQ(std::string::npos, output.find("LeakSanitizer")) << output;

    const auto mean_kb = [&](int from, int to) {
        double sum = 0;
        int n = 0;
        for (const auto& [step, kb] : samples)
            if (step >= from && step < to) sum += static_cast<double>(kb), ++n;
        return n ? sum / n : 0.0;
    };
    long cache_full_kb = 0, low_kb = LONG_MAX, high_kb = 0;
    std::string curve;
    int next_sample = 0;
    for (const auto& [step, kb] : samples) {
        if (cache_full_kb == 0 && step >= kCache) cache_full_kb = kb;
        if (step >= kSettledSteps) low_kb = std::min(low_kb, kb), high_kb = std::max(high_kb, kb);
        if (step >= next_sample) {
            curve += " " + std::to_string(step) + ":" + std::to_string(kb / 1024);
            next_sample = step + kSampleEvery;
        }
    }
    const double settled = mean_kb(kSettledSteps, kSettledSteps + kWindow);
    const double last = mean_kb(draws - kWindow, draws + 1);
    std::printf("[ figures  ] %d steps, %d marks; resident size: %ld kB when the cache filled, "
                "%.0f kB over steps %d-%d, %.0f kB over the last %d steps (%+.1f %%); "
                "%ld to %ld kB after step %d\n",
                draws, marks, cache_full_kb, settled, kSettledSteps, kSettledSteps + kWindow - 1,
                last, kWindow, 100.0 * (last - settled) / settled, low_kb, high_kb, kSettledSteps);
    std::printf("[ figures  ] resident MB by step:%s\n", curve.c_str());
    if (draws >= kSettledSteps + 2 * kWindow) {
        EXPECT_LE(std::abs(last - settled), 0.05 * settled)
            << "the resident size did not stay flat";
    }

    // The trash holds every marked picture, unchanged, and nothing else; the rest is in place.
    std::map<std::string, std::string> expected;
    std::size_t marked = 0;
    for (const std::string& path : erased) {
        if (path.empty()) continue; // Delete on the no-image screen marks nothing
        ASSERT_EQ(1u, library.count(path)) << path;
        expected[path] = library[path];
        ++marked;
    }
    EXPECT_EQ(expected.size(), marked) << "a picture was marked twice";
    const std::map<std::string, std::string> trashed = show.trash();
    EXPECT_EQ(expected.size(), trashed.size());
    std::printf("[ figures  ] %zu pictures in the trash, %zu marks on the no-image screen, "
                "%d steps without a picture\n",
                trashed.size(), erased.size() - marked, empty_draws);
    for (const auto& [path, bytes] : trashed) {
        ASSERT_EQ(1u, expected.count(path)) << path << " is in the trash but was not marked";
        EXPECT_TRUE(bytes == expected[path]) << path << " changed on its way to the trash";
        EXPECT_FALSE(test::exists(path)) << path;
    }
    for (const auto& [path, bytes] : library) {
        if (expected.count(path) == 0) {
            EXPECT_TRUE(bytes == test::read_file(path)) << path;
        }
    }
}

} // namespace
