#include "app/core/SearchSession.h"

#include <utility>

#include "app/core/SearchMatch.h"

namespace restorix {

bool SearchSession::Start(std::wstring keyword, std::function<void()> finished) {
  if (m_busy || keyword.empty()) return false;
  m_busy = true;
  m_matches.clear();
  const bool started = m_workers.Start([this, keyword = std::move(keyword), finished = std::move(finished)] {
    const SearchMatcher matcher(keyword);
    FoundItem item;
    for (int i = 0, n = m_kernel.ItemCount(); i < n; ++i)
      if (m_kernel.ItemAt(i, item) && matcher.Matches(item.path)) m_matches.push_back(item);
    if (finished) finished();
  });
  if (!started) m_busy = false;
  return started;
}

std::vector<FoundItem> SearchSession::TakeMatches() {
  std::vector<FoundItem> matches = std::move(m_matches);
  m_matches.clear();
  m_busy = false;
  return matches;
}

}  // namespace restorix
