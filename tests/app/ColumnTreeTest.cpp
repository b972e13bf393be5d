// The column tree's arithmetic: placing its children, scrolling, the
// first-column guard, tab-separated labels and what counts as the label.
#include <gtest/gtest.h>

#include "controls/model/ColumnTreeLayout.h"

using namespace restorix;

namespace {
// The device page's columns (300, 100, 150, 150) in a 600 x 300 control.
ColumnTreeMetrics DevicePage(bool vertical) {
  ColumnTreeMetrics m;
  m.clientWidth = 600;
  m.clientHeight = 300;
  m.hScrollHeight = 17;
  m.vScrollWidth = 16;
  m.treeScrollsVertically = vertical;
  m.totalWidth = 700;
  m.headerHeight = 20;
  return m;
}
}  // namespace

TEST(ColumnTreeLayout, WideColumnsShowTheScrollBarAndScrollTogether) {
  ColumnTreeLayout l = PlanColumnTreeLayout(DevicePage(false), 0);
  EXPECT_TRUE(l.scrollShown);
  EXPECT_FALSE(l.fillerShown);
  EXPECT_EQ(l.scrollMax, 700);
  EXPECT_EQ(l.header.x, 0);
  EXPECT_EQ(l.header.width, 600);
  EXPECT_EQ(l.tree.x, 2);
  EXPECT_EQ(l.tree.y, 20);
  EXPECT_EQ(l.tree.height, 300 - 20 - 17);
  EXPECT_EQ(l.scroll.y, 300 - 17);

  // One line to the right moves header and tree 15 pixels left.
  const int next = NextScrollOffset(ScrollRequest::LineRight, 0, 0, 600, 700);
  EXPECT_EQ(next, 15);
  l = PlanColumnTreeLayout(DevicePage(false), next);
  EXPECT_EQ(l.header.x, -15);
  EXPECT_EQ(l.header.width, 615);
  EXPECT_EQ(l.tree.x, 2 - 15);
  EXPECT_EQ(l.tree.width, 615);
}

TEST(ColumnTreeLayout, VerticalScrollBarWidensTheRangeAndShowsTheFiller) {
  ColumnTreeLayout l = PlanColumnTreeLayout(DevicePage(true), 0);
  EXPECT_TRUE(l.fillerShown);
  EXPECT_EQ(l.scrollMax, 716);
  EXPECT_EQ(l.header.width, 600 - 16);
  EXPECT_EQ(l.filler.x, 600 - 16);
  EXPECT_EQ(l.filler.width, 16);
  EXPECT_EQ(l.scroll.width, 600 - 16);
}

TEST(ColumnTreeLayout, OffsetIsPulledBackWhenTheControlGrowsOrColumnsShrink) {
  ColumnTreeMetrics m = DevicePage(false);
  EXPECT_EQ(PlanColumnTreeLayout(m, 500).xOffset, 100);
  m.clientWidth = 800;  // everything fits: no scrolling at all
  ColumnTreeLayout l = PlanColumnTreeLayout(m, 100);
  EXPECT_EQ(l.xOffset, 0);
  EXPECT_FALSE(l.scrollShown);
  EXPECT_EQ(l.header.x, 0);
  EXPECT_EQ(l.tree.width, 800);
  // Too low for header plus scroll bar: the bar stays hidden.
  m = DevicePage(false);
  m.clientHeight = 30;
  EXPECT_FALSE(PlanColumnTreeLayout(m, 0).scrollShown);
}

TEST(ColumnTreeLayout, ScrollRequestsStayWithinRange) {
  EXPECT_EQ(NextScrollOffset(ScrollRequest::LineLeft, 10, 0, 600, 700), 0);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::LineRight, 90, 0, 600, 700), 100);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::PageRight, 0, 0, 600, 700), 100);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::PageLeft, 100, 0, 600, 700), 0);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::ThumbTrack, 0, 42, 600, 700), 42);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::ThumbTrack, 0, 5000, 600, 700), 100);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::RightEnd, 0, 0, 600, 700), 100);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::LeftEnd, 80, 0, 600, 700), 0);
  EXPECT_EQ(NextScrollOffset(ScrollRequest::Other, 80, 0, 600, 700), 80);
  // Columns narrower than the control never scroll.
  EXPECT_EQ(NextScrollOffset(ScrollRequest::RightEnd, 0, 0, 800, 700), 0);
}

