#include "kernel/engine/Outcome.h"

#include <cstdio>

namespace kestrel {

std::u16string Ascii16(const char* text) {
  std::u16string out;
  for (; *text; ++text) out += static_cast<char16_t>(static_cast<unsigned char>(*text));
  return out;
}

Outcome Outcome::ReadFailed(uint64_t offset) {
  char text[96];
  std::snprintf(text, sizeof text, "cannot read the volume at byte %llu",
                static_cast<unsigned long long>(offset));
  return {OutcomeKind::ReadError, Ascii16(text), offset};
}

}  // namespace kestrel
