// The Windows build's decoders against the Linux build's: each picture decoded by
// DecodeProbe.exe under Wine (the program's own decoding, linked as in Glimmerwall.scr) and by
// the BitMap of this process gives the same trace lines, fitted size and pixels to within 1.
#include "BitMap.h"
#include "Pictures.h"
#include "TestSupport.h"
#include "Wine.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>
#include <string>
#include <vector>

namespace {

using pictures::Format;
using wine::g_machine;
using wine::WineShow;

constexpr int kWindowWidth = 1920;
constexpr int kWindowHeight = 1080;

struct Decoded {
    bool loaded = false;
    int width = 0, height = 0, pitch = 0;
    std::string bits;
};

Decoded read_probe(const std::string& path) {
    Decoded d;
    const std::string text = test::read_file(path);
    const std::string::size_type end = text.find('\n');
    if (end == std::string::npos || text.compare(0, end, "refused") == 0) return d;
    std::istringstream(text.substr(0, end)) >> d.width >> d.height >> d.pitch;
    d.loaded = true;
    d.bits = text.substr(end + 1);
    return d;
}

Decoded decode_here(const std::string& path) {
    Decoded d;
    BitMap bitmap;
    bitmap.set_window_size(kWindowWidth, kWindowHeight);
    if (!bitmap.load(path)) return d;
    d.loaded = true;
    d.width = bitmap.width();
    d.height = bitmap.height();
    d.pitch = bitmap.pitch();
    d.bits.assign(reinterpret_cast<const char*>(bitmap.bits()),
                  static_cast<std::size_t>(d.pitch) * static_cast<std::size_t>(d.height));
    return d;
}

// The BitMap lines of a trace, each from its module's name on, with the pictures' folder as
// "<dir>" whichever way each system writes it.
std::vector<std::string> bitmap_lines(const std::string& text, const std::string& folder) {
    std::vector<std::string> lines;
    std::istringstream in(text);
    for (std::string line; std::getline(in, line);) {
        const std::string::size_type at = line.find("[BitMap]");
        if (at == std::string::npos) continue;
        line.erase(0, at);
        for (std::string::size_type f; (f = line.find(folder)) != std::string::npos;)
            line.replace(f, folder.size(), "<dir>/");
        lines.push_back(line);
    }
    return lines;
}

// The largest difference of one sample over the picture's rows (not their padding).
int largest_difference(const Decoded& a, const Decoded& b) {
    int largest = 0;
    for (int y = 0; y < a.height; ++y)
        for (int x = 0; x < a.width * 3; ++x) {
            const std::size_t i = static_cast<std::size_t>(y) * static_cast<std::size_t>(a.pitch) +
                                  static_cast<std::size_t>(x);
            largest = std::max(largest, std::abs(static_cast<unsigned char>(a.bits[i]) -
                                                 static_cast<unsigned char>(b.bits[i])));
        }
    return largest;
}

class WineDecoding : public WineShow {
protected:
    const std::string dir = g_machine->drive_d() + "/decode";
    std::vector<std::string> names;

