// The whole controller on hostile libraries: a library that another process changes while
// pictures are marked and deleted, link loops, odd names, a huge folder, special files.
// Long forms: GW_ROBUST_STEPS (steps of the changing-library show, 3000 unless set) and
// GW_ROBUST_FILES (files of the huge folder, 100000 unless set).
#include "Desktop.h"
#include "Display.h"
#include "Pictures.h"
#include "ScreenSaver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <chrono>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <poll.h>
#include <random>
#include <set>
#include <string>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace {

namespace fs = std::filesystem;
using test::TempDir;

std::uint64_t checksum(const std::string& bytes) {
    std::uint64_t hash = 14695981039346656037ull;
    for (unsigned char c : bytes) hash = (hash ^ c) * 1099511628211ull;
    return hash;
}

// A small JPEG; what follows its end marker makes each copy's bytes unique and is not decoded.
std::string jpeg_bytes(const std::string& scratch) {
    EXPECT_TRUE(pictures::write(scratch, 64, 48));
    return test::read_file(scratch);
}

// Every file under `root`, by path, with the checksum of its bytes.
std::map<std::string, std::uint64_t> contents(const std::string& root) {
    std::map<std::string, std::uint64_t> result;
    for (const auto& entry : fs::recursive_directory_iterator(root))
        if (entry.is_regular_file())
            result[entry.path().string()] = checksum(test::read_file(entry.path()));
    return result;
}

// The child's exit code within 10 s; -1 when it was still running, and then it is killed.
int finish(pid_t child) {
    const int code = desktop::reap(child, 10000);
    if (code < 0) desktop::stop(child, SIGKILL);
    return code;
}

class Robustness : public testing::Test {
protected:
    Robustness() { test::make_dirs(dir / "trash"); }

    void start(const std::string& settings) {
        const std::string file = dir / "Glimmerwall.cfg";
        test::write_file(file, "trace 4\ncache 32\n" + settings + "\n");
        ASSERT_TRUE(saver.read_config(file.c_str()));
        saver.set_window_manager(&display, 160, 120);
    }
    // Lines "constructPath : T files in F paths": one for every step that found folders pending.
    static int index_steps(const std::string& text) { return test::count(text, " files in "); }
    // Forced steps until a step finds the index complete; false when `limit` steps did not.
    bool index_all(int limit, int& steps) {
        int before = -1;
        for (steps = 1; steps <= limit; ++steps) {
            saver.next(true);
            const int now = index_steps(state.trace());
            if (now == before) return true;
            before = now;
        }
        return false;
    }
    // The file and folder counts of the last index step.
    void index_size(int& files, int& folders) const {
        const std::string text = state.trace();
        const auto at = text.rfind("constructPath : ");
        files = folders = -1;
        if (at != std::string::npos)
            std::sscanf(text.c_str() + at, "constructPath : %d files in %d paths", &files,
                        &folders);
    }

    TempDir dir;
    test::StateHome state{dir};
    test::RecordingDisplay display{dir / "trash"};
    ScreenSaver saver;
};

// ---------------------------------------------------------------------------------------------
// Deletion while another process changes the library.

// What the changing process did, as it logged each change that took effect.
struct Change {
    char kind; // 'R' rename (from, to), 'D' delete (from), 'A' add (to, sum)
    std::string from;
    std::string to;
    std::uint64_t sum = 0;
};

std::vector<Change> read_changes(const std::string& log) {
    std::vector<Change> changes;
    const std::string text = test::read_file(log);
    std::size_t at = 0;
    while (at < text.size()) {
        // Fields end with a NUL: the paths of this test hold no NUL, and nothing else is safe.
        const auto field = [&] {
            const auto end = text.find('\0', at);
            const std::string f = text.substr(at, end - at);
            at = end == std::string::npos ? text.size() : end + 1;
            return f;
        };
        std::vector<std::string> fields = {field()};
        const std::size_t count = fields[0] == "D" ? 2 : 3;
        while (fields.size() < count) fields.push_back(field());
        Change c;
        c.kind = fields[0][0];
        if (c.kind == 'R' || c.kind == 'D') c.from = fields[1];
        if (c.kind == 'R') c.to = fields[2];
        if (c.kind == 'A') {
            c.to = fields[1];
            c.sum = std::stoull(fields[2]);
        }
        changes.push_back(c);
    }
    return changes;
}

