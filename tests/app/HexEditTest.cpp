// The hex view's arithmetic: layout and automatic bytes per row, hit
// testing, caret moves, key and drag selection with auto-scroll, nibble
// typing, wheel, and the clipboard's text and "BinaryData" forms.
#include <gtest/gtest.h>

#include <numeric>
#include <vector>

#include "controls/model/HexEditModel.h"

using namespace restorix;

namespace {
constexpr int kCw = 8;   // '0' advance
constexpr int kLh = 16;  // row height

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> bytes(n);
  std::iota(bytes.begin(), bytes.end(), uint8_t{0});
  return bytes;
}

// The preview page's setup: 16 bytes a row, 8 address digits, both extra
// columns; a 600 x 300 client gives a 590 x 290 text area (18 full rows
// and a 2-pixel partial one).
HexEditModel PreviewModel(size_t size, HexRect client = {0, 0, 600, 300}) {
  HexEditModel m;
  m.m_showAddress = true;
  m.m_showAscii = true;
  const auto bytes = Counting(size);
  m.SetData(bytes.data(), static_cast<uint32_t>(bytes.size()));
  m.RecalcLayout(client, kCw, kLh);
  return m;
}

// Centre of a byte's high (or low) digit, for a model scrolled to the top.
HexPoint DigitPoint(const HexEditModel& m, uint32_t pos, bool high) {
  const uint32_t row = pos / m.m_bytesPerRow, column = pos % m.m_bytesPerRow;
  return HexPoint{m.ScreenX(m.m_hexX) + kCw * static_cast<int>(3 * column + (high ? 0 : 1)) + 2,
                  m.RowTop(row) + kLh / 2};
}
}  // namespace

TEST(HexEditLayout, ColumnsRowsAndAddressesOfThePreviewSetup) {
  HexEditModel m = PreviewModel(100);
  EXPECT_EQ(m.m_bytesPerRow, 16u);
  EXPECT_EQ(m.m_textRect.left, 5);
  EXPECT_EQ(m.m_textRect.Width(), 590);
  EXPECT_EQ(m.m_fullRows, 18);
  EXPECT_EQ(m.m_totalRows, 19);
  EXPECT_EQ(m.m_lastRowHeight, 2);
  EXPECT_EQ(m.m_addressWidth, 8 * kCw + 5);
  EXPECT_EQ(m.m_hexX, 8 * kCw + 5 + 15);
  EXPECT_EQ(m.m_hexWidth, kCw * 47);
  EXPECT_EQ(m.m_asciiX, m.m_hexX + m.m_hexWidth + 20);
  EXPECT_EQ(m.m_contentWidth, m.m_asciiX + 16 * kCw);
  EXPECT_EQ(m.m_maxScrollX, m.m_contentWidth - 590);

  // 100 bytes: six rows of 16 and one of 4, addresses 00000000 ... 00000060.
  EXPECT_EQ(m.DataRows(), 7u);
  EXPECT_EQ(m.EndPaintRow(), 7u);
  EXPECT_EQ(m.AddressText(0), "00000000");
  EXPECT_EQ(m.AddressText(2), "00000020");
  EXPECT_EQ(m.AddressText(6), "00000060");
  EXPECT_EQ(m.HexRowText(6), "60 61 62 63");
  EXPECT_EQ(m.AsciiRowText(6), "`abc");
  EXPECT_EQ(m.AsciiRowText(0), "................");
  EXPECT_EQ(m.m_maxTopLine, 0u);
  EXPECT_FALSE(m.VerticalBar().shown);
  EXPECT_TRUE(m.HorizontalBar().shown);

  // 8 KiB: 512 rows, the bar's range covers them with an 18-row page.
  m = PreviewModel(8192);
  EXPECT_EQ(m.m_maxTopLine, 512u - 18u);
  const HexScrollBar bar = m.VerticalBar();
  EXPECT_TRUE(bar.shown);
  EXPECT_EQ(bar.max, 511);
  EXPECT_EQ(bar.page, 18);
  EXPECT_EQ(m.AddressText(511), "00001FF0");

  // Fewer digits than the value needs never cut it.
  m.m_addressDigits = 2;
  EXPECT_EQ(m.AddressText(511), "1FF0");
}

