// The hex view's arithmetic, apart from its window: column layout and
// automatic bytes per row, hit testing, caret moves over nibbles, selection
// by keys and by dragging, nibble typing, scrolling, auto-scroll pacing and
// the two clipboard forms. CHexEditBase feeds it measurements and input and
// turns its state into drawing, the caret, scroll bars and the clipboard.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace restorix {

// "No byte": an unset selection end, anchor or drag end.
constexpr uint32_t kHexNone = 0xFFFFFFFFu;

struct HexRect {
  int left = 0, top = 0, right = 0, bottom = 0;
  int Width() const { return right - left; }
  int Height() const { return bottom - top; }
  bool IsEmpty() const { return right <= left || bottom <= top; }
  bool Contains(int x, int y) const { return x >= left && x < right && y >= top && y < bottom; }
};

struct HexPoint {
  int x = 0, y = 0;
};

enum class HexKey { PageUp, PageDown, End, Home, Left, Right, Up, Down };

// A scroll bar request; Up/Down stand for left/right on the horizontal bar.
enum class HexScroll { LineUp, LineDown, PageUp, PageDown, Track, Other };

// Where the caret block goes, in window coordinates; not shown means the
// caret is to be removed.
struct HexCaretBox {
  bool shown = false;
  int x = 0, y = 0, width = 0, height = 0;
};

// A scroll bar: range 0 ... max, page, position; hidden when not shown.
struct HexScrollBar {
  bool shown = false;
  int max = 0, page = 0, pos = 0;
};

// What a mouse move with the button down asks of the window.
struct HexDragResult {
  bool changed = false;          // caret and selection moved: repaint, re-place the caret
  bool startTimer = false;       // start the auto-scroll timer
  bool stopTimer = false;        // kill it
};

// A "BinaryData" block's payload, cut to what the block really holds.
struct HexBlockBytes {
  const uint8_t* bytes = nullptr;
  uint32_t count = 0;
};

class HexEditModel {
 public:
  // Replaces the data with a copy of `size` bytes (none when `bytes` is
  // null), resets selection, anchor and drag end, puts the caret on byte 0's
  // high nibble and marks the layout dirty. False when the copy could not be
  // allocated; the control is then empty.
  bool SetData(const uint8_t* bytes, uint32_t size);
  const uint8_t* Data() const { return m_data.empty() ? nullptr : m_data.data(); }
  uint32_t DataSize() const { return m_dataSize; }
  bool HasData() const { return m_dataSize != 0; }
  bool HasSelection() const { return m_selBegin != kHexNone && m_selEnd != kHexNone; }

  // Layout for a client rectangle and the font's '0' cell; clears the dirty
  // flag. The window follows it with its scroll bars (VerticalBar, HorizontalBar).
  void RecalcLayout(const HexRect& client, int charWidth, int lineHeight);
  HexScrollBar VerticalBar() const;
  HexScrollBar HorizontalBar() const;
  // Rows of data: ceil(size / bytes per row).
  uint32_t DataRows() const;

  // The byte and nibble under a point (rounded to the nearest character
  // cell); false without data.
  bool PointToPos(HexPoint point, uint32_t& pos, bool& high) const;
  // Stores the caret position; CaretBox says where it is drawn.
  void PlaceCaret(uint32_t pos, bool high);
  HexCaretBox CaretBox(bool focused) const;
  // Scrolls so that [first, last] shows as well as it can.
  void MakeVisible(uint32_t first, uint32_t last);
  // Caret move by `delta` bytes onto the given nibble, clamped to the data;
  // without Shift the selection, anchor and drag end are cleared, with Shift
  // and an anchor the selection runs from the anchor to the target.
  void MoveCaret(int64_t delta, bool high, bool shift);
  // A navigation key; false when there is no data.
  bool KeyMove(HexKey key, bool shift);
  // A typed character; true when it wrote a nibble (the parent is told).
  bool TypeChar(uint32_t code, bool shift);

  // Mouse. ButtonDown returns false without data (the window still captures).
  bool ButtonDown(HexPoint point, int dragWidth, int dragHeight);
  HexDragResult Drag(HexPoint point);
  // True when the timer was running and must be killed.
  bool StopAutoScroll();
  // One timer tick; true when the view scrolled and the caret and
  // selection moved (repaint, re-place the caret, sync the bars).
  bool AutoScrollTick();
  bool DoubleClick(HexPoint point);
  // Right click at a point: where the caret and selection go before the menu.
  void ContextClick(HexPoint point);

