#include "app/SelectDevice.h"

#include <commdlg.h>

#include <cwctype>
#include <iterator>
#include <utility>

#include "app/AppFiles.h"
#include "app/AppContext.h"
#include "app/core/UiText.h"
#include "app/ProgressDlg.h"
#include "app/core/DeviceRules.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"

CSelectDevice::CSelectDevice() : CPageDialog(IDD_SELECT_DEVICE) {}

CSelectDevice::~CSelectDevice() {
  // The tree outlives this object by a moment (the window goes last).
  if (m_list.m_tree.Hwnd()) TreeView_SetImageList(m_list.m_tree.Hwnd(), nullptr, TVSIL_NORMAL);
  if (m_images) ImageList_Destroy(m_images);
}

BOOL CSelectDevice::OnInitDialog() {
  PrepareList();
  SkinButton(m_next, m_hwnd, IDC_NEXT, L"next.png");
  FillList();
  ShowMode();
  return TRUE;
}

void CSelectDevice::ShowMode() {
  const restorix::ScanMode mode = m_app ? m_app->State().Mode() : restorix::ScanMode::Deleted;
  HWND label = Item(IDC_MODE_LABEL);
  SetWindowTextW(label, restorix::ModeLabel(mode).c_str());
  ShowWindow(label, mode == restorix::ScanMode::Deleted ? SW_HIDE : SW_SHOW);
}

void CSelectDevice::PrepareList() {
  if (!m_list.Attach(m_hwnd, IDC_PARTITION_LIST)) return;
  m_list.m_tree.SetActivateMessage(WM_PARTITION_ACTIVATED);
  HWND tree = m_list.m_tree.Hwnd();
  SetWindowLongPtrW(tree, GWL_STYLE,
                    GetWindowLongPtrW(tree, GWL_STYLE) | TVS_HASBUTTONS | TVS_HASLINES | TVS_LINESATROOT |
                        TVS_SHOWSELALWAYS);
  m_images = ImageList_Create(32, 32, ILC_COLOR32 | ILC_MASK, 5, 1);
  HINSTANCE instance = GetModuleHandleW(nullptr);
  for (auto [id, index] : {std::pair{IDI_COMPUTER, &m_rootImage}, std::pair{IDI_PARTITION, &m_partitionImage}}) {
    HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 32, 32, 0));
    if (icon && m_images) *index = ImageList_AddIcon(m_images, icon);
    if (icon) DestroyIcon(icon);
  }
  TreeView_SetImageList(tree, m_images, TVSIL_NORMAL);
  SetWindowLongPtrW(tree, GWL_STYLE, GetWindowLongPtrW(tree, GWL_STYLE) | TVS_FULLROWSELECT);
  SetWindowPos(tree, nullptr, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOZORDER | SWP_FRAMECHANGED);
  m_list.InsertColumn(0, restorix::ui::kColumnPartition, HDF_CENTER, 300);
  m_list.InsertColumn(1, restorix::ui::kColumnType, HDF_CENTER, 100);
  m_list.InsertColumn(2, restorix::ui::kColumnCapacity, HDF_CENTER, 150);
  m_list.InsertColumn(3, restorix::ui::kColumnFree, HDF_CENTER, 150);
}

namespace {
struct VolumeSpace {
  std::wstring total;
  std::wstring free;
};

// Capacity and free space as the system reports them for the volume. When
// it cannot (a volume it does not mount, such as an image the kernel maps),
// the capacity comes from the partition's own sector count and the free
// space stays blank rather than showing garbage.
VolumeSpace QuerySpace(const PartitionParameter& p) {
  ULARGE_INTEGER available = {}, total = {}, free = {};
  if (GetDiskFreeSpaceExW(p.name, &available, &total, &free))
    return {restorix::FormatGiB(total.QuadPart), restorix::FormatGiB(free.QuadPart)};
  DWORD sectorsPerCluster = 0, bytesPerSector = 0, freeClusters = 0, clusters = 0;
  const std::wstring root = std::wstring(p.name) + L"\\";
  if (!GetDiskFreeSpaceW(root.c_str(), &sectorsPerCluster, &bytesPerSector, &freeClusters, &clusters))
    bytesPerSector = restorix::kAssumedSectorSize;
  return {restorix::FormatGiB(restorix::BytesFromSectors(p.sectorCount, bytesPerSector)), std::wstring()};
}
}  // namespace

