// The file index and the file manager at scale: index steps on a tree of a million files,
// the first picture of a show, naming the last file of a large folder, and the resident size
// over a long show. Times in the counters are per call unless their name says otherwise.
#include "BitMap.h"
#include "FileManager.h"
#include "Pictures.h"
#include "Platform.h"
#include "ScreenSaver.h"
#include "TestSupport.h"

#include <benchmark/benchmark.h>

#include <fcntl.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <random>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;

double seconds_since(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

constexpr int kFolders = 10000;
constexpr int kFilesPerFolder = 100;
constexpr int kWideFiles = 10000;
constexpr int kEmptyFiles = 50000;
// ext4 refuses more than 65000 links to one inode: each seed picture serves this many folders.
constexpr int kFoldersPerSeed = 500;
constexpr std::int32_t kScreenWidth = 1920;
constexpr std::int32_t kScreenHeight = 1080;

char name_buffer[64];

const char* numbered(const char* format, int n) {
    std::snprintf(name_buffer, sizeof name_buffer, format, n);
    return name_buffer;
}

bool make_folder(const std::string& path) { return mkdir(path.c_str(), 0755) == 0; }

bool hard_link(const std::string& target, const std::string& path) {
    return link(target.c_str(), path.c_str()) == 0;
}

// Everything on disk that the benchmarks share, made once per process on first use and
// removed at exit. Every file is a hard link of a 1 x 1 PNG: a million names, a few inodes.
class Scratch {
public:
    static Scratch& get() {
        static Scratch scratch;
        return scratch;
    }
    bool ok() const { return ok_; }
    // tree/dNNNN/pNN.png: kFolders folders of kFilesPerFolder files, nothing else.
    const std::string& tree() {
        if (!tree_built_) build_tree();
        return tree_;
    }
    // wide/wNNNNN.png: one folder of kWideFiles files.
    const std::string& wide() {
        if (!wide_built_) build_wide();
        return wide_;
    }
    // empties/eNNNNN.jpg: kEmptyFiles empty files, and picture.jpg, in one folder.
    const std::string& empties() {
        if (!empties_built_) build_empties();
        return empties_;
    }
    // A configuration that shows `folder` with no delay and trace level 0; the trace goes
    // to a folder of its own.
    std::string config_for(const std::string& folder) {
        const std::string path = dir_ / "show.cfg";
        test::write_file(path, "path " + folder + "\ndelai 0\ntrace 0\n");
        return path;
    }
    std::string path(const std::string& relative) const { return dir_ / relative; }

private:
    Scratch() {
        const std::string state = dir_ / "state";
        test::make_dirs(state);
        setenv("XDG_STATE_HOME", state.c_str(), 1);
        test::make_dirs(dir_ / "seeds");
    }

    std::string seed(int n) {
        const std::string path = dir_ / (std::string("seeds/") + numbered("s%03d.png", n));
        if (!test::exists(path) && !pictures::write(path, 1, 1, pictures::Format::Png)) ok_ = false;
        return path;
    }

    void build_tree() {
        tree_built_ = true;
        const auto start = Clock::now();
        tree_ = dir_ / "tree";
        ok_ = ok_ && make_folder(tree_);
        std::string seed_path;
        for (int f = 0; f < kFolders && ok_; ++f) {
            if (f % kFoldersPerSeed == 0) seed_path = seed(f / kFoldersPerSeed);
            const std::string folder = tree_ + "/" + numbered("d%04d", f);
            ok_ = make_folder(folder);
            for (int i = 0; i < kFilesPerFolder && ok_; ++i)
                ok_ = hard_link(seed_path, folder + "/" + numbered("p%02d.png", i));
        }
        std::fprintf(stderr, "tree of %d files made in %.1f s%s\n", kFolders * kFilesPerFolder,
                     seconds_since(start), ok_ ? "" : " (FAILED)");
    }

    void build_wide() {
        wide_built_ = true;
        wide_ = dir_ / "wide";
        ok_ = ok_ && make_folder(wide_);
        const std::string seed_path = seed(999);
        for (int i = 0; i < kWideFiles && ok_; ++i)
            ok_ = hard_link(seed_path, wide_ + "/" + numbered("w%05d.png", i));
    }

    void build_empties() {
        empties_built_ = true;
        empties_ = dir_ / "empties";
        ok_ = ok_ && make_folder(empties_);
        for (int i = 0; i < kEmptyFiles && ok_; ++i) {
            const int fd = open((empties_ + "/" + numbered("e%05d.jpg", i)).c_str(),
                                O_WRONLY | O_CREAT | O_EXCL, 0644);
            ok_ = fd >= 0 && close(fd) == 0;
        }
        ok_ = ok_ && pictures::write(empties_ + "/picture.jpg", 64, 48);
    }

    test::TempDir dir_;
    std::string empties_;
    bool empties_built_ = false;
    std::string tree_;
    std::string wide_;
    bool tree_built_ = false;
    bool wide_built_ = false;
    bool ok_ = true;
};

// Resident and peak resident size of this process, in MiB.
double status_mib(const char* key) {
    std::ifstream in("/proc/self/status");
    std::string line;
    const std::string prefix = std::string(key) + ":";
    while (std::getline(in, line))
        if (line.compare(0, prefix.size(), prefix) == 0)
            return std::strtod(line.c_str() + prefix.size(), nullptr) / 1024.0;
    return -1.0;
}

// A display that draws nothing but reads one byte of every page of each picture, as a real
// one would bring the pixels in, and refuses every deletion.
class RecordingDisplay final : public ScreenSaver::SystemWrapper {
public:
    void draw_bitmap(const BitMap* image, const std::string& caption) override {
        last_caption = caption;
        if (!image) {
            ++empty_draws;
            return;
        }
        ++draws;
        const std::uint8_t* bits = image->bits();
        const std::size_t size =
            static_cast<std::size_t>(image->pitch()) * static_cast<std::size_t>(image->height());
        unsigned sum = 0;
        for (std::size_t i = 0; i < size; i += 4096) sum += bits[i];
        if (size > 0) sum += bits[size - 1];
        benchmark::DoNotOptimize(sum);
    }
    bool delete_file(const char*) override { return false; }

    int draws = 0;
    int empty_draws = 0;
    std::string last_caption;
};

// --- 1. Index steps once the total is large --------------------------------------------

// One iteration builds the whole index with a fresh manager; the reported time is the mean
// of the last 100 calls, each of which re-initialises the permutation over ~1,000,000 files.
void BM_ConstructPathLate(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string& tree = scratch.tree();
    if (!scratch.ok()) {
        state.SkipWithError("tree not made");
        return;
    }
    constexpr int kLate = 100;
    for (auto _ : state) {
        FileManager manager;
        manager.addPath(tree);
        std::vector<double> times;
        times.reserve(kFolders);
        const auto whole = Clock::now();
        for (int i = 0; i < kFolders; ++i) {
            const auto start = Clock::now();
            manager.constructPath();
            times.push_back(seconds_since(start));
        }
        const double whole_s = seconds_since(whole);
        if (manager.total() != kFolders * kFilesPerFolder) {
            state.SkipWithError("index incomplete");
            return;
        }
        double late_sum = 0.0;
        double late_max = 0.0;
        for (int i = kFolders - kLate; i < kFolders; ++i) {
            late_sum += times[static_cast<std::size_t>(i)];
            late_max = std::max(late_max, times[static_cast<std::size_t>(i)]);
        }
        std::vector<double> sorted(times.end() - kLate, times.end());
        std::sort(sorted.begin(), sorted.end());
        state.SetIterationTime(late_sum / kLate);
        state.counters["late_mean_ms"] = 1e3 * late_sum / kLate;
        state.counters["late_median_ms"] = 1e3 * sorted[kLate / 2];
        state.counters["late_max_ms"] = 1e3 * late_max;
        state.counters["first_call_ms"] = 1e3 * times.front();
        state.counters["whole_index_s"] = whole_s;
        state.counters["total"] = manager.total();
    }
}
BENCHMARK(BM_ConstructPathLate)
    ->UseManualTime()
    ->Iterations(1)
    ->Repetitions(3)
    ->Unit(benchmark::kMillisecond);

// --- 2. The first picture ---------------------------------------------------------------

// The controller's first step without the decode: five index steps on a fresh manager, then
// naming a file drawn at random among those indexed.
void BM_FirstPictureIndexAndName(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string& tree = scratch.tree();
    if (!scratch.ok()) {
        state.SkipWithError("tree not made");
        return;
    }
    std::mt19937 random(12345);
    double steps_s = 0.0;
    double name_s = 0.0;
    std::int32_t total = 0;
    for (auto _ : state) {
        FileManager manager;
        manager.addPath(tree);
        const auto start = Clock::now();
        for (int i = 0; i < 5; ++i) manager.constructPath();
        const auto named = Clock::now();
        total = manager.total();
        const std::int32_t k = std::uniform_int_distribution<std::int32_t>(0, total - 1)(random);
        const std::string path = manager.pathFromIndex(k);
        const auto end = Clock::now();
        if (path.empty()) {
            state.SkipWithError("no path");
            return;
        }
        steps_s += std::chrono::duration<double>(named - start).count();
        name_s += std::chrono::duration<double>(end - named).count();
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    const double n = static_cast<double>(state.iterations());
    state.counters["five_steps_ms"] = 1e3 * steps_s / n;
    state.counters["name_ms"] = 1e3 * name_s / n;
    state.counters["total"] = total;
}
BENCHMARK(BM_FirstPictureIndexAndName)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// The same with the file manager's own choice and the decode of a 1 x 1 PNG fitted to the
// screen (an upscale to 1080 x 1080, timed alone by BM_TinyPictureLoad).
void BM_FirstPictureNextImage(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string& tree = scratch.tree();
    if (!scratch.ok()) {
        state.SkipWithError("tree not made");
        return;
    }
    for (auto _ : state) {
        FileManager manager;
        manager.setCacheSize(32);
        manager.addPath(tree);
        const auto start = Clock::now();
        for (int i = 0; i < 5; ++i) manager.constructPath();
        std::string path;
        BitMap* bitmap = manager.nextImage(kScreenWidth, kScreenHeight, path);
        state.SetIterationTime(seconds_since(start));
        if (!bitmap) {
            state.SkipWithError("no picture");
            return;
        }
    }
}
BENCHMARK(BM_FirstPictureNextImage)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// `saver` reads `config` and draws on `display`, a screen of the benchmarks' size; false
// (the benchmark told why) when the configuration cannot be read.
bool start_show(benchmark::State& state, const std::string& config, RecordingDisplay& display,
                ScreenSaver& saver) {
    if (!saver.read_config(config.c_str())) {
        state.SkipWithError("configuration not read");
        return false;
    }
    saver.set_window_manager(&display, kScreenWidth, kScreenHeight);
    return true;
}

// The whole first step of the controller, configuration read beforehand: from next to the
// picture handed to the display.
void BM_FirstPictureScreenSaver(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string config = scratch.config_for(scratch.tree());
    if (!scratch.ok()) {
        state.SkipWithError("tree not made");
        return;
    }
    for (auto _ : state) {
        RecordingDisplay display;
        ScreenSaver saver;
        if (!start_show(state, config, display, saver)) return;
        const auto start = Clock::now();
        saver.next(false);
        state.SetIterationTime(seconds_since(start));
        if (display.draws != 1) {
            state.SkipWithError("no picture drawn");
            return;
        }
    }
}
BENCHMARK(BM_FirstPictureScreenSaver)
    ->UseManualTime()
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// The decode part of the two above: one 1 x 1 PNG fitted to the screen.
void BM_TinyPictureLoad(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string path = scratch.tree() + "/d0000/p00.png";
    for (auto _ : state) {
        BitMap bitmap;
        bitmap.set_window_size(kScreenWidth, kScreenHeight);
        if (!bitmap.load(path)) {
            state.SkipWithError("load failed");
            return;
        }
        benchmark::DoNotOptimize(bitmap.bits());
    }
}
BENCHMARK(BM_TinyPictureLoad)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMillisecond);

// --- 3. Naming the last file of a large folder ------------------------------------------

void BM_PathFromIndexWideFolder(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string& wide = scratch.wide();
    FileManager manager;
    manager.addPath(wide);
    manager.constructPath();
    if (!scratch.ok() || manager.total() != kWideFiles) {
        state.SkipWithError("folder not made");
        return;
    }
    const auto index = static_cast<std::int32_t>(state.range(0));
    for (auto _ : state) {
        const std::string path = manager.pathFromIndex(index);
        if (path.empty()) {
            state.SkipWithError("no path");
            return;
        }
        benchmark::DoNotOptimize(path.data());
    }
}
BENCHMARK(BM_PathFromIndexWideFolder)
    ->Arg(kWideFiles - 1)
    ->Arg(0)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// The floor under the one above: the bare listing of the same folder.
class Counter final : public platform::EntryVisitor {
public:
    bool visit(std::uint32_t, const char*, const platform::FolderId*) override {
        ++entries;
        return true;
    }
    int entries = 0;
};

void BM_ListWideFolder(benchmark::State& state) {
    const std::string pattern = Scratch::get().wide() + "/*.*";
    for (auto _ : state) {
        Counter counter;
        platform::list_folder(pattern, counter);
        benchmark::DoNotOptimize(counter.entries);
    }
}
BENCHMARK(BM_ListWideFolder)
    ->Repetitions(5)
    ->ReportAggregatesOnly(true)
    ->Unit(benchmark::kMicrosecond);

// --- 3b. A folder of many files that are not pictures -----------------------------------

// 50,000 empty .jpg files and one picture in one folder, the whole controller with its
// defaults: the first steps each try up to 1000 candidates there before the picture or the
// failure limit. One iteration is a fresh show of 20 forced steps; the reported time is the
// slowest step.
void BM_StepAmongEmptyFiles(benchmark::State& state) {
    Scratch& scratch = Scratch::get();
    const std::string config = scratch.config_for(scratch.empties());
    if (!scratch.ok()) {
        state.SkipWithError("folder not made");
        return;
    }
    constexpr int kSteps = 20;
    std::vector<double> all;
    int pictures_shown = 0;
    for (auto _ : state) {
        RecordingDisplay display;
        ScreenSaver saver;
        if (!start_show(state, config, display, saver)) return;
        double slowest = 0.0;
        for (int i = 0; i < kSteps; ++i) {
            const auto start = Clock::now();
            saver.next(true);
            const double took = seconds_since(start);
            all.push_back(took);
            slowest = std::max(slowest, took);
        }
        pictures_shown += display.draws;
        state.SetIterationTime(slowest);
    }
    std::sort(all.begin(), all.end());
    state.counters["step_median_ms"] = 1e3 * all[all.size() / 2];
    state.counters["step_max_ms"] = 1e3 * all.back();
    state.counters["pictures_per_show"] =
        static_cast<double>(pictures_shown) / static_cast<double>(state.iterations());
}
BENCHMARK(BM_StepAmongEmptyFiles)->UseManualTime()->Iterations(3)->Unit(benchmark::kMillisecond);

// --- 4. Resident size over a long show --------------------------------------------------

// 10,000 steps over 200 pictures of 800 x 600 with the default cache of 32 fitted pictures
// (1440 x 1080 each), which its default byte budget of 128 MiB cuts to 28: the resident
// size once the cache is full, later, and at the end.
void BM_ShowMemory(benchmark::State& state) {
    constexpr int kPictures = 200;
    constexpr int kSteps = 10000;
    Scratch& scratch = Scratch::get();
    const std::string folder = scratch.path("show");
    if (!test::exists(folder)) {
        test::make_dirs(folder);
        for (int i = 0; i < kPictures; ++i) {
            const auto shade = static_cast<std::uint8_t>(i);
            if (!pictures::write(folder + "/" + numbered("photo%03d.jpg", i), 800, 600,
                                 pictures::Format::Jpeg, shade, static_cast<std::uint8_t>(255 - i),
                                 static_cast<std::uint8_t>(i * 7))) {
                state.SkipWithError("pictures not written");
                return;
            }
        }
    }
    const std::string config = scratch.config_for(folder);
    for (auto _ : state) {
        const double rss_before = status_mib("VmRSS");
        RecordingDisplay display;
        ScreenSaver saver;
        if (!start_show(state, config, display, saver)) return;
        double rss_full = 0.0;
        double rss_low = 1e30;
        double rss_high = 0.0;
        const auto start = Clock::now();
        for (int step = 1; step <= kSteps; ++step) {
            saver.next(false);
            if (step < 200) continue;
            const double rss = status_mib("VmRSS");
            if (step == 200) rss_full = rss;
            rss_low = std::min(rss_low, rss);
            rss_high = std::max(rss_high, rss);
        }
        const double elapsed = seconds_since(start);
        const double rss_end = status_mib("VmRSS");
        if (display.draws != kSteps) {
            state.SkipWithError("a step drew no picture");
            return;
        }
        state.counters["rss_before_MiB"] = rss_before;
        state.counters["rss_step200_MiB"] = rss_full;
        state.counters["rss_end_MiB"] = rss_end;
        state.counters["rss_min_MiB"] = rss_low;
        state.counters["rss_max_MiB"] = rss_high;
        state.counters["hwm_MiB"] = status_mib("VmHWM");
        state.counters["step_ms"] = 1e3 * elapsed / kSteps;
    }
}
BENCHMARK(BM_ShowMemory)->Iterations(1)->Unit(benchmark::kSecond);

} // namespace
