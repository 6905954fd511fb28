#include "BitMap.h"
#include "Pictures.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <chrono>
#include <cmath>
#include <cstdlib>
#include <string>
#include <sys/stat.h>

namespace {

using pictures::Format;

struct Colour {
    int blue, green, red;
};

// Pixel (x, row) of the fitted picture, rows counted in memory order (bottom row first).
Colour pixel(const BitMap& bitmap, int x, int row) {
    const std::uint8_t* p = bitmap.bits() + static_cast<std::ptrdiff_t>(row) * bitmap.pitch() + 3 * x;
    return {p[0], p[1], p[2]};
}

// Within `tolerance` on every channel (JPEG and the box filter blur colours a little).
::testing::AssertionResult near(Colour actual, Colour expected, int tolerance) {
    if (std::abs(actual.blue - expected.blue) <= tolerance &&
        std::abs(actual.green - expected.green) <= tolerance &&
        std::abs(actual.red - expected.red) <= tolerance)
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure()
           << "BGR " << actual.blue << "," << actual.green << "," << actual.red << " instead of "
           << expected.blue << "," << expected.green << "," << expected.red;
}

const Colour kRed{0, 0, 255};
const Colour kBlue{255, 0, 0};

std::string fitted(std::int32_t iw, std::int32_t ih, std::int32_t ww, std::int32_t wh) {
    std::int32_t w = -1, h = -1;
    BitMap::fit(iw, ih, ww, wh, w, h);
    return std::to_string(w) + "x" + std::to_string(h);
}

TEST(BitMapFit, KeepsProportionsWithTheTruncationsOfTheFormula) {
    EXPECT_EQ("1440x1080", fitted(1000, 750, 1920, 1080));
    EXPECT_EQ("1080x1080", fitted(100, 100, 1920, 1080));
    EXPECT_EQ("1920x1080", fitted(2560, 1440, 1920, 1080));
    EXPECT_EQ("810x1080", fitted(3000, 4000, 1920, 1080));
    EXPECT_EQ("1350x1080", fitted(1280, 1024, 1920, 1080));
    EXPECT_EQ("1280x960", fitted(640, 480, 1280, 1024));
    EXPECT_EQ("39x50", fitted(7, 9, 100, 50)); // from the truncated height 128, not 9/7
    EXPECT_EQ("1918x1080", fitted(1920, 1081, 1920, 1080)); // 1920 x 1080 / 1081 = 1918.2
}

TEST(BitMapFit, DegenerateSizesGiveNothingAndLargeOnesDoNotOverflow) {
    EXPECT_EQ("0x0", fitted(0, 100, 1920, 1080));
    EXPECT_EQ("0x0", fitted(100, 0, 1920, 1080));
    EXPECT_EQ("0x0", fitted(100, 100, 0, 1080));
    EXPECT_EQ("0x0", fitted(100, 100, 1920, 0));
    EXPECT_EQ("0x0", fitted(-5, 100, 1920, 1080));
    EXPECT_EQ("0x0", fitted(100, 100, 1920, -1));
    EXPECT_EQ("0x50", fitted(1, 1000, 100, 50)); // too thin to keep a column
    EXPECT_EQ("3840x2160", fitted(65536, 36864, 3840, 2160));
    EXPECT_EQ("0x2160", fitted(1, 2000000000, 3840, 2160));
    EXPECT_EQ("2000000000x1", fitted(2000000000, 1, 2000000000, 2000000000));
}

class BitMapLoad : public ::testing::Test {
protected:
    test::TempDir dir;
    test::TraceFile trace;
};

TEST_F(BitMapLoad, EveryWrittenFormatIsFittedAndTraced) {
    const struct {
        Format format;
        const char* name;
    } formats[] = {{Format::Jpeg, "a.jpg"}, {Format::Png, "a.png"}, {Format::Bmp, "a.bmp"},
                   {Format::Gif, "a.gif"},  {Format::Tiff, "a.tif"}, {Format::WebP, "a.webp"}};
    for (const auto& f : formats) {
        const std::string path = dir / f.name;
        if (!pictures::write(path, 400, 300, f.format)) {
            ASSERT_EQ(Format::WebP, f.format) << f.name; // the one that FreeImage may lack
            continue;
        }
        BitMap bitmap;
        bitmap.set_window_size(800, 500);
        ASSERT_TRUE(bitmap.load(path)) << f.name;
        EXPECT_EQ(666, bitmap.width()) << f.name; // 800 x 500 / 600
        EXPECT_EQ(500, bitmap.height()) << f.name;
        EXPECT_EQ(2000, bitmap.pitch()) << f.name; // 1998 rounded up to a multiple of 4
        ASSERT_NE(nullptr, bitmap.bits());
        EXPECT_TRUE(near(pixel(bitmap, 333, 250), {30, 60, 200}, 12)) << f.name;
        EXPECT_TRUE(trace.contains("[BitMap]               load( " + path +
                                   " ) win:800x500 img:400x300 rescale:666x500"))
            << trace.text();
    }
}

TEST_F(BitMapLoad, BitsAreBottomUpBgrRowsPaddedToFourBytes) {
    const std::string path = dir / "halves.png";
    ASSERT_TRUE(pictures::write_halves(path, 50, 40, Format::Png, false, 0xff0000, 0x0000ff));
    BitMap bitmap;
    bitmap.set_window_size(50, 40);
    ASSERT_TRUE(bitmap.load(path));
    ASSERT_EQ(50, bitmap.width());
    ASSERT_EQ(40, bitmap.height());
    ASSERT_EQ(152, bitmap.pitch());
    for (int x : {0, 49}) {
        EXPECT_TRUE(near(pixel(bitmap, x, 0), kBlue, 0)) << "bottom row first, x " << x;
        EXPECT_TRUE(near(pixel(bitmap, x, 19), kBlue, 0)) << x;
        EXPECT_TRUE(near(pixel(bitmap, x, 20), kRed, 0)) << x;
        EXPECT_TRUE(near(pixel(bitmap, x, 39), kRed, 0)) << "top row last, x " << x;
    }
}

TEST_F(BitMapLoad, UndecodableFilesFailWithoutATraceLine) {
    test::write_file(dir / "text.jpg", "These are words, not pixels.\n");
    test::write_file(dir / "empty.png", "");
    ASSERT_TRUE(pictures::write_truncated(dir / "cut.jpg", 300, 200, Format::Jpeg, 300));
    ASSERT_TRUE(pictures::write_truncated(dir / "cut.png", 300, 200, Format::Png, 100));
    ASSERT_TRUE(pictures::write_truncated(dir / "cut.gif", 300, 200, Format::Gif, 200));
    // Reading a pipe named like a picture would wait for a writer for ever.
    ASSERT_EQ(0, mkfifo((dir / "pipe.jpg").c_str(), 0600));
    test::make_dirs(dir / "folder.png");
    for (const char* name : {"text.jpg", "empty.png", "missing.jpg", "cut.jpg", "cut.png", "cut.gif",
                             "pipe.jpg", "folder.png"}) {
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(dir / name)) << name;
        EXPECT_EQ(0, bitmap.width());
        EXPECT_EQ(nullptr, bitmap.bits());
        EXPECT_EQ(0, bitmap.pitch());
    }
    EXPECT_FALSE(trace.contains("[BitMap]")) << trace.text();