  // Scrolling; each returns true when the value changed.
  bool SetTopLine(int64_t line);
  bool SetScrollX(int64_t x);
  bool Wheel(int delta);
  // The target of a scroll bar request, or none for requests to ignore.
  std::optional<int64_t> VerticalTarget(HexScroll request, int trackPos) const;
  std::optional<int64_t> HorizontalTarget(HexScroll request, int trackPos) const;

  // Selection.
  bool SelectAll();
  void SetSel(uint32_t first, uint32_t last, bool makeVisible);

  // Clipboard: the text rows (CF_TEXT) and the "BinaryData" block of the
  // selection, both empty without one.
  std::string CopyText() const;
  std::vector<uint8_t> CopyBlock() const;
  // Reads a "BinaryData" block of `blockSize` bytes; a count larger than
  // what follows it is cut to what is there. None when the block is shorter
  // than its count field.
  static std::optional<HexBlockBytes> ParseBinaryBlock(const uint8_t* block, size_t blockSize);
  // Overwrites from the selection start (or the caret byte), cut at the end
  // of the data; returns the count written (0: nothing happened).
  uint32_t Paste(const uint8_t* bytes, uint32_t count);

  // Painting.
  // Rows [first, end) that hold bytes and touch the screen.
  uint32_t FirstPaintRow() const { return m_topLine; }
  uint32_t EndPaintRow() const;
  // The address of a row's first byte: upper-case hex, zero-padded.
  std::string AddressText(uint32_t row) const;
  std::string HexRowText(uint32_t row) const;
  std::string AsciiRowText(uint32_t row) const;
  // Selected columns of a row, inclusive; false when none.
  bool RowSelection(uint32_t row, uint32_t& firstColumn, uint32_t& lastColumn) const;
  // Top of a screen row (row index counted from m_topLine), window coordinates.
  int RowTop(uint32_t row) const;
  // Left edge of a column's x (hex x, ascii x, address x) in window coordinates.
  int ScreenX(int columnX) const { return m_textRect.left + columnX - m_scrollX; }

  // Configuration; the layout is recomputed before its next use.
  bool m_multiLine = true;
  uint32_t m_bytesPerRowSetting = 16;
  bool m_autoBytesPerRow = false;
  uint8_t m_addressDigits = 8;
  bool m_showAddress = false;
  bool m_showAscii = false;
  int m_readOnly = 0;
  bool m_layoutDirty = true;

  // Layout, from RecalcLayout.
  int m_fullRows = 0;
  int m_lastRowHeight = 0;
  int m_totalRows = 0;
  int m_lineHeight = 1;
  int m_charWidth = 1;
  uint32_t m_bytesPerRow = 1;
  int m_hexX = 0, m_hexWidth = 0;
  int m_asciiX = 0, m_asciiWidth = 0;
  int m_addressX = 0, m_addressWidth = 0;
  HexRect m_textRect;
  int m_contentWidth = 0;

  // Caret, selection, scrolling.
  uint32_t m_selBegin = kHexNone, m_selEnd = kHexNone;
  uint32_t m_caretPos = 0;
  bool m_caretHigh = true;
  uint32_t m_topLine = 0, m_maxTopLine = 0;
  int m_scrollX = 0, m_maxScrollX = 0;
  uint32_t m_anchor = kHexNone;
  uint32_t m_dragEnd = kHexNone;

  // Mouse drag and auto-scroll.
  HexRect m_dragBox;                 // empty once the pointer has left it
  HexPoint m_autoScrollPoint;
  int m_autoScrollDir = 0;
  uint16_t m_autoScrollReload = 0;
  uint16_t m_autoScrollCountdown = 0;
  bool m_autoScrollRunning = false;

 private:
  bool StartAutoScroll(HexPoint point, int direction, uint16_t reload);
  void DragUpdate(HexPoint point);
  int64_t RowStart(uint32_t row) const { return int64_t{row} * m_bytesPerRow; }

  std::vector<uint8_t> m_data;
  uint32_t m_dataSize = 0;
};

}  // namespace restorix
