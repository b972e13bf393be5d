// CMutiTreeCtrl: a tree control whose every item carries a three-state
// check box. A click on the box or the space bar toggles the item; the
// subtree and the ancestors follow (app/core/TreeCheck). The platform's own
// toggle is suppressed: it would step the image past the state just set.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "controls/model/TreeCheck.h"

// A tree-view control as the check arithmetic sees it; the state lives in
// the items' state-image bits.
class TreeViewCheckModel : public restorix::CheckTree {
 public:
  explicit TreeViewCheckModel(HWND tree) : m_tree(tree) {}
  Node Parent(Node node) override;
  Node FirstChild(Node node) override;
  Node NextSibling(Node node) override;
  Node PrevSibling(Node node) override;
  restorix::TreeCheckState GetCheck(Node node) override;
  void SetCheck(Node node, restorix::TreeCheckState state) override;
  std::wstring Text(Node node) const;

  static Node NodeOf(HTREEITEM item) { return reinterpret_cast<Node>(item); }
  static HTREEITEM ItemOf(Node node) { return reinterpret_cast<HTREEITEM>(node); }

 private:
  HWND m_tree;
};

class CMutiTreeCtrl {
 public:
  CMutiTreeCtrl() = default;
  ~CMutiTreeCtrl();
  CMutiTreeCtrl(const CMutiTreeCtrl&) = delete;
  CMutiTreeCtrl& operator=(const CMutiTreeCtrl&) = delete;

  // Takes over the dialog's tree control `id`; false when there is none.
  bool Attach(HWND dialog, int id);
  void Detach();
  HWND Hwnd() const { return m_hwnd; }

  restorix::TreeCheckState GetCheck(HTREEITEM item) const;
  void SetCheck(HTREEITEM item, restorix::TreeCheckState state);
  void ToggleCheck(HTREEITEM item);
  void SetChildCheck(HTREEITEM item, restorix::TreeCheckState state);
  void SetParentCheck(HTREEITEM item, restorix::TreeCheckState state);

  // The owner hands every WM_NOTIFY from this tree here first (the
  // reflection of the tree's own notifications). True when the tree
  // answered it; `result` is then the notification's result.
  bool OnReflectedNotify(const NMHDR* header, LRESULT& result);

  // Hit-test flags of the last primary-button press.
  UINT m_lastHitFlags = 0;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self) noexcept;
  bool OnMessage(UINT message, WPARAM wParam, LPARAM lParam);

  HWND m_hwnd = nullptr;
};
