// The column tree's arithmetic, apart from its windows: where the header,
// the corner filler, the tree and the horizontal scroll bar go, how far a
// scroll request moves, which header width changes are allowed, how the
// tab-separated item labels split and join, and what counts as a click on
// an item's label.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace restorix {

constexpr int kMaxTreeColumns = 16;
constexpr int kScrollLinePixels = 15;

struct ChildPlace {
  int x = 0, y = 0, width = 0, height = 0;
};

struct ColumnTreeMetrics {
  int clientWidth = 0;
  int clientHeight = 0;
  int hScrollHeight = 0;    // platform horizontal scroll bar height
  int vScrollWidth = 0;     // platform vertical scroll bar width
  bool treeScrollsVertically = false;
  int totalWidth = 0;       // sum of the column widths
  int headerHeight = 0;
};

struct ColumnTreeLayout {
  int vScrollWidth = 0;     // 0 when the tree has no vertical scroll bar
  int xOffset = 0;          // the scroll offset after clamping
  int scrollMax = 0;        // scroll bar range 0 ... scrollMax, page = client width
  bool scrollShown = false;
  bool fillerShown = false;
  ChildPlace header, filler, tree, scroll;
};

// Places the four children for the current scroll offset, which it first
// pulls back so that no empty space shows right of the last column.
ColumnTreeLayout PlanColumnTreeLayout(const ColumnTreeMetrics& m, int xOffset);

enum class ScrollRequest { LineLeft, LineRight, PageLeft, PageRight, ThumbTrack, LeftEnd, RightEnd, Other };

// The offset a horizontal scroll request leads to, within 0 ... total - cx.
int NextScrollOffset(ScrollRequest request, int current, int thumbPosition, int clientWidth, int totalWidth);

// Refuses a header change right after the columns were refreshed (the
// refresh's own echo), and any change that would make the first column
// narrower than its minimum.
class ColumnWidthGuard {
 public:
  explicit ColumnWidthGuard(int minFirstColumnWidth = 100) : m_minFirstColumnWidth(minFirstColumnWidth) {}
  void BlockNext() { m_blockNext = true; }
  bool Blocking() const { return m_blockNext; }
  // `newWidth` is empty when the change does not touch the width.
  bool Allow(int column, std::optional<int> newWidth);

 private:
  int m_minFirstColumnWidth;
  bool m_blockNext = false;
};

// Part `index` of a label: the text between the index-th and the next tab
// (part 0 starts at the beginning). Empty when the label has fewer parts.
std::optional<std::wstring> LabelPart(const std::wstring& label, int index);

// The label after column `column` is set to `text`: every column's text
// followed by a tab, the others kept from `label`.
std::wstring ComposeLabel(const std::wstring& label, int columnCount, int column, const std::wstring& text);

struct LabelRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

// Tree hit-test flags, as the tree control reports them.
constexpr unsigned kHitOnItemIcon = 0x02;
constexpr unsigned kHitOnItemLabel = 0x04;
constexpr unsigned kHitOnItemButton = 0x10;
constexpr unsigned kHitOnItemStateIcon = 0x40;

struct LabelHitQuery {
  int x = 0, y = 0;
  unsigned hitFlags = 0;
  bool hasItem = false;
  LabelRect textRect;       // the item's text rectangle
  int clientRight = 0;
  bool fullRowSelect = false;
  int firstColumnWidth = 0;
};

// Whether a point is over the item's label: its button or icons, or the
// first column's text (plus 6 pixels). `firstPartWidth` measures column 0's
// text and is only called when needed.
template <typename Measure>
bool IsOverLabelAt(const LabelHitQuery& q, Measure firstPartWidth) {
  if (q.hitFlags & (kHitOnItemButton | kHitOnItemIcon | kHitOnItemStateIcon)) return true;
  if (!q.hasItem) return false;
  LabelRect r = q.textRect;
  if (q.fullRowSelect) {
    r.right = q.clientRight;
    return r.Contains(q.x, q.y);
  }
  if (!(q.hitFlags & kHitOnItemLabel)) return false;
  if (r.right > q.firstColumnWidth) r.right = q.firstColumnWidth;
  if (!r.Contains(q.x, q.y)) return false;
  r.right = r.left + firstPartWidth() + 6;
  return r.Contains(q.x, q.y);
}

}  // namespace restorix
