// Portable pieces of the two desktop shells: start-up steps, the window's place, drawing and
// deletion rules, the no-image choice, input rules. Each rule that both shells follow lives here.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

class ScreenSaver;

namespace shell {

// The period of the timer that drives the controller's steps, in milliseconds.
constexpr std::uint32_t kTimerPeriodMs = 20;

// A window's place and size on the screen, in pixels.
struct WindowRect {
    std::int32_t x = 0;
    std::int32_t y = 0;
    std::int32_t width = 0;
    std::int32_t height = 0;
};
// The show's window on a screen of `width` x `height`: all of it from (0, 0), or in small mode
// 400 x 200 with its right edge and its top 3 pixels inside the screen's.
WindowRect window_rect(std::int32_t width, std::int32_t height, bool small);

// Height in pixels of the caption font for a window `window_height` pixels high: 1/60 of it,
// never under 12.
int caption_height(std::int32_t window_height);
// Text colour of the caption and the no-image line, drawn on black.
struct Colour {
    std::uint8_t red, green, blue;
};
constexpr Colour kTextColour = {255, 240, 240};
// Caption colour of the other monitors' pictures when each monitor shows its own: the picture
// on screen, the one keys act on, keeps the bright one.
constexpr Colour kDimTextColour = {128, 120, 120};
// Left (or top) of a picture `inner` pixels wide centred in `outer`: an odd difference leaves
// the extra pixel right (or below).
inline std::int32_t centred(std::int32_t outer, std::int32_t inner) { return (outer - inner) / 2; }
// The level 3 lines of a drawn picture (with its caption) and of the no-image screen.
void trace_drawn(const std::string& caption);
void trace_no_image();

// Longest path a deletion takes: the Windows shell's 1024-byte file list needs the path and
// two zero bytes, and both shells refuse alike.
constexpr std::size_t kPathLimit = 1023;
// True, with the level 1 line, for a path no deletion may take: empty or too long.
bool deletion_refused(const char* path);
// The level 1 line of a deletion refused or failed for `why`; returns false.
bool refuse_deletion(const char* path, const char* why);
// The level 3 line of a deleted file.
void trace_deleted(const char* path);
// The level 1 line of a window that could not be made by `function`, for `why`.
void trace_no_window(const char* function, const std::string& why);

// Argument 0 cut at its last separator ('/' or the platform's); a root keeps its separator
// ("/", "C:\" for a drive). False (folder untouched) when there is none.
bool program_folder(const std::string& argument0, std::string& folder);
// Makes the program folder of argument 0 current; a failure is ignored.
void enter_program_folder(const std::string& argument0);

// "Glimmerwall.cfg", then "../Glimmerwall.cfg", then `further` when not empty; true once read.
bool read_configuration(ScreenSaver& controller, const std::string& further);

// The arguments after the program's name, joined by single spaces.
std::string join_arguments(int argc, const char* const* argv);
// The three start-up records (banner with the shell's build date and time, command line,
// current directory), level 2 under "WinMain".
void trace_start(const char* build_date, const char* build_time, const std::string& command_line,
                 const std::string& argument0);

// The classic run-time generator: state * 214013 + 2531011, bits 16 to 30; starts at 1.
class ClassicRandom {
public:
    int next();

private:
    std::uint32_t state_ = 1;
};
// The program's one generator, never seeded; only the no-image screen draws from it.
int rand();

// The five no-image symbols: skull and crossbones, radioactive, biohazard, frowning face, snowman.
constexpr int kNoImageSymbolCount = 5;
extern const char32_t kNoImageSymbols[kNoImageSymbolCount];
// One of the five no-image symbols, drawn by rand().
char32_t no_image_symbol();
// "Pas d'image " followed by the symbol, in UTF-8.
std::string no_image_text(char32_t symbol);
// Position of a cx x cy text in a width x height window: y drawn before x; 0 in a dimension
// where the window is not larger than the text.
void no_image_position(std::int32_t width, std::int32_t height, std::int32_t cx, std::int32_t cy,
                       std::int32_t& x, std::int32_t& y);

// True when the pointer lies more than 40 pixels from the reference along either axis.
bool mouse_moved_away(std::int32_t reference_x, std::int32_t reference_y, std::int32_t x,
                      std::int32_t y);

// Keys as the shell sees them; System stands for keys pressed with Alt, and F10.
enum class Key { Space, Left, Right, Delete, System, Other };
// The key that `code` stands for, given the window system's codes of Space, Left, Right and
// Delete: Other for every other code.
template <typename Code>
Key key_from_code(Code code, Code space, Code left, Code right, Code erase) {
    if (code == space) return Key::Space;
    if (code == left) return Key::Left;
    if (code == right) return Key::Right;
    return code == erase ? Key::Delete : Key::Other;
}
// Performs the key's command on the controller; false when the key ends the show.
bool on_key(ScreenSaver& controller, Key key);

} // namespace shell
