// Small drawing helpers shared by the column tree and its inner tree.
#pragma once

#include <windows.h>

#include <string>

namespace column_tree {

inline int TextWidth(HDC dc, const std::wstring& text) {
  RECT r = {0, 0, 0, 0};
  DrawTextW(dc, text.c_str(), static_cast<int>(text.size()), &r, DT_CALCRECT | DT_SINGLELINE | DT_NOPREFIX);
  return r.right - r.left;
}

inline void Fill(HDC dc, const RECT& r, COLORREF colour) {
  HBRUSH brush = CreateSolidBrush(colour);
  FillRect(dc, &r, brush);
  DeleteObject(brush);
}

}  // namespace column_tree
