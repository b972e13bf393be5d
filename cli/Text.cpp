#include "cli/Text.h"

#include "kernel/os/Utf.h"

namespace kestrel::cli {

std::u16string Utf8ToUtf16(std::string_view text) { return os::FromUtf8(text); }
std::string Utf16ToUtf8(std::u16string_view text) { return os::ToUtf8(text); }
std::u16string HostToKernel(std::string_view bytes) { return os::FromHostBytes(bytes); }
std::string KernelToHost(std::u16string_view text) { return os::ToHostBytes(text); }

}  // namespace kestrel::cli
