#include "app/SearchDlg.h"

#include <commctrl.h>

#include <algorithm>
#include <iterator>
#include <string>

#include "app/KernelBinding.h"
#include "app/core/RecoveryRules.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"

namespace {
// Search pages of the window thread, for the one message hook they share.
std::vector<CSearchDlg*> g_hookedPages;
HHOOK g_keyHook = nullptr;

struct ColumnSpec {
  const wchar_t* caption;
  int width;
};
constexpr ColumnSpec kColumns[] = {{L"文件名", 490}, {L"大小(Byte)", 100}, {L"创建时间", 100}};
}  // namespace

CSearchDlg::CSearchDlg() : CPageDialog(IDD_SEARCH) {}

CSearchDlg::~CSearchDlg() { OnDestroy(); }

BOOL CSearchDlg::OnInitDialog() {
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SetUpList();
  SetDlgItemTextW(m_hwnd, IDC_KEYWORD_LABEL, L"文件名(关键字):");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  UpdateData(false);

  g_hookedPages.push_back(this);
  if (!g_keyHook) g_keyHook = SetWindowsHookExW(WH_GETMESSAGE, &CSearchDlg::KeyHook, nullptr, GetCurrentThreadId());
  return TRUE;  // the dialog manager picks the focus
}

void CSearchDlg::OnDestroy() {
  auto it = std::find(g_hookedPages.begin(), g_hookedPages.end(), this);
  if (it == g_hookedPages.end()) return;
  g_hookedPages.erase(it);
  if (g_hookedPages.empty() && g_keyHook) {
    UnhookWindowsHookEx(g_keyHook);
    g_keyHook = nullptr;
  }
}

void CSearchDlg::SetUpList() {
  if (!m_list.Attach(m_hwnd, IDC_FILE_LIST)) return;
  m_list.SubclassHeader();
  HWND list = m_list.Hwnd();
  m_imageList = ImageList_Create(16, 16, ILC_COLOR32 | ILC_MASK, 1, 1);
  if (m_imageList) {
    HINSTANCE instance = GetModuleHandleW(nullptr);
    for (int id : {IDI_FILE, IDI_FILE_DELETED}) {
      HICON icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(id), IMAGE_ICON, 16, 16, 0));
      ImageList_AddIcon(m_imageList, icon);
      if (icon) DestroyIcon(icon);
    }
  }
  DWORD style = ListView_GetExtendedListViewStyle(list);
  style &= ~static_cast<DWORD>(LVS_EX_GRIDLINES);
  style |= LVS_EX_SUBITEMIMAGES | LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT;
  ListView_SetExtendedListViewStyle(list, style);
  // The list owns its image lists (no LVS_SHAREIMAGELISTS) and frees this one.
  ListView_SetImageList(list, m_imageList, LVSIL_SMALL);
  int index = 0;
  for (const ColumnSpec& c : kColumns) {
    LVCOLUMNW column = {};
    column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT | LVCF_SUBITEM;
    column.fmt = LVCFMT_CENTER;
    column.cx = c.width;
    column.pszText = const_cast<wchar_t*>(c.caption);
    column.iSubItem = index;
    ListView_InsertColumn(list, index, &column);
    ++index;
  }
}

void CSearchDlg::UpdateData(bool fromControls) {
  if (fromControls) {
    m_keyword.clear();
    if (HWND edit = Item(IDC_KEYWORD)) {
      m_keyword.assign(static_cast<size_t>(GetWindowTextLengthW(edit)) + 1, L'\0');
      m_keyword.resize(static_cast<size_t>(GetWindowTextW(edit, m_keyword.data(), static_cast<int>(m_keyword.size()))));
    }
    m_markAll = IsDlgButtonChecked(m_hwnd, IDC_MARK_ALL) == BST_CHECKED ? 1 : 0;
  } else {
    SetDlgItemTextW(m_hwnd, IDC_KEYWORD, m_keyword.c_str());
    CheckDlgButton(m_hwnd, IDC_MARK_ALL, m_markAll ? BST_CHECKED : BST_UNCHECKED);
  }
}

