#include "Configurator.h"

#include "Platform.h"
#include "Tracer.h"

#include <cstdio>
#include <locale>
#include <sstream>

namespace {
const std::int32_t kModule = Tracer::register_module("Configurator");

constexpr std::size_t kLineBuffer = 500;

unsigned char fold(char c) {
    const unsigned char u = static_cast<unsigned char>(c);
    return (u >= 'A' && u <= 'Z') ? static_cast<unsigned char>(u - 'A' + 'a') : u;
}

bool is_separator(char c) { return c == ' ' || c == ':' || c == '=' || c == '\t'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }

// Reads one line without its end into `line`; false at the end of the file.
bool read_line(std::FILE* file, char (&line)[kLineBuffer], std::size_t& length) {
    length = 0;
    int c = std::getc(file);
    if (c == EOF) return false;
    // Past 499 characters the rest of the line is dropped, so its tail never becomes a key.
    const auto append = [&](int byte) {
        if (length < kLineBuffer - 1) line[length++] = static_cast<char>(byte);
    };
    // A carriage return is held back until we know whether a line feed follows: the pair
    // is one line end, as a Windows text-mode stream reads it; a lone one is text.
    bool held_return = false;
    for (; c != EOF && c != '\n'; c = std::getc(file)) {
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
        const unsigned char ca = fold(a[i]);
        const unsigned char cb = fold(b[i]);
        if (ca != cb) return ca < cb;
    }
    return a.size() < b.size();
}

Configurator::Configurator() = default;
Configurator::~Configurator() = default;

void Configurator::add(const std::string& key, const std::string& value) {
    // A multimap inserts an equal key after those already present: file order is kept.
    entries_.emplace(key, value);
}

void Configurator::add_key(const std::string& key) {
    if (!contains(key)) entries_.emplace(key, std::string());
}

bool Configurator::contains(const std::string& key) const {
    return entries_.find(key) != entries_.end();
}

const std::string* Configurator::find(const std::string& key, int index) const {
    if (index < 0) return nullptr;
    auto range = entries_.equal_range(key);
    for (auto it = range.first; it != range.second; ++it, --index)
        if (index == 0) return &it->second;
    return nullptr;
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
    std::FILE* file = file_name ? platform::open_shared(file_name, "r") : nullptr;
    if (!file) {
        GW_TRACE(kModule, 1)("ReadConfigFile( %s ) open failed", file_name ? file_name : "");
        return false;
    }
    GW_TRACE(kModule, 3)("ReadConfigFile( %s )", file_name);

    char line[kLineBuffer];
    std::size_t length = 0;
    while (read_line(file, line, length)) {
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
            GW_TRACE(kModule, 4)("add <%s> (no data)", key.c_str());
            store.add_key(key);
        } else {
            const std::string value(line + value_begin, end - value_begin);
            GW_TRACE(kModule, 4)("add <%s> <%s>", key.c_str(), value.c_str());
            store.add(key, value);
        }
    }
    std::fclose(file);
    return true;
}