    // Cut inside the compressed data, a JPEG still decodes: the decoder fills in grey.
    ASSERT_TRUE(pictures::write_truncated(dir / "tail.jpg", 300, 200, Format::Jpeg, 2000));
    BitMap tail;
    tail.set_window_size(1920, 1080);
    if (tail.load(dir / "tail.jpg")) {
        EXPECT_EQ(1620, tail.width());
    }
}

TEST_F(BitMapLoad, NeedsAWindowSizeFirst) {
    const std::string path = dir / "a.png";
    ASSERT_TRUE(pictures::write(path, 40, 30, Format::Png));
    BitMap bitmap;
    EXPECT_FALSE(bitmap.load(path));
    bitmap.set_window_size(0, 0);
    EXPECT_FALSE(bitmap.load(path));
    EXPECT_FALSE(trace.contains("[BitMap]"));
    bitmap.set_window_size(0, 10); // one side suffices to try; the fit is empty
    EXPECT_FALSE(bitmap.load(path));
    bitmap.set_window_size(80, 0);
    EXPECT_FALSE(bitmap.load(path));
    bitmap.set_window_size(80, 60);
    EXPECT_TRUE(bitmap.load(path));
}

// Rewrites the frame size (SOF0) of a JPEG held in `bytes`.
bool patch_jpeg_size(std::string& bytes, int width, int height) {
    std::size_t at = 2;
    while (at + 9 < bytes.size() && static_cast<unsigned char>(bytes[at]) == 0xff) {
        const auto marker = static_cast<unsigned char>(bytes[at + 1]);
        if (marker == 0xc0) {
            bytes[at + 5] = static_cast<char>(height >> 8);
            bytes[at + 6] = static_cast<char>(height);
            bytes[at + 7] = static_cast<char>(width >> 8);
            bytes[at + 8] = static_cast<char>(width);
            return true;
        }
        at += 2 + (static_cast<unsigned char>(bytes[at + 2]) << 8) +
              static_cast<unsigned char>(bytes[at + 3]);
    }
    return false;
}

