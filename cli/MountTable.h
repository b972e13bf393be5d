// The system's table of mounted file systems (/proc/self/mounts on Linux),
// read to tell whether a recovery folder lies on the volume being scanned.
#pragma once

#include <string>
#include <string_view>
#include <vector>

namespace kestrel::cli {

struct MountEntry {
  std::string source;  // device or image path (or a name such as "proc")
  std::string target;  // where it is mounted
};

// One entry per line of "source target type options dump pass", with the
// table's octal escapes (\040 for a space) undone. Short lines are skipped.
std::vector<MountEntry> ParseMountTable(std::string_view text);

// Is `path` `root` or below it? Both absolute, "/"-separated, normalised.
bool PathWithin(std::string_view path, std::string_view root);

}  // namespace kestrel::cli
