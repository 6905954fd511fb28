#include "Pictures.h"

#include "Bytes.h"

#include <FreeImage.h>

#include <array>
#include <cstddef>
#include <cstdio>
#include <cstdlib>
#include <initializer_list>
#include <vector>

namespace pictures {

namespace {

using Bytes = std::string;

struct Rgb {
    std::uint8_t red, green, blue;
};

Rgb from_hex(std::uint32_t rgb) {
    return {static_cast<std::uint8_t>(rgb >> 16), static_cast<std::uint8_t>(rgb >> 8),
            static_cast<std::uint8_t>(rgb)};
}

// Owns one FreeImage bitmap.
class Dib {
public:
    explicit Dib(FIBITMAP* dib) : dib_(dib) {}
    ~Dib() {
        if (dib_) FreeImage_Unload(dib_);
    }
    Dib(const Dib&) = delete;
    Dib& operator=(const Dib&) = delete;
    FIBITMAP* get() const { return dib_; }

private:
    FIBITMAP* dib_;
};

void put(FIBITMAP* dib, int x, int y_from_top, Rgb colour) {
    const int height = static_cast<int>(FreeImage_GetHeight(dib));
    BYTE* pixel = FreeImage_GetScanLine(dib, height - 1 - y_from_top) + 3 * x;
    pixel[FI_RGBA_BLUE] = colour.blue;
    pixel[FI_RGBA_GREEN] = colour.green;
    pixel[FI_RGBA_RED] = colour.red;
}

FIBITMAP* allocate(int width, int height) {
    if (width < 1 || height < 1) return nullptr;
    return FreeImage_Allocate(width, height, 24, FI_RGBA_RED_MASK, FI_RGBA_GREEN_MASK,
                              FI_RGBA_BLUE_MASK);
}

FIBITMAP* framed(int width, int height, Rgb colour) {
    FIBITMAP* dib = allocate(width, height);
    if (!dib) return nullptr;
    const Rgb frame{static_cast<std::uint8_t>((colour.red + 255) / 2),
                    static_cast<std::uint8_t>((colour.green + 255) / 2),
                    static_cast<std::uint8_t>((colour.blue + 255) / 2)};
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool edge = x == 0 || y == 0 || x == width - 1 || y == height - 1;
            put(dib, x, y, edge ? frame : colour);
        }
    return dib;
}

FIBITMAP* halves(int width, int height, bool left_right, Rgb first, Rgb second) {
    FIBITMAP* dib = allocate(width, height);
    if (!dib) return nullptr;
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x) {
            const bool in_first = left_right ? x < width / 2 : y < height / 2;
            put(dib, x, y, in_first ? first : second);
        }
    return dib;
}

FREE_IMAGE_FORMAT fif_of(Format format) {
    // In the order of Format's values.
    static constexpr std::array<FREE_IMAGE_FORMAT, 6> kFifs = {FIF_JPEG, FIF_PNG,  FIF_BMP,
                                                               FIF_GIF,  FIF_TIFF, FIF_WEBP};
    const auto index = static_cast<std::size_t>(format);
    return index < kFifs.size() ? kFifs[index] : FIF_UNKNOWN;
}

// Encodes a 24-bit bitmap in `format`; false when this FreeImage cannot write it.
bool encode(FIBITMAP* dib, Format format, Bytes& out, int flags = 0) {
    if (!dib) return false;
    const FREE_IMAGE_FORMAT fif = fif_of(format);
    if (!FreeImage_FIFSupportsWriting(fif)) return false;
    // GIF holds palette pictures only.
    Dib quantized(format == Format::Gif ? FreeImage_ColorQuantize(dib, FIQ_WUQUANT) : nullptr);
    FIBITMAP* source = format == Format::Gif ? quantized.get() : dib;
    if (!source || !FreeImage_FIFSupportsExportBPP(fif, static_cast<int>(FreeImage_GetBPP(source))))
        return false;

    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    if (!memory) return false;
    bool ok = FreeImage_SaveToMemory(fif, source, memory, flags) != FALSE;
    BYTE* data = nullptr;
    DWORD size = 0;
    if (ok) ok = FreeImage_AcquireMemory(memory, &data, &size) && size > 0;
    if (ok) out.assign(data, data + size);
    FreeImage_CloseMemory(memory);
    return ok;
}

bool save(const std::string& path, const Bytes& bytes) {
    std::FILE* file = std::fopen(path.c_str(), "wb");
    if (!file) return false;
    const bool written =
        bytes.empty() || std::fwrite(bytes.data(), 1, bytes.size(), file) == bytes.size();
    return std::fclose(file) == 0 && written;
}

} // namespace

bool write(const std::string& path, int width, int height, Format format, std::uint8_t red,
           std::uint8_t green, std::uint8_t blue) {
    Dib dib(framed(width, height, {red, green, blue}));
    Bytes bytes;
    return encode(dib.get(), format, bytes) && save(path, bytes);
}

