// Bytes fed through the real picture loader as a file: format recognition, the allow-list,
// the size readers and guards, and every decoder behind them. Seeds: one small good file of
// each shown format (fuzz/corpus/bitmap, written by fuzz/seeds.cpp).
#include "BitMap.h"
#include "Scratch.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <unistd.h>
#include <vector>

using fuzz::check;

// libheif 1.15's AV1 path through dav1d leaves 40 bytes behind for an AVIF whose coded data
// is empty (dav1d_send_data refuses it); a library fault, reported, not this code's.
extern "C" const char* __lsan_default_suppressions() { return "leak:libdav1d.so\n"; }

// The loader may hold 1 GiB of decoded pixels and a converted copy by design: libFuzzer's
// default limit of 2 GB would report such a picture as a fault. Flags given on the command
// line come after this one and win.
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static char limit[] = "-rss_limit_mb=4096";
    static std::vector<char*> arguments;
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + 1, limit);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string path = fuzz::write_scratch("gw-bitmap-fuzz", data, size);
    if (path.empty()) return 0;

    BitMap bitmap;
    bitmap.set_window_size(64, 48);
    if (!bitmap.load(path)) {
        check(bitmap.bits() == nullptr && bitmap.width() == 0);
        return 0;
    }
    // A shown picture touches the window on two sides, and every byte of it can be read.
    check(bitmap.width() > 0 && bitmap.width() <= 64 && bitmap.height() > 0 &&
          bitmap.height() <= 48 && (bitmap.width() == 64 || bitmap.height() == 48));
    check(bitmap.pitch() >= 3 * bitmap.width() && bitmap.bits() != nullptr);
    unsigned sum = 0;
    for (std::int32_t i = 0; i < bitmap.pitch() * bitmap.height(); ++i) sum += bitmap.bits()[i];
    volatile unsigned sink = sum;
    (void)sink;
    return 0;
}
