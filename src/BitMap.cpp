#include "BitMap.h"

#include "DecoderMessages.h"
#include "HeifDecoder.h"
#include "OwnedFile.h"
#include "PictureSize.h"
#include "Platform.h"
#include "ScopedValue.h"
#include "Shell.h"
#include "Tracer.h"

#include <FreeImage.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <exception>
#include <memory>
#include <string>
#include <utility>
#include <vector>

namespace {
const std::int32_t kModule = Tracer::register_module("BitMap");

// Beyond these a picture is not decoded: a few hundred bytes of file can announce a size
// whose pixels would exhaust memory.
constexpr std::int64_t kMaxPixels = 256LL * 1024 * 1024;
constexpr std::int64_t kMaxBytes = 1024LL * 1024 * 1024;

using Dib = BitMap::Dib;

// What cameras, phones and editors write for photos, each read by a maintained library
// (or, for BMP and GIF, by a reader simple enough to be sized exactly first). FreeImage's
// other readers are old code that a damaged file can crash or hang.
bool shown_format(FREE_IMAGE_FORMAT fif) {
    switch (fif) {
    case FIF_JPEG:
    case FIF_PNG:
    case FIF_GIF:
    case FIF_BMP:
    case FIF_TIFF:
    case FIF_WEBP:
    case FIF_EXR:
    case FIF_RAW:
        return true;
    default:
        return false;
    }
}

// The file being decoded, named in the decoders' messages.
const char* g_decoding = "";

void decoder_message(const char* text) {
    // Some messages end with a line break of their own: the trace adds one.
    std::string line(text ? text : "");
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.pop_back();
    GW_TRACE(kModule, 3, "load( %s ) decoder: %s", g_decoding, line.c_str());
}

void freeimage_message(FREE_IMAGE_FORMAT, const char* text) { decoder_message(text); }

// Decoder messages go to the trace, never to stderr: once for the process.
void route_decoder_messages() {
    static bool routed = false;
    if (routed) return;
    routed = true;
    FreeImage_SetOutputMessage(freeimage_message);
    decoder_messages::route_tiff(decoder_message);
}

// The size of a picture as it will be decoded (turned upright), and its bytes per pixel.
using Size = picture_size::Size;

bool refused_as_too_large(const char* path, const Size& size) {
    // Each side first: two 32-bit sides multiplied could overflow even 64 bits.
    if (size.width > kMaxPixels || size.height > kMaxPixels ||
        size.width * size.height > kMaxPixels) {
        GW_TRACE(kModule, 1, "load( %s ) refused: %lldx%lld pixels is too large", path,
                 static_cast<long long>(size.width), static_cast<long long>(size.height));
        return true;
    }
    if (size.width * size.height * size.bytes_per_pixel > kMaxBytes) {
        GW_TRACE(kModule, 1, "load( %s ) refused: %lldx%lld pixels of %d bytes is too large", path,
                 static_cast<long long>(size.width), static_cast<long long>(size.height),
                 size.bytes_per_pixel);
        return true;
    }
    return false;
}

// EXIF orientations 5 to 8 turn the picture by a quarter: the shown size is swapped.
bool turned_by_exif(FIBITMAP* header) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_MAIN, header, "Orientation", &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_SHORT)
        return false;
    const auto* value = static_cast<const WORD*>(FreeImage_GetTagValue(tag));
    return value && *value >= 5 && *value <= 8;
}

