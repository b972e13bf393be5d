// CRC-32 (ISO-HDLC, as PNG and ZIP use it), continued over pieces.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::carve {

// Start with crc = 0; pass the result back for the next piece.
uint32_t Crc32(uint32_t crc, const uint8_t* data, size_t length);

}  // namespace kestrel::carve
