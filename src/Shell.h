// Portable pieces of the two desktop shells: start-up steps, the no-image choice, input rules.
#pragma once

#include <cstdint>
#include <string>

class ScreenSaver;

namespace shell {

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

// One of the five no-image symbols (U+2620, U+2622, U+2623, U+2639, U+2603), drawn by rand().
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
// Performs the key's command on the controller; false when the key ends the show.
bool on_key(ScreenSaver& controller, Key key);

} // namespace shell