LRESULT CALLBACK CSearchDlg::KeyHook(int code, WPARAM wParam, LPARAM lParam) noexcept {
  try {
    if (code == HC_ACTION && wParam == PM_REMOVE && lParam) {
      MSG& msg = *reinterpret_cast<MSG*>(lParam);
      // A copy: a page may go away while one of them handles the key.
      const std::vector<CSearchDlg*> pages = g_hookedPages;
      for (CSearchDlg* page : pages)
        if (page->PreTranslate(msg)) break;
    }
  } catch (...) {
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

bool CSearchDlg::PreTranslate(MSG& msg) {
  if (msg.message != WM_KEYUP || msg.wParam != VK_RETURN || !m_hwnd) return false;
  if (msg.hwnd != m_hwnd && !IsChild(m_hwnd, msg.hwnd)) return false;
  if (!m_searching) OnSearch();
  msg.message = WM_NULL;  // swallowed either way
  return true;
}

bool CSearchDlg::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_SEARCH:
      OnSearch();
      return true;
    case IDC_MARK_ALL:
      OnMarkAll();
      return true;
    case IDC_RECOVER:
      OnRecover();
      return true;
    case IDC_BACK:
      OnBack();
      return true;
    case IDC_PREVIEW:
    case IDC_ADVANCE:
      return true;  // never shown, no action
    default:
      return false;
  }
}

void CSearchDlg::OnSearch() {
  if (!m_binding) return;
  // The list is filled by one thread and read by the recovery: one at a time.
  if (m_searching || m_recovering) return;
  UpdateData(true);
  if (m_keyword.empty()) return;
  m_searching = 1;
  if (!m_binding->Workers().Start([this, keyword = m_keyword] { SearchThread(keyword); })) m_searching = 0;
}

void CSearchDlg::SearchThread(std::wstring keyword) {
  m_searching = 1;
  if (m_binding) {
    m_binding->SearchItems(keyword, m_list.Hwnd());
    const int n = ListView_GetItemCount(m_list.Hwnd());
    const std::wstring text = L"找到 " + std::to_wstring(n) + L" 个文件";  // "找到 %d 个文件"
    SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, text.c_str());
  }
  m_searching = 0;
}

void CSearchDlg::OnMarkAll() {
  UpdateData(true);
  // Check boxes of rows a search is inserting right now would race with it.
  if (m_searching) return;
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int row = 0; row < rows; ++row) m_list.SetItemCheck(row, m_markAll == 1);
}

void CSearchDlg::OnRecover() {
  if (!m_binding) return;
  // m_chosenItems belongs to a running recovery; the kernel takes one
  // recovery at a time, also one started by the results page.
  if (m_searching || m_recovering || m_binding->m_busy) return;
  m_chosenItems.clear();
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int row = 0; row < rows; ++row) {
    if (!m_list.GetItemCheck(row)) continue;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (ListView_GetItem(m_list.Hwnd(), &item)) m_chosenItems.push_back({static_cast<uint32_t>(item.lParam), 0});
  }
  if (m_chosenItems.empty()) return;
  m_binding->m_stopRequested = 0;
  // Taken here: the results page may change the folder meanwhile.
  std::wstring target = m_binding->GetRecoverPath();
  if (target.empty() || target.back() != L'\\') target += L'\\';
  m_recovering = 1;
  if (!m_binding->Workers().Start([this, target] { SearchRecoverThread(target); })) m_recovering = 0;
}

void CSearchDlg::SearchRecoverThread(const std::wstring& target) {
  KernelBinding* binding = m_binding;
  if (!binding) {
    m_recovering = 0;
    return;
  }
  HWND host = binding->m_hostWnd;
  PostMessageW(host, WM_RECOVER_PROGRESS, 1, 0);
  binding->m_busy = 1;
  const size_t n = m_chosenItems.size();
  size_t failed = 0;
  for (size_t i = 0; i < n; ++i) {
    PostMessageW(host, WM_RECOVER_PROGRESS, 1, restorix::RecoveryProgress(i, n));
    if (binding->m_stopRequested) break;
    if (!binding->RecoverFile(target.c_str(), m_chosenItems[i].low, m_chosenItems[i].high)) ++failed;
  }
  PostMessageW(host, WM_RECOVER_PROGRESS, 1, 100);
  binding->m_busy = 0;
  // Failures are not hidden behind "数据恢复完毕!"; after a stop (back) the
  // item cut short is no failure, and the plain message comes, as on the
  // results page.
  const size_t shown = binding->m_stopRequested ? 0 : failed;
  MessageBoxW(nullptr, restorix::RecoveryDoneText(shown, L"数据恢复完毕").c_str(), kAppCaption, MB_OK);
  m_recovering = 0;
}

void CSearchDlg::OnBack() {
  if (!m_binding) return;
  PostMessageW(m_binding->m_hostWnd, WM_RECOVER_PROGRESS, 0, 100);
  m_binding->StopTask();
  m_binding->m_stopRequested = 1;
  SendMessageW(m_binding->m_hostWnd, WM_SHOW_RESULTS_PAGE, 0, 0);
}
