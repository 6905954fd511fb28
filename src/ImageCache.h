// A first-in first-out cache of fitted pictures, keyed by path and file identity, bounded by
// a number of pictures and by the bytes of their pixels.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <string>

class BitMap;

class ImageCache {
public:
    static constexpr std::int64_t kDefaultBudget = 128LL * 1024 * 1024;

    // n pictures at most and the default byte budget; nothing is allocated until pictures come.
    explicit ImageCache(std::int32_t n = 0);
    ~ImageCache();
    ImageCache(const ImageCache&) = delete;
    ImageCache& operator=(const ImageCache&) = delete;

    // Empties the cache and allows n pictures; false (cache not created) when n < 1.
    bool init(std::int32_t n);
    // Bytes of pixels the cache may hold, 0 for no byte limit; false (budget unchanged) when
    // negative.
    bool set_budget(std::int64_t bytes);
    // The cached picture of exactly that path, cached while its file had identity `id`; owned
    // by the cache, valid until the next get, add, make_room or init; null on a miss. An entry
    // of that path with another identity (the file changed on disk) is destroyed.
    BitMap* get(const std::string& path, const platform::FileId& id = {});
    // Takes `bitmap` (left null) and returns true; false, `bitmap` untouched, when the cache is
    // not created or the picture alone is over the budget.
    bool add(const std::string& path, std::unique_ptr<BitMap>& bitmap,
             const platform::FileId& id = {});
    // Frees now the pictures that an add of up to `coming` bytes will push out (their paths
    // then miss), so that a decode never holds more than the cache may.
    void make_room(std::int64_t coming = 0);

    // Pictures held, and the bytes of their pixels.
    std::int32_t count() const { return static_cast<std::int32_t>(entries_.size()); }
    std::int64_t bytes() const { return bytes_; }

private:
    struct CacheSlot {
        std::string path;
        platform::FileId id;
        std::unique_ptr<BitMap> bitmap; // null once make_room has freed it
        std::int64_t bytes = 0;
        const char* freed_for = nullptr; // the trace format of the reason it was freed early
    };
    // The trace format of the reason entry i leaves before a picture of `coming` bytes is
    // added, with `held` entries and `bytes` of pixels from i on; null when it stays.
    const char* leaving(std::size_t i, std::int32_t held, std::int64_t bytes,
                        std::int64_t coming) const;

    std::deque<CacheSlot> entries_; // oldest first
    std::int32_t capacity_ = 0;
    std::int64_t budget_ = kDefaultBudget;
    std::int64_t bytes_ = 0; // of the pictures still held
};
