#include "app/DrDlg.h"

#include <cwchar>
#include <initializer_list>
#include <iterator>

#include "app/KernelBinding.h"
#include "app/core/RecoveryIds.h"
#include "app/core/RecoveryRules.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"
#include "controls/BrowseFolder.h"

namespace {
HICON LoadSmallIcon(int id) {
  return static_cast<HICON>(
      LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, LR_DEFAULTCOLOR));
}

HIMAGELIST IconList(int initial, int grow, std::initializer_list<int> icons) {
  HIMAGELIST list = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, initial, grow);
  if (!list) return nullptr;
  for (int id : icons) {
    if (HICON icon = LoadSmallIcon(id)) {
      ImageList_AddIcon(list, icon);
      DestroyIcon(icon);
    }
  }
  return list;
}
}  // namespace

CDrDlg::CDrDlg() : CPageDialog(IDD_DR) {}

CDrDlg::~CDrDlg() {
  // The page window may outlive this object by a moment (the base class
  // destroys it): the controls must not hold our lists then.
  ReleaseImageLists();
  if (m_treeImages) ImageList_Destroy(m_treeImages);
  if (m_stateImages) ImageList_Destroy(m_stateImages);
  if (m_listImages) ImageList_Destroy(m_listImages);
}

BOOL CDrDlg::OnInitDialog() {
  // The tree: folder icons and the check-box pictures.
  m_tree.Attach(m_hwnd, IDC_FOLDER_TREE);
  HWND tree = m_tree.Hwnd();
  m_treeImages = IconList(2, 2, {IDI_FOLDER, IDI_FOLDER_OPEN});
  m_stateImages = ImageList_LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDB_CHECKBOXES), 13, 1,
                                       RGB(255, 255, 255), IMAGE_BITMAP, 0);
  if (tree) {
    TreeView_SetImageList(tree, m_treeImages, TVSIL_NORMAL);
    m_platformStateImages = TreeView_SetImageList(tree, m_stateImages, TVSIL_STATE);
  }

  // The list: flat header, file icons, check boxes, three centred columns.
  m_list.Attach(m_hwnd, IDC_FILE_LIST);
  m_list.SubclassHeader();
  m_listImages = IconList(1, 1, {IDI_FILE, IDI_FILE_DELETED});
  if (HWND list = m_list.Hwnd()) {
    const DWORD ex = ListView_GetExtendedListViewStyle(list);
    ListView_SetExtendedListViewStyle(
        list, (ex & ~LVS_EX_GRIDLINES) | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES);
    ListView_SetImageList(list, m_listImages, LVSIL_SMALL);
    const struct {
      const wchar_t* heading;
      int width;
    } columns[] = {{L"文件名", 290}, {L"大小(Byte)", 100}, {L"创建时间", 100}};
    for (int i = 0; i < 3; ++i) {
      LVCOLUMNW c = {};
      c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
      c.fmt = LVCFMT_CENTER;
      c.cx = columns[i].width;
      c.pszText = const_cast<wchar_t*>(columns[i].heading);
      c.iSubItem = i;
      ListView_InsertColumn(list, i, &c);
    }
  }

  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_browse, m_hwnd, IDC_BROWSE, L"Browse.png");
  m_pathEdit = Item(IDC_RECOVER_PATH);
  SendMessageW(m_pathEdit, EM_SETREADONLY, TRUE, 0);

  EnableWindow(m_pathEdit, TRUE);
  if (m_binding) m_recoverFolder = m_binding->GetRecoverPath();
  UpdateData(false);

  SetDlgItemTextW(m_hwnd, IDC_SETTINGS_GROUP, L"设置");
  SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH_LABEL, L"恢复路径:");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  return TRUE;
}

void CDrDlg::OnDestroy() { ReleaseImageLists(); }

