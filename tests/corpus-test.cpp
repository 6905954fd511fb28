// A whole show over a folder of broken pictures, through the real controller and decoder.
#include "BitMap.h"
#include "Bytes.h"
#include "Display.h"
#include "HeifDecoder.h"
#include "Pictures.h"
#include "ScreenSaver.h"
#include "TestSupport.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdlib>
#include <random>
#include <set>
#include <string>
#include <vector>

namespace {

using test::TempDir;
using Bytes = std::string;

struct Sample {
    pictures::Format format;
    const char* extension;
};
const Sample kSamples[] = {
    {pictures::Format::Jpeg, "jpg"}, {pictures::Format::Png, "png"},
    {pictures::Format::Gif, "gif"},  {pictures::Format::Bmp, "bmp"},
    {pictures::Format::Tiff, "tif"}, {pictures::Format::WebP, "webp"},
};

std::uint8_t byte_at(const Bytes& b, std::size_t at) { return static_cast<std::uint8_t>(b[at]); }

// Fixed-Huffman deflate, bits packed from the least significant end.
class BitWriter {
public:
    void bits(std::uint32_t value, int count) {
        for (int i = 0; i < count; ++i) one((value >> i) & 1u);
    }
    void code(std::uint32_t value, int count) { // Huffman codes go most significant bit first
        for (int i = count - 1; i >= 0; --i) one((value >> i) & 1u);
    }
    Bytes finish() {
        if (used_ != 0) out_.push_back(static_cast<char>(current_));
        return out_;
    }

private:
    void one(std::uint32_t bit) {
        current_ |= bit << used_;
        if (++used_ == 8) {
            out_.push_back(static_cast<char>(current_));
            current_ = 0;
            used_ = 0;
        }
    }
    Bytes out_;
    std::uint32_t current_ = 0;
    int used_ = 0;
};

// A PNG whose IHDR says width x height 8-bit RGB and whose IDAT is a zlib stream of zeros
// inflating to about `matches` * 258 bytes.
Bytes inflation_bomb_png(std::uint32_t width, std::uint32_t height, std::uint32_t matches) {
    BitWriter w;
    w.bits(1, 1);    // final block
    w.bits(1, 2);    // fixed Huffman
    w.code(0x30, 8); // literal 0
    for (std::uint32_t i = 0; i < matches; ++i) {
        w.code(0xC5, 8); // length 258
        w.code(0, 5);    // distance 1
    }
    w.code(0, 7); // end of block
    Bytes idat = "\x78\x01";
    idat += w.finish();
    const std::uint64_t inflated = 1 + 258ull * matches;
    bytes::append_be(idat, static_cast<std::uint32_t>(((inflated % 65521u) << 16) | 1u), 4);

    Bytes png = "\x89PNG\r\n\x1a\n";
    Bytes ihdr;
    bytes::append_be(ihdr, width, 4);
    bytes::append_be(ihdr, height, 4);
    ihdr += std::string("\x08\x02\x00\x00\x00", 5);
    png += bytes::png_chunk("IHDR", ihdr);
    png += bytes::png_chunk("IDAT", idat);
    png += bytes::png_chunk("IEND", Bytes());
    return png;
}

// Offset of the first SOF0 or SOF2 segment of a JPEG, 0 when none is found.
std::size_t find_jpeg_sof(const Bytes& jpeg) {
    std::size_t at = 2;
    while (at + 9 < jpeg.size() && byte_at(jpeg, at) == 0xFF) {
        const std::uint8_t marker = byte_at(jpeg, at + 1);
        if (marker == 0xC0 || marker == 0xC2) return at;
        at += 2 + (static_cast<std::size_t>(byte_at(jpeg, at + 2)) << 8) + byte_at(jpeg, at + 3);
    }
    return 0;
}

// Offset of the first image descriptor of a GIF, 0 when none is found.
std::size_t find_gif_descriptor(const Bytes& gif) {
    std::size_t at = 13;
    if (gif.size() > 10 && (byte_at(gif, 10) & 0x80) != 0)
        at += 3u * (2u << (byte_at(gif, 10) & 7));
    while (at + 10 < gif.size()) {
        if (byte_at(gif, at) == 0x2C) return at;
        if (byte_at(gif, at) != 0x21) return 0;
        at += 2; // extension introducer and label, then sub-blocks up to an empty one
        while (at < gif.size() && byte_at(gif, at) != 0) at += 1 + byte_at(gif, at);
        ++at;
    }
    return 0;
}

class CorpusTest : public testing::Test {
protected:
    CorpusTest() {
        display.fail = true; // the corpus is looked at, never deleted from
        test::make_dirs(dir / "good");
        test::make_dirs(pics);
    }