bool write_halves(const std::string& path, int width, int height, Format format, bool left_right,
                  std::uint32_t first_rgb, std::uint32_t second_rgb) {
    Dib dib(halves(width, height, left_right, from_hex(first_rgb), from_hex(second_rgb)));
    Bytes bytes;
    return encode(dib.get(), format, bytes) && save(path, bytes);
}

bool write_jpeg_with_orientation(const std::string& path, int width, int height, int orientation) {
    if (orientation < 1 || orientation > 8) return false;
    Dib dib(halves(width, height, true, from_hex(0xff0000), from_hex(0x0000ff)));
    Bytes jpeg;
    if (!encode(dib.get(), Format::Jpeg, jpeg) || jpeg.compare(0, 2, "\xff\xd8") != 0) return false;
    jpeg.insert(2, bytes::exif_orientation_segment(orientation));
    return save(path, jpeg);
}

bool write_slow_jpeg(const std::string& path, int width, int height, int scans) {
    Dib dib(framed(width, height, {128, 128, 64}));
    Bytes jpeg;
    if (!encode(dib.get(), Format::Jpeg, jpeg, JPEG_PROGRESSIVE)) return false;
    // The scans in order: each starts with its SOS header, its coded data runs to the next
    // marker that is neither a stuffed 0xff nor a restart.
    for (std::size_t at = jpeg.find("\xff\xda"); at != Bytes::npos && at + 8 < jpeg.size();
         at = jpeg.find("\xff\xda", at + 2)) {
        const auto byte = [&jpeg](std::size_t i) { return static_cast<unsigned char>(jpeg[i]); };
        const std::size_t header = (byte(at + 2) << 8) | byte(at + 3);
        const unsigned components = byte(at + 4);
        const unsigned spectral_start = byte(at + 5 + 2 * components);
        std::size_t end = at + 2 + header;
        while (end + 1 < jpeg.size() &&
               !(byte(end) == 0xff && byte(end + 1) != 0 && (byte(end + 1) & 0xf8) != 0xd0))
            ++end;
        if (spectral_start == 0) continue;
        const Bytes scan = jpeg.substr(at, end - at);
        Bytes repeated;
        for (int i = 0; i < scans; ++i) repeated += scan;
        jpeg.insert(end, repeated);
        return save(path, jpeg);
    }
    return false;
}

bool write_png_header_only(const std::string& path, std::uint32_t width, std::uint32_t height) {
    return write_png_header(path, width, height, 8, 2);
}

bool write_png_header(const std::string& path, std::uint32_t width, std::uint32_t height,
                      int bit_depth, int colour_type) {
    Bytes png("\x89PNG\r\n\x1a\n");
    Bytes header;
    bytes::append_be(header, width, 4);
    bytes::append_be(header, height, 4);
    // Deflate, adaptive filtering, no interlace.
    header += {static_cast<char>(bit_depth), static_cast<char>(colour_type), 0, 0, 0};
    png += bytes::png_chunk("IHDR", header);
    // The start of a zlib stream: a decoder that gets this far runs out of data.
    png += bytes::png_chunk("IDAT", Bytes("\x78\x9c\x63\x00", 4));
    png += bytes::png_chunk("IEND", Bytes());
    return save(path, png);
}

bool write_truncated(const std::string& path, int width, int height, Format format,
                     std::size_t length) {
    Dib dib(framed(width, height, {200, 60, 30}));
    Bytes bytes;
    if (!encode(dib.get(), format, bytes)) return false;
    if (length < bytes.size()) bytes.resize(length);
    return save(path, bytes);
}

namespace {

// Calls fill(pixel, light) for every pixel; light ramps from 0.02 at the left edge to 2.
template <typename Pixel, typename Fill> void fill_all(FIBITMAP* dib, Fill fill) {
    const unsigned width = FreeImage_GetWidth(dib);
    for (unsigned y = 0; y < FreeImage_GetHeight(dib); ++y) {
        auto* line = reinterpret_cast<Pixel*>(FreeImage_GetScanLine(dib, static_cast<int>(y)));
        for (unsigned x = 0; x < width; ++x) fill(line[x], 0.02f + 2.0f * x / width);
    }
}

WORD sixteen(double fraction) { return static_cast<WORD>(fraction * 65535.0 + 0.5); }

FIBITMAP* deep(int width, int height, Samples samples, double red, double green, double blue) {
    static const FREE_IMAGE_TYPE kTypes[] = {FIT_UINT16, FIT_RGB16, FIT_RGBA16,
                                             FIT_FLOAT,  FIT_RGBF,  FIT_RGBAF};
    FIBITMAP* dib = FreeImage_AllocateT(kTypes[static_cast<int>(samples)], width, height);
    if (!dib) return nullptr;
    const auto r = static_cast<float>(red), g = static_cast<float>(green),
               b = static_cast<float>(blue);
    switch (samples) {
    case Samples::Grey16:
        fill_all<WORD>(dib, [&](WORD& p, float) { p = sixteen(red); });
        break;
    case Samples::Rgb16:
        fill_all<FIRGB16>(dib, [&](FIRGB16& p, float) {
            p = {sixteen(red), sixteen(green), sixteen(blue)};
        });
        break;
    case Samples::Rgba16:
        fill_all<FIRGBA16>(dib, [&](FIRGBA16& p, float) {
            p = {sixteen(red), sixteen(green), sixteen(blue), 65535};
        });
        break;
    case Samples::GreyFloat:
        fill_all<float>(dib, [&](float& p, float k) { p = k * r; });
        break;
    case Samples::RgbFloat:
        fill_all<FIRGBF>(dib, [&](FIRGBF& p, float k) { p = {k * r, k * g, k * b}; });
        break;
    case Samples::RgbaFloat:
        fill_all<FIRGBAF>(dib, [&](FIRGBAF& p, float k) { p = {k * r, k * g, k * b, 1.0f}; });
        break;
    }
    return dib;
}

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return out + "'";
}

} // namespace

