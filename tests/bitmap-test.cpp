#include "BitMap.h"
#include "Bytes.h"
#include "HeifDecoder.h"
#include "Pictures.h"
#include "TestSupport.h"
#include "Tracer.h"

#include <FreeImage.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <sys/stat.h>
#include <unistd.h>

namespace {

using pictures::Format;

struct Colour {
    int blue, green, red;
};

// Pixel (x, row) of the fitted picture, rows counted in memory order (bottom row first).
Colour pixel(const BitMap& bitmap, int x, int row) {
    const std::uint8_t* p =
        bitmap.bits() + static_cast<std::ptrdiff_t>(row) * bitmap.pitch() + 3 * x;
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
    } formats[] = {{Format::Jpeg, "a.jpg"}, {Format::Png, "a.png"},  {Format::Bmp, "a.bmp"},
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

// With a backdrop, the picture made fills the window: the fitted picture where the display
// would centre it, and around it the same picture's colours, blurred and darkened.
TEST_F(BitMapLoad, ABackdropFillsTheWindowAroundTheFittedPicture) {
    // A portrait picture, red on the left and blue on the right, on a landscape window.
    const std::string path = dir / "portrait.png";
    ASSERT_TRUE(pictures::write_halves(path, 300, 400, Format::Png, true, 0xff0000, 0x0000ff));
    BitMap plain;
    plain.set_window_size(320, 240);
    ASSERT_TRUE(plain.load(path));
    BitMap backed;
    backed.set_window_size(320, 240);
    backed.set_backdrop(true);
    ASSERT_TRUE(backed.load(path));
    ASSERT_EQ(320, backed.width());
    ASSERT_EQ(240, backed.height());
    const int left = (320 - plain.width()) / 2;
    for (int row : {0, 100, 239})
        for (int x : {0, plain.width() / 2, plain.width() - 1}) {
            const Colour a = pixel(plain, x, row);
            const Colour b = pixel(backed, left + x, row);
            EXPECT_TRUE(near(b, a, 0)) << x << "," << row;
        }
    // Left of the picture its red, right of it its blue, both darkened; never black.
    const Colour far_left = pixel(backed, 2, 120);
    const Colour far_right = pixel(backed, 317, 120);
    EXPECT_GT(far_left.red, far_left.blue);
    EXPECT_GT(far_right.blue, far_right.red);
    for (const Colour& c : {far_left, far_right}) {
        EXPECT_LE(std::max({c.red, c.green, c.blue}), 120);
        EXPECT_GT(c.red + c.green + c.blue, 20);
    }
    // A picture that fills the window has no room for one.
    const std::string wide = dir / "wide.png";
    ASSERT_TRUE(pictures::write(wide, 320, 240, Format::Png));
    BitMap full;
    full.set_window_size(320, 240);
    full.set_backdrop(true);
    ASSERT_TRUE(full.load(wide));
    EXPECT_EQ(320, full.width());
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
    for (const char* name : {"text.jpg", "empty.png", "missing.jpg", "cut.jpg", "cut.png",
                             "cut.gif", "pipe.jpg", "folder.png"}) {
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(dir / name)) << name;
        EXPECT_EQ(0, bitmap.width());
        EXPECT_EQ(nullptr, bitmap.bits());
        EXPECT_EQ(0, bitmap.pitch());
    }
    // The decoders' own words may be traced; the loads themselves are not.
    EXPECT_FALSE(trace.contains(" win:")) << trace.text();
    EXPECT_FALSE(trace.contains("refused")) << trace.text();

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
    for (const char* name : {"huge.png", "over.png", "turned.jpg"}) {
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(dir / name)) << name;
        EXPECT_EQ(0, bitmap.width());
    }
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
        jpeg.insert(2, bytes::exif_orientation_segment(orientation, tag_type));
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
            << what << "\n"
            << trace.text();

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

// Small files that FreeImage recognises by their content, whatever their names, and whose
// readers crash, hang or exhaust memory on them.
TEST_F(BitMapLoad, FormatsOutsideThePhotoFormatsAreRefusedBeforeDecoding) {
    using pictures::Hostile;
    const struct {
        const char* name;
        std::string bytes;
        FREE_IMAGE_FORMAT fif;
        const char* format;
    } cases[] = {
        {"dds.jpg", pictures::hostile(Hostile::Dds), FIF_DDS, "DDS"},
        {"xbm.jpg", pictures::hostile(Hostile::Xbm), FIF_XBM, "XBM"}, // its reader never ends
        {"sgi.png", pictures::hostile(Hostile::Sgi), FIF_SGI, "SGI"},
        {"pfm.jpg", pictures::hostile(Hostile::Pfm), FIF_PFM, "PFM"},
        {"pict.jpg", pictures::hostile(Hostile::Pict), FIF_PICT, "PICT"},
    };
    Tracer::instance().all_module_level(1);
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        test::write_file(path, c.bytes);
        ASSERT_EQ(c.fif, FreeImage_GetFileType(path.c_str(), 0)) << c.name;
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(path)) << c.name;
        EXPECT_EQ(1,
                  trace.count("load( " + path + " ) refused: format " + c.format + " is not shown"))
            << trace.text();
    }
}

