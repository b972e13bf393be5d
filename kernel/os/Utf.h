// UTF-8 <-> UTF-16 for the places that meet narrow text (POSIX file names,
// the environment, the command line).
#pragma once

#include <string>
#include <string_view>

namespace kestrel::os {

std::string ToUtf8(std::u16string_view text);
// ToUtf8 of `text` added to the end of `out`.
void AppendUtf8(std::string& out, std::u16string_view text);
std::u16string FromUtf8(std::string_view text);

// Host paths (POSIX file names, arguments, the environment) are bytes that
// need not be UTF-8. These two convert them losslessly: each byte of a
// malformed sequence becomes a lone low surrogate U+DC80..U+DCFF and back,
// so a folder or image named in any encoding is reached unchanged. Names
// read from a volume keep ToUtf8's U+FFFD for their own bad units.
std::u16string FromHostBytes(std::string_view bytes);
std::string ToHostBytes(std::u16string_view text);

}  // namespace kestrel::os
