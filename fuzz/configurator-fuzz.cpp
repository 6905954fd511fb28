// Reads any bytes as a configuration file, then checks every answer of the store against a
// model of the file format, and the guarantees a value gives whatever the model says.
#include "Configurator.h"

#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <iterator>
#include <map>
#include <set>
#include <string>
#include <vector>

namespace {

// Configurator.h promises get_int reads "as a stream would", and a stream skips white space
// before a number; the only such bytes a value can begin with are '\v', '\f' and a lone '\r'.
// Set to false to hold get_int to "optional sign and digits, nothing else".
constexpr bool kIntSkipsLeadingSpace = true;

constexpr std::size_t kLineLimit = 499;

void check(bool condition) {
    if (!condition) __builtin_trap();
}

bool is_separator(char c) { return c == ' ' || c == ':' || c == '=' || c == '\t'; }
bool is_blank(char c) { return c == ' ' || c == '\t'; }
char fold(char c) { return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c; }
char unfold(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

std::string map_chars(const std::string& text, char (*f)(char)) {
    std::string result = text;
    for (char& c : result) c = f(c);
    return result;
}

// An anonymous file in memory, opened by ReadConfigFile through its /proc name: a crash or
// Ctrl-C leaves nothing behind.
const std::string& temp_file(int& fd) {
    static const int file = memfd_create("gw-configurator-fuzz", 0);
    static const std::string name = "/proc/self/fd/" + std::to_string(file);
    if (file < 0) std::abort();
    fd = file;
    return name;
}

// The store a file should give: folded key to its values in file order.
using Model = std::map<std::string, std::vector<std::string>>;

void model_line(std::string line, Model& model, std::vector<std::string>& keys) {
    if (line.size() > kLineLimit) line.resize(kLineLimit); // the rest of a long line is dropped
    std::size_t end = 0;
    while (end < line.size() && line[end] != '#' && line[end] != '\0') ++end;
    while (end > 0 && is_blank(line[end - 1])) --end;
    std::size_t key_begin = 0;
    while (key_begin < end && is_separator(line[key_begin])) ++key_begin;
    if (key_begin == end) return;
    std::size_t key_end = key_begin;
    while (key_end < end && !is_separator(line[key_end])) ++key_end;
    std::size_t value_begin = key_end;
    while (value_begin < end && is_separator(line[value_begin])) ++value_begin;

    const std::string key = line.substr(key_begin, key_end - key_begin);
    keys.push_back(key);
    std::vector<std::string>& values = model[map_chars(key, fold)];
    if (value_begin < end)
        values.push_back(line.substr(value_begin, end - value_begin));
    else if (values.empty())
        values.emplace_back();
}

// The text the reader should see: bytes after a UTF-8 mark, UTF-16 after its mark decoded into
// code points (U+FFFD for an unpaired surrogate or an odd last byte) and written as UTF-8.
std::string decoded(const std::string& bytes) {
    const auto starts = [&](const char* mark) {
        return bytes.compare(0, std::strlen(mark), mark) == 0;
    };
    if (starts("\xEF\xBB\xBF")) return bytes.substr(3);
    const bool little = starts("\xFF\xFE");
    if (!little && !starts("\xFE\xFF")) return bytes;
    std::vector<std::uint32_t> units;
    for (std::size_t i = 2; i < bytes.size(); i += 2) {
        if (i + 1 == bytes.size()) {
            units.push_back(0xFFFD);
            break;
        }
        const std::uint32_t a = static_cast<unsigned char>(bytes[i]);
        const std::uint32_t b = static_cast<unsigned char>(bytes[i + 1]);
        units.push_back(little ? a | b << 8 : a << 8 | b);
    }
    std::vector<std::uint32_t> points;
    for (std::size_t i = 0; i < units.size(); ++i) {
        const std::uint32_t u = units[i];
        const bool high = u >= 0xD800 && u < 0xDC00;
        const bool next_low =
            i + 1 < units.size() && units[i + 1] >= 0xDC00 && units[i + 1] < 0xE000;
        if (high && next_low) {
            points.push_back(0x10000 + ((u - 0xD800) << 10) + (units[++i] - 0xDC00));
        } else if (u >= 0xD800 && u < 0xE000) {
            points.push_back(0xFFFD);
        } else {
            points.push_back(u);
        }
    }
    std::string text;
    for (const std::uint32_t p : points) {
        const int extra = p < 0x80 ? 0 : p < 0x800 ? 1 : p < 0x10000 ? 2 : 3;
        static const unsigned char lead[] = {0x00, 0xC0, 0xE0, 0xF0};
        text += static_cast<char>(lead[extra] | (p >> (6 * extra)));
        for (int k = extra - 1; k >= 0; --k)
            text += static_cast<char>(0x80 | ((p >> (6 * k)) & 0x3F));
    }
    return text;
}

Model model_file(const std::string& text, std::vector<std::string>& keys) {
    Model model;
    std::size_t begin = 0;
    while (begin < text.size()) {
        const std::size_t feed = text.find('\n', begin);
        if (feed == std::string::npos) {
            model_line(text.substr(begin), model, keys); // a last '\r' stays: no line feed follows
            break;
        }
        std::size_t end = feed;
        if (end > begin && text[end - 1] == '\r') --end;
        model_line(text.substr(begin, end - begin), model, keys);
        begin = feed + 1;
    }
    return model;
}

// What get_int should do with `value`: whether a number can be read at its start, that
// number, and whether it ran to the end.
struct IntReading {
    bool read = false;
    std::int32_t number = 0;
    bool whole = false;
};

IntReading read_int(const std::string& value) {
    IntReading reading;
    std::size_t i = 0;
    if (kIntSkipsLeadingSpace)
        while (i < value.size() && (value[i] == ' ' || (value[i] >= '\t' && value[i] <= '\r'))) ++i;
    bool negative = false;
    if (i < value.size() && (value[i] == '+' || value[i] == '-')) negative = value[i++] == '-';
    const std::size_t digits = i;
    std::int64_t magnitude = 0;
    for (; i < value.size() && value[i] >= '0' && value[i] <= '9'; ++i)
        if (magnitude <= INT64_C(1) << 32) magnitude = magnitude * 10 + (value[i] - '0');
    if (i == digits) return reading;
    const std::int64_t number = negative ? -magnitude : magnitude;
    if (number < INT32_MIN || number > INT32_MAX) return reading;
    reading.read = true;
    reading.number = static_cast<std::int32_t>(number);
    reading.whole = i == value.size();
    return reading;
}

// What the file format guarantees of any value it stores, whatever the model says.
void check_value_shape(const std::string& value, int index) {
    if (value.empty()) {
        check(index == 0); // only a key first met without a value has one
        return;
    }
    check(!is_separator(value.front()));
    check(!is_blank(value.back()));
    check(value.find('#') == std::string::npos);
    check(value.find('\0') == std::string::npos);
    check(value.size() <= kLineLimit - 2); // a key and a separator come before it
}

// Every getter on `key` against the model's values; `from_file` while the store holds only
// what the file gave.
void check_key(const Configurator& store, const Model& model, const std::string& key,
               bool from_file) {
    const auto found = model.find(map_chars(key, fold));
    const std::vector<std::string> none;
    const std::vector<std::string>& values = found == model.end() ? none : found->second;
    check(store.contains(key) == !values.empty());

    const std::string untouched = "\x01untouched";
    const std::int32_t sentinel = -1234567;
    // The first few indexes and the end of the list: a key may have a thousand values.
    const int count = static_cast<int>(values.size());
    const std::set<int> indexes = {-1, 0, 1, 2, 3, count - 1, count};
    for (const int index : indexes) {
        const bool present = index >= 0 && index < count;
        std::string text = untouched;
        check(store.get_string(key, text, index) == present);
        if (!present) {
            check(text == untouched);
        } else {
            check(text == values[static_cast<std::size_t>(index)]);
            if (from_file) check_value_shape(text, index);
            if (index > 0) {
                std::string before;
                check(store.get_string(key, before, index - 1));
            }
        }

        std::int32_t number = sentinel;
        const bool whole = store.get_int(key, number, index);
        if (!present) {
            check(!whole && number == sentinel);
            continue;
        }
        const IntReading expected = read_int(text);
        check(whole == (expected.read && expected.whole));
        check(number == (expected.read ? expected.number : sentinel));
    }
}

const char* const kSystemKeys[] = {"trace", "small",   "delai", "cache",
                                   "path",  "dossier", "sauf",  "exclude"};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    int fd = -1;
    const std::string& name = temp_file(fd);
    if (ftruncate(fd, 0) != 0) std::abort();
    if (size != 0 && pwrite(fd, data, size, 0) != static_cast<ssize_t>(size)) std::abort();

    Configurator store;
    check(ReadConfigFile(name.c_str(), store));

    std::vector<std::string> keys;
    Model model = model_file(decoded(text), keys);
    // keys() lists each key once, as first written.
    const std::vector<std::string> listed = store.keys();
    check(listed.size() == model.size());
    for (const std::string& key : listed) {
        const auto found = model.find(map_chars(key, fold));
        check(found != model.end());
        check(std::find_if(keys.begin(), keys.end(), [&](const std::string& k) {
                  return map_chars(k, fold) == found->first;
              })->compare(key) == 0);
    }

    // Every getter on the system's keys and on a sample of at most 17 of the file's keys (a
    // run of a thousand lines stays quick); presence and first value on the same keys in
    // other cases and on their neighbours in key order.
    std::set<std::string> probes(std::begin(kSystemKeys), std::end(kSystemKeys));
    probes.emplace();
    std::set<std::string> neighbours;
    const std::size_t samples = keys.size() > 16 ? 17 : keys.size();
    for (std::size_t i = 0; i < samples; ++i) {
        const std::string& key = i == 16 ? keys.back() : keys[i * keys.size() / samples];
        probes.insert(key);
        neighbours.insert(map_chars(key, unfold));
        neighbours.insert(key.substr(0, key.size() - 1));
        neighbours.insert(key + "a");
    }
    for (const std::string& key : probes) check_key(store, model, key, true);
    for (const std::string& key : neighbours) {
        const auto found = model.find(map_chars(key, fold));
        std::string value;
        check(store.contains(key) == (found != model.end()));
        check(store.get_string(key, value, 0) == (found != model.end()));
        if (found != model.end()) check(value == found->second.front());
    }

    // Adding after reading: a value goes after those of the file, a bare key only when new.
    const std::string first = keys.empty() ? std::string("sauf") : keys.front();
    const std::string added = text.substr(0, text.size() < 40 ? text.size() : 40);
    store.add(map_chars(first, unfold), added);
    model[map_chars(first, fold)].push_back(added);
    const std::string last = keys.empty() ? first : keys.back();
    for (const std::string& key : {std::string("Dossier"), first, last}) {
        store.add_key(key);
        std::vector<std::string>& values = model[map_chars(key, fold)];
        if (values.empty()) values.emplace_back();
    }
    for (const std::string& key : {std::string("dossier"), first, last, std::string("sauf")})
        check_key(store, model, key, false);
    return 0;
}
