#include "controls/MyListCtrl.h"

#include <commctrl.h>

bool CMyListCtrl::Attach(HWND dialog, int id) {
  m_hwnd = GetDlgItem(dialog, id);
  return m_hwnd != nullptr;
}

bool CMyListCtrl::SubclassHeader() {
  if (!m_hwnd) return false;
  return m_header.SubclassWindow(ListView_GetHeader(m_hwnd));
}

int CMyListCtrl::GetItemCheck(int row) const {
  if (!m_hwnd) return 0;
  const UINT state = ListView_GetItemState(m_hwnd, row, LVIS_STATEIMAGEMASK);
  const int image = static_cast<int>(state >> 12);
  return image > 0 ? image - 1 : 0;
}

void CMyListCtrl::SetItemCheck(int row, bool checked) {
  if (!m_hwnd) return;
  ListView_SetItemState(m_hwnd, row, INDEXTOSTATEIMAGEMASK(checked ? 2 : 1), LVIS_STATEIMAGEMASK);
}
