#include "controls/HexEditBase.h"

#include <commctrl.h>
#include <windowsx.h>

#include <algorithm>
#include <cstring>
#include <string>

using restorix::HexKey;
using restorix::HexPoint;
using restorix::HexScroll;

namespace {

constexpr UINT_PTR kSubclassId = 0x484558;  // "HEX"
constexpr wchar_t kClassName[] = L"CHexEditBase";
constexpr wchar_t kSelfOwningClassName[] = L"CHexEditBase_SC";
// The window property that leads from a window to its control object.
constexpr wchar_t kObjectProperty[] = L"CHexEditBase.object";

HexPoint ToHex(POINT p) { return HexPoint{p.x, p.y}; }

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

bool ShiftDown() { return GetKeyState(VK_SHIFT) < 0; }

// Copies `size` bytes into a movable global block for the clipboard.
HGLOBAL GlobalCopy(const void* bytes, size_t size) {
  HGLOBAL block = GlobalAlloc(GMEM_MOVEABLE, size);
  if (!block) return nullptr;
  void* p = GlobalLock(block);
  if (!p) {
    GlobalFree(block);
    return nullptr;
  }
  std::memcpy(p, bytes, size);
  GlobalUnlock(block);
  return block;
}

}  // namespace

CHexEditBase::CHexEditBase() {
  RegisterClasses();
  m_windowText = GetSysColor(COLOR_WINDOWTEXT);
  m_buttonFace = GetSysColor(COLOR_BTNFACE);
  m_highlightText = GetSysColor(COLOR_HIGHLIGHTTEXT);
  m_highlight = GetSysColor(COLOR_HIGHLIGHT);
  m_font = static_cast<HFONT>(GetStockObject(ANSI_FIXED_FONT));
}

CHexEditBase::~CHexEditBase() {
  if (m_hwnd && IsWindow(m_hwnd)) {
    HWND hwnd = m_hwnd;
    if (m_model.StopAutoScroll()) KillTimer(hwnd, kAutoScrollTimer);
    RemoveCaret();
    RemoveWindowSubclass(hwnd, &CHexEditBase::SubclassProc, kSubclassId);
    RemovePropW(hwnd, kObjectProperty);
    m_hwnd = nullptr;
    DestroyWindow(hwnd);
  }
  if (m_ownsFont && m_font) DeleteObject(m_font);
}

bool CHexEditBase::RegisterClasses() {
  static const bool registered = [] {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    wc.style = CS_HREDRAW | CS_VREDRAW | CS_DBLCLKS;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.hCursor = LoadCursorW(nullptr, IDC_IBEAM);
    wc.lpfnWndProc = DefWindowProcW;
    wc.lpszClassName = kClassName;
    const bool plain = RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    wc.lpfnWndProc = &CHexEditBase::SelfOwningProc;
    wc.lpszClassName = kSelfOwningClassName;
    const bool selfOwning = RegisterClassExW(&wc) || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
    return plain && selfOwning;
  }();
  BinaryDataFormat();
  return registered;
}

UINT CHexEditBase::BinaryDataFormat() {
  static const UINT format = RegisterClipboardFormatW(L"BinaryData");
  return format;
}

CHexEditBase* CHexEditBase::FromHandle(HWND hwnd) {
  return hwnd ? static_cast<CHexEditBase*>(GetPropW(hwnd, kObjectProperty)) : nullptr;
}

bool CHexEditBase::Attach(HWND dialog, int id) { return AttachWindow(GetDlgItem(dialog, id)); }

bool CHexEditBase::AttachWindow(HWND hwnd) {
  if (!hwnd || m_hwnd || FromHandle(hwnd)) return false;
  if (!SetPropW(hwnd, kObjectProperty, this)) return false;
  if (!SetWindowSubclass(hwnd, &CHexEditBase::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    RemovePropW(hwnd, kObjectProperty);
    return false;
  }
  m_hwnd = hwnd;
  m_model.m_multiLine = IsMultiLine();
  m_model.m_layoutDirty = true;
  InvalidateRect(m_hwnd, nullptr, FALSE);
  return true;
}

bool CHexEditBase::Create(HWND parent, int id, DWORD style, const RECT& rect, DWORD exStyle) {
  if (m_hwnd) return false;
  HWND hwnd = CreateWindowExW(exStyle, kClassName, L"", style | WS_CHILD, rect.left, rect.top, rect.right - rect.left,
                              rect.bottom - rect.top, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)),
                              GetModuleHandleW(nullptr), nullptr);
  if (!hwnd) return false;
  if (!AttachWindow(hwnd)) {
    DestroyWindow(hwnd);
    return false;
  }
  return true;
}

