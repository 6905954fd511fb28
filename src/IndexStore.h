// The file index saved between runs: folders and their file counts, and the random round.
#pragma once

#include "Platform.h"
#include "Randomizator.h"

#include <cstdint>
#include <string>
#include <vector>

struct SavedFolder {
    std::string path;
    platform::FileId id; // the folder's identity and last write when it was counted
    std::int32_t files = 0;
};

struct SavedIndex {
    std::uint64_t configuration = 0;  // configuration_key of the folders and exclusions
    std::vector<SavedFolder> folders; // in file number order
    bool has_round = false;
    RoundState round;
};

namespace IndexStore {

// A running key of the configured folders and exclusion patterns, in the order given.
class ConfigurationKey {
public:
    void add_folder(const std::string& folder) { add('F', folder); }
    void add_pattern(const std::string& pattern) { add('X', pattern); }
    std::uint64_t value() const { return hash_; }

private:
    void add(char kind, const std::string& text);
    std::uint64_t hash_ = 14695981039346656037ull;
};

// Writes `index` beside `file`, then puts it in its place; false when either failed.
bool save(const std::string& file, const SavedIndex& index);
// Reads a saved index; false with the reason in `why` when the file is missing, truncated,
// foreign or corrupt. `index` is then unspecified.
bool load(const std::string& file, SavedIndex& index, std::string& why);

} // namespace IndexStore
