#include "app/DrDlg.h"

#include <cwchar>
#include <initializer_list>
#include <iterator>
#include <optional>

#include "app/AppContext.h"
#include "app/ResultViews.h"
#include "app/core/RecoveryIds.h"
#include "app/core/RecoveryRules.h"
#include "app/core/UiText.h"
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
    } columns[] = {{restorix::ui::kColumnFileName, 290}, {restorix::ui::kColumnSize, 100}, {restorix::ui::kColumnTime, 100}};
    for (int i = 0; i < 3; ++i) {
      LVCOLUMNW c = {};
      c.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
      c.fmt = LVCFMT_CENTER;
      c.cx = columns[i].width;
      c.pszText = const_cast<wchar_t*>(columns[i].heading);
      c.iSubItem = i;
      ListView_InsertColumn(list, i, &c);
    }
    if (m_app) AddStateColumn(list, m_app->Kernel());
  }

  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_browse, m_hwnd, IDC_BROWSE, L"Browse.png");
  m_pathEdit = Item(IDC_RECOVER_PATH);
  SendMessageW(m_pathEdit, EM_SETREADONLY, TRUE, 0);

  EnableWindow(m_pathEdit, TRUE);
  if (m_app) {
    m_recoverFolder = m_app->Settings().GetRecoverPath();
    // After a stop (back) the results page says nothing.
    m_recovery = std::make_unique<restorix::RecoverySession>(
        m_app->Kernel(), m_app->State(), m_app->Workers(), restorix::RecoveryEndRule{restorix::ui::kRecoveryDone, true});
  }
  UpdateData(false);

  SetDlgItemTextW(m_hwnd, IDC_SETTINGS_GROUP, restorix::ui::kSettingsGroup);
  SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH_LABEL, restorix::ui::kRecoverPathLabel);
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, restorix::ui::kMarkAll);
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

std::wstring CDrDlg::PartitionName() const { return m_app ? m_app->State().PartitionName() : std::wstring(); }

std::vector<restorix::ItemId> CDrDlg::RecoveryList() const {
  return m_recovery ? m_recovery->Items() : std::vector<restorix::ItemId>();
}

std::wstring CDrDlg::TargetFolder() const { return m_recovery ? m_recovery->Folder() : std::wstring(); }

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
  if (!m_app || !tree) return;
  // Coming back from the preview or search page keeps the tree as it was;
  // after a scan of any partition since (whatever page led to it), the
  // tree and the list are of items the kernel no longer holds.
  const uint64_t generation = m_app->State().ScanGeneration();
  if (TreeView_GetCount(tree) > 0 && generation == m_filledGeneration) return;
  TreeView_DeleteAllItems(tree);
  SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, L"");
  m_filledGeneration = generation;
  const std::wstring partition = PartitionName();
  TVINSERTSTRUCTW insert = {};
  insert.hParent = TVI_ROOT;
  insert.hInsertAfter = TVI_LAST;
  insert.item.mask = TVIF_TEXT | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
  insert.item.pszText = const_cast<wchar_t*>(partition.empty() ? restorix::ui::kUnnamedPartition : partition.c_str());
  insert.item.iImage = 0;
  insert.item.iSelectedImage = 0;
  m_root = TreeView_InsertItem(tree, &insert);
  restorix::FolderIndex& index = m_app->State().Index();
  restorix::RebuildFolderIndex(m_app->Kernel(), index);
  FillFolderTree(tree, index);
  if (HTREEITEM first = m_root ? TreeView_GetChild(tree, m_root) : nullptr) {
    TreeView_Expand(tree, first, TVE_EXPAND);
    // A deep scan's finds sit in one folder per type, a format recovery's
    // under the old file system's folder: those are open from the start.
    if (m_app->State().Mode() != restorix::ScanMode::Deleted)
      if (HTREEITEM top = TreeView_GetChild(tree, first)) TreeView_Expand(tree, top, TVE_EXPAND);
  }
  ListView_DeleteAllItems(m_list.Hwnd());
  FillFileList(m_list.Hwnd(), m_app->Kernel(), index, partition + L"\\Deleted");
}

