// Byte-level writers for the files the tests build by hand (headers, chunks, EXIF).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <string>

namespace bytes {

// `value` as `count` bytes, least significant first (le) or most significant first (be):
// appended to `out`, or written over the bytes of `out` from `at`.
void append_le(std::string& out, std::uint32_t value, int count);
void append_be(std::string& out, std::uint32_t value, int count);
void put_le(std::string& out, std::size_t at, std::uint32_t value, int count);
void put_be(std::string& out, std::size_t at, std::uint32_t value, int count);
// Each value as 4 little-endian bytes, or as 2 big-endian bytes.
std::string le32(std::initializer_list<std::uint32_t> values);
std::string be16(std::initializer_list<std::uint32_t> values);

// The CRC-32 of PNG and zlib (reflected polynomial 0xEDB88320).
std::uint32_t crc32(const std::string& data);
// A PNG chunk: payload length, type, payload, CRC of type and payload.
std::string png_chunk(const char* type, const std::string& payload);
// A JPEG APP1 segment, marker included: "Exif", a little-endian TIFF header and an IFD0 that
// holds only Orientation, of TIFF type `tag_type` (3 SHORT, 4 LONG).
std::string exif_orientation_segment(int orientation, int tag_type = 3);
// A JPEG APP1 segment with an Exif IFD that holds DateTimeOriginal = `date` (19 characters).
std::string exif_date_segment(const std::string& date);

} // namespace bytes
