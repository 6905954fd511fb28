#include "Suppressor.h"

#include "Tracer.h"

#include <utility>

namespace {
const std::int32_t kModule = Tracer::register_module("DelayedSuppressor");
}

void DelayedSuppressor::init(std::int32_t wait_steps, Eraser* eraser) {
    pending_.clear();
    suppress_count_ = 0;
    wait_steps_ = wait_steps;
    eraser_ = eraser;
}

void DelayedSuppressor::add(const std::string& path) {
    GW_TRACE(kModule, 4)("add( %s,%d )", path.c_str(), suppress_count_);
    pending_.push_back(PendingFile{path, suppress_count_});
}

void DelayedSuppressor::suppress() {
    suppress_count_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(suppress_count_) + 1u);
    GW_TRACE(kModule, 4)("suppress( %d )", suppress_count_);
    // A wait under one step would make a file queued again after a failure due in the same
    // call, and the loop would never end.
    const std::int32_t wait = wait_steps_ < 1 ? 1 : wait_steps_;
    // The eraser may reach add or suppress again while it works (the shell runs messages):
    // the entry leaves the queue first and the front is read anew each round.
    while (!pending_.empty()) {
        const std::int32_t waited = static_cast<std::int32_t>(
            static_cast<std::uint32_t>(suppress_count_) -
            static_cast<std::uint32_t>(pending_.front().queued_at));
        if (waited < wait) break;
        PendingFile entry = std::move(pending_.front());
        pending_.pop_front();
        if (eraser_ && eraser_->erase(entry.path)) {
            GW_TRACE(kModule, 4)("suppress <%s>:%d", entry.path.c_str(), entry.queued_at);
        } else {
            GW_TRACE(kModule, 1)("suppress <%s>:%d failed", entry.path.c_str(), entry.queued_at);
            pending_.push_back(PendingFile{entry.path, suppress_count_});
        }
    }
}

void DelayedSuppressor::suppress_all() {
    while (!pending_.empty()) {
        const std::string path = std::move(pending_.front().path);
        pending_.pop_front();
        if (eraser_ && eraser_->erase(path))
            GW_TRACE(kModule, 3)("suppress_all <%s>", path.c_str());
        else
            GW_TRACE(kModule, 1)("suppress_all : failed to erase <%s>", path.c_str());
    }
}
