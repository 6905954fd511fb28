// Chooses the next picture: file index, permutation, exclusions, cache and history.
#pragma once

#include "History.h"
#include "ImageCache.h"
#include "Platform.h"
#include "Randomizator.h"

#include <cstdint>
#include <deque>
#include <memory>
#include <set>
#include <string>
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
    // One step of building the index: at most one folder with files recorded.
    void constructPath();
    // Full path of file number `index`; empty when no file can be named for it.
    std::string pathFromIndex(std::int32_t index);

    void addExcludePattern(const std::string& pattern);
    bool setCacheSize(std::int32_t capacity);

    // The next picture fitted to width x height, or null; fills `path` with its full path.
    // The bitmap is owned by the file manager (its cache), valid until the next call.
    BitMap* nextImage(std::int32_t width, std::int32_t height, std::string& path);
    // The picture of `path` from the cache or freshly decoded; ownership as for nextImage.
    bool loadImage(std::int32_t width, std::int32_t height, const std::string& path,
                   BitMap*& bitmap);
    bool rewindToPrevious();
    bool rewindToCurrent();
    // Path of the picture the last nextImage returned; empty when it returned none.
    std::string currentPath();

    std::int32_t total() const { return total_; }
    // No folder waits to be listed: constructPath has nothing left to do.
    bool indexComplete() const { return pending_.empty(); }

private:
    struct IndexedFolder {
        std::string path;
        std::int32_t files;
    };
    bool excluded(const std::string& path, const std::string** pattern) const;

    std::vector<IndexedFolder> indexed_;
    std::deque<std::string> pending_;
    std::vector<std::string> exclude_patterns_;
    std::int32_t total_ = 0;
    Randomizator randomizator_;
    History history_;
    ImageCache cache_;
    std::set<platform::FolderId> seen_folders_;
    std::unique_ptr<BitMap> uncached_; // a picture the cache did not take
    std::string shown_path_;
};
