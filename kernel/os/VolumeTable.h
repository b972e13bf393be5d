// The drive-letter table: which letters (and physical-drive numbers) stand
// for an image file or a block device instead of a real Windows device.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <vector>

namespace kestrel::os {

struct MappedImage {
  std::u16string path;  // file or device path, as the system names it
  uint64_t offset = 0;  // where the volume starts inside it
  uint64_t length = 0;  // bytes it spans; 0 = to the end
  // Set instead of a path for a volume held in memory (fuzzing, tests).
  std::shared_ptr<const std::vector<uint8_t>> memory;
};

class Device;
// A device over an image held in memory; null when `image` has no memory.
std::unique_ptr<Device> OpenMemoryImage(const MappedImage& image);
// Maps a letter to bytes in memory instead of a file.
bool SetVolumeMemory(char16_t letter, std::shared_ptr<const std::vector<uint8_t>> bytes);
bool SetPhysicalMemory(int number, std::shared_ptr<const std::vector<uint8_t>> bytes);

// Splits "path@OFFSET+LENGTH" (the suffix optional, decimal or 0x hex).
// Returns nothing when the suffix is malformed.
std::optional<MappedImage> ParseMappedImage(const std::u16string& spec);

// Reads "D=/a.img;E=/dev/sdb1;PhysicalDrive0=/disk.img" into the table.
// Returns how many entries were taken.
int LoadMappingList(const std::string& list);

bool SetVolumeMapping(char16_t letter, const std::u16string& spec);
bool SetPhysicalMapping(int number, const std::u16string& spec);
std::optional<MappedImage> FindVolumeMapping(char16_t letter);
std::optional<MappedImage> FindPhysicalMapping(int number);
void ClearAllMappings();

// A bounded window over a device: clips reads to [0, length) when length
// is not 0 and adds the offset. Returns false only for an I/O error.
template <typename ReadFn>
bool ReadInsideImage(const MappedImage& image, uint64_t offset, size_t length, size_t& got,
                     ReadFn&& readAbsolute) {
  got = 0;
  if (image.length != 0) {
    if (offset >= image.length) return true;
    uint64_t left = image.length - offset;
    if (length > left) length = static_cast<size_t>(left);
  }
  if (offset > UINT64_MAX - image.offset) return false;
  return readAbsolute(image.offset + offset, length, got);
}

}  // namespace kestrel::os