    std::string add(const std::string& name, const Bytes& content) {
        const std::string path = pics + "/" + name;
        test::write_file(path, content);
        files.push_back(path);
        return path;
    }

    void build_corpus() {
        std::mt19937 engine(20261207u); // fixed seed: the same corpus on every run
        int index = 0;
        for (const Sample& s : kSamples) {
            const std::string ext = s.extension;
            const std::string original = dir / ("good/o." + ext);
            ASSERT_TRUE(pictures::write(original, 160, 120, s.format,
                                        static_cast<std::uint8_t>(40 * index), 120, 200))
                << ext;
            const Bytes good = test::read_file(original);
            ASSERT_GT(good.size(), 40u) << ext;
            originals.push_back(add("good-" + ext + "." + ext, good));
            const std::string halves = dir / ("good/h." + ext);
            ASSERT_TRUE(pictures::write_halves(halves, 90, 140, s.format, index % 2 == 0, 0x2040C0,
                                               0xE0E020));
            originals.push_back(add("good-halves-" + ext + "." + ext, test::read_file(halves)));

            for (std::size_t k = 1; k <= 30; ++k) {
                const std::size_t length = good.size() * k / 31;
                add("cut" + std::to_string(k) + "-" + ext + "." + ext, good.substr(0, length));
            }
            for (int v = 0; v < 50; ++v) {
                Bytes bent = good;
                // The first variants hit the header only, where sizes and offsets live.
                const std::size_t span =
                    v < 15 ? std::min<std::size_t>(64, good.size()) : good.size();
                const int flips = 1 + v % 8;
                for (int f = 0; f < flips; ++f) {
                    const std::size_t at = engine() % span;
                    bent[at] = static_cast<char>(byte_at(bent, at) ^ (1 + engine() % 255));
                }
                add("flip" + std::to_string(v) + "-" + ext + "." + ext, bent);
            }
            add("empty." + ext, Bytes());
            ++index;
        }

        // Headers announcing enormous pictures.
        const std::string header_only = pics + "/huge-header-only.png";
        ASSERT_TRUE(pictures::write_png_header_only(header_only, 100000, 100000));
        files.push_back(header_only);
        add("bomb.png", inflation_bomb_png(60000, 60000, 40000));
        add("bomb-just-over.png", inflation_bomb_png(16385, 16384, 40000));

        const Bytes bmp = test::read_file(dir / "good/o.bmp");
        const std::uint32_t bmp_sizes[][2] = {{100000, 100000},
                                              {100000, static_cast<std::uint32_t>(-100000)},
                                              {0x7FFFFFFFu, 0x7FFFFFFFu},
                                              {0x80000000u, 0x80000000u},
                                              {0, 0}};
        int n = 0;
        for (const auto& size : bmp_sizes) {
            Bytes patched = bmp;
            bytes::put_le(patched, 18, size[0], 4);
            bytes::put_le(patched, 22, size[1], 4);
            add("huge" + std::to_string(n++) + ".bmp", patched);
        }

        const Bytes jpeg = test::read_file(dir / "good/o.jpg");
        const std::size_t sof = find_jpeg_sof(jpeg);
        EXPECT_NE(0u, sof) << "no SOF0/SOF2 marker in the written JPEG";
        if (sof != 0) {
            const std::uint32_t jpeg_sizes[][2] = {{65000, 65000}, {0, 0}, {65535, 1}};
            n = 0;
            for (const auto& size : jpeg_sizes) {
                Bytes patched = jpeg;
                bytes::put_be(patched, sof + 5, size[1], 2);
                bytes::put_be(patched, sof + 7, size[0], 2);
                add("huge" + std::to_string(n++) + ".jpg", patched);
            }
        }

        // The logical screen alone does not size a single-frame load; the image descriptor does.
        Bytes gif = test::read_file(dir / "good/o.gif");
        bytes::put_le(gif, 6, 65535, 2);
        bytes::put_le(gif, 8, 65535, 2);
        add("huge-screen.gif", gif);

        // Files whose own readers crash, hang or exhaust memory: refused by format or by size.
        using pictures::Hostile;
        add("dds.jpg", pictures::hostile(Hostile::Dds));
        add("xbm.png", pictures::hostile(Hostile::Xbm));
        add("sgi.jpg", pictures::hostile(Hostile::Sgi));
        add("pfm.png", pictures::hostile(Hostile::Pfm));
        add("pict.jpg", pictures::hostile(Hostile::Pict));
        add("tall.exr", pictures::exr_header(11, 1000000000, "BGR", 4000));
        add("deep.exr", pictures::exr_header(10000, 10000, "ABGR", 84000));

        if (HeifDecoder::available()) add_broken_heif();

        add("text.jpg", "This is not a picture, only words in a file named like one.\n");
        add("text.png", Bytes(3000, 'x'));
        add("zeros.tif", Bytes(4096, '\0'));
        test::make_dirs(pics + "/x.jpg"); // a folder named like a picture
    }

