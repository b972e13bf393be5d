#include "controls/MutiTreeCtrl.h"

#include <iterator>

namespace {
constexpr UINT_PTR kSubclassId = 0x4D5443;  // "MTC"
}

using restorix::TreeCheckState;

TreeViewCheckModel::Node TreeViewCheckModel::Parent(Node node) {
  return NodeOf(TreeView_GetParent(m_tree, ItemOf(node)));
}

TreeViewCheckModel::Node TreeViewCheckModel::FirstChild(Node node) {
  return NodeOf(TreeView_GetChild(m_tree, ItemOf(node)));
}

TreeViewCheckModel::Node TreeViewCheckModel::NextSibling(Node node) {
  return NodeOf(TreeView_GetNextSibling(m_tree, ItemOf(node)));
}

TreeViewCheckModel::Node TreeViewCheckModel::PrevSibling(Node node) {
  return NodeOf(TreeView_GetPrevSibling(m_tree, ItemOf(node)));
}

TreeCheckState TreeViewCheckModel::GetCheck(Node node) {
  const UINT state = TreeView_GetItemState(m_tree, ItemOf(node), TVIS_STATEIMAGEMASK);
  return static_cast<TreeCheckState>((state & TVIS_STATEIMAGEMASK) >> 12);
}

void TreeViewCheckModel::SetCheck(Node node, TreeCheckState state) {
  TreeView_SetItemState(m_tree, ItemOf(node), INDEXTOSTATEIMAGEMASK(static_cast<UINT>(state)), TVIS_STATEIMAGEMASK);
}

std::wstring TreeViewCheckModel::Text(Node node) const {
  wchar_t text[1024] = {};
  TVITEMW item = {};
  item.mask = TVIF_TEXT | TVIF_HANDLE;
  item.hItem = ItemOf(node);
  item.pszText = text;
  item.cchTextMax = static_cast<int>(std::size(text));
  if (!TreeView_GetItem(m_tree, &item)) return std::wstring();
  return text;
}

CMutiTreeCtrl::~CMutiTreeCtrl() { Detach(); }

bool CMutiTreeCtrl::Attach(HWND dialog, int id) {
  Detach();
  HWND tree = GetDlgItem(dialog, id);
  if (!tree ||
      !SetWindowSubclass(tree, &CMutiTreeCtrl::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hwnd = tree;
  return true;
}

void CMutiTreeCtrl::Detach() {
  if (m_hwnd && IsWindow(m_hwnd)) RemoveWindowSubclass(m_hwnd, &CMutiTreeCtrl::SubclassProc, kSubclassId);
  m_hwnd = nullptr;
}

TreeCheckState CMutiTreeCtrl::GetCheck(HTREEITEM item) const {
  return TreeViewCheckModel(m_hwnd).GetCheck(TreeViewCheckModel::NodeOf(item));
}

void CMutiTreeCtrl::SetCheck(HTREEITEM item, TreeCheckState state) {
  TreeViewCheckModel(m_hwnd).SetCheck(TreeViewCheckModel::NodeOf(item), state);
}

void CMutiTreeCtrl::ToggleCheck(HTREEITEM item) {
  TreeViewCheckModel model(m_hwnd);
  restorix::ToggleCheck(model, TreeViewCheckModel::NodeOf(item));
}

void CMutiTreeCtrl::SetChildCheck(HTREEITEM item, TreeCheckState state) {
  TreeViewCheckModel model(m_hwnd);
  restorix::SetChildCheck(model, TreeViewCheckModel::NodeOf(item), state);
}

void CMutiTreeCtrl::SetParentCheck(HTREEITEM item, TreeCheckState state) {
  TreeViewCheckModel model(m_hwnd);
  restorix::SetParentCheck(model, TreeViewCheckModel::NodeOf(item), state);
}

bool CMutiTreeCtrl::OnReflectedNotify(const NMHDR* header, LRESULT& result) {
  if (!header || !m_hwnd || header->hwndFrom != m_hwnd) return false;
  switch (header->code) {
    case NM_CLICK:
      // 1 keeps the platform from toggling the box a second time.
      result = (m_lastHitFlags & TVHT_ONITEMSTATEICON) ? 1 : 0;
      return true;
    case TVN_KEYDOWN:
      result = 0;
      return true;
    default:
      return false;
  }
}

// True when the message is fully handled here.
bool CMutiTreeCtrl::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_LBUTTONDOWN: {
      TVHITTESTINFO hit = {};
      hit.pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      HTREEITEM item = TreeView_HitTest(m_hwnd, &hit);
      m_lastHitFlags = hit.flags;
      if (item && (hit.flags & TVHT_ONITEMSTATEICON)) ToggleCheck(item);
      return false;  // selection, buttons and the rest stay the control's
    }
    case WM_KEYDOWN:
      if (wParam != VK_SPACE) return false;
      if (HTREEITEM selected = TreeView_GetSelection(m_hwnd)) {
        if (GetCheck(selected) != restorix::NoCheckBox) ToggleCheck(selected);
      }
      return true;
    case WM_CHAR:
      // The character of the same key press: the control would toggle or
      // search on it.
      return wParam == L' ';
    default:
      return false;
  }
}

LRESULT CALLBACK CMutiTreeCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                             DWORD_PTR self) noexcept {
  auto* tree = reinterpret_cast<CMutiTreeCtrl*>(self);
  try {
    if (message == WM_NCDESTROY && tree) {
      RemoveWindowSubclass(hwnd, &CMutiTreeCtrl::SubclassProc, kSubclassId);
      tree->m_hwnd = nullptr;
    } else if (tree && tree->OnMessage(message, wParam, lParam)) {
      return 0;
    }
  } catch (...) {
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}
