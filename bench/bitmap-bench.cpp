// A 6000 x 4000 photo fitted to 1920 x 1080: BitMap::load, which decodes it at half size,
// next to the plain pipeline (whole decode, 24 bits, box filter) and the steps of both.
#include "BitMap.h"
#include "TestSupport.h"

#include <FreeImage.h>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
constexpr int kFittedWidth = 1620; // 6000 x 4000 on 1920 x 1080
constexpr int kFittedHeight = 1080;

// Gradients under noise: compresses and decodes like a photo, unlike a solid colour.
bool write_photo(const std::string& path) {
    FIBITMAP* dib = FreeImage_Allocate(kWidth, kHeight, 24);
    if (!dib) return false;
    std::uint32_t seed = 12345;
    for (int y = 0; y < kHeight; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < kWidth; ++x) {
            seed = seed * 1664525u + 1013904223u;
            const int noise = static_cast<int>(seed >> 27) - 16; // -16 ... 15
            auto clamp = [](int v) { return static_cast<BYTE>(v < 0 ? 0 : v > 255 ? 255 : v); };
            line[3 * x + FI_RGBA_RED] = clamp(x * 220 / kWidth + 20 + noise);
            line[3 * x + FI_RGBA_GREEN] = clamp(y * 200 / kHeight + 30 - noise);
            line[3 * x + FI_RGBA_BLUE] = clamp(((x / 40 + y / 40) % 2) * 90 + 80 + noise / 2);
        }
    }
    const bool ok = FreeImage_Save(FIF_JPEG, dib, path.c_str(), JPEG_DEFAULT) != FALSE;
    FreeImage_Unload(dib);
    return ok;
}

const std::string& photo() {
    static test::TempDir dir;
    static const std::string path = dir / "photo.jpg";
    static const bool written = write_photo(path);
    (void)written;
    return path;
}

// The JPEG decoder's reduction to 3000 x 2000, as BitMap asks for it.
constexpr int kHalfSize = (kWidth / 2) << 16;

void BM_BitMapLoad(benchmark::State& state) {
    const std::string& path = photo();
    for (auto _ : state) {
        BitMap bitmap;
        bitmap.set_window_size(1920, 1080);
        if (!bitmap.load(path)) state.SkipWithError("load failed");
        benchmark::DoNotOptimize(bitmap.bits());
    }
}

void BM_PlainPipeline(benchmark::State& state) {
    const std::string& path = photo();
    for (auto _ : state) {
        const FREE_IMAGE_FORMAT fif = FreeImage_GetFileType(path.c_str(), 0);
        FIBITMAP* decoded = FreeImage_Load(fif, path.c_str(), JPEG_EXIFROTATE);
        FIBITMAP* converted = FreeImage_ConvertTo24Bits(decoded);
        FIBITMAP* resized = FreeImage_Rescale(converted, kFittedWidth, kFittedHeight, FILTER_BOX);
        benchmark::DoNotOptimize(FreeImage_GetBits(resized));
        FreeImage_Unload(converted);
        FreeImage_Unload(decoded);
        FreeImage_Unload(resized);
    }
}

// The steps separately: where the time goes.
void BM_HeaderOnly(benchmark::State& state) {
    const std::string& path = photo();
    for (auto _ : state) {
        FIBITMAP* header = FreeImage_Load(FIF_JPEG, path.c_str(), FIF_LOAD_NOPIXELS);
        benchmark::DoNotOptimize(FreeImage_GetWidth(header));
        FreeImage_Unload(header);
    }
}

void BM_DecodeWhole(benchmark::State& state) {
    const std::string& path = photo();
    for (auto _ : state) FreeImage_Unload(FreeImage_Load(FIF_JPEG, path.c_str(), JPEG_EXIFROTATE));
}

void BM_DecodeHalf(benchmark::State& state) {
    const std::string& path = photo();
    for (auto _ : state)
        FreeImage_Unload(FreeImage_Load(FIF_JPEG, path.c_str(), kHalfSize | JPEG_EXIFROTATE));
}

void rescale(benchmark::State& state, int flags) {
    FIBITMAP* decoded = FreeImage_Load(FIF_JPEG, photo().c_str(), flags);
    for (auto _ : state)
        FreeImage_Unload(FreeImage_Rescale(decoded, kFittedWidth, kFittedHeight, FILTER_BOX));
    FreeImage_Unload(decoded);
}
void BM_RescaleWhole(benchmark::State& state) { rescale(state, 0); }
void BM_RescaleHalf(benchmark::State& state) { rescale(state, kHalfSize); }

BENCHMARK(BM_BitMapLoad)->Unit(benchmark::kMillisecond)->Repetitions(7)->ReportAggregatesOnly(true);
BENCHMARK(BM_PlainPipeline)
    ->Unit(benchmark::kMillisecond)
    ->Repetitions(7)
    ->ReportAggregatesOnly(true);
BENCHMARK(BM_HeaderOnly)->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_DecodeWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_DecodeHalf)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RescaleWhole)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_RescaleHalf)->Unit(benchmark::kMillisecond);

} // namespace