TEST_F(BitMapLoad, OnlyRegularFilesWithContentAreRead) {
    // A regular file of the proc file system reads as empty or blocks; it is not opened.
    ASSERT_EQ(0, symlink("/proc/self/status", (dir / "proc.jpg").c_str()));
    ASSERT_EQ(0, symlink("/dev/zero", (dir / "zero.png").c_str()));
    for (const char* name : {"proc.jpg", "zero.png"}) {
        BitMap bitmap;
        bitmap.set_window_size(320, 200);
        EXPECT_FALSE(bitmap.load(dir / name)) << name;
    }
    EXPECT_FALSE(trace.contains("[BitMap]")) << trace.text();
}

TEST_F(BitMapLoad, AnnouncedSizesAreCheckedInPixelsAndBytesBeforeDecoding) {
    const struct {
        const char* name;
        std::string bytes;
        const char* refusal;
    } cases[] = {
        // Its header reader would keep two words for each of the 10^9 lines: 16 GB.
        {"tall.exr", pictures::exr_header(11, 1000000000, "BGR", 4000), nullptr},
        // 100 megapixels within the pixel limit, but 16 bytes each.
        {"deep.exr", pictures::exr_header(10000, 10000, "ABGR", 80000 + 4000),
         "10000x10000 pixels of 16 bytes is too large"},
        // 20000 scan lines whose offsets cannot fit in the file.
        {"short.exr", pictures::exr_header(100, 20000, "BGR", 1000), nullptr},
        // Channel lists that OpenEXR's reader can loop over without end: a channel named
        // twice, channels sampled every 0 or every 3 pixels.
        {"twice.exr", pictures::exr_header(24, 16, "BGRR", 24 * 16 * 16), nullptr},
        {"sampled0.exr", pictures::exr_header(24, 16, "BGR", 24 * 16 * 12, 0), nullptr},
        {"sampled3.exr", pictures::exr_header(24, 16, "BGR", 24 * 16 * 12, 3), nullptr},
        // 164 megapixels of 8 bytes.
        {"rgba16.png", "", "16384x10000 pixels of 8 bytes is too large"},
    };
    ASSERT_TRUE(pictures::write_png_header(dir / "rgba16.png", 16384, 10000, 16, 6));
    for (const auto& c : cases) {
        if (!c.bytes.empty()) test::write_file(dir / c.name, c.bytes);
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        EXPECT_FALSE(bitmap.load(dir / c.name)) << c.name;
        if (c.refusal) {
            EXPECT_TRUE(trace.contains(c.name + std::string(" ) refused: ") + c.refusal))
                << trace.text();
        }
    }
}

// Decoders' own messages (libtiff warns of tags it does not know in every camera's TIFF).
TEST_F(BitMapLoad, DecoderMessagesGoToTheTraceNotToStandardError) {
    const std::string path = dir / "a.tif";
    ASSERT_TRUE(pictures::write(path, 64, 48, Format::Tiff));
    Tracer::instance().all_module_level(3);
    ::testing::internal::CaptureStderr();
    BitMap bitmap;
    bitmap.set_window_size(64, 48);
    const bool loaded = bitmap.load(path);
    const std::string printed = ::testing::internal::GetCapturedStderr();
    EXPECT_TRUE(loaded);
    EXPECT_EQ("", printed);
    EXPECT_TRUE(trace.contains("load( " + path + " ) decoder: ")) << trace.text();
    EXPECT_FALSE(trace.contains("win:64x48")); // level 4 stays out: the messages are level 3
}

