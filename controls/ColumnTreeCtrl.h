// CColumnTreeCtrl: a tree whose items carry several columns of text under a
// column header, like a report list that can nest. It takes over a static
// control placed on a dialog and owns four children: the header, a header
// piece above the tree's vertical scroll bar, the tree, and a horizontal
// scroll bar that moves header and tree together. An item's column texts
// live in its one label, each followed by a tab; the tree's own label
// drawing is replaced by the control's.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "controls/model/ColumnTreeLayout.h"
#include "controls/ColorHeaderCtrl.h"

class CCustomTreeChildCtrl {
 public:
  CCustomTreeChildCtrl() = default;
  ~CCustomTreeChildCtrl();
  CCustomTreeChildCtrl(const CCustomTreeChildCtrl&) = delete;
  CCustomTreeChildCtrl& operator=(const CCustomTreeChildCtrl&) = delete;

  bool Create(HWND parent, int id, DWORD style);
  HWND Hwnd() const { return m_hwnd; }
  operator HWND() const { return m_hwnd; }

  // Whether a client point is over an item's button, icons or first-column
  // text: only there do clicks select and double clicks activate.
  bool IsOverLabel(POINT point) const;

  HTREEITEM InsertItem(const wchar_t* text, int image, int selectedImage, HTREEITEM parent,
                       HTREEITEM after = TVI_LAST);
  std::wstring GetItemText(HTREEITEM item) const;
  LPARAM GetItemData(HTREEITEM item) const;
  void SetItemData(HTREEITEM item, LPARAM data);

  // Posted to the control's owner (the dialog around the column tree) on
  // a double click over an item; 0 posts nothing.
  void SetActivateMessage(UINT message) { m_activateMessage = message; }

  int m_firstColumnWidth = 0;
  int m_xOffset = 0;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self) noexcept;
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void PaintBuffered();

  HWND m_hwnd = nullptr;
  UINT m_activateMessage = 0;
};

class CColumnTreeCtrl {
 public:
  CColumnTreeCtrl() = default;
  virtual ~CColumnTreeCtrl();
  CColumnTreeCtrl(const CColumnTreeCtrl&) = delete;
  CColumnTreeCtrl& operator=(const CColumnTreeCtrl&) = delete;

  // Takes over the dialog's static control `id`, then Initialize.
  bool Attach(HWND dialog, int id);
  HWND Hwnd() const { return m_hwnd; }

  virtual void Reserved1() {}
  virtual void Initialize();
  virtual void Reserved2() {}

  int InsertColumn(int index, const wchar_t* caption, int format, int width, int unused = -1);
  void SetItemText(HTREEITEM item, int column, const wchar_t* text);
  int ColumnCount() const;
  // Places header, filler, tree and scroll bar for the current size, scroll
  // offset and vertical scroll bar (also after items were added or expanded
  // from code, which the tree does not announce).
  void RelayoutChildren();

  // For the page and the tests.
  int HeaderHeight() const { return m_headerHeight; }
  int TotalWidth() const { return m_totalWidth; }
  int XOffset() const { return m_xOffset; }
  int ColumnWidth(int i) const { return i >= 0 && i < restorix::kMaxTreeColumns ? m_columnWidths[i] : 0; }

  CColorHeaderCtrl m_header;
  CColorHeaderCtrl m_headerFiller;
  CCustomTreeChildCtrl m_tree;
  HWND m_hScroll = nullptr;

 private:
  friend class CCustomTreeChildCtrl;
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self) noexcept;
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  bool OnNotify(NMHDR* header, LRESULT& result);
  LRESULT OnCustomDraw(NMTVCUSTOMDRAW* draw);
  void DrawItem(NMTVCUSTOMDRAW* draw);
  void OnHScroll(int request, int thumb);
  void RefreshColumns();
  void QueryHeaderHeight();
  bool TreeScrollsVertically() const;
  void Paint();

  HWND m_hwnd = nullptr;
  int m_headerHeight = 0;
  int m_totalWidth = 0;
  int m_xOffset = 0;
  int m_textIndent = 0;
  restorix::ColumnWidthGuard m_guard{100};
  int m_columnWidths[restorix::kMaxTreeColumns] = {};
  int m_columnFormats[restorix::kMaxTreeColumns] = {};
};
