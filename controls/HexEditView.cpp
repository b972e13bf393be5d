// The hex view's look: its settings, layout, scroll bars, caret and
// painting; the window and its input are in HexEditBase.cpp.
#include "controls/HexEditBase.h"

#include <algorithm>
#include <string>

namespace {

void Fill(HDC dc, int left, int top, int right, int bottom, COLORREF colour) {
  if (right <= left || bottom <= top) return;
  const RECT r{left, top, right, bottom};
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

void DrawAscii(HDC dc, int x, int y, const std::string& text, size_t from = 0, size_t count = std::string::npos) {
  if (from >= text.size()) return;
  count = std::min(count, text.size() - from);
  std::wstring wide(text.begin() + static_cast<std::ptrdiff_t>(from),
                    text.begin() + static_cast<std::ptrdiff_t>(from + count));
  ExtTextOutW(dc, x, y, 0, nullptr, wide.c_str(), static_cast<UINT>(wide.size()), nullptr);
}

}  // namespace

// ------------------------------------------------------------ configuration

void CHexEditBase::SetReadOnly(bool readOnly, bool repaint) {
  m_model.m_readOnly = readOnly ? 1 : 0;
  if (repaint) Invalidate();
}

void CHexEditBase::ExtendContextMenu(HMENU) {}

void CHexEditBase::SetData(const BYTE* data, UINT size, bool repaint) {
  m_model.SetData(data, size);
  if (!m_hwnd) return;
  if (repaint) Invalidate();
  PlaceCaret(0, true);
}

void CHexEditBase::AfterLayoutChange(bool repaint) {
  m_model.m_layoutDirty = true;
  if (!m_hwnd) return;
  ReplaceCaret();
  if (repaint) Invalidate();
}

void CHexEditBase::SetBytesPerRow(UINT count, bool automatic, bool repaint) {
  if (count == m_model.m_bytesPerRowSetting && automatic == m_model.m_autoBytesPerRow) return;
  m_model.m_bytesPerRowSetting = count;
  m_model.m_autoBytesPerRow = automatic;
  AfterLayoutChange(repaint);
}

void CHexEditBase::SetAddressDigits(BYTE digits, bool repaint) {
  m_model.m_addressDigits = digits;
  AfterLayoutChange(repaint);
}

void CHexEditBase::SetShowAddress(bool show, bool repaint) {
  if (show == m_model.m_showAddress) return;
  m_model.m_showAddress = show;
  AfterLayoutChange(repaint);
}

void CHexEditBase::SetShowAscii(bool show, bool repaint) {
  if (show == m_model.m_showAscii) return;
  m_model.m_showAscii = show;
  AfterLayoutChange(repaint);
}

void CHexEditBase::SetAddressColors(COLORREF background, COLORREF text, bool repaint) {
  m_addressBack = background;
  m_addressText = text;
  if (repaint) Invalidate();
}

void CHexEditBase::SetHexColors(COLORREF background, COLORREF text, bool repaint) {
  m_hexBack = background;
  m_hexText = text;
  if (repaint) Invalidate();
}

void CHexEditBase::SetAsciiColors(COLORREF background, COLORREF text, bool repaint) {
  m_asciiBack = background;
  m_asciiText = text;
  if (repaint) Invalidate();
}

void CHexEditBase::SetSel(UINT first, UINT last, bool makeVisible, bool repaint) {
  EnsureLayout();
  m_model.SetSel(first, last, makeVisible);
  SyncScrollPositions();
  if (repaint) Invalidate();
}

void CHexEditBase::OnSetFont(HFONT font, bool redraw) {
  LOGFONTW lf = {};
  // Only a fixed-pitch font keeps the columns aligned; the control keeps its own copy.
  if (font && GetObjectW(font, sizeof lf, &lf) != 0 && (lf.lfPitchAndFamily & 3) == FIXED_PITCH) {
    if (HFONT copy = CreateFontIndirectW(&lf)) {
      if (m_ownsFont && m_font) DeleteObject(m_font);
      m_font = copy;
      m_ownsFont = true;
    }
  }
  if (!m_font) {
    m_font = static_cast<HFONT>(GetStockObject(SYSTEM_FIXED_FONT));
    m_ownsFont = false;
  }
  m_model.m_layoutDirty = true;
  if (m_hwnd) ReplaceCaret();
  if (redraw) Invalidate();
}

// ---------------------------------------------------------------- layout

bool CHexEditBase::IsMultiLine() const {
  return m_hwnd && (GetWindowLongPtrW(m_hwnd, GWL_STYLE) & ES_MULTILINE) != 0;
}

bool CHexEditBase::HasFocus() const { return m_hwnd && GetFocus() == m_hwnd; }

void CHexEditBase::Invalidate() {
  if (m_hwnd) InvalidateRect(m_hwnd, nullptr, FALSE);
}

void CHexEditBase::EnsureLayout() {
  if (m_model.m_layoutDirty && m_hwnd) RecalcLayout();
}

void CHexEditBase::RecalcLayout() {
  if (!m_hwnd) return;
  m_model.m_multiLine = IsMultiLine();
  int charWidth = 8, lineHeight = 16;
  if (HDC dc = GetDC(m_hwnd)) {
    HGDIOBJ old = SelectObject(dc, m_font);
    INT advance = 0;
    if (GetCharWidth32W(dc, L'0', L'0', &advance)) charWidth = advance;
    SIZE extent = {};
    if (GetTextExtentPoint32W(dc, L"0", 1, &extent)) {
      lineHeight = extent.cy;
      if (charWidth <= 0) charWidth = extent.cx;
    }
    SelectObject(dc, old);
    ReleaseDC(m_hwnd, dc);
  }
  RECT client = {};
  GetClientRect(m_hwnd, &client);
  m_model.RecalcLayout(restorix::HexRect{client.left, client.top, client.right, client.bottom}, charWidth, lineHeight);
  // The scroll bars follow once the current message is done: showing one
  // resizes the window, which lays it out again.
  if (!m_scrollBarsPending && PostMessageW(m_hwnd, kUpdateScrollBarsMessage, 0, 0)) m_scrollBarsPending = true;
}

void CHexEditBase::UpdateScrollBars() {
  if (!m_hwnd || !IsMultiLine()) return;
  EnsureLayout();
  const auto apply = [this](int bar, const restorix::HexScrollBar& state) {
    if (!state.shown) {
      ShowScrollBar(m_hwnd, bar, FALSE);
      return;
    }
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
    info.nMin = 0;
    info.nMax = state.max;
    info.nPage = static_cast<UINT>(state.page);
    info.nPos = state.pos;
    SetScrollInfo(m_hwnd, bar, &info, TRUE);
    EnableScrollBar(m_hwnd, bar, ESB_ENABLE_BOTH);
    ShowScrollBar(m_hwnd, bar, TRUE);
  };
  apply(SB_VERT, m_model.VerticalBar());
  apply(SB_HORZ, m_model.HorizontalBar());
}

void CHexEditBase::SyncScrollPositions() {
  if (!m_hwnd || !m_model.m_multiLine) return;
  if (m_model.VerticalBar().shown) SetScrollPos(m_hwnd, SB_VERT, static_cast<int>(m_model.m_topLine), TRUE);
  if (m_model.HorizontalBar().shown) SetScrollPos(m_hwnd, SB_HORZ, m_model.m_scrollX, TRUE);
}

void CHexEditBase::SetTopLine(int64_t line, bool repaint) {
  EnsureLayout();
  if (!m_model.SetTopLine(line)) return;
  SyncScrollPositions();
  if (repaint) Invalidate();
  ReplaceCaret();
}

void CHexEditBase::SetScrollX(int64_t x) {
  EnsureLayout();
  if (!m_model.SetScrollX(x)) return;
  SyncScrollPositions();
  Invalidate();
  ReplaceCaret();
}

// ---------------------------------------------------------------- caret

void CHexEditBase::PlaceCaret(uint32_t pos, bool high) {
  m_model.PlaceCaret(pos, high);
  if (!m_hwnd) return;
  if (!m_model.HasData()) {
    RemoveCaret();
    return;
  }
  EnsureLayout();
  const restorix::HexCaretBox box = m_model.CaretBox(HasFocus());
  if (!box.shown) {
    RemoveCaret();
    return;
  }
  // A new caret each time: its height differs on the partly visible row.
  if (m_caretShown) DestroyCaret();
  m_caretShown = CreateCaret(m_hwnd, nullptr, box.width, box.height) != FALSE;
  if (!m_caretShown) return;
  SetCaretPos(box.x, box.y);
  ShowCaret(m_hwnd);
}

void CHexEditBase::RemoveCaret() {
  if (!m_caretShown) return;
  DestroyCaret();
  m_caretShown = false;
}

void CHexEditBase::NotifyChange() {
  if (!m_hwnd) return;
  SendMessageW(GetParent(m_hwnd), WM_COMMAND, MAKEWPARAM(GetDlgCtrlID(m_hwnd), EN_CHANGE),
               reinterpret_cast<LPARAM>(m_hwnd));
}

// ---------------------------------------------------------------- painting

void CHexEditBase::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  if (!dc) return;
  RECT client = {};
  GetClientRect(m_hwnd, &client);
  const int width = client.right - client.left, height = client.bottom - client.top;
  if (width > 0 && height > 0) {
    // Drawn off screen and copied in one go, so that nothing flickers.
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = memory ? CreateCompatibleBitmap(dc, width, height) : nullptr;
    if (bitmap) {
      HGDIOBJ oldBitmap = SelectObject(memory, bitmap);
      Draw(memory, client);
      BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
      SelectObject(memory, oldBitmap);
      DeleteObject(bitmap);
    } else {
      Draw(dc, client);
    }
    if (memory) DeleteDC(memory);
  }
  EndPaint(m_hwnd, &ps);
}

