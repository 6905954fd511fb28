// HEIF and AVIF pictures (phones' photos), decoded by libheif where the build has it; a build
// without it refuses every such picture.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

class HeifDecoder {
public:
    // Where decoded rows go: the top row of the picture, and the distance from one row to the
    // next below it (negative for a bottom-up bitmap).
    struct Rows {
        std::uint8_t* top = nullptr;
        std::ptrdiff_t stride = 0;
    };
    // Called once with the decoded size; returns null rows to give up.
    using Target = std::function<Rows(std::int32_t width, std::int32_t height)>;

    // Whether this build decodes HEIF and AVIF at all.
    static bool available();
    // Reads the container of `path`, not its pixels; null with `error` set when unreadable.
    static std::unique_ptr<HeifDecoder> open(const char* path, std::string& error);
    ~HeifDecoder();
    HeifDecoder(const HeifDecoder&) = delete;
    HeifDecoder& operator=(const HeifDecoder&) = delete;

    // Size of the primary picture as shown (rotation and mirroring of the container applied).
    std::int32_t width() const;
    std::int32_t height() const;
    // Decodes the primary picture upright, or a thumbnail of it when one holds at least
    // min_width x min_height pixels, as blue, green, red bytes into the rows that `target`
    // gives. False with `error` set when it cannot.
    bool decode(std::int32_t min_width, std::int32_t min_height, const Target& target,
                std::string& error);

    struct State;

private:
    explicit HeifDecoder(std::unique_ptr<State> state);
    std::unique_ptr<State> state_;
};
