// Case folding of the 26 ASCII letters alone: paths and keys in any encoding keep every
// other byte as it is.
#pragma once

inline char ascii_lower(char c) {
    return (c >= 'A' && c <= 'Z') ? static_cast<char>(c - 'A' + 'a') : c;
}
