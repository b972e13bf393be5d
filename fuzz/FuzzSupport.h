// Fuzz inputs become in-memory volumes and disks behind the OS layer.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kestrel::fat {
class FatVolume;
}

namespace kestrel::fuzz {

// Maps letter F: (or physical drive 0) to a copy of the input, padded with
// zeros to at least `minimum` bytes; undoes any earlier mapping first.
void MapInputAsVolume(const uint8_t* data, size_t size, size_t minimum = 0);
void MapInputAsDisk(const uint8_t* data, size_t size, size_t minimum = 0);

// Maps the input as F: and opens it as a FAT volume, loaded from its boot
// sector (it has no layout when that failed).
std::unique_ptr<fat::FatVolume> MapInputAsFatVolume(const uint8_t* data, size_t size);

// A small valid NTFS volume (1 KiB records, 4 KiB clusters, 64 records, 1 MiB)
// into which the caller puts records before mapping it.
std::vector<uint8_t> SmallNtfsVolume();
constexpr size_t kSmallNtfsRecordBytes = 1024;
constexpr size_t kSmallNtfsRecords = 64;
// Puts `size` bytes of the input into the volume's $MFT from record `first`
// on, at most up to the last record.
void PutRecords(std::vector<uint8_t>& volume, uint64_t first, const uint8_t* data, size_t size);
void MapBytesAsVolume(std::vector<uint8_t> bytes);

// Invariants every path the kernel builds from disk names must keep: no
// component "." or "..", no "/" or ":" or control unit inside a component
// after `prefix`, at most 1023 units. Traps when one is broken.
void CheckItemPath(const std::u16string& path, size_t prefixLength);

}  // namespace kestrel::fuzz
