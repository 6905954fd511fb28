// Draws the sample pictures of samples/: make_samples <folder>.
// Each scene is computed pixel by pixel from gradients, curves and a little noise, so the
// pictures are the project's own and the program always draws the same ones.
#include <FreeImage.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <fstream>
#include <functional>
#include <iterator>
#include <string>
#include <vector>

namespace {

struct Colour {
    double r, g, b;
};

Colour mix(const Colour& a, const Colour& b, double t) {
    t = std::clamp(t, 0.0, 1.0);
    return {a.r + (b.r - a.r) * t, a.g + (b.g - a.g) * t, a.b + (b.b - a.b) * t};
}

double smoothstep(double edge0, double edge1, double x) {
    const double t = std::clamp((x - edge0) / (edge1 - edge0), 0.0, 1.0);
    return t * t * (3.0 - 2.0 * t);
}

// Value noise on a lattice, smoothly interpolated: gentle texture without any stored data.
double lattice(int x, int y, std::uint32_t seed) {
    std::uint32_t h = static_cast<std::uint32_t>(x) * 374761393u +
                      static_cast<std::uint32_t>(y) * 668265263u + seed * 2246822519u;
    h = (h ^ (h >> 13)) * 1274126177u;
    return static_cast<double>((h ^ (h >> 16)) & 0xffffu) / 65535.0;
}

double noise(double x, double y, std::uint32_t seed) {
    const int x0 = static_cast<int>(std::floor(x));
    const int y0 = static_cast<int>(std::floor(y));
    const double fx = smoothstep(0.0, 1.0, x - x0);
    const double fy = smoothstep(0.0, 1.0, y - y0);
    const double top = lattice(x0, y0, seed) * (1 - fx) + lattice(x0 + 1, y0, seed) * fx;
    const double bottom = lattice(x0, y0 + 1, seed) * (1 - fx) + lattice(x0 + 1, y0 + 1, seed) * fx;
    return top * (1 - fy) + bottom * fy;
}

double fractal(double x, double y, std::uint32_t seed) {
    double sum = 0, amplitude = 0.5, frequency = 1;
    for (int octave = 0; octave < 4; ++octave) {
        sum += amplitude * noise(x * frequency, y * frequency, seed + octave);
        amplitude *= 0.5;
        frequency *= 2;
    }
    return sum;
}

// A scene maps a position (u across, v down, both 0..1, aspect = width / height) to a colour.
using Scene = std::function<Colour(double u, double v, double aspect)>;

FIBITMAP* render(int width, int height, const Scene& scene) {
    FIBITMAP* dib = FreeImage_Allocate(width, height, 24);
    const double aspect = static_cast<double>(width) / height;
    for (int y = 0; y < height; ++y) {
        BYTE* line = FreeImage_GetScanLine(dib, height - 1 - y);
        for (int x = 0; x < width; ++x) {
            const Colour c = scene((x + 0.5) / width, (y + 0.5) / height, aspect);
            line[3 * x + FI_RGBA_RED] = static_cast<BYTE>(std::clamp(c.r, 0.0, 1.0) * 255 + 0.5);
            line[3 * x + FI_RGBA_GREEN] = static_cast<BYTE>(std::clamp(c.g, 0.0, 1.0) * 255 + 0.5);
            line[3 * x + FI_RGBA_BLUE] = static_cast<BYTE>(std::clamp(c.b, 0.0, 1.0) * 255 + 0.5);
        }
    }
    return dib;
}

// Rolling hills in layers under a morning sky.
Colour hills(double u, double v, double aspect) {
    const double x = u * aspect;
    Colour sky = mix({0.35, 0.55, 0.85}, {0.93, 0.85, 0.72}, smoothstep(0.0, 0.62, v));
    const double sun = std::hypot(x - 0.72 * aspect, v - 0.28);
    sky = mix(sky, {1.0, 0.93, 0.7}, 0.35 * std::exp(-sun * 7));
    if (sun < 0.06) sky = {1.0, 0.97, 0.85};
    const double cloud =
        smoothstep(0.55, 0.75, fractal(x * 3, v * 9, 11)) * smoothstep(0.45, 0.1, v);
    Colour c = mix(sky, {1, 1, 1}, cloud * 0.8);
    const Colour layers[3] = {{0.45, 0.62, 0.55}, {0.33, 0.55, 0.3}, {0.22, 0.42, 0.16}};
    for (int i = 0; i < 3; ++i) {
        const double ridge = 0.5 + 0.1 * i + 0.05 * std::sin(x * (2.5 + i) + i * 1.7) +
                             0.03 * std::sin(x * (7.0 + 2 * i) + i) + 0.02 * fractal(x * 4, i, 3);
        if (v > ridge) {
            const double depth = v - ridge;
            c = mix(layers[i], {0.12, 0.25, 0.08}, depth * 1.5);
            c = mix(c, {0.55, 0.7, 0.35}, 0.15 * fractal(x * 30, v * 30, 7 + i));
        }
    }
    return c;
}

// A moonlit lake between dark mountains, stars above.
Colour night_lake(double u, double v, double aspect) {
    const double x = u * aspect;
    const double horizon = 0.62;
    const double mirrored = v > horizon ? 2 * horizon - v : v;
    Colour c = mix({0.02, 0.03, 0.12}, {0.16, 0.2, 0.42}, smoothstep(0.0, horizon, mirrored));
    const double moon = std::hypot(x - 0.3 * aspect, mirrored - 0.2);
    c = mix(c, {0.5, 0.55, 0.75}, 0.5 * std::exp(-moon * 9));
    if (moon < 0.05) c = mix({0.98, 0.97, 0.88}, {0.85, 0.85, 0.8}, fractal(x * 40, v * 40, 5));
    if (v < horizon && lattice(static_cast<int>(u * 800), static_cast<int>(v * 1200), 9) > 0.9985)
        c = {1, 1, 0.95};
    const double peak =
        horizon - 0.12 - 0.12 * std::fabs(std::sin(x * 3.1 + 0.4)) - 0.05 * fractal(x * 6, 1, 4);
    if (mirrored > peak)
        c = mix(mix({0.1, 0.11, 0.2}, {0.16, 0.18, 0.3}, fractal(x * 12, mirrored * 12, 6)),
                {0.04, 0.05, 0.09}, (mirrored - peak) * 4);
    if (v > horizon) {
        const double ripple = 0.5 + 0.5 * std::sin(v * 400 + fractal(x * 8, v * 60, 2) * 6);
        c = mix(c, {0.02, 0.04, 0.1}, 0.35 + 0.15 * ripple);
    }
    return c;
}

// The sun half under the sea at dusk.
Colour sunset(double u, double v, double) {
    const double horizon = 0.58;
    Colour c;
    if (v < horizon) {
        c = mix({0.25, 0.12, 0.38}, {0.98, 0.55, 0.25}, smoothstep(0.0, horizon, v));
        const double band = smoothstep(0.6, 0.8, fractal(u * 2, v * 14, 21));
        c = mix(c, {0.55, 0.25, 0.35}, band * 0.6);
    } else {
        c = mix({0.45, 0.22, 0.3}, {0.08, 0.08, 0.2}, smoothstep(horizon, 1.0, v));
    }
    const double sun = std::hypot(u - 0.5, v - horizon);
    if (v < horizon) {
        c = mix(c, {1.0, 0.8, 0.45}, 0.6 * std::exp(-sun * 8));
        if (sun < 0.14) c = {1.0, 0.88, 0.55};
    } else {
        const double glitter = 0.5 + 0.5 * std::sin(v * 900 * (v - horizon + 0.05));
        const double path = std::exp(-std::pow((u - 0.5) / (0.04 + (v - horizon) * 0.5), 2));
        c = mix(c, {1.0, 0.75, 0.4}, path * glitter * 0.8);
    }
    return c;
}

// Coloured tiles, each with a ring: a small picture with sharp, recognisable edges.
Colour tiles(double u, double v, double aspect) {
    const double x = u * aspect * 4;
    const double y = v * 4;
    const int i = static_cast<int>(x);
    const int j = static_cast<int>(y);
    const double hue = lattice(i, j, 33);
    Colour base = mix(mix({0.95, 0.45, 0.35}, {0.3, 0.6, 0.9}, hue), {0.95, 0.8, 0.3},
                      lattice(i, j, 34) * 0.6);
    const double r = std::hypot(x - i - 0.5, y - j - 0.5);
    if (r > 0.28 && r < 0.38) base = mix(base, {1, 1, 1}, 0.75);
    if (x - i < 0.04 || y - j < 0.04) base = {0.15, 0.15, 0.2};
    return base;
}

// Sand dunes under a hot sky, shaded on their lee sides.
Colour dunes(double u, double v, double aspect) {
    const double x = u * aspect;
    Colour c = mix({0.3, 0.55, 0.9}, {0.85, 0.9, 0.95}, smoothstep(0.0, 0.5, v));
    for (int i = 0; i < 4; ++i) {
        const double crest = 0.42 + 0.13 * i + 0.06 * std::sin(x * (1.3 + 0.4 * i) + i * 2.1) +
                             0.02 * std::sin(x * 5 + i);
        if (v > crest) {
            const double slope = std::cos(x * (1.3 + 0.4 * i) + i * 2.1);
            Colour sand = mix({0.93, 0.72, 0.45}, {0.72, 0.45, 0.25}, 0.5 - 0.5 * slope);
            sand = mix(sand, {0.6, 0.38, 0.2}, (v - crest) * 2);
            const double grain = 0.04 * (fractal(x * 200, v * 200, 40) - 0.5);
            c = {sand.r + grain, sand.g + grain, sand.b + grain};
        }
    }
    return c;
}

// A striped balloon over a meadow; drawn upright, stored turned a quarter left.
Colour balloon(double u, double v, double aspect) {
    const double x = u * aspect;
    Colour c = mix({0.45, 0.7, 0.95}, {0.85, 0.93, 1.0}, v);
    if (v > 0.8 + 0.03 * std::sin(x * 9)) c = mix({0.4, 0.7, 0.3}, {0.25, 0.5, 0.2}, (v - 0.8) * 5);
    const double cx = 0.5 * aspect;
    const double dx = (x - cx) / 0.2;
    const double dy = (v - 0.3) / 0.2;
    const double skirt = 0.173 - (v - 0.4) * (0.123 / 0.16);
    if (dx * dx + dy * dy < 1 || (v > 0.4 && v < 0.56 && std::fabs(x - cx) < skirt)) {
        const int stripe = static_cast<int>(std::floor((std::atan2(x - cx, 0.3) + 1.6) * 5));
        c = stripe % 2 ? Colour{0.9, 0.2, 0.2} : Colour{0.98, 0.85, 0.3};
        c = mix(c, {0.3, 0.1, 0.1}, 0.3 * std::max(0.0, dx));
    }
    for (int side = -1; side <= 1; side += 2) {
        const double rope = cx + side * (0.05 - (v - 0.56) * 0.375);
        if (v > 0.56 && v < 0.6 && std::fabs(x - rope) < 0.002) c = {0.3, 0.22, 0.12};
    }
    if (v > 0.6 && v < 0.65 && std::fabs(x - cx) < 0.035) c = {0.45, 0.3, 0.15};
    return c;
}

bool save(FIBITMAP* dib, FREE_IMAGE_FORMAT format, const std::string& path) {
    const int flags = format == FIF_JPEG ? 85 | JPEG_OPTIMIZE : 0;
    const bool ok = FreeImage_Save(format, dib, path.c_str(), flags) != FALSE;
    std::printf("%s %s\n", ok ? "wrote" : "FAILED", path.c_str());
    return ok;
}

// Turns a picture a quarter left, so that a viewer that applies orientation 6 shows it upright.
FIBITMAP* turn_left(FIBITMAP* dib) {
    const int w = static_cast<int>(FreeImage_GetWidth(dib));
    const int h = static_cast<int>(FreeImage_GetHeight(dib));
    FIBITMAP* turned = FreeImage_Allocate(h, w, 24);
    for (int y = 0; y < h; ++y) {
        const BYTE* source = FreeImage_GetScanLine(dib, h - 1 - y);
        for (int x = 0; x < w; ++x) {
            // Top-down (x, y) goes to top-down (y, w - 1 - x), which is bottom-up row x.
            BYTE* target = FreeImage_GetScanLine(turned, x) + 3 * y;
            std::copy(source + 3 * x, source + 3 * x + 3, target);
        }
    }
    return turned;
}

// Puts an EXIF block holding only the orientation tag right after the JPEG's start marker.
bool add_orientation(const std::string& path, int orientation) {
    std::ifstream in(path, std::ios::binary);
    std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    in.close();
    if (bytes.size() < 2) return false;
    const unsigned char app1[] = {0xff,
                                  0xe1,
                                  0x00,
                                  34,
                                  'E',
                                  'x',
                                  'i',
                                  'f',
                                  0,
                                  0, // marker, length, identifier
                                  'I',
                                  'I',
                                  0x2a,
                                  0x00,
                                  0x08,
                                  0x00,
                                  0x00,
                                  0x00, // little-endian TIFF header
                                  0x01,
                                  0x00, // one entry in IFD0
                                  0x12,
                                  0x01,
                                  0x03,
                                  0x00,
                                  0x01,
                                  0x00,
                                  0x00,
                                  0x00, // Orientation, SHORT, count 1
                                  static_cast<unsigned char>(orientation),
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00,
                                  0x00}; // no next IFD
    bytes.insert(bytes.begin() + 2, std::begin(app1), std::end(app1));
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
}

} // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: make_samples <folder>\n");
        return 2;
    }
    const std::string folder = argv[1];
    FreeImage_Initialise(FALSE);
    bool ok = true;
    struct {
        const char* name;
        int width, height;
        Scene scene;
        FREE_IMAGE_FORMAT format;
    } const pictures[] = {
        {"hills-landscape.jpg", 1600, 1000, hills, FIF_JPEG},
        {"night-lake-portrait.jpg", 800, 1200, night_lake, FIF_JPEG},
        {"sunset-square.jpg", 1000, 1000, sunset, FIF_JPEG},
        {"tiles-small.png", 320, 240, tiles, FIF_PNG},
        {"dunes-large.jpg", 3000, 2000, dunes, FIF_JPEG},
    };
    for (const auto& picture : pictures) {
        FIBITMAP* dib = render(picture.width, picture.height, picture.scene);
        ok = save(dib, picture.format, folder + "/" + picture.name) && ok;
        FreeImage_Unload(dib);
    }
    FIBITMAP* upright = render(800, 1200, balloon);
    FIBITMAP* stored = turn_left(upright);
    const std::string rotated = folder + "/balloon-exif-orientation-6.jpg";
    ok = save(stored, FIF_JPEG, rotated) && add_orientation(rotated, 6) && ok;
    FreeImage_Unload(stored);
    FreeImage_Unload(upright);
    FreeImage_DeInitialise();
    return ok ? 0 : 1;
}
