// One picture decoded, converted to 24 bits per pixel and fitted to a window.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

struct FIBITMAP;

class BitMap {
public:
    // The owner of a decoder bitmap, which it unloads when it goes.
    struct Unloader {
        void operator()(FIBITMAP* bitmap) const;
    };
    using Dib = std::unique_ptr<FIBITMAP, Unloader>;

    BitMap();
    ~BitMap();
    BitMap(const BitMap&) = delete;
    BitMap& operator=(const BitMap&) = delete;

    // The area to fill, in pixels.
    void set_window_size(std::int32_t window_width, std::int32_t window_height);
    // With a backdrop, the picture made is the whole area: around the fitted picture, the same
    // picture scaled to cover it, blurred and darkened. Without (the default), the fitted
    // picture alone, which the display centres on black.
    void set_backdrop(bool backdrop) { backdrop_ = backdrop; }
    // Decodes and fits the file; false (object unchanged) when it cannot be shown.
    bool load(const std::string& path);

    // Makes an empty width x height picture whose pixels the caller fills through
    // writable_bits() (a picture decoded elsewhere); false (object unchanged) when the size is
    // not positive or the memory cannot be had.
    bool allocate(std::int32_t width, std::int32_t height);
    std::uint8_t* writable_bits();

    // Size of the fitted picture in pixels, valid after a successful load.
    std::int32_t width() const { return width_; }
    std::int32_t height() const { return height_; }
    // Bottom-up rows of blue, green, red bytes, each row pitch() bytes; owned by this object,
    // valid until the next load or destruction.
    const std::uint8_t* bits() const;
    // Bytes per row: width * 3 rounded up to a multiple of 4.
    std::int32_t pitch() const;
    // When the photo was taken, as its EXIF DateTimeOriginal says ("YYYY:MM:DD HH:MM:SS");
    // empty when the file does not say. Read with the pixels, from the same bytes.
    const std::string& taken() const { return taken_; }
    void set_taken(const std::string& taken) { taken_ = taken; }

    // The fitting arithmetic: iw x ih fitted into window_width x window_height.
    static void fit(std::int32_t iw, std::int32_t ih, std::int32_t window_width,
                    std::int32_t window_height, std::int32_t& w, std::int32_t& h);

private:
    bool load_file(const char* path);

    std::int32_t width_ = 0;
    std::int32_t height_ = 0;
    std::int32_t window_width_ = 0;
    std::int32_t window_height_ = 0;
    bool backdrop_ = false;
    Dib picture_; // the decoder's bitmap of the fitted picture
    std::string taken_;
};