// Size of the picture as it will be shown, from its header alone; false when the header is
// unreadable. GIF and OpenEXR are read here: FreeImage reads no GIF header alone, and
// OpenEXR's header reader allocates per scan line of the announced size.
bool shown_size_from_header(FREE_IMAGE_FORMAT fif, const char* path, picture_size::Source& file,
                            Size& size) {
    if (fif == FIF_GIF) return picture_size::gif(file, size);
    if (fif == FIF_EXR) return picture_size::exr(file, size);
    if (!FreeImage_FIFSupportsNoPixels(fif)) return false;
    // Without JPEG_EXIFROTATE: FreeImage 3.18 does not turn a header, so the swap is ours
    // alone, whatever a later version does.
    const Dib header(FreeImage_Load(fif, path, FIF_LOAD_NOPIXELS));
    if (!header) return false;
    size.width = FreeImage_GetWidth(header.get());
    size.height = FreeImage_GetHeight(header.get());
    // A camera RAW file is shown from its 8-bit preview (or developed to 8 bits), whatever
    // the depth of its sensor data that the header describes.
    size.bytes_per_pixel =
        fif == FIF_RAW ? 3 : static_cast<std::int32_t>((FreeImage_GetBPP(header.get()) + 7) / 8);
    if (fif == FIF_JPEG && turned_by_exif(header.get())) std::swap(size.width, size.height);
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
Dib load_reduced_jpeg(const char* path, std::int32_t iw, std::int32_t ih, std::int32_t w,
                      std::int32_t h) {
    if (w <= 0 || h <= 0) return nullptr;
    std::int32_t reduction = 8;
    while (reduction > 1 && !reduction_fits(iw, ih, w, h, reduction)) reduction /= 2;
    if (reduction == 1) return nullptr;
    const auto wanted = static_cast<unsigned>(std::max(iw, ih) / reduction);
    Dib decoded(FreeImage_Load(FIF_JPEG, path, static_cast<int>((wanted << 16) | JPEG_EXIFROTATE)));
    if (decoded && (FreeImage_GetWidth(decoded.get()) !=
                        static_cast<unsigned>((iw + reduction - 1) / reduction) ||
                    FreeImage_GetHeight(decoded.get()) !=
                        static_cast<unsigned>((ih + reduction - 1) / reduction)))
        decoded.reset();
    return decoded;
}

// The EXIF date and time a photo was taken, when it is one well-formed: "YYYY:MM:DD HH:MM:SS".
std::string date_taken(FIBITMAP* decoded) {
    FITAG* tag = nullptr;
    if (!FreeImage_GetMetadata(FIMD_EXIF_EXIF, decoded, "DateTimeOriginal", &tag) || !tag ||
        FreeImage_GetTagType(tag) != FIDT_ASCII)
        return {};
    const char* value = static_cast<const char*>(FreeImage_GetTagValue(tag));
    const DWORD length = FreeImage_GetTagLength(tag);
    if (!value || length < 19) return {};
    std::string text(value, 19);
    for (std::size_t i = 0; i < text.size(); ++i) {
        const bool separator = i == 4 || i == 7 || i == 10 || i == 13 || i == 16;
        const char expected = i == 10 ? ' ' : ':';
        if (separator ? text[i] != expected : (text[i] < '0' || text[i] > '9')) return {};
    }
    return text;
}

// Any decoded picture as 24 bits per pixel; null when the library cannot convert it.
Dib to_24_bits(Dib decoded) {
    FIBITMAP* source = decoded.get();
    switch (FreeImage_GetImageType(source)) {
    case FIT_BITMAP:
        // A 24-bit bitmap is already what the conversion would copy: skipping the copy spares
        // time and a second full-size picture in memory.
        if (FreeImage_GetBPP(source) == 24) return decoded;
        return Dib(FreeImage_ConvertTo24Bits(source));
    case FIT_RGB16:
    case FIT_RGBA16:
        return Dib(FreeImage_ConvertTo24Bits(source)); // the high byte of each sample
    case FIT_UINT16: {
        // The high byte too, not a stretch between the darkest and the lightest sample:
        // a scan keeps its tones and an even grey stays that grey.
        const Dib grey(FreeImage_ConvertTo8Bits(source));
        return Dib(grey ? FreeImage_ConvertTo24Bits(grey.get()) : nullptr);
    }
    case FIT_FLOAT:
    case FIT_RGBF:
    case FIT_RGBAF: {
        // Scene light (float TIFF, OpenEXR): Reinhard's global operator keeps colours and
        // the contrast between light and shade as a photo shows them.
        Dib rgb(FreeImage_GetImageType(source) == FIT_RGBF ? nullptr
                                                           : FreeImage_ConvertToRGBF(source));
        return Dib(FreeImage_ToneMapping(rgb ? rgb.get() : source, FITMO_REINHARD05, 0, 0));
    }
    default: {
        // Other integer and double samples have no natural range: stretched to 8 bits.
        const Dib standard(FreeImage_ConvertToStandardType(source, TRUE));
        return Dib(standard ? FreeImage_ConvertTo24Bits(standard.get()) : nullptr);
    }
    }
}

// The window_width x window_height picture of a backdrop behind `fitted` (w x h, 24 bits),
// with `fitted` in its middle where the display would centre it; null when the memory cannot
// be had. The backdrop is made from a copy 1/32 of the window's size: the part of the
// picture with the window's proportions averaged down, blurred there, darkened, and scaled
// up bilinearly, so that it costs a few milliseconds.
Dib with_backdrop(FIBITMAP* fitted, std::int32_t w, std::int32_t h, std::int32_t window_width,
                  std::int32_t window_height) {
    const std::int32_t sw = std::max<std::int32_t>(4, window_width / 32);
    const std::int32_t sh = std::max<std::int32_t>(4, window_height / 32);
    // The centred part of the picture with the window's proportions.
    std::int64_t cw = w;
    std::int64_t ch = h;
    if (static_cast<std::int64_t>(w) * window_height > static_cast<std::int64_t>(h) * window_width)
        cw = std::max<std::int64_t>(1, static_cast<std::int64_t>(h) * window_width / window_height);
    else
        ch = std::max<std::int64_t>(1, static_cast<std::int64_t>(w) * window_height / window_width);
    const std::int64_t cx = (w - cw) / 2;
    const std::int64_t cy = (h - ch) / 2;
    const BYTE* source = FreeImage_GetBits(fitted);
    const std::int64_t source_pitch = FreeImage_GetPitch(fitted);
    if (!source) return nullptr;
    // Averaged down into sw x sh, rows bottom-up like the bitmaps.
    std::vector<float> small(static_cast<std::size_t>(sw) * sh * 3, 0.0f);
    for (std::int32_t y = 0; y < sh; ++y) {
        const std::int64_t y0 = cy + ch * y / sh;
        const std::int64_t y1 = std::max(y0 + 1, cy + ch * (y + 1) / sh);
        for (std::int32_t x = 0; x < sw; ++x) {
            const std::int64_t x0 = cx + cw * x / sw;
            const std::int64_t x1 = std::max(x0 + 1, cx + cw * (x + 1) / sw);
            float sum[3] = {0, 0, 0};
            for (std::int64_t sy = y0; sy < y1; ++sy) {
                const BYTE* row = source + sy * source_pitch;
                for (std::int64_t sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c) sum[c] += row[sx * 3 + c];
            }
            const float n = static_cast<float>((y1 - y0) * (x1 - x0));
            for (int c = 0; c < 3; ++c)
                small[(static_cast<std::size_t>(y) * sw + x) * 3 + c] = sum[c] / n;
        }
    }
    // Three box passes each way (nearly a Gaussian), 4 pixels of the copy on each side: about
    // a tenth of the window's width.
    std::vector<float> line;
    const auto blur = [&small, &line](std::int32_t count, std::int32_t length, std::size_t step,
                                      std::size_t stride) {
        constexpr std::int32_t kRadius = 4;
        line.resize(static_cast<std::size_t>(length) * 3);
        for (std::int32_t i = 0; i < count; ++i) {
            float* at = &small[i * stride];
            for (int pass = 0; pass < 3; ++pass) {
                for (std::int32_t j = 0; j < length; ++j) {
                    float sum[3] = {0, 0, 0};
                    for (std::int32_t k = j - kRadius; k <= j + kRadius; ++k) {
                        const std::int32_t kk = std::min(std::max(k, 0), length - 1);
                        for (int c = 0; c < 3; ++c) sum[c] += at[kk * step + c];
                    }
                    for (int c = 0; c < 3; ++c) line[j * 3 + c] = sum[c] / (2 * kRadius + 1);
                }
                for (std::int32_t j = 0; j < length; ++j)
                    for (int c = 0; c < 3; ++c) at[j * step + c] = line[j * 3 + c];
            }
        }
    };
    blur(sh, sw, 3, static_cast<std::size_t>(sw) * 3);
    blur(sw, sh, static_cast<std::size_t>(sw) * 3, 3);

    Dib backdrop(FreeImage_Allocate(window_width, window_height, 24));
    if (!backdrop) return nullptr;
    BYTE* target = FreeImage_GetBits(backdrop.get());
    const std::int64_t pitch = FreeImage_GetPitch(backdrop.get());
    constexpr float kDarkened = 0.45f;
    // Bilinear: where each column falls in the copy, its weight in 1/256; each row is first
    // mixed from the copy's two rows around it, darkened, then spread along the columns.
    std::vector<std::int32_t> column(static_cast<std::size_t>(window_width));
    std::vector<std::int32_t> weight(static_cast<std::size_t>(window_width));
    for (std::int32_t x = 0; x < window_width; ++x) {
        const float fx = std::min(std::max((x + 0.5f) * sw / window_width - 0.5f, 0.0f),
                                  static_cast<float>(sw - 1));
        column[x] = std::min(static_cast<std::int32_t>(fx), sw - 2 < 0 ? 0 : sw - 2);
        weight[x] = static_cast<std::int32_t>((fx - column[x]) * 256.0f + 0.5f);
    }
    std::vector<std::int32_t> mixed(static_cast<std::size_t>(sw) * 3);
    for (std::int32_t y = 0; y < window_height; ++y) {
        const float fy = std::min(std::max((y + 0.5f) * sh / window_height - 0.5f, 0.0f),
                                  static_cast<float>(sh - 1));
        const std::int32_t y0 = static_cast<std::int32_t>(fy);
        const std::int32_t y1 = std::min(y0 + 1, sh - 1);
        const float ty = fy - y0;
        for (std::size_t i = 0; i < mixed.size(); ++i) {
            const float top = small[static_cast<std::size_t>(y0) * sw * 3 + i];
            const float bottom = small[static_cast<std::size_t>(y1) * sw * 3 + i];
            mixed[i] = static_cast<std::int32_t>((top + (bottom - top) * ty) * kDarkened + 0.5f);
        }
        BYTE* row = target + y * pitch;
        for (std::int32_t x = 0; x < window_width; ++x) {
            const std::int32_t* left_pixel = &mixed[static_cast<std::size_t>(column[x]) * 3];
            const std::int32_t* right_pixel = sw > 1 ? left_pixel + 3 : left_pixel;
            const std::int32_t t = weight[x];
            for (int c = 0; c < 3; ++c)
                row[x * 3 + c] =
                    static_cast<BYTE>((left_pixel[c] * (256 - t) + right_pixel[c] * t + 128) >> 8);
        }
    }
    // The picture where the display would centre it, its rows bottom-up like these.
    const std::int32_t left = shell::centred(window_width, w);
    const std::int32_t bottom = window_height - h - shell::centred(window_height, h);
    for (std::int32_t y = 0; y < h; ++y)
        std::memcpy(target + (y + bottom) * pitch + static_cast<std::int64_t>(left) * 3,
                    source + y * source_pitch, static_cast<std::size_t>(w) * 3);
    return backdrop;
}

// Reads a HEIF or AVIF picture: its size from the container, then its pixels into a 24-bit
// bitmap. iw x ih is the shown size; w x h the fitted size.
Dib load_heif(const char* path, std::int32_t& iw, std::int32_t& ih, std::int32_t window_width,
              std::int32_t window_height, std::int32_t& w, std::int32_t& h) {
    if (!HeifDecoder::available()) {
        GW_TRACE(kModule, 1, "load( %s ) refused: format HEIF is not shown", path);
        return nullptr;
    }
    std::string error;
    const std::unique_ptr<HeifDecoder> decoder = HeifDecoder::open(path, error);
    if (!decoder) {
        decoder_message(error.c_str());
        return nullptr;
    }
    iw = decoder->width();
    ih = decoder->height();
    Size size;
    size.width = iw;
    size.height = ih;
    size.bytes_per_pixel = 3;
    if (iw <= 0 || ih <= 0 || refused_as_too_large(path, size)) return nullptr;
    BitMap::fit(iw, ih, window_width, window_height, w, h);

    Dib decoded;
    const auto target = [&decoded, path](std::int32_t width, std::int32_t height) {
        HeifDecoder::Rows rows;
        // The coded picture may disagree with the container's size property.
        Size decoded_size;
        decoded_size.width = width;
        decoded_size.height = height;
        decoded_size.bytes_per_pixel = 3;
        if (refused_as_too_large(path, decoded_size)) return rows;
        decoded.reset(FreeImage_Allocate(width, height, 24));
        if (!decoded) return rows;
        // FreeImage keeps its rows bottom-up: the picture's top row is the last one.
        rows.top = FreeImage_GetBits(decoded.get()) +
                   static_cast<std::ptrdiff_t>(height - 1) * FreeImage_GetPitch(decoded.get());
        rows.stride = -static_cast<std::ptrdiff_t>(FreeImage_GetPitch(decoded.get()));
        return rows;
    };
    if (!decoder->decode(w, h, target, error)) {
        decoder_message(error.c_str());
        return nullptr;
    }
    return decoded;
}
} // namespace

