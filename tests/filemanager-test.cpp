#include "BitMap.h"
#include "FileManager.h"
#include "Pictures.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <ctime>
#include <filesystem>
#include <functional>
#include <set>
#include <sys/stat.h>
#include <unistd.h>
#include <utility>
#include <vector>

namespace {

using test::TempDir;
using test::TraceFile;

void touch(const std::string& path) { test::write_file(path, "not a picture"); }

std::set<std::string> paths_of(FileManager& manager, int first, int last) {
    std::set<std::string> result;
    for (int i = first; i <= last; ++i) result.insert(manager.pathFromIndex(i));
    return result;
}

void index_all(FileManager& manager) {
    for (int i = 0; i < 100; ++i) manager.constructPath();
}

TEST(FileIndexTest, BreadthFirstOneFolderWithFilesPerStep) {
    TempDir dir;
    const std::string a = dir / "A", b = dir / "B", s = dir / "A/S";
    test::make_dirs(s);
    test::make_dirs(b);
    touch(a + "/a1");
    touch(a + "/a2");
    touch(s + "/s1");
    touch(s + "/s2");
    touch(s + "/.s3");
    touch(b + "/b1");
    TraceFile trace;
    FileManager manager;
    manager.addPath(a);
    manager.addPath(b);
    EXPECT_TRUE(trace.contains("addPath : add <" + a + ">"));

    manager.constructPath();
    EXPECT_TRUE(trace.contains("constructPath : add <" + a + "> with 2 files (2 remain)"));
    EXPECT_TRUE(trace.contains("constructPath : 2 files in 1 paths"));
    manager.constructPath();
    EXPECT_TRUE(trace.contains("constructPath : add <" + b + "> with 1 files (1 remain)"));
    EXPECT_TRUE(trace.contains("constructPath : 3 files in 2 paths"));
    manager.constructPath();
    EXPECT_TRUE(trace.contains("constructPath : add <" + s + "> with 3 files (0 remain)"));
    EXPECT_TRUE(trace.contains("constructPath : 6 files in 3 paths"));
    const std::string before = trace.text();
    manager.constructPath();
    EXPECT_EQ(before, trace.text());
    EXPECT_EQ(6, manager.total());

    EXPECT_EQ((std::set<std::string>{a + "/a1", a + "/a2"}), paths_of(manager, 0, 1));
    EXPECT_EQ(b + "/b1", manager.pathFromIndex(2));
    EXPECT_EQ((std::set<std::string>{s + "/s1", s + "/s2", s + "/.s3"}), paths_of(manager, 3, 5));
    EXPECT_EQ("", manager.pathFromIndex(6));
    EXPECT_EQ("", manager.pathFromIndex(-1));

    // A file removed behind the index's back shifts the folder's numbering.
    ASSERT_EQ(0, unlink((s + "/s1").c_str()));
    EXPECT_EQ("", manager.pathFromIndex(5));
}

TEST(FileIndexTest, EmptyAndMissingFoldersAreSkippedSilently) {
    TempDir dir;
    test::make_dirs(dir / "only/sub1");
    test::make_dirs(dir / "only/sub2");
    TraceFile trace;
    FileManager manager;
    manager.addPath(dir / "missing");
    manager.addPath(dir / "only");
    // One call meets nothing but empty folders: the queue empties, the line still comes.
    manager.constructPath();
    EXPECT_EQ(1, trace.count("constructPath : 0 files in 0 paths"));
    EXPECT_FALSE(trace.contains("add <" + (dir / "missing") + "> with"));
    manager.constructPath();
    EXPECT_EQ(1, trace.count("constructPath : 0 files in 0 paths"));
    std::string path;
    EXPECT_EQ(nullptr, manager.nextImage(100, 100, path));
    EXPECT_TRUE(trace.contains("nextImage : not any valid image !"));
}

TEST(FileIndexTest, LinkLoopsEndAndEachFolderIsIndexedOnce) {
    TempDir dir;
    const std::string root = dir / "root";
    test::make_dirs(root + "/x");
    test::make_dirs(root + "/y");
    touch(root + "/r1");
    touch(root + "/x/x1");
    touch(root + "/y/y1");
    ASSERT_EQ(0, symlink(root.c_str(), (root + "/x/up").c_str()));
    ASSERT_EQ(0, symlink((root + "/y").c_str(), (root + "/x/to_y").c_str()));
    ASSERT_EQ(0, symlink((root + "/x").c_str(), (root + "/y/to_x").c_str()));
    ASSERT_EQ(0, symlink("nowhere", (root + "/dangling").c_str()));
    FileManager manager;
    manager.addPath(root);
    index_all(manager);
    // r1, the dangling link (a file entry), x1, y1; nothing reached twice.
    EXPECT_EQ(4, manager.total());
}

TEST(FileIndexTest, UnreadableFolderIsSkipped) {
    if (geteuid() == 0) GTEST_SKIP() << "permissions do not stop root";
    TempDir dir;
    test::make_dirs(dir / "locked");
    touch(dir / "locked/secret");
    touch(dir / "open");
    ASSERT_EQ(0, chmod((dir / "locked").c_str(), 0));
    FileManager manager;
    manager.addPath(dir.path());
    index_all(manager);
    EXPECT_EQ(1, manager.total());
}

TEST(FileIndexTest, ConfiguredFolderThatCannotBeListedIsNamedOnceWithTheReason) {
    TempDir dir;
    touch(dir / "file");
    test::make_dirs(dir / "locked");
    ASSERT_EQ(0, chmod((dir / "locked").c_str(), 0));
    const bool root = geteuid() == 0; // permissions do not stop root
    const std::vector<std::pair<std::string, std::string>> reasons = {
        {"missing", "No such file or directory"},
        {"file", "Not a directory"},
        {"locked", "Permission denied"}};
    TraceFile trace;
    Tracer::instance().all_module_level(1);
    FileManager manager;
    for (const auto& r : reasons) manager.addPath(dir / r.first);
    index_all(manager);
    Tracer::instance().all_module_level(4);
    for (const auto& r : reasons)
        EXPECT_EQ(root && r.first == "locked" ? 0 : 1,
                  trace.count("constructPath : cannot list <" + (dir / r.first) + "> (" + r.second +
                              ")"));
    EXPECT_EQ(root ? 2 : 3, trace.count("cannot list"));
}

TEST(FileIndexTest, TrashAndSystemFoldersAreNeverIndexed) {
    TempDir dir;
    setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
    const std::string trash = dir / "data/Trash", lib = dir / "lib";
    // Every folder holds one file; only lib and lib/.Trash-x ("x" is no user number) count.
    for (const std::string& folder : {trash + "/files/f", lib + "/.Trash/1000",
                                      lib + "/.Trash-1000/files", lib + "/.Trash-x"}) {
        test::make_dirs(folder);
        touch(folder + "/p.jpg");
    }
    touch(lib + "/p.jpg");
    ASSERT_EQ(0, symlink(trash.c_str(), (lib + "/bin").c_str()));
    TraceFile trace;
    FileManager manager;
    for (const std::string& folder : {lib, trash, trash + "/files"}) manager.addPath(folder);
    index_all(manager);
    unsetenv("XDG_DATA_HOME");
    EXPECT_EQ(2, manager.total());
    for (const std::string& passed :
         {lib + "/.Trash", lib + "/.Trash-1000", lib + "/bin", trash, trash + "/files"})
        EXPECT_EQ(
            1, trace.count("constructPath : <" + passed + "> passed over (trash or system folder)"))
            << passed;
}

// A step that tries many files of one folder must not list the folder for each of them.
TEST(FileIndexTest, FolderListingIsKeptWhileTheFolderIsUnchanged) {
    const std::int64_t now = std::time(nullptr);
    test::FakeClock clock(now, 0);
    TempDir dir;
    const std::string f = dir / "f";
    test::make_dirs(f);
    touch(f + "/a");
    FileManager manager;
    manager.addPath(f);
    index_all(manager);
    // A rename that leaves the folder's last write time at `written`: what two changes within
    // one tick of the file system's clock look like.
    const auto rename_quietly = [&](const char* from, const char* to, std::int64_t written) {
        ASSERT_EQ(0, rename((f + "/" + from).c_str(), (f + "/" + to).c_str()));
        test::set_modified(f, written);
    };
    // Written just now: kept for the step only, until it is found unchanged 2 s on.
    test::set_modified(f, now);
    EXPECT_EQ(f + "/a", manager.pathFromIndex(0));
    rename_quietly("a", "b", now);
    EXPECT_EQ(f + "/b", manager.pathFromIndex(0));
    clock.advance(2000);
    EXPECT_EQ(f + "/b", manager.pathFromIndex(0));
    rename_quietly("b", "c", now);
    EXPECT_EQ(f + "/b", manager.pathFromIndex(0)) << "unchanged 2 s on: kept";

    // A folder written long ago is kept at once, until its time or its identity changes.
    rename_quietly("c", "d", now - 60);
    EXPECT_EQ(f + "/d", manager.pathFromIndex(0));
    rename_quietly("d", "e", now - 60);
    EXPECT_EQ(f + "/d", manager.pathFromIndex(0));
    rename_quietly("e", "f", now - 59);
    EXPECT_EQ(f + "/f", manager.pathFromIndex(0));
    test::make_dirs(dir / "g");
    touch(dir / "g/g");
    ASSERT_EQ(0, rename(f.c_str(), (dir / "old").c_str()));
    ASSERT_EQ(0, rename((dir / "g").c_str(), f.c_str()));
    test::set_modified(f, now - 59);
    EXPECT_EQ(f + "/g", manager.pathFromIndex(0));
}

// A clock that moves on by one millisecond each time it is read: a walk that takes time.
std::int64_t g_ticks = 0;
std::int64_t ticking_clock() { return ++g_ticks; }

TEST(FileIndexTest, EachStepListsFoldersForItsBudgetAndTracesEveryFolder) {
    TempDir dir;
    for (int i = 0; i < 30; ++i) {
        test::make_dirs(dir / ("f" + std::to_string(i)));
        touch(dir / ("f" + std::to_string(i) + "/p"));
    }
    TraceFile trace;
    FileManager manager;
    manager.setIndexBudget(4, &ticking_clock);
    manager.addPath(dir.path());
    manager.constructPath();
    // Two clock reads a folder: the root and a few folders fit the first step, not all 30.
    const int first = trace.count(" files in ");
    EXPECT_GE(first, 1);
    EXPECT_LE(first, 4);
    int steps = 1;
    while (!manager.indexComplete() && steps < 100) {
        manager.constructPath();
        ++steps;
    }
    EXPECT_EQ(30, manager.total());
    EXPECT_GE(steps, 8);
    // One pair of lines per folder recorded, whatever the number of steps.
    EXPECT_EQ(30, trace.count("> with 1 files ("));
    EXPECT_EQ(30, trace.count(" files in "));
    EXPECT_TRUE(trace.contains("constructPath : 30 files in 30 paths"));
}

TEST(FileIndexTest, AFolderReachedTwiceIsIndexedOnce) {
    struct Case {
        const char* name;
        std::vector<std::string> configured; // relative to the test folder
        std::string skipped, kept;           // the line naming the folder passed over
    };
    const Case cases[] = {
        {"configured twice", {"lib", "lib"}, "lib", "lib"},
        {"inner folder configured too", {"lib", "lib/sub"}, "lib/sub", "lib/sub"},
        {"inner folder configured first", {"lib/sub", "lib"}, "lib/sub", "lib/sub"},
        {"through a link", {"lib", "link"}, "link", "lib"},
        {"by another spelling", {"lib", "lib/sub/.."}, "lib/sub/..", "lib"},
    };
    for (const Case& c : cases) {
        TempDir dir;
        test::make_dirs(dir / "lib/sub");
        touch(dir / "lib/a");
        touch(dir / "lib/sub/b");
        touch(dir / "lib/sub/c");
        ASSERT_EQ(0, symlink((dir / "lib").c_str(), (dir / "link").c_str()));
        TraceFile trace;
        FileManager manager;
        for (const std::string& folder : c.configured) manager.addPath(dir / folder);
        index_all(manager);
        EXPECT_EQ(3, manager.total()) << c.name;
        EXPECT_EQ(1, trace.count("skipped, the same folder as")) << c.name;
        EXPECT_EQ(1, trace.count("constructPath : <" + (dir / c.skipped) +
                                 "> skipped, the same folder as <" + (dir / c.kept) + ">"))
            << c.name;
        std::set<std::string> names;
        for (int i = 0; i < 3; ++i)
            names.insert(manager.pathFromIndex(i).substr(manager.pathFromIndex(i).rfind('/')));
        EXPECT_EQ((std::set<std::string>{"/a", "/b", "/c"}), names) << c.name;
    }
}

class FileManagerTest : public testing::Test {
protected:
    std::string picture(const std::string& relative, int width = 40, int height = 30) {
        const std::string path = dir / relative;
        test::make_dirs(path.substr(0, path.rfind('/')));
        EXPECT_TRUE(pictures::write(path, width, height, pictures::Format::Png));
        return path;
    }
    void start() {
        manager.setCacheSize(32);
        manager.addPath(dir.path());
        index_all(manager);
    }
    std::string next_path() {
        std::string path;
        BitMap* bitmap = manager.nextImage(160, 120, path);
        return bitmap ? path : std::string();
    }

