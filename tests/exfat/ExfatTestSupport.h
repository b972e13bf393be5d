// Opening exFAT images through the engine interface for the tests: an
// image file or bytes in memory behind a drive letter, the engine found by
// the probe of the engine table, a scan into a registry of its own.
#pragma once

#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/engine/Engine.h"

namespace kestrel::test {

struct OpenedExfat {
  ProbeResult probe;
  Outcome outcome;                       // of Open
  std::unique_ptr<VolumeEngine> engine;  // null when Open failed
};

// Maps `letter` to the image or the bytes and opens it as the table's
// probe says. The mapping stays until ClearExfatMappings.
OpenedExfat OpenExfatImage(char16_t letter, const std::filesystem::path& image);
OpenedExfat OpenExfatBytes(char16_t letter, std::vector<uint8_t> bytes);
void ClearExfatMappings();

struct ScannedItem {
  std::u16string path;
  uint64_t id = 0;
  uint64_t size = 0;
  uint64_t modified = 0;  // DelItem's local FILETIME
  ItemDetails details;
};
// Scans into a fresh registry with the prefix "X:\".
Outcome ScanAll(VolumeEngine& engine, std::vector<ScannedItem>& items);

// A kernel output path ("\" between components) as a host path.
std::filesystem::path HostPath(const std::u16string& kernelPath);
// Reads a whole file (empty when it is missing).
std::vector<uint8_t> ReadWholeFile(const std::filesystem::path& file);

}  // namespace kestrel::test
