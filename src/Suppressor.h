// Marked files are deleted a fixed number of show steps later; the rest at the end.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <deque>
#include <string>

class DelayedSuppressor {
public:
    // Deletes one file; true when it is gone.
    class Eraser {
    public:
        virtual bool erase(const std::string& path) = 0;

    protected:
        ~Eraser() = default;
    };

    DelayedSuppressor() = default;
    // Drops what is still queued without deleting it.
    ~DelayedSuppressor() = default;

    // Drops the queue, restarts the step count; `eraser` is not owned and must outlive use.
    void init(std::int32_t wait_steps, Eraser* eraser);
    // Queues the file at `path`, which had identity `id` (a link not followed) when it was
    // shown. A path already queued is not queued twice: its entry takes the newer identity.
    void add(const std::string& path, const platform::FileId& id);
    // Counts one step and deletes every file whose wait is over.
    void suppress();
    // Deletes everything queued now.
    void suppress_all();

private:
    struct PendingFile {
        std::string path;
        std::int32_t queued_at;
        platform::FileId id;
    };
    // Why the path no longer names the file that was marked; empty when it still does.
    static std::string changed(const PendingFile& file);
    // True when nothing is left at the path.
    static bool gone(const std::string& path);
    std::deque<PendingFile> pending_;
    std::int32_t suppress_count_ = 0;
    std::int32_t wait_steps_ = 0;
    Eraser* eraser_ = nullptr;
};