void CSelectDevice::FillList() {
  if (!m_app || !m_list.m_tree.Hwnd()) return;
  CCustomTreeChildCtrl& tree = m_list.m_tree;
  m_root = tree.InsertItem(restorix::ui::kChoosePartitionRoot, m_rootImage, m_rootImage, TVI_ROOT);
  KernelLoader& kernel = m_app->Kernel();
  const int count = kernel.GetPartitionCount();
  for (int i = 0; i < count; ++i) {
    PartitionParameter p = {};
    if (!kernel.GetPartitionParameter(&p, i)) continue;
    p.name[std::size(p.name) - 1] = 0;
    HTREEITEM item = tree.InsertItem(p.name, m_partitionImage, m_partitionImage, m_root);
    const std::optional<std::wstring> probed = kernel.PartitionTypeName(i);
    m_list.SetItemText(item, 1,
                       probed ? probed->c_str() : p.fsKind == 1 ? restorix::ui::kFsNtfs : restorix::ui::kFsFat);
    const VolumeSpace space = QuerySpace(p);
    m_list.SetItemText(item, 2, space.total.c_str());
    m_list.SetItemText(item, 3, space.free.c_str());
    tree.SetItemData(item, p.fsKind);
  }
  TreeView_Expand(tree.Hwnd(), m_root, TVE_EXPAND);
  m_list.RelayoutChildren();  // expanding from code is not announced
}

// A letter neither the system nor the kernel uses, nor an image already
// opened here; from Z down, where the system seldom assigns.
wchar_t CSelectDevice::FreeLetter() const {
  uint32_t used = GetLogicalDrives() | 0x3u;  // A: and B: stay for floppies
  if (m_app) {
    KernelLoader& kernel = m_app->Kernel();
    const int count = kernel.GetPartitionCount();
    for (int i = 0; i < count; ++i) {
      PartitionParameter p = {};
      if (!kernel.GetPartitionParameter(&p, i)) continue;
      const wchar_t c = static_cast<wchar_t>(towupper(p.name[0]));
      if (c >= L'A' && c <= L'Z' && p.name[1] == L':') used |= 1u << (c - L'A');
    }
  }
  for (const auto& [item, image] : m_imageOf) {
    const std::wstring label = m_list.m_tree.GetItemText(item);
    if (!label.empty() && label[0] >= L'A' && label[0] <= L'Z') used |= 1u << (label[0] - L'A');
  }
  for (wchar_t c = L'Z'; c >= L'D'; --c)
    if (!(used & (1u << (c - L'A')))) return c;
  return 0;
}

HTREEITEM CSelectDevice::OpenDiskImage(const std::wstring& path) {
  if (!m_app || !m_list.m_tree.Hwnd() || path.empty()) return nullptr;
  KernelLoader& kernel = m_app->Kernel();
  const std::optional<std::vector<KX_PartitionInfo>> table = kernel.ReadPartitionTable(path);
  CCustomTreeChildCtrl& tree = m_list.m_tree;
  HTREEITEM node = nullptr;
  if (table) {
    const size_t slash = path.find_last_of(L"\\/");
    const std::wstring fileName = slash == std::wstring::npos ? path : path.substr(slash + 1);
    for (const KX_PartitionInfo& p : *table) {
      if (p.fileSystem[0] == 0) continue;  // no engine reads it
      const wchar_t letter = FreeLetter();
      if (!letter) break;
      const std::wstring spec = path + L"@" + std::to_wstring(p.firstByte) + L"+" + std::to_wstring(p.bytes);
      if (!kernel.MapVolume(letter, spec)) continue;
      if (!node) node = tree.InsertItem(fileName.c_str(), m_rootImage, m_rootImage, TVI_ROOT);
      const std::wstring name = std::wstring(1, letter) + L":";
      HTREEITEM item = tree.InsertItem(name.c_str(), m_partitionImage, m_partitionImage, node);
      m_list.SetItemText(item, 1, p.fileSystem);
      m_list.SetItemText(item, 2, restorix::FormatGiB(p.bytes).c_str());
      m_list.SetItemText(item, 3, L"");
      tree.SetItemData(item, p.fsKind);
      m_imageOf[item] = path;
    }
  }
  if (!node) {
    MessageBoxW(m_hwnd, restorix::ui::kNoPartitionInImage, restorix::ui::kCaption, MB_OK);
    return nullptr;
  }
  m_imageNodes[node] = path;
  TreeView_Expand(tree.Hwnd(), node, TVE_EXPAND);
  TreeView_SelectItem(tree.Hwnd(), TreeView_GetChild(tree.Hwnd(), node));
  m_list.RelayoutChildren();
  return node;
}

void CSelectDevice::ChooseDiskImage() {
  wchar_t file[MAX_PATH * 4] = {};
  OPENFILENAMEW ofn = {};
  ofn.lStructSize = sizeof ofn;
  ofn.hwndOwner = m_hwnd;
  ofn.lpstrFilter = restorix::ui::kDiskImageFilter;
  ofn.nFilterIndex = 1;
  ofn.lpstrFile = file;
  ofn.nMaxFile = static_cast<DWORD>(std::size(file));
  ofn.lpstrTitle = restorix::ui::kOpenDiskImage;
  ofn.Flags = OFN_FILEMUSTEXIST | OFN_PATHMUSTEXIST | OFN_HIDEREADONLY | OFN_EXPLORER;
  if (GetOpenFileNameW(&ofn)) OpenDiskImage(file);
}

