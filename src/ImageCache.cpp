#include "ImageCache.h"

#include "BitMap.h"
#include "Tracer.h"

#include <iterator>
#include <utility>

namespace {
const std::int32_t kModule = Tracer::register_module("ImageCache");
constexpr std::int64_t kMiB = 1024 * 1024;

std::int64_t pixel_bytes(const BitMap* bitmap) {
    return bitmap ? static_cast<std::int64_t>(bitmap->pitch()) * bitmap->height() : 0;
}
} // namespace

ImageCache::ImageCache(std::int32_t n) { init(n); }

ImageCache::~ImageCache() = default;

bool ImageCache::init(std::int32_t n) {
    if (n >= 1)
        GW_TRACE(kModule, 3, "init( %d )", n);
    else
        GW_TRACE(kModule, 1, "init( %d )---> failure !", n);
    capacity_ = 0;
    // A failed init keeps the old pictures, unreachable, until the next good init or the end:
    // one of them may still be on screen.
    if (n < 1) return false;
    entries_.clear();
    bytes_ = 0;
    capacity_ = n;
    return true;
}

bool ImageCache::set_budget(std::int64_t bytes) {
    if (bytes < 0) {
        GW_TRACE(kModule, 1, "set_budget( %lld MiB )---> failure !",
                 static_cast<long long>(bytes / kMiB));
        return false;
    }
    GW_TRACE(kModule, 3, "set_budget( %lld MiB )", static_cast<long long>(bytes / kMiB));
    budget_ = bytes;
    return true;
}

BitMap* ImageCache::get(const std::string& path, const platform::FileId& id) {
    GW_TRACE(kModule, 4, "get( %s )", path.c_str());
    if (capacity_ != 0) {
        for (auto it = entries_.rbegin(); it != entries_.rend(); ++it) {
            if (!it->bitmap || it->path != path) continue;
            if (it->id == id) return it->bitmap.get();
            // The file was replaced or edited since it was decoded: that picture is not it.
            GW_TRACE(kModule, 4, "~ changed on disk");
            bytes_ -= it->bytes;
            entries_.erase(std::next(it).base());
            return nullptr;
        }
    }
    GW_TRACE(kModule, 4, "~ not in cache");
    return nullptr;
}

const char* ImageCache::leaving(std::size_t i, std::int32_t held, std::int64_t bytes,
                                std::int64_t coming) const {
    static const char* const kFull = "add( %s ) cache full --> no more cached : %s";
    static const char* const kBudget = "add( %s ) over the byte budget --> no more cached : %s";
    const CacheSlot& slot = entries_[i];
    if (!slot.bitmap && slot.freed_for) return slot.freed_for;
    if (held >= capacity_) return kFull;
    if (budget_ != 0 && bytes + coming > budget_) return kBudget;
    return slot.bitmap ? nullptr : kFull; // an entry that holds nothing may as well go
}

void ImageCache::make_room(std::int64_t coming) {
    if (capacity_ == 0) return;
    // A picture over the budget on its own will not be kept: it makes no room either.
    if (budget_ != 0 && coming > budget_) coming = 0;
    std::int32_t held = count();
    for (std::size_t i = 0; i < entries_.size(); ++i, --held) {
        const char* why = leaving(i, held, bytes_, coming);
        if (!why) break;
        CacheSlot& slot = entries_[i];
        if (!slot.bitmap) continue;
        bytes_ -= slot.bytes;
        slot.bytes = 0;
        slot.bitmap.reset();
        slot.freed_for = why;
    }
}

bool ImageCache::add(const std::string& path, std::unique_ptr<BitMap>& bitmap,
                     const platform::FileId& id) {
    if (capacity_ == 0) {
        GW_TRACE(kModule, 2, "add( %s )--> cache not created !", path.c_str());
        return false;
    }
    const std::int64_t size = pixel_bytes(bitmap.get());
    if (budget_ != 0 && size > budget_) {
        GW_TRACE(kModule, 4, "add( %s ) larger than the byte budget --> not cached", path.c_str());
        return false;
    }
    bool pushed_out = false;
    while (!entries_.empty()) {
        const char* why = leaving(0, count(), bytes_, size);
        if (!why) break;
        GW_TRACE(kModule, 4, why, path.c_str(), entries_.front().path.c_str());
        bytes_ -= entries_.front().bytes;
        entries_.pop_front();
        pushed_out = true;
    }
    entries_.push_back(CacheSlot{path, id, std::move(bitmap), size, nullptr});
    bytes_ += size;
    if (!pushed_out) GW_TRACE(kModule, 4, "add( %s ) --> %d in cache", path.c_str(), count());
    return true;
}