// The changing process: renames, deletions and additions of files in `folders`, one after the
// other as fast as they go, chosen by a generator of fixed seed, until `channel` reaches its end
// (the test closed it, or ended). The test also sends it each path it marks, NUL-terminated:
// every fourth one is taken away at once, racing the show's deletion. A name is never used
// twice, so a path names one content for the whole run. Ends with _exit.
[[noreturn]] void change_library(const std::vector<std::string>& folders, const std::string& stage,
                                 const std::string& log, const std::string& jpeg, int channel) {
    std::mt19937 generator(20240611u);
    const int out = open(log.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0600);
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::minutes(30);
    const auto record = [out](std::initializer_list<std::string> fields) {
        std::string line;
        for (const std::string& f : fields) line += f + '\0';
        if (write(out, line.data(), line.size()) != static_cast<ssize_t>(line.size())) _exit(3);
    };
    std::string received;
    int hints = 0;
    for (int n = 0; std::chrono::steady_clock::now() < deadline; ++n) {
        struct pollfd ready = {channel, POLLIN, 0};
        if (poll(&ready, 1, 0) != 0) {
            char buffer[4096];
            const ssize_t got = recv(channel, buffer, sizeof buffer, MSG_DONTWAIT);
            if (got == 0) break;
            if (got > 0) received.append(buffer, static_cast<std::size_t>(got));
        }
        for (auto end = received.find('\0'); end != std::string::npos; end = received.find('\0')) {
            const std::string marked = received.substr(0, end);
            received.erase(0, end + 1);
            ++hints;
            const std::string away = marked + ".moved" + std::to_string(n);
            if (hints % 8 == 1 && std::rename(marked.c_str(), away.c_str()) == 0)
                record({"R", marked, away});
            if (hints % 8 == 5 && unlink(marked.c_str()) == 0) record({"D", marked});
        }
        std::vector<std::string> files;
        for (const std::string& folder : folders) {
            DIR* listing = opendir(folder.c_str());
            if (!listing) _exit(4);
            while (const struct dirent* entry = readdir(listing))
                if (entry->d_type == DT_REG) files.push_back(folder + "/" + entry->d_name);
            closedir(listing);
        }
        const std::string fresh =
            folders[generator() % folders.size()] + "/c" + std::to_string(n) + ".jpg";
        const unsigned choice = generator() % 100;
        if (files.size() > 20 && choice < 35) {
            const std::string& from = files[generator() % files.size()];
            if (std::rename(from.c_str(), fresh.c_str()) == 0) record({"R", from, fresh});
        } else if (files.size() > 20 && choice < 55) {
            const std::string& from = files[generator() % files.size()];
            if (unlink(from.c_str()) == 0) record({"D", from});
        } else if (files.size() < 400) {
            // Written aside and moved in whole: the show never meets half a file.
            const std::string bytes = jpeg + "added " + std::to_string(n);
            const std::string staged = stage + "/next";
            test::write_file(staged, bytes);
            if (std::rename(staged.c_str(), fresh.c_str()) == 0)
                record({"A", fresh, std::to_string(checksum(bytes))});
        }
    }
    close(out);
    _exit(0);
}

