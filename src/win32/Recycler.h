// Moving one file to its drive's recycle bin, and never deleting it for good instead.
#pragma once

#include "Platform.h"

#include <string>

// Sends the regular file `path` (as the wide calls take it; `shown` is the path as the trace
// names it) whose identity is `before` to the recycle bin. The file is kept, with a level 1
// line saying why, wherever the shell would delete it outright: no bin on its drive, a bin set
// to remove files at once or without room for it, or a move into the bin that failed. True,
// with the "deleted" line, only when the file has left its folder for the bin.
bool recycle(const char* shown, const std::wstring& path, const platform::FileId& before);