void CHexEditBase::Draw(HDC dc, const RECT& client) {
  HGDIOBJ oldFont = SelectObject(dc, m_font);
  EnsureLayout();
  Fill(dc, client.left, client.top, client.right, client.bottom, m_windowBack);
  const restorix::HexEditModel& m = m_model;
  if (!m.HasData()) {
    SelectObject(dc, oldFont);
    return;
  }
  const restorix::HexRect& text = m.m_textRect;
  const int saved = SaveDC(dc);
  IntersectClipRect(dc, text.left - 2, text.top, text.right + 2, text.bottom);
  const uint32_t firstRow = m.FirstPaintRow(), endRow = m.EndPaintRow();
  const int cw = m.m_charWidth, lh = m.m_lineHeight;

  if (m.m_showAddress) {
    const int x = m.ScreenX(m.m_addressX);
    const int right = x + m.m_addressWidth - 5;
    Fill(dc, x, text.top, right, text.bottom, m_addressBack);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, m_addressBack);
    SetTextColor(dc, m_addressText);
    for (uint32_t row = firstRow; row < endRow; ++row) {
      const std::string address = m.AddressText(row);
      const std::wstring wide(address.begin(), address.end());
      RECT cell{x, m.RowTop(row), right, m.RowTop(row) + lh};
      DrawTextW(dc, wide.c_str(), static_cast<int>(wide.size()), &cell, DT_SINGLELINE | DT_NOPREFIX | DT_NOCLIP);
    }
  }

  const int hexLeft = m.ScreenX(m.m_hexX);
  Fill(dc, hexLeft, text.top, hexLeft + m.m_hexWidth, text.bottom, m_hexBack);
  const bool focused = HasFocus();
  const bool showSelection = focused || m.m_multiLine;
  SetBkMode(dc, TRANSPARENT);
  for (uint32_t row = firstRow; row < endRow; ++row) {
    const std::string line = m.HexRowText(row);
    const int top = m.RowTop(row);
    SetTextColor(dc, m_hexText);
    DrawAscii(dc, hexLeft, top, line);
    uint32_t a, b;
    if (showSelection && m.RowSelection(row, a, b)) {
      const int left = hexLeft + cw * 3 * static_cast<int>(a);
      const int right = hexLeft + cw * (3 * static_cast<int>(b) + 2) + 1;
      Fill(dc, left, top + 1, right, top + lh, focused ? m_highlight : m_buttonFace);
      SetTextColor(dc, focused ? m_highlightText : m_windowText);
      DrawAscii(dc, left, top, line, size_t{3} * a, size_t{3} * (b - a) + 2);
    }
  }

  if (m.m_showAscii) {
    const int x = m.ScreenX(m.m_asciiX);
    Fill(dc, x, text.top, x + m.m_asciiWidth, text.bottom, m_asciiBack);
    SetBkMode(dc, OPAQUE);
    SetBkColor(dc, m_asciiBack);
    SetTextColor(dc, m_asciiText);
    for (uint32_t row = firstRow; row < endRow; ++row) DrawAscii(dc, x, m.RowTop(row), m.AsciiRowText(row));
  }
  RestoreDC(dc, saved);
  SelectObject(dc, oldFont);
}
