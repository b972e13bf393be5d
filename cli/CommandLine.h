// The command line of `kestrel`: what the user asked for, parsed from the
// UTF-8 arguments without touching the kernel or the file system.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::cli {

enum class Command { None, List, Scan, Recover };

// Which items `recover` writes.
enum class Selection { None, All, Ids, Match };

struct Options {
  Command command = Command::None;
  bool help = false;      // print the help of `command` (general help for None)
  std::string volume;     // drive letter ("D:") or image / device path
  bool json = false;      // scan: JSON instead of tab-separated lines
  std::string outDir;     // recover: --to
  Selection selection = Selection::None;
  std::vector<uint64_t> ids;  // --id, in the order given, without repeats
  std::string match;          // --match
};

struct ParseResult {
  bool ok = false;
  Options options;
  std::string error;  // one line, when !ok
};

// `args` excludes the program name.
ParseResult ParseCommandLine(const std::vector<std::string>& args);

// A decimal 64-bit item id, as `scan` prints it.
bool ParseItemId(std::string_view text, uint64_t& id);

// The text `--help` prints for a command (None: the overview).
std::string HelpText(Command command);

// The name the user types for a command.
const char* CommandName(Command command);

}  // namespace kestrel::cli
