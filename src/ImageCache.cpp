#include "ImageCache.h"

#include "BitMap.h"
#include "Tracer.h"

#include <new>

namespace {
const std::int32_t kModule = Tracer::register_module("ImageCache");
}

ImageCache::ImageCache(std::int32_t n) { init(n); }

ImageCache::~ImageCache() = default;

bool ImageCache::init(std::int32_t n) {
    if (n >= 1)
        GW_TRACE(kModule, 3)("init( %d )", n);
    else
        GW_TRACE(kModule, 1)("init( %d )---> failure !", n);
    count_ = 0;
    oldest_ = 0;
    capacity_ = 0;
    // A failed init keeps the old slots, unreachable, until the next good init or the end.
    if (n < 1) return false;

    slots_.reset();
    slot_count_ = 0;
    // The number comes from the configuration file: too many slots must not throw.
    slots_.reset(new (std::nothrow) CacheSlot[static_cast<std::size_t>(n)]);
    if (!slots_) {
        GW_TRACE(kModule, 1)("init( %d )---> failure !", n);
        return false;
    }
    slot_count_ = n;
    capacity_ = n;
    return true;
}

BitMap* ImageCache::get(const std::string& path) {
    GW_TRACE(kModule, 4)("get( %s )", path.c_str());
    for (std::int32_t i = count_ - 1; i >= 0; --i)
        if (slots_[i].bitmap && slots_[i].path == path) return slots_[i].bitmap.get();
    GW_TRACE(kModule, 4)("~ not in cache");
    return nullptr;
}

void ImageCache::make_room() {
    if (capacity_ != 0 && count_ == capacity_) slots_[oldest_].bitmap.reset();
}

bool ImageCache::add(const std::string& path, BitMap* bitmap) {
    if (capacity_ == 0) {
        GW_TRACE(kModule, 2)("add( %s )--> cache not created !", path.c_str());
        return false;
    }
    if (count_ == capacity_) {
        CacheSlot& slot = slots_[oldest_];
        GW_TRACE(kModule, 4)("add( %s ) cache full --> no more cached : %s", path.c_str(),
                             slot.path.c_str());
        slot.bitmap.reset(bitmap);
        slot.path = path;
        oldest_ = (oldest_ + 1) % capacity_;
    } else {
        GW_TRACE(kModule, 4)("add( %s ) --> %d in cache", path.c_str(), count_ + 1);
        CacheSlot& slot = slots_[(oldest_ + count_) % capacity_];
        slot.bitmap.reset(bitmap);
        slot.path = path;
        ++count_;
    }
    return true;
}
