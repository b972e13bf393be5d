// The results page driven like a user: the folder tree of a real scan of
// R:, clicks on labels, expand buttons and check boxes, the space bar, the
// mark-all box, the recovery folder question, recovery on its worker thread
// (progress, bytes written, failures), preview, and the back button.
#include <windows.h>

#include <commctrl.h>
#include <ole2.h>

#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <iterator>
#include <mutex>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "app/Pages.h"
#include "app/RestorixDlg.h"
#include "app/core/RecoveryRules.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"
#include "tests/app/gui/GuiHarness.h"

namespace guitest {

namespace {

// WM_RECOVER_PROGRESS as the main window takes it from its queue.
struct ProgressWatch {
  std::mutex lock;
  HWND main = nullptr;
  std::vector<std::pair<WPARAM, LPARAM>> seen;
} g_progress;

LRESULT CALLBACK ProgressHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* msg = reinterpret_cast<MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && msg && msg->message == WM_RECOVER_PROGRESS) {
    std::lock_guard<std::mutex> hold(g_progress.lock);
    if (msg->hwnd == g_progress.main) g_progress.seen.emplace_back(msg->wParam, msg->lParam);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<LPARAM> TakeProgress() {
  std::lock_guard<std::mutex> hold(g_progress.lock);
  std::vector<LPARAM> out;
  for (const auto& p : g_progress.seen) out.push_back(p.second);
  g_progress.seen.clear();
  return out;
}

std::wstring ItemText(HWND tree, HTREEITEM item) {
  wchar_t text[260] = {};
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = 260;
  TreeView_GetItem(tree, &tv);
  return text;
}

HTREEITEM Child(HWND tree, HTREEITEM parent, const std::wstring& text) {
  for (HTREEITEM i = TreeView_GetChild(tree, parent); i; i = TreeView_GetNextSibling(tree, i))
    if (ItemText(tree, i) == text) return i;
  return nullptr;
}

int CheckOf(HWND tree, HTREEITEM item) {
  return static_cast<int>((TreeView_GetItemState(tree, item, TVIS_STATEIMAGEMASK) & TVIS_STATEIMAGEMASK) >> 12);
}

// A client point on the item's row whose hit test has `flag`: its state
// icon, its expand button, or (TVHT_ONITEMLABEL) its text.
bool PointOn(HWND tree, HTREEITEM item, UINT flag, POINT& out) {
  RECT text = {};
  std::memcpy(&text, &item, sizeof item);  // TVM_GETITEMRECT takes the item in the rectangle
  if (!SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text))) return false;
  const int y = (text.top + text.bottom) / 2;
  for (int x = 0; x < text.right; ++x) {
    TVHITTESTINFO hit = {};
    hit.pt = {x, y};
    if (TreeView_HitTest(tree, &hit) == item && (hit.flags & flag)) {
      out = {x + (flag == TVHT_ONITEMLABEL ? 3 : 1), y};
      return true;
    }
  }
  return false;
}

// A press and release as the mouse gives them, with the pointer there too
// (the page looks at the pointer to find the folder).
bool Click(HWND tree, HTREEITEM item, UINT flag) {
  POINT p;
  if (!PointOn(tree, item, flag, p)) return false;
  POINT screen = p;
  ClientToScreen(tree, &screen);
  SetCursorPos(screen.x, screen.y);
  WaitUntil(
      [&] {
        POINT now = {};
        return GetCursorPos(&now) && now.x == screen.x && now.y == screen.y;
      },
      2000);
  PostMessageW(tree, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(p.x, p.y));
  PostMessageW(tree, WM_LBUTTONUP, 0, MAKELPARAM(p.x, p.y));
  DrainPosted();
  return true;
}

void PressSpace(HWND tree) {
  PostMessageW(tree, WM_KEYDOWN, VK_SPACE, 0x00390001);
  PostMessageW(tree, WM_CHAR, L' ', 0x00390001);
  PostMessageW(tree, WM_KEYUP, VK_SPACE, 0xC0390001);
  DrainPosted();
}

