#include "BitMap.h"
#include "ImageCache.h"
#include "Pictures.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <memory>
#include <string>

namespace {

const std::string kHeader = "[ImageCache]           ";

// Hands `bitmap` to the cache, which destroys it at once when it refuses it.
bool give(ImageCache& cache, const std::string& path, BitMap* bitmap) {
    std::unique_ptr<BitMap> owned(bitmap);
    return cache.add(path, owned);
}

TEST(ImageCache, FirstInFirstOutWithThreeSlots) {
    test::TraceFile trace;
    test::TempDir dir;
    ASSERT_TRUE(pictures::write(dir / "p.png", 40, 30, pictures::Format::Png));
    ImageCache cache(3);
    BitMap* bitmaps[7] = {};
    for (int i = 1; i <= 3; ++i) {
        bitmaps[i] = new BitMap;
        bitmaps[i]->set_window_size(80, 60); // a picture to release with its BitMap
        ASSERT_TRUE(bitmaps[i]->load(dir / "p.png"));
        ASSERT_TRUE(give(cache, "p" + std::to_string(i), bitmaps[i]));
        EXPECT_TRUE(trace.contains(kHeader + "add( p" + std::to_string(i) + " ) --> " +
                                   std::to_string(i) + " in cache"));
    }
    bitmaps[4] = new BitMap;
    ASSERT_TRUE(give(cache, "p4", bitmaps[4])); // p1's BitMap destroyed (ASan checks)
    EXPECT_TRUE(trace.contains(kHeader + "add( p4 ) cache full --> no more cached : p1"));

    EXPECT_EQ(nullptr, cache.get("p1"));
    EXPECT_TRUE(trace.contains(kHeader + "get( p1 ) not in cache"));
    EXPECT_EQ(bitmaps[2], cache.get("p2"));
    EXPECT_TRUE(trace.text().size() >= 9 &&
                trace.text().compare(trace.text().size() - 9, 9, "get( p2 )") == 0)
        << "a hit writes nothing more";
    EXPECT_EQ(bitmaps[3], cache.get("p3"));
    EXPECT_EQ(bitmaps[4], cache.get("p4"));

    bitmaps[5] = new BitMap;
    ASSERT_TRUE(give(cache, "p5", bitmaps[5])); // first in, first out: p2 although just found
    EXPECT_TRUE(trace.contains("add( p5 ) cache full --> no more cached : p2"));
    bitmaps[6] = new BitMap;
    ASSERT_TRUE(give(cache, "p6", bitmaps[6]));
    EXPECT_TRUE(trace.contains("add( p6 ) cache full --> no more cached : p3"));
    EXPECT_EQ(nullptr, cache.get("p2"));
    EXPECT_EQ(nullptr, cache.get("p3"));
    EXPECT_EQ(bitmaps[4], cache.get("p4"));
    EXPECT_EQ(bitmaps[5], cache.get("p5"));
    EXPECT_EQ(bitmaps[6], cache.get("p6"));
    ASSERT_TRUE(give(cache, "p7", new BitMap));
    EXPECT_TRUE(trace.contains("add( p7 ) cache full --> no more cached : p4"));
}

TEST(ImageCache, MakeRoomFreesOnlyWhatTheNextAddPushesOut) {
    test::TraceFile trace;
    ImageCache cache(2);
    auto* first = new BitMap;
    auto* second = new BitMap;
    cache.make_room(); // not full: nothing to free
    ASSERT_TRUE(give(cache, "m1", first));
    cache.make_room();
    EXPECT_EQ(first, cache.get("m1"));
    ASSERT_TRUE(give(cache, "m2", second));

    cache.make_room(); // m1's BitMap destroyed now (ASan checks), m2 kept
    cache.make_room(); // twice, as after a failed decode: still only m1
    EXPECT_EQ(nullptr, cache.get("m1"));
    EXPECT_TRUE(trace.contains(kHeader + "get( m1 ) not in cache"));
    EXPECT_EQ(second, cache.get("m2"));
    auto* third = new BitMap;
    ASSERT_TRUE(give(cache, "m3", third));
    EXPECT_TRUE(trace.contains("add( m3 ) cache full --> no more cached : m1"));
    EXPECT_EQ(second, cache.get("m2"));
    EXPECT_EQ(third, cache.get("m3"));
}

TEST(ImageCache, OneSlotAndCaseDifferentPaths) {
    test::TraceFile trace;
    ImageCache cache(1);
    auto* first = new BitMap;
    auto* second = new BitMap;
    ASSERT_TRUE(give(cache, "C:\\Photos\\A.jpg", first));
    EXPECT_EQ(nullptr, cache.get("c:\\photos\\a.jpg"));
    EXPECT_EQ(first, cache.get("C:\\Photos\\A.jpg"));
    EXPECT_EQ(nullptr, cache.get("C:\\Photos\\A.jp")); // a prefix is not the path
    ASSERT_TRUE(give(cache, "c:\\photos\\a.jpg", second));
    EXPECT_TRUE(trace.contains(
        "add( c:\\photos\\a.jpg ) cache full --> no more cached : C:\\Photos\\A.jpg"));
    EXPECT_EQ(nullptr, cache.get("C:\\Photos\\A.jpg"));
    EXPECT_EQ(second, cache.get("c:\\photos\\a.jpg"));
    ASSERT_TRUE(give(cache, "third", new BitMap));
    EXPECT_EQ(nullptr, cache.get("c:\\photos\\a.jpg"));
}

TEST(ImageCache, NotCreatedFindsAndKeepsNothing) {
    test::TraceFile trace;
    ImageCache cache; // 0 slots
    EXPECT_EQ(nullptr, cache.get("p1"));
    EXPECT_TRUE(trace.contains(kHeader + "get( p1 ) not in cache"));
    auto kept = std::make_unique<BitMap>(); // add refuses: ownership stays here
    EXPECT_FALSE(cache.add("p1", kept));
    EXPECT_NE(nullptr, kept);
    EXPECT_TRUE(trace.contains(kHeader + "add( p1 )--> cache not created !"));
    EXPECT_EQ(nullptr, cache.get("p1"));
}

TEST(ImageCache, FailedInitDisablesUntilTheNextGoodOne) {
    test::TraceFile trace;
    ImageCache cache(5);
    EXPECT_TRUE(trace.contains(kHeader + "init( 5 )"));
    for (int i = 0; i < 5; ++i) ASSERT_TRUE(give(cache, "q" + std::to_string(i), new BitMap));

    EXPECT_FALSE(cache.init(0));
    EXPECT_TRUE(trace.contains(kHeader + "init( 0 )---> failure !"));
    EXPECT_EQ(nullptr, cache.get("q0"));
    auto kept = std::make_unique<BitMap>();
    EXPECT_FALSE(cache.add("q5", kept));
    EXPECT_FALSE(cache.init(-3));

    EXPECT_TRUE(cache.init(4)); // destroys the 5 old BitMaps (ASan checks)
    EXPECT_EQ(nullptr, cache.get("q0"));
    for (int i = 1; i <= 4; ++i) {
        ASSERT_TRUE(give(cache, "r" + std::to_string(i), new BitMap));
        EXPECT_TRUE(trace.contains("add( r" + std::to_string(i) + " ) --> " + std::to_string(i) +
                                   " in cache"));
    }
    ASSERT_TRUE(give(cache, "r5", new BitMap));
    EXPECT_TRUE(trace.contains("add( r5 ) cache full --> no more cached : r1"));

    // A good init after a good one empties the cache too.
    EXPECT_TRUE(cache.init(2));
    EXPECT_EQ(nullptr, cache.get("r5"));
    ASSERT_TRUE(give(cache, "s1", new BitMap));
    EXPECT_TRUE(trace.contains("add( s1 ) --> 1 in cache"));
}

// A picture decoded from `file` and fitted to width x height.
BitMap* fitted(const std::string& file, int width, int height) {
    auto* bitmap = new BitMap;
    bitmap->set_window_size(width, height);
    EXPECT_TRUE(bitmap->load(file));
    return bitmap;
}

TEST(ImageCache, ByteBudgetPushesOutTheOldestFirst) {
    test::TraceFile trace;
    test::TempDir dir;
    ASSERT_TRUE(pictures::write(dir / "p.png", 40, 30, pictures::Format::Png));
    constexpr std::int64_t kFrame = 240 * 60; // 80 x 60 pixels, rows of 240 bytes
    ImageCache cache(32);
    EXPECT_FALSE(cache.set_budget(-1));
    ASSERT_TRUE(cache.set_budget(3 * kFrame));
    for (int i = 1; i <= 4; ++i)
        ASSERT_TRUE(give(cache, "b" + std::to_string(i), fitted(dir / "p.png", 80, 60)));
    EXPECT_TRUE(trace.contains("add( b3 ) --> 3 in cache"));
    EXPECT_TRUE(trace.contains("add( b4 ) over the byte budget --> no more cached : b1"));
    EXPECT_EQ(3 * kFrame, cache.bytes());

    // A picture over the whole budget is not kept; the caller keeps it.
    std::unique_ptr<BitMap> large(fitted(dir / "p.png", 160, 120));
    EXPECT_FALSE(cache.add("large", large));
    EXPECT_NE(nullptr, large);
    EXPECT_EQ(3 * kFrame, cache.bytes());

    // 0: the count alone, as without a budget.
    ASSERT_TRUE(cache.set_budget(0));
    ASSERT_TRUE(cache.add("large", large));
    EXPECT_EQ(4, cache.count());
}

// The fitted frames of a 3840 x 2160 screen take 18.7 MB each.
TEST(ImageCache, UltraHdFramesKeepToTheDefaultBudgetAndHugeCountsCostNothing) {
    test::TempDir dir;
    ASSERT_TRUE(pictures::write(dir / "p.png", 40, 30, pictures::Format::Png));
    ImageCache cache(32);
    for (int i = 0; i < 9; ++i) {
        cache.make_room(3840LL * 3 * 2160);
        ASSERT_TRUE(give(cache, "u" + std::to_string(i), fitted(dir / "p.png", 3840, 2160)));
        EXPECT_LE(cache.bytes(), ImageCache::kDefaultBudget);
    }
    EXPECT_EQ(6, cache.count());

    // Nothing is set aside for pictures that have not come.
    const auto resident_kib = [] {
        long pages = 0, resident = 0;
        std::FILE* statm = std::fopen("/proc/self/statm", "r");
        if (statm && std::fscanf(statm, "%ld %ld", &pages, &resident) != 2) resident = 0;
        if (statm) std::fclose(statm);
        return resident * 4;
    };
    const long before = resident_kib();
    ImageCache huge(2147483647);
    ASSERT_TRUE(huge.init(100000000));
    EXPECT_LT(resident_kib() - before, 1024);
    ASSERT_TRUE(give(huge, "one", new BitMap));
    EXPECT_NE(nullptr, huge.get("one"));
}

} // namespace
