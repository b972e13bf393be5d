#include "app/KernelBinding.h"

#include <commctrl.h>

#include <iterator>

#include "app/AppFiles.h"
#include "app/core/ItemFormat.h"
#include "app/core/SearchMatch.h"

namespace {
constexpr wchar_t kSection[] = L"RecoverPath";
constexpr wchar_t kKey[] = L"path";

using InitFn = decltype(&SH_Init);
using UnInitFn = decltype(&SH_UnInit);
using CountFn = decltype(&SH_GetPartitionCount);
using ParameterFn = decltype(&SH_GetPartitionParameter);
using ScanFn = decltype(&SH_Scan);
using StopFn = decltype(&SH_StopTask);
using RecoverFn = decltype(&SH_RecoveryFile);
using ItemCountFn = decltype(&SH_GetDelItemCount);
using ItemByIndexFn = decltype(&SH_GetDelItemFromIndex);
using ItemByIdFn = decltype(&SH_GetDelItemFromID);

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
// One checked row of the file list for a found item: name, size, time,
// and the low half of its id as the row's data.
void AppendFileRow(HWND list, const DelItem& record) {
  restorix::FileRow row = restorix::MakeFileRow(record.path, record.size, record.modified, record.idLow);
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
  ListView_SetCheckState(list, at, TRUE);
}
}  // namespace

KernelBinding::KernelBinding() : KernelBinding(GetProgramFolder(nullptr)) {}

KernelBinding::KernelBinding(const std::wstring& programFolder) : m_programFolder(programFolder) {
  wchar_t path[260] = {};
  ReadSettingFrom(SettingsPath(), kSection, kKey, path, static_cast<DWORD>(std::size(path)));
  if (path[0]) {
    m_recoverPath = path;
  } else {
    m_recoverPath = m_programFolder + L"\\RecoveryData";
    CreateFolderTree(m_recoverPath.c_str());
  }
}

KernelBinding::~KernelBinding() {
  // Nothing may still be inside the library when it goes.
  m_workers.JoinAll();
  if (m_module) {
    if (auto uninit = Resolve<UnInitFn>("SH_UnInit")) uninit();
    FreeLibrary(m_module);
    m_module = nullptr;
  }
  m_index.Clear();
}

template <typename Fn>
Fn KernelBinding::Resolve(const char* name) const {
  if (!m_module) return nullptr;
  return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(m_module, name)));
}

int KernelBinding::LoadKernel() {
  if (m_module) return 1;
  const std::wstring path = m_programFolder + L"\\Kestrel.dll";
  m_module = LoadLibraryW(path.c_str());
  if (!m_module) {
    MessageBoxW(nullptr, L"Load dll failure! please check!", L"tip", MB_OK);
    return 0;
  }
  if (auto init = Resolve<InitFn>("SH_Init")) init(nullptr);
  return 1;
}

int KernelBinding::UnloadKernel() {
  if (!m_module) return 1;
  auto uninit = Resolve<UnInitFn>("SH_UnInit");
  if (!uninit) return 0;
  uninit();
  return 1;
}

int KernelBinding::GetPartitionCount() {
  auto fn = Resolve<CountFn>("SH_GetPartitionCount");
  return fn ? fn() : 0;
}

int KernelBinding::GetPartitionParameter(PartitionParameter* out, int index) {
  auto fn = Resolve<ParameterFn>("SH_GetPartitionParameter");
  return fn ? fn(out, index) : 0;
}

int KernelBinding::GetItemById(uint32_t idLow, uint32_t idHigh, DelItem* out) {
  auto fn = Resolve<ItemByIdFn>("SH_GetDelItemFromID");
  return fn ? fn(idLow, idHigh, out) : 0;
}

int KernelBinding::StopTask() {
  auto fn = Resolve<StopFn>("SH_StopTask");
  return fn ? fn() : 0;
}