TEST(HexEditLayout, AutomaticBytesPerRowAndSingleLine) {
  HexEditModel m;
  const auto bytes = Counting(64);
  m.SetData(bytes.data(), 64);
  m.m_autoBytesPerRow = true;
  // Without address and character columns: 10 character widths hold 3
  // bytes (remainder 1 < 2), 11 hold 4 (the last byte's space is not needed).
  m.RecalcLayout({0, 0, 10 * kCw + 10, 100}, kCw, kLh);
  EXPECT_EQ(m.m_bytesPerRow, 3u);
  m.RecalcLayout({0, 0, 11 * kCw + 10, 100}, kCw, kLh);
  EXPECT_EQ(m.m_bytesPerRow, 4u);
  // With the character column each byte needs 4 cells after 5 pixels.
  m.m_showAscii = true;
  m.RecalcLayout({0, 0, 5 + 11 * kCw + 10, 100}, kCw, kLh);
  EXPECT_EQ(m.m_bytesPerRow, 3u);
  // A control too narrow for anything still shows one byte a row.
  m.RecalcLayout({0, 0, 4, 4}, kCw, kLh);
  EXPECT_EQ(m.m_bytesPerRow, 1u);
  EXPECT_EQ(m.m_textRect.Width(), 0);
  EXPECT_EQ(m.m_totalRows, 0);

  // Single line: every byte on one row, no margin, no vertical scrolling.
  HexEditModel single;
  single.m_multiLine = false;
  single.SetData(bytes.data(), 64);
  single.RecalcLayout({0, 0, 200, 20}, kCw, kLh);
  EXPECT_EQ(single.m_bytesPerRow, 64u);
  EXPECT_EQ(single.m_textRect.left, 0);
  EXPECT_EQ(single.m_maxTopLine, 0u);
  EXPECT_FALSE(single.VerticalBar().shown);
  EXPECT_FALSE(single.HorizontalBar().shown);
  EXPECT_FALSE(single.SetTopLine(3));
}

TEST(HexEditCaret, PointToPosRoundsToCellsAndStopsAtTheData) {
  HexEditModel m = PreviewModel(100);
  uint32_t pos;
  bool high;
  ASSERT_TRUE(m.PointToPos(DigitPoint(m, 18, true), pos, high));
  EXPECT_EQ(pos, 18u);
  EXPECT_TRUE(high);
  ASSERT_TRUE(m.PointToPos(DigitPoint(m, 18, false), pos, high));
  EXPECT_EQ(pos, 18u);
  EXPECT_FALSE(high);
  // Left of the hex column: the row's first byte; right of it: the last.
  m.PointToPos({0, m.RowTop(1) + 3}, pos, high);
  EXPECT_EQ(pos, 16u);
  EXPECT_TRUE(high);
  m.PointToPos({599, m.RowTop(1) + 3}, pos, high);
  EXPECT_EQ(pos, 31u);
  EXPECT_FALSE(high);
  // Below the last row: the last byte's low nibble.
  m.PointToPos(DigitPoint(m, 16 * 10, true), pos, high);
  EXPECT_EQ(pos, 99u);
  EXPECT_FALSE(high);

  HexEditModel empty;
  empty.RecalcLayout({0, 0, 600, 300}, kCw, kLh);
  EXPECT_FALSE(empty.PointToPos({50, 50}, pos, high));
}

TEST(HexEditCaret, CaretBoxFollowsNibbleRowAndFocus) {
  HexEditModel m = PreviewModel(8192);
  m.PlaceCaret(17, false);
  EXPECT_FALSE(m.CaretBox(false).shown);
  HexCaretBox box = m.CaretBox(true);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(box.x, 5 + m.m_hexX + kCw * 4);
  EXPECT_EQ(box.y, 5 + kLh + 1);
  EXPECT_EQ(box.width, kCw);
  EXPECT_EQ(box.height, kLh - 1);
  // The partly visible 19th row gets a caret of its own height.
  m.PlaceCaret(18 * 16, true);
  box = m.CaretBox(true);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(box.height, 2 - 1);
  // Off screen: removed.
  m.PlaceCaret(19 * 16, true);
  EXPECT_FALSE(m.CaretBox(true).shown);
  // Scrolled so that the caret sticks out left of the text area: cut 2
  // pixels outside it; scrolled wholly past it: removed.
  m = PreviewModel(8192, {0, 0, 300, 300});
  m.PlaceCaret(0, true);
  m.SetScrollX(5 + m.m_hexX - 2);
  box = m.CaretBox(true);
  ASSERT_TRUE(box.shown);
  EXPECT_EQ(box.x, 5 - 2);
  EXPECT_EQ(box.width, kCw - 1);
  m.SetScrollX(m.m_maxScrollX);
  EXPECT_FALSE(m.CaretBox(true).shown);
}

