#include "Fade.h"

#include <gtest/gtest.h>

#include <climits>
#include <cstdint>

namespace {

// The weight follows the time since the start, also across the clock's wrap; frames come a
// period after the last one shown and never after the end, and the end stops the fade.
TEST(Fade, WeightAndFramesFollowTheClockAcrossItsWrap) {
    for (const std::int32_t start : {0, 1000, INT32_MAX - 100}) {
        const auto at = [&](std::uint32_t ms) {
            return static_cast<std::int32_t>(static_cast<std::uint32_t>(start) + ms);
        };
        Fade fade;
        fade.start(start, 800);
        ASSERT_TRUE(fade.running());
        std::int32_t due = 0;
        EXPECT_EQ(0u, fade.weight(at(0)));
        ASSERT_TRUE(fade.next_frame(due));
        EXPECT_EQ(at(33), due);
        EXPECT_EQ(128u, fade.weight(at(400))) << start;
        ASSERT_TRUE(fade.next_frame(due));
        EXPECT_EQ(at(433), due);
        EXPECT_EQ(255u, fade.weight(at(799)));
        ASSERT_TRUE(fade.next_frame(due));
        EXPECT_EQ(at(800), due);
        EXPECT_EQ(Fade::kFull, fade.weight(at(800)));
        EXPECT_FALSE(fade.running());
        EXPECT_FALSE(fade.next_frame(due));
    }
    Fade none;
    none.start(5, 0);
    EXPECT_FALSE(none.running());
    EXPECT_EQ(Fade::kFull, none.weight(5));
}

// Each channel on its own, rounded down, with the ends exact.
TEST(Fade, MixKeepsChannelsApartAndTheEndsExact) {
    const std::uint32_t from[] = {0x00000000u, 0xffffffffu, 0x10ff2080u};
    const std::uint32_t to[] = {0xffffffffu, 0x00000000u, 0xf000e040u};
    const struct {
        std::uint32_t weight;
        std::uint32_t out[3];
    } cases[] = {{0, {0x00000000u, 0xffffffffu, 0x10ff2080u}},
                 {Fade::kFull, {0xffffffffu, 0x00000000u, 0xf000e040u}},
                 {128, {0x7f7f7f7fu, 0x7f7f7f7fu, 0x807f8060u}}};
    for (const auto& c : cases) {
        std::uint32_t out[3] = {};
        mix_pixels(from, to, out, 3, c.weight);
        for (int i = 0; i < 3; ++i) EXPECT_EQ(c.out[i], out[i]) << c.weight << " " << i;
    }
}

} // namespace
