// The settings that the Settings dialog edits, read from and written back into the text of a
// settings file, with no Windows header: tested on any system.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace settings {

struct Settings {
    std::vector<std::string> folders;    // "path" and "dossier", in the file's order
    std::vector<std::string> exclusions; // "sauf" and "exclude"
    std::int32_t delay_ms = 5000;        // "delai"
    bool small = false;                  // "small"
    std::int32_t trace = 4;              // "trace"
    std::string caption = "path";        // "caption": path, date, date+path or none
    std::string background = "black";    // "background": black or blur
    bool each_screen = false;            // "screens each" (else span)
    std::int32_t fade_ms = 0;            // "fade"
};

// The longest fade the show takes, in ms.
constexpr std::int32_t kLongestFade = 60000;

// The settings that `text` (a settings file's content) gives; what it does not set keeps the
// show's default. A folder written in double quotes is taken without them.
Settings read(const std::string& text);

// `text` with the dialog's keys set to `wanted`: every comment, blank line and line of another
// key stays where it stands; the lines of a key are replaced where its first line stood (its
// comment kept), and a key the file did not hold is added at the end. Line ends follow the
// file's (CR LF when its first line has one). Caption, background, screens and fade are added
// only when they differ from the show's default.
std::string rewrite(const std::string& text, const Settings& wanted);

// The delay as the dialog shows it, in seconds ("5", "2.5"), and back; false for text that
// is no number of seconds from 0 to 2,000,000.
std::string seconds_text(std::int32_t delay_ms);
bool parse_seconds(const std::string& text, std::int32_t& delay_ms);
// The fade as the dialog takes it, a whole number of ms; false for anything but 0 to
// kLongestFade.
bool parse_fade(const std::string& text, std::int32_t& fade_ms);

} // namespace settings
