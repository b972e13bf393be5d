// One search of the found items by file name, on a worker thread: the
// matches are collected there and handed to the window thread, which fills
// the list. Busy from Start until the window thread takes the matches, so
// a second request meanwhile is ignored.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

#include "app/core/SessionKernel.h"
#include "app/core/WorkerGroup.h"

namespace restorix {

class SearchSession {
 public:
  SearchSession(SessionKernel& kernel, WorkerGroup& workers) : m_kernel(kernel), m_workers(workers) {}
  SearchSession(const SearchSession&) = delete;
  SearchSession& operator=(const SearchSession&) = delete;

  // Looks for items whose file name contains `keyword` (a-z folded only),
  // in the kernel's order; `finished` is called on the worker thread at
  // the end. False while busy, for an empty keyword, or without a thread.
  bool Start(std::wstring keyword, std::function<void()> finished);
  bool Busy() const { return m_busy.load(); }
  // On the window thread after `finished`: the matches; the session takes
  // requests again.
  std::vector<FoundItem> TakeMatches();

 private:
  SessionKernel& m_kernel;
  WorkerGroup& m_workers;
  std::atomic<bool> m_busy{false};
  std::vector<FoundItem> m_matches;
};

}  // namespace restorix
