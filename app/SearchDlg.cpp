#include "app/SearchDlg.h"

#include <commctrl.h>

#include <iterator>
#include <string>

#include "app/AppContext.h"
#include "app/ResultViews.h"
#include "app/core/UiText.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"

namespace {
constexpr UINT_PTR kEnterSubclassId = 0x53454E;  // "SEN"

struct ColumnSpec {
  const wchar_t* caption;
  int width;
};
constexpr ColumnSpec kColumns[] = {{restorix::ui::kColumnFileName, 490},
                                   {restorix::ui::kColumnSize, 100},
                                   {restorix::ui::kColumnTime, 100}};
}  // namespace

CSearchDlg::CSearchDlg() : CPageDialog(IDD_SEARCH) {}

CSearchDlg::~CSearchDlg() = default;

std::vector<restorix::ItemId> CSearchDlg::ChosenItems() const {
  return m_recovery ? m_recovery->Items() : std::vector<restorix::ItemId>();
}

BOOL CSearchDlg::OnInitDialog() {
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SetUpList();
  SetDlgItemTextW(m_hwnd, IDC_KEYWORD_LABEL, restorix::ui::kKeywordLabel);
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, restorix::ui::kMarkAll);
  UpdateData(false);
  if (m_app) {
    m_searchSession = std::make_unique<restorix::SearchSession>(m_app->Kernel(), m_app->Workers());
    // The search page always answers, and after a stop (back) the item cut
    // short is no failure.
    m_recovery = std::make_unique<restorix::RecoverySession>(
        m_app->Kernel(), m_app->State(), m_app->Workers(),
        restorix::RecoveryEndRule{restorix::ui::kSearchRecoveryDone, false});
  }
  EnumChildWindows(
      m_hwnd,
      [](HWND child, LPARAM self) -> BOOL {
        reinterpret_cast<CSearchDlg*>(self)->WatchEnter(child);
        return TRUE;
      },
      reinterpret_cast<LPARAM>(this));
  return TRUE;  // the dialog manager picks the focus
}

void CSearchDlg::WatchEnter(HWND control) {
  SetWindowSubclass(control, &CSearchDlg::EnterProc, kEnterSubclassId, reinterpret_cast<DWORD_PTR>(this));
}

LRESULT CALLBACK CSearchDlg::EnterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                       DWORD_PTR self) noexcept {
  try {
    if (message == WM_NCDESTROY) {
      RemoveWindowSubclass(hwnd, &CSearchDlg::EnterProc, kEnterSubclassId);
    } else if (message == WM_KEYUP && wParam == VK_RETURN) {
      auto* page = reinterpret_cast<CSearchDlg*>(self);
      if (!page->Searching()) page->OnSearch();
      return 0;  // swallowed either way
    }
  } catch (...) {
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
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
  if (m_app) AddStateColumn(list, m_app->Kernel());
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

bool CSearchDlg::OnNotify(NMHDR* header, LRESULT& result) {
  if (header->idFrom != IDC_FILE_LIST || header->code != NM_CUSTOMDRAW || !m_app) return false;
  result = DrawFileListRow(reinterpret_cast<NMLVCUSTOMDRAW*>(header), m_app->Kernel());
  return true;
}

std::optional<LRESULT> CSearchDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAGE_SEARCH_DONE:
      OnSearchDone();
      return 0;
    case WM_PAGE_RECOVERY_DONE:
      OnRecoveryDone();
      return 0;
    default:
      return CPageDialog::OnMessage(message, wParam, lParam);
  }
}

void CSearchDlg::OnSearch() {
  // The list is filled from one search and read by the recovery: one at a time.
  if (!m_searchSession || Searching() || Recovering()) return;
  UpdateData(true);
  HWND page = m_hwnd;
  m_searchSession->Start(m_keyword, [page] { PostMessageW(page, WM_PAGE_SEARCH_DONE, 0, 0); });
}

void CSearchDlg::OnSearchDone() {
  if (!m_searchSession) return;
  const std::vector<restorix::FoundItem> matches = m_searchSession->TakeMatches();
  HWND list = m_list.Hwnd();
  HCURSOR previous = SetCursor(LoadCursorW(nullptr, IDC_WAIT));
  ListView_DeleteAllItems(list);
  for (const restorix::FoundItem& item : matches) AppendFileRow(list, item, m_app->Kernel());
  SetCursor(previous ? previous : LoadCursorW(nullptr, IDC_ARROW));
  const std::wstring text =
      restorix::ui::kFoundFilesBefore + std::to_wstring(ListView_GetItemCount(list)) + restorix::ui::kFoundFilesAfter;
  SetDlgItemTextW(m_hwnd, IDC_FOLDER_LABEL, text.c_str());
}

void CSearchDlg::OnMarkAll() {
  UpdateData(true);
  // The rows of a search about to be shown would not follow.
  if (Searching()) return;
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int row = 0; row < rows; ++row) m_list.SetItemCheck(row, m_markAll == 1);
}

void CSearchDlg::OnRecover() {
  // The chosen ids belong to a running recovery; the kernel takes one
  // recovery at a time, also one started by the results page.
  if (!m_recovery || Searching() || Recovering() || m_app->State().Busy()) return;
  std::vector<restorix::ItemId> chosen;
  const int rows = ListView_GetItemCount(m_list.Hwnd());
  for (int row = 0; row < rows; ++row) {
    if (!m_list.GetItemCheck(row)) continue;
    LVITEMW item = {};
    item.mask = LVIF_PARAM;
    item.iItem = row;
    if (ListView_GetItem(m_list.Hwnd(), &item)) chosen.push_back({static_cast<uint32_t>(item.lParam), 0});
  }
  // Taken here: the results page may change the folder meanwhile.
  std::wstring target = m_app->Settings().GetRecoverPath();
  if (target.empty() || target.back() != L'\\') target += L'\\';
  m_recovery->Start(std::move(chosen), target, PostingRecoveryEvents());
}

// The recovery thread has ended: its message (no owner, as the page stays
// usable), then the page takes requests again.
void CSearchDlg::OnRecoveryDone() {
  if (!m_recovery) return;
  if (const std::optional<std::wstring> text = m_recovery->EndMessage())
    MessageBoxW(nullptr, text->c_str(), restorix::ui::kCaption, MB_OK);
  m_recovery->Finish();
}

void CSearchDlg::OnBack() {
  if (!m_app) return;
  PostMessageW(m_app->Host(), WM_RECOVER_PROGRESS, 0, 100);
  m_app->Kernel().StopTask();
  m_app->State().RequestStop();
  SendMessageW(m_app->Host(), WM_SHOW_RESULTS_PAGE, 0, 0);
}
