// The size readers written here (GIF first frame, OpenEXR header, HEIF brand) over any bytes.
#include "PictureSize.h"

#include <cstddef>
#include <cstdint>

namespace {

void check(bool condition) {
    if (!condition) __builtin_trap();
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    picture_size::MemorySource source(data, size);
    picture_size::Size gif;
    if (picture_size::gif(source, gif))
        check(gif.width >= 0 && gif.width <= 65535 && gif.height >= 0 && gif.height <= 65535 &&
              gif.bytes_per_pixel == 1);
    picture_size::Size exr;
    if (picture_size::exr(source, exr)) {
        // The reader refuses what the decoder could not hold: its offsets must fit in the file.
        check(exr.width > 0 && exr.height > 0 && exr.height <= (1 << 22));
        check(exr.bytes_per_pixel == 4 || exr.bytes_per_pixel == 12 || exr.bytes_per_pixel == 16);
    }
    const bool heif = picture_size::is_heif(source);
    check(!heif || size >= 16);
    return 0;
}
