// The command line of `kestrel`: what the user asked for, parsed from the
// arguments without touching the kernel or the file system.
#pragma once

#include "kernel/Kestrel.h"

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace kestrel::cli {

enum class Command { None, List, Scan, Recover };

// Which items `recover` writes.
enum class Selection { None, All, Ids, Match };

// Exit statuses, as --help and the README list them.
constexpr int kExitDone = 0;
constexpr int kExitSomeFailed = 1;
constexpr int kExitUsage = 2;
constexpr int kExitVolume = 3;
constexpr int kExitInterrupted = 130;

enum class ScanFormat { Lines, Json, JsonLines };

struct Options {
  Command command = Command::None;
  bool help = false;      // print the help of `command` (general help for None)
  bool version = false;   // print the version
  bool quiet = false;     // no progress
  std::string volume;     // drive letter ("D:") or image / device path, bytes as given
                          // (list: the disk whose table to show, or "")
  int partition = 0;      // --partition N of a whole disk; 0 when not given
  ScanFormat format = ScanFormat::Lines;
  std::string outDir;     // recover: --to
  std::string report;     // recover: --report FILE, or ""
  bool intactOnly = false;
  int mode = KX_MODE_DELETED;  // --deep, --formatted
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

// The nearest of `candidates` to a mistyped `word`, or "" when none is close.
std::string Suggest(std::string_view word, const std::vector<std::string>& candidates);

// The text `--help` prints for a command (None: the overview).
std::string HelpText(Command command);
// "kestrel VERSION", one line.
std::string VersionText();

// The name the user types for a command.
const char* CommandName(Command command);

}  // namespace kestrel::cli