LRESULT CALLBACK CHexEditBase::SelfOwningProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept {
  // A control made from this class (a dialog template, say) owns itself:
  // the object is made on the first non-client creation message and
  // deleted after the window's last message.
  if (message == WM_NCCREATE && !FromHandle(hwnd)) {
    CHexEditBase* control = nullptr;
    try {
      control = new CHexEditBase;
    } catch (...) {
      return FALSE;
    }
    control->m_autoDelete = true;
    if (!control->AttachWindow(hwnd)) {
      delete control;
      return FALSE;
    }
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

LRESULT CALLBACK CHexEditBase::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                            DWORD_PTR self) noexcept {
  try {
    return reinterpret_cast<CHexEditBase*>(self)->Handle(message, wParam, lParam);
  } catch (...) {
    return message == WM_NCDESTROY ? DefSubclassProc(hwnd, message, wParam, lParam)
                                   : DefWindowProcW(hwnd, message, wParam, lParam);
  }
}

LRESULT CHexEditBase::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = m_hwnd;
  switch (message) {
    case WM_GETDLGCODE:
      return DLGC_WANTALLKEYS;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_PRINTCLIENT: {
      RECT client = {};
      GetClientRect(hwnd, &client);
      Draw(reinterpret_cast<HDC>(wParam), client);
      return 0;
    }
    case WM_SIZE: {
      const LRESULT result = DefWindowProcW(hwnd, message, wParam, lParam);
      m_model.m_layoutDirty = true;
      RecalcLayout();
      ReplaceCaret();
      UpdateScrollBars();
      return result;
    }
    case WM_SETFOCUS:
      ReplaceCaret();
      Invalidate();
      return 0;
    case WM_KILLFOCUS:
      RemoveCaret();
      Invalidate();
      return 0;
    case WM_KEYDOWN:
      OnKeyDown(static_cast<UINT>(wParam));
      return 0;
    case WM_CHAR:
      OnChar(static_cast<UINT>(wParam));
      return 0;
    case WM_LBUTTONDOWN:
      OnLButtonDown(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_MOUSEMOVE:
      OnMouseMove(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)}, wParam);
      return 0;
    case WM_LBUTTONUP:
      OnLButtonUp();
      return 0;
    case WM_CAPTURECHANGED:
      // A lost capture ends a drag like a release would, so no timer is left running.
      StopAutoScroll();
      return 0;
    case WM_LBUTTONDBLCLK:
      OnLButtonDblClk(POINT{GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)});
      return 0;
    case WM_MOUSEWHEEL:
      OnMouseWheel(GET_WHEEL_DELTA_WPARAM(wParam));
      return 0;
    case WM_TIMER:
      if (wParam == kAutoScrollTimer) {
        OnTimer(wParam);
        return 0;
      }
      break;
    case WM_VSCROLL:
      OnVScroll(LOWORD(wParam));
      return 0;
    case WM_HSCROLL:
      OnHScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
      return 0;
    case WM_CONTEXTMENU:
      OnContextMenu(reinterpret_cast<HWND>(wParam), lParam);
      return 0;
    case WM_COMMAND:
      if (OnCommand(LOWORD(wParam))) return 0;
      break;
    case WM_SETFONT:
      OnSetFont(reinterpret_cast<HFONT>(wParam), LOWORD(lParam) != 0);
      return 0;
    case WM_GETFONT:
      return reinterpret_cast<LRESULT>(m_font);
    case kUpdateScrollBarsMessage:
      m_scrollBarsPending = false;
      UpdateScrollBars();
      return 0;
    case WM_DESTROY:
      StopAutoScroll();
      RemoveCaret();
      break;
    case WM_NCDESTROY: {
      RemoveWindowSubclass(hwnd, &CHexEditBase::SubclassProc, kSubclassId);
      RemovePropW(hwnd, kObjectProperty);
      const LRESULT result = DefSubclassProc(hwnd, message, wParam, lParam);
      m_hwnd = nullptr;
      PostNcDestroy();
      return result;
    }
    default:
      break;
  }
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void CHexEditBase::PostNcDestroy() {
  if (m_autoDelete) delete this;
}

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

// ---------------------------------------------------------------- input

