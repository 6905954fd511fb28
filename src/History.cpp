#include "History.h"

#include "Tracer.h"

namespace {
const std::int32_t kModule = Tracer::register_module("History");
}

// Every slot starts as kNoEntry, so stepping back past the first entry names no file.
History::History() : entries_(kSize, kNoEntry) {}

void History::add(std::int32_t value) {
    pos_ = (pos_ + 1) % kSize;
    back_ = 0;
    if (pos_ > def_) def_ = pos_;
    entries_[pos_] = value;
    GW_TRACE(kModule, 4, "add( %d ) pos:%d def:%d back:%d", value, pos_, def_, back_);
}

bool History::prev() {
    if (back_ > def_) {
        GW_TRACE(kModule, 4, "prev failed pos:%d def:%d back:%d", pos_, def_, back_);
        return false;
    }
    ++back_;
    GW_TRACE(kModule, 4, "prev pos:%d def:%d back:%d", pos_, def_, back_);
    return true;
}

bool History::next() {
    if (back_ == 0) {
        GW_TRACE(kModule, 4, "next failed pos:%d def:%d back:%d", pos_, def_, 0);
        return false;
    }
    --back_;
    GW_TRACE(kModule, 4, "next pos:%d def:%d back:%d", pos_, def_, back_);
    return true;
}

std::int32_t History::current() {
    const std::int32_t i = (pos_ - back_ + kSize) % kSize;
    GW_TRACE(kModule, 4, "current-->[%d]%d pos:%d def:%d back:%d", i, entries_[i], pos_, def_,
             back_);
    return entries_[i];
}
