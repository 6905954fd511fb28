#include "IndexStore.h"

#include "OwnedFile.h"

#include <climits>
#include <cstdio>
#include <cstring>

namespace {

// Eight bytes that no other file begins with; the last two are the format's version.
const char kMagic[8] = {'G', 'W', 'I', 'N', 'D', 'E', 'X', '1'};
// No real index comes near these; a larger count can only come from a damaged file.
constexpr std::uint32_t kMaxPath = 1u << 16;
constexpr std::uint32_t kMaxList = 1u << 26;
constexpr long kMaxFile = 1L << 30;

std::uint64_t fnv(std::uint64_t hash, const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
        hash ^= static_cast<unsigned char>(bytes[i]);
        hash *= 1099511628211ull;
    }
    return hash;
}

// Little-endian fields, whatever the machine: the file may be read by another build.
class Writer {
public:
    void u8(std::uint8_t v) { bytes_ += static_cast<char>(v); }
    void u32(std::uint32_t v) {
        for (int i = 0; i < 4; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void u64(std::uint64_t v) {
        for (int i = 0; i < 8; ++i) u8(static_cast<std::uint8_t>(v >> (8 * i)));
    }
    void i32(std::int32_t v) { u32(static_cast<std::uint32_t>(v)); }
    void text(const std::string& s) {
        u32(static_cast<std::uint32_t>(s.size()));
        bytes_ += s;
    }
    std::string& bytes() { return bytes_; }

private:
    std::string bytes_;
};

class Reader {
public:
    explicit Reader(const std::string& bytes) : bytes_(bytes) {}
    bool ok() const { return ok_; }
    std::size_t at() const { return at_; }
    std::uint8_t u8() { return take(1) ? static_cast<std::uint8_t>(bytes_[at_ - 1]) : 0; }
    std::uint64_t u64() {
        if (!take(8)) return 0;
        std::uint64_t v = 0;
        for (int i = 7; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes_[at_ - 8 + static_cast<std::size_t>(i)]);
        return v;
    }
    std::uint32_t u32() {
        if (!take(4)) return 0;
        std::uint32_t v = 0;
        for (int i = 3; i >= 0; --i)
            v = v << 8 | static_cast<unsigned char>(bytes_[at_ - 4 + static_cast<std::size_t>(i)]);
        return v;
    }
    std::int32_t i32() { return static_cast<std::int32_t>(u32()); }
    bool text(std::string& s) {
        const std::uint32_t size = u32();
        if (size > kMaxPath) ok_ = false;
        if (!take(size)) return false;
        s.assign(bytes_, at_ - size, size);
        return true;
    }

private:
    bool take(std::size_t n) {
        if (!ok_ || bytes_.size() - at_ < n) return ok_ = false;
        at_ += n;
        return true;
    }
    const std::string& bytes_;
    std::size_t at_ = 0;
    bool ok_ = true;
};

bool read_whole(const std::string& file, std::string& bytes, std::string& why) {
    platform::FileId id;
    if (platform::file_identity(file, true, id, why) == platform::Lookup::missing) {
        why = "missing";
        return false;
    }
    platform::OpenFailure failure = platform::OpenFailure::None;
    const OwnedFile in(platform::open_shared(file.c_str(), "rb", &failure));
    if (!in) {
        why = failure == platform::OpenFailure::CannotOpen ? "cannot be read" : "not a file";
        return false;
    }
    char buffer[65536];
    std::size_t got = 0;
    while ((got = std::fread(buffer, 1, sizeof buffer, in.get())) > 0) {
        bytes.append(buffer, got);
        if (bytes.size() > static_cast<std::size_t>(kMaxFile)) {
            why = "too large";
            return false;
        }
    }
    if (std::ferror(in.get())) {
        why = "cannot be read";
        return false;
    }
    return true;
}

} // namespace

namespace IndexStore {

void ConfigurationKey::add(char kind, const std::string& text) {
    hash_ = fnv(hash_, &kind, 1);
    hash_ = fnv(hash_, text.data(), text.size());
    // The length ends the entry: "ab" then "c" differs from "a" then "bc".
    const auto size = static_cast<std::uint64_t>(text.size());
    hash_ = fnv(hash_, reinterpret_cast<const char*>(&size), sizeof size);
}

bool save(const std::string& file, const SavedIndex& index) {
    Writer w;
    w.bytes().append(kMagic, sizeof kMagic);
    w.u64(index.configuration);
    w.u32(static_cast<std::uint32_t>(index.folders.size()));
    for (const SavedFolder& f : index.folders) {
        w.text(f.path);
        w.u64(f.id.volume);
        w.u64(f.id.index);
        w.u64(f.id.size);
        w.u64(static_cast<std::uint64_t>(f.id.modified));
        w.i32(f.files);
    }
    w.u8(index.has_round ? 1 : 0);
    if (index.has_round) {
        const RoundState& r = index.round;
        for (const std::int32_t v : {r.size, r.seed, r.position, r.last_shown, r.avoided}) w.i32(v);
        w.u32(static_cast<std::uint32_t>(r.dropped.size()));
        for (const std::int32_t v : r.dropped) w.i32(v);
        w.u32(static_cast<std::uint32_t>(r.extensions.size()));
        for (const RoundState::Extension& e : r.extensions) {
            w.i32(e.position);
            w.i32(e.size);
        }
    }
    w.u64(fnv(14695981039346656037ull, w.bytes().data(), w.bytes().size()));

    // Written beside the index and moved over it: a show ended halfway through the write, or
    // two shows saving at once, leave a whole file in place.
    const std::string fresh = file + ".new";
    {
        const OwnedFile out(platform::open_shared(fresh.c_str(), "wb"));
        if (!out) return false;
        const std::string& bytes = w.bytes();
        if (std::fwrite(bytes.data(), 1, bytes.size(), out.get()) != bytes.size() ||
            std::fflush(out.get()) != 0) {
            std::remove(fresh.c_str());
            return false;
        }
    }
    if (platform::replace_file(fresh, file)) return true;
    std::remove(fresh.c_str());
    return false;
}

bool load(const std::string& file, SavedIndex& index, std::string& why) {
    std::string bytes;
    if (!read_whole(file, bytes, why)) return false;
    if (bytes.size() < sizeof kMagic || std::memcmp(bytes.data(), kMagic, sizeof kMagic) != 0) {
        why = bytes.empty() ? "empty" : "not an index of this program";
        return false;
    }
    Reader r(bytes);
    r.u64(); // the magic, checked above
    index.configuration = r.u64();
    const std::uint32_t folders = r.u32();
    if (folders > kMaxList) {
        why = "corrupt";
        return false;
    }
    index.folders.clear();
    std::int64_t total = 0;
    for (std::uint32_t i = 0; i < folders && r.ok(); ++i) {
        SavedFolder f;
        if (!r.text(f.path)) break;
        f.id.volume = r.u64();
        f.id.index = r.u64();
        f.id.size = r.u64();
        f.id.modified = static_cast<std::int64_t>(r.u64());
        f.files = r.i32();
        total += f.files;
        if (f.files < 1 || total > INT32_MAX || f.path.empty()) {
            why = "corrupt";
            return false;
        }
        index.folders.push_back(std::move(f));
    }
    const std::uint8_t has_round = r.u8();
    index.has_round = has_round == 1;
    if (r.ok() && has_round > 1) {
        why = "corrupt";
        return false;
    }
    if (index.has_round) {
        RoundState& round = index.round;
        round.size = r.i32();
        round.seed = r.i32();
        round.position = r.i32();
        round.last_shown = r.i32();
        round.avoided = r.i32();
        const std::uint32_t dropped = r.u32();
        if (dropped > kMaxList) {
            why = "corrupt";
            return false;
        }
        round.dropped.clear();
        for (std::uint32_t i = 0; i < dropped && r.ok(); ++i) round.dropped.push_back(r.i32());
        const std::uint32_t extensions = r.u32();
        if (extensions > kMaxList) {
            why = "corrupt";
            return false;
        }
        round.extensions.clear();
        for (std::uint32_t i = 0; i < extensions && r.ok(); ++i) {
            RoundState::Extension e;
            e.position = r.i32();
            e.size = r.i32();
            round.extensions.push_back(e);
        }
    }
    const std::size_t body = r.at();
    const std::uint64_t sum = r.u64();
    if (!r.ok()) {
        why = "truncated";
        return false;
    }
    if (r.at() != bytes.size() || sum != fnv(14695981039346656037ull, bytes.data(), body)) {
        why = "corrupt";
        return false;
    }
    return true;
}

} // namespace IndexStore
