#include "FileManager.h"

#include "Ascii.h"
#include "BitMap.h"
#include "DirectoryScanner.h"
#include "ScopedValue.h"
#include "Tracer.h"

#include <algorithm>
#include <climits>

namespace {
const std::int32_t kModule = Tracer::register_module("FileManager");
constexpr int kFailureLimit = 1000;
constexpr std::uint32_t kSettleMs = 2000;
constexpr std::int64_t kMiB = 1024 * 1024;

// The most bytes a picture fitted to width x height can take: 3 bytes a pixel, rows padded to 4.
std::int64_t frame_bytes(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return 0;
    return ((static_cast<std::int64_t>(width) * 3 + 3) / 4 * 4) * height;
}
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
    GW_TRACE(kModule, 4, "addPath : add <%s>", folder.c_str());
    configuration_.add_folder(folder);
    pending_.push_back(PendingFolder{folder, true});
    return true;
}

void FileManager::constructPath() {
    if (!index_loaded_) {
        index_loaded_ = true;
        loadIndex();
    }
    if (pending_.empty()) return;
    const std::int64_t start = index_clock_();
    const std::int32_t before = total_;
    bool recorded = false;
    for (;;) {
        const PendingFolder folder = std::move(pending_.front());
        pending_.pop_front();
        platform::FileId identity;
        std::string why;
        const bool known =
            platform::file_identity(folder.path, true, identity, why) == platform::Lookup::found;
        platform::FolderId id;
        id.volume = identity.volume;
        id.index = identity.index;
        const auto met = known ? listed_.find(id) : listed_.end();
        if (met != listed_.end()) {
            // Configured twice, inside another configured folder, or reached through a link:
            // its pictures count once.
            GW_TRACE(kModule, 3, "constructPath : <%s> skipped, the same folder as <%s>",
                     folder.path.c_str(), met->second.c_str());
        } else if (platform::is_reserved_folder(folder.path, known ? &id : nullptr)) {
            // Pictures the user deleted must not come back, nor be moved within the bin.
            GW_TRACE(kModule, 4, "constructPath : <%s> passed over (trash or system folder)",
                     folder.path.c_str());
        } else {
            if (known) {
                seen_folders_.insert(id);
                listed_.emplace(id, folder.path);
            }
            TreeBrowser browser(pending_, folder.path, seen_folders_);
            if (!DirectoryScanner::scan(DirectoryScanner::pattern(folder.path), browser) &&
                folder.configured)
                GW_TRACE(kModule, 1, "constructPath : cannot list <%s> (%s)", folder.path.c_str(),
                         platform::folder_problem(folder.path).c_str());
            if (record(folder.path, browser.files(), identity)) recorded = true;
        }
        if (pending_.empty()) break;
        // The rest waits for the next step: keys and due pictures are not held up by a walk.
        if (index_clock_() - start >= budget_ms_) break;
    }
    if (pending_.empty()) finishWalk();
    // Pictures found meanwhile join the round under way; numbers that moved down start one.
    if (total_ < before)
        randomizator_.init(total_);
    else
        randomizator_.extend(total_);
    if (!recorded)
        GW_TRACE(kModule, 3, "constructPath : %d files in %d paths", total_,
                 static_cast<int>(indexed_.size()));
    if (pending_.empty()) saveIndex();
}

bool FileManager::record(const std::string& folder, std::int32_t files,
                         const platform::FileId& id) {
    const auto slot = slots_.find(folder);
    if (slot != slots_.end()) {
        IndexedFolder& known = indexed_[slot->second];
        known.confirmed = true;
        if (known.files == files) {
            known.id = id;
            return false;
        }
        // Listed again with another count: the files after it are numbered anew.
        total_ = static_cast<std::int32_t>(
            std::min<std::int64_t>(INT32_MAX, std::int64_t(total_) - known.files + files));
        known.files = files;
        known.id = id;
    } else {
        if (files == 0) return false;
        slots_.emplace(folder, indexed_.size());
        indexed_.push_back(IndexedFolder{folder, files, id, true});
        total_ = total_ > INT32_MAX - files ? INT32_MAX : total_ + files;
    }
    GW_TRACE(kModule, 4, "constructPath : add <%s> with %d files (%d remain)", folder.c_str(),
             files, static_cast<int>(pending_.size()));
    GW_TRACE(kModule, 3, "constructPath : %d files in %d paths", total_,
             static_cast<int>(indexed_.size()));
    return true;
}

