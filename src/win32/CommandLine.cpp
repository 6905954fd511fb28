#include "CommandLine.h"

#include <algorithm>
#include <iterator>

namespace command {

namespace {

bool is_blank(char c) { return c == ' ' || c == '\t'; }

// A whole decimal number up to the next blank or the end; 0 for anything else (a sign, a
// letter, a number that does not fit in 64 bits), which no window can have.
std::uint64_t read_window(const char* text) {
    std::uint64_t value = 0;
    const char* c = text;
    for (; *c >= '0' && *c <= '9'; ++c) {
        const std::uint64_t digit = static_cast<std::uint64_t>(*c - '0');
        if (value > (UINT64_MAX - digit) / 10) return 0;
        value = value * 10 + digit;
    }
    if (c == text || (*c != '\0' && !is_blank(*c))) return 0;
    return value;
}

} // namespace

Command parse(const char* arguments) {
    Command command;
    if (!arguments) return command;
    const char* c = arguments;
    while (is_blank(*c)) ++c;
    if (*c != '/' && *c != '-') return command;
    ++c;
    // The host's switch letters, in either case.
    static const struct {
        char letter;
        Request request;
    } kSwitches[] = {{'s', Request::Show},
                     {'p', Request::Preview},
                     {'c', Request::Settings},
                     {'a', Request::Password}};
    const char letter = *c >= 'A' && *c <= 'Z' ? static_cast<char>(*c - 'A' + 'a') : *c;
    const auto* found =
        std::find_if(std::begin(kSwitches), std::end(kSwitches),
                     [letter](const auto& entry) { return entry.letter == letter; });
    if (found == std::end(kSwitches)) return command;
    const Request request = found->request;
    ++c;
    // "/p:123", "/p 123", or the bare switch; "/pause" and the like are no switch of ours.
    if (*c == ':') {
        ++c;
    } else if (*c != '\0' && !is_blank(*c)) {
        return command;
    }
    while (is_blank(*c)) ++c;
    command.request = request;
    if (*c != '\0') command.window = read_window(c);
    return command;
}

} // namespace command
