#include "app/core/RecoveryRules.h"
#include "app/core/UiText.h"

namespace restorix {

int RecoveryProgress(size_t index, size_t count) {
  if (count == 0) return 0;
  const float step = 100.0f / static_cast<float>(count);
  return static_cast<int>(static_cast<float>(index) * step);
}

std::wstring PathWithoutDrive(const std::wstring& path) {
  if (path.size() >= 2 && path[1] == L':') return path.substr(2);
  return path;
}

std::wstring RecoveryDoneText(size_t failed, const std::wstring& done) {
  if (failed == 0) return done + ui::kDoneMark;
  return done + ui::kFailedBefore + std::to_wstring(failed) + ui::kFailedAfter;
}

}  // namespace restorix