    // Phones' pictures cut, with flipped bytes, and announcing absurd sizes in their
    // container's size property.
    void add_broken_heif() {
        std::mt19937 engine(20261208u);
        for (const char* ext : {"heic", "avif"}) {
            const std::string made = dir / (std::string("good/o.") + ext);
            ASSERT_TRUE(
                pictures::write_heif(made, 160, 120, ext[0] == 'a', false, 0x2040C0, 0xE0E020))
                << ext;
            const Bytes good = test::read_file(made);
            originals.push_back(add(std::string("good.") + ext, good));
            for (std::size_t k = 1; k <= 15; ++k)
                add("cut" + std::to_string(k) + "." + ext, good.substr(0, good.size() * k / 16));
            for (int v = 0; v < 20; ++v) {
                Bytes bent = good;
                const std::size_t span =
                    v < 10 ? std::min<std::size_t>(400, good.size()) : good.size();
                for (int f = 0; f <= v % 4; ++f) {
                    const std::size_t at = engine() % span;
                    bent[at] = static_cast<char>(byte_at(bent, at) ^ (1 + engine() % 255));
                }
                add("flip" + std::to_string(v) + "." + ext, bent);
            }
            const std::size_t ispe = good.find("ispe");
            ASSERT_NE(std::string::npos, ispe) << ext;
            const std::uint32_t sizes[][2] = {{60000, 60000}, {0, 0}, {1, 1}, {0xFFFFFFFFu, 2}};
            int n = 0;
            for (const auto& size : sizes) {
                Bytes patched = good;
                bytes::put_be(patched, ispe + 8, size[0], 4);
                bytes::put_be(patched, ispe + 12, size[1], 4);
                add("size" + std::to_string(n++) + "." + ext, patched);
            }
        }
    }

    bool configure() {
        const std::string file = dir / "Glimmerwall.cfg";
        test::write_file(file, "trace 4\ndelai 0\ncache 32\npath " + pics + "\n");
        return saver.read_config(file.c_str());
    }

