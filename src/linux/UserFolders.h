// The per-user files that the Linux side of the platform names beside the trace file.
#pragma once

#include <string>

namespace platform {

// "glimmerwall/Glimmerwall.cfg" in the user's configuration folder ($XDG_CONFIG_HOME, else
// ~/.config); empty when neither that variable nor a home folder gives an absolute path.
std::string user_config_file();

} // namespace platform