// A message box of ours other than the main window; answers it.
std::wstring Answer(HWND main, int answer) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindDialog(L"Talvex Data Recovery", main)) != nullptr; }, 60000)) return L"";
  const std::wstring text = MessageBoxText(box);
  PostMessageW(box, WM_COMMAND, answer, 0);
  WaitUntil([&] { return !IsWindow(box); });
  return text;
}

std::vector<int> RowChecks(CDrDlg& page) {
  std::vector<int> out;
  const int rows = ListView_GetItemCount(page.List().Hwnd());
  for (int i = 0; i < rows; ++i) out.push_back(page.List().GetItemCheck(i) ? 1 : 0);
  return out;
}

std::string ReadAll(const std::wstring& path) {
  std::ifstream in(path.c_str(), std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// What make_gui_image.sh wrote into each deleted file, told apart by size.
std::string Written(uint64_t size) {
  if (size == 3000) return std::string(3000, 'a');
  if (size == 70000) return std::string(70000, 'p');
  if (size == 10) return "top level\n";
  return "?";
}

bool ScanR(AppContext& app) {
  g_scanClosed = 0;
  app.State().SetCurrentPartition(L"R:", 2);
  app.Kernel().Scan(L"R:\\", L"R:", 2, g_invoker);
  const bool ended = WaitUntil([] { return g_scanClosed.load() != 0; }, 120000);
  DrainPosted();
  return ended;
}

std::wstring Label(HWND page, int id) { return WindowText(GetDlgItem(page, id)); }

// Presses browse and cancels the picker.
bool BrowseAndCancel(HWND page) {
  PostMessageW(page, WM_COMMAND, MAKEWPARAM(IDC_BROWSE, BN_CLICKED), 0);
  HWND picker = nullptr;
  if (!WaitUntil([&] { return (picker = FindPicker()) != nullptr; })) return false;
  PostMessageW(picker, WM_COMMAND, IDCANCEL, 0);
  return WaitUntil([&] { return !IsWindow(picker); });
}

}  // namespace

void TestResultsPage(CRestorixDlg& dlg, bool imageMapped) {
  std::printf("# results page\n");
  HWND main = dlg.Hwnd();
  AppContext* app = dlg.App();
  if (dlg.Pages().size() < 2 || !app) return;
  auto& page = *static_cast<CDrDlg*>(dlg.Pages()[1].window);
  HWND pageWnd = page.Hwnd();
  HWND tree = page.Tree().Hwnd();
  HWND list = page.List().Hwnd();
  CHECK_MSG(tree == GetDlgItem(pageWnd, IDC_FOLDER_TREE) && list == GetDlgItem(pageWnd, IDC_FILE_LIST),
            "tree 1008 and list 1007 are the page's controls");

  // Set-up.
  HWND header = ListView_GetHeader(list);
  const wchar_t* headings[] = {L"文件名", L"大小(Byte)", L"创建时间", L"状态"};
  const int widths[] = {290, 100, 100, 100};
  // A kernel that tells items' states gets a fourth column; an older one
  // leaves the three.
  const int columns = GetProcAddress(GetModuleHandleW(L"Kestrel.dll"), "KX_GetDelItemInfo") ? 4 : 3;
  bool columnsOk = Header_GetItemCount(header) == columns && page.List().m_header.Hwnd() == header;
  for (int i = 0; columnsOk && i < columns; ++i) {
    wchar_t text[64] = {};
    LVCOLUMNW c = {};
    c.mask = LVCF_TEXT | LVCF_WIDTH | LVCF_FMT;
    c.pszText = text;
    c.cchTextMax = 64;
    columnsOk = ListView_GetColumn(list, i, &c) && std::wstring(text) == headings[i] && c.cx == widths[i] &&
                (i == 0 || (c.fmt & LVCFMT_JUSTIFYMASK) == LVCFMT_CENTER);
  }
  CHECK_MSG(columnsOk, "columns 文件名 290, 大小(Byte) 100, 创建时间 100, under the flat header");
  const DWORD ex = ListView_GetExtendedListViewStyle(list);
  CHECK_MSG((ex & (LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES)) ==
                    (LVS_EX_CHECKBOXES | LVS_EX_FULLROWSELECT | LVS_EX_SUBITEMIMAGES) &&
                !(ex & LVS_EX_GRIDLINES),
            "list: check boxes, full-row select, sub-item images, no grid lines");
  HIMAGELIST states = TreeView_GetImageList(tree, TVSIL_STATE);
  int cx = 0, cy = 0;
  CHECK_MSG(states && ImageList_GetImageCount(states) == 4 && ImageList_GetIconSize(states, &cx, &cy) && cx == 13 &&
                cy == 13,
            "the tree's state images: bitmap 134 cut into four 13 x 13 boxes");
  CHECK_MSG(ImageList_GetImageCount(TreeView_GetImageList(tree, TVSIL_NORMAL)) == 2 &&
                ImageList_GetImageCount(ListView_GetImageList(list, LVSIL_SMALL)) == 2,
            "two folder icons for the tree, two file icons for the list");
  CHECK(Label(pageWnd, IDC_SETTINGS_GROUP) == L"设置" && Label(pageWnd, IDC_RECOVER_PATH_LABEL) == L"恢复路径:" &&
        Label(pageWnd, IDC_MARK_ALL) == L"全选");
  HWND edit = GetDlgItem(pageWnd, IDC_RECOVER_PATH);
  CHECK_MSG(WindowText(edit) == app->Settings().GetRecoverPath() && (GetWindowLongPtrW(edit, GWL_STYLE) & ES_READONLY),
            "the read-only edit shows the recovery folder");
  CHECK_MSG(IsDlgButtonChecked(pageWnd, IDC_MARK_ALL) == BST_CHECKED, "全选 starts checked");
  HDC dc = GetDC(edit);
  SetTextColor(dc, 0);
  SendMessageW(pageWnd, WM_CTLCOLORSTATIC, reinterpret_cast<WPARAM>(dc), reinterpret_cast<LPARAM>(edit));
  const COLORREF editColour = GetTextColor(dc);
  ReleaseDC(edit, dc);
  CHECK_MSG(editColour == 0xFF0000, "the recovery folder is drawn in blue");

  if (!imageMapped) return;

  // Back empties whatever an earlier visit left; a new scan fills afresh.
  app->State().ClearStop();
  SendMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_BACK, BN_CLICKED), 0);
  DrainPosted();
  CHECK_MSG(TreeView_GetCount(tree) == 0 && ListView_GetItemCount(list) == 0 && Label(pageWnd, IDC_FOLDER_LABEL).empty(),
            "back empties tree, list and folder label");
  CHECK_MSG(app->State().StopRequested() && dlg.CurrentPage().key == kPageDevice, "back stops and shows the device page");
  CHECK_MSG(ScanR(*app) && KernelItemCount() == 3, "R: scanned again: three items");

  g_progress.main = main;
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, ProgressHook, nullptr, GetWindowThreadProcessId(main, nullptr));
  CHECK(hook != nullptr);
  SendMessageW(main, WM_SHOW_RESULTS_PAGE, 0, 0);
  DrainPosted();
  HTREEITEM root = TreeView_GetRoot(tree);
  HTREEITEM deleted = Child(tree, root, L"Deleted");
  HTREEITEM docs = Child(tree, deleted, L"Docs");
  HTREEITEM photos = Child(tree, deleted, L"Photos");
  HTREEITEM y2011 = Child(tree, photos, L"2011");
  CHECK_MSG(root && root == page.RootItem() && ItemText(tree, root) == L"R:" && !TreeView_GetNextSibling(tree, root),
            "one root item, the partition R:");
  CHECK_MSG(deleted && docs && photos && y2011 && TreeView_GetCount(tree) == 5, "R: > Deleted > Docs, Photos > 2011");
  CHECK_MSG(deleted && (TreeView_GetItemState(tree, deleted, TVIS_EXPANDED) & TVIS_EXPANDED),
            "the root's first child is expanded");
  bool allUnchecked = true;
  for (HTREEITEM i : {root, deleted, docs, photos, y2011}) allUnchecked = allUnchecked && CheckOf(tree, i) == 1;
  CHECK_MSG(allUnchecked, "every folder starts with an empty box");
  CHECK_MSG(ListView_GetItemCount(list) == 1 && RowChecks(page) == std::vector<int>{1} &&
                Label(pageWnd, IDC_FOUND_COUNT).empty(),
            "the list shows R:\\Deleted's one file, checked; no count yet");
  if (columns == 4) {
    wchar_t state[64] = {};
    ListView_GetItemText(list, 0, 3, state, 64);
    CHECK_MSG(std::wstring(state) == L"完好", "nothing was written after the delete: top.txt's state is 完好");
  }
  if (!root || !deleted || !docs || !photos || !y2011) {
    UnhookWindowsHookEx(hook);
    return;
  }

  // Folder labels and expand buttons show the folder's files.
  CHECK(Click(tree, docs, TVHT_ONITEMLABEL));
  CHECK_MSG(TreeView_GetSelection(tree) == docs && Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\Deleted\\Docs" &&
                Label(pageWnd, IDC_FOUND_COUNT) == L"找到 1 个文件" && ListView_GetItemCount(list) == 1,
            "a click on Docs shows R:\\Deleted\\Docs and 找到 1 个文件");
  CHECK(Click(tree, root, TVHT_ONITEMLABEL));
  CHECK_MSG(Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\" && ListView_GetItemCount(list) == 1,
            "a click on the root shows R:\\ and the files of R:\\Deleted");
  page.List().SetItemCheck(0, false);
  CHECK(Click(tree, root, TVHT_ONITEMLABEL));
  CHECK_MSG(RowChecks(page) == std::vector<int>{0}, "a click on the folder already selected changes nothing");
  CHECK(Click(tree, photos, TVHT_ONITEMBUTTON));
  CHECK_MSG((TreeView_GetItemState(tree, photos, TVIS_EXPANDED) & TVIS_EXPANDED) &&
                TreeView_GetSelection(tree) == root && Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\" &&
                RowChecks(page) == std::vector<int>{0},
            "the expand button of Photos opens it and leaves the list of the selected root alone");
  // The keyboard selects Deleted while the pointer rests on Photos: the
  // list shows the selected folder, not the one under the pointer.
  PostMessageW(tree, WM_KEYDOWN, VK_DOWN, 0x01500001);
  PostMessageW(tree, WM_KEYUP, VK_DOWN, 0xC1500001);
  DrainPosted();
  CHECK_MSG(TreeView_GetSelection(tree) == deleted && Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\Deleted" &&
                Label(pageWnd, IDC_FOUND_COUNT) == L"找到 1 个文件",
            "a selection by keyboard shows the selected folder's files");
  CHECK(Click(tree, photos, TVHT_ONITEMLABEL));
  CHECK_MSG(Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\Deleted\\Photos" && Label(pageWnd, IDC_FOUND_COUNT) == L"找到 0 个文件",
            "a click on Photos shows its files: none");
  CHECK(Click(tree, y2011, TVHT_ONITEMLABEL));
  CHECK_MSG(Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\Deleted\\Photos\\2011" &&
                Label(pageWnd, IDC_FOUND_COUNT) == L"找到 1 个文件",
            "a click on 2011 shows its one file");

  // Check boxes: one step per click, no second toggle by the platform.
  CHECK(Click(tree, docs, TVHT_ONITEMSTATEICON));
  CHECK_MSG(CheckOf(tree, docs) == 3 && (page.Tree().m_lastHitFlags & TVHT_ONITEMSTATEICON),
            "a click on Docs' box checks it (and no further)");
  CHECK_MSG(CheckOf(tree, deleted) == 2 && CheckOf(tree, root) == 2 && CheckOf(tree, photos) == 1,
            "its parent and the root turn mixed, its sibling stays");
  CHECK_MSG(Label(pageWnd, IDC_FOLDER_LABEL) == L"R:\\Deleted\\Photos\\2011" && TreeView_GetSelection(tree) != docs,
            "a click on a box leaves the list alone");
  CHECK(Click(tree, docs, TVHT_ONITEMSTATEICON));
  CHECK_MSG(CheckOf(tree, docs) == 1 && CheckOf(tree, deleted) == 1 && CheckOf(tree, root) == 1,
            "a second click unchecks it and its ancestors");
  CHECK(Click(tree, photos, TVHT_ONITEMLABEL));
  PressSpace(tree);
  CHECK_MSG(CheckOf(tree, photos) == 3 && CheckOf(tree, y2011) == 3 && CheckOf(tree, deleted) == 2,
            "space checks the selected folder and its subtree, once");
  PressSpace(tree);
  CHECK_MSG(CheckOf(tree, photos) == 1 && CheckOf(tree, y2011) == 1 && CheckOf(tree, deleted) == 1,
            "space again unchecks them");

  // 全选.
  CHECK(Click(tree, deleted, TVHT_ONITEMLABEL));
  HWND markAll = GetDlgItem(pageWnd, IDC_MARK_ALL);
  auto pressMarkAll = [&] {
    SendMessageW(markAll, BM_CLICK, 0, 0);
    DrainPosted();
  };
  pressMarkAll();
  CHECK_MSG(IsDlgButtonChecked(pageWnd, IDC_MARK_ALL) == BST_UNCHECKED && RowChecks(page) == std::vector<int>{0},
            "全选 cleared unchecks every row");
  pressMarkAll();
  CHECK_MSG(RowChecks(page) == std::vector<int>{1}, "全选 set checks every row");

  // Recovery into a fresh folder: Docs and Photos checked, the shown
  // folder's only row unchecked, so it stays out.
  auto setFolder = [&](const std::wstring& folder) { SetWindowTextW(edit, folder.c_str()); };
  auto pressRecover = [&] {
    PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
    DrainPosted();
  };
  const std::wstring out = TempFolder(L"restorix-dr");
  RemoveTree(out);
  CreateDirectoryW(out.c_str(), nullptr);
  Click(tree, docs, TVHT_ONITEMSTATEICON);
  Click(tree, photos, TVHT_ONITEMSTATEICON);
  CHECK_MSG(CheckOf(tree, deleted) == 3 && CheckOf(tree, root) == 3, "all folders checked: Deleted and the root too");
  page.List().SetItemCheck(0, false);
  setFolder(out);
  TakeProgress();
  pressRecover();
  std::wstring done = Answer(main, IDOK);
  CHECK_MSG(done == L"恢复完毕!", "the recovery ends with 恢复完毕!");
  CHECK_MSG(std::wstring(page.TargetFolder()) == out + L"\\" && page.RecoveryList().size() == 2,
            "two items: the checked folders' files, not the unchecked row of the shown folder");
  auto recovered = [&](const restorix::ItemId& id, bool& bytesOk) {
    DelItem item = {};
    if (!app->Kernel().GetItemById(id.low, id.high, &item)) return false;
    const std::wstring path = out + restorix::PathWithoutDrive(item.path);
    bytesOk = ReadAll(path) == Written(item.size);
    std::printf("#   recovered %ls (%llu bytes)\n", path.c_str(), static_cast<unsigned long long>(item.size));
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
  };
  bool allThere = true, bytesOk = true;
  for (const restorix::ItemId& id : page.RecoveryList()) {
    bool same = false;
    allThere = allThere && recovered(id, same);
    bytesOk = bytesOk && same;
  }
  CHECK_MSG(allThere && bytesOk, "old.txt and cat.jpg are under <folder>\\Deleted\\... with the bytes the image held");
  CHECK_MSG(GetFileAttributesW((out + L"\\Deleted\\top.txt").c_str()) == INVALID_FILE_ATTRIBUTES,
            "the unchecked top.txt was not recovered");
  CHECK(app->Workers().WaitIdle(std::chrono::seconds(30)));
  DrainPosted();
  CHECK_MSG(TakeProgress() == (std::vector<LPARAM>{0, 0, 50, 100}), "progress 0, 0, 50, 100 for two items");

  // All three, with a second press while the first recovery runs.
  page.List().SetItemCheck(0, true);
  OnUiThread([&] {
    SendMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
    SendMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
  });
  done = Answer(main, IDOK);
  CHECK_MSG(done == L"恢复完毕!" && page.RecoveryList().size() == 3, "three items recovered");
  CHECK(app->Workers().WaitIdle(std::chrono::seconds(30)));
  DrainPosted();
  CHECK_MSG(!FindDialog(L"Talvex Data Recovery", main), "the second press started nothing: one message only");
  CHECK_MSG(TakeProgress() == (std::vector<LPARAM>{0, 0, 33, 66, 100}), "progress 0, 0, 33, 66, 100 for three items");
  allThere = bytesOk = true;
  for (const restorix::ItemId& id : page.RecoveryList()) {
    bool same = false;
    allThere = allThere && recovered(id, same);
    bytesOk = bytesOk && same;
  }
  CHECK_MSG(allThere && bytesOk, "all three files recovered with their bytes");
  CHECK_MSG(!app->State().Busy() && !page.Recovering(), "busy is cleared at the end");

  // Busy elsewhere (a search page recovery): the button does nothing.
  app->State().SetBusy(true);
  pressRecover();
  Sleep(200);
  DrainPosted();
  CHECK_MSG(TakeProgress().empty() && !FindDialog(L"Talvex Data Recovery", main), "recover is ignored while busy");
  app->State().SetBusy(false);

  // Failures are counted: a folder that cannot be made (a file is in the way).
  const std::wstring blocker = out + L"\\blocker";
  CloseHandle(CreateFileW(blocker.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
  setFolder(blocker);
  pressRecover();
  CHECK_MSG(Answer(main, IDOK) == L"恢复完毕, 其中 3 个文件恢复失败!", "three failures are reported as such");
  app->Workers().WaitIdle(std::chrono::seconds(30));
  TakeProgress();

  // The recovery folder on the scanned partition: asked first, exact case.
  setFolder(L"R:\\restorix-dr-out");
  PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
  pressRecover();  // a second press while the question is up
  CHECK_MSG(Answer(main, IDCANCEL) == L"建议将恢复路径设置到与被恢复数据不同的分区中, 你确认要继续 ?",
            "a folder on R: asks first");
  Sleep(200);
  DrainPosted();
  CHECK_MSG(TakeProgress().empty() && !FindDialog(L"Talvex Data Recovery", main) && !page.Recovering(),
            "Cancel recovers nothing, and the second press asked nothing");
  if (GetDriveTypeW(L"R:\\") == DRIVE_NO_ROOT_DIR) {
    // Wine has no drive R: (only the kernel reads the image): every write fails.
    pressRecover();
    CHECK(Answer(main, IDOK) == L"建议将恢复路径设置到与被恢复数据不同的分区中, 你确认要继续 ?");
    CHECK_MSG(Answer(main, IDOK) == L"恢复完毕, 其中 3 个文件恢复失败!", "OK goes on");
    app->Workers().WaitIdle(std::chrono::seconds(30));
    setFolder(L"r:\\restorix-dr-out");
    pressRecover();
    CHECK_MSG(Answer(main, IDOK) == L"恢复完毕, 其中 3 个文件恢复失败!", "r: does not ask (no case folding)");
    app->Workers().WaitIdle(std::chrono::seconds(30));
  }
  TakeProgress();
  setFolder(app->Settings().GetRecoverPath());

  // Preview.
  ListView_SetItemState(list, -1, 0, LVIS_SELECTED);
  PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW, BN_CLICKED), 0);
  CHECK_MSG(Answer(main, IDOK) == L"请先从列表中选择一个文件!", "preview without a row asks for one");
  ListView_SetItemState(list, 0, LVIS_SELECTED, LVIS_SELECTED);
  LVITEMW row = {};
  row.mask = LVIF_PARAM;
  row.iItem = 0;
  ListView_GetItem(list, &row);
  DelItem item = {};
  app->Kernel().GetItemById(static_cast<uint32_t>(row.lParam), 0, &item);
  const std::wstring expected = app->Settings().GetRecoverPath() + restorix::PathWithoutDrive(item.path);
  DeleteFileW(expected.c_str());
  SendMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_PREVIEW, BN_CLICKED), 0);
  DrainPosted();
  CHECK_MSG(app->State().PreviewFile() == expected && ReadAll(expected) == Written(item.size),
            "preview writes the row's file into the recovery folder and names it for the preview page");
  CHECK_MSG(dlg.CurrentPage().key == kPagePreview, "then the preview page shows");
  SendMessageW(main, WM_SHOW_RESULTS_PAGE, 0, 0);
  CHECK_MSG(TreeView_GetCount(tree) == 5, "coming back keeps the tree (filled once per scan)");

  // Browsing for the recovery folder, cancelled. (Wine's picker cannot be
  // steered to a folder; the length rule is tested natively.)
  const std::wstring savedFolder = app->Settings().GetRecoverPath();
  OnUiThread([] { OleInitialize(nullptr); });
  SetWindowTextW(edit, L"");
  CHECK_MSG(BrowseAndCancel(pageWnd) && WindowText(edit) == savedFolder && app->Settings().GetRecoverPath() == savedFolder,
            "a cancelled picker keeps the folder and writes it back into the edit");

  // Search and back.
  PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_SEARCH, BN_CLICKED), 0);
  DrainPosted();
  CHECK_MSG(dlg.CurrentPage().key == kPageSearch, "search shows the search page");
  SendMessageW(main, WM_SHOW_RESULTS_PAGE, 0, 0);
  SendMessageW(main, WM_RECOVER_PROGRESS, 1, 40);
  app->State().ClearStop();
  PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_BACK, BN_CLICKED), 0);
  DrainPosted();
  HWND bar = GetDlgItem(main, IDC_PROGRESS);
  CHECK_MSG(TreeView_GetCount(tree) == 0 && ListView_GetItemCount(list) == 0 &&
                Label(pageWnd, IDC_FOLDER_LABEL).empty() && dlg.CurrentPage().key == kPageDevice &&
                app->State().StopRequested() && !IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0,
            "back empties the page, hides the bar, raises the stop flag and shows the device page");
  app->State().ClearStop();
  if (hook) UnhookWindowsHookEx(hook);
  RemoveTree(out);
}