int KernelBinding::RecoverFile(const wchar_t* folder, uint32_t idLow, uint32_t idHigh) {
  if (!folder) return 0;
  auto fn = Resolve<RecoverFn>("SH_RecoveryFile");
  return fn ? fn(folder, idLow, idHigh) : 0;
}

int KernelBinding::Scan(const wchar_t* prefix, const wchar_t* volume, int mode, HWND window) {
  if (!prefix || !volume) return 0;
  auto fn = Resolve<ScanFn>("SH_Scan");
  return fn ? fn(prefix, volume, mode, window) : 0;
}

void KernelBinding::SetRecoverPath(const std::wstring& folder) {
  m_recoverPath = folder;
  WriteSettingTo(SettingsPath(), kSection, kKey, folder.c_str());
}

int KernelBinding::SetHostWindow(HWND window) {
  m_hostWnd = window;
  return 1;
}

void KernelBinding::SetCurrentPartition(const wchar_t* name, uint8_t fsKind) {
  if (name) {
    size_t i = 0;
    for (; name[i] && i + 1 < std::size(m_partitionName); ++i) m_partitionName[i] = name[i];
    for (size_t j = i; j < std::size(m_partitionName); ++j) m_partitionName[j] = 0;
  }
  m_partitionType = fsKind;
}

void KernelBinding::RebuildIndex() {
  m_index.Clear();
  auto count = Resolve<ItemCountFn>("SH_GetDelItemCount");
  auto byIndex = Resolve<ItemByIndexFn>("SH_GetDelItemFromIndex");
  const int n = count ? count() : 0;
  if (!byIndex) return;
  DelItem record;
  for (int i = 0; i < n; ++i) {
    if (!byIndex(i, &record)) continue;
    record.path[std::size(record.path) - 1] = 0;  // never trust a terminator
    m_index.Add(record.path, {record.idLow, record.idHigh});
  }
}

void KernelBinding::FillFolderTree(HWND tree, int rebuild) {
  if (!rebuild || !tree) return;
  RebuildIndex();
  TreeViewModel model(tree);
  for (const std::wstring& folder : m_index.Folders()) restorix::MergeFolderIntoTree(model, folder);
  if (HTREEITEM first = TreeView_GetRoot(tree)) TreeView_Expand(tree, first, TVE_EXPAND);
}

void KernelBinding::FillFileList(const std::wstring& folder, HWND list) {
  if (!list) return;
  SendMessageW(list, WM_SETREDRAW, FALSE, 0);
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  DelItem record;
  // "A" and "a" share one tree node: its list shows the files of both.
  for (const restorix::ItemId& id : m_index.ItemsInNode(folder)) {
    if (!GetItemById(id.low, id.high, &record)) continue;
    record.path[std::size(record.path) - 1] = 0;
    AppendFileRow(list, record);
  }
  SetCursor(previous ? previous : LoadCursorW(nullptr, IDC_ARROW));
  SendMessageW(list, WM_SETREDRAW, TRUE, 0);
  InvalidateRect(list, nullptr, TRUE);
}

void KernelBinding::CollectFolderItems(const std::wstring& folder,
                                       std::vector<restorix::ItemId>& out) const {
  for (const restorix::ItemId& id : m_index.ItemsInNode(folder)) out.push_back(id);
}

void KernelBinding::SearchItems(std::wstring keyword, HWND list) {
  if (!list) return;
  ListView_DeleteAllItems(list);
  auto count = Resolve<ItemCountFn>("SH_GetDelItemCount");
  auto byIndex = Resolve<ItemByIndexFn>("SH_GetDelItemFromIndex");
  const int n = count ? count() : 0;
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  const restorix::SearchMatcher matcher(keyword);
  DelItem record;
  for (int i = 0; byIndex && i < n; ++i) {
    if (!byIndex(i, &record)) continue;
    record.path[std::size(record.path) - 1] = 0;  // never trust a terminator
    if (!matcher.Matches(record.path)) continue;
    AppendFileRow(list, record);
  }
  SetCursor(previous ? previous : LoadCursorW(nullptr, IDC_ARROW));
}
