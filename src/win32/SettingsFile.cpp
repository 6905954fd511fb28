#include "SettingsFile.h"

#include <cstdlib>

namespace settings {

namespace {

bool is_separator(char c) { return c == ' ' || c == '\t' || c == ':' || c == '='; }

char lower(char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; }

std::string lowered(std::string text) {
    for (char& c : text) c = lower(c);
    return text;
}

// One line as the configuration reader splits it: key, value, and the comment with what
// stands before it ("  # note"), so that a replaced line can keep it.
struct Line {
    std::string key, value, comment;
};

Line split(const std::string& line) {
    Line result;
    std::string body = line;
    const std::string::size_type hash = body.find('#');
    if (hash != std::string::npos) {
        std::string::size_type start = hash;
        while (start > 0 && (body[start - 1] == ' ' || body[start - 1] == '\t')) --start;
        result.comment = body.substr(start);
        body.erase(start);
    }
    std::string::size_type end = body.find_last_not_of(" \t\r");
    if (end == std::string::npos) return result;
    body.erase(end + 1);
    std::string::size_type i = 0;
    while (i < body.size() && is_separator(body[i])) ++i;
    std::string::size_type key_end = i;
    while (key_end < body.size() && !is_separator(body[key_end])) ++key_end;
    result.key = body.substr(i, key_end - i);
    while (key_end < body.size() && is_separator(body[key_end])) ++key_end;
    result.value = body.substr(key_end);
    return result;
}

std::string unquoted(const std::string& value) {
    if (value.size() >= 2 && value.front() == '"' && value.back() == '"')
        return value.substr(1, value.size() - 2);
    return value;
}

bool whole_number(const std::string& text, std::int32_t& number) {
    if (text.empty()) return false;
    char* end = nullptr;
    const long long value = std::strtoll(text.c_str(), &end, 10);
    if (*end != '\0' || value < INT32_MIN || value > INT32_MAX) return false;
    number = static_cast<std::int32_t>(value);
    return true;
}

enum class Group {
    None,
    Folders,
    Exclusions,
    Delay,
    Small,
    Trace,
    Caption,
    Background,
    Screens,
    Fade,
    Count
};

// The values that the show knows for caption and background, as the dialog writes them.
const char* const kCaptions[] = {"path", "date", "date+path", "none"};
const char* const kBackgrounds[] = {"black", "blur"};

// `value` lowered when it is one of `known`; empty otherwise, which keeps the default.
template <std::size_t N>
std::string known_value(const std::string& value, const char* const (&known)[N]) {
    const std::string v = lowered(value);
    for (const char* k : known)
        if (v == k) return v;
    return {};
}

Group group_of(const std::string& key) {
    const std::string k = lowered(key);
    if (k == "path" || k == "dossier") return Group::Folders;
    if (k == "sauf" || k == "exclude") return Group::Exclusions;
    if (k == "delai") return Group::Delay;
    if (k == "small") return Group::Small;
    if (k == "trace") return Group::Trace;
    if (k == "caption") return Group::Caption;
    if (k == "background") return Group::Background;
    if (k == "screens") return Group::Screens;
    if (k == "fade") return Group::Fade;
    return Group::None;
}

std::vector<std::string> lines_of(const std::string& text) {
    std::vector<std::string> lines;
    std::string::size_type begin = 0;
    while (begin < text.size()) {
        std::string::size_type end = text.find('\n', begin);
        if (end == std::string::npos) end = text.size();
        std::string line = text.substr(begin, end - begin);
        if (!line.empty() && line.back() == '\r') line.pop_back();
        lines.push_back(line);
        begin = end + 1;
    }
    return lines;
}

// The new lines of one group, the first of them with the comment of the line they replace.
// `held`: the file had the key, which is then written even with the default value.
std::vector<std::string> group_lines(Group group, const Settings& wanted, const std::string& key,
                                     bool held) {
    const Settings defaults;
    std::vector<std::string> lines;
    switch (group) {
    case Group::Folders:
        for (const std::string& folder : wanted.folders) lines.push_back(key + " " + folder);
        break;
    case Group::Exclusions:
        for (const std::string& pattern : wanted.exclusions) lines.push_back(key + " " + pattern);
        break;
    case Group::Delay:
        lines.push_back(key + " " + std::to_string(wanted.delay_ms));
        break;
    case Group::Small:
        if (wanted.small) lines.push_back(key);
        break;
    case Group::Trace:
        lines.push_back(key + " " + std::to_string(wanted.trace));
        break;
    case Group::Caption:
        if (held || wanted.caption != defaults.caption) lines.push_back(key + " " + wanted.caption);
        break;
    case Group::Background:
        if (held || wanted.background != defaults.background)
            lines.push_back(key + " " + wanted.background);
        break;
    case Group::Screens:
        if (held || wanted.each_screen)
            lines.push_back(key + (wanted.each_screen ? " each" : " span"));
        break;
    case Group::Fade:
        if (held || wanted.fade_ms != defaults.fade_ms)
            lines.push_back(key + " " + std::to_string(wanted.fade_ms));
        break;
    case Group::None:
    case Group::Count:
        break;
    }
    return lines;
}

} // namespace

Settings read(const std::string& text) {
    Settings result;
    bool seen_caption = false, seen_background = false, seen_screens = false, seen_fade = false;
    for (const std::string& raw : lines_of(text)) {
        const Line line = split(raw);
        std::int32_t number = 0;
        switch (group_of(line.key)) {
        case Group::Folders:
            if (!unquoted(line.value).empty()) result.folders.push_back(unquoted(line.value));
            break;
        case Group::Exclusions:
            if (!line.value.empty()) result.exclusions.push_back(line.value);
            break;
        case Group::Delay:
            if (whole_number(line.value, number)) result.delay_ms = number;
            break;
        case Group::Small:
            result.small = true;
            break;
        case Group::Trace:
            if (whole_number(line.value, number)) result.trace = number;
            break;
        // The show takes the first line of these keys: so does the dialog.
        case Group::Caption:
            if (!seen_caption && !known_value(line.value, kCaptions).empty())
                result.caption = known_value(line.value, kCaptions);
            seen_caption = true;
            break;
        case Group::Background:
            if (!seen_background && !known_value(line.value, kBackgrounds).empty())
                result.background = known_value(line.value, kBackgrounds);
            seen_background = true;
            break;
        case Group::Screens:
            if (!seen_screens) result.each_screen = lowered(line.value) == "each";
            seen_screens = true;
            break;
        case Group::Fade:
            if (!seen_fade && whole_number(line.value, number) && number >= 0 &&
                number <= kLongestFade)
                result.fade_ms = number;
            seen_fade = true;
            break;
        case Group::None:
        case Group::Count:
            break;
        }
    }
    return result;
}

std::string rewrite(const std::string& text, const Settings& wanted) {
    const std::string end =
        text.find("\r\n") != std::string::npos && text.find("\r\n") == text.find('\n') - 1 ? "\r\n"
                                                                                           : "\n";
    static const struct {
        Group group;
        const char* key;
    } kGroups[] = {
        {Group::Folders, "dossier"},       {Group::Exclusions, "sauf"}, {Group::Delay, "delai"},
        {Group::Small, "small"},           {Group::Trace, "trace"},     {Group::Caption, "caption"},
        {Group::Background, "background"}, {Group::Screens, "screens"}, {Group::Fade, "fade"}};
    bool written[static_cast<int>(Group::Count)] = {};
    std::string out;
    for (const std::string& raw : lines_of(text)) {
        const Line line = split(raw);
        const Group group = group_of(line.key);
        if (group == Group::None) {
            out += raw + end;
            continue;
        }
        const int g = static_cast<int>(group);
        if (written[g]) continue;
        written[g] = true;
        const std::vector<std::string> lines = group_lines(group, wanted, line.key, true);
        for (std::size_t i = 0; i < lines.size(); ++i)
            out += lines[i] + (i == 0 ? line.comment : std::string()) + end;
        if (lines.empty() && !line.comment.empty())
            out += line.comment.substr(line.comment.find('#')) + end;
    }
    for (const auto& entry : kGroups) {
        if (written[static_cast<int>(entry.group)]) continue;
        for (const std::string& line : group_lines(entry.group, wanted, entry.key, false))
            out += line + end;
    }
    return out;
}

std::string seconds_text(std::int32_t delay_ms) {
    if (delay_ms < 0) delay_ms = 0;
    std::string text = std::to_string(delay_ms / 1000);
    std::int32_t rest = delay_ms % 1000;
    if (rest == 0) return text;
    std::string fraction = std::to_string(1000 + rest).substr(1);
    while (fraction.back() == '0') fraction.pop_back();
    return text + "." + fraction;
}

bool parse_seconds(const std::string& text, std::int32_t& delay_ms) {
    std::string::size_type i = 0;
    while (i < text.size() && text[i] == ' ') ++i;
    std::int64_t whole = 0;
    int digits = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
        whole = whole * 10 + (text[i] - '0');
        if (whole > 2000000) return false;
    }
    std::int64_t ms = whole * 1000;
    if (i < text.size() && (text[i] == '.' || text[i] == ',')) {
        ++i;
        std::int64_t scale = 100;
        for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i, ++digits) {
            ms += (text[i] - '0') * scale;
            scale /= 10;
        }
    }
    while (i < text.size() && text[i] == ' ') ++i;
    if (digits == 0 || i != text.size() || ms > 2000000000) return false;
    delay_ms = static_cast<std::int32_t>(ms);
    return true;
}

bool parse_fade(const std::string& text, std::int32_t& fade_ms) {
    std::string::size_type first = text.find_first_not_of(' ');
    if (first == std::string::npos) return false;
    const std::string::size_type last = text.find_last_not_of(' ');
    const std::string digits = text.substr(first, last - first + 1);
    if (digits.size() > 5 || digits.find_first_not_of("0123456789") != std::string::npos)
        return false;
    const long value = std::strtol(digits.c_str(), nullptr, 10);
    if (value > kLongestFade) return false;
    fade_ms = static_cast<std::int32_t>(value);
    return true;
}

} // namespace settings