void FileManager::finishWalk() {
    std::size_t kept = 0;
    for (std::size_t i = 0; i < indexed_.size(); ++i) {
        if (!indexed_[i].confirmed || indexed_[i].files == 0) {
            GW_TRACE(kModule, 3, "constructPath : <%s> left the index", indexed_[i].path.c_str());
            continue;
        }
        if (kept != i) indexed_[kept] = std::move(indexed_[i]);
        ++kept;
    }
    indexed_.resize(kept);
    slots_.clear();
    std::int64_t sum = 0;
    for (std::size_t i = 0; i < indexed_.size(); ++i) {
        slots_.emplace(indexed_[i].path, i);
        sum += indexed_[i].files;
    }
    total_ = static_cast<std::int32_t>(std::min<std::int64_t>(INT32_MAX, sum));
}

void FileManager::loadIndex() {
    if (index_file_.empty()) return;
    SavedIndex saved;
    std::string why;
    if (!IndexStore::load(index_file_, saved, why)) {
        GW_TRACE(kModule, 1, "loadIndex : <%s> ignored (%s)", index_file_.c_str(), why.c_str());
        return;
    }
    if (saved.configuration != configuration_.value()) {
        GW_TRACE(kModule, 2, "loadIndex : <%s> ignored (saved for other folders or exclusions)",
                 index_file_.c_str());
        return;
    }
    std::int64_t sum = 0;
    for (SavedFolder& folder : saved.folders) {
        // The same path twice cannot come from a save: the file is not to be trusted.
        if (!slots_.emplace(folder.path, indexed_.size()).second) {
            GW_TRACE(kModule, 1, "loadIndex : <%s> ignored (corrupt)", index_file_.c_str());
            indexed_.clear();
            slots_.clear();
            return;
        }
        indexed_.push_back(IndexedFolder{std::move(folder.path), folder.files, folder.id, false});
        sum += folder.files;
    }
    total_ = static_cast<std::int32_t>(sum);
    GW_TRACE(kModule, 2, "loadIndex : %d folders, %d files from <%s>",
             static_cast<int>(indexed_.size()), total_, index_file_.c_str());
    if (total_ > 0 && !(saved.has_round && randomizator_.restore_state(saved.round, total_)))
        randomizator_.init(total_);
}

bool FileManager::saveIndex() {
    if (index_file_.empty() || !index_loaded_) return false;
    SavedIndex index;
    index.configuration = configuration_.value();
    for (const IndexedFolder& folder : indexed_)
        if (folder.files > 0)
            index.folders.push_back(SavedFolder{folder.path, folder.id, folder.files});
    index.has_round = randomizator_.save_state(index.round);
    if (!IndexStore::save(index_file_, index)) {
        GW_TRACE(kModule, 1, "saveIndex : cannot write <%s>", index_file_.c_str());
        return false;
    }
    GW_TRACE(kModule, 3, "saveIndex : %d folders, %d files to <%s>",
             static_cast<int>(index.folders.size()), total_, index_file_.c_str());
    return true;
}

std::string FileManager::pathFromIndex(std::int32_t index) {
    ++step_;
    return path_at(index);
}

std::string FileManager::path_at(std::int32_t index) {
    if (total_ == 0 || index < 0) return {};
    std::int64_t before = 0;
    for (const IndexedFolder& folder : indexed_) {
        if (before + folder.files > index) {
            const Listing& listing = listing_of(folder.path);
            const auto position = static_cast<std::size_t>(index - before);
            if (position >= listing.starts.size()) return {};
            return DirectoryScanner::join(folder.path,
                                          listing.names.c_str() + listing.starts[position]);
        }
        before += folder.files;
    }
    return {};
}

// A step that tries many candidates of one folder lists it once, and later steps list it
// again only when its identity or last write time changed. A change made within the same
// tick of the file system's clock as the one before leaves that time as it was (a kernel
// tick on ext4, 2 s on FAT), so a listing is kept beyond its own step only when the folder
// was last written at least 2 s before it was taken, or when it was taken again, with
// nothing changed, 2 s after it was first seen so: a later change gets a later time.
const FileManager::Listing& FileManager::listing_of(const std::string& folder) {
    Listing& l = listing_;
    platform::FileId id;
    std::string why;
    const bool known = platform::file_identity(folder, true, id, why) == platform::Lookup::found;
    const bool same = known && l.known && l.folder == folder && l.id == id;
    if (same && (l.settled || l.step == step_)) return l;
    const auto now = static_cast<std::uint32_t>(clock_ms());
    if (!same) l.first_seen = now;
    // The folder's age is read on the system's own clock, the one its time was written with.
    std::int64_t seconds = 0;
    std::int32_t milliseconds = 0;
    platform::wall_clock(seconds, milliseconds);
    const std::int64_t age = seconds * 1000 + milliseconds - platform::modified_ms(id);
    l.settled = known && (age >= kSettleMs || (same && now - l.first_seen >= kSettleMs));
    l.folder = folder;
    l.id = id;
    l.known = known;
    l.step = step_;
    l.names.clear();
    l.starts.clear();
    NameCollector collector(l.names, l.starts);
    DirectoryScanner::scan(DirectoryScanner::pattern(folder), collector);
    return l;
}

