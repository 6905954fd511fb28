#include "Shell.h"

#include "Platform.h"
#include "ScreenSaver.h"
#include "Tracer.h"

#include <cstring>

namespace {
const std::int32_t kModule = Tracer::register_module("WinMain");
const char kConfigName[] = "Glimmerwall.cfg";
} // namespace

namespace shell {

const char32_t kNoImageSymbols[kNoImageSymbolCount] = {U'\u2620', U'\u2622', U'\u2623', U'\u2639',
                                                       U'\u2603'};

WindowRect window_rect(std::int32_t width, std::int32_t height, bool small) {
    if (small) return {width - 403, 3, 400, 200};
    return {0, 0, width, height};
}

int caption_height(std::int32_t window_height) {
    return window_height / 60 > 12 ? window_height / 60 : 12;
}

void trace_drawn(const std::string& caption) {
    GW_TRACE(kModule, 3, "WindowManager::draw_bitmap : just displayed <%s>", caption.c_str());
}

void trace_no_image() { GW_TRACE(kModule, 3, "WindowManager::draw_bitmap : no image"); }

bool deletion_refused(const char* path) {
    if (!path || path[0] == '\0') return !refuse_deletion("", "empty path");
    if (std::strlen(path) >= kPathLimit) return !refuse_deletion(path, "path too long");
    return false;
}

bool refuse_deletion(const char* path, const char* why) {
    GW_TRACE(kModule, 1, "WindowManager::delete_file : <%s> deletion failed (%s)", path, why);
    return false;
}

void trace_deleted(const char* path) {
    GW_TRACE(kModule, 3, "WindowManager::delete_file : <%s> deleted", path);
}

void trace_no_window(const char* function, const std::string& why) {
    GW_TRACE(kModule, 1, "%s : no window (%s)", function, why.c_str());
}

bool program_folder(const std::string& argument0, std::string& folder) {
    // '/' separates on Windows too; on POSIX the platform separator is '/' itself.
    const char separators[] = {platform::kSeparator, '/', '\0'};
    const std::string::size_type cut = argument0.find_last_of(separators);
    if (cut == std::string::npos) return false;
    // A root keeps its separator: "C:" alone is that drive's current folder, not its root, and
    // an empty name is no folder at all.
    const bool drive_root = cut == 2 && argument0[1] == ':';
    folder = argument0.substr(0, cut == 0 || drive_root ? cut + 1 : cut);
    return true;
}

void enter_program_folder(const std::string& argument0) {
    std::string folder;
    if (program_folder(argument0, folder)) platform::change_directory(folder);
}

bool read_configuration(ScreenSaver& controller, const std::string& further) {
    if (controller.read_config(kConfigName)) return true;
    const std::string parent = std::string("..") + platform::kSeparator + kConfigName;
    if (controller.read_config(parent.c_str())) return true;
    return !further.empty() && controller.read_config(further.c_str());
}

std::string join_arguments(int argc, const char* const* argv) {
    std::string joined;
    for (int i = 1; i < argc; ++i) {
        if (i > 1) joined += ' ';
        if (argv[i]) joined += argv[i];
    }
    return joined;
}

void trace_start(const char* build_date, const char* build_time, const std::string& command_line,
                 const std::string& argument0) {
    GW_TRACE(kModule, 2, "~\n\n*** Glimmerwall / T.Orvald / build %s %s ***\n", build_date,
             build_time);
    GW_TRACE(kModule, 2, "~command line = <%s> (%s)\n", command_line.c_str(), argument0.c_str());
    GW_TRACE(kModule, 2, "~current dir = <%s>\n", platform::current_directory().c_str());
}

int ClassicRandom::next() {
    state_ = state_ * 214013u + 2531011u;
    return static_cast<int>((state_ >> 16) & 0x7fffu);
}

int rand() {
    static ClassicRandom generator;
    return generator.next();
}

char32_t no_image_symbol() { return kNoImageSymbols[rand() % kNoImageSymbolCount]; }

std::string no_image_text(char32_t symbol) {
    std::string text = "Pas d'image ";
    const auto code = static_cast<std::uint32_t>(symbol);
    if (code < 0x80) {
        text += static_cast<char>(code);
    } else if (code < 0x800) {
        text += static_cast<char>(0xc0 | (code >> 6));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else if (code < 0x10000) {
        text += static_cast<char>(0xe0 | (code >> 12));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    } else {
        text += static_cast<char>(0xf0 | (code >> 18));
        text += static_cast<char>(0x80 | ((code >> 12) & 0x3f));
        text += static_cast<char>(0x80 | ((code >> 6) & 0x3f));
        text += static_cast<char>(0x80 | (code & 0x3f));
    }
    return text;
}

void no_image_position(std::int32_t width, std::int32_t height, std::int32_t cx, std::int32_t cy,
                       std::int32_t& x, std::int32_t& y) {
    // Both numbers are drawn even where a dimension leaves no room, so that the generator's
    // sequence does not depend on the window's size.
    const int ry = rand();
    const int rx = rand();
    y = height > cy ? ry % (height - cy) : 0;
    x = width > cx ? rx % (width - cx) : 0;
}

bool mouse_moved_away(std::int32_t reference_x, std::int32_t reference_y, std::int32_t x,
                      std::int32_t y) {
    const std::int64_t dx = static_cast<std::int64_t>(reference_x) - x;
    const std::int64_t dy = static_cast<std::int64_t>(reference_y) - y;
    return dx > 40 || dx < -40 || dy > 40 || dy < -40;
}

bool on_key(ScreenSaver& controller, Key key) {
    switch (key) {
    case Key::Space:
        controller.toggle_pause();
        controller.next(true);
        return true;
    case Key::Left:
        controller.prev();
        controller.next(true);
        return true;
    case Key::Right:
        controller.next(true);
        return true;
    case Key::Delete:
        controller.erase();
        return true;
    case Key::System:
        return true;
    case Key::Other:
        break;
    }
    return false;
}

} // namespace shell
