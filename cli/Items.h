// Found items as the command line shows and chooses them: formatting of
// scan lines and JSON, local times, and the file-name match of `--match`.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "cli/CommandLine.h"
#include "kernel/Kestrel.h"

namespace kestrel::cli {

struct Item {
  uint64_t id = 0;        // idHigh:idLow
  uint64_t size = 0;
  uint64_t modified = 0;  // FILETIME, already local
  std::u16string path;    // as the kernel holds it
};

// Copies a record; the path stops at its terminator or at the field's end.
Item ItemFromRecord(const DelItem& record);
uint32_t IdLow(uint64_t id);
uint32_t IdHigh(uint64_t id);

// A local FILETIME as "YYYY-MM-DD HH:MM:SS"; "" for 0. The value is already
// local time, so it is split into calendar fields with no zone step.
std::string FormatLocalFileTime(uint64_t fileTime);

// One `scan` line: id, size, time and UTF-8 path, tab-separated, with "\n".
std::string FormatScanLine(const Item& item);
// The same appended to `out`, without building a line of its own.
void AppendScanLine(std::string& out, const Item& item);
// The line of a kernel record, as of ItemFromRecord(record), without the copy.
void AppendScanLine(std::string& out, const DelItem& record);

// `text` (UTF-8) as a quoted JSON string.
std::string JsonString(std::string_view text);
// The whole `scan --json` output: an array of {id, size, modified, path}.
std::string FormatJson(const std::vector<Item>& items);

// The file name with extension: what follows the last "\", "/" or ":".
std::u16string FileNameOf(std::u16string_view path);
// `keyword` occurs in `name`, ASCII letters compared without case; every
// other character (Chinese included) must match exactly. An empty keyword
// matches nothing.
bool NameMatches(std::u16string_view name, std::u16string_view keyword);

// The items `recover` writes, in scan order, and the asked-for ids that the
// scan did not find.
struct Choice {
  std::vector<Item> items;
  std::vector<uint64_t> missingIds;
};
Choice ChooseItems(const std::vector<Item>& found, const Options& options);

// "recovered N, failed M"
std::string RecoverSummary(size_t recovered, size_t failed);
// 0 when nothing failed, else 1.
int RecoverExitStatus(size_t failed);

// Progress lines (stderr, terminals only), without line ends.
std::string ScanProgress(uint64_t found);
std::string RecoverProgress(size_t done, size_t total);

}  // namespace kestrel::cli