// Hands the controls back what they came with, so that each image list is
// destroyed exactly once: ours here, the tree's own check boxes by the tree
// and nothing by the list (which destroys the lists it holds).
void CDrDlg::ReleaseImageLists() {
  if (HWND tree = m_tree.Hwnd(); tree && IsWindow(tree)) {
    TreeView_SetImageList(tree, m_platformStateImages, TVSIL_STATE);
    TreeView_SetImageList(tree, nullptr, TVSIL_NORMAL);
  }
  if (HWND list = m_list.Hwnd(); list && IsWindow(list)) ListView_SetImageList(list, nullptr, LVSIL_SMALL);
}

void CDrDlg::UpdateData(bool read) {
  if (read) {
    const int length = GetWindowTextLengthW(m_pathEdit);
    std::wstring text(static_cast<size_t>(length > 0 ? length : 0) + 1, L'\0');
    GetWindowTextW(m_pathEdit, text.data(), static_cast<int>(text.size()));
    text.resize(wcslen(text.c_str()));
    m_recoverFolder = text;
    m_markAll = IsDlgButtonChecked(m_hwnd, IDC_MARK_ALL) == BST_CHECKED;
  } else {
    SetWindowTextW(m_pathEdit, m_recoverFolder.c_str());
    CheckDlgButton(m_hwnd, IDC_MARK_ALL, m_markAll ? BST_CHECKED : BST_UNCHECKED);
  }
}

std::wstring CDrDlg::PartitionName() const { return m_binding ? m_binding->m_partitionName : L""; }

std::wstring CDrDlg::FolderOf(HTREEITEM item) {
  TreeViewCheckModel model(m_tree.Hwnd());
  return restorix::TreeFolderPath(model, TreeViewCheckModel::NodeOf(m_root), TreeViewCheckModel::NodeOf(item),
                                  PartitionName(),
                                  [&model](restorix::CheckTree::Node n) { return model.Text(n); });
}

void CDrDlg::CheckedRows(std::vector<restorix::ItemId>& out) const {
  HWND list = m_list.Hwnd();
  const int rows = ListView_GetItemCount(list);
  for (int i = 0; i < rows; ++i) {
    if (!m_list.GetItemCheck(i)) continue;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = i;
    if (ListView_GetItem(list, &item)) out.push_back({static_cast<uint32_t>(item.lParam), 0});
  }
}

void CDrDlg::FillPage() {
  HWND tree = m_tree.Hwnd();
  if (!m_binding || !tree || TreeView_GetCount(tree) > 0) return;
  const std::wstring partition = PartitionName();
  TVINSERTSTRUCTW insert = {};
  insert.hParent = TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<wchar_t*>(partition.empty() ? L"lost" : partition.c_str());
  insert.item.iImage = 0;
  insert.item.iSelectedImage = 0;
  m_root = TreeView_InsertItem(tree, &insert);
  m_binding->FillFolderTree(tree, 1);
  if (HTREEITEM first = m_root ? TreeView_GetChild(tree, m_root) : nullptr) TreeView_Expand(tree, first, TVE_EXPAND);
  ListView_DeleteAllItems(m_list.Hwnd());
  m_binding->FillFileList(partition + L"\\Deleted", m_list.Hwnd());
}

void CDrDlg::ShowFolderUnderMouse() {
  HWND tree = m_tree.Hwnd();
  if (!tree || !m_binding) return;
  TVHITTESTINFO hit = {};
  GetCursorPos(&hit.pt);
  ScreenToClient(tree, &hit.pt);
  HTREEITEM item = TreeView_HitTest(tree, &hit);
  if (!item || (hit.flags & TVHT_ONITEMSTATEICON)) return;
  std::wstring folder;
  if (item == m_root) {
    SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, (PartitionName() + L"\\").c_str());
    folder = PartitionName() + L"\\Deleted";
  } else {
    folder = FolderOf(item);
    SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, folder.c_str());
  }
  HWND list = m_list.Hwnd();
  ListView_DeleteAllItems(list);
  m_binding->FillFileList(folder, list);
  wchar_t found[64];
  swprintf(found, std::size(found), L"找到 %d 个文件", ListView_GetItemCount(list));
  SetDlgItemTextW(m_hwnd, IDC_FOUND_COUNT, found);
}

