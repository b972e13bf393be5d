#include "controls/model/ColumnTreeLayout.h"

#include <algorithm>

namespace restorix {

ColumnTreeLayout PlanColumnTreeLayout(const ColumnTreeMetrics& m, int xOffset) {
  ColumnTreeLayout l;
  const int cx = m.clientWidth;
  const int cy = m.clientHeight;
  const int hs = m.hScrollHeight;
  const int vs = m.vScrollWidth;
  l.vScrollWidth = m.treeScrollsVertically ? vs : 0;
  const int v = l.vScrollWidth;
  const int total = m.totalWidth + v;
  if (total - cx < xOffset) xOffset = total - cx;
  if (xOffset < 0) xOffset = 0;
  l.xOffset = xOffset;
  l.scrollMax = total;

  int x = 0;
  int w = cx;
  if (cx < total) {
    x = xOffset;
    w = cx + x;
  }
  l.scrollShown = cx < total && cy >= m.headerHeight + hs;
  l.header = {-x, 0, w - v, m.headerHeight};
  l.filler = {cx - vs, 0, vs, m.headerHeight};
  l.tree = {2 - x, m.headerHeight, w, cy - m.headerHeight - (l.scrollShown ? hs : 0)};
  l.scroll = {0, cy - hs, cx - v, hs};
  l.fillerShown = v != 0;
  return l;
}

int NextScrollOffset(ScrollRequest request, int current, int thumbPosition, int clientWidth, int totalWidth) {
  const int last = totalWidth - clientWidth;
  int next = current;
  switch (request) {
    case ScrollRequest::LineLeft: next = current - kScrollLinePixels; break;
    case ScrollRequest::LineRight: next = current + kScrollLinePixels; break;
    case ScrollRequest::PageLeft: next = current - clientWidth; break;
    case ScrollRequest::PageRight: next = current + clientWidth; break;
    case ScrollRequest::ThumbTrack: next = thumbPosition; break;
    case ScrollRequest::LeftEnd: next = 0; break;
    case ScrollRequest::RightEnd: next = last; break;
    case ScrollRequest::Other: break;
  }
  next = std::min(next, last);
  return std::max(next, 0);
}

bool ColumnWidthGuard::Allow(int column, std::optional<int> newWidth) {
  if (m_blockNext) {
    m_blockNext = false;
    return false;
  }
  if (column != 0 || !newWidth) return true;
  return *newWidth >= m_minFirstColumnWidth;
}

std::optional<std::wstring> LabelPart(const std::wstring& label, int index) {
  if (index < 0) return std::nullopt;
  size_t start = 0;
  for (int i = 0; i < index; ++i) {
    const size_t tab = label.find(L'\t', start);
    if (tab == std::wstring::npos) return std::nullopt;
    start = tab + 1;
  }
  const size_t end = label.find(L'\t', start);
  return label.substr(start, end == std::wstring::npos ? std::wstring::npos : end - start);
}

std::wstring ComposeLabel(const std::wstring& label, int columnCount, int column, const std::wstring& text) {
  std::wstring result;
  for (int i = 0; i < columnCount; ++i) {
    if (i == column)
      result += text;
    else
      result += LabelPart(label, i).value_or(std::wstring());
    result += L'\t';
  }
  return result;
}

}  // namespace restorix
