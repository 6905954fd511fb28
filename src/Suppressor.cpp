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

void DelayedSuppressor::add(const std::string& path, const platform::FileId& id) {
    GW_TRACE(kModule, 4, "add( %s,%d )", path.c_str(), suppress_count_);
    // Marked twice, a file would be deleted once and then fail, and be retried, until the end.
    for (PendingFile& queued : pending_) {
        if (queued.path != path) continue;
        GW_TRACE(kModule, 4, "~ already queued at %d", queued.queued_at);
        queued.id = id;
        return;
    }
    pending_.push_back(PendingFile{path, suppress_count_, id});
}

std::string DelayedSuppressor::changed(const PendingFile& file) {
    platform::FileId now;
    std::string why;
    switch (platform::file_identity(file.path, false, now, why)) {
    case platform::Lookup::missing:
        return "it no longer exists";
    case platform::Lookup::failed:
        return why;
    case platform::Lookup::found:
        break;
    }
    if (now.volume != file.id.volume || now.index != file.id.index)
        return "another file has taken its name";
    if (now != file.id) return "it was changed after it was shown";
    return {};
}

bool DelayedSuppressor::gone(const std::string& path) {
    platform::FileId now;
    std::string why;
    return platform::file_identity(path, false, now, why) == platform::Lookup::missing;
}

void DelayedSuppressor::suppress() {
    suppress_count_ = static_cast<std::int32_t>(static_cast<std::uint32_t>(suppress_count_) + 1u);
    GW_TRACE(kModule, 4, "suppress( %d )", suppress_count_);
    // A wait under one step would make a file queued again after a failure due in the same
    // call, and the loop would never end.
    const std::int32_t wait = wait_steps_ < 1 ? 1 : wait_steps_;
    // The eraser may reach add or suppress again while it works (the shell runs messages):
    // the entry leaves the queue first and the front is read anew each round.
    while (!pending_.empty()) {
        const std::int32_t waited =
            static_cast<std::int32_t>(static_cast<std::uint32_t>(suppress_count_) -
                                      static_cast<std::uint32_t>(pending_.front().queued_at));
        if (waited < wait) break;
        PendingFile entry = std::move(pending_.front());
        pending_.pop_front();
        // Only the very file that was on screen is deleted: not another one that has taken
        // its name since, nor the same one edited.
        const std::string reason = changed(entry);
        if (!reason.empty()) {
            GW_TRACE(kModule, 1, "suppress <%s>:%d dropped : %s", entry.path.c_str(),
                     entry.queued_at, reason.c_str());
        } else if (eraser_ && eraser_->erase(entry.path)) {
            GW_TRACE(kModule, 4, "suppress <%s>:%d", entry.path.c_str(), entry.queued_at);
        } else {
            GW_TRACE(kModule, 1, "suppress <%s>:%d failed", entry.path.c_str(), entry.queued_at);
            if (gone(entry.path))
                GW_TRACE(kModule, 1, "~ : it no longer exists, dropped");
            else
                pending_.push_back(PendingFile{entry.path, suppress_count_, entry.id});
        }
    }
}

void DelayedSuppressor::suppress_all() {
    while (!pending_.empty()) {
        const PendingFile entry = std::move(pending_.front());
        const std::string& path = entry.path;
        pending_.pop_front();
        const std::string reason = changed(entry);
        if (!reason.empty())
            GW_TRACE(kModule, 1, "suppress_all : <%s> dropped : %s", path.c_str(), reason.c_str());
        else if (eraser_ && eraser_->erase(path))
            GW_TRACE(kModule, 3, "suppress_all <%s>", path.c_str());
        else
            GW_TRACE(kModule, 1, "suppress_all : failed to erase <%s>", path.c_str());
    }
}
