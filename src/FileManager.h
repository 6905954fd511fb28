// Chooses the next picture: file index, permutation, exclusions, cache and history.
#pragma once

#include "DirectoryScanner.h"
#include "History.h"
#include "ImageCache.h"
#include "IndexStore.h"
#include "Platform.h"
#include "Randomizator.h"

#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <set>
#include <string>
#include <unordered_map>
#include <vector>

class BitMap;

// True when pattern occurs in path, the 26 ASCII letters compared without regard to case.
bool path_contains(const std::string& path, const std::string& pattern);

class FileManager {
public:
    FileManager();
    ~FileManager();
    FileManager(const FileManager&) = delete;
    FileManager& operator=(const FileManager&) = delete;

    // Queues a configured folder; always true.
    bool addPath(const std::string& folder);
    // One step of building the index: folders are listed, breadth first, for up to the step's
    // budget (at least one folder). The first step takes up the saved index, if any.
    void constructPath();
    // Milliseconds of listing that one constructPath may spend, read on `clock` (the
    // monotonic clock unless given; tests give their own).
    using IndexClock = std::int64_t (*)();
    void setIndexBudget(std::int32_t ms, IndexClock clock = nullptr) {
        budget_ms_ = ms;
        index_clock_ = clock ? clock : &platform::monotonic_ms;
    }
    // The index is loaded from and saved to `file`; empty for none (the default).
    void useIndexFile(const std::string& file) { index_file_ = file; }
    // Saves the index and the random round to the index file; false when none was written.
    bool saveIndex();
    // Full path of file number `index`; empty when no file can be named for it. The last
    // folder's listing is kept while the folder stays the same (identity and last write).
    std::string pathFromIndex(std::int32_t index);

    void addExcludePattern(const std::string& pattern);
    bool setCacheSize(std::int32_t capacity);
    // Byte budget of the cache in MiB, 0 for none; false (budget unchanged) when negative.
    bool setCacheMegabytes(std::int32_t megabytes);

    // The next picture fitted to width x height, or null; fills `path` with its full path.
    // The bitmap is owned by the file manager (its cache), valid until the next call.
    BitMap* nextImage(std::int32_t width, std::int32_t height, std::string& path);
    // The picture of `path` from the cache or freshly decoded; ownership as for nextImage.
    // `id` receives the identity of the file itself (a link not followed) as it was shown.
    bool loadImage(std::int32_t width, std::int32_t height, const std::string& path,
                   BitMap*& bitmap, platform::FileId& id);
    bool rewindToPrevious();
    bool rewindToCurrent();
    // Path of the picture the last nextImage returned; empty when it returned none.
    std::string currentPath();
    // The path and identity of the picture the last nextImage returned; false when none.
    bool currentPicture(std::string& path, platform::FileId& id) const;

    std::int32_t total() const { return total_; }
    // No folder waits to be listed: constructPath has nothing left to do.
    bool indexComplete() const { return pending_.empty(); }

private:
    struct IndexedFolder {
        std::string path;
        std::int32_t files;
        platform::FileId id;    // the folder's identity and last write when counted
        bool confirmed = false; // listed by this run's walk
    };
    // The saved index, when its configuration is this one: its folders become the index.
    void loadIndex();
    // Takes one listed folder's count into the index; true when it changed the index.
    bool record(const std::string& folder, std::int32_t files, const platform::FileId& id);
    // The walk is over: folders it did not meet leave the index.
    void finishWalk();
    // One folder's file names, in listing order, with the folder's identity when listed.
    struct Listing {
        std::string folder;
        platform::FileId id;
        bool known = false;           // the identity was read: the listing may be kept
        bool settled = false;         // listed again 2 s after it was first seen unchanged
        std::uint32_t first_seen = 0; // clock_ms() when this identity was first listed
        std::uint32_t step = 0;       // the step in which it was listed
        std::string names;
        std::vector<std::uint32_t> starts;
    };
    // The first exclusion pattern that `path` contains; null when none does.
    const std::string* excluded(const std::string& path) const;
    // The picture of the file the history steps forward to; null when it cannot be shown.
    BitMap* replay(std::int32_t width, std::int32_t height, std::string& path);
    // The permutation's next number that names a file, its path in `path`; -1 when the
    // permutation has none left.
    std::int32_t draw(std::string& path);
    // The picture of a drawn file, which then joins the history; null, and the draw counted
    // as failed, when it is excluded or cannot be shown.
    BitMap* try_candidate(std::int32_t candidate, std::int32_t width, std::int32_t height,
                          const std::string& path);
    // The picture of `path`, remembered as the one on screen; null when it cannot be shown.
    BitMap* show(std::int32_t width, std::int32_t height, const std::string& path);
    std::string path_at(std::int32_t index);
    const Listing& listing_of(const std::string& folder);

    std::vector<IndexedFolder> indexed_;
    std::unordered_map<std::string, std::size_t> slots_; // path to its place in indexed_
    std::deque<PendingFolder> pending_;
    std::map<platform::FolderId, std::string> listed_; // folders this walk listed
    std::vector<std::string> exclude_patterns_;
    std::int32_t total_ = 0;
    std::int32_t budget_ms_ = 8;
    IndexClock index_clock_ = &platform::monotonic_ms;
    std::string index_file_;
    bool index_loaded_ = false; // the saved index was looked for
    IndexStore::ConfigurationKey configuration_;
    Randomizator randomizator_;
    History history_;
    ImageCache cache_;
    std::set<platform::FolderId> seen_folders_;
    std::unique_ptr<BitMap> uncached_; // a picture the cache did not take
    std::string shown_path_;
    platform::FileId shown_id_;
    Listing listing_;
    std::uint32_t step_ = 0; // counts nextImage and pathFromIndex calls
};
