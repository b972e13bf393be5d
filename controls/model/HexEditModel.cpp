// The hex view model's data, layout, scrolling and row texts; its editing
// side is in HexEditInput.cpp.
#include "controls/model/HexEditModel.h"

#include <algorithm>
#include <climits>
#include <new>

#include "kernel/Bytes.h"

namespace restorix {
namespace {

constexpr char kHexDigits[] = "0123456789ABCDEF";
// Keeps pixel arithmetic inside int for any data size in single-line mode.
constexpr int64_t kMaxPixels = INT_MAX / 4;

int ClampPixels(int64_t v) { return static_cast<int>(std::clamp<int64_t>(v, 0, kMaxPixels)); }

}  // namespace

bool HexEditModel::SetData(const uint8_t* bytes, uint32_t size) {
  m_anchor = kHexNone;
  m_dragEnd = kHexNone;
  m_selBegin = m_selEnd = kHexNone;
  bool ok = true;
  m_data.clear();
  m_data.shrink_to_fit();
  m_dataSize = 0;
  if (bytes && size) {
    try {
      m_data.assign(bytes, bytes + size);
      m_dataSize = size;
    } catch (const std::bad_alloc&) {
      ok = false;
    }
  }
  m_layoutDirty = true;
  m_caretPos = 0;
  m_caretHigh = true;
  return ok;
}

uint32_t HexEditModel::DataRows() const {
  return static_cast<uint32_t>((uint64_t{m_dataSize} + m_bytesPerRow - 1) / m_bytesPerRow);
}

void HexEditModel::RecalcLayout(const HexRect& client, int charWidth, int lineHeight) {
  m_layoutDirty = false;
  const int cw = std::max(charWidth, 1);
  const int lh = std::max(lineHeight, 1);
  m_charWidth = cw;
  m_lineHeight = lh;

  m_textRect = client;
  if (m_multiLine) {
    m_textRect.left += 5;
    m_textRect.top += 5;
    m_textRect.right -= 5;
    m_textRect.bottom -= 5;
  }
  if (m_textRect.right < m_textRect.left) m_textRect.right = m_textRect.left;
  if (m_textRect.bottom < m_textRect.top) m_textRect.bottom = m_textRect.top;

  const int height = m_textRect.Height();
  m_fullRows = height / lh;
  m_lastRowHeight = height % lh;
  m_totalRows = m_fullRows;
  if (m_lastRowHeight != 0)
    ++m_totalRows;
  else
    m_lastRowHeight = lh;

  m_addressWidth = m_showAddress ? m_addressDigits * cw + 5 : 0;

  int64_t perRow;
  if (!m_multiLine) {
    perRow = m_dataSize;
  } else if (m_autoBytesPerRow) {
    const int64_t e = int64_t{m_textRect.Width()} - m_addressWidth;
    if (m_showAscii) {
      const int64_t room = e - 5;
      perRow = room < 0 ? 1 : room / (4 * cw) + (room % (4 * cw) >= 3 * cw ? 1 : 0);
    } else {
      perRow = e < 0 ? 1 : e / (3 * cw) + (e % (3 * cw) >= 2 * cw ? 1 : 0);
    }
  } else {
    perRow = m_bytesPerRowSetting;
  }
  m_bytesPerRow = perRow < 1 ? 1 : static_cast<uint32_t>(perRow);

  m_addressX = 0;
  m_hexX = m_addressWidth + 15;
  m_hexWidth = ClampPixels(int64_t{cw} * (3 * int64_t{m_bytesPerRow} - 1));
  m_asciiX = ClampPixels(int64_t{m_hexX} + m_hexWidth + 20);
  m_asciiWidth = ClampPixels(int64_t{m_bytesPerRow} * cw);
  m_contentWidth = m_showAscii ? ClampPixels(int64_t{m_asciiX} + m_asciiWidth) : m_hexX + m_hexWidth;

  const uint32_t rows = DataRows();
  m_maxTopLine = rows > static_cast<uint32_t>(m_fullRows) ? rows - static_cast<uint32_t>(m_fullRows) : 0;
  m_topLine = std::min(m_topLine, m_maxTopLine);

  m_maxScrollX = m_contentWidth > m_textRect.Width() ? m_contentWidth - m_textRect.Width() : 0;
  m_scrollX = std::clamp(m_scrollX, 0, m_maxScrollX);
}

HexScrollBar HexEditModel::VerticalBar() const {
  HexScrollBar bar;
  if (!m_multiLine || m_maxTopLine == 0) return bar;
  bar.shown = true;
  bar.max = ClampPixels(int64_t{m_maxTopLine} + m_fullRows - 1);
  bar.page = m_fullRows;
  bar.pos = ClampPixels(m_topLine);
  return bar;
}

HexScrollBar HexEditModel::HorizontalBar() const {
  HexScrollBar bar;
  if (!m_multiLine || m_maxScrollX == 0) return bar;
  bar.shown = true;
  bar.max = ClampPixels(int64_t{m_maxScrollX} + m_textRect.Width() - 1);
  bar.page = m_textRect.Width();
  bar.pos = m_scrollX;
  return bar;
}

bool HexEditModel::SetTopLine(int64_t line) {
  if (!m_multiLine) return false;
  const uint32_t top = static_cast<uint32_t>(std::clamp<int64_t>(line, 0, m_maxTopLine));
  if (top == m_topLine) return false;
  m_topLine = top;
  return true;
}

bool HexEditModel::SetScrollX(int64_t x) {
  const int value = static_cast<int>(std::clamp<int64_t>(x, 0, m_maxScrollX));
  if (value == m_scrollX) return false;
  m_scrollX = value;
  return true;
}

bool HexEditModel::Wheel(int delta) {
  const int rows = delta / -120;
  return SetTopLine(int64_t{m_topLine} + rows);
}

std::optional<int64_t> HexEditModel::VerticalTarget(HexScroll request, int trackPos) const {
  const int64_t top = m_topLine;
  switch (request) {
    case HexScroll::LineUp: return top - 1;
    case HexScroll::LineDown: return top + 1;
    case HexScroll::PageUp: return top - m_fullRows;
    case HexScroll::PageDown: return top + m_fullRows;
    case HexScroll::Track: return trackPos;
    case HexScroll::Other: break;
  }
  return std::nullopt;
}

std::optional<int64_t> HexEditModel::HorizontalTarget(HexScroll request, int trackPos) const {
  const int64_t x = m_scrollX;
  switch (request) {
    case HexScroll::LineUp: return x - m_charWidth;
    case HexScroll::LineDown: return x + m_charWidth;
    case HexScroll::PageUp: return x - m_textRect.Width();
    case HexScroll::PageDown: return x + m_textRect.Width();
    case HexScroll::Track: return trackPos;
    case HexScroll::Other: break;
  }
  return std::nullopt;
}

uint32_t HexEditModel::EndPaintRow() const {
  const uint64_t end = uint64_t{m_topLine} + static_cast<uint32_t>(std::max(m_totalRows, 0));
  return static_cast<uint32_t>(std::min<uint64_t>(end, DataRows()));
}

std::string HexEditModel::AddressText(uint32_t row) const {
  // As "%0NX" would print it: zero-padded to the address digits, never cut.
  uint64_t address = static_cast<uint64_t>(RowStart(row));
  std::string digits;
  do {
    digits.insert(digits.begin(), kHexDigits[address & 0x0F]);
    address >>= 4;
  } while (address != 0);
  if (digits.size() < m_addressDigits) digits.insert(0, m_addressDigits - digits.size(), '0');
  return digits;
}

std::string HexEditModel::HexRowText(uint32_t row) const {
  std::string text;
  const uint64_t first = RowStart(row);
  if (first >= m_dataSize) return text;
  const uint64_t end = std::min<uint64_t>(first + m_bytesPerRow, m_dataSize);
  text.reserve((end - first) * 3);
  for (uint64_t i = first; i < end; ++i) {
    if (i != first) text += ' ';
    text += kHexDigits[m_data[i] >> 4];
    text += kHexDigits[m_data[i] & 0x0F];
  }
  return text;
}

std::string HexEditModel::AsciiRowText(uint32_t row) const {
  std::string text;
  const uint64_t first = RowStart(row);
  if (first >= m_dataSize) return text;
  const uint64_t end = std::min<uint64_t>(first + m_bytesPerRow, m_dataSize);
  for (uint64_t i = first; i < end; ++i) {
    const uint8_t b = m_data[i];
    text += (b >= 0x20 && b <= 0x7E) ? static_cast<char>(b) : '.';
  }
  return text;
}

bool HexEditModel::RowSelection(uint32_t row, uint32_t& firstColumn, uint32_t& lastColumn) const {
  if (!HasSelection()) return false;
  const int64_t first = RowStart(row);
  const int64_t last = std::min<int64_t>(first + m_bytesPerRow, m_dataSize) - 1;
  const int64_t a = std::max<int64_t>(first, m_selBegin);
  const int64_t b = std::min<int64_t>(last, m_selEnd);
  if (a > b) return false;
  firstColumn = static_cast<uint32_t>(a - first);
  lastColumn = static_cast<uint32_t>(b - first);
  return true;
}

int HexEditModel::RowTop(uint32_t row) const {
  return m_textRect.top + static_cast<int>(int64_t{row} - m_topLine) * m_lineHeight;
}

}  // namespace restorix
