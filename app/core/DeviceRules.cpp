#include "app/core/DeviceRules.h"
#include "app/core/UiText.h"
#include "kernel/Kestrel.h"

#include <cstdio>
#include <cwctype>
#include <limits>

namespace restorix {

std::wstring FormatGiB(uint64_t bytes) {
  const float gib = static_cast<float>(bytes) / 1073741824.0f;
  wchar_t text[64] = {};
  std::swprintf(text, 64, L"%.2f(G)", static_cast<double>(gib));
  return text;
}

uint64_t BytesFromSectors(uint64_t sectorCount, uint32_t sectorSize) {
  if (sectorSize == 0) sectorSize = kAssumedSectorSize;
  if (sectorCount > std::numeric_limits<uint64_t>::max() / sectorSize) return std::numeric_limits<uint64_t>::max();
  return sectorCount * sectorSize;
}

StartCheck CheckStart(bool hasSelection, bool rootSelected, const std::wstring& volumeName,
                      const std::wstring& programFolder) {
  if (!hasSelection || rootSelected) return StartCheck::NoPartition;
  if (!volumeName.empty() && !programFolder.empty() &&
      std::towupper(volumeName[0]) == std::towupper(programFolder[0]))
    return StartCheck::AskSameVolume;
  return StartCheck::Start;
}

std::optional<std::wstring> ScanFailureText(int code, const std::wstring& kernelText) {
  if (code == KX_SCAN_OK || code == KX_SCAN_STOPPED) return std::nullopt;
  return ui::kCannotReadPartition + kernelText;
}

std::wstring ScanStatusText(long long count) {
  return ui::kScanningBefore + std::to_wstring(count) + ui::kScanningAfter;
}

uint32_t FrameClock::PeriodMs() const {
  if (!Animated()) return 0;
  const uint32_t delay = m_current < m_delays.size() ? m_delays[m_current] : m_delays.back();
  return delay * 10;
}

}  // namespace restorix