void CHexEditBase::OnKeyDown(UINT key) {
  if (GetKeyState(VK_CONTROL) < 0) {
    switch (key) {
      case 'A': SelectAll(); return;
      case 'C': Copy(); return;
      case 'V': Paste(); return;
      default: break;
    }
  }
  const bool shift = ShiftDown();
  HexKey move;
  switch (key) {
    case VK_TAB:
      if (HWND parent = GetParent(m_hwnd)) {
        if (HWND next = GetNextDlgTabItem(parent, m_hwnd, shift)) SetFocus(next);
      }
      return;
    case VK_PRIOR: move = HexKey::PageUp; break;
    case VK_NEXT: move = HexKey::PageDown; break;
    case VK_END: move = HexKey::End; break;
    case VK_HOME: move = HexKey::Home; break;
    case VK_LEFT: move = HexKey::Left; break;
    case VK_RIGHT: move = HexKey::Right; break;
    case VK_UP: move = HexKey::Up; break;
    case VK_DOWN: move = HexKey::Down; break;
    default: return;
  }
  EnsureLayout();
  if (!m_model.KeyMove(move, shift)) return;
  SyncScrollPositions();
  Invalidate();
  ReplaceCaret();
}

void CHexEditBase::OnChar(UINT code) {
  EnsureLayout();
  if (!m_model.TypeChar(code, ShiftDown())) return;
  SyncScrollPositions();
  Invalidate();
  ReplaceCaret();
  NotifyChange();
}

void CHexEditBase::OnLButtonDown(POINT point) {
  SetFocus(m_hwnd);
  EnsureLayout();
  if (!m_model.ButtonDown(ToHex(point), GetSystemMetrics(SM_CXDRAG), GetSystemMetrics(SM_CYDRAG))) return;
  ReplaceCaret();
  Invalidate();
  SetCapture(m_hwnd);
}

void CHexEditBase::OnMouseMove(POINT point, WPARAM keys) {
  // Only a drag that began on the control selects.
  if (!(keys & MK_LBUTTON) || GetCapture() != m_hwnd) return;
  EnsureLayout();
  const restorix::HexDragResult result = m_model.Drag(ToHex(point));
  if (result.startTimer) SetTimer(m_hwnd, kAutoScrollTimer, 5, nullptr);
  if (result.stopTimer) KillTimer(m_hwnd, kAutoScrollTimer);
  if (!result.changed) return;
  ReplaceCaret();
  Invalidate();
}

void CHexEditBase::OnLButtonUp() {
  if (GetCapture() == m_hwnd) ReleaseCapture();
  StopAutoScroll();
  Invalidate();
}

void CHexEditBase::StopAutoScroll() {
  if (m_model.StopAutoScroll() && m_hwnd) KillTimer(m_hwnd, kAutoScrollTimer);
}

void CHexEditBase::OnLButtonDblClk(POINT point) {
  SetFocus(m_hwnd);
  EnsureLayout();
  if (!m_model.DoubleClick(ToHex(point))) return;
  ReplaceCaret();
  Invalidate();
}

void CHexEditBase::OnMouseWheel(int delta) {
  EnsureLayout();
  if (!m_model.Wheel(delta)) return;
  SyncScrollPositions();
  Invalidate();
  ReplaceCaret();
}

void CHexEditBase::OnTimer(UINT_PTR) {
  EnsureLayout();
  if (!m_model.AutoScrollTick()) return;
  SyncScrollPositions();
  ReplaceCaret();
  Invalidate();
}

void CHexEditBase::OnVScroll(int request) {
  if (!m_model.m_multiLine) return;
  EnsureLayout();
  HexScroll kind = HexScroll::Other;
  int track = 0;
  switch (request) {
    case SB_LINEUP: kind = HexScroll::LineUp; break;
    case SB_LINEDOWN: kind = HexScroll::LineDown; break;
    case SB_PAGEUP: kind = HexScroll::PageUp; break;
    case SB_PAGEDOWN: kind = HexScroll::PageDown; break;
    case SB_THUMBTRACK: {
      // The 32-bit track position; the message carries only 16 bits.
      SCROLLINFO info = {};
      info.cbSize = sizeof info;
      info.fMask = SIF_TRACKPOS;
      if (GetScrollInfo(m_hwnd, SB_VERT, &info)) {
        kind = HexScroll::Track;
        track = info.nTrackPos;
      }
      break;
    }
    default: break;
  }
  if (auto target = m_model.VerticalTarget(kind, track)) SetTopLine(*target);
}