void CSelectDevice::StartProcedure() {
  CCustomTreeChildCtrl& tree = m_list.m_tree;
  HTREEITEM selected = tree.Hwnd() ? TreeView_GetSelection(tree.Hwnd()) : nullptr;
  // An image's own node is a heading, as the root is.
  if (selected && m_imageNodes.count(selected)) selected = m_root;
  const std::wstring name =
      selected ? restorix::LabelPart(tree.GetItemText(selected), 0).value_or(std::wstring()) : std::wstring();
  const std::wstring programFolder = m_app ? m_app->Settings().ProgramFolder() : GetProgramFolder(nullptr);
  switch (restorix::CheckStart(selected != nullptr, selected == m_root, name, programFolder)) {
    case restorix::StartCheck::NoPartition:
      MessageBoxW(m_hwnd, restorix::ui::kChoosePartitionFirst, restorix::ui::kCaption, MB_OK);
      return;
    case restorix::StartCheck::AskSameVolume:
      if (MessageBoxW(m_hwnd, restorix::ui::kAskScanOwnVolume, restorix::ui::kCaption,
                      MB_OKCANCEL) != IDOK)
        return;
      break;
    case restorix::StartCheck::Start:
      break;
  }
  const int fsKind = static_cast<int>(tree.GetItemData(selected));
  if (m_app && restorix::ChooseScanCall(m_app->State().Mode(), false, m_app->Kernel().CanStartScan()) ==
                   restorix::ScanCall::Unavailable) {
    MessageBoxW(m_hwnd, restorix::ui::kModeNeedsNewerKernel, restorix::ui::kCaption, MB_OK);
    return;
  }
  CProgressDlg dialog;
  const auto image = m_imageOf.find(selected);
  const bool mapped = image != m_imageOf.end();
  if (m_app) {
    m_app->State().SetCurrentPartition(name, static_cast<uint8_t>(fsKind));
    m_app->State().SetImageFile(mapped ? image->second : std::wstring());
  }
  dialog.SetPartition(name.c_str(), fsKind);
  dialog.SetProbeScan(mapped);
  if (m_app) dialog.SetMode(m_app->State().Mode());
  dialog.SetApp(m_app);
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  MapWindowPoints(m_hwnd, nullptr, reinterpret_cast<POINT*>(&rc), 2);
  dialog.SetPosition(rc.left + 20, rc.bottom - 90);
  dialog.DoModal(m_hwnd);
  if (!m_app) return;
  // A volume the kernel could not read says why, instead of an empty
  // results page.
  std::wstring kernelText;
  const std::optional<int> code =
      dialog.ScanEnded() ? m_app->Kernel().GetLastScanStatus(kernelText) : std::optional<int>();
  if (code) {
    if (const std::optional<std::wstring> failure = restorix::ScanFailureText(*code, kernelText)) {
      MessageBoxW(m_hwnd, failure->c_str(), restorix::ui::kCaption, MB_OK);
      return;
    }
  }
  SendMessageW(m_app->Host(), WM_SHOW_RESULTS_PAGE, 0, 0);
}

bool CSelectDevice::OnCommand(int id, int code, HWND) {
  if (id == IDC_OPEN_IMAGE && (code == BN_CLICKED || code == 0)) {  // the button or the menu item
    ChooseDiskImage();
    return true;
  }
  if (id != IDC_NEXT || code != BN_CLICKED) return false;
  StartProcedure();
  return true;
}

std::optional<LRESULT> CSelectDevice::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_PARTITION_ACTIVATED) {
    HWND tree = m_list.m_tree.Hwnd();
    HTREEITEM selected = tree ? TreeView_GetSelection(tree) : nullptr;
    if (selected != m_root && !m_imageNodes.count(selected)) StartProcedure();
    return 1;
  }
  if (message == WM_CONTEXTMENU) {
    HMENU menu = CreatePopupMenu();
    if (!menu) return 0;
    AppendMenuW(menu, MF_STRING, IDC_OPEN_IMAGE, restorix::ui::kOpenDiskImage);
    POINT at = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
    if (at.x == -1 && at.y == -1) GetCursorPos(&at);  // from the keyboard
    const UINT chosen = TrackPopupMenu(menu, TPM_RETURNCMD | TPM_RIGHTBUTTON, at.x, at.y, 0, m_hwnd, nullptr);
    DestroyMenu(menu);
    if (chosen == IDC_OPEN_IMAGE) ChooseDiskImage();
    return 0;
  }
  return CPageDialog::OnMessage(message, wParam, lParam);
}
