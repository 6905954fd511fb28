#include "Configurator.h"

#include "Ascii.h"
#include "OwnedFile.h"
#include "Platform.h"
#include "Tracer.h"

#include <cstdio>
#include <initializer_list>
#include <locale>
#include <sstream>

namespace {
const std::int32_t kModule = Tracer::register_module("Configurator");

constexpr std::size_t kLineBuffer = 500;

bool is_separator(char c) { return c == ' ' || c == ':' || c == '=' || c == '\t'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

// The bytes of the configuration text. Without a byte-order mark, the file's bytes as they
// stand; after a UTF-8 mark, the bytes that follow it; after a UTF-16 mark (either order), the
// text converted to UTF-8, with U+FFFD for an unpaired surrogate or an odd last byte.
class TextSource {
public:
    enum class Encoding { Bytes, Utf8, Utf16Le, Utf16Be };

    explicit TextSource(std::FILE* file) : file_(file) {
        while (ahead_count_ < 3) {
            const int c = std::getc(file_);
            if (c == EOF) break;
            ahead_[ahead_count_++] = static_cast<unsigned char>(c);
        }
        const auto starts = [&](std::initializer_list<int> mark) {
            std::size_t i = 0;
            for (const int byte : mark)
                if (i >= ahead_count_ || ahead_[i++] != byte) return false;
            return true;
        };
        if (starts({0xEF, 0xBB, 0xBF})) {
            encoding_ = Encoding::Utf8;
            ahead_at_ = 3;
        } else if (starts({0xFF, 0xFE})) {
            encoding_ = Encoding::Utf16Le;
            ahead_at_ = 2;
        } else if (starts({0xFE, 0xFF})) {
            encoding_ = Encoding::Utf16Be;
            ahead_at_ = 2;
        }
    }

    Encoding encoding() const { return encoding_; }

    // The next byte of the text, or EOF.
    int get() {
        if (out_at_ < out_count_) return out_[out_at_++];
        if (encoding_ == Encoding::Bytes || encoding_ == Encoding::Utf8) return raw();
        std::int32_t code = unit();
        if (code == EOF) return EOF;
        if (code >= 0xD800 && code <= 0xDBFF) {
            const std::int32_t low = unit();
            if (low >= 0xDC00 && low <= 0xDFFF) {
                code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
            } else {
                held_ = low; // read again next time, as a unit of its own
                code = 0xFFFD;
            }
        } else if (code >= 0xDC00 && code <= 0xDFFF) {
            code = 0xFFFD;
        }
        encode(static_cast<std::uint32_t>(code));
        return out_[out_at_++];
    }

private:
    int raw() {
        if (ahead_at_ < ahead_count_) return ahead_[ahead_at_++];
        return std::getc(file_);
    }

    // One UTF-16 code unit, U+FFFD for a lone last byte, or EOF.
    std::int32_t unit() {
        if (held_ != kNone) {
            const std::int32_t held = held_;
            held_ = kNone;
            return held;
        }
        const int first = raw();
        if (first == EOF) return EOF;
        const int second = raw();
        if (second == EOF) return 0xFFFD;
        return encoding_ == Encoding::Utf16Le ? first | (second << 8) : (first << 8) | second;
    }

    void encode(std::uint32_t code) {
        out_at_ = 0;
        if (code < 0x80) {
            out_[0] = static_cast<unsigned char>(code);
            out_count_ = 1;
        } else if (code < 0x800) {
            out_[0] = static_cast<unsigned char>(0xC0 | (code >> 6));
            out_[1] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            out_count_ = 2;
        } else if (code < 0x10000) {
            out_[0] = static_cast<unsigned char>(0xE0 | (code >> 12));
            out_[1] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            out_[2] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            out_count_ = 3;
        } else {
            out_[0] = static_cast<unsigned char>(0xF0 | (code >> 18));
            out_[1] = static_cast<unsigned char>(0x80 | ((code >> 12) & 0x3F));
            out_[2] = static_cast<unsigned char>(0x80 | ((code >> 6) & 0x3F));
            out_[3] = static_cast<unsigned char>(0x80 | (code & 0x3F));
            out_count_ = 4;
        }
    }

    static constexpr std::int32_t kNone = -2; // neither a unit nor EOF

    std::FILE* file_;
    Encoding encoding_ = Encoding::Bytes;
    unsigned char ahead_[3] = {};
    std::size_t ahead_count_ = 0;
    std::size_t ahead_at_ = 0;
    std::int32_t held_ = kNone;
    unsigned char out_[4] = {};
    std::size_t out_count_ = 0;
    std::size_t out_at_ = 0;
};

const char* encoding_name(TextSource::Encoding encoding) {
    switch (encoding) {
    case TextSource::Encoding::Utf8:
        return "UTF-8";
    case TextSource::Encoding::Utf16Le:
        return "UTF-16LE";
    case TextSource::Encoding::Utf16Be:
        return "UTF-16BE";
    case TextSource::Encoding::Bytes:
        break;
    }
    return "bytes";
}

// Reads one line without its end into `line`; false at the end of the file.
bool read_line(TextSource& text, char (&line)[kLineBuffer], std::size_t& length) {
    length = 0;
    int c = text.get();
    if (c == EOF) return false;
    // Past 499 characters the rest of the line is dropped, so its tail never becomes a key.
    const auto append = [&](int byte) {
        if (length < kLineBuffer - 1) line[length++] = static_cast<char>(byte);
    };
    // A carriage return is held back until we know whether a line feed follows: the pair
    // is one line end, as a Windows text-mode stream reads it; a lone one is text.
    bool held_return = false;
    for (; c != EOF && c != '\n'; c = text.get()) {
        if (held_return) append('\r');
        held_return = (c == '\r');
        if (!held_return) append(c);
    }
    if (held_return && c == EOF) append('\r');
    line[length] = '\0';
    return true;
}

} // namespace

bool Configurator::KeyLess::operator()(const std::string& a, const std::string& b) const {
    const std::size_t shorter = a.size() < b.size() ? a.size() : b.size();
    for (std::size_t i = 0; i < shorter; ++i) {
        const auto ca = static_cast<unsigned char>(ascii_lower(a[i]));
        const auto cb = static_cast<unsigned char>(ascii_lower(b[i]));
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

Configurator::Configurator() = default;
Configurator::~Configurator() = default;

void Configurator::add(const std::string& key, const std::string& value) {
    entries_[key].push_back(value);
}

void Configurator::add_key(const std::string& key) {
    std::vector<std::string>& values = entries_[key];
    if (values.empty()) values.emplace_back();
}

bool Configurator::same_key(const std::string& a, const std::string& b) {
    const KeyLess less;
    return !less(a, b) && !less(b, a);
}

std::vector<std::string> Configurator::keys() const {
    std::vector<std::string> result;
    for (const auto& entry : entries_) result.push_back(entry.first);
    return result;
}

bool Configurator::contains(const std::string& key) const {
    return entries_.find(key) != entries_.end();
}

const std::string* Configurator::find(const std::string& key, int index) const {
    if (index < 0) return nullptr;
    const auto it = entries_.find(key);
    if (it == entries_.end() || static_cast<std::size_t>(index) >= it->second.size())
        return nullptr;
    return &it->second[static_cast<std::size_t>(index)];
}

bool Configurator::get_string(const std::string& key, std::string& value, int index) const {
    const std::string* found = find(key, index);
    if (!found) return false;
    value = *found;
    return true;
}

bool Configurator::get_int(const std::string& key, std::int32_t& value, int index) const {
    const std::string* found = find(key, index);
    if (!found) return false;
    std::istringstream in(*found);
    in.imbue(std::locale::classic()); // no digit grouping whatever the global locale
    // A failed extraction writes 0 or a limit into its target; the caller's number must
    // stay as it was, so read into a copy.
    std::int32_t number = 0;
    in >> number;
    if (in.fail()) return false;
    value = number;
    return in.eof();
}

bool ReadConfigFile(const char* file_name, Configurator& store) {
    // Binary: line ends are found here, and a Windows text stream would end UTF-16 text at a
    // 0x1A byte and merge the bytes 0x0D 0x0A of other characters.
    const OwnedFile file(file_name ? platform::open_shared(file_name, "rb") : nullptr);
    if (!file) {
        GW_TRACE(kModule, 1, "ReadConfigFile( %s ) open failed", file_name ? file_name : "");
        return false;
    }
    GW_TRACE(kModule, 3, "ReadConfigFile( %s )", file_name);
    TextSource text(file.get());
    const bool converted = text.encoding() != TextSource::Encoding::Bytes;
    if (converted) GW_TRACE(kModule, 3, "~ text in %s", encoding_name(text.encoding()));

    char line[kLineBuffer];
    std::size_t length = 0;
    while (read_line(text, line, length)) {
        if (converted) {
            // Text known to be Unicode is handed on in the encoding that file names use.
            const std::string narrow = platform::narrow_from_utf8(std::string(line, length));
            length = narrow.size() < kLineBuffer - 1 ? narrow.size() : kLineBuffer - 1;
            narrow.copy(line, length);
            line[length] = '\0';
        }
        // A NUL ends the text like a comment does: what is stored is what the trace shows.
        std::size_t end = 0;
        while (end < length && line[end] != '#' && line[end] != '\0') ++end;
        while (end > 0 && is_blank(line[end - 1])) --end;

        std::size_t key_begin = 0;
        while (key_begin < end && is_separator(line[key_begin])) ++key_begin;
        if (key_begin == end) continue;
        std::size_t key_end = key_begin;
        while (key_end < end && !is_separator(line[key_end])) ++key_end;
        std::size_t value_begin = key_end;
        while (value_begin < end && is_separator(line[value_begin])) ++value_begin;

        const std::string key(line + key_begin, key_end - key_begin);
        if (value_begin == end) {
            GW_TRACE(kModule, 4, "add <%s> (no data)", key.c_str());
            store.add_key(key);
        } else {
            const std::string value(line + value_begin, end - value_begin);
            GW_TRACE(kModule, 4, "add <%s> <%s>", key.c_str(), value.c_str());
            store.add(key, value);
        }
    }
    return true;
}
