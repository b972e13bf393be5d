#include "app/ResultViews.h"

#include <commctrl.h>

#include <iterator>
#include <optional>

#include "app/core/ItemFormat.h"
#include "app/core/UiText.h"

namespace {
// The folder tree control as the tree merge sees it.
class TreeViewModel : public restorix::TextTree {
 public:
  explicit TreeViewModel(HWND tree) : m_tree(tree) {}
  Node FirstChild(Node parent) override {
    if (parent == 0) return reinterpret_cast<Node>(TreeView_GetRoot(m_tree));
    return reinterpret_cast<Node>(TreeView_GetChild(m_tree, reinterpret_cast<HTREEITEM>(parent)));
  }
  Node NextSibling(Node node) override {
    return reinterpret_cast<Node>(TreeView_GetNextSibling(m_tree, reinterpret_cast<HTREEITEM>(node)));
  }
  std::wstring Text(Node node) override {
    wchar_t text[1024] = {};
    TVITEMW item = {};
    item.mask = TVIF_TEXT | TVIF_HANDLE;
    item.hItem = reinterpret_cast<HTREEITEM>(node);
    item.pszText = text;
    item.cchTextMax = static_cast<int>(std::size(text));
    if (!TreeView_GetItem(m_tree, &item)) return std::wstring();
    return text;
  }
  Node InsertChild(Node parent, const std::wstring& text) override {
    TVINSERTSTRUCTW insert = {};
    insert.hParent = parent ? reinterpret_cast<HTREEITEM>(parent) : TVI_ROOT;
    insert.hInsertAfter = TVI_LAST;
    insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    insert.item.pszText = const_cast<wchar_t*>(text.c_str());
    insert.item.iImage = 1;
    insert.item.iSelectedImage = 1;
    return reinterpret_cast<Node>(TreeView_InsertItem(m_tree, &insert));
  }

 private:
  HWND m_tree;
};
}  // namespace

void AppendFileRow(HWND list, const restorix::FoundItem& found, KernelLoader& kernel) {
  restorix::FileRow row = restorix::MakeFileRow(found.path, found.size, found.modified, found.id.low);
  LVITEMW item = {};
  item.mask = LVIF_TEXT | LVIF_IMAGE | LVIF_PARAM;
  item.iItem = ListView_GetItemCount(list);
  item.pszText = row.name.data();
  item.iImage = 1;
  item.lParam = static_cast<LPARAM>(row.idLow);
  const int at = ListView_InsertItem(list, &item);
  if (at < 0) return;
  ListView_SetItemText(list, at, 1, row.size.data());
  ListView_SetItemText(list, at, 2, row.time.data());
  if (kernel.HasItemInfo()) {
    const std::optional<KX_ItemInfo> info = kernel.GetItemInfo(found.id.low, found.id.high);
    std::wstring state = info ? restorix::ItemStateText(info->state, info->overwrittenShare, info->flags)
                              : restorix::ItemStateText(KX_STATE_UNKNOWN, 0);
    ListView_SetItemText(list, at, 3, state.data());
  }
  ListView_SetCheckState(list, at, TRUE);
}

void AddStateColumn(HWND list, KernelLoader& kernel) {
  if (!list || !kernel.HasItemInfo()) return;
  LVCOLUMNW c = {};
  c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
  c.fmt = LVCFMT_CENTER;
  c.cx = 100;
  c.pszText = const_cast<wchar_t*>(restorix::ui::kColumnState);
  c.iSubItem = 3;
  ListView_InsertColumn(list, 3, &c);
}

LRESULT DrawFileListRow(NMLVCUSTOMDRAW* draw, KernelLoader& kernel) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return kernel.HasItemInfo() ? CDRF_NOTIFYITEMDRAW : CDRF_DODEFAULT;
    case CDDS_ITEMPREPAINT: {
      const std::optional<KX_ItemInfo> info = kernel.GetItemInfo(static_cast<uint32_t>(draw->nmcd.lItemlParam), 0);
      if (!info || !restorix::ItemStateGreyed(info->state)) return CDRF_DODEFAULT;
      draw->clrText = RGB(128, 128, 128);
      return CDRF_NEWFONT;
    }
    default:
      return CDRF_DODEFAULT;
  }
}

void FillFolderTree(HWND tree, const restorix::FolderIndex& index) {
  if (!tree) return;
  TreeViewModel model(tree);
  for (const std::wstring& folder : index.Folders()) restorix::MergeFolderIntoTree(model, folder);
  if (HTREEITEM first = TreeView_GetRoot(tree)) TreeView_Expand(tree, first, TVE_EXPAND);
}

void FillFileList(HWND list, KernelLoader& kernel, const restorix::FolderIndex& index, const std::wstring& folder) {
  if (!list) return;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  DelItem record;
  // "A" and "a" share one tree node: its list shows the files of both.
  for (const restorix::ItemId& id : index.ItemsInNode(folder)) {
    if (!kernel.GetItemById(id.low, id.high, &record)) continue;
    AppendFileRow(list, ToFoundItem(record), kernel);
  }
  SetCursor(previous ? previous : LoadCursorW(nullptr, IDC_ARROW));
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}