TEST_F(BitMapLoad, EnormousPicturesAreRefusedBeforeTheirPixelsAreRead) {
    // 65536 x 65536 is 2^32 pixels: 0 in 32-bit arithmetic.
    ASSERT_TRUE(pictures::write_png_header_only(dir / "huge.png", 65536, 65536));
    ASSERT_TRUE(pictures::write_png_header_only(dir / "over.png", 16384, 16385));
    // A small JPEG that claims 20000 x 16000 and turns a quarter on display.
    ASSERT_TRUE(pictures::write_jpeg_with_orientation(dir / "turned.jpg", 16, 8, 6));
    std::string jpeg = test::read_file(dir / "turned.jpg");
    ASSERT_TRUE(patch_jpeg_size(jpeg, 20000, 16000));
    test::write_file(dir / "turned.jpg", jpeg);

    Tracer::instance().all_module_level(1);
    const auto start = std::chrono::steady_clock::now();
    for (const char* name : {"huge.png", "over.png", "turned.jpg"}) {
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(dir / name)) << name;
        EXPECT_EQ(0, bitmap.width());
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
    Tracer::instance().all_module_level(4);
    EXPECT_TRUE(trace.contains("load( " + (dir / "huge.png") +
                               " ) refused: 65536x65536 pixels is too large"))
        << trace.text();
    EXPECT_TRUE(trace.contains("refused: 16384x16385 pixels"));
    EXPECT_TRUE(trace.contains("refused: 16000x20000 pixels")); // the shown size
}

TEST_F(BitMapLoad, ExifOrientationIsShownUpright) {
    // Stored 300 x 200, left half red. Orientation 6 is turned a quarter clockwise to be
    // shown: the stored left edge goes to the top; 8 turns the other way, 3 a half turn.
    const struct {
        int orientation;
        int width, height;
        Colour top_left, top_right, bottom_left, bottom_right; // quadrants as shown
    } cases[] = {{1, 300, 200, kRed, kBlue, kRed, kBlue},
                 {6, 200, 300, kRed, kRed, kBlue, kBlue},
                 {8, 200, 300, kBlue, kBlue, kRed, kRed},
                 {3, 300, 200, kBlue, kRed, kBlue, kRed}};
    for (const auto& c : cases) {
        const std::string path = dir / ("o" + std::to_string(c.orientation) + ".jpg");
        ASSERT_TRUE(pictures::write_jpeg_with_orientation(path, 300, 200, c.orientation));
        BitMap bitmap;
        bitmap.set_window_size(c.width, c.height); // fits one to one
        ASSERT_TRUE(bitmap.load(path)) << c.orientation;
        ASSERT_EQ(c.width, bitmap.width()) << c.orientation;
        ASSERT_EQ(c.height, bitmap.height()) << c.orientation;
        const int left = c.width / 4, right = c.width - 1 - c.width / 4;
        const int top = c.height - 1 - c.height / 4, bottom = c.height / 4; // rows in memory
        EXPECT_TRUE(near(pixel(bitmap, left, top), c.top_left, 40)) << c.orientation;
        EXPECT_TRUE(near(pixel(bitmap, right, top), c.top_right, 40)) << c.orientation;
        EXPECT_TRUE(near(pixel(bitmap, left, bottom), c.bottom_left, 40)) << c.orientation;
        EXPECT_TRUE(near(pixel(bitmap, right, bottom), c.bottom_right, 40)) << c.orientation;
        EXPECT_TRUE(trace.contains("win:" + std::to_string(c.width) + "x" +
                                   std::to_string(c.height) + " img:" + std::to_string(c.width) +
                                   "x" + std::to_string(c.height)));
    }
    // The fitted size follows the shown size: 300 x 200 turned is fitted as a portrait.
    BitMap portrait;
    portrait.set_window_size(1920, 1080);
    ASSERT_TRUE(portrait.load(dir / "o6.jpg"));
    EXPECT_EQ(720, portrait.width());
    EXPECT_EQ(1080, portrait.height());
}

