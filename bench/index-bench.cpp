// The saved index and the configuration at scale: taking up a saved index of 20,000 folders
// and a million files with its round, reading configurations of many folders and exclusions,
// and what a million exclusion patterns cost each picture.
#include "FileManager.h"
#include "IndexStore.h"
#include "Pictures.h"
#include "Randomizator.h"
#include "ScreenSaver.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <benchmark/benchmark.h>

#include <cstdint>
#include <cstdio>
#include <fstream>
#include <string>

namespace {

constexpr int kTops = 200;
constexpr int kSubs = 100;
constexpr int kPerFolder = 50;

// A saved index as a first run over kTops x kSubs folders of kPerFolder files leaves it, its
// round a third of the way through.
std::string saved_index(const test::TempDir& dir, const std::string& library) {
    IndexStore::ConfigurationKey key;
    key.add_folder(library);
    SavedIndex index;
    index.configuration = key.value();
    char name[64];
    for (int t = 0; t < kTops; ++t)
        for (int s = 0; s < kSubs; ++s) {
            std::snprintf(name, sizeof name, "/t%03d/s%03d", t, s);
            SavedFolder folder;
            folder.path = library + name;
            folder.files = kPerFolder;
            index.folders.push_back(folder);
        }
    Randomizator round;
    round.init(kTops * kSubs * kPerFolder);
    for (int i = 0; i < kTops * kSubs * kPerFolder / 3; ++i) {
        round.try_next();
        round.set_result(true);
    }
    index.has_round = round.save_state(index.round);
    const std::string file = dir / "index";
    IndexStore::save(file, index);
    return file;
}

// From nothing to the saved index in use: what a later run spends before its first walk step.
void BM_TakeUpSavedIndex(benchmark::State& state) {
    test::TempDir dir;
    // Two sub-folders, so that the one walk step that follows leaves the walk under way.
    const std::string library = dir / "library";
    test::make_dirs(library + "/t000");
    test::make_dirs(library + "/t001");
    const std::string file = saved_index(dir, library);
    Tracer::instance().all_module_level(0);
    for (auto _ : state) {
        FileManager manager;
        manager.addPath(library);
        manager.useIndexFile(file);
        manager.setIndexBudget(0);
        manager.constructPath();
        if (manager.total() != kTops * kSubs * kPerFolder) {
            state.SkipWithError("the saved index was not taken up");
            return;
        }
    }
    state.counters["files"] = kTops * kSubs * kPerFolder;
}
BENCHMARK(BM_TakeUpSavedIndex)->Unit(benchmark::kMillisecond);

// read_config with `lines` lines of `key`, traced at level 4 as a default configuration is.
void BM_ReadConfiguration(benchmark::State& state, const char* key) {
    test::TempDir dir;
    test::StateHome home(dir);
    const std::string file = dir / "Glimmerwall.cfg";
    {
        std::ofstream out(file);
        for (std::int64_t i = 0; i < state.range(0); ++i)
            out << key << ' ' << dir.path() << "/folder" << i << '\n';
    }
    for (auto _ : state) {
        ScreenSaver saver;
        benchmark::DoNotOptimize(saver.read_config(file.c_str()));
    }
    state.counters["lines"] = static_cast<double>(state.range(0));
}
BENCHMARK_CAPTURE(BM_ReadConfiguration, path, "path")
    ->Arg(10000)
    ->Arg(40000)
    ->Arg(100000)
    ->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ReadConfiguration, sauf, "sauf")
    ->Arg(100000)
    ->Arg(1000000)
    ->Unit(benchmark::kMillisecond);

// One picture on a million patterns that it does not contain: each step tests them all.
void BM_ExclusionsPerPicture(benchmark::State& state) {
    test::TempDir dir;
    test::make_dirs(dir / "pics");
    if (!pictures::write(dir / "pics/a.png", 8, 6, pictures::Format::Png)) {
        state.SkipWithError("no picture");
        return;
    }
    Tracer::instance().all_module_level(0);
    FileManager manager;
    manager.setCacheSize(4);
    manager.addPath(dir / "pics");
    for (std::int64_t i = 0; i < state.range(0); ++i)
        manager.addExcludePattern("/nowhere" + std::to_string(i) + "/");
    for (int i = 0; i < 10; ++i) manager.constructPath();
    std::string path;
    if (!manager.nextImage(160, 120, path)) {
        state.SkipWithError("no picture shown");
        return;
    }
    for (auto _ : state) benchmark::DoNotOptimize(manager.nextImage(160, 120, path));
    state.counters["patterns"] = static_cast<double>(state.range(0));
}
BENCHMARK(BM_ExclusionsPerPicture)->Arg(1000)->Arg(1000000)->Unit(benchmark::kMillisecond);

} // namespace