void CDrDlg::ShowFolder(HTREEITEM item) {
  if (!item || !m_tree.Hwnd() || !m_app) return;
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
  FillFileList(list, m_app->Kernel(), m_app->State().Index(), folder);
  const std::wstring found =
      restorix::ui::kFoundFilesBefore + std::to_wstring(ListView_GetItemCount(list)) + restorix::ui::kFoundFilesAfter;
  SetDlgItemTextW(m_hwnd, IDC_FOUND_COUNT, found.c_str());
}

void CDrDlg::MarkAll() {
  UpdateData(true);
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int i = 0; i < rows; ++i) m_list.SetItemCheck(i, m_markAll);
}

void CDrDlg::Browse() {
  CBrowseFolder picker(restorix::ui::kPickRecoverFolder);
  if (picker.Browse(m_hwnd, nullptr) == 1) {
    const std::wstring path = picker.GetPath();
    if (restorix::RecoverFolderTooLong(path)) {
      MessageBoxW(m_hwnd, restorix::ui::kFolderTooLong, restorix::ui::kCaption, MB_OK);
      return;
    }
    m_recoverFolder = path;
    if (m_app) m_app->Settings().SetRecoverPath(m_recoverFolder);
  }
  UpdateData(false);
}

void CDrDlg::Recover() {
  // One recovery at a time: the running one still reads its list, and the
  // kernel is busy with it (or with the search page's).
  if (!m_recovery || m_starting || m_recovery->Busy() || m_app->State().Busy()) return;
  m_starting = true;
  StartRecovery();
  m_starting = false;
}

namespace {
// The volume's GUID path for the volume that holds `path`, so a volume
// mounted in a folder is told from the one holding the folder; none when
// the system cannot say.
std::optional<std::wstring> VolumeIdentity(const std::wstring& path) {
  wchar_t mountPoint[MAX_PATH] = {};
  if (!GetVolumePathNameW(path.c_str(), mountPoint, MAX_PATH)) return std::nullopt;
  wchar_t volume[64] = {};
  if (!GetVolumeNameForVolumeMountPointW(mountPoint, volume, 64)) return std::nullopt;
  return std::wstring(volume);
}

bool SameVolume(const std::wstring& source, const std::wstring& target) {
  if (source.empty() || target.empty()) return false;
  const std::optional<std::wstring> a = VolumeIdentity(source);
  const std::optional<std::wstring> b = VolumeIdentity(target);
  if (a && b) return *a == *b;
  return source[0] == target[0];
}
}  // namespace

// Where the scanned data lives: the partition's root, or for a letter the
// kernel maps to a disk image, the image file.
std::wstring CDrDlg::RecoverySource() const {
  const std::wstring image = m_app ? m_app->State().ImageFile() : std::wstring();
  return image.empty() ? PartitionName() + L"\\" : image;
}

bool CDrDlg::StartRecovery() {
  UpdateData(true);
  const std::wstring target = m_recoverFolder + L"\\";
  const std::wstring partition = PartitionName();
  if (!partition.empty() && SameVolume(RecoverySource(), target)) {
    if (MessageBoxW(m_hwnd, restorix::ui::kAskRecoverSameVolume, restorix::ui::kCaption, MB_OKCANCEL) == IDCANCEL)
      return false;
  }
  HWND tree = m_tree.Hwnd();
  HTREEITEM root = tree ? TreeView_GetRoot(tree) : nullptr;
  if (!root) return false;
  m_root = root;
  TreeViewCheckModel model(tree);
  restorix::RecoverySources sources;
  sources.checkedRows = [this](std::vector<restorix::ItemId>& out) { CheckedRows(out); };
  sources.folderItems = [this](const std::wstring& folder, std::vector<restorix::ItemId>& out) {
    for (const restorix::ItemId& id : m_app->State().Index().ItemsInNode(folder)) out.push_back(id);
  };
  sources.folderOf = [this](restorix::CheckTree::Node n) { return FolderOf(TreeViewCheckModel::ItemOf(n)); };
  std::vector<restorix::ItemId> ids = restorix::CollectRecoveryIds(
      model, TreeViewCheckModel::NodeOf(root), TreeViewCheckModel::NodeOf(TreeView_GetSelection(tree)), partition,
      sources);
  // The kernel takes the folder from a fixed buffer; a longer one cannot
  // be chosen through the picker.
  if (target.size() >= 1024) return false;
  return m_recovery->Start(std::move(ids), target, PostingRecoveryEvents());
}