TEST(ColumnTreeLayout, FirstColumnGuard) {
  ColumnWidthGuard guard(100);
  EXPECT_FALSE(guard.Allow(0, 99)) << "narrower than 100";
  EXPECT_TRUE(guard.Allow(0, 100));
  EXPECT_TRUE(guard.Allow(0, 320)) << "widening is fine";
  EXPECT_TRUE(guard.Allow(2, 5)) << "other columns are free";
  EXPECT_TRUE(guard.Allow(0, std::nullopt)) << "a change without a width";
  guard.BlockNext();  // the columns were just refreshed
  EXPECT_FALSE(guard.Allow(0, 320));
  EXPECT_TRUE(guard.Allow(0, 320)) << "refused once only";
}

TEST(ColumnTreeLayout, LabelsSplitAtTabs) {
  const std::wstring label = L"C:\tNTFS\t74.53(G)\t12.00(G)\t";
  EXPECT_EQ(LabelPart(label, 0), L"C:");
  EXPECT_EQ(LabelPart(label, 2), L"74.53(G)");
  EXPECT_EQ(LabelPart(label, 4), L"") << "after the final tab";
  EXPECT_EQ(LabelPart(label, 5), std::nullopt);
  EXPECT_EQ(LabelPart(L"C:", 0), L"C:");
  EXPECT_EQ(LabelPart(L"C:", 1), std::nullopt);
  EXPECT_EQ(LabelPart(label, -1), std::nullopt);
}

TEST(ColumnTreeLayout, SetItemTextKeepsTheOtherColumns) {
  std::wstring label = L"C:";  // as inserted: column 0 only
  label = ComposeLabel(label, 4, 1, L"NTFS");
  EXPECT_EQ(label, L"C:\tNTFS\t\t\t");
  label = ComposeLabel(label, 4, 3, L"12.00(G)");
  label = ComposeLabel(label, 4, 2, L"74.53(G)");
  EXPECT_EQ(label, L"C:\tNTFS\t74.53(G)\t12.00(G)\t");
  EXPECT_EQ(ComposeLabel(label, 4, 9, L"x"), label) << "a column outside leaves the texts";
  EXPECT_EQ(ComposeLabel(L"a\tb\tc\td\te\t", 2, 0, L"z"), L"z\tb\t") << "parts beyond the columns go";
}

TEST(ColumnTreeLayout, OnlyTheFirstColumnTextIsTheLabel) {
  LabelHitQuery q;
  q.hasItem = true;
  q.hitFlags = kHitOnItemLabel;
  q.textRect = {40, 0, 500, 20};  // the raw label runs over every column
  q.clientRight = 700;
  q.firstColumnWidth = 300;
  int measured = 0;
  auto width = [&] {
    ++measured;
    return 30;
  };
  q.x = 60;
  q.y = 5;
  EXPECT_TRUE(IsOverLabelAt(q, width));
  q.x = 40 + 30 + 6;  // just past the text and its margin
  EXPECT_FALSE(IsOverLabelAt(q, width));
  q.x = 350;  // the second column
  measured = 0;
  EXPECT_FALSE(IsOverLabelAt(q, width));
  EXPECT_EQ(measured, 0) << "cut at the first column before measuring";
  q.hitFlags = 0x08;  // right of the item
  q.x = 60;
  EXPECT_FALSE(IsOverLabelAt(q, width));
  q.hitFlags = kHitOnItemButton;
  q.hasItem = false;
  EXPECT_TRUE(IsOverLabelAt(q, width)) << "the expand button counts";
  // With full-row select the whole row right of the text start counts.
  q.hitFlags = 0x08;
  q.hasItem = true;
  q.fullRowSelect = true;
  q.x = 650;
  EXPECT_TRUE(IsOverLabelAt(q, width));
  q.x = 20;
  EXPECT_FALSE(IsOverLabelAt(q, width));
}
