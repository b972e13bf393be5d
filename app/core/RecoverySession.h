// One recovery of chosen items into a folder, on a worker thread, for
// either page: ids in; bar positions, per-item results and the outcome
// out; a stop honoured before each item. The session stays busy from Start
// until the window thread has shown the end and calls Finish, so that a
// second request meanwhile is ignored and the ids stay as they were.
#pragma once

#include <atomic>
#include <cstddef>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "app/core/AppState.h"
#include "app/core/FolderIndex.h"
#include "app/core/SessionKernel.h"
#include "app/core/WorkerGroup.h"

namespace restorix {

struct RecoveryOutcome {
  size_t count = 0;      // ids asked for
  size_t attempted = 0;  // items handed to the kernel
  size_t failed = 0;     // of those, items not written
  bool stopped = false;  // the stop flag was up at the end
};

// How a page ends a recovery. The results page says nothing after a stop;
// the search page always answers, and after a stop the item cut short is
// no failure.
struct RecoveryEndRule {
  std::wstring doneWord;  // "恢复完毕" or "数据恢复完毕"
  bool silentAfterStop = false;
};

// The message box text ending a recovery, or none.
std::optional<std::wstring> RecoveryEndMessage(const RecoveryOutcome& outcome, const RecoveryEndRule& rule);

class RecoverySession {
 public:
  // Called on the worker thread, in this order: progress(0), then for each
  // item progress(position) and item(index, written) (no item call once a
  // stop is seen), then progress(100), then finished.
  struct Events {
    std::function<void(int position)> progress;
    std::function<void(size_t index, bool written)> item;
    std::function<void(const RecoveryOutcome&)> finished;
  };

  RecoverySession(SessionKernel& kernel, AppState& state, WorkerGroup& workers, RecoveryEndRule rule);
  RecoverySession(const RecoverySession&) = delete;
  RecoverySession& operator=(const RecoverySession&) = delete;

  // Recovers `ids` into `folder` (ending in a backslash). False, and
  // nothing changes, while this session is busy, while the kernel is busy
  // with another task, for no ids, or when no thread could start. Clears a
  // stop left from before.
  bool Start(std::vector<ItemId> ids, std::wstring folder, Events events);
  bool Busy() const { return m_busy.load(); }
  // The ids of the running (or last) recovery and its folder.
  const std::vector<ItemId>& Items() const { return m_ids; }
  const std::wstring& Folder() const { return m_folder; }
  // The outcome once `finished` was called.
  const RecoveryOutcome& Outcome() const { return m_outcome; }
  std::optional<std::wstring> EndMessage() const { return RecoveryEndMessage(m_outcome, m_rule); }
  // The window thread has shown the end: the session takes requests again.
  void Finish() { m_busy = false; }

 private:
  void Run(const Events& events);

  SessionKernel& m_kernel;
  AppState& m_state;
  WorkerGroup& m_workers;
  RecoveryEndRule m_rule;
  std::atomic<bool> m_busy{false};
  std::vector<ItemId> m_ids;
  std::wstring m_folder;
  RecoveryOutcome m_outcome;
};

}  // namespace restorix
