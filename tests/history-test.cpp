#include "History.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

namespace {

TEST(History, WalkBackAndForthOverThreeEntries) {
    test::TraceFile trace;
    History h;
    h.add(7);
    h.add(8);
    h.add(9);
    EXPECT_TRUE(trace.contains("add( 9 ) pos:2 def:2 back:0"));
    EXPECT_EQ(9, h.current());
    // The file manager's step back: prev, prev, then next before reading.
    EXPECT_TRUE(h.prev());
    EXPECT_TRUE(h.prev());
    EXPECT_TRUE(h.next());
    EXPECT_EQ(8, h.current());
    EXPECT_TRUE(trace.contains("current-->[1]8 pos:2 def:2 back:1"));
    EXPECT_TRUE(h.prev());
    EXPECT_TRUE(h.prev());
    EXPECT_TRUE(h.next());
    EXPECT_EQ(7, h.current());
    EXPECT_TRUE(h.prev()); // back 3 = def + 1
    EXPECT_TRUE(trace.contains("prev pos:2 def:2 back:3"));
    EXPECT_FALSE(h.prev());
    EXPECT_TRUE(trace.contains("prev failed pos:2 def:2 back:3"));
    EXPECT_TRUE(h.next());
    EXPECT_TRUE(trace.contains("next pos:2 def:2 back:2"));
    EXPECT_EQ(7, h.current());

    // add puts the cursor back on the new, newest entry.
    h.add(10);
    EXPECT_TRUE(trace.contains("add( 10 ) pos:3 def:3 back:0"));
    EXPECT_EQ(10, h.current());
    EXPECT_FALSE(h.next());
    EXPECT_TRUE(trace.contains("next failed pos:3 def:3 back:0"));
}

TEST(History, OneEntry) {
    History h;
    h.add(42);
    EXPECT_TRUE(h.prev());
    EXPECT_FALSE(h.prev());
    EXPECT_TRUE(h.next());
    EXPECT_EQ(42, h.current());
}

TEST(History, EmptyHistoryNamesNoFile) {
    test::TraceFile trace;
    History h;
    EXPECT_FALSE(h.next());
    EXPECT_TRUE(trace.contains("next failed pos:-1 def:0 back:0"));
    EXPECT_EQ(History::kNoEntry, h.current());
    EXPECT_TRUE(h.prev());
    EXPECT_FALSE(h.prev());
    EXPECT_TRUE(h.next());
    EXPECT_EQ(History::kNoEntry, h.current());
    EXPECT_TRUE(trace.contains("current-->[999]-1 pos:-1 def:0 back:0"));
}

TEST(History, RingKeepsTheThousandNewest) {
    History h;
    for (int v = 0; v < 1005; ++v) h.add(v);
    test::TraceFile trace; // only the walk below is traced
    int steps = 0;
    while (h.prev()) ++steps;
    EXPECT_EQ(1000, steps);
    EXPECT_TRUE(trace.contains("prev failed pos:4 def:999 back:1000"));
    EXPECT_TRUE(h.next());
    EXPECT_EQ(5, h.current());
    EXPECT_TRUE(trace.contains("current-->[5]5 pos:4 def:999 back:999"));
    // Walking forward again reaches the newest entry and stops there.
    while (h.next()) {}
    EXPECT_EQ(1004, h.current());
    EXPECT_TRUE(trace.contains("current-->[4]1004 pos:4 def:999 back:0"));
}

} // namespace
