// CMyListCtrl: a report list with check boxes whose column header paints
// itself flat (CColorHeaderCtrl). A row's check state is its state-image
// index minus one: 2 is checked, 1 unchecked.
#pragma once

#include <windows.h>

#include "controls/ColorHeaderCtrl.h"

class CMyListCtrl {
 public:
  CMyListCtrl() = default;
  CMyListCtrl(const CMyListCtrl&) = delete;
  CMyListCtrl& operator=(const CMyListCtrl&) = delete;

  // Takes the dialog's list control `id`; false when there is none.
  bool Attach(HWND dialog, int id);
  // Hands the list's header window to `m_header` for painting.
  bool SubclassHeader();
  HWND Hwnd() const { return m_hwnd; }

  // Nonzero when the row is checked.
  int GetItemCheck(int row) const;
  void SetItemCheck(int row, bool checked);

  CColorHeaderCtrl m_header;

 private:
  HWND m_hwnd = nullptr;
};
