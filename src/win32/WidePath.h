// Paths as the wide Windows calls take them: the process's narrow text made UTF-16, the
// "\\?\" and "\\.\" spellings of a drive or share brought back to the plain one, and a long
// path given the prefix that lifts the 260-character limit.
#pragma once

#include <string>

namespace widepath {

// "\\?\C:\x" and "\\.\C:\x" as "C:\x", "\\?\UNC\server\share\x" as "\\server\share\x";
// anything else as it stands. A drive or share check must see the plain form: the prefixed
// one reads as a local disk whatever the drive is.
std::wstring plain(const std::wstring& path);

// True for a path that names a device or a volume through a namespace prefix ("\\.\PIPE\x",
// "\\?\GLOBALROOT\x", "\\?\Volume{...}\x") rather than a drive letter or a share.
bool is_namespace_path(const std::wstring& path);

// The narrow path as the wide calls take it: plain, absolute, and with "\\?\" (or
// "\\?\UNC\") before it once it reaches the 260-character limit. Empty when it cannot be
// converted.
std::wstring usable(const std::string& narrow);

// Wide text back to the process's narrow code page.
std::string narrow(const std::wstring& wide);

} // namespace widepath
