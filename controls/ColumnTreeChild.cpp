// The tree inside the column tree: selection and activation only over an
// item's first-column text, and flicker-free painting.
#include "controls/ColumnTreeCtrl.h"

#include <windowsx.h>

#include "controls/ColumnTreeDraw.h"

using column_tree::Fill;
using column_tree::TextWidth;
using restorix::LabelPart;

namespace {
constexpr UINT_PTR kTreeSubclassId = 0x435454;  // "CTT"
}  // namespace

// ---------------------------------------------------------------- child tree

CCustomTreeChildCtrl::~CCustomTreeChildCtrl() {
  if (m_hwnd && IsWindow(m_hwnd)) RemoveWindowSubclass(m_hwnd, &CCustomTreeChildCtrl::SubclassProc, kTreeSubclassId);
}

bool CCustomTreeChildCtrl::Create(HWND parent, int id, DWORD style) {
  HWND tree = CreateWindowExW(0, WC_TREEVIEWW, L"", style | WS_CHILD, 0, 0, 0, 0, parent,
                              reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr), nullptr);
  if (!tree) return false;
  if (!SetWindowSubclass(tree, &CCustomTreeChildCtrl::SubclassProc, kTreeSubclassId, reinterpret_cast<DWORD_PTR>(this))) {
    DestroyWindow(tree);
    return false;
  }
  m_hwnd = tree;
  return true;
}

HTREEITEM CCustomTreeChildCtrl::InsertItem(const wchar_t* text, int image, int selectedImage, HTREEITEM parent,
                                           HTREEITEM after) {
  TVINSERTSTRUCTW insert = {};
  insert.hParent = parent ? parent : TVI_ROOT;
  insert.hInsertAfter = after;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<wchar_t*>(text);
  insert.item.iImage = image;
  insert.item.iSelectedImage = selectedImage;
  return TreeView_InsertItem(m_hwnd, &insert);
}

std::wstring CCustomTreeChildCtrl::GetItemText(HTREEITEM item) const {
  wchar_t text[1024] = {};
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = static_cast<int>(std::size(text));
  if (!item || !TreeView_GetItem(m_hwnd, &tv)) return std::wstring();
  return text;
}

LPARAM CCustomTreeChildCtrl::GetItemData(HTREEITEM item) const {
  TVITEMW tv = {};
  tv.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  if (!item || !TreeView_GetItem(m_hwnd, &tv)) return 0;
  return tv.lParam;
}

void CCustomTreeChildCtrl::SetItemData(HTREEITEM item, LPARAM data) {
  TVITEMW tv = {};
  tv.mask = TVIF_PARAM | TVIF_HANDLE;
  tv.hItem = item;
  tv.lParam = data;
  TreeView_SetItem(m_hwnd, &tv);
}

bool CCustomTreeChildCtrl::IsOverLabel(POINT point) const {
  TVHITTESTINFO hit = {};
  hit.pt = point;
  TreeView_HitTest(m_hwnd, &hit);
  RECT client;
  GetClientRect(m_hwnd, &client);
  RECT text = {};
  restorix::LabelHitQuery q;
  q.x = point.x;
  q.y = point.y;
  q.hitFlags = hit.flags;
  q.hasItem = hit.hItem && TreeView_GetItemRect(m_hwnd, hit.hItem, &text, TRUE);
  q.textRect = {text.left, text.top, text.right, text.bottom};
  q.clientRight = client.right;
  q.fullRowSelect = (GetWindowLongPtrW(m_hwnd, GWL_STYLE) & TVS_FULLROWSELECT) != 0;
  q.firstColumnWidth = m_firstColumnWidth;
  return restorix::IsOverLabelAt(q, [&] {
    HDC dc = GetDC(m_hwnd);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(m_hwnd, WM_GETFONT, 0, 0)));
    const int width = TextWidth(dc, LabelPart(GetItemText(hit.hItem), 0).value_or(std::wstring()));
    SelectObject(dc, old);
    ReleaseDC(m_hwnd, dc);
    return width;
  });
}

LRESULT CALLBACK CCustomTreeChildCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                    DWORD_PTR self) noexcept {
  auto* tree = reinterpret_cast<CCustomTreeChildCtrl*>(self);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &CCustomTreeChildCtrl::SubclassProc, kTreeSubclassId);
    if (tree) tree->m_hwnd = nullptr;
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  try {
    if (tree && tree->m_hwnd == hwnd) return tree->Handle(message, wParam, lParam);
  } catch (...) {
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CCustomTreeChildCtrl::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN:
    case WM_LBUTTONDBLCLK: {
      const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!IsOverLabel(pt)) {
        SetFocus(m_hwnd);
        return 0;
      }
      TVHITTESTINFO hit = {};
      hit.pt = pt;
      HTREEITEM item = TreeView_HitTest(m_hwnd, &hit);
      if (message == WM_LBUTTONDBLCLK) {
        if (item) {
          if (m_activateMessage) PostMessageW(GetParent(GetParent(m_hwnd)), m_activateMessage, 0, 0);
          TreeView_SelectItem(m_hwnd, item);
        }
      } else if (item) {
        TreeView_SelectItem(m_hwnd, item);
      }
      break;
    }
    case WM_MOUSEMOVE: {
      // Hot tracking follows the first column's text only.
      const POINT pt = {GET_X_LPARAM(lParam), GET_Y_LPARAM(lParam)};
      if (!IsOverLabel(pt)) return 0;
      break;
    }
    case WM_KEYDOWN:
      InvalidateRect(m_hwnd, nullptr, TRUE);
      break;
    case WM_TIMER:
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      PaintBuffered();
      return 0;
    default:
      break;
  }
  return DefSubclassProc(m_hwnd, message, wParam, lParam);
}

void CCustomTreeChildCtrl::PaintBuffered() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  if (rc.right > 0 && rc.bottom > 0) {
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, rc.right, rc.bottom);
    HGDIOBJ old = SelectObject(memory, bitmap);
    // Painting into a given device context leaves the background to us.
    const COLORREF back = TreeView_GetBkColor(m_hwnd);
    const bool enabled = IsWindowEnabled(m_hwnd) != FALSE;
    Fill(memory, rc, !enabled ? GetSysColor(COLOR_BTNFACE)
                              : back == static_cast<COLORREF>(-1) ? GetSysColor(COLOR_WINDOW) : back);
    DefSubclassProc(m_hwnd, WM_PAINT, reinterpret_cast<WPARAM>(memory), 0);
    BitBlt(dc, 0, 0, rc.right, rc.bottom, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  EndPaint(m_hwnd, &ps);
}