void BitMap::Unloader::operator()(FIBITMAP* bitmap) const { FreeImage_Unload(bitmap); }

BitMap::BitMap() = default;

BitMap::~BitMap() = default;

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
    route_decoder_messages();
    // Names the file in the decoders' messages while it is decoded.
    const ScopedValue<const char*> decoding(g_decoding, name);
    // A decoder that throws (a length it cannot allocate, say) refuses the picture; nothing
    // escapes into the event loop. Every bitmap is held by a Dib, so none leaks meanwhile.
    try {
        return load_file(name);
    } catch (const std::exception& error) {
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder failed (%s)", name, error.what());
    } catch (...) {
        GW_TRACE(kModule, 1, "load( %s ) refused: the decoder failed", name);
    }
    return false;
}

bool BitMap::load_file(const char* name) {
    // Only a regular file that holds something: a pipe or a device, or a file under /proc
    // that says it is empty, could block a read for ever.
    if (!platform::is_regular_file(name)) return false;
    const OwnedFile file(std::fopen(name, "rb"));
    if (!file) return false;
    picture_size::FileSource source(file.get());
    if (source.size() == 0) return false;

    const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(name, 0);
    std::int32_t iw = 0;
    std::int32_t ih = 0;
    std::int32_t w = 0;
    std::int32_t h = 0;
    Dib decoded;
    if (fif == FIF_UNKNOWN) {
        if (!picture_size::is_heif(source)) return false;
        decoded = load_heif(name, iw, ih, window_width_, window_height_, w, h);
        if (!decoded) return false;
    } else {
        if (!shown_format(fif)) {
            GW_TRACE(kModule, 1, "load( %s ) refused: format %s is not shown", name,
                     FreeImage_GetFormatFromFIF(fif));
            return false;
        }
        Size size;
        if (!shown_size_from_header(fif, name, source, size)) return false;
        if (refused_as_too_large(name, size)) return false;
        iw = static_cast<std::int32_t>(size.width);
        ih = static_cast<std::int32_t>(size.height);

        // A JPEG much larger than the window is decoded reduced: the size traced and fitted
        // remain those of the whole picture, only the box filter gets fewer pixels to average.
        if (fif == FIF_JPEG) {
            fit(iw, ih, window_width_, window_height_, w, h);
            decoded = load_reduced_jpeg(name, iw, ih, w, h);
        }
        if (!decoded) {
            // The flag bit of JPEG_EXIFROTATE means something else to other formats; a RAW
            // file is shown from the preview that the camera embedded.
            const int flags = fif == FIF_JPEG ? JPEG_EXIFROTATE : fif == FIF_RAW ? RAW_PREVIEW : 0;
            decoded.reset(FreeImage_Load(fif, name, flags));
            if (!decoded) return false;
            iw = static_cast<std::int32_t>(FreeImage_GetWidth(decoded.get()));
            ih = static_cast<std::int32_t>(FreeImage_GetHeight(decoded.get()));
            // The header may disagree with the frame: the frame is what was decoded.
            size.width = iw;
            size.height = ih;
            size.bytes_per_pixel =
                static_cast<std::int32_t>((FreeImage_GetBPP(decoded.get()) + 7) / 8);
            if (refused_as_too_large(name, size)) return false;
            fit(iw, ih, window_width_, window_height_, w, h);
        }
    }
    GW_TRACE(kModule, 4, "load( %s ) win:%dx%d img:%dx%d", name, window_width_, window_height_, iw,
             ih);
    GW_TRACE(kModule, 4, "~ rescale:%dx%d", w, h);

    const std::string taken = date_taken(decoded.get());
    const Dib converted = to_24_bits(std::move(decoded));
    Dib resized;
    if (converted && w > 0 && h > 0)
        resized.reset(FreeImage_Rescale(converted.get(), w, h, FILTER_BOX));
    if (!resized) {
        GW_TRACE(kModule, 1, "load( %s ) --> no %dx%d picture made", name, w, h);
        return false;
    }

    // A picture that fills the window leaves no room for a backdrop.
    if (backdrop_ && (w < window_width_ || h < window_height_)) {
        Dib composed = with_backdrop(resized.get(), w, h, window_width_, window_height_);
        if (!composed) {
            GW_TRACE(kModule, 1, "load( %s ) --> no %dx%d backdrop made", name, window_width_,
                     window_height_);
            return false;
        }
        resized = std::move(composed);
        w = window_width_;
        h = window_height_;
    }
    picture_ = std::move(resized);
    width_ = w;
    height_ = h;
    taken_ = taken;
    return true;
}

bool BitMap::allocate(std::int32_t width, std::int32_t height) {
    if (width <= 0 || height <= 0) return false;
    Dib picture(FreeImage_Allocate(width, height, 24));
    if (!picture) return false;
    picture_ = std::move(picture);
    width_ = width;
    height_ = height;
    taken_.clear();
    return true;
}

std::uint8_t* BitMap::writable_bits() {
    return picture_ ? FreeImage_GetBits(picture_.get()) : nullptr;
}

const std::uint8_t* BitMap::bits() const {
    return picture_ ? FreeImage_GetBits(picture_.get()) : nullptr;
}

std::int32_t BitMap::pitch() const {
    return picture_ ? static_cast<std::int32_t>(FreeImage_GetPitch(picture_.get())) : 0;
}
