#include "BitMap.h"

#include "Platform.h"
#include "Tracer.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <memory>
#include <utility>

namespace {
const std::int32_t kModule = Tracer::register_module("BitMap");

// Beyond this a picture is not decoded: a few hundred bytes of file can announce a size
// whose pixels would exhaust memory.
constexpr std::int64_t kMaxPixels = 256LL * 1024 * 1024;

FIBITMAP* dib(void* picture) { return static_cast<FIBITMAP*>(picture); }

bool too_large(std::int64_t width, std::int64_t height) { return width * height > kMaxPixels; }

// EXIF orientations 5 to 8 turn the picture by a quarter: the shown size is swapped.
bool turned_by_exif(FIBITMAP* header) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, header, "Orientation", &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_SHORT)
        return false;
    const auto* value = static_cast<const WORD*>(FreeImage_GetTagValue(tag));
    return value && *value >= 5 && *value <= 8;
}

using File = std::unique_ptr<std::FILE, int (*)(std::FILE*)>;

bool read_bytes(std::FILE* file, unsigned char* into, std::size_t count) {
    return std::fread(into, 1, count, file) == count;
}

// Size of the first frame of a GIF, from its image descriptor. FreeImage decodes that frame
// alone and allocates all of it before reading a pixel; neither the logical screen nor a
// later frame is allocated. The blocks are walked as FreeImage walks them, so the
// descriptor found is the one that it decodes; false when there is none to find.
bool gif_frame_size(const char* path, std::int32_t& width, std::int32_t& height) {
    File file(std::fopen(path, "rb"), &std::fclose);
    if (!file) return false;
    unsigned char screen[13]; // signature, then the logical screen descriptor
    if (!read_bytes(file.get(), screen, sizeof screen)) return false;
    if ((screen[10] & 0x80) != 0 && // the global colour table
        std::fseek(file.get(), 3L * (2L << (screen[10] & 7)), SEEK_CUR) != 0)
        return false;
    unsigned char introducer = 0;
    // Each pass reads at least one byte: the walk ends at the end of the file.
    while (read_bytes(file.get(), &introducer, 1)) {
        if (introducer == 0x2c) { // image descriptor: left, top, width, height, little-endian
            unsigned char descriptor[8];
            if (!read_bytes(file.get(), descriptor, sizeof descriptor)) return false;
            width = descriptor[4] | (descriptor[5] << 8);
            height = descriptor[6] | (descriptor[7] << 8);
            return true;
        }
        unsigned char label = 0;
        if (introducer != 0x21 || !read_bytes(file.get(), &label, 1)) return false;
        // The extension's data sub-blocks, up to an empty one.
        unsigned char length = 0;
        while (read_bytes(file.get(), &length, 1) && length != 0)
            if (std::fseek(file.get(), length, SEEK_CUR) != 0) return false;
    }
    return false;
}

// Size of the picture as it will be shown, from its header alone; false when the format
// cannot read a header without the pixels (or the header is unreadable). FreeImage reads
// no GIF header alone: that one is read here.
bool shown_size_from_header(FREE_IMAGE_FORMAT fif, const char* path, std::int32_t& width,
                            std::int32_t& height) {
    if (fif == FIF_GIF) return gif_frame_size(path, width, height);
    if (!FreeImage_FIFSupportsNoPixels(fif)) return false;
    // Without JPEG_EXIFROTATE: FreeImage 3.18 does not turn a header, so the swap is ours
    // alone, whatever a later version does.
    FIBITMAP* header = FreeImage_Load(fif, path, FIF_LOAD_NOPIXELS);
    if (!header) return false;
    width = static_cast<std::int32_t>(FreeImage_GetWidth(header));
    height = static_cast<std::int32_t>(FreeImage_GetHeight(header));
    if (fif == FIF_JPEG && turned_by_exif(header)) std::swap(width, height);
    FreeImage_Unload(header);
    return true;
}

// True when an iw x ih picture reduced by `denominator` still has at least w x h pixels and
// stays in register. A reduced side is rounded up: its last pixel stands for fewer picture
// pixels than the others, yet the box filter spreads all of them evenly, which slides the
// far edge by `excess` x w / iw pixels of the result. Measured on photos against the full
// decode: about 40 dB or better up to a quarter of a pixel, near 33 dB at 0.7 pixel.
bool reduction_fits(std::int64_t iw, std::int64_t ih, std::int64_t w, std::int64_t h,
                    std::int64_t denominator) {
    const std::int64_t excess_x = (denominator - iw % denominator) % denominator;
    const std::int64_t excess_y = (denominator - ih % denominator) % denominator;
    return w * denominator <= iw && h * denominator <= ih && 4 * excess_x * w <= iw &&
           4 * excess_y * h <= ih;
}

