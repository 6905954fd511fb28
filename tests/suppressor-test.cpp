#include "Suppressor.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <string>
#include <unistd.h>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// Records every deletion asked for, deletes the file unless told to fail for that path, and
// can act while it runs.
class RecordingEraser final : public DelayedSuppressor::Eraser {
public:
    bool erase(const std::string& path) override {
        calls.push_back(path);
        if (during) during(path);
        const bool ok = !fail_all && path != failing;
        if (ok) unlink(path.c_str());
        return ok;
    }
    Paths calls;
    std::string failing;
    bool fail_all = false;
    std::function<void(const std::string&)> during;
};

void steps(DelayedSuppressor& suppressor, int count) {
    for (int i = 0; i < count; ++i) suppressor.suppress();
}

// Every test runs in a folder of its own, where the short names it marks are real files.
class SuppressorTest : public testing::Test {
protected:
    SuppressorTest() : home_(platform::current_directory()) {
        platform::change_directory(dir.path());
    }
    ~SuppressorTest() override { platform::change_directory(home_); }
    // Marks `name` as shown now, making the file first when it is missing.
    void mark(DelayedSuppressor& suppressor, const std::string& name) {
        if (!test::exists(name)) test::write_file(name, "picture " + name);
        suppressor.add(name, test::identity(name));
    }

    test::TempDir dir;

private:
    std::string home_;
};