    TempDir dir;
    TraceFile trace;
    FileManager manager;
};

TEST_F(FileManagerTest, ExclusionIgnoresAsciiCaseOverTheWholePath) {
    picture("Thumbs/a.png");
    picture("b/THUMBS.DB");
    const std::string kept = picture("b/kept.png");
    manager.addExcludePattern("thumbs");
    manager.addExcludePattern(".DB");
    start();
    for (int i = 0; i < 6; ++i) EXPECT_EQ(kept, next_path());
    EXPECT_FALSE(trace.contains("excluded beacause it contains <.DB>"));
    EXPECT_EQ(1, trace.count("nextImage : <" + dir.path() +
                             "/Thumbs/a.png> excluded beacause "
                             "it contains <thumbs>"));
}

TEST_F(FileManagerTest, EmptyPatternExcludesEveryFile) {
    for (int i = 0; i < 10; ++i) picture("p" + std::to_string(i) + ".png");
    manager.addExcludePattern("");
    start();
    EXPECT_EQ("", next_path());
    EXPECT_EQ(10, trace.count("excluded beacause"));
    EXPECT_TRUE(trace.contains("try_next no displayable file found => exit"));
}

TEST_F(FileManagerTest, ThousandFailuresEndOneCall) {
    for (int i = 0; i < 1100; ++i) touch(dir / ("t" + std::to_string(i) + ".txt"));
    start();
    EXPECT_EQ("", next_path());
    EXPECT_EQ(1, trace.count("nextImage : too much failure => exit"));
    EXPECT_EQ(1000, trace.count("not displayabe"));
}

TEST_F(FileManagerTest, UndecodableFilesFailOnceAndPicturesKeepComing) {
    std::set<std::string> good = {picture("a.png"), picture("b.png"), picture("c.png")};
    touch(dir / "x.txt");
    touch(dir / "y.txt");
    start();
    for (int cycle = 0; cycle < 4; ++cycle) {
        std::set<std::string> seen;
        for (int i = 0; i < 3; ++i) seen.insert(next_path());
        EXPECT_EQ(good, seen) << "cycle " << cycle;
    }
    EXPECT_EQ(1, trace.count("<" + dir.path() + "/x.txt> not displayabe"));
    EXPECT_EQ(1, trace.count("<" + dir.path() + "/y.txt> not displayabe"));
}

TEST_F(FileManagerTest, HistoryWalksBackAndForward) {
    for (int i = 0; i < 6; ++i) picture("p" + std::to_string(i) + ".png");
    start();
    EXPECT_EQ("", manager.currentPath());
    const std::string p1 = next_path(), p2 = next_path(), p3 = next_path();
    EXPECT_EQ(p3, manager.currentPath());

    EXPECT_TRUE(manager.rewindToPrevious());
    EXPECT_EQ(p2, next_path());
    EXPECT_EQ(p3, next_path());
    const std::string p4 = next_path();
    EXPECT_TRUE(p4 != p1 && p4 != p2 && p4 != p3);

    EXPECT_TRUE(manager.rewindToCurrent());
    EXPECT_EQ(p4, next_path());
    // The replay is not recorded again: stepping back twice from p4 gives p3.
    EXPECT_TRUE(manager.rewindToPrevious());
    EXPECT_EQ(p3, next_path());
}

TEST_F(FileManagerTest, SinglePictureComesAgainAfterStepBack) {
    const std::string only = picture("only.png");
    start();
    EXPECT_EQ(only, next_path());
    EXPECT_FALSE(manager.rewindToPrevious());
    EXPECT_EQ(only, next_path());
}

TEST_F(FileManagerTest, StepBackBeforeAnyPictureNamesNoFile) {
    picture("a.png");
    start();
    EXPECT_TRUE(manager.rewindToCurrent()); // one step back on an empty history succeeds
    EXPECT_EQ("", next_path());
    EXPECT_EQ("", manager.currentPath());
}

TEST_F(FileManagerTest, CurrentPathNamesThePictureOnScreenAfterTheFolderChanged) {
    // Names sort so that whatever the listing order, removing one file shifts numbering.
    for (int i = 0; i < 5; ++i) picture("f" + std::to_string(i) + ".png");
    start();
    const std::string shown = next_path();
    for (int i = 0; i < 5; ++i) {
        const std::string other = dir / ("f" + std::to_string(i) + ".png");
        if (other != shown) unlink(other.c_str());
    }
    EXPECT_EQ(shown, manager.currentPath());
}

TEST_F(FileManagerTest, WithoutCachePicturesAreDecodedEveryTime) {
    const std::string only = picture("only.png");
    manager.addPath(dir.path());
    index_all(manager);
    EXPECT_FALSE(manager.setCacheSize(0));
    for (int i = 0; i < 3; ++i) {
        std::string path;
        BitMap* bitmap = manager.nextImage(160, 120, path);
        ASSERT_NE(nullptr, bitmap);
        EXPECT_EQ(160, bitmap->width());
        EXPECT_EQ(only, path);
    }
    EXPECT_EQ(3, trace.count("add( " + only + " )--> cache not created !"));
}

TEST_F(FileManagerTest, VanishedFolderGivesNoPictureAndNoCrash) {
    picture("gone/a.png");
    picture("gone/b.png");
    start();
    std::filesystem::remove_all(dir / "gone");
    EXPECT_EQ("", next_path());
    EXPECT_EQ("", next_path());
}

TEST_F(FileManagerTest, APictureReplacedOnDiskIsDecodedAgain) {
    const std::string only = picture("only.png", 40, 30);
    start();
    std::string path;
    BitMap* first = manager.nextImage(160, 120, path);
    ASSERT_NE(nullptr, first);
    EXPECT_EQ(160, first->width());
    // Another picture under the same name, as a copy or an editor leaves it.
    ASSERT_TRUE(pictures::write(dir / "new.png", 30, 40, pictures::Format::Png));
    ASSERT_EQ(0, rename((dir / "new.png").c_str(), only.c_str()));
    ASSERT_TRUE(manager.rewindToCurrent());
    BitMap* second = manager.nextImage(160, 120, path);
    ASSERT_NE(nullptr, second);
    EXPECT_EQ(90, second->width());
    EXPECT_TRUE(trace.contains("get( " + only + " ) changed on disk"));
    // What Delete would mark is the new file; unchanged, it comes from the cache.
    platform::FileId id;
    ASSERT_TRUE(manager.currentPicture(path, id));
    EXPECT_EQ(test::identity(only), id);
    ASSERT_TRUE(manager.rewindToCurrent());
    EXPECT_EQ(second, manager.nextImage(160, 120, path));
}

TEST_F(FileManagerTest, SteppingBackShowsTheSamePicturesAfterTheyLeftTheCache) {
    // Each picture fits 640 x 480 at a width of its own, and takes up to 0.9 MiB there.
    for (int i = 0; i < 4; ++i) picture("p" + std::to_string(i) + ".png", 20 + 10 * i, 30);
    EXPECT_TRUE(manager.setCacheMegabytes(1));
    start();
    std::vector<std::pair<std::string, int>> shown;
    for (int i = 0; i < 4; ++i) {
        std::string path;
        BitMap* bitmap = manager.nextImage(640, 480, path);
        ASSERT_NE(nullptr, bitmap);
        shown.emplace_back(path, bitmap->width());
    }
    for (int back = 2; back >= 0; --back) {
        ASSERT_TRUE(manager.rewindToPrevious());
        std::string path;
        BitMap* bitmap = manager.nextImage(640, 480, path);
        ASSERT_NE(nullptr, bitmap);
        EXPECT_EQ(shown[back], std::make_pair(path, bitmap->width()));
        EXPECT_TRUE(trace.contains("get( " + path + " ) not in cache"));
    }
    EXPECT_GE(trace.count("over the byte budget --> no more cached"), 5);
}

// Runs of a show over the same library, each with a file manager of its own, as separate
// processes would have, sharing one index file.
class SavedIndexTest : public FileManagerTest {
protected:
    std::string index_file() const { return dir / "cache/index"; }
    void configure(FileManager& m, const std::vector<std::string>& patterns = {}) {
        m.setCacheSize(4);
        m.addPath(dir / "lib");
        for (const std::string& p : patterns) m.addExcludePattern(p);
        m.useIndexFile(index_file());
    }
    // One run of `steps` pictures; what it showed.
    std::vector<std::string> run(int steps) {
        FileManager m;
        configure(m);
        index_all(m);
        std::vector<std::string> shown;
        for (int i = 0; i < steps; ++i) {
            std::string path;
            if (m.nextImage(160, 120, path)) shown.push_back(path);
        }
        m.saveIndex();
        clock.advance(1000);
        return shown;
    }
    void library(int folders, int per_folder) {
        for (int f = 0; f < folders; ++f)
            for (int i = 0; i < per_folder; ++i)
                picture("lib/d" + std::to_string(f) + "/p" + std::to_string(i) + ".png", 8, 6);
    }
    test::FakeClock clock{1800000000, 0};
};

TEST_F(SavedIndexTest, ShortRunsShowEveryPictureOnceBeforeAnyComesAgain) {
    test::make_dirs(dir / "cache");
    library(4, 5);
    std::set<std::string> seen;
    for (int r = 0; r < 5; ++r)
        for (const std::string& path : run(4)) EXPECT_TRUE(seen.insert(path).second) << path;
    EXPECT_EQ(20u, seen.size());
    EXPECT_EQ(4, trace.count("loadIndex : 4 folders, 20 files from <" + index_file() + ">"));
    // The next round starts with another picture than the last one shown.
    const std::vector<std::string> next = run(20);
    EXPECT_EQ(20u, std::set<std::string>(next.begin(), next.end()).size());

    // A later run draws from the whole library from its first step on.
    FileManager m;
    configure(m);
    m.setIndexBudget(0, &ticking_clock);
    m.constructPath();
    EXPECT_FALSE(m.indexComplete());
    EXPECT_EQ(20, m.total());
}

TEST_F(SavedIndexTest, ABadIndexFileIsIgnoredWithOneLine) {
    test::make_dirs(dir / "cache");
    library(2, 2);
    run(1);
    const std::string good = test::read_file(index_file());
    std::string flipped = good;
    flipped[flipped.size() / 2] ^= 0x20;
    struct Case {
        const char* name;
        std::function<void()> spoil;
        std::string why; // "" when a level 2 line says it is not this configuration's
    };
    const Case cases[] = {
        {"missing", [&] { unlink(index_file().c_str()); }, "missing"},
        {"empty", [&] { test::write_file(index_file(), ""); }, "empty"},
        {"foreign", [&] { test::write_file(index_file(), "P6 1 1 255\nabc"); },
         "not an index of this program"},
        {"truncated", [&] { test::write_file(index_file(), good.substr(0, good.size() - 9)); },
         "truncated"},
        {"corrupt", [&] { test::write_file(index_file(), flipped); }, "corrupt"},
        {"a folder", [&] { test::make_dirs(index_file()); }, "not a file"},
        {"another configuration", [&] { test::write_file(index_file(), good); }, ""},
    };
    for (const Case& c : cases) {
        std::filesystem::remove_all(index_file());
        c.spoil();
        const int before = trace.count("loadIndex : ");
        FileManager m;
        configure(m, c.why.empty() ? std::vector<std::string>{"x"} : std::vector<std::string>{});
        index_all(m);
        EXPECT_EQ(4, m.total()) << c.name;
        EXPECT_EQ(before + 1, trace.count("loadIndex : ")) << c.name;
        EXPECT_TRUE(trace.contains(
            "loadIndex : <" + index_file() + "> ignored (" +
            (c.why.empty() ? std::string("saved for other folders or exclusions") : c.why) + ")"))
            << c.name;
    }
}

TEST_F(SavedIndexTest, TheWalkFollowsWhatChangedSinceTheSave) {
    test::make_dirs(dir / "cache");
    library(3, 2);
    run(2);
    picture("lib/d0/p9.png", 8, 6);
    std::filesystem::remove_all(dir / "lib/d1");
    picture("lib/new/n.png", 8, 6);
    FileManager m;
    configure(m);
    m.constructPath();
    EXPECT_TRUE(trace.contains("loadIndex : 3 folders, 6 files from"));
    index_all(m);
    EXPECT_EQ(6, m.total());
    EXPECT_TRUE(trace.contains("constructPath : <" + (dir / "lib/d1") + "> left the index"));
    std::set<std::string> names;
    for (int i = 0; i < 6; ++i) names.insert(m.pathFromIndex(i).substr(dir.path().size()));
    EXPECT_EQ((std::set<std::string>{"/lib/d0/p0.png", "/lib/d0/p1.png", "/lib/d0/p9.png",
                                     "/lib/d2/p0.png", "/lib/d2/p1.png", "/lib/new/n.png"}),
              names);
    // What the walk found is what the next run takes up.
    EXPECT_TRUE(m.saveIndex());
    FileManager later;
    configure(later);
    later.constructPath();
    EXPECT_TRUE(trace.contains("loadIndex : 3 folders, 6 files from"));
}

} // namespace
