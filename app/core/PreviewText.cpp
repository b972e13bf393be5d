#include "app/core/PreviewText.h"

namespace restorix {

std::wstring JoinedTextLines(const unsigned char* bytes, size_t size) {
  std::wstring text;
  if (!bytes) return text;
  text.reserve(size);
  for (size_t i = 0; i < size; ++i) {
    const unsigned char b = bytes[i];
    if (b == '\n' || b == 0) continue;
    if (b == '\r' && i + 1 < size && bytes[i + 1] == '\n') continue;
    text.push_back(static_cast<wchar_t>(b));
  }
  return text;
}

}  // namespace restorix
