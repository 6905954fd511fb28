#include "PictureSize.h"

#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

namespace picture_size {

FileSource::FileSource(std::FILE* file) : file_(file) {
    if (file_ && std::fseek(file_, 0, SEEK_END) == 0) {
        // Past what a long holds (2 GiB on Windows) the size is unknown, not empty: unbounded.
        const long end = std::ftell(file_);
        size_ = end >= 0 ? static_cast<std::uint64_t>(end) : UINT64_MAX;
    }
}

std::size_t FileSource::read(std::uint64_t offset, void* into, std::size_t count) {
    // fseek takes a long: 32 bits on Windows. Sizes are read from the first megabytes only.
    if (!file_ || offset >= size_ || offset > 0x7fffffffu ||
        std::fseek(file_, static_cast<long>(offset), SEEK_SET) != 0)
        return 0;
    return std::fread(into, 1, count, file_);
}

std::size_t MemorySource::read(std::uint64_t offset, void* into, std::size_t count) {
    if (offset >= size_) return 0;
    const std::size_t available = size_ - static_cast<std::size_t>(offset);
    const std::size_t copied = count < available ? count : available;
    std::memcpy(into, data_ + offset, copied);
    return copied;
}

namespace {

bool read_exactly(Source& source, std::uint64_t offset, void* into, std::size_t count) {
    return source.read(offset, into, count) == count;
}

std::uint32_t le32(const unsigned char* b) {
    return b[0] | (b[1] << 8) | (b[2] << 16) | (static_cast<std::uint32_t>(b[3]) << 24);
}

std::uint32_t be32(const unsigned char* b) {
    return (static_cast<std::uint32_t>(b[0]) << 24) | (b[1] << 16) | (b[2] << 8) | b[3];
}

// Reads a NUL-terminated name of at most `limit` characters at `offset`; false when longer
// or cut by the end of the file.
bool read_name(Source& source, std::uint64_t& offset, std::string& name, std::size_t limit) {
    name.clear();
    char c = 0;
    while (read_exactly(source, offset++, &c, 1)) {
        if (c == '\0') return true;
        if (name.size() == limit) return false;
        name.push_back(c);
    }
    return false;
}

// Scan lines in each chunk of a scan-line file, by compression (the OpenEXR file layout).
std::int64_t lines_per_chunk(unsigned compression) {
    switch (compression) {
    case 3:
    case 5:
        return 16; // ZIP, PXR24
    case 4:
    case 6:
    case 7:
    case 8:
        return 32; // PIZ, B44, B44A, DWAA
    case 9:
        return 256; // DWAB
    default:
        return 1; // none, RLE, ZIPS, and unknown ones
    }
}

// The size that OpenEXR reads for a value of a fixed-size type, whatever the size field says;
// 0 for types whose values carry their own length.
std::uint32_t exr_fixed_size(const std::string& type) {
    static const struct {
        const char* type;
        std::uint32_t size;
    } kSizes[] = {{"box2i", 16},    {"box2f", 16},   {"compression", 1},
                  {"lineOrder", 1}, {"envmap", 1},   {"deepImageState", 1},
                  {"int", 4},       {"float", 4},    {"double", 8},
                  {"v2i", 8},       {"v2f", 8},      {"v2d", 16},
                  {"v3i", 12},      {"v3f", 12},     {"v3d", 24},
                  {"m33f", 36},     {"m33d", 72},    {"m44f", 64},
                  {"m44d", 128},    {"tiledesc", 9}, {"rational", 8},
                  {"timecode", 8},  {"keycode", 28}, {"chromaticities", 32}};
    for (const auto& entry : kSizes)
        if (type == entry.type) return entry.size;
    return 0;
}

} // namespace

bool gif(Source& source, Size& size) {
    unsigned char screen[13]; // signature, then the logical screen descriptor
    if (!read_exactly(source, 0, screen, sizeof screen) || std::memcmp(screen, "GIF", 3) != 0)
        return false;
    std::uint64_t at = sizeof screen;
    if ((screen[10] & 0x80) != 0) at += 3u * (2u << (screen[10] & 7)); // global colour table
    unsigned char introducer = 0;
    // Each pass moves on by at least one byte: the walk ends at the end of the file.
    while (read_exactly(source, at++, &introducer, 1)) {
        if (introducer == 0x2c) { // image descriptor: left, top, width, height, little-endian
            unsigned char descriptor[8];
            if (!read_exactly(source, at, descriptor, sizeof descriptor)) return false;
            size.width = descriptor[4] | (descriptor[5] << 8);
            size.height = descriptor[6] | (descriptor[7] << 8);
            size.bytes_per_pixel = 1; // a palette picture
            return true;
        }
        if (introducer != 0x21) return false;
        ++at; // the extension's label, then its data sub-blocks up to an empty one
        unsigned char length = 0;
        while (read_exactly(source, at++, &length, 1) && length != 0) at += length;
    }
    return false;
}

bool exr(Source& source, Size& size) {
    unsigned char start[8]; // magic number, then version and flags
    if (!read_exactly(source, 0, start, sizeof start) || le32(start) != 20000630u) return false;
    const std::uint32_t flags = le32(start + 4);
    const bool tiled = (flags & 0x200) != 0;
    const std::size_t name_limit = (flags & 0x400) != 0 ? 255 : 31;

    bool have_window = false, have_alpha = false, have_colour = false, have_grey = false;
    unsigned compression = 0;
    std::uint32_t tile_width = 0, tile_height = 0;
    std::int64_t x_min = 0, y_min = 0, x_max = -1, y_max = -1;
    std::uint64_t at = sizeof start;
    std::string name, type;
    // The first header (the first part of a multi-part file is the one decoded).
    for (;;) {
        if (!read_name(source, at, name, name_limit)) return false;
        if (name.empty()) break;
        unsigned char length_bytes[4];
        if (!read_name(source, at, type, name_limit) ||
            !read_exactly(source, at, length_bytes, sizeof length_bytes))
            return false;
        at += sizeof length_bytes;
        const std::uint32_t length = le32(length_bytes);
        if (length > source.size() - (at < source.size() ? at : source.size())) return false;
        // OpenEXR reads fixed-size values, channel lists and previews by their own layout, not
        // by the size field: where the two disagree, its reading of the rest of the header
        // would not be this one's, so such a file is not sized.
        const std::uint32_t fixed = exr_fixed_size(type);
        if (fixed != 0 && length != fixed) return false;
        if (type == "preview") {
            // Width and height, then four bytes per pixel, allocated before they are read.
            unsigned char preview[8];
            if (length < sizeof preview || !read_exactly(source, at, preview, sizeof preview) ||
                static_cast<std::uint64_t>(le32(preview)) * le32(preview + 4) * 4 != length - 8)
                return false;
        }
        if (name == "dataWindow" && type == "box2i" && length == 16) {
            unsigned char box[16];
            if (!read_exactly(source, at, box, sizeof box)) return false;
            x_min = static_cast<std::int32_t>(le32(box));
            y_min = static_cast<std::int32_t>(le32(box + 4));
            x_max = static_cast<std::int32_t>(le32(box + 8));
            y_max = static_cast<std::int32_t>(le32(box + 12));
            have_window = true;
        } else if (name == "compression" && type == "compression" && length == 1) {
            unsigned char value = 0;
            if (!read_exactly(source, at, &value, 1)) return false;
            compression = value;
        } else if (name == "tiles" && type == "tiledesc" && length == 9) {
            unsigned char tiles[9];
            if (!read_exactly(source, at, tiles, sizeof tiles)) return false;
            tile_width = le32(tiles);
            tile_height = le32(tiles + 4);
        } else if (name == "channels" && type == "chlist") {
            // Entries: a name, then 16 bytes of type and sampling; an empty name ends the list.
            std::uint64_t entry = at;
            const std::uint64_t end = at + length;
            std::string channel;
            std::vector<std::string> seen;
            for (;;) {
                if (entry >= end || !read_name(source, entry, channel, name_limit)) return false;
                if (channel.empty()) break;
                // Type (half, float, uint), a linear flag and three reserved bytes, then the
                // sampling along x and y. OpenEXR's readers step through the data window by
                // the sampling and index their buffers by channel name: a channel named twice,
                // an unknown type or a sampling other than full (or half, for the chroma of a
                // luminance picture) is no picture that a camera or renderer writes, and the
                // reader's loops over such a list are not bounded by the file.
                unsigned char layout[16];
                if (!read_exactly(source, entry, layout, sizeof layout) || le32(layout) > 2 ||
                    layout[4] > 1)
                    return false;
                const std::uint32_t x_sampling = le32(layout + 8);
                const std::uint32_t y_sampling = le32(layout + 12);
                const bool chroma = channel == "RY" || channel == "BY";
                if (!(x_sampling == 1 || (chroma && x_sampling == 2)) ||
                    !(y_sampling == 1 || (chroma && y_sampling == 2)))
                    return false;
                for (const std::string& other : seen)
                    if (other == channel) return false;
                if (seen.size() >= 64) return false;
                seen.push_back(channel);
                entry += 16;
                if (channel == "A")
                    have_alpha = true;
                else if (channel == "R" || channel == "G" || channel == "B")
                    have_colour = true;
                else if (channel == "Y")
                    have_grey = true;
            }
            if (entry != end) return false;
        }
        at += length;
    }
    if (!have_window || x_max < x_min || y_max < y_min) return false;
    size.width = x_max - x_min + 1;
    size.height = y_max - y_min + 1;
    size.bytes_per_pixel = have_alpha ? 16 : (have_grey && !have_colour) ? 4 : 12;

    // The reader keeps two words per scan line, and the offset of every chunk, before reading
    // any pixel. The offsets are stored in the file: a file too short to hold them is not a
    // picture of that size.
    constexpr std::int64_t kMaxLines = 1 << 22;
    if (size.height > kMaxLines) return false;
    std::int64_t chunks = 0;
    if (tiled) {
        if (tile_width == 0 || tile_height == 0) return false;
        chunks = ((size.width + tile_width - 1) / tile_width) *
                 ((size.height + tile_height - 1) / tile_height);
    } else {
        const std::int64_t lines = lines_per_chunk(compression);
        chunks = (size.height + lines - 1) / lines;
    }
    return static_cast<std::uint64_t>(chunks) <= source.size() / 8;
}

bool is_heif(Source& source) {
    unsigned char head[16]; // size, "ftyp", major brand, minor version
    if (!read_exactly(source, 0, head, sizeof head) || std::memcmp(head + 4, "ftyp", 4) != 0)
        return false;
    const std::uint32_t box = be32(head);
    static const char* const kBrands[] = {"heic", "heix", "hevc", "heim", "heis",
                                          "mif1", "msf1", "avif", "avis"};
    auto known = [](const unsigned char* brand) {
        for (const char* b : kBrands)
            if (std::memcmp(brand, b, 4) == 0) return true;
        return false;
    };
    if (box < sizeof head) return false;
    if (known(head + 8)) return true;
    // Compatible brands fill the rest of the box; a few dozen at most in real files.
    for (std::uint32_t at = sizeof head; at + 4 <= box && at < 1024; at += 4) {
        unsigned char brand[4];
        if (!read_exactly(source, at, brand, sizeof brand)) return false;
        if (known(brand)) return true;
    }
    return false;
}

} // namespace picture_size