// A photo-like picture: gradients, hard-edged shapes and mild noise. On a solid colour
// every downscale would agree.
FIBITMAP* photo(int width, int height) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    if (!dib) return nullptr;
    std::uint32_t seed = 2026;
    auto clamp = [](int v) { return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v); };
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 29) - 4; // -4 ... 3
            const int dx = x - width / 3, dy = y - height / 2, r = height / 4;
            const bool disc = dx * dx + dy * dy < r * r;
            const bool bar = x > width * 3 / 5 && x < width * 4 / 5 && y > height / 5;
            int red = 40 + 180 * x / width, green = 60 + 150 * y / height, blue = 120;
            if (disc) red = 230, green = 200 - 100 * y / height, blue = 40;
            if (bar) red = 20, green = 40 + 120 * x / width, blue = 200;
            line[3 * x + FI_RGBA_RED] = clamp(red + noise);
            line[3 * x + FI_RGBA_GREEN] = clamp(green + noise);
            line[3 * x + FI_RGBA_BLUE] = clamp(blue - noise);
        }
    }
    return dib;
}

void put_le(std::string& out, std::uint32_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) out.push_back(static_cast<char>(value >> (8 * i)));
}

// `photo` as a JPEG file, with an EXIF Orientation tag of `tag_type` (3 SHORT, 4 LONG) when
// `orientation` is not 1.
bool write_photo(const std::string& path, int width, int height, int orientation,
                 int tag_type = 3) {
    FIBITMAP* dib = photo(width, height);
    FIMEMORY* memory = FreeImage_OpenMemory(nullptr, 0);
    bool ok = dib && memory && FreeImage_SaveToMemory(FIF_JPEG, dib, memory, JPEG_DEFAULT);
    BYTE* data = nullptr;
    DWORD size = 0;
    ok = ok && FreeImage_AcquireMemory(memory, &data, &size) && size > 2;
    std::string jpeg = ok ? std::string(reinterpret_cast<const char*>(data), size) : "";
    if (memory) FreeImage_CloseMemory(memory);
    if (dib) FreeImage_Unload(dib);
    if (!ok) return false;
    if (orientation != 1) {
        std::string exif("\xff\xe1\0\0Exif\0\0II", 12);
        put_le(exif, 42, 2);
        put_le(exif, 8, 4);
        put_le(exif, 1, 2);      // one entry
        put_le(exif, 0x0112, 2); // Orientation
        put_le(exif, static_cast<std::uint32_t>(tag_type), 2);
        put_le(exif, 1, 4);
        put_le(exif, static_cast<std::uint32_t>(orientation), 4);
        put_le(exif, 0, 4); // no next IFD
        exif[2] = static_cast<char>((exif.size() - 2) >> 8);
        exif[3] = static_cast<char>(exif.size() - 2);
        jpeg.insert(2, exif);
    }
    test::write_file(path, jpeg);
    return true;
}

// Peak signal-to-noise ratio of the fitted picture against `reference` (same size, 24 bits);
// infinity when they are identical.
double psnr(const BitMap& bitmap, FIBITMAP* reference) {
    double squares = 0;
    for (int row = 0; row < bitmap.height(); ++row) {
        const std::uint8_t* a = bitmap.bits() + static_cast<std::ptrdiff_t>(row) * bitmap.pitch();
        const BYTE* b = FreeImage_GetScanLine(reference, row);
        for (int i = 0; i < 3 * bitmap.width(); ++i) squares += (a[i] - b[i]) * (a[i] - b[i]);
    }
    if (squares == 0) return INFINITY;
    return 10 * std::log10(255.0 * 255.0 * 3 * bitmap.width() * bitmap.height() / squares);
}

