// Picture sizes read from file headers by our own code, for the formats whose decoder would
// allocate or decode before a size can be checked. No decoder library is involved.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

namespace picture_size {

// Random-access bytes of one file or buffer.
class Source {
public:
    // Copies up to `count` bytes from `offset`; the number copied (short at the end).
    virtual std::size_t read(std::uint64_t offset, void* into, std::size_t count) = 0;
    virtual std::uint64_t size() const = 0;

protected:
    ~Source() = default;
};

// An open file; does not own it. Its size is 0 when empty or unreadable.
class FileSource final : public Source {
public:
    explicit FileSource(std::FILE* file);
    std::size_t read(std::uint64_t offset, void* into, std::size_t count) override;
    std::uint64_t size() const override { return size_; }

private:
    std::FILE* file_;
    std::uint64_t size_ = 0;
};

// Bytes in memory; does not own them.
class MemorySource final : public Source {
public:
    MemorySource(const void* data, std::size_t size)
        : data_(static_cast<const unsigned char*>(data)), size_(size) {}
    std::size_t read(std::uint64_t offset, void* into, std::size_t count) override;
    std::uint64_t size() const override { return size_; }

private:
    const unsigned char* data_;
    std::size_t size_;
};

struct Size {
    std::int64_t width = 0;
    std::int64_t height = 0;
    std::int32_t bytes_per_pixel = 0; // of the decoded picture
};

// The first frame of a GIF, the one frame that is decoded, found by walking the blocks the
// way the decoder does. False when no image descriptor can be reached.
bool gif(Source& source, Size& size);

// An OpenEXR file's data window, with the bytes per pixel of its decoded form (32-bit float
// channels). False when the header cannot be read, or when its reader would allocate more per
// scan line or chunk than the file could hold (a short file announcing a tall picture).
bool exr(Source& source, Size& size);

// True when the file begins with an ISO base media `ftyp` box naming a HEIF or AVIF brand,
// as major or compatible brand.
bool is_heif(Source& source);

} // namespace picture_size
