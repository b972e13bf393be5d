#include "app/core/RecoverySession.h"

#include <utility>

#include "app/core/RecoveryRules.h"

namespace restorix {

std::optional<std::wstring> RecoveryEndMessage(const RecoveryOutcome& outcome, const RecoveryEndRule& rule) {
  if (outcome.stopped && rule.silentAfterStop) return std::nullopt;
  return RecoveryDoneText(outcome.stopped ? 0 : outcome.failed, rule.doneWord);
}

RecoverySession::RecoverySession(SessionKernel& kernel, AppState& state, WorkerGroup& workers, RecoveryEndRule rule)
    : m_kernel(kernel), m_state(state), m_workers(workers), m_rule(std::move(rule)) {}

bool RecoverySession::Start(std::vector<ItemId> ids, std::wstring folder, Events events) {
  if (m_busy || m_state.Busy() || ids.empty()) return false;
  m_busy = true;
  m_ids = std::move(ids);
  m_folder = std::move(folder);
  m_outcome = RecoveryOutcome();
  m_state.ClearStop();
  if (m_workers.Start([this, events = std::move(events)] { Run(events); })) return true;
  m_busy = false;
  return false;
}

void RecoverySession::Run(const Events& events) {
  auto progress = [&](int position) {
    if (events.progress) events.progress(position);
  };
  RecoveryOutcome outcome;
  outcome.count = m_ids.size();
  progress(0);
  m_state.SetBusy(true);
  for (size_t i = 0; i < m_ids.size(); ++i) {
    progress(RecoveryProgress(i, m_ids.size()));
    if (m_state.StopRequested()) break;
    ++outcome.attempted;
    const bool written = m_kernel.RecoverItem(m_folder, m_ids[i]);
    if (!written) ++outcome.failed;
    if (events.item) events.item(i, written);
  }
  progress(100);
  m_state.SetBusy(false);
  outcome.stopped = m_state.StopRequested();
  m_outcome = outcome;
  if (events.finished) events.finished(m_outcome);
}

}  // namespace restorix
