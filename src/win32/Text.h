// Narrow text of the process code page (UTF-8 through the manifest) made wide for the calls
// that do not follow that code page, such as GDI's text output.
#pragma once

#include <string>

// The text as UTF-16; characters that do not convert become U+FFFD.
std::wstring widen(const std::string& text);
