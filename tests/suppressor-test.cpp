#include "Suppressor.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

namespace {

using Paths = std::vector<std::string>;

// Records every deletion asked for, fails the path it is told to, and can act while it runs.
class RecordingEraser final : public DelayedSuppressor::Eraser {
public:
    bool erase(const std::string& path) override {
        calls.push_back(path);
        if (during) during(path);
        return !fail_all && path != failing;
    }
    Paths calls;
    std::string failing;
    bool fail_all = false;
    std::function<void(const std::string&)> during;
};

void steps(DelayedSuppressor& suppressor, int count) {
    for (int i = 0; i < count; ++i) suppressor.suppress();
}

TEST(DelayedSuppressor, FilesWaitFiveStepsAndGoInOrderOfAdding) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    steps(suppressor, 2);
    suppressor.add("p");
    suppressor.add("a");
    suppressor.suppress();
    suppressor.add("c");
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

TEST(DelayedSuppressor, FailedDeletionIsRetriedEveryWaitThenDroppedAtTheEnd) {
    test::TraceFile trace;
    Tracer::instance().all_module_level(1); // failures are level 1, routine lines level 4
    RecordingEraser eraser;
    eraser.failing = "bad";
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    suppressor.suppress();
    suppressor.add("bad"); // queued at 1
    suppressor.suppress();
    suppressor.add("good"); // queued at 2, behind "bad"
    std::vector<int> attempts;
    for (int count = 3; count <= 16; ++count) {
        const std::size_t before = eraser.calls.size();
        suppressor.suppress();
        for (std::size_t i = before; i < eraser.calls.size(); ++i)
            if (eraser.calls[i] == "bad") attempts.push_back(count);
    }
    EXPECT_EQ((std::vector<int>{6, 11, 16}), attempts);
    EXPECT_EQ((Paths{"bad", "good", "bad", "bad"}), eraser.calls);
    for (const char* line : {"suppress <bad>:1 failed", "suppress <bad>:6 failed",
                             "suppress <bad>:11 failed"})
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

TEST(DelayedSuppressor, SuppressAllDeletesEverythingAtLevelThree) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    suppressor.suppress_all();
    EXPECT_TRUE(eraser.calls.empty());
    EXPECT_FALSE(trace.contains("suppress_all"));

    suppressor.add("x");
    suppressor.suppress();
    suppressor.add("y");
    Tracer::instance().all_module_level(3);
    suppressor.suppress_all();
    Tracer::instance().all_module_level(4);
    EXPECT_EQ((Paths{"x", "y"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress_all <x>\n"));
    EXPECT_TRUE(trace.contains("suppress_all <y>\n"));
    steps(suppressor, 10);
    EXPECT_EQ(2u, eraser.calls.size());
}

TEST(DelayedSuppressor, InitDropsTheQueueAndRestartsTheCount) {
    test::TraceFile trace;
    RecordingEraser first, second;
    DelayedSuppressor suppressor;
    suppressor.init(5, &first);
    steps(suppressor, 3);
    suppressor.add("old");
    suppressor.init(2, &second);
    suppressor.add("new");
    EXPECT_TRUE(trace.contains("add( new,0 )"));
    steps(suppressor, 10);
    suppressor.suppress_all();
    EXPECT_TRUE(first.calls.empty());
    EXPECT_EQ(Paths{"new"}, second.calls);
    EXPECT_TRUE(trace.contains("suppress <new>:0"));
}

TEST(DelayedSuppressor, CallsFromInsideEraseAreHandledLikeAnyOther) {
    test::TraceFile trace;
    RecordingEraser eraser;
    DelayedSuppressor suppressor;
    suppressor.init(5, &eraser);
    suppressor.add("a");
    suppressor.add("b");
    eraser.during = [&](const std::string& path) {
        if (path == "a") suppressor.add("nested");
    };
    steps(suppressor, 5);
    EXPECT_EQ((Paths{"a", "b"}), eraser.calls);
    EXPECT_TRUE(trace.contains("add( nested,5 )"));
    steps(suppressor, 4);
    EXPECT_EQ(2u, eraser.calls.size());
    suppressor.suppress();
    EXPECT_EQ((Paths{"a", "b", "nested"}), eraser.calls);

    // During suppress_all an entry added meanwhile goes in the same call.
    suppressor.add("a");
    suppressor.add("c");
    eraser.calls.clear();
    suppressor.suppress_all();
    EXPECT_EQ((Paths{"a", "c", "nested"}), eraser.calls);
    EXPECT_TRUE(trace.contains("suppress_all <nested>"));

    // A step nested in suppress_all takes the due entries while the front one is erased.
    suppressor.init(1, &eraser);
    eraser.failing = "f";
    eraser.calls.clear();
    for (const char* path : {"f", "g", "h"}) suppressor.add(path);
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

TEST(DelayedSuppressor, WaitBelowOneStepOrNoEraserCannotHang) {
    RecordingEraser eraser;
    eraser.fail_all = true;
    DelayedSuppressor suppressor;
    suppressor.init(0, &eraser);
    suppressor.add("p");
    suppressor.suppress();
    EXPECT_EQ(Paths{"p"}, eraser.calls);
    suppressor.suppress();
    EXPECT_EQ(2u, eraser.calls.size());

    DelayedSuppressor bare;
    bare.add("q");
    bare.suppress();
    bare.suppress_all();
}

} // namespace