TEST_F(Robustness, DeletesExactlyTheMarkedPicturesWhileAnotherProcessChangesTheLibrary) {
    const int steps = test::positive_setting("GW_ROBUST_STEPS", 3000);
    constexpr int kMarkEvery = 10;
    constexpr int kPrevEvery = 37;
    const std::string jpeg = jpeg_bytes(dir / "template.jpg");
    const std::vector<std::string> folders = {dir / "pics/a", dir / "pics/b", dir / "pics/b/c"};
    for (const std::string& folder : folders) {
        test::make_dirs(folder);
        for (int i = 0; i < 60; ++i) {
            const std::string path = folder + "/p" + std::to_string(i) + ".jpg";
            test::write_file(path, jpeg + path);
        }
    }
    test::make_dirs(dir / "stage");
    const auto before = contents(dir / "pics");
    start("delai 0\npath " + (dir / "pics"));

    // A socket rather than a pipe: a send to a process that has gone fails, it raises no signal.
    int channel[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM, 0, channel));
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        close(channel[1]);
        change_library(folders, dir / "stage", dir / "changes.log", jpeg, channel[0]);
    }
    close(channel[0]);

    // The captions on screen when Delete was pressed, in order.
    std::vector<std::string> marked;
    for (int step = 1; step <= steps; ++step) {
        if (step % kPrevEvery == 0) saver.prev();
        saver.next(true);
        if (step % kMarkEvery == 0) {
            marked.push_back(display.captions.back());
            saver.erase();
            const std::string hint = marked.back() + '\0';
            send(channel[1], hint.data(), hint.size(), MSG_NOSIGNAL);
        }
    }
    close(channel[1]);
    ASSERT_EQ(0, finish(child)) << "the changing process did not end in order";
    saver.suppress_all();

    const std::vector<Change> changes = read_changes(dir / "changes.log");
    const std::set<std::string> marked_set(marked.begin(), marked.end());
    // The model of the library: the files before, changed as the other process logged.
    std::map<std::string, std::uint64_t> model = before;
    std::set<std::string> taken_by_child;
    int renames = 0, deletions = 0, additions = 0;
    for (const Change& c : changes) {
        if (c.kind == 'A') {
            ASSERT_EQ(0u, model.count(c.to)) << c.to;
            model[c.to] = c.sum;
            ++additions;
            continue;
        }
        ASSERT_EQ(1u, model.count(c.from)) << c.from;
        taken_by_child.insert(c.from);
        if (c.kind == 'R') {
            model[c.to] = model[c.from];
            ++renames;
        } else {
            ++deletions;
        }
        model.erase(c.from);
    }

    // Only marked paths were ever handed to the display, and each trashed file is the very
    // content that its path held: nothing else was deleted in its place.
    for (const std::string& path : display.deletes) EXPECT_EQ(1u, marked_set.count(path)) << path;
    for (const auto& t : display.trashed) {
        ASSERT_EQ(1u, model.count(t.original)) << t.original;
        EXPECT_EQ(model[t.original], checksum(test::read_file(t.in_trash))) << t.original;
        model.erase(t.original);
    }
    // Every marked picture is in the trash, unless the other process took it away first.
    std::set<std::string> trashed_paths;
    for (const auto& t : display.trashed) trashed_paths.insert(t.original);
    int gone_before_deletion = 0;
    for (const std::string& path : marked_set) {
        if (path.empty()) continue;
        if (trashed_paths.count(path) == 0) {
            EXPECT_EQ(1u, taken_by_child.count(path)) << path << " was marked but not deleted";
            ++gone_before_deletion;
        }
    }
    // Everything else is where the model says, byte for byte.
    EXPECT_EQ(model, contents(dir / "pics"));
    EXPECT_EQ(display.trashed.size(),
              static_cast<std::size_t>(
                  std::distance(fs::directory_iterator(dir / "trash"), fs::directory_iterator())));

    // What Delete marked is what the screen showed.
    const std::string text = state.trace();
    std::vector<std::string> erased;
    // The controller's record, after the module name's padding; the suppressor's
    // "failed to erase <" is another.
    const std::string record = "  erase <";
    for (auto at = text.find(record); at != std::string::npos; at = text.find(record, at + 1)) {
        const auto begin = at + record.size();
        erased.push_back(text.substr(begin, text.find(">\n", begin) - begin));
    }
    EXPECT_EQ(marked, erased);

    int images = 0;
    for (const std::string& caption : display.captions) images += caption.empty() ? 0 : 1;
    std::printf("[ figures  ] %d steps, %d pictures drawn, %zu marks, %zu trashed, %d taken away "
                "first, %zu deletion attempts; other process: %d renames, %d deletions, "
                "%d additions\n",
                steps, images, marked.size(), display.trashed.size(), gone_before_deletion,
                display.deletes.size(), renames, deletions, additions);
    EXPECT_GT(images, steps / 2);
    EXPECT_GT(display.trashed.size(), marked.size() / 2);
    EXPECT_GT(renames + deletions + additions, 100) << "the library hardly changed";
    EXPECT_GT(gone_before_deletion, 0) << "no deletion had to fail: the race was not run";
}