    TempDir dir;
    test::StateHome state{dir};
    const std::string pics = dir / "pics";
    std::vector<std::string> files;
    std::vector<std::string> originals;
    test::RecordingDisplay display;
    ScreenSaver saver;
};

TEST_F(CorpusTest, ShowGoesOnOverBrokenPictures) {
    build_corpus();
    if (HasFatalFailure()) return;
    ASSERT_GE(files.size(), 500u);

    // What decodes on its own: originals, and broken files that still make a picture.
    std::set<std::string> decodable;
    for (const std::string& path : files) {
        BitMap bitmap;
        bitmap.set_window_size(320, 240);
        if (bitmap.load(path)) decodable.insert(path);
    }
    for (const std::string& path : originals) EXPECT_EQ(1u, decodable.count(path)) << path;
    // Announced sizes past the pixel limit are refused before any pixel is decoded.
    for (const char* name : {"huge-header-only.png",
                             "bomb.png",
                             "bomb-just-over.png",
                             "huge0.bmp",
                             "huge1.bmp",
                             "huge2.bmp",
                             "huge3.bmp",
                             "huge4.bmp",
                             "huge0.jpg",
                             "huge1.jpg",
                             "huge2.jpg",
                             "text.jpg",
                             "text.png",
                             "zeros.tif",
                             "dds.jpg",
                             "xbm.png",
                             "sgi.jpg",
                             "pfm.png",
                             "pict.jpg",
                             "tall.exr",
                             "deep.exr"})
        EXPECT_EQ(0u, decodable.count(pics + "/" + name)) << name;

    ASSERT_TRUE(configure());
    saver.set_window_manager(&display, 320, 240);
    const std::size_t steps = files.size() + 40;
    std::chrono::steady_clock::duration slowest{};
    for (std::size_t i = 0; i < steps; ++i) {
        const auto start = std::chrono::steady_clock::now();
        saver.next(true);
        slowest = std::max(slowest, std::chrono::steady_clock::now() - start);
    }
    const auto slowest_ms = std::chrono::duration_cast<std::chrono::milliseconds>(slowest).count();
    std::printf("corpus: %zu files, %zu decodable, %zu steps, slowest step %lld ms\n", files.size(),
                decodable.size(), steps, static_cast<long long>(slowest_ms));

    ASSERT_EQ(steps, display.draws.size());
    std::set<std::string> drawn;
    for (const std::string& caption : display.captions) {
        EXPECT_EQ(1u, decodable.count(caption)) << "drew <" << caption << ">";
        drawn.insert(caption);
    }
    // More steps than files: the first cycle has been through every file.
    for (const std::string& path : decodable) EXPECT_EQ(1u, drawn.count(path)) << path;

    const std::string text = state.trace();
    for (const std::string& path : files) {
        const int refusals = test::count(text, "nextImage : <" + path + "> not displayabe");
        EXPECT_EQ(decodable.count(path) ? 0 : 1, refusals) << path;
    }
    for (const char* refused :
         {"huge-header-only.png ) refused: 100000x100000", "bomb.png ) refused: 60000x60000",
          "huge0.bmp ) refused: 100000x100000", "huge0.jpg ) refused: 65000x65000"})
        EXPECT_LE(1, test::count(text, pics + "/" + refused + " pixels is too large")) << refused;
    for (const char* refused : {"dds.jpg ) refused: format DDS", "xbm.png ) refused: format XBM",
                                "sgi.jpg ) refused: format SGI", "pfm.png ) refused: format PFM",
                                "pict.jpg ) refused: format PICT"})
        EXPECT_LE(1, test::count(text, pics + "/" + refused + " is not shown")) << refused;
    if (HeifDecoder::available()) {
        // libheif's own side limit, which bounds the grids of tiles too, comes first.
        for (const char* name : {"/size0.heic ) decoder: ", "/size0.avif ) decoder: "})
            EXPECT_LE(1, test::count(text, pics + name +
                                               "Memory allocation error: "
                                               "Security limit exceeded"))
                << name;
    }
    EXPECT_EQ(0, test::count(text, "too much failure"));
    EXPECT_EQ(0, test::count(text, "not any valid image"));
}

// FreeImage reads no GIF header without its pixels and allocates a whole frame before
// decoding it: a 2 KB file announcing a 65535 x 65535 frame would cost 4 GB and seconds.
TEST_F(CorpusTest, HugeGifFrameIsRefusedBeforeDecoding) {
    test::TraceFile trace;
    const std::string original = dir / "good/o.gif";
    ASSERT_TRUE(pictures::write(original, 160, 120, pictures::Format::Gif));
    const Bytes gif = test::read_file(original);
    const std::size_t descriptor = find_gif_descriptor(gif);
    ASSERT_NE(0u, descriptor);
    ASSERT_EQ(0x3B, byte_at(gif, gif.size() - 1)); // the trailer
    auto resized = [](Bytes file, std::size_t at, std::uint32_t width, std::uint32_t height) {
        bytes::put_le(file, at, width, 2);
        bytes::put_le(file, at + 2, height, 2);
        return file;
    };
    const std::string huge = add("huge-image.gif", resized(gif, descriptor + 5, 65535, 65535));

    BitMap bitmap;
    bitmap.set_window_size(320, 240);
    EXPECT_FALSE(bitmap.load(huge));
    EXPECT_EQ(1, trace.count("load( " + huge + " ) refused: 65535x65535 pixels is too large"))
        << trace.text();

    // Only the first frame is decoded: a huge logical screen, or a huge frame after it
    // (the first frame's blocks again, before the trailer), costs nothing and is shown.
    Bytes second = gif.substr(descriptor, gif.size() - 1 - descriptor);
    second = resized(second, 5, 65535, 65535);
    const std::string screen = add("huge-screen.gif", resized(gif, 6, 65535, 65535));
    const std::string later =
        add("huge-later-frame.gif", gif.substr(0, gif.size() - 1) + second + "\x3B");
    for (const std::string& path : {screen, later}) {
        EXPECT_TRUE(bitmap.load(path)) << path;
        EXPECT_EQ(320, bitmap.width()) << path;
        EXPECT_TRUE(trace.contains("load( " + path + " ) win:320x240 img:160x120")) << path;
    }
}

} // namespace
