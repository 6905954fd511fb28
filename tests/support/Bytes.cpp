#include "Bytes.h"

namespace bytes {

void append_le(std::string& out, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) out.push_back(static_cast<char>((value >> (8 * i)) & 0xffu));
}

void append_be(std::string& out, std::uint32_t value, int count) {
    for (int i = count - 1; i >= 0; --i)
        out.push_back(static_cast<char>((value >> (8 * i)) & 0xffu));
}

void put_le(std::string& out, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i) out[at + i] = static_cast<char>((value >> (8 * i)) & 0xffu);
}

void put_be(std::string& out, std::size_t at, std::uint32_t value, int count) {
    for (int i = 0; i < count; ++i)
        out[at + i] = static_cast<char>((value >> (8 * (count - 1 - i))) & 0xffu);
}

std::string le32(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (std::uint32_t v : values) append_le(out, v, 4);
    return out;
}

std::string be16(std::initializer_list<std::uint32_t> values) {
    std::string out;
    for (std::uint32_t v : values) append_be(out, v, 2);
    return out;
}

std::uint32_t crc32(const std::string& data) {
    std::uint32_t crc = 0xffffffffu;
    for (char c : data) {
        crc ^= static_cast<std::uint8_t>(c);
        for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xedb88320u & (0u - (crc & 1u)));
    }
    return crc ^ 0xffffffffu;
}

std::string png_chunk(const char* type, const std::string& payload) {
    std::string chunk;
    append_be(chunk, static_cast<std::uint32_t>(payload.size()), 4);
    const std::string typed = std::string(type, 4) + payload;
    chunk += typed;
    append_be(chunk, crc32(typed), 4);
    return chunk;
}

std::string exif_orientation_segment(int orientation, int tag_type) {
    std::string segment("\xff\xe1\0\0Exif\0\0II", 12);
    append_le(segment, 42, 2);
    append_le(segment, 8, 4);      // IFD0 follows the 8-byte TIFF header
    append_le(segment, 1, 2);      // one entry
    append_le(segment, 0x0112, 2); // Orientation
    append_le(segment, static_cast<std::uint32_t>(tag_type), 2);
    append_le(segment, 1, 4); // one value, held in the entry, left-justified
    append_le(segment, static_cast<std::uint32_t>(orientation), 4);
    append_le(segment, 0, 4); // no next IFD
    // The length counts itself, not the marker.
    put_be(segment, 2, static_cast<std::uint32_t>(segment.size() - 2), 2);
    return segment;
}

std::string exif_date_segment(const std::string& date) {
    std::string segment("\xff\xe1\0\0Exif\0\0II", 12);
    append_le(segment, 42, 2);
    append_le(segment, 8, 4);      // IFD0 follows the 8-byte TIFF header
    append_le(segment, 1, 2);      // one entry
    append_le(segment, 0x8769, 2); // the Exif IFD's place
    append_le(segment, 4, 2);      // LONG
    append_le(segment, 1, 4);
    append_le(segment, 26, 4); // 8 + 2 + 12 + 4: right after IFD0
    append_le(segment, 0, 4);  // no next IFD
    append_le(segment, 1, 2);
    append_le(segment, 0x9003, 2); // DateTimeOriginal
    append_le(segment, 2, 2);      // ASCII
    append_le(segment, 20, 4);     // 19 characters and their zero
    append_le(segment, 44, 4);     // 26 + 2 + 12 + 4
    append_le(segment, 0, 4);
    segment += date.substr(0, 19);
    segment.append(20 - (date.size() < 19 ? date.size() : 19), '\0');
    put_be(segment, 2, static_cast<std::uint32_t>(segment.size() - 2), 2);
    return segment;
}

} // namespace bytes
