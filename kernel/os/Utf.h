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

}  // namespace kestrel::os