TEST_F(BitMapLoad, LargeJpegsAreDecodedReducedWithTheFullSizeFittedAndTraced) {
    const std::string landscape = dir / "landscape.jpg", portrait = dir / "portrait.jpg",
                      odd = dir / "odd.jpg", unannounced = dir / "unannounced.jpg";
    ASSERT_TRUE(write_photo(landscape, 3000, 2000, 1));
    ASSERT_TRUE(write_photo(portrait, 3000, 2000, 6));
    ASSERT_TRUE(write_photo(odd, 3001, 2001, 1));
    // An Orientation that the header reading ignores (LONG) but the decoder obeys.
    ASSERT_TRUE(write_photo(unannounced, 3000, 2000, 6, 4));
    const struct {
        const std::string& path;
        int window_width, window_height;
        const char* shown; // full size, as traced
        int width, height; // fitted
        bool reduced;      // decoded at 1/2, 1/4 or 1/8: close to, not equal to, the plain way
    } cases[] = {
        {landscape, 1920, 1080, "3000x2000", 1620, 1080, false}, // more than half: in full
        {landscape, 1500, 1000, "3000x2000", 1500, 1000, true},  // exactly half
        {landscape, 700, 500, "3000x2000", 700, 466, true},
        {landscape, 400, 200, "3000x2000", 300, 200, true},
        {portrait, 1920, 1080, "2000x3000", 720, 1080, true},
        {portrait, 400, 200, "2000x3000", 133, 200, true},
        // 1/8 would round 3001 up to 3008 and slide the picture by 0.7 pixel: 1/2 is taken.
        {odd, 400, 200, "3001x2001", 300, 200, true},
        {unannounced, 400, 200, "2000x3000", 133, 200, false}, // turned: decoded again in full
    };
    for (const auto& c : cases) {
        const std::string what = c.path + " on " + std::to_string(c.window_width) + "x" +
                                 std::to_string(c.window_height);
        BitMap bitmap;
        bitmap.set_window_size(c.window_width, c.window_height);
        ASSERT_TRUE(bitmap.load(c.path)) << what;
        ASSERT_EQ(c.width, bitmap.width()) << what;
        ASSERT_EQ(c.height, bitmap.height()) << what;
        EXPECT_TRUE(trace.contains("load( " + c.path + " ) win:" + std::to_string(c.window_width) +
                                   "x" + std::to_string(c.window_height) + " img:" + c.shown +
                                   " rescale:" + std::to_string(c.width) + "x" +
                                   std::to_string(c.height)))
            << what << "\n" << trace.text();

        // The plain way: the whole picture decoded upright, 24 bits, box filter.
        FIBITMAP* full = FreeImage_Load(FIF_JPEG, c.path.c_str(), JPEG_EXIFROTATE);
        FIBITMAP* plain = FreeImage_Rescale(full, c.width, c.height, FILTER_BOX);
        ASSERT_NE(nullptr, plain) << what;
        const double db = psnr(bitmap, plain);
        FreeImage_Unload(plain);
        FreeImage_Unload(full);
        if (c.reduced) {
            EXPECT_GE(db, 35.0) << what;
            EXPECT_LT(db, 100.0) << what << ": not decoded reduced";
        } else {
            EXPECT_EQ(INFINITY, db) << what;
        }
    }
}

TEST_F(BitMapLoad, SecondLoadReplacesAndFailedLoadKeeps) {
    ASSERT_TRUE(pictures::write(dir / "red.png", 400, 300, Format::Png, 255, 0, 0));
    ASSERT_TRUE(pictures::write(dir / "blue.png", 300, 400, Format::Png, 0, 0, 255));
    ASSERT_TRUE(pictures::write(dir / "thin.png", 1, 1000, Format::Png));
    BitMap bitmap;
    bitmap.set_window_size(100, 50);
    ASSERT_TRUE(bitmap.load(dir / "red.png"));
    EXPECT_EQ(66, bitmap.width());
    ASSERT_TRUE(bitmap.load(dir / "blue.png"));
    EXPECT_EQ(37, bitmap.width()); // 100 x 50 / 133
    EXPECT_EQ(50, bitmap.height());
    const std::uint8_t* blue_bits = bitmap.bits();

    // Nothing to decode, or nothing left to show once fitted (0 x 50): the blue one stays.
    EXPECT_FALSE(bitmap.load(dir / "missing.png"));
    EXPECT_FALSE(bitmap.load(dir / "thin.png"));
    EXPECT_TRUE(trace.contains("load( " + (dir / "thin.png") + " ) --> no 0x50 picture made"));
    EXPECT_EQ(37, bitmap.width());
    EXPECT_EQ(50, bitmap.height());
    EXPECT_EQ(blue_bits, bitmap.bits());
    EXPECT_TRUE(near(pixel(bitmap, 18, 25), kBlue, 0));
}

} // namespace
