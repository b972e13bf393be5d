#include "app/core/WindowRules.h"

#include <iterator>

PageEntry MakePageEntry(int resourceId, const wchar_t* name, uint8_t key, CDialogBase* window) {
  PageEntry e;
  e.resourceId = resourceId;
  e.key = key;
  e.window = window;
  if (name) {
    size_t i = 0;
    for (; name[i] != 0 && i + 1 < std::size(e.name); ++i) e.name[i] = name[i];
    e.name[i] = 0;
  }
  return e;
}

std::vector<PageVisibility> PlanShowPage(const std::vector<PageEntry>& table, int key,
                                         PageEntry& current) {
  std::vector<PageVisibility> plan;
  const uint8_t wanted = static_cast<uint8_t>(key);
  for (const PageEntry& e : table) {
    if (!e.window) continue;
    if (e.key == wanted) {
      current = e;
      plan.push_back({e.window, true});
    } else {
      plan.push_back({e.window, false});
    }
  }
  return plan;
}

int DragHitTest(int defaultHit, int clientX, int clientY, int clientWidth) {
  if (defaultHit == kHitClient && clientY < 100 && clientX < clientWidth - 100) return kHitCaption;
  return defaultHit;
}

ProgressBarState ApplyRecoverProgress(uintptr_t wParam, intptr_t lParam) {
  ProgressBarState s;
  s.position = static_cast<int>(lParam);
  s.visible = wParam == 1;
  if (lParam == 100) {
    s.visible = false;
    s.position = 0;
  }
  return s;
}