    void SetUp() override {
        WineShow::SetUp();
        std::filesystem::remove_all(dir);
        test::make_dirs(dir + "/out");
        std::filesystem::copy_file(GW_DECODE_PROBE, dir + "/DecodeProbe.exe");
    }
    std::string path(const std::string& name) {
        names.push_back(name);
        return dir + "/" + name;
    }
    // Every file named so far, through both builds; `shown` says which ones must be shown.
    // Linux's trace lines that hold `linux_only` are not in the Windows trace.
    void expect_same(const std::vector<std::string>& shown, const std::string& linux_only = "") {
        std::vector<std::string> argv = {"wine", "D:\\decode\\DecodeProbe.exe",
                                         "D:\\decode\\out\\trace.txt", std::to_string(kWindowWidth),
                                         std::to_string(kWindowHeight)};
        for (std::size_t i = 0; i < names.size(); ++i) {
            argv.push_back("D:\\decode\\" + names[i]);
            argv.push_back("D:\\decode\\out\\" + std::to_string(i));
        }
        ASSERT_EQ(0,
                  desktop::run(argv, g_machine->wine_environment(false), g_machine->log(), 120000))
            << test::read_file(g_machine->log());
        const test::TraceFile trace;
        for (std::size_t i = 0; i < names.size(); ++i) {
            const std::string& name = names[i];
            const Decoded here = decode_here(dir + "/" + name);
            const Decoded there = read_probe(dir + "/out/" + std::to_string(i));
            const bool wanted = std::find(shown.begin(), shown.end(), name) != shown.end();
            EXPECT_EQ(wanted, here.loaded) << name << " on Linux";
            EXPECT_EQ(here.loaded, there.loaded) << name;
            if (!here.loaded || !there.loaded) continue;
            EXPECT_EQ(here.width, there.width) << name;
            EXPECT_EQ(here.height, there.height) << name;
            ASSERT_EQ(here.pitch, there.pitch) << name;
            ASSERT_EQ(here.bits.size(), there.bits.size()) << name;
            EXPECT_LE(largest_difference(here, there), 1) << name;
        }
        std::string windows = test::read_file(dir + "/out/trace.txt");
        windows.erase(std::remove(windows.begin(), windows.end(), '\r'), windows.end());
        std::replace(windows.begin(), windows.end(), '\\', '/');
        std::vector<std::string> expected = bitmap_lines(trace.text(), dir + "/");
        if (!linux_only.empty())
            expected.erase(std::remove_if(expected.begin(), expected.end(),
                                          [&](const std::string& line) {
                                              return line.find(linux_only) != std::string::npos;
                                          }),
                           expected.end());
        EXPECT_EQ(expected, bitmap_lines(windows, "D:/decode/"));
    }
};

TEST_F(WineDecoding, EveryShownFormatGivesTheLinuxSizesPixelsAndTraceLines) {
    using pictures::Container;
    using pictures::Samples;
    const struct {
        const char* name;
        Format format;
        int width, height;
    } plain[] = {{"a.jpg", Format::Jpeg, 3000, 2000}, {"a.png", Format::Png, 400, 300},
                 {"a.gif", Format::Gif, 400, 300},    {"a.bmp", Format::Bmp, 2400, 1800},
                 {"a.tif", Format::Tiff, 640, 480},   {"a.webp", Format::WebP, 800, 600}};
    std::vector<std::string> shown;
    for (const auto& p : plain) {
        ASSERT_TRUE(pictures::write_halves(path(p.name), p.width, p.height, p.format, true,
                                           0xc83c1e, 0x1e8cc8))
            << p.name;
        shown.push_back(p.name);
    }
    for (int orientation = 1; orientation <= 8; ++orientation) {
        const std::string name = "turned" + std::to_string(orientation) + ".jpg";
        ASSERT_TRUE(pictures::write_jpeg_with_orientation(path(name), 600, 400, orientation));
        shown.push_back(name);
    }
    const struct {
        const char* name;
        Samples samples;
        Container container;
    } deep[] = {{"grey16.png", Samples::Grey16, Container::Png},
                {"rgb16.png", Samples::Rgb16, Container::Png},
                {"rgb16.tif", Samples::Rgb16, Container::Tiff},
                {"float.tif", Samples::RgbFloat, Container::Tiff},
                {"a.exr", Samples::RgbaFloat, Container::Exr}};
    for (const auto& d : deep) {
        ASSERT_TRUE(
            pictures::write_deep(path(d.name), 320, 240, d.samples, d.container, 0.6, 0.3, 0.1))
            << d.name;
        shown.push_back(d.name);
    }
    const struct {
        const char* name;
        bool avif;
        const char* options;
    } heif[] = {{"a.heic", false, ""}, {"a.avif", true, ""}, {"turned.avif", true, "--irot 1"}};
    for (const auto& h : heif) {
        ASSERT_TRUE(pictures::write_heif(path(h.name), 640, 480, h.avif, true, 0xc83c1e, 0x1e8cc8,
                                         h.options))
            << h.name;
        shown.push_back(h.name);
    }
    expect_same(shown);
}

TEST_F(WineDecoding, BrokenAndHostileFilesAndTheFuzzSeedsEndAsOnLinux) {
    using pictures::Hostile;
    for (const Hostile kind :
         {Hostile::Dds, Hostile::Xbm, Hostile::Sgi, Hostile::Pfm, Hostile::Pict})
        test::write_file(path("hostile" + std::to_string(static_cast<int>(kind))),
                         pictures::hostile(kind));
    ASSERT_TRUE(pictures::write_png_header_only(path("header.png"), 30000, 20000));
    test::write_file(path("lying.exr"), pictures::exr_header(4000, 3000, "RGB", 64));
    const struct {
        const char* extension;
        Format format;
    } cut[] = {{"jpg", Format::Jpeg},
               {"png", Format::Png},
               {"gif", Format::Gif},
               {"tif", Format::Tiff},
               {"webp", Format::WebP}};
    for (const auto& c : cut)
        for (const std::size_t length : {std::size_t{12}, std::size_t{200}, std::size_t{900}})
            ASSERT_TRUE(
                pictures::write_truncated(path("cut" + std::to_string(length) + "." + c.extension),
                                          300, 200, c.format, length));
    // The fuzzers' seeds: good small pictures of every shown format.
    std::vector<std::string> shown;
    for (const char* harness : {"bitmap", "picturesize"})
        for (const auto& entry : std::filesystem::directory_iterator(std::string(GW_SOURCE_DIR) +
                                                                     "/fuzz/corpus/" + harness)) {
            const std::string name = std::string(harness) + "-" + entry.path().filename().string();
            std::filesystem::copy_file(entry.path(), path(name));
        }
    // What Linux shows of them (the seeds, and what a cut file still holds) is the Linux
    // tests' business: here both builds must agree.
    const std::vector<std::string> everything = names;
    std::vector<std::string> linux_shows;
    for (const std::string& name : everything) {
        BitMap bitmap;
        bitmap.set_window_size(kWindowWidth, kWindowHeight);
        if (bitmap.load(dir + "/" + name)) linux_shows.push_back(name);
    }
    // The Windows build holds no reader of the formats that are not shown, not even the test
    // of their signature: it refuses them as files of no known format, without a line.
    expect_same(linux_shows, "is not shown");
}

} // namespace
