// Chooses the next picture: file index, permutation, exclusions, cache and history.
#pragma once

#include "Decoder.h"
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

    // Where pictures are decoded; not owned, and it must outlive every later call. Without
    // one, they are decoded in this process.
    void setDecoder(Decoder* decoder);
    // Pictures decoded in this process are made with a backdrop around them.
    void setBackdrop(bool backdrop) { inline_decoder_.set_backdrop(backdrop); }

    // How a step towards the next picture stands.
    enum class Step { shown, none, waiting };
    // Begins the step to the next picture fitted to width x height: `shown` with it in
    // `bitmap` and its full path in `path`, `none` when there is none to show, `waiting`
    // while its decode runs (then continueImage, once the decoder has news). The bitmap is
    // owned by the file manager, valid until the next step shows another.
    Step beginImage(std::int32_t width, std::int32_t height, std::string& path, BitMap*& bitmap);
    // Carries on the step that waited; the same outcomes.
    Step continueImage(std::int32_t width, std::int32_t height, std::string& path, BitMap*& bitmap);
    // Asks for the picture of the step after this one, when the decoder works beside the show.
    void prepareNext(std::int32_t width, std::int32_t height);
    // The next picture fitted to width x height, or null, in one call; fills `path` with its
    // full path. Only a decoder in this process answers at once: with one beside the show, a
    // step still waiting gives null.
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
    // A picture on its way to the screen: a drawn file number (or a replay) and its decode.
    struct Coming {
        bool active = false;
        std::int32_t candidate = -1; // the permutation's number; -1 for a replay
        std::string path;
        platform::FileId content; // what the path led to when it was asked for
        platform::FileId id;      // the entry itself, as Delete will find it
        std::int32_t width = 0;   // the size it is fitted to
        std::int32_t height = 0;
        bool failed = false;   // it cannot be shown
        bool cached = false;   // the cache held it when asked for
        bool decoding = false; // `ticket` is out
        Decoder::Ticket ticket = 0;
        std::unique_ptr<BitMap> picture;
    };
    // The permutation's next number that names a file, its path in `path`; -1 when the
    // permutation has none left.
    std::int32_t draw(std::string& path);
    // Draws the next file that is not excluded into ahead_ and asks for its picture; false
    // when there is none, or after too many failures in this step.
    bool draw_ahead(std::int32_t width, std::int32_t height);
    // Starts `coming` on `path`: the cache's picture, or a decode.
    void ask(Coming& coming, std::int32_t candidate, const std::string& path, std::int32_t width,
             std::int32_t height);
    // Takes in a finished decode; false while it is still out.
    bool settle(Coming& coming);
    // Forgets `coming`, with its decode.
    void forget(Coming& coming);
    // The step's work on the picture it stands on (a replay or ahead_).
    Step advance(std::int32_t width, std::int32_t height, std::string& path, BitMap*& bitmap);
    // The settled picture of `coming`, held by the cache (or beside it when the cache will
    // not take it); null when the cache has let it go meanwhile.
    BitMap* take(Coming& coming);
    // Puts the settled picture of `coming` on screen; false when it has to be decoded again.
    bool accept(Coming& coming, std::string& path, BitMap*& bitmap);
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
    InlineDecoder inline_decoder_;
    Decoder* decoder_ = &inline_decoder_;
    Coming ahead_;           // the permutation's next file
    Coming replay_;          // the file the history steps forward to
    bool replaying_ = false; // the step under way is a replay
    int failures_ = 0;       // of the step under way
    std::string shown_path_;
    platform::FileId shown_id_;
    platform::FileId shown_content_;
    Listing listing_;
    std::uint32_t step_ = 0; // counts nextImage and pathFromIndex calls
};
