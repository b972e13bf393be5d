// Fuzz inputs become in-memory volumes and disks behind the OS layer.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::fuzz {

// Maps letter F: (or physical drive 0) to a copy of the input, padded with
// zeros to at least `minimum` bytes; undoes any earlier mapping first.
void MapInputAsVolume(const uint8_t* data, size_t size, size_t minimum = 0);
void MapInputAsDisk(const uint8_t* data, size_t size, size_t minimum = 0);

}  // namespace kestrel::fuzz
