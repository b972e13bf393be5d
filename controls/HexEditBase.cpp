// The hex view's window and its input; its settings, layout, caret and
// painting are in HexEditView.cpp.
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
