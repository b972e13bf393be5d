#include "app/core/ScanModes.h"

#include "app/core/DeviceRules.h"
#include "app/core/UiText.h"
#include "app/resource.h"
#include "kernel/Kestrel.h"

namespace restorix {

std::optional<ScanMode> ModeOfTab(int tabId) {
  switch (tabId) {
    case IDC_TAB_DR: return ScanMode::Deleted;
    case IDC_TAB_VR: return ScanMode::Deep;
    case IDC_TAB_FR: return ScanMode::Formatted;
    default: return std::nullopt;
  }
}

int TabOfMode(ScanMode mode) {
  switch (mode) {
    case ScanMode::Deep: return IDC_TAB_VR;
    case ScanMode::Formatted: return IDC_TAB_FR;
    case ScanMode::Deleted: break;
  }
  return IDC_TAB_DR;
}

int KernelModeOf(ScanMode mode) {
  switch (mode) {
    case ScanMode::Deep: return KX_MODE_DEEP;
    case ScanMode::Formatted: return KX_MODE_FORMATTED;
    case ScanMode::Deleted: break;
  }
  return KX_MODE_DELETED;
}

ScanCall ChooseScanCall(ScanMode mode, bool probe, bool canStartScan) {
  if (mode != ScanMode::Deleted) return canStartScan ? ScanCall::ModeScan : ScanCall::Unavailable;
  return probe && canStartScan ? ScanCall::DeletedByProbe : ScanCall::DeletedByKind;
}

std::wstring ModeLabel(ScanMode mode) {
  switch (mode) {
    case ScanMode::Deep: return ui::kModeDeepLabel;
    case ScanMode::Formatted: return ui::kModeFormattedLabel;
    case ScanMode::Deleted: break;
  }
  return std::wstring();
}

std::optional<unsigned> SharePercent(uint64_t done, uint64_t total) {
  if (total == 0) return std::nullopt;
  if (done >= total) return 100u;
  // done < total, so the quotient is below 100; long double keeps 64-bit
  // byte counts from overflowing the product.
  return static_cast<unsigned>(static_cast<long double>(done) * 100 / static_cast<long double>(total));
}

std::wstring ModeStatusText(ScanMode mode, long long count, std::optional<unsigned> percent) {
  if (mode == ScanMode::Deleted) return ScanStatusText(count);
  std::wstring text = mode == ScanMode::Deep ? ui::kScanningDeep : ui::kScanningFormatted;
  if (percent) text += ui::kShareDoneBefore + std::to_wstring(*percent) + L"%";
  return text + ui::kModeFoundBefore + std::to_wstring(count) + ui::kModeFoundAfter;
}

}  // namespace restorix