TEST(HexEditKeys, EdgesPagesAndShiftSelection) {
  HexEditModel m = PreviewModel(100);
  // Left on byte 0's high nibble and Right on the last byte's low nibble stay.
  m.KeyMove(HexKey::Left, false);
  EXPECT_EQ(m.m_caretPos, 0u);
  EXPECT_TRUE(m.m_caretHigh);
  m.KeyMove(HexKey::End, false);
  EXPECT_EQ(m.m_caretPos, 99u);
  EXPECT_FALSE(m.m_caretHigh);
  m.KeyMove(HexKey::Right, false);
  EXPECT_EQ(m.m_caretPos, 99u);
  EXPECT_FALSE(m.m_caretHigh);
  m.KeyMove(HexKey::Left, false);
  EXPECT_EQ(m.m_caretPos, 99u);
  EXPECT_TRUE(m.m_caretHigh);
  m.KeyMove(HexKey::Left, false);
  EXPECT_EQ(m.m_caretPos, 98u);
  EXPECT_FALSE(m.m_caretHigh);
  m.KeyMove(HexKey::Home, false);
  EXPECT_EQ(m.m_caretPos, 0u);
  EXPECT_TRUE(m.m_caretHigh);
  // Up/Down move a row keeping the nibble; past the ends they clamp.
  m.PlaceCaret(20, false);
  m.KeyMove(HexKey::Up, false);
  EXPECT_EQ(m.m_caretPos, 4u);
  EXPECT_FALSE(m.m_caretHigh);
  m.KeyMove(HexKey::Up, false);
  EXPECT_EQ(m.m_caretPos, 0u);
  EXPECT_TRUE(m.m_caretHigh);
  m.KeyMove(HexKey::PageDown, false);
  EXPECT_EQ(m.m_caretPos, 99u);

  // Shift+Right four times from byte 3's high nibble: 3 low, 4 high, 4 low,
  // 5 high; the selection runs from the anchor 3 to 5.
  m.PlaceCaret(3, true);
  const uint32_t visits[4][2] = {{3, 0}, {4, 1}, {4, 0}, {5, 1}};
  for (const auto& v : visits) {
    m.KeyMove(HexKey::Right, true);
    EXPECT_EQ(m.m_caretPos, v[0]);
    EXPECT_EQ(m.m_caretHigh, v[1] == 1);
  }
  EXPECT_EQ(m.m_anchor, 3u);
  EXPECT_EQ(m.m_selBegin, 3u);
  EXPECT_EQ(m.m_selEnd, 5u);
  // Back across the anchor: the selection turns round it.
  m.KeyMove(HexKey::Up, true);
  EXPECT_EQ(m.m_selBegin, 0u);
  EXPECT_EQ(m.m_selEnd, 3u);
  // A move without Shift drops selection and anchor.
  m.KeyMove(HexKey::Right, false);
  EXPECT_FALSE(m.HasSelection());
  EXPECT_EQ(m.m_anchor, kHexNone);

  HexEditModel empty;
  EXPECT_FALSE(empty.KeyMove(HexKey::Down, false));
}

TEST(HexEditKeys, MovingPastTheBottomScrollsTheCaretIntoView) {
  HexEditModel m = PreviewModel(8192);
  m.PlaceCaret(17 * 16, true);  // last full row
  m.KeyMove(HexKey::Down, false);
  EXPECT_EQ(m.m_topLine, 1u);
  m.KeyMove(HexKey::End, false);
  EXPECT_EQ(m.m_topLine, m.m_maxTopLine);
  m.KeyMove(HexKey::Home, false);
  EXPECT_EQ(m.m_topLine, 0u);
  // A selection longer than the screen shows its start.
  m.SetSel(4000, 7000, true);
  EXPECT_EQ(m.m_topLine, 4000u / 16);
  // Ends past the data are pulled back; an unset end clears.
  m.SetSel(8000, 90000, false);
  EXPECT_EQ(m.m_selEnd, 8191u);
  m.SetSel(kHexNone, 5, false);
  EXPECT_FALSE(m.HasSelection());
}

