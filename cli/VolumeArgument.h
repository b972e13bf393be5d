// What VOLUME on the command line names, and how an image path is handed to
// the kernel's volume table. No I/O here: callers pass in what they found.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::cli {

struct VolumeTarget {
  bool isLetter = false;
  char16_t letter = 0;  // upper case, when isLetter
  std::string path;     // image or device, when !isLetter
};

// "D:", "d:", "D:\" and "D:/" name a drive letter; anything else is a path.
VolumeTarget ClassifyVolume(const std::string& argument);

// Letters named in a KESTREL_VOLUMES list ("D=/a.img;E:=/dev/sdb1"), as a
// mask with bit 0 for A.
uint32_t LettersInMappingList(std::string_view list);

// The path a KESTREL_VOLUMES list maps `letter` to (the last entry wins, as
// in the kernel's table); empty when it maps nothing there.
std::string MappedPath(std::string_view list, char16_t letter);

// The first letter from D to Y whose bit is clear in `used`; 0 when none.
// (A and B stay for floppies, C for the system, Z is never enumerated.)
char16_t PickFreeLetter(uint32_t used);

// Does `path` end in "@OFFSET" or "@OFFSET+LENGTH" (decimal or 0x hex)?
// `file` gets the part before the suffix, or the whole path.
bool SplitPartitionSuffix(const std::string& path, std::string& file);

// The numbers of an "@OFFSET" or "@OFFSET+LENGTH" suffix (length 0 when
// not given); false when `path` has no such suffix or a number overflows.
bool ParseOffsetSuffix(const std::string& path, uint64_t& offset, uint64_t& length);

// The text for KX_MapVolume. A path that exists as given but holds an "@"
// gets "@0" added, so the kernel never mistakes part of its name for an
// offset.
std::string MappingArgument(const std::string& path, bool existsAsGiven);

// The letter of a Windows volume device path ("\\.\D:" or "\\?\D:"); 0 for
// anything else.
char16_t DeviceLetter(const std::string& path);

// Is `folder` (an absolute Windows path) on the drive `letter`? Writing
// there would overwrite the very data being recovered.
bool FolderOnDriveLetter(const std::string& folder, char16_t letter);

// The recovery folder as SH_RecoveryFile wants it: trailing separators
// dropped, then exactly one `separator` added.
std::string RecoveryFolderArgument(const std::string& folder, char separator);

}  // namespace kestrel::cli