void FileManager::addExcludePattern(const std::string& pattern) {
    GW_TRACE(kModule, 4, "addExcludePattern : add <%s>", pattern.c_str());
    configuration_.add_pattern(pattern);
    exclude_patterns_.push_back(pattern);
}

bool FileManager::setCacheSize(std::int32_t capacity) { return cache_.init(capacity); }

bool FileManager::setCacheMegabytes(std::int32_t megabytes) {
    return cache_.set_budget(megabytes < 0 ? -1 : megabytes * kMiB);
}

const std::string* FileManager::excluded(const std::string& path) const {
    for (const std::string& pattern : exclude_patterns_)
        if (path_contains(path, pattern)) return &pattern;
    return nullptr;
}

void FileManager::setDecoder(Decoder* decoder) {
    forget(ahead_);
    forget(replay_);
    decoder_ = decoder ? decoder : &inline_decoder_;
}

BitMap* FileManager::nextImage(std::int32_t width, std::int32_t height, std::string& path) {
    BitMap* bitmap = nullptr;
    return beginImage(width, height, path, bitmap) == Step::shown ? bitmap : nullptr;
}

FileManager::Step FileManager::beginImage(std::int32_t width, std::int32_t height,
                                          std::string& path, BitMap*& bitmap) {
    ++step_;
    failures_ = 0;
    bitmap = nullptr;
    replaying_ = false;
    forget(replay_);
    if (randomizator_.get_nb_value() == 0) {
        GW_TRACE(kModule, 2, "nextImage : not any valid image !");
        shown_path_.clear();
        return Step::none;
    }
    if (history_.next()) {
        // A file gone since it was shown ends this step: going forward means that very file.
        replaying_ = true;
        const std::string replayed = path_at(history_.current());
        if (replayed.empty()) {
            shown_path_.clear();
            return Step::none;
        }
        ask(replay_, -1, replayed, width, height);
    }
    return advance(width, height, path, bitmap);
}

FileManager::Step FileManager::continueImage(std::int32_t width, std::int32_t height,
                                             std::string& path, BitMap*& bitmap) {
    bitmap = nullptr;
    return advance(width, height, path, bitmap);
}

void FileManager::prepareNext(std::int32_t width, std::int32_t height) {
    // Decoding ahead in this process would only move the wait, and the history's replays are
    // taken from the cache.
    if (!decoder_->decodes_ahead() || !history_.at_end() || randomizator_.get_nb_value() == 0)
        return;
    if (ahead_.active && (ahead_.width != width || ahead_.height != height)) forget(ahead_);
    failures_ = 0;
    if (!ahead_.active) draw_ahead(width, height);
}

FileManager::Step FileManager::advance(std::int32_t width, std::int32_t height, std::string& path,
                                       BitMap*& bitmap) {
    // What Delete marks must be what is on screen: the picture shown last stays the one on
    // screen while this step waits, and only a step that ends says what replaces it.
    while (failures_ < kFailureLimit) {
        Coming& coming = replaying_ ? replay_ : ahead_;
        if (!replaying_) {
            // A picture decoded ahead for another window size is asked for again.
            if (coming.active && (coming.width != width || coming.height != height)) forget(coming);
            if (!coming.active && !draw_ahead(width, height)) break;
        }
        // accept asks again for a picture whose file changed or that left the cache: twice
        // at most, then the file counts as not displayable.
        for (int asked = 0;; ++asked) {
            if (!settle(coming)) return Step::waiting;
            if (coming.failed || asked == 2) break;
            if (accept(coming, path, bitmap)) return Step::shown;
        }
        if (replaying_) {
            forget(coming);
            shown_path_.clear();
            return Step::none;
        }
        GW_TRACE(kModule, 3, "nextImage : <%s> not displayabe", coming.path.c_str());
        randomizator_.set_result(false);
        forget(coming);
        ++failures_;
    }
    shown_path_.clear();
    if (failures_ >= kFailureLimit) GW_TRACE(kModule, 0, "nextImage : too much failure => exit");
    return Step::none;
}

std::int32_t FileManager::draw(std::string& path) {
    for (;;) {
        const std::int32_t candidate = randomizator_.try_next();
        if (candidate < 0) return candidate;
        path = path_at(candidate);
        if (!path.empty()) return candidate;
        randomizator_.set_result(false);
    }
}

bool FileManager::draw_ahead(std::int32_t width, std::int32_t height) {
    while (failures_ < kFailureLimit) {
        std::string path;
        const std::int32_t candidate = draw(path);
        if (candidate < 0) return false;
        if (const std::string* pattern = excluded(path)) {
            GW_TRACE(kModule, 3, "nextImage : <%s> excluded beacause it contains <%s>",
                     path.c_str(), pattern->c_str());
            randomizator_.set_result(false);
            ++failures_;
            continue;
        }
        ask(ahead_, candidate, path, width, height);
        return true;
    }
    return false;
}

