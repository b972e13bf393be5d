// The hex view model's editing side: caret moves, keys, typing, the mouse,
// the selection and the clipboard forms. Its layout, scrolling and row
// texts are in HexEditModel.cpp.
#include "controls/model/HexEditModel.h"

#include <algorithm>
#include <climits>
#include <new>

#include "kernel/Bytes.h"

namespace restorix {
namespace {
constexpr char kHexDigits[] = "0123456789ABCDEF";
}  // namespace

bool HexEditModel::PointToPos(HexPoint point, uint32_t& pos, bool& high) const {
  if (!HasData()) return false;
  const int cw = m_charWidth, lh = m_lineHeight;
  int64_t x = int64_t{point.x} - m_textRect.left + m_scrollX + cw / 2;
  int64_t y = int64_t{point.y} - m_textRect.top;
  y = std::clamp<int64_t>(y, 0, int64_t{lh} * m_totalRows);
  x = std::clamp<int64_t>(x, m_hexX, int64_t{m_hexX} + m_hexWidth);
  const int64_t column = (x - m_hexX) / cw;
  high = column % 3 == 0;
  const int64_t p = column / 3 + (y / lh + m_topLine) * int64_t{m_bytesPerRow};
  if (p >= m_dataSize) {
    pos = m_dataSize - 1;
    high = false;
  } else {
    pos = static_cast<uint32_t>(p);
  }
  return true;
}

void HexEditModel::PlaceCaret(uint32_t pos, bool high) {
  m_caretPos = pos;
  m_caretHigh = high;
}

HexCaretBox HexEditModel::CaretBox(bool focused) const {
  HexCaretBox box;
  if (!HasData() || !focused) return box;
  const int64_t first = RowStart(m_topLine);
  const int64_t end = first + int64_t{m_totalRows} * m_bytesPerRow;
  if (m_caretPos < first || m_caretPos >= end) return box;
  const int64_t row = m_caretPos / m_bytesPerRow - int64_t{m_topLine};
  const int64_t column = m_caretPos % m_bytesPerRow;
  const int height = (row == m_fullRows ? m_lastRowHeight : m_lineHeight) - 1;
  int64_t left = int64_t{ScreenX(m_hexX)} + int64_t{m_charWidth} * (3 * column + (m_caretHigh ? 0 : 1));
  int64_t right = left + m_charWidth;
  left = std::max<int64_t>(left, m_textRect.left - 2);
  right = std::min<int64_t>(right, m_textRect.right + 2);
  if (right <= left || height <= 0) return box;
  box.shown = true;
  box.x = static_cast<int>(left);
  box.width = static_cast<int>(right - left);
  box.y = m_textRect.top + static_cast<int>(row) * m_lineHeight + 1;
  box.height = height;
  return box;
}

void HexEditModel::MakeVisible(uint32_t first, uint32_t last) {
  if (!HasData()) return;
  const int64_t m = m_bytesPerRow;
  if (m_multiLine) {
    const int64_t f = m * m_topLine;
    const int64_t s = m * m_fullRows;
    const int64_t e = f + s;
    if (!(first <= f && last >= e)) {
      const int64_t length = int64_t{last} - first + 1;
      if (length <= s) {
        if (first < f)
          SetTopLine(first / m);
        else if (last >= e)
          SetTopLine((last + m - s) / m);
      } else {
        if (first > f)
          SetTopLine(first / m);
        else if (last < e)
          SetTopLine((last + m - s) / m);
      }
    }
  }
  const int64_t hexLeft = ScreenX(m_hexX);
  int64_t v = hexLeft + int64_t{m_charWidth} * 3 * (first % m);
  int64_t u = hexLeft + int64_t{m_charWidth} * (3 * (last % m) + 2);
  if (v > u) std::swap(v, u);
  if (v < m_textRect.left && u < m_textRect.right)
    SetScrollX(int64_t{m_scrollX} + v - m_textRect.left);
  else if (u >= m_textRect.right && v >= m_textRect.left)
    SetScrollX(int64_t{m_scrollX} + u - m_textRect.Width());
}

void HexEditModel::MoveCaret(int64_t delta, bool high, bool shift) {
  if (!shift) {
    m_selBegin = m_selEnd = kHexNone;
    m_anchor = kHexNone;
    m_dragEnd = kHexNone;
  }
  if (!HasData()) return;
  int64_t target = int64_t{m_caretPos} + delta;
  if (delta > 0 && target >= m_dataSize) {
    target = m_dataSize - 1;
    high = false;
  } else if (delta == 0) {
    target = m_caretPos;
  } else if (delta < 0 && m_caretPos < -delta) {
    target = 0;
    high = true;
  }
  const uint32_t t = static_cast<uint32_t>(target);
  if (shift && m_anchor != kHexNone) {
    m_selBegin = std::min(m_anchor, t);
    m_selEnd = std::max(m_anchor, t);
  }
  MakeVisible(t, t);
  PlaceCaret(t, high);
}

bool HexEditModel::KeyMove(HexKey key, bool shift) {
  if (!HasData()) return false;
  if (shift && m_anchor == kHexNone) m_anchor = m_caretPos;
  const int64_t m = m_bytesPerRow;
  const int64_t caret = m_caretPos;
  switch (key) {
    case HexKey::PageUp:
      MoveCaret(-int64_t{std::max(m_totalRows - 1, 0)} * m, m_caretHigh, shift);
      break;
    case HexKey::PageDown:
      MoveCaret(int64_t{std::max(m_totalRows - 1, 0)} * m, m_caretHigh, shift);
      break;
    case HexKey::End:
      MoveCaret(int64_t{m_dataSize} - 1 - caret, false, shift);
      break;
    case HexKey::Home:
      MoveCaret(-caret, true, shift);
      break;
    case HexKey::Left:
      if (m_caretHigh)
        MoveCaret(-1, false, shift);
      else
        MoveCaret(0, true, shift);
      break;
    case HexKey::Right:
      if (m_caretHigh)
        MoveCaret(0, false, shift);
      else
        MoveCaret(1, true, shift);
      break;
    case HexKey::Up:
      MoveCaret(-m, m_caretHigh, shift);
      break;
    case HexKey::Down:
      MoveCaret(m, m_caretHigh, shift);
      break;
  }
  return true;
}

bool HexEditModel::TypeChar(uint32_t code, bool shift) {
  if (code >= 256 || code == 8 || !HasData() || m_readOnly) return false;
  if (code >= 'A' && code <= 'Z') code += 'a' - 'A';
  uint8_t nibble;
  if (code >= '0' && code <= '9')
    nibble = static_cast<uint8_t>(code - '0');
  else if (code >= 'a' && code <= 'f')
    nibble = static_cast<uint8_t>(code - 'a' + 10);
  else
    return false;
  uint8_t& byte = m_data[m_caretPos];
  if (m_caretHigh) {
    byte = static_cast<uint8_t>((byte & 0x0F) | (nibble << 4));
    MoveCaret(0, false, shift);
  } else {
    byte = static_cast<uint8_t>((byte & 0xF0) | nibble);
    MoveCaret(1, true, shift);
  }
  return true;
}

bool HexEditModel::ButtonDown(HexPoint point, int dragWidth, int dragHeight) {
  if (!HasData()) return false;
  uint32_t pos;
  bool high;
  PointToPos(point, pos, high);
  PlaceCaret(pos, high);
  // The odd pixel of the drag distance goes to the right and the bottom.
  m_dragBox.left = point.x - dragWidth / 2;
  m_dragBox.right = point.x + (dragWidth - dragWidth / 2);
  m_dragBox.top = point.y - dragHeight / 2;
  m_dragBox.bottom = point.y + (dragHeight - dragHeight / 2);
  m_selBegin = m_selEnd = kHexNone;
  m_dragEnd = kHexNone;
  m_anchor = m_caretPos;
  return true;
}

void HexEditModel::DragUpdate(HexPoint point) {
  uint32_t pos;
  bool high;
  if (!PointToPos(point, pos, high)) return;
  PlaceCaret(pos, high);
  m_selBegin = std::min(m_anchor, pos);
  m_selEnd = std::max(m_anchor, pos);
  m_dragEnd = pos;
}

HexDragResult HexEditModel::Drag(HexPoint point) {
  HexDragResult result;
  if (!HasData() || m_anchor == kHexNone) return result;
  if (!m_dragBox.IsEmpty()) {
    if (m_dragBox.Contains(point.x, point.y)) return result;
    m_dragBox = HexRect{};
  }
  if (m_multiLine) {
    if (point.y < m_textRect.top) {
      const int steps = std::min((m_textRect.top - point.y + 1) / 5, 6);
      result.startTimer = StartAutoScroll(point, -1, static_cast<uint16_t>(7 - steps));
    } else if (point.y >= m_textRect.bottom) {
      const int steps = std::min((point.y - m_textRect.bottom + 1) / 5, 6);
      result.startTimer = StartAutoScroll(point, 1, static_cast<uint16_t>(7 - steps));
    } else if (point.x >= m_textRect.left && point.x < m_textRect.right) {
      result.stopTimer = StopAutoScroll();
    }
  }
  DragUpdate(point);
  result.changed = true;
  return result;
}

bool HexEditModel::StartAutoScroll(HexPoint point, int direction, uint16_t reload) {
  m_autoScrollPoint = point;
  m_autoScrollDir = direction;
  m_autoScrollReload = reload;
  if (m_autoScrollRunning || !m_multiLine) return false;
  m_autoScrollCountdown = reload;
  m_autoScrollRunning = true;
  return true;
}

bool HexEditModel::StopAutoScroll() {
  const bool wasRunning = m_autoScrollRunning;
  m_autoScrollRunning = false;
  return wasRunning;
}

bool HexEditModel::AutoScrollTick() {
  if (!m_autoScrollRunning) return false;
  if (m_autoScrollCountdown != 0) {
    --m_autoScrollCountdown;
    return false;
  }
  m_autoScrollCountdown = m_autoScrollReload;
  SetTopLine(int64_t{m_topLine} + m_autoScrollDir);
  if (HasData() && m_anchor != kHexNone) DragUpdate(m_autoScrollPoint);
  return true;
}

bool HexEditModel::DoubleClick(HexPoint point) {
  uint32_t pos;
  bool high;
  if (!PointToPos(point, pos, high)) return false;
  PlaceCaret(pos, high);
  m_selBegin = m_selEnd = pos;
  return true;
}

void HexEditModel::ContextClick(HexPoint point) {
  uint32_t pos;
  bool high;
  if (!PointToPos(point, pos, high)) return;
  if (HasSelection() && pos >= m_selBegin && pos <= m_selEnd) return;
  m_selBegin = m_selEnd = kHexNone;
  PlaceCaret(pos, true);
}


bool HexEditModel::SelectAll() {
  if (!HasData()) return false;
  if (m_selBegin == 0 && m_selEnd == m_dataSize - 1) return false;
  m_selBegin = 0;
  m_selEnd = m_dataSize - 1;
  return true;
}

void HexEditModel::SetSel(uint32_t first, uint32_t last, bool makeVisible) {
  if (first != kHexNone && first >= m_dataSize) first = m_dataSize - 1;
  if (last != kHexNone && last >= m_dataSize) last = m_dataSize - 1;
  // An unset end (or no data) leaves no selection at all.
  if (first == kHexNone || last == kHexNone) {
    m_selBegin = m_selEnd = kHexNone;
    return;
  }
  m_selBegin = std::min(first, last);
  m_selEnd = std::max(first, last);
  if (makeVisible) MakeVisible(m_selBegin, m_selEnd);
}

std::string HexEditModel::CopyText() const {
  std::string text;
  if (!HasSelection() || !HasData()) return text;
  const uint32_t m = m_bytesPerRow;
  // A selection longer than a row keeps the rows' columns as on screen.
  uint32_t column = m_selEnd - m_selBegin > m ? m_selBegin % m : 0;
  text.reserve((uint64_t{m_selEnd} - m_selBegin + 1) * 3 + uint64_t{column} * 3 + 1);
  text.append(std::size_t{column} * 3, ' ');
  for (uint64_t i = m_selBegin; i <= m_selEnd; ++i) {
    const uint8_t b = m_data[i];
    text += kHexDigits[b >> 4];
    text += kHexDigits[b & 0x0F];
    if (++column == m || i == m_selEnd) {
      text += '\n';
      column = 0;
    } else {
      text += ' ';
    }
  }
  return text;
}

std::vector<uint8_t> HexEditModel::CopyBlock() const {
  std::vector<uint8_t> block;
  if (!HasSelection() || !HasData()) return block;
  const uint32_t n = m_selEnd - m_selBegin + 1;
  block.resize(std::size_t{4} + n);
  kestrel::put32(block.data(), n);
  std::copy(m_data.begin() + m_selBegin, m_data.begin() + m_selBegin + n, block.begin() + 4);
  return block;
}

std::optional<HexBlockBytes> HexEditModel::ParseBinaryBlock(const uint8_t* block, size_t blockSize) {
  const kestrel::ByteView view(block, blockSize);
  if (!view.Has(0, 4)) return std::nullopt;
  HexBlockBytes out;
  const uint64_t available = blockSize - 4;
  out.count = static_cast<uint32_t>(std::min<uint64_t>(view.u32(0), available));
  out.bytes = block + 4;
  return out;
}

uint32_t HexEditModel::Paste(const uint8_t* bytes, uint32_t count) {
  if (m_readOnly || !HasData() || !bytes) return 0;
  const uint32_t point = HasSelection() ? m_selBegin : m_caretPos;
  if (point >= m_dataSize) return 0;
  const uint32_t n = std::min(count, m_dataSize - point);
  if (n == 0) return 0;
  std::copy(bytes, bytes + n, m_data.begin() + point);
  m_selBegin = point;
  m_selEnd = point + n - 1;
  MakeVisible(m_selBegin, m_selEnd);
  PlaceCaret(m_selEnd, false);
  return n;
}

}  // namespace restorix
