// The exclusion test against a plain model, and the two path builders of the scanner.
#include "DirectoryScanner.h"
#include "FileManager.h"
#include "Platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

std::string ascii_lower(std::string text) {
    for (char& c : text)
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return text;
}

std::string ascii_upper(std::string text) {
    for (char& c : text)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    return text;
}

} // namespace

// The input is a path, a line feed, then a pattern (which may hold any byte).
extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string input(reinterpret_cast<const char*>(data), size);
    const std::size_t feed = input.find('\n');
    const std::string path = input.substr(0, feed);
    const std::string pattern = feed == std::string::npos ? std::string() : input.substr(feed + 1);

    const bool expected = ascii_lower(path).find(ascii_lower(pattern)) != std::string::npos;
    check(path_contains(path, pattern) == expected);
    check(path_contains(ascii_upper(path), pattern) == expected);
    check(path_contains(path, ascii_upper(pattern)) == expected);
    check(path_contains(pattern, path) ==
          (ascii_lower(pattern).find(ascii_lower(path)) != std::string::npos));
    check(path_contains(path, std::string()));
    check(path_contains(path, path));

    const std::string separator(1, platform::kSeparator);
    check(DirectoryScanner::join(path, pattern) == path + separator + pattern);
    const std::string listing = DirectoryScanner::pattern(path);
    const std::string tail = separator + "*.*";
    check(listing.size() == path.size() + tail.size());
    check(listing.compare(0, path.size(), path) == 0);
    check(listing.compare(path.size(), tail.size(), tail) == 0);
    return 0;
}
