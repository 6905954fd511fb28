// The configuration store: key to an ordered list of values, keys compared ASCII-case-blind.
#pragma once

#include <cstdint>
#include <map>
#include <string>
#include <vector>

class Configurator {
public:
    Configurator();
    ~Configurator();

    // Appends a value; earlier values of the same key stay before it.
    void add(const std::string& key, const std::string& value);
    // Adds the empty value when the key has none; otherwise does nothing.
    void add_key(const std::string& key);
    bool contains(const std::string& key) const;
    // Each key once, as first written, in key order.
    std::vector<std::string> keys() const;
    // True when the two keys are one key (ASCII case ignored).
    static bool same_key(const std::string& a, const std::string& b);
    // Getters fill `value` and return true when the key has an entry at `index`; else untouched.
    bool get_string(const std::string& key, std::string& value, int index) const;
    // Reads a signed decimal as a stream would; may store a leading number and still return
    // false when other characters follow it.
    bool get_int(const std::string& key, std::int32_t& value, int index) const;

private:
    struct KeyLess {
        bool operator()(const std::string& a, const std::string& b) const;
    };
    const std::string* find(const std::string& key, int index) const;

    // Each key as first written, with its values in file order: a look-up by index is one
    // search of the key, so reading every value of a key is linear in their number.
    std::map<std::string, std::vector<std::string>, KeyLess> entries_;
};

// Reads a configuration file into `store`; false when it cannot be opened or is not a regular
// file. A byte-order mark is skipped; UTF-16 text (with its mark) is read converted.
bool ReadConfigFile(const char* file_name, Configurator& store);