// Deeper samples are brought to 8 bits per channel: 16-bit by their high byte, floating
// point through a tone-mapping operator that keeps hues and the order of light and shade.
TEST_F(BitMapLoad, EveryPixelTypeIsShown) {
    using pictures::Container;
    using pictures::Samples;
    const struct {
        const char* name;
        Samples samples;
        Container container;
        double red, green, blue;
        Colour expected; // exact for 16 bits; for floats, see below
    } cases[] = {
        {"grey16.png", Samples::Grey16, Container::Png, 0.5, 0.5, 0.5, {128, 128, 128}},
        {"grey16.tif", Samples::Grey16, Container::Tiff, 0.25, 0.25, 0.25, {64, 64, 64}},
        {"rgb16.png", Samples::Rgb16, Container::Png, 0.75, 0.25, 0.125, {32, 64, 192}},
        {"rgba16.png", Samples::Rgba16, Container::Png, 0.125, 0.5, 0.75, {192, 128, 32}},
        {"rgbf.tif", Samples::RgbFloat, Container::Tiff, 0.6, 0.3, 0.1, {}},
        {"greyf.tif", Samples::GreyFloat, Container::Tiff, 0.4, 0.4, 0.4, {}},
        {"rgbf.exr", Samples::RgbFloat, Container::Exr, 0.1, 0.3, 0.6, {}},
        {"rgbaf.exr", Samples::RgbaFloat, Container::Exr, 0.2, 0.5, 0.2, {}},
    };
    for (const auto& c : cases) {
        const std::string path = dir / c.name;
        ASSERT_TRUE(
            pictures::write_deep(path, 60, 40, c.samples, c.container, c.red, c.green, c.blue))
            << c.name;
        BitMap bitmap;
        bitmap.set_window_size(120, 80);
        ASSERT_TRUE(bitmap.load(path)) << c.name << "\n" << trace.text();
        EXPECT_TRUE(trace.contains("load( " + path + " ) win:120x80 img:60x40 rescale:120x80"));
        const Colour shown = pixel(bitmap, 60, 40);
        if (c.samples == Samples::Grey16 || c.samples == Samples::Rgb16 ||
            c.samples == Samples::Rgba16) {
            EXPECT_TRUE(near(shown, c.expected, 1)) << c.name;
            continue;
        }
        // Lighter to the right, neither black nor burnt out in the middle, and the channels in
        // the order of the scene's light.
        const Colour left = pixel(bitmap, 10, 40), right = pixel(bitmap, 110, 40);
        EXPECT_LT(left.red + left.green + left.blue, shown.red + shown.green + shown.blue);
        EXPECT_LT(shown.red + shown.green + shown.blue, right.red + right.green + right.blue);
        const int channels[] = {shown.red, shown.green, shown.blue};
        const double light[] = {c.red, c.green, c.blue};
        for (int i = 0; i < 3; ++i) {
            EXPECT_GT(channels[i], 10) << c.name;
            EXPECT_LT(channels[i], 250) << c.name;
            for (int j = 0; j < 3; ++j) {
                if (light[i] > light[j]) {
                    EXPECT_GT(channels[i], channels[j]) << c.name;
                } else if (light[i] == light[j]) {
                    EXPECT_NEAR(channels[i], channels[j], 1) << c.name;
                }
            }
        }
    }
}

// Phones' pictures: HEIC, and AVIF with a rotation in its container.
TEST_F(BitMapLoad, HeicAndAvifAreShownUprightWithTheCommonTraceLines) {
    if (!HeifDecoder::available()) GTEST_SKIP() << "built without libheif";
    const std::string heic = dir / "a.heic", avif = dir / "a.avif", turned = dir / "turned.avif";
    // Stored 400 x 300, left half red. Turned a quarter anticlockwise, the red half is below.
    ASSERT_TRUE(pictures::write_heif(heic, 400, 300, false, true, 0xff0000, 0x0000ff));
    ASSERT_TRUE(pictures::write_heif(avif, 400, 300, true, true, 0xff0000, 0x0000ff));
    ASSERT_TRUE(pictures::write_heif(turned, 400, 300, true, true, 0xff0000, 0x0000ff, "--irot 1"));
    const struct {
        const std::string& path;
        const char* line;
        int width, height;
        Colour first, second; // left and right, or top and bottom as shown
    } cases[] = {
        {heic, " ) win:800x500 img:400x300 rescale:666x500", 666, 500, kRed, kBlue},
        {avif, " ) win:800x500 img:400x300 rescale:666x500", 666, 500, kRed, kBlue},
        {turned, " ) win:800x500 img:300x400 rescale:375x500", 375, 500, kBlue, kRed},
    };
    for (const auto& c : cases) {
        BitMap bitmap;
        bitmap.set_window_size(800, 500);
        ASSERT_TRUE(bitmap.load(c.path)) << c.path << "\n" << trace.text();
        EXPECT_EQ(c.width, bitmap.width());
        EXPECT_EQ(c.height, bitmap.height());
        EXPECT_TRUE(trace.contains("load( " + c.path + c.line)) << trace.text();
        const bool turned_case = c.width < c.height;
        // Rows in memory are bottom-up: row height - 1 is the top.
        const Colour first = turned_case ? pixel(bitmap, c.width / 2, c.height * 3 / 4)
                                         : pixel(bitmap, c.width / 4, c.height / 2);
        const Colour second = turned_case ? pixel(bitmap, c.width / 2, c.height / 4)
                                          : pixel(bitmap, c.width * 3 / 4, c.height / 2);
        EXPECT_TRUE(near(first, c.first, 40)) << c.path;
        EXPECT_TRUE(near(second, c.second, 40)) << c.path;
    }
}

} // namespace