// For the screenshots: a scan of R: on the results page, Docs' box
// checked, Photos opened and the top folder's files shown.
void ShowResultsForShowcase(CRestorixDlg& dlg) {
  AppContext* app = dlg.App();
  if (dlg.Pages().size() < 2 || !app) return;
  auto& page = *static_cast<CDrDlg*>(dlg.Pages()[1].window);
  HWND tree = page.Tree().Hwnd();
  // Whatever was shown before this scan goes first, as after a real visit.
  SendMessageW(page.Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BACK, BN_CLICKED), 0);
  DrainPosted();
  app->State().ClearStop();
  if (!ScanR(*app)) return;
  SendMessageW(dlg.Hwnd(), WM_SHOW_RESULTS_PAGE, 0, 0);
  DrainPosted();
  HTREEITEM deleted = Child(tree, TreeView_GetRoot(tree), L"Deleted");
  HTREEITEM photos = deleted ? Child(tree, deleted, L"Photos") : nullptr;
  if (!photos) return;
  Click(tree, photos, TVHT_ONITEMBUTTON);
  Click(tree, Child(tree, deleted, L"Docs"), TVHT_ONITEMSTATEICON);
  Click(tree, deleted, TVHT_ONITEMLABEL);
  POINT away = {0, 0};
  SetCursorPos(away.x, away.y);
}

}  // namespace guitest