void CDrDlg::MarkAll() {
  UpdateData(true);
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int i = 0; i < rows; ++i) m_list.SetItemCheck(i, m_markAll);
}

void CDrDlg::Browse() {
  CBrowseFolder picker;
  if (picker.Browse(m_hwnd, nullptr) == 1) {
    const std::wstring path = picker.GetPath();
    if (restorix::RecoverFolderTooLong(path)) {
      MessageBoxW(m_hwnd, L"目录名太长请重新选择!", kAppCaption, MB_OK);
      return;
    }
    m_recoverFolder = path;
    if (m_binding) m_binding->SetRecoverPath(m_recoverFolder);
  }
  UpdateData(false);
}

void CDrDlg::Recover() {
  // One recovery at a time: the running thread still reads the list. The
  // flag is up from here on, as the question below runs a message loop in
  // which a second press would arrive.
  if (m_recovering || (m_binding && m_binding->m_busy)) return;
  m_recovering = true;
  if (!StartRecovery()) m_recovering = false;
}

bool CDrDlg::StartRecovery() {
  UpdateData(true);
  const std::wstring target = m_recoverFolder + L"\\";
  if (m_binding && m_binding->m_partitionName[0] == target[0]) {
    if (MessageBoxW(m_hwnd, L"建议将恢复路径设置到与被恢复数据不同的分区中, 你确认要继续 ?", kAppCaption,
                    MB_OKCANCEL) == IDCANCEL)
      return false;
  }
  m_recoveryList.clear();
  HWND tree = m_tree.Hwnd();
  HTREEITEM root = tree ? TreeView_GetRoot(tree) : nullptr;
  if (!root) return false;
  m_root = root;
  TreeViewCheckModel model(tree);
  restorix::RecoverySources sources;
  sources.checkedRows = [this](std::vector<restorix::ItemId>& out) { CheckedRows(out); };
  sources.folderItems = [this](const std::wstring& folder, std::vector<restorix::ItemId>& out) {
    if (m_binding) m_binding->CollectFolderItems(folder, out);
  };
  sources.folderOf = [this](restorix::CheckTree::Node n) { return FolderOf(TreeViewCheckModel::ItemOf(n)); };
  m_recoveryList = restorix::CollectRecoveryIds(model, TreeViewCheckModel::NodeOf(root),
                                                TreeViewCheckModel::NodeOf(TreeView_GetSelection(tree)),
                                                PartitionName(), sources);
  if (m_recoveryList.empty() || !m_binding) return false;
  // The kernel takes the folder from a fixed buffer; a longer one cannot
  // be chosen through the picker.
  if (target.size() >= std::size(m_targetFolder)) return false;
  wcscpy_s(m_targetFolder, target.c_str());
  m_binding->m_stopRequested = 0;
  return m_binding->Workers().Start([this] { RecoveryThread(); });
}

void CDrDlg::RecoveryThread() {
  KernelBinding& binding = *m_binding;
  HWND host = binding.m_hostWnd;
  PostMessageW(host, WM_RECOVER_PROGRESS, 1, 0);
  binding.m_busy = 1;
  const size_t n = m_recoveryList.size();
  size_t failed = 0;
  for (size_t i = 0; i < n; ++i) {
    PostMessageW(host, WM_RECOVER_PROGRESS, 1, restorix::RecoveryProgress(i, n));
    if (binding.m_stopRequested) break;
    const restorix::ItemId id = m_recoveryList[i];
    if (!binding.RecoverFile(m_targetFolder, id.low, id.high)) ++failed;
  }
  PostMessageW(host, WM_RECOVER_PROGRESS, 1, 100);
  binding.m_busy = 0;
  m_recovering = false;
  if (!binding.m_stopRequested)
    MessageBoxW(nullptr, restorix::RecoveryDoneText(failed).c_str(), kAppCaption, MB_OK);
}

