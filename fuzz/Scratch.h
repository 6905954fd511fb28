// What the harnesses that hand their bytes over as a file share.
#pragma once

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace fuzz {

// A check that stops the run where it fails, in the harness's own code.
inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

// The bytes written to one scratch file of the process (removed at its end); its path, empty
// when they could not be written.
inline std::string write_scratch(const char* prefix, const std::uint8_t* data, std::size_t size) {
    static const std::string path = [prefix] {
        std::string name = std::string("/tmp/") + prefix + "-XXXXXX";
        const int fd = mkstemp(&name[0]);
        if (fd >= 0) close(fd);
        static std::string removed;
        removed = name;
        std::atexit([] { std::remove(removed.c_str()); });
        return name;
    }();
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return {};
    const bool written = size == 0 || std::fwrite(data, 1, size, file) == size;
    return std::fclose(file) == 0 && written ? path : std::string();
}

} // namespace fuzz
