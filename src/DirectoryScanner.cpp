#include "DirectoryScanner.h"

#include "Tracer.h"

namespace {
const std::int32_t kModule = Tracer::register_module("DataBase");

class Forwarder final : public platform::EntryVisitor {
public:
    explicit Forwarder(DirectoryScanner::FonctorAttrib& callback) : callback_(callback) {}
    bool visit(std::uint32_t attributes, const char* name, const platform::FolderId* id) override {
        return DirectoryScanner::forward(callback_, attributes, name, id);
    }

private:
    DirectoryScanner::FonctorAttrib& callback_;
};
} // namespace

bool DirectoryScanner::forward(FonctorAttrib& callback, std::uint32_t attributes, const char* name,
                               const platform::FolderId* id) {
    callback.entry_id = id;
    const bool go_on = callback(attributes, name);
    callback.entry_id = nullptr;
    return go_on;
}

bool DirectoryScanner::scan(const std::string& pattern, FonctorAttrib& callback) {
    (void)kModule; // the scanner traces nothing; its name is registered all the same
    Forwarder forwarder(callback);
    return platform::list_folder(pattern, forwarder);
}

std::string DirectoryScanner::pattern(const std::string& folder) {
    std::string result = folder;
    result += platform::kSeparator;
    result += "*.*";
    return result;
}

std::string DirectoryScanner::join(const std::string& folder, const std::string& name) {
    std::string result = folder;
    result += platform::kSeparator;
    result += name;
    return result;
}

bool TreeBrowser::operator()(std::uint32_t attributes, const char* name) {
    if (attributes & platform::kAttributeDirectory) {
        std::string path = DirectoryScanner::join(folder_, name);
        // A link may lead back up the tree or into a folder already queued: follow it only
        // into a folder not met yet. Real sub-folders are always queued, and remembered.
        platform::FolderId id;
        bool known = entry_id != nullptr;
        if (known)
            id = *entry_id;
        else
            known = platform::folder_id(path, id);
        const bool fresh = known && seen_.insert(id).second;
        if ((attributes & platform::kAttributeReparsePoint) && !fresh) return true;
        pending_.push_back(PendingFolder{std::move(path), false});
    } else {
        ++files_;
    }
    return true;
}

bool NameCollector::operator()(std::uint32_t attributes, const char* name) {
    if (attributes & platform::kAttributeDirectory) return true;
    if (names_.size() > 0xf0000000u) return false; // offsets stay within 32 bits
    starts_.push_back(static_cast<std::uint32_t>(names_.size()));
    names_ += name;
    names_ += '\0';
    return true;
}