// ---------------------------------------------------------------------------------------------
// Link loops and odd trees.

TEST_F(Robustness, LinkLoopsOddNamesAndUnreadableFoldersEndTheIndexAndShowEveryPicture) {
    const std::string root = dir / "root";
    const std::string jpeg = jpeg_bytes(dir / "template.jpg");
    std::set<std::string> shown_pictures;
    const auto picture = [&](const std::string& path) {
        test::make_dirs(path.substr(0, path.rfind('/')));
        test::write_file(path, jpeg + path);
        shown_pictures.insert(path);
    };
    picture(root + "/r1.jpg");
    picture(root + "/a/a1.jpg");
    picture(root + "/b/b1.jpg");
    ASSERT_EQ(0, symlink(root.c_str(), (root + "/self").c_str()));
    ASSERT_EQ(0, symlink("../b", (root + "/a/to_b").c_str()));
    ASSERT_EQ(0, symlink("../a", (root + "/b/to_a").c_str()));
    ASSERT_EQ(0, symlink("..", (root + "/b/up").c_str()));
    const char* const odd[] = {"with space.jpg",
                               "  leading.jpg",
                               "trailing.jpg ",
                               "new\nline.jpg",
                               "tab\tand\rcr.jpg",
                               "latin1-caf\xe9.jpg",
                               "bad-\xff\xfe-bytes.jpg",
                               "lone-\x80.jpg",
                               "back\\slash.jpg",
                               "*.*",
                               "-dash.jpg",
                               "%n%s%d%x.jpg",
                               "sub dir\n\xe9/inside.jpg",
                               "*.*dir/x.jpg"};
    for (const char* name : odd) picture(root + "/odd/" + name);
    picture(root + "/odd/" + std::string(250, 'L') + ".jpg");
    std::string deep = root + "/deep";
    for (int level = 0; level < 40; ++level) deep += "/level" + std::to_string(level);
    picture(deep + "/bottom.jpg");
    // Files that are listed and counted but never shown.
    test::write_file(root + "/odd/notes.txt", "not a picture");
    ASSERT_EQ(0, symlink("nowhere", (root + "/odd/dangling.jpg").c_str()));
    const int files = static_cast<int>(shown_pictures.size()) + 2;
    const int folders = 3 + 3 + 1; // root, a, b; odd and its two sub-folders; the bottom of deep
    if (geteuid() != 0) {          // permissions do not stop root
        test::make_dirs(root + "/locked");
        test::write_file(root + "/locked/secret.jpg", jpeg);
        ASSERT_EQ(0, chmod((root + "/locked").c_str(), 0));
    }

    start("delai 0\npath " + root);
    int steps = 0;
    // An index step records one folder with files at most, and one more step may be needed for
    // the empty folders left at the end: the first show step takes five index steps, later ones
    // one, and one show step finds nothing left. Anything reached twice would need more.
    ASSERT_TRUE(index_all(1 + (folders + 1 - 5) + 1, steps))
        << "the index was not complete in time";
    int indexed_files = 0, indexed_folders = 0;
    index_size(indexed_files, indexed_folders);
    EXPECT_EQ(files, indexed_files);
    EXPECT_EQ(folders, indexed_folders);

    // Two rounds of the complete index show every picture, its path byte for byte, and nothing
    // else.
    const std::size_t first = display.captions.size();
    for (std::size_t i = 0; i < 2 * shown_pictures.size(); ++i) saver.next(true);
    const std::set<std::string> shown(display.captions.begin() + first, display.captions.end());
    EXPECT_EQ(shown_pictures, shown);

    // Marked, the odd names go to the trash as themselves.
    const std::set<std::string> to_mark = {root + "/odd/new\nline.jpg",
                                           root + "/odd/bad-\xff\xfe-bytes.jpg",
                                           root + "/odd/%n%s%d%x.jpg"};
    std::set<std::string> marked;
    for (int i = 0; i < 200 && marked.size() < to_mark.size(); ++i) {
        saver.next(true);
        if (to_mark.count(display.captions.back()) && marked.insert(display.captions.back()).second)
            saver.erase();
    }
    saver.suppress_all();
    ASSERT_EQ(to_mark, marked);
    std::set<std::string> trashed;
    for (const auto& t : display.trashed) {
        trashed.insert(t.original);
        EXPECT_EQ(jpeg + t.original, test::read_file(t.in_trash)) << t.original;
        EXPECT_FALSE(test::exists(t.original)) << t.original;
    }
    EXPECT_EQ(to_mark, trashed);
}

