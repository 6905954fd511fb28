// Listing one folder, and the two callbacks that build and read the file index.
#pragma once

#include "Platform.h"

#include <cstdint>
#include <deque>
#include <set>
#include <string>
#include <vector>

class DirectoryScanner {
public:
    // Receives one listed entry: the attribute word and the name alone; false stops the listing.
    class FonctorAttrib {
    public:
        virtual bool operator()(std::uint32_t attributes, const char* name) = 0;
        // During a call: the entry's folder identity when the listing gave it, else null.
        const platform::FolderId* entry_id = nullptr;

    protected:
        ~FonctorAttrib() = default;
    };

    // Hands every entry that `pattern` selects, "." and ".." excepted, to `callback`; false
    // when the listing could not be opened.
    static bool scan(const std::string& pattern, FonctorAttrib& callback);
    // Calls `callback` for one entry, with the entry's folder identity (or null) at hand.
    static bool forward(FonctorAttrib& callback, std::uint32_t attributes, const char* name,
                        const platform::FolderId* id);
    // folder + separator + "*.*"
    static std::string pattern(const std::string& folder);
    // folder + separator + name
    static std::string join(const std::string& folder, const std::string& name);
};

// A folder waiting to be scanned; `configured` when the configuration named it.
struct PendingFolder {
    std::string path;
    bool configured;
};

// Collects the names of the files (not folders) of one listing, in listing order.
class NameCollector final : public DirectoryScanner::FonctorAttrib {
public:
    NameCollector(std::string& names, std::vector<std::uint32_t>& starts)
        : names_(names), starts_(starts) {}
    bool operator()(std::uint32_t attributes, const char* name) override;

private:
    std::string& names_;                 // each name followed by '\0'
    std::vector<std::uint32_t>& starts_; // where each name begins in names_
};

// Browses one folder while the index is built: queues sub-folders, counts files.
class TreeBrowser final : public DirectoryScanner::FonctorAttrib {
public:
    // `seen` holds the folders of this run already scanned or queued; a folder reached
    // through a link is queued only when it is not there yet (link loops end).
    TreeBrowser(std::deque<PendingFolder>& pending, const std::string& folder,
                std::set<platform::FolderId>& seen)
        : pending_(pending), folder_(folder), seen_(seen) {}
    bool operator()(std::uint32_t attributes, const char* name) override;
    std::int32_t files() const { return files_; }

private:
    std::deque<PendingFolder>& pending_;
    std::string folder_;
    std::int32_t files_ = 0;
    std::set<platform::FolderId>& seen_;
};