void CDrDlg::Preview() {
  UpdateData(true);
  const int row = ListView_GetNextItem(m_list.Hwnd(), -1, LVNI_SELECTED);
  if (row < 0) {
    MessageBoxW(m_hwnd, L"请先从列表中选择一个文件!", kAppCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!m_binding) return;
  const std::wstring folder = m_binding->GetRecoverPath();
  LVITEMW li = {};
  li.mask = LVIF_PARAM;
  li.iItem = row;
  if (!ListView_GetItem(m_list.Hwnd(), &li)) return;
  const uint32_t idLow = static_cast<uint32_t>(li.lParam);
  DelItem item;
  if (!m_binding->GetItemById(idLow, 0, &item)) return;
  item.path[std::size(item.path) - 1] = 0;
  if (!restorix::PreviewAllowed(item.size)) {
    MessageBoxW(m_hwnd, L"File too large to preview", kAppCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  m_binding->SetPreviewFile(folder + restorix::PathWithoutDrive(item.path));
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  m_binding->RecoverFile((folder + L"\\").c_str(), idLow, 0);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  PostMessageW(m_binding->m_hostWnd, WM_SHOW_PREVIEW_PAGE, 0, 0);
}

void CDrDlg::Back() {
  if (HWND tree = m_tree.Hwnd()) TreeView_DeleteAllItems(tree);
  m_root = nullptr;
  ListView_DeleteAllItems(m_list.Hwnd());
  SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, L"");
  if (!m_binding) return;
  PostMessageW(m_binding->m_hostWnd, WM_RECOVER_PROGRESS, 0, 100);
  m_binding->StopTask();
  m_binding->m_stopRequested = 1;
  PostMessageW(m_binding->m_hostWnd, WM_SHOW_DEVICE_PAGE, 0, 0);
}

bool CDrDlg::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_MARK_ALL:
      MarkAll();
      return true;
    case IDC_BROWSE:
      Browse();
      return true;
    case IDC_RECOVER:
      Recover();
      return true;
    case IDC_PREVIEW:
      Preview();
      return true;
    case IDC_SEARCH:
      if (m_binding) PostMessageW(m_binding->m_hostWnd, WM_SHOW_SEARCH_PAGE, 0, 0);
      return true;
    case IDC_BACK:
      Back();
      return true;
    default:
      return false;
  }
}

bool CDrDlg::OnNotify(NMHDR* header, LRESULT& result) {
  // The tree answers its own clicks and key notifications.
  if (m_tree.OnReflectedNotify(header, result)) return true;
  if (header->idFrom == IDC_FOLDER_TREE && (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA ||
                                                header->code == TVN_ITEMEXPANDEDW || header->code == TVN_ITEMEXPANDEDA)) {
    ShowFolderUnderMouse();
    result = 0;
    return true;
  }
  if (header->idFrom == IDC_FILE_LIST && header->code == NM_DBLCLK) {
    Preview();
    result = 0;
    return true;
  }
  return false;
}

std::optional<LRESULT> CDrDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SHOWWINDOW:
      if (wParam) {
        FillPage();
        SetDlgItemTextW(m_hwnd, IDC_FOUND_COUNT, L"");
      }
      return std::nullopt;
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORSTATIC: {
      std::optional<LRESULT> brush = CPageDialog::OnMessage(WM_CTLCOLORSTATIC, wParam, lParam);
      if (reinterpret_cast<HWND>(lParam) == m_pathEdit) SetTextColor(reinterpret_cast<HDC>(wParam), 0xFF0000);
      return brush;
    }
    default:
      return CPageDialog::OnMessage(message, wParam, lParam);
  }
}