bool write_deep(const std::string& path, int width, int height, Samples samples,
                Container container, double red, double green, double blue) {
    Dib dib(deep(width, height, samples, red, green, blue));
    if (!dib.get()) return false;
    const FREE_IMAGE_FORMAT fif = container == Container::Png    ? FIF_PNG
                                  : container == Container::Tiff ? FIF_TIFF
                                                                 : FIF_EXR;
    const int flags = container == Container::Exr ? EXR_FLOAT : 0;
    return FreeImage_Save(fif, dib.get(), path.c_str(), flags) != FALSE;
}

bool write_heif(const std::string& path, int width, int height, bool avif, bool left_right,
                std::uint32_t first_rgb, std::uint32_t second_rgb,
                const std::string& avifenc_options) {
    const std::string source = path + ".png";
    if (!write_halves(source, width, height, Format::Png, left_right, first_rgb, second_rgb))
        return false;
    const std::string command =
        avif ? "avifenc -s 10 " + avifenc_options + " " + quoted(source) + " " + quoted(path)
             : "heif-enc -q 90 -o " + quoted(path) + " " + quoted(source);
    const bool made = std::system((command + " >/dev/null 2>&1").c_str()) == 0;
    std::remove(source.c_str());
    return made;
}

namespace {} // namespace

std::string hostile(Hostile kind) {
    switch (kind) {
    case Hostile::Dds: {
        std::string dds = "DDS " + bytes::le32({124, 0x1007, 8, 0xff000078u});
        dds.resize(128, '\0');
        dds[76] = 32; // the pixel format's own size, which the recogniser checks
        return dds;
    }
    case Hostile::Xbm:
        return "#define a_width 8\n#define a_height 2\nstatic char a_bits[] = {\n 0x00,\n";
    case Hostile::Sgi: {
        std::string sgi = bytes::be16({474, 0x0001, 3, 20000, 20000, 3});
        sgi.resize(576, '\1');
        return sgi;
    }
    case Hostile::Pfm:
        return "PF\n16000 16000\n-1.0\n" + std::string(1000, '\0');
    case Hostile::Pict: {
        std::string pict(512, '\0');
        pict += bytes::be16({0, 0, 0, 80, 120, 0x0011, 0x02ff, 0x0c00, 0xfffe});
        pict.resize(600, '\0');
        return pict;
    }
    }
    return {};
}

std::string exr_header(std::int32_t width, std::int32_t height, const std::string& channels,
                       std::size_t tail, std::uint32_t sampling) {
    std::string out = bytes::le32({20000630u, 2});
    auto attribute = [&out](const char* name, const char* type, const std::string& value) {
        out += name + std::string(1, '\0') + type + std::string(1, '\0');
        out += bytes::le32({static_cast<std::uint32_t>(value.size())});
        out += value;
    };
    std::string list;
    for (char c : channels)
        list += std::string(1, c) + '\0' + bytes::le32({2, 0, sampling, sampling});
    list += '\0';
    attribute("channels", "chlist", list);
    attribute("compression", "compression", std::string(1, '\0'));
    const std::string box = bytes::le32(
        {0, 0, static_cast<std::uint32_t>(width - 1), static_cast<std::uint32_t>(height - 1)});
    attribute("dataWindow", "box2i", box);
    attribute("displayWindow", "box2i", box);
    attribute("lineOrder", "lineOrder", std::string(1, '\0'));
    attribute("pixelAspectRatio", "float", bytes::le32({0x3f800000u}));
    attribute("screenWindowCenter", "v2f", bytes::le32({0, 0}));
    attribute("screenWindowWidth", "float", bytes::le32({0x3f800000u}));
    out += '\0';
    return out + std::string(tail, '\0');
}

} // namespace pictures
