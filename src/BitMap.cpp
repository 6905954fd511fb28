#include "BitMap.h"

#include "Tracer.h"

#include <FreeImage.h>

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

// Size of the picture as it will be shown, from its header alone; false when the format
// cannot read a header without the pixels (or the header is unreadable).
bool shown_size_from_header(FREE_IMAGE_FORMAT fif, const char* path, std::int32_t& width,
                            std::int32_t& height) {
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

    const char* name = path.c_str();
    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name, 0);
    std::int32_t iw = 0;
    std::int32_t ih = 0;
    if (shown_size_from_header(fif, name, iw, ih) && too_large(iw, ih)) {
        GW_TRACE(kModule, 1)("load( %s ) refused: %dx%d pixels is too large", name, iw, ih);
        return false;
    }

    // The flag bit of JPEG_EXIFROTATE means something else to other formats.
    FIBITMAP* decoded = FreeImage_Load(fif, name, fif == FIF_JPEG ? JPEG_EXIFROTATE : 0);
    if (!decoded) return false;
    iw = static_cast<std::int32_t>(FreeImage_GetWidth(decoded));
    ih = static_cast<std::int32_t>(FreeImage_GetHeight(decoded));
    if (too_large(iw, ih)) { // formats that cannot read a header alone
        FreeImage_Unload(decoded);
        GW_TRACE(kModule, 1)("load( %s ) refused: %dx%d pixels is too large", name, iw, ih);
        return false;
    }
    GW_TRACE(kModule, 4)("load( %s ) win:%dx%d img:%dx%d", name, window_width_, window_height_,
                         iw, ih);

    std::int32_t w = 0;
    std::int32_t h = 0;
    fit(iw, ih, window_width_, window_height_, w, h);
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
