// UTF-8 <-> UTF-16 for the command line: arguments and output are UTF-8,
// the kernel speaks UTF-16. Malformed input never fails a conversion; each
// bad sequence or unpaired surrogate becomes U+FFFD.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::cli {

std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

}  // namespace kestrel::cli
