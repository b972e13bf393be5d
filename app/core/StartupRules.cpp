#include "app/core/StartupRules.h"

namespace restorix {

bool ElevationNeeded(unsigned majorVersion, std::optional<uint32_t> integrityRid) {
  if (majorVersion <= 5 || !integrityRid) return false;
  return *integrityRid < kHighIntegrityRid;
}

bool ShouldRestartAfterCrash(bool startedByCrashRestart, uint64_t uptimeMs) {
  return !(startedByCrashRestart && uptimeMs < kCrashLoopWindowMs);
}

int HandleCrash(CrashActions& actions) {
  actions.TellUser();
  actions.OpenFeedback();
  if (ShouldRestartAfterCrash(actions.StartedByCrashRestart(), actions.UptimeMs())) {
    actions.MarkNextStartAsRestart();
    actions.StartNewCopy();
  }
  return 1;
}

}  // namespace restorix
