#include "FileManager.h"

#include "BitMap.h"
#include "DirectoryScanner.h"
#include "Tracer.h"

#include <climits>

namespace {
const std::int32_t kModule = Tracer::register_module("FileManager");
constexpr int kFailureLimit = 1000;

char ascii_lower(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
} // namespace

// Case-blind for the 26 ASCII letters only; every other byte compares exactly.
bool path_contains(const std::string& path, const std::string& pattern) {
    if (pattern.size() > path.size()) return false;
    for (std::size_t start = 0; start + pattern.size() <= path.size(); ++start) {
        std::size_t i = 0;
        while (i < pattern.size() && ascii_lower(path[start + i]) == ascii_lower(pattern[i])) ++i;
        if (i == pattern.size()) return true;
    }
    return false;
}

FileManager::FileManager() : cache_(0) {}

FileManager::~FileManager() = default;

bool FileManager::addPath(const std::string& folder) {
    GW_TRACE(kModule, 4)("addPath : add <%s>", folder.c_str());
    pending_.push_back(folder);
    return true;
}

void FileManager::constructPath() {
    if (pending_.empty()) return;
    for (;;) {
        const std::string folder = pending_.front();
        pending_.pop_front();
        platform::FolderId id;
        if (platform::folder_id(folder, id)) seen_folders_.insert(id);
        TreeBrowser browser(pending_, folder, seen_folders_);
        DirectoryScanner::scan(DirectoryScanner::pattern(folder), browser);
        if (browser.files() != 0) {
            indexed_.push_back(IndexedFolder{folder, browser.files()});
            total_ = total_ > INT32_MAX - browser.files() ? INT32_MAX : total_ + browser.files();
            GW_TRACE(kModule, 4)("constructPath : add <%s> with %d files (%d remain)",
                                 folder.c_str(), browser.files(),
                                 static_cast<int>(pending_.size()));
            break;
        }
        if (pending_.empty()) break;
    }
    randomizator_.init(total_);
    GW_TRACE(kModule, 3)("constructPath : %d files in %d paths", total_,
                         static_cast<int>(indexed_.size()));
}

std::string FileManager::pathFromIndex(std::int32_t index) {
    if (total_ == 0 || index < 0) return {};
    std::int64_t before = 0;
    for (const IndexedFolder& folder : indexed_) {
        if (before + folder.files > index) {
            FileIndex finder(static_cast<std::int32_t>(index - before));
            DirectoryScanner::scan(DirectoryScanner::pattern(folder.path), finder);
            const std::string name = finder.name();
            return name.empty() ? std::string() : DirectoryScanner::join(folder.path, name);
        }
        before += folder.files;
    }
    return {};
}

void FileManager::addExcludePattern(const std::string& pattern) {
    GW_TRACE(kModule, 4)("addExcludePattern : add <%s>", pattern.c_str());
    exclude_patterns_.push_back(pattern);
}

bool FileManager::setCacheSize(std::int32_t capacity) { return cache_.init(capacity); }

bool FileManager::excluded(const std::string& path, const std::string** pattern) const {
    for (const std::string& candidate : exclude_patterns_) {
        if (path_contains(path, candidate)) {
            *pattern = &candidate;
            return true;
        }
    }
    return false;
}

BitMap* FileManager::nextImage(std::int32_t width, std::int32_t height, std::string& path) {
    // What Delete marks must be what is on screen, not what a file number names later.
    shown_path_.clear();
    if (randomizator_.get_nb_value() == 0) {
        GW_TRACE(kModule, 2)("nextImage : not any valid image !");
        return nullptr;
    }
    int failures = 0;
    for (;;) {
        if (history_.next()) {
            path = pathFromIndex(history_.current());
            BitMap* bitmap = nullptr;
            if (path.empty() || !loadImage(width, height, path, bitmap)) return nullptr;
            shown_path_ = path;
            return bitmap;
        }
        std::int32_t candidate;
        for (;;) {
            candidate = randomizator_.try_next();
            if (candidate < 0) return nullptr;
            path = pathFromIndex(candidate);
            if (!path.empty()) break;
            randomizator_.set_result(false);
        }
        const std::string* pattern = nullptr;
        if (excluded(path, &pattern)) {
            GW_TRACE(kModule, 3)("nextImage : <%s> excluded beacause it contains <%s>",
                                 path.c_str(), pattern->c_str());
        } else {
            BitMap* bitmap = nullptr;
            if (loadImage(width, height, path, bitmap)) {
                randomizator_.set_result(true);
                history_.add(candidate);
                shown_path_ = path;
                return bitmap;
            }
            GW_TRACE(kModule, 3)("nextImage : <%s> not displayabe", path.c_str());
        }
        randomizator_.set_result(false);
        if (++failures >= kFailureLimit) {
            GW_TRACE(kModule, 0)("nextImage : too much failure => exit");
            return nullptr;
        }
    }
}

bool FileManager::loadImage(std::int32_t width, std::int32_t height, const std::string& path,
                            BitMap*& bitmap) {
    if (BitMap* cached = cache_.get(path)) {
        bitmap = cached;
        return true;
    }
    // Both have been drawn by now: the picture the cache refused last time, and the one the
    // cache would let go of only once this decode is added.
    uncached_.reset();
    cache_.make_room();
    auto loaded = std::make_unique<BitMap>();
    loaded->set_window_size(width, height);
    if (!loaded->load(path)) return false;
    bitmap = loaded.get();
    if (cache_.add(path, bitmap))
        loaded.release();
    else
        uncached_ = std::move(loaded);
    return true;
}

bool FileManager::rewindToPrevious() { return history_.prev() && history_.prev(); }

bool FileManager::rewindToCurrent() { return history_.prev(); }

std::string FileManager::currentPath() { return shown_path_; }
