// Writes one synthetic photo as a binary PPM on standard output, for the whole-process
// benchmarks (bench/compare-feh.sh pipes it to cjpeg). Each seed gives a different picture
// with what makes a camera JPEG cost what it costs to decode: a sky gradient, soft blobs,
// hard-edged shapes, texture at three scales and a little pixel noise. Not part of the build.
//   make-photo WIDTH HEIGHT SEED > photo.ppm
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <vector>

namespace {

struct Random {
    std::uint32_t state;
    std::uint32_t next() {
        state = state * 1664525u + 1013904223u;
        return state >> 8;
    }
    double unit() { return static_cast<double>(next()) / 16777216.0; }
};

// Random values on a coarse grid, bilinearly interpolated: texture without a pattern.
class ValueNoise {
public:
    ValueNoise(int width, int height, int cell, Random& random)
        : cell_(cell), columns_(width / cell + 2), rows_(height / cell + 2),
          values_(static_cast<std::size_t>(columns_) * static_cast<std::size_t>(rows_)) {
        for (float& v : values_) v = static_cast<float>(random.unit() * 2.0 - 1.0);
    }
    float at(int x, int y) const {
        const int cx = x / cell_;
        const int cy = y / cell_;
        const float fx = static_cast<float>(x % cell_) / static_cast<float>(cell_);
        const float fy = static_cast<float>(y % cell_) / static_cast<float>(cell_);
        const float a = value(cx, cy) + (value(cx + 1, cy) - value(cx, cy)) * fx;
        const float b = value(cx, cy + 1) + (value(cx + 1, cy + 1) - value(cx, cy + 1)) * fx;
        return a + (b - a) * fy;
    }

private:
    float value(int cx, int cy) const {
        return values_[static_cast<std::size_t>(cy) * static_cast<std::size_t>(columns_) +
                       static_cast<std::size_t>(cx)];
    }
    int cell_;
    int columns_;
    int rows_;
    std::vector<float> values_;
};

struct Blob {
    double x, y, radius;
    double r, g, b;
};

struct Shape {
    bool circle;
    int x0, y0, x1, y1;
    double r, g, b;
};

std::uint8_t clamp(double v) { return static_cast<std::uint8_t>(v < 0 ? 0 : v > 255 ? 255 : v); }

} // namespace

int main(int argc, char** argv) {
    if (argc != 4) {
        std::fprintf(stderr, "usage: make-photo WIDTH HEIGHT SEED > photo.ppm\n");
        return 2;
    }
    const int width = std::atoi(argv[1]);
    const int height = std::atoi(argv[2]);
    Random random{static_cast<std::uint32_t>(std::strtoul(argv[3], nullptr, 10)) * 2654435761u +
                  1u};
    if (width < 16 || height < 16) return 2;

    double top[3], bottom[3];
    for (int c = 0; c < 3; ++c) {
        top[c] = 40 + 200 * random.unit();
        bottom[c] = 40 + 200 * random.unit();
    }
    std::vector<Blob> blobs(6);
    for (Blob& b : blobs)
        b = {
            random.unit() * width,    random.unit() * height,   (0.1 + 0.3 * random.unit()) * width,
            random.unit() * 160 - 80, random.unit() * 160 - 80, random.unit() * 160 - 80};
    std::vector<Shape> shapes(12);
    for (Shape& s : shapes) {
        const int w = static_cast<int>((0.03 + 0.15 * random.unit()) * width);
        const int x = static_cast<int>(random.unit() * (width - w));
        const int y = static_cast<int>(random.unit() * (height - w));
        s = {random.unit() < 0.5,
             x,
             y,
             x + w,
             y + w,
             30 + 200 * random.unit(),
             30 + 200 * random.unit(),
             30 + 200 * random.unit()};
    }
    const ValueNoise coarse(width, height, 97, random);
    const ValueNoise fine(width, height, 7, random);
    const ValueNoise grain(width, height, 2, random);

    std::printf("P6\n%d %d\n255\n", width, height);
    std::vector<std::uint8_t> line(static_cast<std::size_t>(width) * 3);
    for (int y = 0; y < height; ++y) {
        const double t = static_cast<double>(y) / height;
        for (int x = 0; x < width; ++x) {
            double rgb[3];
            for (int c = 0; c < 3; ++c) rgb[c] = top[c] + (bottom[c] - top[c]) * t;
            for (const Blob& b : blobs) {
                const double dx = (x - b.x) / b.radius;
                const double dy = (y - b.y) / b.radius;
                const double d2 = dx * dx + dy * dy;
                if (d2 < 1.0) {
                    const double k = (1.0 - d2) * (1.0 - d2);
                    rgb[0] += b.r * k;
                    rgb[1] += b.g * k;
                    rgb[2] += b.b * k;
                }
            }
            for (const Shape& s : shapes) {
                if (x < s.x0 || x >= s.x1 || y < s.y0 || y >= s.y1) continue;
                if (s.circle) {
                    const double r = (s.x1 - s.x0) / 2.0;
                    const double dx = x - (s.x0 + r);
                    const double dy = y - (s.y0 + r);
                    if (dx * dx + dy * dy > r * r) continue;
                }
                rgb[0] = s.r;
                rgb[1] = s.g;
                rgb[2] = s.b;
            }
            const double texture =
                28.0 * coarse.at(x, y) + 12.0 * fine.at(x, y) + 10.0 * grain.at(x, y);
            for (int c = 0; c < 3; ++c) {
                const double noise = static_cast<double>(random.next() & 31) - 15.5;
                line[static_cast<std::size_t>(3 * x + c)] = clamp(rgb[c] + texture + noise);
            }
        }
        std::fwrite(line.data(), 1, line.size(), stdout);
    }
    return 0;
}
