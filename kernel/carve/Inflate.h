// Checks a raw DEFLATE stream (a ZIP entry's data) by inflating it: the
// data must end exactly after its compressed size and give its declared
// size and CRC-32. Nothing is kept; the output only feeds the CRC.
#pragma once

#include <cstdint>

#include "kernel/carve/Stream.h"

namespace kestrel::carve {

enum class InflateCheck {
  Matches,
  Differs,      // bad code, wrong length or CRC: the data is not the entry's
  Unreadable,   // the stream ran out, failed or was stopped: no verdict
};

InflateCheck CheckDeflated(Stream& s, uint64_t offset, uint64_t packed, uint64_t size, uint32_t crc);

}  // namespace kestrel::carve
