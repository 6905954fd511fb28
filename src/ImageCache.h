// A first-in first-out cache of fitted pictures, keyed by path.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

class BitMap;

class ImageCache {
public:
    explicit ImageCache(std::int32_t n = 0);
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // Empties the cache and makes n slots; false (cache not created) when n < 1.
    bool init(std::int32_t n);
    // The cached picture of exactly that path, owned by the cache, valid until the next add,
    // make_room or init; null on a miss.
    BitMap* get(const std::string& path);
    // Takes ownership of `bitmap` and returns true; false when the cache is not created, and the
    // caller keeps the bitmap.
    bool add(const std::string& path, BitMap* bitmap);
    // When full, frees now the picture the next add will push out (its path then misses), so
    // that a decode never holds one picture more than the cache does.
    void make_room();

private:
    struct CacheSlot {
        std::string path;
        std::unique_ptr<BitMap> bitmap;
    };
    std::unique_ptr<CacheSlot[]> slots_;
    std::int32_t slot_count_ = 0; // slots allocated by the last successful init
    std::int32_t capacity_ = 0;
    std::int32_t count_ = 0;
    std::int32_t oldest_ = 0;
};
