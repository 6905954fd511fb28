// Pictures made by the tests through FreeImage.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace pictures {

enum class Format { Jpeg, Png, Bmp, Gif, Tiff, WebP };

// Writes a width x height picture: a solid colour with a lighter frame one pixel wide, so
// that a picture's edges can be found on screen. True when written.
bool write(const std::string& path, int width, int height, Format format = Format::Jpeg,
           std::uint8_t red = 200, std::uint8_t green = 60, std::uint8_t blue = 30);
// A picture in two solid halves, colours as 0xRRGGBB: top then bottom half, or with
// `left_right` left then right half (the first half is width / 2 or height / 2 wide).
bool write_halves(const std::string& path, int width, int height, Format format, bool left_right,
                  std::uint32_t first_rgb, std::uint32_t second_rgb);
// A JPEG carrying an EXIF Orientation tag (1 to 8); stored as width x height, left half
// red, right half blue (as stored, before any rotation).
bool write_jpeg_with_orientation(const std::string& path, int width, int height, int orientation);
// A progressive width x height JPEG of one colour whose first AC scan comes `scans` times:
// each repeat is a few bytes of file and a pass over every block for the decoder, so that the
// picture is slow to decode however fast the machine (8000 repeats of 4000 x 3000: seconds).
bool write_slow_jpeg(const std::string& path, int width, int height, int scans);
// A PNG whose header announces width x height but that holds a few bytes of pixel data.
bool write_png_header_only(const std::string& path, std::uint32_t width, std::uint32_t height);
// The same with another bit depth and PNG colour type (2 RGB, 6 RGBA, 0 grey...).
bool write_png_header(const std::string& path, std::uint32_t width, std::uint32_t height,
                      int bit_depth, int colour_type);
// The first `length` bytes of a good file of `format`.
bool write_truncated(const std::string& path, int width, int height, Format format,
                     std::size_t length);

// Pictures of the deeper sample types in one colour given as fractions of full scale: 16-bit
// integer grey, RGB and RGBA filled with it, and 32-bit floating-point grey, RGB and RGBA
// lit from 0.02 times that colour at the left edge to twice it at the right (a scene whose
// light varies, as tone mapping expects).
enum class Samples { Grey16, Rgb16, Rgba16, GreyFloat, RgbFloat, RgbaFloat };
enum class Container { Png, Tiff, Exr };
bool write_deep(const std::string& path, int width, int height, Samples samples,
                Container container, double red, double green, double blue);

// An HEIC (or AVIF) picture in two halves as write_halves makes them, encoded by libheif's
// heif-enc (or libavif's avifenc, given `avifenc_options` such as "--irot 1"). False when
// the encoder is missing or fails.
bool write_heif(const std::string& path, int width, int height, bool avif, bool left_right,
                std::uint32_t first_rgb, std::uint32_t second_rgb,
                const std::string& avifenc_options = "");

// Small files that FreeImage recognises by their content and whose readers crash, hang or
// exhaust memory on them: a DDS of width 0xff000078, an XBM cut inside its pixels, an SGI
// and a PFM announcing 20000 x 20000 and 16000 x 16000, a PICT of one frame.
enum class Hostile { Dds, Xbm, Sgi, Pfm, Pict };
std::string hostile(Hostile kind);

// An OpenEXR file of the given data window and channels (one letter each, 32-bit float),
// scan lines without compression, then `tail` bytes of zeros for offsets and pixels.
std::string exr_header(std::int32_t width, std::int32_t height, const std::string& channels,
                       std::size_t tail, std::uint32_t sampling = 1);

} // namespace pictures