// A JPEG whose shown size is iw x ih, decoded reduced to no less than w x h and turned
// upright; null when no reduction fits, or when what comes back is not iw x ih reduced (an
// EXIF turn that the header did not announce, a header that disagrees with the frame).
//
// FreeImage 3.18 takes a size in the upper 16 bits of the flags and reduces by the largest
// of 8, 4, 2 that the longer side divided by that size reaches, rounding the reduced sides
// up; it turns the picture after reducing it. Asking for the longer side divided by the
// reduction (at most 65535 / 2, so the flags stay positive) selects exactly that reduction.
FIBITMAP* load_reduced_jpeg(const char* path, std::int32_t iw, std::int32_t ih, std::int32_t w,
                            std::int32_t h) {
    if (w <= 0 || h <= 0) return nullptr;
    std::int32_t reduction = 8;
    while (reduction > 1 && !reduction_fits(iw, ih, w, h, reduction)) reduction /= 2;
    if (reduction == 1) return nullptr;
    const auto wanted = static_cast<unsigned>(std::max(iw, ih) / reduction);
    FIBITMAP* decoded =
        FreeImage_Load(FIF_JPEG, path, static_cast<int>((wanted << 16) | JPEG_EXIFROTATE));
    if (decoded &&
        (FreeImage_GetWidth(decoded) != static_cast<unsigned>((iw + reduction - 1) / reduction) ||
         FreeImage_GetHeight(decoded) != static_cast<unsigned>((ih + reduction - 1) / reduction))) {
        FreeImage_Unload(decoded);
        decoded = nullptr;
    }
    return decoded;
}
} // namespace

BitMap::~BitMap() {
    if (picture_) FreeImage_Unload(dib(picture_));
}

void BitMap::set_window_size(std::int32_t window_width, std::int32_t window_height) {
    window_width_ = window_width;
    window_height_ = window_height;
}

void BitMap::fit(std::int32_t iw, std::int32_t ih, std::int32_t window_width,
                 std::int32_t window_height, std::int32_t& w, std::int32_t& h) {
    if (iw <= 0 || ih <= 0 || window_width <= 0 || window_height <= 0) {
        w = 0;
        h = 0;
        return;
    }
    // 64 bits: ih * window_width overflows 32 bits for tall pictures on wide windows.
    std::int64_t fw = static_cast<std::int64_t>(iw) * window_width / iw;
    std::int64_t fh = static_cast<std::int64_t>(ih) * window_width / iw;
    if (fh > window_height) {
        // From the truncated height, not the decoded size: 7 x 9 on 100 x 50 gives 39, not 38.
        fw = fw * window_height / fh;
        fh = fh * window_height / fh;
    }
    w = static_cast<std::int32_t>(fw);
    h = static_cast<std::int32_t>(fh);
}

bool BitMap::load(const std::string& path) {
    if (window_width_ == 0 && window_height_ == 0) return false;
    if (!platform::is_regular_file(path)) return false;

    const char* name = path.c_str();
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name, 0);
    std::int32_t iw = 0;
    std::int32_t ih = 0;
    const bool sized = shown_size_from_header(fif, name, iw, ih);
    if (sized && too_large(iw, ih)) {
        GW_TRACE(kModule, 1)("load( %s ) refused: %dx%d pixels is too large", name, iw, ih);
        return false;
    }

    // A JPEG much larger than the window is decoded reduced: the size traced and fitted
    // remain those of the whole picture, only the box filter gets fewer pixels to average.
    std::int32_t w = 0;
    std::int32_t h = 0;
    FIBITMAP* decoded = nullptr;
    if (fif == FIF_JPEG && sized) {
        fit(iw, ih, window_width_, window_height_, w, h);
        decoded = load_reduced_jpeg(name, iw, ih, w, h);
    }
    if (!decoded) {
        // The flag bit of JPEG_EXIFROTATE means something else to other formats.
        decoded = FreeImage_Load(fif, name, fif == FIF_JPEG ? JPEG_EXIFROTATE : 0);
        if (!decoded) return false;
        iw = static_cast<std::int32_t>(FreeImage_GetWidth(decoded));
        ih = static_cast<std::int32_t>(FreeImage_GetHeight(decoded));
        if (too_large(iw, ih)) { // formats that cannot read a header alone
            FreeImage_Unload(decoded);
            GW_TRACE(kModule, 1)("load( %s ) refused: %dx%d pixels is too large", name, iw, ih);
            return false;
        }
        fit(iw, ih, window_width_, window_height_, w, h);
    }
    GW_TRACE(kModule, 4)("load( %s ) win:%dx%d img:%dx%d", name, window_width_, window_height_,
                         iw, ih);
    GW_TRACE(kModule, 4)("~ rescale:%dx%d", w, h);

    // A 24-bit bitmap is already what the conversion would copy: skipping the copy spares
    // time and a second full-size picture in memory.
    FIBITMAP* converted = decoded;
    if (FreeImage_GetImageType(decoded) != FIT_BITMAP || FreeImage_GetBPP(decoded) != 24) {
        converted = FreeImage_ConvertTo24Bits(decoded);
        FreeImage_Unload(decoded);
    }
    FIBITMAP* resized = nullptr;
    if (converted && w > 0 && h > 0) resized = FreeImage_Rescale(converted, w, h, FILTER_BOX);
    if (converted) FreeImage_Unload(converted);
    if (!resized) {
        GW_TRACE(kModule, 1)("load( %s ) --> no %dx%d picture made", name, w, h);
        return false;
    }

    if (picture_) FreeImage_Unload(dib(picture_));
    picture_ = resized;
    width_ = w;
    height_ = h;
    return true;
}

const std::uint8_t* BitMap::bits() const {
    return picture_ ? FreeImage_GetBits(dib(picture_)) : nullptr;
}

std::int32_t BitMap::pitch() const {
    return picture_ ? static_cast<std::int32_t>(FreeImage_GetPitch(dib(picture_))) : 0;
}