void CHexEditBase::OnHScroll(int request, int thumb) {
  EnsureLayout();
  HexScroll kind = HexScroll::Other;
  switch (request) {
    case SB_LINELEFT: kind = HexScroll::LineUp; break;
    case SB_LINERIGHT: kind = HexScroll::LineDown; break;
    case SB_PAGELEFT: kind = HexScroll::PageUp; break;
    case SB_PAGERIGHT: kind = HexScroll::PageDown; break;
    case SB_THUMBTRACK: kind = HexScroll::Track; break;
    default: break;
  }
  if (auto target = m_model.HorizontalTarget(kind, thumb)) SetScrollX(*target);
}

void CHexEditBase::OnContextMenu(HWND, LPARAM screenPoint) {
  POINT point;
  if (screenPoint == -1) {
    point = POINT{5, 5};
    ClientToScreen(m_hwnd, &point);
  } else {
    point = POINT{GET_X_LPARAM(screenPoint), GET_Y_LPARAM(screenPoint)};
    POINT client = point;
    ScreenToClient(m_hwnd, &client);
    EnsureLayout();
    m_model.ContextClick(ToHex(client));
    ReplaceCaret();
    Invalidate();
  }
  HMENU menu = CreatePopupMenu();
  if (!menu) return;
  const UINT copyFlags = MF_STRING | (m_model.HasSelection() ? MF_ENABLED : MF_GRAYED | MF_DISABLED);
  const bool canPaste = !m_model.m_readOnly && IsClipboardFormatAvailable(BinaryDataFormat());
  const UINT pasteFlags = MF_STRING | (canPaste ? MF_ENABLED : MF_GRAYED | MF_DISABLED);
  AppendMenuW(menu, copyFlags, kCmdCopy, m_copyCaption);
  AppendMenuW(menu, pasteFlags, kCmdPaste, m_pasteCaption);
  ExtendContextMenu(menu);
  TrackPopupMenu(menu, TPM_LEFTALIGN | TPM_RIGHTBUTTON, point.x, point.y, 0, m_hwnd, nullptr);
  DestroyMenu(menu);
}

bool CHexEditBase::OnCommand(UINT id) {
  switch (id) {
    case kCmdCopy: Copy(); return true;
    case kCmdPaste: Paste(); return true;
    case kCmdSelectAll: SelectAll(); return true;
    default: return false;
  }
}

// ---------------------------------------------------------------- commands

void CHexEditBase::SelectAll() {
  if (m_model.SelectAll()) Invalidate();
}

void CHexEditBase::Copy() {
  if (!m_model.HasSelection() || !m_model.HasData()) return;
  EnsureLayout();
  const std::string text = m_model.CopyText();
  const std::vector<uint8_t> block = m_model.CopyBlock();
  // Both blocks first: a failed allocation leaves the clipboard as it was.
  HGLOBAL textBlock = GlobalCopy(text.c_str(), text.size() + 1);
  HGLOBAL binaryBlock = textBlock ? GlobalCopy(block.data(), block.size()) : nullptr;
  if (!textBlock || !binaryBlock || !OpenClipboard(m_hwnd)) {
    if (textBlock) GlobalFree(textBlock);
    if (binaryBlock) GlobalFree(binaryBlock);
    return;
  }
  EmptyClipboard();
  if (!SetClipboardData(BinaryDataFormat(), binaryBlock)) GlobalFree(binaryBlock);
  if (!SetClipboardData(CF_TEXT, textBlock)) GlobalFree(textBlock);
  CloseClipboard();
}

void CHexEditBase::Paste() {
  if (m_model.m_readOnly || !m_model.HasData() || !IsClipboardFormatAvailable(BinaryDataFormat())) return;
  if (!OpenClipboard(m_hwnd)) return;
  uint32_t written = 0;
  if (HANDLE handle = GetClipboardData(BinaryDataFormat())) {
    const size_t size = GlobalSize(handle);
    if (const auto* p = static_cast<const uint8_t*>(GlobalLock(handle))) {
      EnsureLayout();
      if (const auto bytes = restorix::HexEditModel::ParseBinaryBlock(p, size))
        written = m_model.Paste(bytes->bytes, bytes->count);
      GlobalUnlock(handle);
    }
  }
  CloseClipboard();
  if (written == 0) return;
  SyncScrollPositions();
  Invalidate();
  ReplaceCaret();
  NotifyChange();
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
