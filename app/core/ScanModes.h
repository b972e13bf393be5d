// The program's three ways of looking for lost files, one per tab of the
// main window: deleted files (tab 1000), a deep scan of the volume's
// content (tab 1006) and the file system a format wrote over (tab 1004).
// Which kernel call a mode makes and what its scan dialog says, apart from
// any window.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace restorix {

enum class ScanMode { Deleted, Deep, Formatted };

// The mode a tab button of the main window stands for; none for the tabs
// that have no mode.
std::optional<ScanMode> ModeOfTab(int tabId);
int TabOfMode(ScanMode mode);

// The KX_MODE_ code of KX_StartScan.
int KernelModeOf(ScanMode mode);

enum class ScanCall {
  DeletedByKind,    // SH_Scan with the partition's FsKind, as ever
  DeletedByProbe,   // KX_StartScan in the deleted-file mode: the kernel's probe picks the engine
  ModeScan,         // KX_StartScan in the mode
  Unavailable,      // a library without KX_StartScan cannot run the mode
};
// `probe`: the letter maps a disk image's partition, whose engine the
// kernel's probe picks.
ScanCall ChooseScanCall(ScanMode mode, bool probe, bool canStartScan);

// The device page's line naming the mode; empty for the deleted-file mode,
// whose page stays as it always was.
std::wstring ModeLabel(ScanMode mode);

// Whole percent of `done` out of `total`, never 100 before the end; none
// while the total is unknown.
std::optional<unsigned> SharePercent(uint64_t done, uint64_t total);

// The scan dialog's status line: the deleted-file mode's own line, or for
// the other modes the share done (when known) and the count.
std::wstring ModeStatusText(ScanMode mode, long long count, std::optional<unsigned> percent);

}  // namespace restorix
