// What the kernel knows of a found item beyond its DelItem: recoverability,
// flags, the engine's record number and the three times in UTC.
#pragma once

#include <cstdint>

#include "kernel/Kestrel.h"

namespace kestrel {

struct ItemDetails {
  uint8_t state = KX_STATE_UNKNOWN;
  uint16_t overwrittenShare = 0;  // per 10000 of the size
  uint32_t flags = 0;             // KX_FLAG_*
  uint64_t recordNumber = 0;
  uint64_t created = 0;           // FILETIME, UTC; 0 unknown
  uint64_t modified = 0;
  uint64_t accessed = 0;
};

}  // namespace kestrel