TEST(HexEditTyping, NibblesOverwriteAndTheCaretAdvances) {
  HexEditModel m = PreviewModel(100);
  EXPECT_TRUE(m.TypeChar('4', false));
  EXPECT_EQ(m.Data()[0], 0x40);
  EXPECT_EQ(m.m_caretPos, 0u);
  EXPECT_FALSE(m.m_caretHigh);
  EXPECT_TRUE(m.TypeChar('1', false));
  EXPECT_EQ(m.Data()[0], 0x41);
  EXPECT_EQ(m.AsciiRowText(0)[0], 'A');
  EXPECT_EQ(m.m_caretPos, 1u);
  EXPECT_TRUE(m.m_caretHigh);
  // Upper-case digits count; other characters, backspace and wide codes do not.
  EXPECT_TRUE(m.TypeChar('F', false));
  EXPECT_EQ(m.Data()[1], 0xF1);
  for (uint32_t code : {uint32_t{'g'}, uint32_t{8}, uint32_t{' '}, uint32_t{0x134}}) EXPECT_FALSE(m.TypeChar(code, false));
  EXPECT_EQ(m.Data()[1], 0xF1);
  // The last byte's low nibble keeps the caret there.
  m.PlaceCaret(99, false);
  EXPECT_TRUE(m.TypeChar('e', false));
  EXPECT_EQ(m.Data()[99], 0x6E);
  EXPECT_EQ(m.m_caretPos, 99u);
  EXPECT_FALSE(m.m_caretHigh);
  // Read-only and empty controls ignore typing.
  m.m_readOnly = 1;
  EXPECT_FALSE(m.TypeChar('0', false));
  HexEditModel empty;
  EXPECT_FALSE(empty.TypeChar('0', false));
}

TEST(HexEditMouse, DragBoxThresholdThenSelection) {
  HexEditModel m = PreviewModel(100);
  const HexPoint press = DigitPoint(m, 2, true);
  ASSERT_TRUE(m.ButtonDown(press, 4, 5));
  EXPECT_EQ(m.m_anchor, 2u);
  EXPECT_EQ(m.m_dragBox.left, press.x - 2);
  EXPECT_EQ(m.m_dragBox.right, press.x + 2);
  EXPECT_EQ(m.m_dragBox.top, press.y - 2);
  EXPECT_EQ(m.m_dragBox.bottom, press.y + 3);  // the odd pixel goes down
  // Moves inside the drag distance select nothing.
  EXPECT_FALSE(m.Drag({press.x + 1, press.y + 2}).changed);
  EXPECT_FALSE(m.Drag({press.x - 2, press.y}).changed);
  EXPECT_FALSE(m.HasSelection());
  // Leaving it starts selecting; after that every move counts.
  EXPECT_TRUE(m.Drag(DigitPoint(m, 20, true)).changed);
  EXPECT_EQ(m.m_selBegin, 2u);
  EXPECT_EQ(m.m_selEnd, 20u);
  EXPECT_EQ(m.m_dragEnd, 20u);
  EXPECT_TRUE(m.Drag(press).changed);
  EXPECT_EQ(m.m_selBegin, 2u);
  EXPECT_EQ(m.m_selEnd, 2u);
  // A new press clears the selection.
  m.ButtonDown(DigitPoint(m, 5, false), 4, 4);
  EXPECT_FALSE(m.HasSelection());
  EXPECT_EQ(m.m_caretPos, 5u);
  EXPECT_FALSE(m.m_caretHigh);
  // A double click selects the one byte.
  EXPECT_TRUE(m.DoubleClick(DigitPoint(m, 40, true)));
  EXPECT_EQ(m.m_selBegin, 40u);
  EXPECT_EQ(m.m_selEnd, 40u);
}

