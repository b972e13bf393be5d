#include "controls/ColorHeaderCtrl.h"

#include <commctrl.h>

#include <cstdlib>
#include <cwchar>
#include <iterator>

namespace {
constexpr UINT_PTR kSubclassId = 0x434843;  // "CHC"
}

CColorHeaderCtrl::~CColorHeaderCtrl() { UnsubclassWindow(); }

bool CColorHeaderCtrl::Create(HWND parent, int id, DWORD style) {
  HWND header = CreateWindowExW(0, WC_HEADERW, L"", style | WS_CHILD, 0, 0, 0, 0, parent,
                                reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)), GetModuleHandleW(nullptr),
                                nullptr);
  return header && SubclassWindow(header);
}

bool CColorHeaderCtrl::SubclassWindow(HWND header) {
  UnsubclassWindow();
  if (!header || !SetWindowSubclass(header, &CColorHeaderCtrl::SubclassProc, kSubclassId,
                                    reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hwnd = header;
  return true;
}

void CColorHeaderCtrl::UnsubclassWindow() {
  if (m_hwnd && IsWindow(m_hwnd)) RemoveWindowSubclass(m_hwnd, &CColorHeaderCtrl::SubclassProc, kSubclassId);
  m_hwnd = nullptr;
}

LRESULT CALLBACK CColorHeaderCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                                DWORD_PTR self) noexcept {
  auto* header = reinterpret_cast<CColorHeaderCtrl*>(self);
  try {
    if (message == WM_PAINT && header) {
      header->Paint();
      return 0;
    }
    if (message == WM_NCDESTROY && header) {
      RemoveWindowSubclass(hwnd, &CColorHeaderCtrl::SubclassProc, kSubclassId);
      header->m_hwnd = nullptr;
    }
  } catch (...) {
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

void CColorHeaderCtrl::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  RECT client;
  GetClientRect(m_hwnd, &client);
  HBRUSH fill = CreateSolidBrush(RGB(229, 229, 229));
  FillRect(dc, &client, fill);
  DeleteObject(fill);

  HPEN pen = CreatePen(PS_SOLID, 1, RGB(211, 211, 211));
  LOGFONTW lf = {};
  lf.lfHeight = 100;  // tenths of a point, turned into logical units below
  wcscpy_s(lf.lfFaceName, L"Arail");
  POINT size = {0, MulDiv(lf.lfHeight, GetDeviceCaps(dc, LOGPIXELSY), 720)};
  POINT origin = {0, 0};
  DPtoLP(dc, &size, 1);
  DPtoLP(dc, &origin, 1);
  lf.lfHeight = -std::abs(size.y - origin.y);
  HFONT font = CreateFontIndirectW(&lf);
  HGDIOBJ oldPen = SelectObject(dc, pen);
  HGDIOBJ oldFont = SelectObject(dc, font);
  SetTextColor(dc, RGB(0, 0, 0));

  const int count = Header_GetItemCount(m_hwnd);
  for (int i = 0; i < count; ++i) {
    RECT r;
    if (!Header_GetItemRect(m_hwnd, i, &r)) continue;
    r.top += 4;
    r.bottom += 4;
    MoveToEx(dc, r.right, client.top, nullptr);
    LineTo(dc, r.right, r.bottom);
    wchar_t caption[256] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_FORMAT;
    item.pszText = caption;
    item.cchTextMax = static_cast<int>(std::size(caption));
    Header_GetItem(m_hwnd, i, &item);
    DrawTextW(dc, caption, -1, &r, DT_CENTER | DT_SINGLELINE | DT_NOPREFIX | DT_END_ELLIPSIS);
  }
  SelectObject(dc, oldFont);
  SelectObject(dc, oldPen);
  DeleteObject(font);
  DeleteObject(pen);
  EndPaint(m_hwnd, &ps);
}
