// The system's table of mounted file systems (/proc/self/mountinfo on
// Linux), read to learn what a FUSE or other device-less file system is
// made from when a recovery folder lies on it.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::cli {

struct MountEntry {
  uint32_t major = 0, minor = 0;  // the st_dev of files on it
  std::string target;             // where it is mounted
  std::string source;             // device or image path (or a name such as "proc")
};

// One entry per line of "ID PARENT MAJ:MIN ROOT TARGET OPTIONS [TAGS...] -
// TYPE SOURCE SUPEROPTIONS", with the table's octal escapes (\040 for a
// space) undone. Malformed lines are skipped.
std::vector<MountEntry> ParseMountInfo(std::string_view text);

}  // namespace kestrel::cli
