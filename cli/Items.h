// Found items as the command line shows and chooses them: paths inside the
// volume, scan lines and JSON, UTC times, and the file-name match of
// `--match`.
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
  std::u16string path;    // as the kernel holds it ("D:\Deleted\docs\a.txt")
  bool hasInfo = false;   // `info` came from KX_GetDelItemInfo
  KX_ItemInfo info{};
};

// Copies a record; the path stops at its terminator or at the field's end.
Item ItemFromRecord(const DelItem& record);
// The record's path up to its terminator or the field's end.
std::u16string_view RecordPath(const DelItem& record);
uint32_t IdLow(uint64_t id);
uint32_t IdHigh(uint64_t id);

// The item's path inside the volume, from its root: the scan's `prefix`
// ("D:\") and the "Deleted" folder the kernel puts first are dropped, and
// components are joined with `separator` ("docs/a.txt" on POSIX).
std::u16string PathInVolume(std::u16string_view kernelPath, std::u16string_view prefix,
                            char16_t separator);
// The same, still joined with '\\': a view into `kernelPath`.
std::u16string_view PathInVolumeView(std::u16string_view kernelPath, std::u16string_view prefix);

// A UTC FILETIME as ISO 8601, "2024-03-01T12:34:56Z"; "" for 0.
std::string FormatUtc(uint64_t fileTime);
void AppendUtc(std::string& out, uint64_t fileTime);
// "intact", "partly-overwritten", "overwritten", "damaged" or "unknown".
const char* StateName(uint32_t state);
// The flag names set in `flags` ("compressed", "sparse", ...), as a JSON array.
std::string FlagsJson(uint32_t flags);

// One `scan` line: id, size, state, modified (UTC) and the path inside the
// volume, tab-separated, with "\n". Tabs and line ends cannot occur in
// names the kernel lets through; any control character left is shown as
// "?" so that a line is always one item with exactly its five columns.
// Backslashes in `insidePath` (the kernel's folder separator) are written
// as `separator`.
void AppendScanLine(std::string& out, const Item& item, std::u16string_view insidePath,
                    char separator = '\\');

// One item as a JSON object (no line end).
std::string ItemJson(const Item& item, std::u16string_view insidePath);
// The volume as a JSON object.
std::string VolumeJson(const KX_VolumeInfo& volume, bool known);

// The file name with extension: what follows the last "\", "/" or ":".
std::u16string FileNameOf(std::u16string_view path);
// `keyword` occurs in `name`, ASCII letters compared without case; every
// other character (Chinese included) must match exactly. An empty keyword
// matches nothing.
bool NameMatches(std::u16string_view name, std::u16string_view keyword);

// The items `recover` writes, in scan order, and the asked-for ids that the
// scan did not find. With --intact-only, only items known to be intact.
struct Choice {
  std::vector<Item> items;
  std::vector<uint64_t> missingIds;
};
Choice ChooseItems(const std::vector<Item>& found, const Options& options);

// What `recover` did, for its last line and exit status.
struct RecoverCounts {
  size_t intact = 0, partly = 0, overwritten = 0, otherRecovered = 0;
  size_t failed = 0;
  size_t Recovered() const { return intact + partly + overwritten + otherRecovered; }
  void Add(const Item& item);  // one recovered item, by its state
};
// "recovered N (A intact, B partly overwritten, C overwritten), failed M"
std::string RecoverSummary(const RecoverCounts& counts);
// 0 when nothing failed, else 1.
int RecoverExitStatus(size_t failed);

// Progress lines (stderr, terminals only), without line ends.
std::string ScanProgress(uint64_t done, uint64_t total, uint64_t found);
std::string RecoverProgress(size_t filesDone, size_t filesTotal, uint64_t bytesDone,
                            uint64_t bytesTotal, double seconds);

}  // namespace kestrel::cli
