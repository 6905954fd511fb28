// The Windows build's decoding alone, for the Wine tests to hold against the Linux build's:
//   DecodeProbe.exe TRACE WIDTH HEIGHT FILE OUT [FILE OUT]...
// loads each FILE fitted to WIDTH x HEIGHT as the show does, tracing at level 4 to TRACE, and
// writes to OUT its width, height and pitch as text, then its bits; "refused" when it fails.
#include "BitMap.h"
#include "Tracer.h"

#include <cstdio>
#include <cstdlib>

int main(int argc, char** argv) {
    if (argc < 6 || (argc - 4) % 2 != 0) return 2;
    Tracer::instance().set_file(argv[1]);
    Tracer::instance().all_module_level(4);
    const int width = std::atoi(argv[2]);
    const int height = std::atoi(argv[3]);
    for (int i = 4; i + 1 < argc; i += 2) {
        BitMap bitmap;
        bitmap.set_window_size(width, height);
        std::FILE* out = std::fopen(argv[i + 1], "wb");
        if (!out) return 1;
        if (bitmap.load(argv[i])) {
            std::fprintf(out, "%d %d %d\n", static_cast<int>(bitmap.width()),
                         static_cast<int>(bitmap.height()), static_cast<int>(bitmap.pitch()));
            std::fwrite(bitmap.bits(), 1,
                        static_cast<std::size_t>(bitmap.pitch()) *
                            static_cast<std::size_t>(bitmap.height()),
                        out);
        } else {
            std::fputs("refused\n", out);
        }
        std::fclose(out);
    }
    return 0;
}