TEST(HexEditMouse, AutoScrollPacesByDistance) {
  HexEditModel m = PreviewModel(8192);
  m.ButtonDown(DigitPoint(m, 16 * 10, true), 4, 4);
  // 30 pixels below the text area: reload 7 - min(31 / 5, 6) = 1.
  const HexPoint below{m.ScreenX(m.m_hexX) + 4, m.m_textRect.bottom + 30};
  HexDragResult r = m.Drag(below);
  EXPECT_TRUE(r.startTimer);
  EXPECT_EQ(m.m_autoScrollDir, 1);
  EXPECT_EQ(m.m_autoScrollReload, 1);
  // Already running: a second move only updates the point and pace.
  r = m.Drag({below.x, m.m_textRect.bottom + 3});
  EXPECT_FALSE(r.startTimer);
  EXPECT_EQ(m.m_autoScrollReload, 7);
  m.m_autoScrollReload = 1;
  EXPECT_FALSE(m.AutoScrollTick());  // countdown 1 -> 0
  EXPECT_TRUE(m.AutoScrollTick());   // scrolls one row
  EXPECT_EQ(m.m_topLine, 1u);
  EXPECT_EQ(m.m_selBegin, 160u);
  EXPECT_EQ(m.m_selEnd, (18u + 1) * 16);  // the stored point (screen row 18) one row further on
  // Back inside stops it; above starts it upwards at the slowest pace.
  r = m.Drag(DigitPoint(m, 16 * 12, true));
  EXPECT_TRUE(r.stopTimer);
  EXPECT_FALSE(m.m_autoScrollRunning);
  r = m.Drag({below.x, m.m_textRect.top - 1});
  EXPECT_TRUE(r.startTimer);
  EXPECT_EQ(m.m_autoScrollDir, -1);
  EXPECT_EQ(m.m_autoScrollReload, 7);
  EXPECT_TRUE(m.StopAutoScroll());
  EXPECT_FALSE(m.StopAutoScroll());
}

TEST(HexEditScroll, WheelAndBars) {
  HexEditModel m = PreviewModel(8192);
  m.SetTopLine(5);
  EXPECT_TRUE(m.Wheel(120));
  EXPECT_EQ(m.m_topLine, 4u);
  EXPECT_FALSE(m.Wheel(60));
  EXPECT_EQ(m.m_topLine, 4u);
  EXPECT_TRUE(m.Wheel(-360));
  EXPECT_EQ(m.m_topLine, 7u);
  EXPECT_TRUE(m.Wheel(120 * 100));
  EXPECT_EQ(m.m_topLine, 0u);
  EXPECT_TRUE(m.Wheel(-120 * 1000));
  EXPECT_EQ(m.m_topLine, m.m_maxTopLine);

  EXPECT_EQ(m.VerticalTarget(HexScroll::PageUp, 0).value(), int64_t{m.m_maxTopLine} - 18);
  EXPECT_EQ(m.VerticalTarget(HexScroll::Track, 77).value(), 77);
  EXPECT_FALSE(m.VerticalTarget(HexScroll::Other, 0).has_value());
  EXPECT_EQ(m.HorizontalTarget(HexScroll::LineDown, 0).value(), kCw);
  EXPECT_TRUE(m.SetScrollX(1000));
  EXPECT_EQ(m.m_scrollX, m.m_maxScrollX);

  // New data keeps the first row until the next layout clamps it.
  const auto few = Counting(40);
  m.SetData(few.data(), 40);
  EXPECT_EQ(m.m_caretPos, 0u);
  EXPECT_TRUE(m.m_layoutDirty);
  m.RecalcLayout({0, 0, 600, 300}, kCw, kLh);
  EXPECT_EQ(m.m_topLine, 0u);
}

TEST(HexEditClipboard, TextAndBlockForms) {
  HexEditModel m = PreviewModel(100);
  EXPECT_TRUE(m.CopyText().empty());
  EXPECT_TRUE(m.CopyBlock().empty());
  m.SetSel(0, 2, false);
  EXPECT_EQ(m.CopyText(), "00 01 02\n");
  const std::vector<uint8_t> block = m.CopyBlock();
  EXPECT_EQ(block, (std::vector<uint8_t>{3, 0, 0, 0, 0, 1, 2}));

  // Up to a row: one line from the first byte.
  m.SetSel(14, 17, false);
  EXPECT_EQ(m.CopyText(), "0E 0F 10 11\n");
  // Longer: the lines follow the rows on screen.
  m.SetSel(14, 33, false);
  EXPECT_EQ(m.CopyText(), std::string(14 * 3, ' ') + "0E 0F\n" +
                              "10 11 12 13 14 15 16 17 18 19 1A 1B 1C 1D 1E 1F\n" + "20 21\n");
}

