// Test double of FreeImage.dll for the Wine tests: the calls that the picture decoder binds,
// for uncompressed 24-bit BMP files only. Pictures are held as FreeImage holds them: bottom-up
// rows of blue, green, red bytes, each row padded to a multiple of 4 bytes.
#include <FreeImage.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

namespace {

struct Picture {
    FIBITMAP handle; // what callers hold; its data points back here
    int width = 0;
    int height = 0;
    unsigned pitch = 0;
    std::vector<BYTE> bits;
};

Picture* picture(FIBITMAP* dib) { return dib ? static_cast<Picture*>(dib->data) : nullptr; }

Picture* make_picture(int width, int height) {
    auto* p = new (std::nothrow) Picture;
    if (!p) return nullptr;
    p->handle.data = p;
    p->width = width;
    p->height = height;
    p->pitch = (static_cast<unsigned>(width) * 3 + 3) & ~3u;
    p->bits.assign(static_cast<std::size_t>(p->pitch) * static_cast<unsigned>(height), 0);
    return p;
}

std::uint32_t u32(const unsigned char* b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

} // namespace

FREE_IMAGE_FORMAT DLL_CALLCONV FreeImage_GetFileType(const char* filename, int) {
    std::FILE* file = std::fopen(filename, "rb");
    if (!file) return FIF_UNKNOWN;
    char magic[2] = {0, 0};
    const bool bmp = std::fread(magic, 1, 2, file) == 2 && magic[0] == 'B' && magic[1] == 'M';
    std::fclose(file);
    return bmp ? FIF_BMP : FIF_UNKNOWN;
}

// A header-only load is a whole load here: the size is all that the caller reads of it.
BOOL DLL_CALLCONV FreeImage_FIFSupportsNoPixels(FREE_IMAGE_FORMAT fif) { return fif == FIF_BMP; }

FIBITMAP* DLL_CALLCONV FreeImage_Load(FREE_IMAGE_FORMAT fif, const char* filename, int) {
    if (fif != FIF_BMP) return nullptr;
    std::FILE* file = std::fopen(filename, "rb");
    if (!file) return nullptr;
    unsigned char header[54];
    Picture* p = nullptr;
    if (std::fread(header, 1, sizeof header, file) == sizeof header && header[0] == 'B' &&
        header[1] == 'M' && u32(header + 14) >= 40 && header[28] == 24 && u32(header + 30) == 0) {
        const auto width = static_cast<std::int32_t>(u32(header + 18));
        const auto height = static_cast<std::int32_t>(u32(header + 22));
        if (width > 0 && width <= 20000 && height != 0 && height <= 20000 && height >= -20000) {
            const int rows = height < 0 ? -height : height;
            p = make_picture(width, rows);
            if (p && std::fseek(file, static_cast<long>(u32(header + 10)), SEEK_SET) == 0) {
                for (int row = 0; row < rows && p; ++row) {
                    // Top-down files are turned into the bottom-up layout.
                    const int target = height < 0 ? rows - 1 - row : row;
                    if (std::fread(p->bits.data() + static_cast<std::size_t>(target) * p->pitch, 1,
                                   p->pitch, file) != p->pitch) {
                        delete p;
                        p = nullptr;
                    }
                }
            } else {
                delete p;
                p = nullptr;
            }
        }
    }
    std::fclose(file);
    return p ? &p->handle : nullptr;
}

unsigned DLL_CALLCONV FreeImage_GetWidth(FIBITMAP* dib) {
    return dib ? static_cast<unsigned>(picture(dib)->width) : 0;
}

unsigned DLL_CALLCONV FreeImage_GetHeight(FIBITMAP* dib) {
    return dib ? static_cast<unsigned>(picture(dib)->height) : 0;
}

BOOL DLL_CALLCONV FreeImage_GetMetadata(FREE_IMAGE_MDMODEL, FIBITMAP*, const char*, FITAG** tag) {
    if (tag) *tag = nullptr;
    return FALSE;
}

FREE_IMAGE_MDTYPE DLL_CALLCONV FreeImage_GetTagType(FITAG*) { return FIDT_NOTYPE; }
DWORD DLL_CALLCONV FreeImage_GetTagLength(FITAG*) { return 0; }

const void* DLL_CALLCONV FreeImage_GetTagValue(FITAG*) { return nullptr; }

FREE_IMAGE_TYPE DLL_CALLCONV FreeImage_GetImageType(FIBITMAP* dib) {
    return dib ? FIT_BITMAP : FIT_UNKNOWN;
}

unsigned DLL_CALLCONV FreeImage_GetBPP(FIBITMAP* dib) { return dib ? 24 : 0; }

FIBITMAP* DLL_CALLCONV FreeImage_ConvertTo24Bits(FIBITMAP* dib) {
    const Picture* source = picture(dib);
    if (!source) return nullptr;
    Picture* copy = make_picture(source->width, source->height);
    if (!copy) return nullptr;
    copy->bits = source->bits;
    return &copy->handle;
}

// Box filter: each target pixel is the mean of the source pixels its area covers.
FIBITMAP* DLL_CALLCONV FreeImage_Rescale(FIBITMAP* dib, int width, int height, FREE_IMAGE_FILTER) {
    const Picture* source = picture(dib);
    if (!source || width <= 0 || height <= 0) return nullptr;
    Picture* target = make_picture(width, height);
    if (!target) return nullptr;
    const auto sw = static_cast<std::int64_t>(source->width);
    const auto sh = static_cast<std::int64_t>(source->height);
    for (int y = 0; y < height; ++y) {
        const std::int64_t y0 = y * sh / height;
        std::int64_t y1 = (y + 1) * sh / height;
        if (y1 <= y0) y1 = y0 + 1;
        for (int x = 0; x < width; ++x) {
            const std::int64_t x0 = x * sw / width;
            std::int64_t x1 = (x + 1) * sw / width;
            if (x1 <= x0) x1 = x0 + 1;
            std::uint64_t sum[3] = {0, 0, 0};
            for (std::int64_t sy = y0; sy < y1; ++sy)
                for (std::int64_t sx = x0; sx < x1; ++sx)
                    for (int c = 0; c < 3; ++c)
                        sum[c] +=
                            source->bits[static_cast<std::size_t>(sy * source->pitch + sx * 3 + c)];
            const auto count = static_cast<std::uint64_t>((y1 - y0) * (x1 - x0));
            BYTE* out = target->bits.data() + static_cast<std::size_t>(y) * target->pitch +
                        static_cast<std::size_t>(x) * 3;
            for (int c = 0; c < 3; ++c) out[c] = static_cast<BYTE>((sum[c] + count / 2) / count);
        }
    }
    return &target->handle;
}

BYTE* DLL_CALLCONV FreeImage_GetBits(FIBITMAP* dib) {
    return dib ? picture(dib)->bits.data() : nullptr;
}

unsigned DLL_CALLCONV FreeImage_GetPitch(FIBITMAP* dib) { return dib ? picture(dib)->pitch : 0; }

void DLL_CALLCONV FreeImage_Unload(FIBITMAP* dib) { delete picture(dib); }

const char* DLL_CALLCONV FreeImage_GetFormatFromFIF(FREE_IMAGE_FORMAT fif) {
    return fif == FIF_BMP ? "BMP" : "";
}

void DLL_CALLCONV FreeImage_SetOutputMessage(FreeImage_OutputMessageFunction) {}

// Only 24-bit pictures exist here: there is nothing to convert from another type.
FIBITMAP* DLL_CALLCONV FreeImage_ConvertTo8Bits(FIBITMAP*) { return nullptr; }
FIBITMAP* DLL_CALLCONV FreeImage_ConvertToRGBF(FIBITMAP*) { return nullptr; }
FIBITMAP* DLL_CALLCONV FreeImage_ConvertToStandardType(FIBITMAP*, BOOL) { return nullptr; }
FIBITMAP* DLL_CALLCONV FreeImage_ToneMapping(FIBITMAP*, FREE_IMAGE_TMO, double, double) {
    return nullptr;
}

FIBITMAP* DLL_CALLCONV FreeImage_Allocate(int width, int height, int bpp, unsigned, unsigned,
                                          unsigned) {
    if (bpp != 24 || width <= 0 || height <= 0) return nullptr;
    Picture* p = make_picture(width, height);
    return p ? &p->handle : nullptr;
}
