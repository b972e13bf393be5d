// UTF-8 <-> UTF-16 for the command line: output is UTF-8, the kernel
// speaks UTF-16.
#pragma once

#include <string>
#include <string_view>

namespace kestrel::cli {

// Text and names: each bad sequence or unpaired surrogate becomes U+FFFD.
std::u16string Utf8ToUtf16(std::string_view text);
std::string Utf16ToUtf8(std::u16string_view text);

// Host paths (arguments, folders, images): lossless for any bytes, each byte
// that is not part of valid UTF-8 kept as U+DC80..U+DCFF (see kernel/os/Utf.h).
std::u16string HostToKernel(std::string_view bytes);
std::string KernelToHost(std::u16string_view text);

}  // namespace kestrel::cli