TEST(HexEditClipboard, PasteIsCutAtTheEndAndBlocksAtTheirLength) {
  HexEditModel m = PreviewModel(100);
  const std::vector<uint8_t> ten(10, 0xAB);
  m.PlaceCaret(96, true);
  EXPECT_EQ(m.Paste(ten.data(), 10), 4u);
  EXPECT_EQ(m.Data()[95], 95);
  EXPECT_EQ(m.Data()[96], 0xAB);
  EXPECT_EQ(m.Data()[99], 0xAB);
  EXPECT_EQ(m.m_selBegin, 96u);
  EXPECT_EQ(m.m_selEnd, 99u);
  EXPECT_EQ(m.m_caretPos, 99u);
  EXPECT_FALSE(m.m_caretHigh);
  // With a selection the paste starts at its first byte.
  m.SetSel(10, 50, false);
  EXPECT_EQ(m.Paste(ten.data(), 2), 2u);
  EXPECT_EQ(m.Data()[10], 0xAB);
  EXPECT_EQ(m.Data()[12], 12);
  EXPECT_EQ(m.m_selEnd, 11u);
  m.m_readOnly = 1;
  EXPECT_EQ(m.Paste(ten.data(), 2), 0u);

  // A block whose count claims more than it holds yields only what it holds.
  const uint8_t lying[] = {0xE8, 0x03, 0x00, 0x00, 0x11, 0x22, 0x33};
  auto parsed = HexEditModel::ParseBinaryBlock(lying, sizeof lying);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->count, 3u);
  EXPECT_EQ(parsed->bytes, lying + 4);
  const uint8_t huge[] = {0xFF, 0xFF, 0xFF, 0xFF, 0x44};
  parsed = HexEditModel::ParseBinaryBlock(huge, sizeof huge);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->count, 1u);
  EXPECT_FALSE(HexEditModel::ParseBinaryBlock(lying, 3).has_value());
  EXPECT_FALSE(HexEditModel::ParseBinaryBlock(nullptr, 16).has_value());
  // A well-formed block comes back whole.
  parsed = HexEditModel::ParseBinaryBlock(lying, 5);
  ASSERT_TRUE(parsed.has_value());
  EXPECT_EQ(parsed->count, 1u);

  HexEditModel fresh = PreviewModel(100);
  parsed = HexEditModel::ParseBinaryBlock(lying, sizeof lying);
  EXPECT_EQ(fresh.Paste(parsed->bytes, parsed->count), 3u);
  EXPECT_EQ(fresh.Data()[2], 0x33);
  EXPECT_EQ(fresh.Data()[3], 3);
}

TEST(HexEditSelection, SelectAllAndContextClick) {
  HexEditModel m = PreviewModel(100);
  EXPECT_TRUE(m.SelectAll());
  EXPECT_FALSE(m.SelectAll());
  EXPECT_EQ(m.m_selEnd, 99u);
  // A right click inside the selection keeps it; outside drops it.
  m.SetSel(10, 20, false);
  m.ContextClick(DigitPoint(m, 15, false));
  EXPECT_TRUE(m.HasSelection());
  m.ContextClick(DigitPoint(m, 40, false));
  EXPECT_FALSE(m.HasSelection());
  EXPECT_EQ(m.m_caretPos, 40u);
  EXPECT_TRUE(m.m_caretHigh);
  // The selected columns of each row, for painting.
  m.SetSel(14, 33, false);
  uint32_t a, b;
  ASSERT_TRUE(m.RowSelection(0, a, b));
  EXPECT_EQ(a, 14u);
  EXPECT_EQ(b, 15u);
  ASSERT_TRUE(m.RowSelection(1, a, b));
  EXPECT_EQ(a, 0u);
  EXPECT_EQ(b, 15u);
  ASSERT_TRUE(m.RowSelection(2, a, b));
  EXPECT_EQ(b, 1u);
  EXPECT_FALSE(m.RowSelection(3, a, b));
}
