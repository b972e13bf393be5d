// What the preview page's text view shows for a file's bytes: the file
// read line by line as 8-bit text, each byte the character of the same
// code (0 to 255), the lines put one after the other with no separator.
#pragma once

#include <cstddef>
#include <string>

namespace restorix {

// A line ends at LF; a CR right before the LF belongs to the line end, a
// lone CR is text. NUL bytes are left out: a text control ends its text at
// the first one and would hide everything after it.
std::wstring JoinedTextLines(const unsigned char* bytes, size_t size);

}  // namespace restorix