TEST_F(SuppressorTest, FilesWaitFiveStepsAndGoInOrderOfAdding) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    steps(suppressor, 2);
    mark(suppressor, "p");
    mark(suppressor, "a");
    suppressor.suppress();
    mark(suppressor, "c");
    EXPECT_TRUE(trace.contains("add( p,2 )"));
    steps(suppressor, 3);
    EXPECT_TRUE(eraser.calls.empty());
    EXPECT_TRUE(trace.contains("suppress( 6 )"));
    suppressor.suppress();
    EXPECT_EQ((Paths{"p", "a"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress( 7 )\n"));
    EXPECT_TRUE(trace.contains("suppress <p>:2\n"));
    suppressor.suppress();
    EXPECT_EQ((Paths{"p", "a", "c"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress <c>:3"));
}

TEST_F(SuppressorTest, FailedDeletionIsRetriedEveryWaitThenDroppedAtTheEnd) {
    test::TraceFile trace;
    Tracer::instance().all_module_level(1); // failures are level 1, routine lines level 4
    RecordingEraser eraser;
    eraser.failing = "bad";
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    suppressor.suppress();
    mark(suppressor, "bad"); // queued at 1
    suppressor.suppress();
    mark(suppressor, "good"); // queued at 2, behind "bad"
    std::vector<int> attempts;
    for (int count = 3; count <= 16; ++count) {
        const std::size_t before = eraser.calls.size();
        suppressor.suppress();
        for (std::size_t i = before; i < eraser.calls.size(); ++i)
            if (eraser.calls[i] == "bad") attempts.push_back(count);
    }
    EXPECT_EQ((std::vector<int>{6, 11, 16}), attempts);
    EXPECT_EQ((Paths{"bad", "good", "bad", "bad"}), eraser.calls);
    for (const char* line :
         {"suppress <bad>:1 failed", "suppress <bad>:6 failed", "suppress <bad>:11 failed"})
        EXPECT_EQ(1, trace.count(line)) << line;
    EXPECT_FALSE(trace.contains("suppress <good>"));
    EXPECT_FALSE(trace.contains("suppress( "));

    suppressor.suppress_all();
    suppressor.suppress_all();
    steps(suppressor, 20);
    EXPECT_EQ(5u, eraser.calls.size());
    EXPECT_EQ(1, trace.count("suppress_all : failed to erase <bad>"));
    Tracer::instance().all_module_level(4);
}

TEST_F(SuppressorTest, SuppressAllDeletesEverythingAtLevelThree) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    suppressor.suppress_all();
    EXPECT_TRUE(eraser.calls.empty());
    EXPECT_FALSE(trace.contains("suppress_all"));

    mark(suppressor, "x");
    suppressor.suppress();
    mark(suppressor, "y");
    Tracer::instance().all_module_level(3);
    suppressor.suppress_all();
    Tracer::instance().all_module_level(4);
    EXPECT_EQ((Paths{"x", "y"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress_all <x>\n"));
    EXPECT_TRUE(trace.contains("suppress_all <y>\n"));
    steps(suppressor, 10);
    EXPECT_EQ(2u, eraser.calls.size());
}

TEST_F(SuppressorTest, InitDropsTheQueueAndRestartsTheCount) {
    test::TraceFile trace;
    RecordingEraser first, second;
    DelayedSuppressor suppressor;
    suppressor.init(5, &first);
    steps(suppressor, 3);
    mark(suppressor, "old");
    suppressor.init(2, &second);
    mark(suppressor, "new");
    EXPECT_TRUE(trace.contains("add( new,0 )"));
    steps(suppressor, 10);
    suppressor.suppress_all();
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(Paths{"new"}, second.calls);
    EXPECT_TRUE(trace.contains("suppress <new>:0"));
}

TEST_F(SuppressorTest, CallsFromInsideEraseAreHandledLikeAnyOther) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    mark(suppressor, "a");
    mark(suppressor, "b");
    eraser.during = [&](const std::string& path) {
        if (path == "a") mark(suppressor, "nested");
    };
    steps(suppressor, 5);
    EXPECT_EQ((Paths{"a", "b"}), eraser.calls);
    EXPECT_TRUE(trace.contains("add( nested,5 )"));
    steps(suppressor, 4);
    EXPECT_EQ(2u, eraser.calls.size());
    suppressor.suppress();
    EXPECT_EQ((Paths{"a", "b", "nested"}), eraser.calls);

    // During suppress_all an entry added meanwhile goes in the same call.
    mark(suppressor, "a");
    mark(suppressor, "c");
    eraser.calls.clear();
    suppressor.suppress_all();
    EXPECT_EQ((Paths{"a", "c", "nested"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress_all <nested>"));

    // A step nested in suppress_all takes the due entries while the front one is erased.
    suppressor.init(1, &eraser);
    eraser.failing = "f";
    eraser.calls.clear();
    for (const char* path : {"f", "g", "h"}) mark(suppressor, path);
    bool nested = false;
    eraser.during = [&](const std::string& path) {
        if (path != "f" || nested) return;
        nested = true;
        suppressor.suppress();
    };
    suppressor.suppress_all();
    EXPECT_EQ((Paths{"f", "g", "h"}), eraser.calls);
    steps(suppressor, 3);
    EXPECT_EQ(3u, eraser.calls.size());
}

TEST_F(SuppressorTest, WaitBelowOneStepOrNoEraserCannotHang) {
    RecordingEraser eraser;
    eraser.fail_all = true;
    DelayedSuppressor suppressor;
    suppressor.init(0, &eraser);
    mark(suppressor, "p");
    suppressor.suppress();
    EXPECT_EQ(Paths{"p"}, eraser.calls);
    suppressor.suppress();
    EXPECT_EQ(2u, eraser.calls.size());

    DelayedSuppressor bare;
    mark(bare, "q");
    bare.suppress();
    bare.suppress_all();
}

// What is deleted is the file that was on screen when Delete was pressed, or nothing.
TEST_F(SuppressorTest, OnlyTheFileThatWasShownIsDeleted) {
    struct Case {
        const char* what;
        std::function<void()> change;
        const char* reason; // null: the file is deleted
    };
    test::make_dirs("other");
    const std::vector<Case> cases = {
        {"unchanged", [] {}, nullptr},
        {"replaced",
         [] {
             test::write_file("new", "another picture");
             std::rename("new", "sub/p");
         },
         "another file has taken its name"},
        {"edited", [] { test::write_file("sub/p", "the picture, edited"); },
         "it was changed after it was shown"},
        {"removed", [] { unlink("sub/p"); }, "it no longer exists"},
        {"folder swapped for a link",
         [] {
             std::rename("sub", "sub-away");
             test::write_file("other/p", "picture sub/p"); // same name, same bytes
             symlink("other", "sub");
         },
         "another file has taken its name"},
    };
    for (bool at_end : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.what) + (at_end ? " (at the end)" : ""));
            for (const char* left : {"sub", "sub-away", "other/p"})
                std::filesystem::remove_all(left);
            test::make_dirs("sub");
            test::TraceFile trace;
            RecordingEraser eraser;
            DelayedSuppressor suppressor;
            suppressor.init(1, &eraser);
            mark(suppressor, "sub/p");
            c.change();
            if (at_end)
                suppressor.suppress_all();
            else
                steps(suppressor, 3);
            if (!c.reason) {
                EXPECT_EQ(Paths{"sub/p"}, eraser.calls);
                continue;
            }
            EXPECT_TRUE(eraser.calls.empty());
            const std::string line =
                at_end ? "suppress_all : <sub/p> dropped : " : "suppress <sub/p>:0 dropped : ";
            EXPECT_EQ(1, trace.count(line + c.reason)) << trace.text();
            if (std::string(c.what) != "removed") {
                EXPECT_TRUE(test::exists("sub/p"));
            }
        }
    }
    // A link is deleted itself, never what it leads to.
    ASSERT_EQ(0, symlink("other/p", "link"));
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(1, &eraser);
    mark(suppressor, "link");
    steps(suppressor, 1);
    EXPECT_EQ(Paths{"link"}, eraser.calls);
    EXPECT_TRUE(test::exists("other/p"));
}

TEST_F(SuppressorTest, AFileIsQueuedOnceAndNotRetriedOnceGone) {
    test::TraceFile trace;
    Tracer::instance().all_module_level(4);
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    mark(suppressor, "p");
    steps(suppressor, 2);
    mark(suppressor, "p"); // shown again and marked again
    EXPECT_TRUE(trace.contains("add( p,2 ) already queued at 0"));
    steps(suppressor, 10);
    suppressor.suppress_all();
    EXPECT_EQ(Paths{"p"}, eraser.calls);

    // The deletion fails because the file went meanwhile (restored elsewhere, another
    // program): it is dropped, so a file put back under that name later is left alone.
    eraser.calls.clear();
    eraser.failing = "q";
    eraser.during = [](const std::string& path) { unlink(path.c_str()); };
    mark(suppressor, "q");
    steps(suppressor, 5);
    EXPECT_TRUE(trace.contains("suppress <q>:12 failed : it no longer exists, dropped"));
    test::write_file("q", "picture q");
    steps(suppressor, 10);
    suppressor.suppress_all();
    EXPECT_EQ(Paths{"q"}, eraser.calls);
    EXPECT_TRUE(test::exists("q"));
}

} // namespace
