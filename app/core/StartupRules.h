// Start-up decisions that need no system call, so they can be tested with
// any integrity level or crash history.
#pragma once

#include <cstdint>
#include <optional>

namespace restorix {

// SECURITY_MANDATORY_HIGH_RID: an administrator's elevated token.
constexpr uint32_t kHighIntegrityRid = 0x3000;

// Windows 6.0 and later only: a token below high integrity must relaunch
// elevated. No integrity level (the token could not be read) means no.
bool ElevationNeeded(unsigned majorVersion, std::optional<uint32_t> integrityRid);

// A copy started by the crash handler that crashes again this soon after
// its start is not restarted: a program that crashes during start-up would
// otherwise restart forever.
constexpr uint64_t kCrashLoopWindowMs = 10000;
bool ShouldRestartAfterCrash(bool startedByCrashRestart, uint64_t uptimeMs);

// What the crash handler does, step by step, through the system.
class CrashActions {
 public:
  virtual ~CrashActions() = default;
  virtual void TellUser() = 0;           // "the program failed, restarting"
  virtual void OpenFeedback() = 0;       // our own feedback place
  virtual bool StartedByCrashRestart() = 0;
  virtual uint64_t UptimeMs() = 0;
  virtual void MarkNextStartAsRestart() = 0;
  virtual void StartNewCopy() = 0;
};

// Runs the crash handler's steps; returns 1 (EXCEPTION_EXECUTE_HANDLER) so
// that the crashed process ends.
int HandleCrash(CrashActions& actions);

}  // namespace restorix
