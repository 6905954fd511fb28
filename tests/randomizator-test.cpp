#include "Randomizator.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <functional>
#include <set>
#include <utility>
#include <vector>

namespace {

// Hands out n candidates, reporting each as displayable.
std::vector<std::int32_t> take(Randomizator& r, int n) {
    std::vector<std::int32_t> got;
    for (int i = 0; i < n; ++i) {
        got.push_back(r.try_next());
        r.set_result(true);
    }
    return got;
}

std::vector<std::int32_t> sorted(std::vector<std::int32_t> v) {
    std::sort(v.begin(), v.end());
    return v;
}

std::vector<std::int32_t> iota(int n) {
    std::vector<std::int32_t> v;
    for (int i = 0; i < n; ++i) v.push_back(i);
    return v;
}

// A randomizer under a settable clock, with the trace file read back.
class Randomizing : public ::testing::Test {
protected:
    test::FakeClock clock{1000000000, 0};
    test::TraceFile trace;
    Randomizator r;
};

TEST(RandomGenerator, KnownSequences) {
    for (std::int32_t s : {1, 0}) {
        RandomGenerator g(s);
        EXPECT_DOUBLE_EQ(0.2853808990946861, g.uniform()) << s;
    }
    RandomGenerator g(12345);
    g.seed(1);
    std::vector<std::int32_t> got;
    for (int i = 0; i < 10; ++i) got.push_back(g.next_int(9));
    EXPECT_EQ((std::vector<std::int32_t>{2, 2, 0, 6, 9, 1, 4, 9, 1, 4}), got);

    // -5 seeds like 6.
    RandomGenerator minus(-5), six(6);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(six.uniform(), minus.uniform());
}

TEST(RandomGenerator, ExtremeSeedsStayInRange) {
    // 1 - s wraps for the two most negative seeds; run under the sanitizers this checks
    // that no step overflows.
    for (std::int32_t s : {INT32_MIN, INT32_MIN + 1, INT32_MAX, 2147483563, 2147483399}) {
        RandomGenerator g(s);
        for (int i = 0; i < 1000; ++i) {
            const double u = g.uniform();
            EXPECT_GT(u, 0.0) << s;
            EXPECT_LT(u, 1.0) << s;
            const std::int32_t k = g.next_int(6);
            EXPECT_GE(k, 0);
            EXPECT_LE(k, 6);
        }
    }
}

TEST_F(Randomizing, PermutationDependsOnClockAndCount) {
    clock.set(0, 1);
    r.init(10);
    const std::vector<std::int32_t> first = {3, 4, 5, 1, 7, 2, 6, 0, 9, 8};
    EXPECT_EQ(first, take(r, 10));
    // Init writes one shuffle line and the first cycle another.
    EXPECT_EQ(2, trace.count("make_permutation : nb_value=10"));
    // A cycle that starts in the same millisecond visits the same order.
    EXPECT_EQ(first, take(r, 10));

    clock.set(1, 0);
    r.init(5);
    EXPECT_EQ((std::vector<std::int32_t>{1, 3, 0, 2, 4}), take(r, 5));
}

TEST_F(Randomizing, CyclesHandOutEveryValueOnce) {
    r.init(3);
    EXPECT_EQ(3, r.get_nb_value());
    for (int cycle = 0; cycle < 5; ++cycle) {
        EXPECT_EQ(iota(3), sorted(take(r, 3))) << cycle;
        clock.advance(7);
    }
    // A larger init keeps all values in play, the earlier ones included.
    r.init(200);
    std::set<std::vector<std::int32_t>> orders;
    for (int cycle = 0; cycle < 4; ++cycle) {
        const std::vector<std::int32_t> got = take(r, 200);
        EXPECT_EQ(iota(200), sorted(got)) << cycle;
        orders.insert(got);
        clock.advance(1);
    }
    EXPECT_EQ(4u, orders.size()); // every cycle reshuffles from the clock
}

TEST_F(Randomizing, RejectedValuesStayOutUntilInit) {
    r.init(10);
    std::set<std::int32_t> rejected;
    for (int i = 0; i < 10; ++i) {
        const std::int32_t v = r.try_next();
        const bool keep = v % 3 != 0;
        if (!keep) rejected.insert(v);
        r.set_result(keep);
    }
    EXPECT_EQ(10, r.get_nb_value()); // the count falls at the next cycle start
    for (int cycle = 0; cycle < 3; ++cycle) {
        clock.advance(1);
        const std::vector<std::int32_t> got = take(r, 6);
        EXPECT_EQ((std::vector<std::int32_t>{1, 2, 4, 5, 7, 8}), sorted(got)) << cycle;
        EXPECT_EQ(6, r.get_nb_value());
    }
    EXPECT_TRUE(trace.contains("update_valid : nb_value=10-->6"));
    EXPECT_EQ(2, trace.count("update_valid : nb_value=6-->6"));

    // One more rejection within a cycle shows in the next count.
    r.try_next();
    r.set_result(false);
    take(r, 5);
    take(r, 1);
    EXPECT_TRUE(trace.contains("update_valid : nb_value=6-->5"));

    r.init(10);
    EXPECT_EQ(iota(10), sorted(take(r, 10)));
}

TEST_F(Randomizing, ExhaustedWhenEverythingIsRejected) {
    r.init(4);
    for (int i = 0; i < 4; ++i) {
        EXPECT_GE(r.try_next(), 0);
        r.set_result(false);
    }
    EXPECT_EQ(-1, r.try_next());
    EXPECT_EQ(0, r.get_nb_value());
    EXPECT_TRUE(trace.contains("update_valid : nb_value=4-->0"));
    const std::string before = trace.text();
    EXPECT_EQ(-1, r.try_next());
    r.set_result(false);
    EXPECT_EQ(-1, r.try_next());
    EXPECT_EQ(1, trace.count("try_next no displayable file found => exit"));
    EXPECT_EQ(before, trace.text());

    r.init(2);
    EXPECT_EQ(iota(2), sorted(take(r, 2)));
}

TEST_F(Randomizing, SingleValueStartsACycleEveryCall) {
    r.init(1);
    for (int i = 0; i < 3; ++i) EXPECT_EQ((std::vector<std::int32_t>{0}), take(r, 1));
    EXPECT_EQ(3, trace.count("update_valid : nb_value=1-->1"));
    EXPECT_EQ(4, trace.count("make_permutation : nb_value=1")); // init's line, then one per call
}

TEST_F(Randomizing, TryNextWhileWaiting) {
    clock.set(0, 1);
    r.init(10);
    EXPECT_EQ(3, r.try_next());
    EXPECT_FALSE(trace.contains("still waiting"));
    EXPECT_EQ(4, r.try_next());
    EXPECT_EQ(1, trace.count("try_next : still waiting result of previous try"));
    // The unreported candidate 3 is neither marked nor confirmed: it comes in the next cycle.
    r.set_result(true);
    take(r, 8);
    EXPECT_EQ(iota(10), sorted(take(r, 10)));
}

TEST_F(Randomizing, IgnoredAndHarmlessCalls) {
    clock.set(0, 1);
    // Never initialised: empty, and every operation is harmless.
    EXPECT_EQ(-1, r.try_next());
    EXPECT_EQ(0, r.get_nb_value());
    r.set_result(false);
    r.make_permutation();
    r.update_valid();
    r.init(0);
    r.init(-3);
    EXPECT_EQ(-1, r.try_next());
    EXPECT_EQ(0, r.get_nb_value());

    r.init(10);
    const std::string after_init = trace.text();
    r.init(0);
    r.init(-3);
    EXPECT_EQ(10, r.get_nb_value());
    EXPECT_EQ(after_init, trace.text()); // nothing traced by the ignored inits

    // A verdict with no candidate handed out (position -1) marks nothing.
    r.set_result(false);
    EXPECT_EQ(iota(10), sorted(take(r, 10)));
    // Nor does one given twice for the same candidate, nor one after a re-init.
    r.try_next();
    r.set_result(true);
    r.set_result(false);
    r.try_next();
    r.init(10);
    r.set_result(false);
    EXPECT_EQ((std::vector<std::int32_t>{3, 4, 5, 1, 7, 2, 6, 0, 9, 8}), take(r, 10));
    EXPECT_TRUE(trace.contains("update_valid : nb_value=10-->10"));
    EXPECT_FALSE(trace.contains("-->9"));
}

// Where one cycle ends and the next begins, the value just shown never comes again at once.
TEST_F(Randomizing, NoValueTwiceInARowAcrossCycles) {
    for (const int n : {2, 3, 4}) {
        r.init(n);
        std::int32_t last = -1;
        for (int cycle = 0; cycle < 200; ++cycle) {
            const std::vector<std::int32_t> got = take(r, n);
            EXPECT_EQ(iota(n), sorted(got)) << n;
            EXPECT_NE(last, got.front()) << n << " cycle " << cycle;
            last = got.back();
            clock.advance(1);
        }
    }
}

// The values not yet handed out in a round, in the order they come: the rest of the round.
std::vector<std::int32_t> rest_of_round(Randomizator& r, int n) { return take(r, n); }

TEST_F(Randomizing, ARoundGrowsAndIsTakenUpAgainWhereItStood) {
    struct Case {
        const char* name;
        int size, shown, rejected, grown_to;
    };
    // rejected: how many of the first cycle are reported not usable, so that the round being
    // saved (the second cycle) is over fewer values than its size.
    const Case cases[] = {{"plain", 50, 20, 0, 50},
                          {"grown", 50, 20, 0, 80},
                          {"dropped", 50, 20, 7, 50},
                          {"dropped and grown twice", 50, 10, 7, 90}};
    for (const Case& c : cases) {
        Randomizator first;
        first.init(c.size);
        std::set<std::int32_t> rejected;
        for (int i = 0; i < c.size; ++i) {
            const std::int32_t v = first.try_next();
            const bool keep = static_cast<int>(rejected.size()) >= c.rejected;
            if (!keep) rejected.insert(v);
            first.set_result(keep);
        }
        clock.advance(3);
        std::set<std::int32_t> shown;
        for (const std::int32_t v : take(first, c.shown)) shown.insert(v);
        if (c.grown_to > c.size) {
            first.extend((c.size + c.grown_to) / 2);
            for (const std::int32_t v : take(first, 5)) shown.insert(v);
            first.extend(c.grown_to);
        }
        RoundState state;
        ASSERT_TRUE(first.save_state(state)) << c.name;

        // The round goes on with every value not yet shown, new ones included, once each.
        std::vector<std::int32_t> expected;
        for (int v = 0; v < c.grown_to; ++v)
            if (!shown.count(v) && !rejected.count(v)) expected.push_back(v);
        const int left = static_cast<int>(expected.size());
        Randomizator again;
        ASSERT_TRUE(again.restore_state(state, c.grown_to)) << c.name;
        const std::vector<std::int32_t> rest = rest_of_round(again, left);
        EXPECT_EQ(expected, sorted(rest)) << c.name;
        EXPECT_EQ(rest, rest_of_round(first, left)) << c.name << ": the same order";

        // Files added since the save join the round taken up.
        Randomizator more;
        ASSERT_TRUE(more.restore_state(state, c.grown_to + 3)) << c.name;
        for (int v = c.grown_to; v < c.grown_to + 3; ++v) expected.push_back(v);
        EXPECT_EQ(expected, sorted(rest_of_round(more, left + 3))) << c.name;
    }
}

TEST_F(Randomizing, BadSavedRoundsAreRefused) {
    r.init(10);
    take(r, 4);
    RoundState good;
    ASSERT_TRUE(r.save_state(good));
    const std::vector<std::pair<const char*, std::function<void(RoundState&)>>> damage = {
        {"size 0", [](RoundState& s) { s.size = 0; }},
        {"size above n", [](RoundState& s) { s.size = 11; }},
        {"position past the end", [](RoundState& s) { s.position = 10; }},
        {"position before the start", [](RoundState& s) { s.position = -1; }},
        {"dropped out of range", [](RoundState& s) { s.dropped = {10}; }},
        {"dropped not ascending",
         [](RoundState& s) {
             s.dropped = {3, 2};
         }},
        {"everything dropped", [](RoundState& s) { s.dropped = iota(10); }},
        {"last shown out of range", [](RoundState& s) { s.last_shown = 10; }},
        {"extension that shrinks",
         [](RoundState& s) {
             s.extensions = {{1, 9}};
         }},
        {"extension past n",
         [](RoundState& s) {
             s.extensions = {{1, 12}};
         }},
    };
    for (const auto& d : damage) {
        RoundState bad = good;
        d.second(bad);
        Randomizator other;
        EXPECT_FALSE(other.restore_state(bad, 10)) << d.first;
        EXPECT_EQ(0, other.get_nb_value()) << d.first;
    }
    // A fresh init has no round to keep yet.
    Randomizator fresh;
    RoundState none;
    EXPECT_FALSE(fresh.save_state(none));
    fresh.init(5);
    EXPECT_FALSE(fresh.save_state(none));
}

} // namespace
