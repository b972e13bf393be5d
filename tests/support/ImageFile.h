// Small hand-made images for corner cases the real tools cannot produce.
#pragma once

#include <cstdint>
#include <filesystem>
#include <vector>

namespace kestrel::test {

// Writes `bytes` to a new file inside `folder` and returns its path.
std::filesystem::path WriteImage(const std::filesystem::path& folder, const char* name,
                                 const std::vector<uint8_t>& bytes);

// A minimal FAT16 boot sector (512-byte sectors) claiming `totalSectors`.
std::vector<uint8_t> FatBootSector(uint32_t totalSectors);

}  // namespace kestrel::test