// The recovery thread has ended: its message, then the page takes requests again.
void CDrDlg::OnRecoveryDone() {
  if (!m_recovery) return;
  if (const std::optional<std::wstring> text = m_recovery->EndMessage())
    MessageBoxW(nullptr, text->c_str(), restorix::ui::kCaption, MB_OK);
  m_recovery->Finish();
}

void CDrDlg::Preview() {
  UpdateData(true);
  const int row = ListView_GetNextItem(m_list.Hwnd(), -1, LVNI_SELECTED);
  if (row < 0) {
    MessageBoxW(m_hwnd, restorix::ui::kChooseFileFirst, restorix::ui::kCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  if (!m_app) return;
  KernelLoader& kernel = m_app->Kernel();
  const std::wstring folder = m_app->Settings().GetRecoverPath();
  LVITEMW li = {};
  li.mask = LVIF_PARAM;
  li.iItem = row;
  if (!ListView_GetItem(m_list.Hwnd(), &li)) return;
  const uint32_t idLow = static_cast<uint32_t>(li.lParam);
  DelItem item;
  if (!kernel.GetItemById(idLow, 0, &item)) return;
  item.path[std::size(item.path) - 1] = 0;
  if (!restorix::PreviewAllowed(item.size)) {
    MessageBoxW(m_hwnd, restorix::ui::kTooLargeToPreview, restorix::ui::kCaption, MB_OK | MB_ICONEXCLAMATION);
    return;
  }
  m_app->State().SetPreviewFile(folder + restorix::PathWithoutDrive(item.path));
  SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  kernel.RecoverFile((folder + L"\\").c_str(), idLow, 0);
  SetCursor(LoadCursorW(nullptr, IDC_ARROW));
  PostMessageW(m_app->Host(), WM_SHOW_PREVIEW_PAGE, 0, 0);
}

void CDrDlg::Back() {
  if (HWND tree = m_tree.Hwnd()) TreeView_DeleteAllItems(tree);
  m_root = nullptr;
  ListView_DeleteAllItems(m_list.Hwnd());
  SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, L"");
  if (!m_app) return;
  PostMessageW(m_app->Host(), WM_RECOVER_PROGRESS, 0, 100);
  m_app->Kernel().StopTask();
  m_app->State().RequestStop();
  PostMessageW(m_app->Host(), WM_SHOW_DEVICE_PAGE, 0, 0);
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
      if (m_app) PostMessageW(m_app->Host(), WM_SHOW_SEARCH_PAGE, 0, 0);
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
  // The list follows the selection: the folder the notification selects,
  // whether by mouse or keyboard, and wherever the pointer is by then.
  // Expanding or collapsing alone leaves it (a collapse that moves the
  // selection announces that change by itself).
  if (header->idFrom == IDC_FOLDER_TREE && (header->code == TVN_SELCHANGEDW || header->code == TVN_SELCHANGEDA)) {
    ShowFolder(reinterpret_cast<const NMTREEVIEWW*>(header)->itemNew.hItem);
    result = 0;
    return true;
  }
  if (header->idFrom == IDC_FILE_LIST && header->code == NM_CUSTOMDRAW && m_app) {
    result = DrawFileListRow(reinterpret_cast<NMLVCUSTOMDRAW*>(header), m_app->Kernel());
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
    case WM_PAGE_RECOVERY_DONE:
      OnRecoveryDone();
      return 0;
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