void FileManager::ask(Coming& coming, std::int32_t candidate, const std::string& path,
                      std::int32_t width, std::int32_t height) {
    forget(coming);
    coming.active = true;
    coming.candidate = candidate;
    coming.path = path;
    coming.width = width;
    coming.height = height;
    // The picture is what the path leads to; Delete acts on the entry itself (a link stays a
    // link), so both identities are read. An empty file holds no picture: not even its first
    // bytes are worth reading.
    std::string why;
    if (platform::file_identity(path, true, coming.content, why) != platform::Lookup::found ||
        platform::file_identity(path, false, coming.id, why) != platform::Lookup::found ||
        coming.content.size == 0) {
        coming.failed = true;
        return;
    }
    // The picture on screen stays where it is while the step waits, even when its file has
    // changed: the cache would destroy it on a look-up of the new identity.
    const bool on_screen_changed =
        decoder_->decodes_ahead() && path == shown_path_ && coming.content != shown_content_;
    if (!on_screen_changed && cache_.get(path, coming.content)) {
        coming.cached = true;
        return;
    }
    if (!decoder_->decodes_ahead()) {
        // Both have been drawn by now: the picture the cache refused last time, and those the
        // cache would let go of only once this decode is added.
        uncached_.reset();
        cache_.make_room(frame_bytes(width, height));
    }
    coming.ticket = decoder_->request(path, width, height);
    coming.decoding = true;
}

bool FileManager::settle(Coming& coming) {
    if (!coming.decoding) return true;
    if (!decoder_->collect(coming.ticket, coming.picture)) return false;
    coming.decoding = false;
    if (!coming.picture) {
        coming.failed = true;
        return true;
    }
    // Replaced while it was decoded: what was decoded may be either file.
    platform::FileId after;
    std::string why;
    if (platform::file_identity(coming.path, true, after, why) != platform::Lookup::found ||
        after != coming.content) {
        GW_TRACE(kModule, 3, "loadImage : <%s> changed while it was decoded", coming.path.c_str());
        coming.picture.reset();
        coming.failed = true;
    }
    return true;
}

void FileManager::forget(Coming& coming) {
    if (coming.decoding) decoder_->drop(coming.ticket);
    coming = Coming();
}

BitMap* FileManager::take(Coming& coming) {
    if (coming.cached) return cache_.get(coming.path, coming.content);
    // The picture on screen until now is replaced: the one the cache refused can go.
    uncached_.reset();
    BitMap* taken = coming.picture.get();
    if (!cache_.add(coming.path, coming.picture, coming.content))
        uncached_ = std::move(coming.picture);
    return taken;
}

bool FileManager::accept(Coming& coming, std::string& path, BitMap*& bitmap) {
    // A picture decoded ahead may have waited a while: the file it was made from must still
    // be there as it was.
    platform::FileId now;
    std::string why;
    if (decoder_->decodes_ahead() &&
        (platform::file_identity(coming.path, true, now, why) != platform::Lookup::found ||
         now != coming.content)) {
        ask(coming, coming.candidate, coming.path, coming.width, coming.height);
        return false;
    }
    BitMap* shown = take(coming);
    if (!shown) {
        // Pushed out of the cache since it was asked for.
        ask(coming, coming.candidate, coming.path, coming.width, coming.height);
        return false;
    }
    if (coming.candidate >= 0) {
        randomizator_.set_result(true);
        history_.add(coming.candidate);
    }
    shown_path_ = coming.path;
    shown_id_ = coming.id;
    shown_content_ = coming.content;
    path = coming.path;
    bitmap = shown;
    coming = Coming();
    return true;
}

bool FileManager::loadImage(std::int32_t width, std::int32_t height, const std::string& path,
                            BitMap*& bitmap, platform::FileId& id) {
    // Asked for at once, so decoded here whatever decodes the show's steps.
    const ScopedValue<Decoder*> here(decoder_, &inline_decoder_);
    Coming coming;
    ask(coming, -1, path, width, height);
    settle(coming);
    BitMap* taken = coming.failed ? nullptr : take(coming);
    if (!taken) return false;
    bitmap = taken;
    id = coming.id;
    return true;
}

bool FileManager::rewindToPrevious() { return history_.prev() && history_.prev(); }

bool FileManager::rewindToCurrent() { return history_.prev(); }

std::string FileManager::currentPath() { return shown_path_; }

bool FileManager::currentPicture(std::string& path, platform::FileId& id) const {
    if (shown_path_.empty()) return false;
    path = shown_path_;
    id = shown_id_;
    return true;
}