TEST_F(Robustness, HugeFolderIsIndexedInOneStepAndShown) {
    const int count = test::positive_setting("GW_ROBUST_FILES", 100000);
    // A file system allows some 65,000 links to one file: a source for every 60,000.
    constexpr int kLinksPerSource = 60000;
    const std::string jpeg = jpeg_bytes(dir / "template.jpg");
    const std::string many = dir / "root/many";
    test::make_dirs(many);
    for (int source = 0; source * kLinksPerSource < count; ++source)
        test::write_file(dir / ("source" + std::to_string(source) + ".jpg"), jpeg);
    for (int i = 0; i < count; ++i) {
        const std::string source = dir / ("source" + std::to_string(i / kLinksPerSource) + ".jpg");
        ASSERT_EQ(0, link(source.c_str(), (many + "/m" + std::to_string(i) + ".jpg").c_str())) << i;
    }
    ASSERT_EQ(0, symlink((dir / "root").c_str(), (many + "/root").c_str()));

    start("delai 0\npath " + (dir / "root"));
    int steps = 0;
    const auto began = std::chrono::steady_clock::now();
    ASSERT_TRUE(index_all(5, steps));
    int indexed_files = 0, indexed_folders = 0;
    index_size(indexed_files, indexed_folders);
    EXPECT_EQ(count, indexed_files);
    EXPECT_EQ(1, indexed_folders);

    constexpr int kShown = 100;
    const std::size_t first = display.captions.size();
    for (int i = 0; i < kShown; ++i) saver.next(true);
    const std::set<std::string> shown(display.captions.begin() + first, display.captions.end());
    EXPECT_EQ(static_cast<std::size_t>(kShown), shown.size()) << "one picture each, none twice";
    for (const std::string& caption : shown)
        EXPECT_EQ(0u, caption.rfind(many + "/m", 0)) << caption;
    const auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
                        std::chrono::steady_clock::now() - began)
                        .count();
    std::printf("[ figures  ] %d files: %d + %d steps in %lld ms\n", count, steps, kShown,
                static_cast<long long>(ms));
}

// A named pipe, links to devices and a link to a folder dressed as a picture, beside a good
// picture. Run in a child process of its own: a show that blocks is then a failure, not a hang
// (opening a named pipe for reading waits for a writer that never comes).
TEST_F(Robustness, SpecialFilesAmongThePicturesDoNotStopTheShow) {
    const std::string pics = dir / "pics";
    test::make_dirs(pics);
    ASSERT_TRUE(pictures::write(pics + "/good.jpg", 64, 48));
    ASSERT_EQ(0, mkfifo((pics + "/pipe.jpg").c_str(), 0600));
    ASSERT_EQ(0, symlink("/dev/zero", (pics + "/zero.jpg").c_str()));
    ASSERT_EQ(0, symlink("/dev/null", (pics + "/null.jpg").c_str()));
    test::make_dirs(dir / "folder");
    ASSERT_EQ(0, symlink((dir / "folder").c_str(), (pics + "/folder.jpg").c_str()));
    start("delai 0\npath " + pics);

    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        for (int i = 0; i < 20; ++i) saver.next(true);
        int good = 0;
        for (const std::string& caption : display.captions) good += caption == pics + "/good.jpg";
        _exit(good == 20 ? 0 : 1);
    }
    const int code = finish(child);
    EXPECT_NE(-1, code) << "the show blocked on a special file:\n" << state.trace().substr(0, 4000);
    EXPECT_EQ(0, code) << "the good picture did not come at every step";
}

} // namespace
