// A cross-fade from the old picture to the new one: its timing and its mix of pixels.
#pragma once

#include <cstddef>
#include <cstdint>

class Fade {
public:
    // Time between two frames of a fade, in ms: 30 frames a second.
    static constexpr std::int32_t kFramePeriodMs = 33;
    // The new picture's full weight.
    static constexpr std::uint32_t kFull = 256;

    // Begins a fade of `duration_ms` at `now_ms` (elapsed_ms readings); none for 0 or less.
    void start(std::int32_t now_ms, std::int32_t duration_ms);
    // Ends the fade at once: the next weight is kFull.
    void stop() { running_ = false; }
    bool running() const { return running_; }
    // The new picture's weight at `now_ms`, 0 to kFull; kFull once the fade is over (which it
    // then is: running() turns false).
    std::uint32_t weight(std::int32_t now_ms);
    // The elapsed_ms reading at which the next frame is due (a frame period after the last
    // weight asked for, the fade's end at the latest); false when no fade runs.
    bool next_frame(std::int32_t& due_ms) const;

private:
    bool running_ = false;
    std::int32_t start_ms_ = 0;
    std::int32_t duration_ms_ = 0;
    std::uint32_t shown_ms_ = 0; // since the start, when the last weight was asked for
};

// Mixes `count` 32-bit pixels (four 8-bit channels, any order): each channel of `out` is
// (to * weight + from * (kFull - weight)) / kFull, so weight kFull gives `to` exactly.
void mix_pixels(const std::uint32_t* from, const std::uint32_t* to, std::uint32_t* out,
                std::size_t count, std::uint32_t weight);
