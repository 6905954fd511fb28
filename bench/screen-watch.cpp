// Watches the X screen for the whole-process benchmarks, the same way for every program: it
// reads the middle row and the middle column of the root window (any picture fitted to the
// screen and centred crosses both) and prints the wall-clock time, in nanoseconds since 1970,
// of what it waits for. Not part of the build: bench/compare-feh.sh compiles it.
//   screen-watch first TIMEOUT_S        one line, when the first non-black pixel appears
//   screen-watch changes COUNT TIMEOUT_S  one line per change of the row and column, COUNT
//                                          lines at most (the first is the first change)
// Exit status 0 when it saw what it waited for, 1 on timeout, 2 when the display is missing.
#include <X11/Xlib.h>
#include <X11/Xutil.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

namespace {

std::int64_t now_ns(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return static_cast<std::int64_t>(t.tv_sec) * 1000000000 + t.tv_nsec;
}

struct Probe {
    bool lit = false;       // some pixel is not black
    std::uint64_t hash = 0; // FNV-1a of the pixels read
};

void add_image(XImage* image, Probe& probe) {
    for (int y = 0; y < image->height; ++y)
        for (int x = 0; x < image->width; ++x) {
            const unsigned long pixel = XGetPixel(image, x, y) & 0xffffffUL;
            if (pixel != 0) probe.lit = true;
            probe.hash = (probe.hash ^ pixel) * 1099511628211ULL;
        }
}

bool probe(Display* display, Window root, int width, int height, Probe& probe) {
    probe = Probe{};
    probe.hash = 14695981039346656037ULL;
    XImage* row = XGetImage(display, root, 0, height / 2, static_cast<unsigned>(width), 1,
                            AllPlanes, ZPixmap);
    XImage* column = XGetImage(display, root, width / 2, 0, 1, static_cast<unsigned>(height),
                               AllPlanes, ZPixmap);
    const bool ok = row && column;
    if (row) {
        add_image(row, probe);
        XDestroyImage(row);
    }
    if (column) {
        add_image(column, probe);
        XDestroyImage(column);
    }
    return ok;
}

} // namespace

int main(int argc, char** argv) {
    const bool first = argc == 3 && std::strcmp(argv[1], "first") == 0;
    if (!first && !(argc == 4 && std::strcmp(argv[1], "changes") == 0)) {
        std::fprintf(stderr, "usage: screen-watch first TIMEOUT_S | changes COUNT TIMEOUT_S\n");
        return 2;
    }
    const long count = first ? 1 : std::atol(argv[2]);
    const double timeout_s = std::atof(argv[first ? 2 : 3]);
    Display* display = XOpenDisplay(nullptr);
    if (!display) {
        std::fprintf(stderr, "screen-watch: no display\n");
        return 2;
    }
    const int screen = DefaultScreen(display);
    const Window root = RootWindow(display, screen);
    const int width = DisplayWidth(display, screen);
    const int height = DisplayHeight(display, screen);

    const std::int64_t deadline =
        now_ns(CLOCK_MONOTONIC) + static_cast<std::int64_t>(timeout_s * 1e9);
    // One millisecond between reads: two small images a read, next to nothing on the CPU.
    const timespec pause{0, 1000000};
    Probe last;
    probe(display, root, width, height, last);
    long seen = 0;
    while (now_ns(CLOCK_MONOTONIC) < deadline) {
        Probe current;
        if (!probe(display, root, width, height, current)) return 2;
        const std::int64_t at = now_ns(CLOCK_REALTIME);
        if (first ? current.lit : current.hash != last.hash) {
            std::printf("%lld\n", static_cast<long long>(at));
            std::fflush(stdout);
            if (++seen >= count) return 0;
        }
        last = current;
        nanosleep(&pause, nullptr);
    }
    return 1;
}
