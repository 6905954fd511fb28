// Writes the seed files of the picture harnesses: one small good picture of each shown
// format, made from a generated picture. Built as fuzz-seeds beside the harnesses:
//   build-fuzz/fuzz/fuzz-seeds fuzz/corpus
// (needs heif-enc and avifenc for the HEIC and AVIF seeds).
#include <FreeImage.h>

#include <cstdio>
#include <cstdlib>
#include <string>

namespace {

// 24 x 16: a gradient with a bar, enough for every encoder to use more than one code.
FIBITMAP* picture() {
    FIBITMAP* dib = FreeImage_Allocate(24, 16, 24);
    for (int y = 0; y < 16; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, y);
        for (int x = 0; x < 24; ++x) {
            const bool bar = x > 14 && x < 19;
            line[3 * x + FI_RGBA_RED] = static_cast<BYTE>(bar ? 20 : 10 * x);
            line[3 * x + FI_RGBA_GREEN] = static_cast<BYTE>(15 * y);
            line[3 * x + FI_RGBA_BLUE] = static_cast<BYTE>(bar ? 220 : 90);
        }
    }
    return dib;
}

bool save(FREE_IMAGE_FORMAT fif, FIBITMAP* dib, const std::string& path, int flags = 0) {
    const bool saved = dib && FreeImage_Save(fif, dib, path.c_str(), flags);
    if (!saved) std::fprintf(stderr, "cannot write %s\n", path.c_str());
    return saved;
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s CORPUS_FOLDER (fuzz/corpus)\n", argv[0]);
        return 2;
    }
    const std::string bitmap = std::string(argv[1]) + "/bitmap/";
    const std::string sizes = std::string(argv[1]) + "/picturesize/";
    FIBITMAP* dib = picture();
    FIBITMAP* palette = FreeImage_ColorQuantize(dib, FIQ_WUQUANT);
    FIBITMAP* deep = FreeImage_ConvertToRGBF(dib);
    FIBITMAP* wide = FreeImage_ConvertToType(dib, FIT_RGB16);
    bool ok = save(FIF_JPEG, dib, bitmap + "seed.jpg") && save(FIF_PNG, dib, bitmap + "seed.png") &&
              save(FIF_BMP, dib, bitmap + "seed.bmp") && save(FIF_TIFF, dib, bitmap + "seed.tif") &&
              save(FIF_WEBP, dib, bitmap + "seed.webp") &&
              save(FIF_GIF, palette, bitmap + "seed.gif") &&
              save(FIF_GIF, palette, sizes + "seed.gif") &&
              save(FIF_EXR, deep, bitmap + "seed.exr", EXR_FLOAT | EXR_NONE) &&
              save(FIF_EXR, deep, sizes + "seed.exr", EXR_FLOAT | EXR_NONE) &&
              save(FIF_PNG, wide, bitmap + "seed-16.png") && save(FIF_PNG, dib, "/tmp/gw-seed.png");
    const std::string source = " /tmp/gw-seed.png ";
    for (const std::string& command : {"heif-enc -q 50 -o " + bitmap + "seed.heic" + source,
                                       "avifenc -s 10" + source + bitmap + "seed.avif",
                                       "heif-enc -q 50 -o " + sizes + "seed.heic" + source}) {
        if (ok && std::system((command + ">/dev/null").c_str()) != 0) {
            std::fprintf(stderr, "failed: %s\n", command.c_str());
            ok = false;
        }
    }
    std::remove("/tmp/gw-seed.png");
    FreeImage_Unload(wide);
    FreeImage_Unload(deep);
    FreeImage_Unload(palette);
    FreeImage_Unload(dib);
    return ok ? 0 : 1;
}
