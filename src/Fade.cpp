#include "Fade.h"

namespace {
// Time since `start` on the wrapping millisecond clock: it only grows.
std::uint32_t since(std::int32_t now, std::int32_t start) {
    return static_cast<std::uint32_t>(now) - static_cast<std::uint32_t>(start);
}
} // namespace

void Fade::start(std::int32_t now_ms, std::int32_t duration_ms) {
    running_ = duration_ms > 0;
    start_ms_ = now_ms;
    shown_ms_ = 0;
    duration_ms_ = duration_ms;
}

std::uint32_t Fade::weight(std::int32_t now_ms) {
    if (!running_) return kFull;
    const std::uint32_t elapsed = since(now_ms, start_ms_);
    const auto duration = static_cast<std::uint32_t>(duration_ms_);
    shown_ms_ = elapsed;
    if (elapsed >= duration) {
        running_ = false;
        return kFull;
    }
    // Below 2^31 * 256 in 64 bits.
    return static_cast<std::uint32_t>(std::uint64_t{elapsed} * kFull / duration);
}

bool Fade::next_frame(std::int32_t& due_ms) const {
    if (!running_) return false;
    // A frame period after the last frame shown, the end at the latest.
    const auto duration = static_cast<std::uint32_t>(duration_ms_);
    std::uint32_t at = shown_ms_ + kFramePeriodMs;
    if (at > duration) at = duration;
    due_ms = static_cast<std::int32_t>(static_cast<std::uint32_t>(start_ms_) + at);
    return true;
}

// Two channels at a time, in the spare bits between them: red and blue in one word, green
// and the fourth channel in the other, each product below 2^16.
void mix_pixels(const std::uint32_t* from, const std::uint32_t* to, std::uint32_t* out,
                std::size_t count, std::uint32_t weight) {
    const std::uint32_t w = weight > Fade::kFull ? Fade::kFull : weight;
    const std::uint32_t v = Fade::kFull - w;
    for (std::size_t i = 0; i < count; ++i) {
        const std::uint32_t a = from[i];
        const std::uint32_t b = to[i];
        const std::uint32_t even =
            (((b & 0x00ff00ffu) * w + (a & 0x00ff00ffu) * v) >> 8) & 0x00ff00ffu;
        const std::uint32_t odd =
            ((((b >> 8) & 0x00ff00ffu) * w + ((a >> 8) & 0x00ff00ffu) * v) >> 8) & 0x00ff00ffu;
        out[i] = even | (odd << 8);
    }
}
