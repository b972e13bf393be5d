// The search page and the preview page in the real main window, over the
// FAT test volume S: (restorix_gui_search.img of tests/app/make_gui_image.sh).
// Its deleted files: Docs\Lines.txt ("abc" CR LF "def" LF), Docs\Report.TXT,
// Docs\报告.txt, Pictures\Picture.PNG (200 x 100, red over blue),
// Data\Bytes100.bin (00..63), Data\Big20000.bin ('z'), archive.tar.gz, ReadMe.
#include "tests/app/gui/SearchPreviewTest.h"

#include <windows.h>

#include <commctrl.h>

#include <algorithm>
#include <cstdio>
#include <mutex>
#include <optional>
#include <utility>
#include <vector>

#include "app/AppContext.h"
#include "app/Pages.h"
#include "app/RestorixDlg.h"
#include "app/core/FolderPaths.h"
#include "app/core/ItemFormat.h"
#include "app/resource.h"
#include "tests/app/gui/GuiHarness.h"

namespace guitest {
namespace {

using Names = std::vector<std::wstring>;

// The kernel's items in index order.
std::vector<DelItem> KernelItems() {
  std::vector<DelItem> items;
  HMODULE kestrel = GetModuleHandleW(L"Kestrel.dll");
  auto count = reinterpret_cast<decltype(&SH_GetDelItemCount)>(
      reinterpret_cast<void*>(GetProcAddress(kestrel, "SH_GetDelItemCount")));
  auto byIndex = reinterpret_cast<decltype(&SH_GetDelItemFromIndex)>(
      reinterpret_cast<void*>(GetProcAddress(kestrel, "SH_GetDelItemFromIndex")));
  DelItem d;
  for (int i = 0, n = count && byIndex ? count() : 0; i < n; ++i)
    if (byIndex(i, &d)) items.push_back(d);
  return items;
}

const DelItem* FindItem(const std::vector<DelItem>& items, const std::wstring& name) {
  for (const DelItem& item : items)
    if (restorix::FileNameOf(item.path) == name) return &item;
  return nullptr;
}

bool ScanVolumeS(AppContext& app) {
  g_scanClosed = 0;
  app.State().SetCurrentPartition(L"S:", 2);
  app.Kernel().Scan(L"S:\\", L"S:", 2, g_invoker);
  const bool ended = WaitUntil([] { return g_scanClosed.load() != 0; }, 120000);
  return DrainPosted() && ended;
}

template <typename Page>
Page* PageOf(CRestorixDlg& dlg, uint8_t key) {
  for (const PageEntry& e : dlg.Pages())
    if (e.key == key) return static_cast<Page*>(e.window);
  return nullptr;
}

void Click(HWND page, int id) {
  SendMessageW(page, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(page, id)));
}

void PressEnter(HWND control) {
  PostMessageW(control, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(control, WM_KEYUP, VK_RETURN, 0xC01C0001);
  DrainPosted();
}

std::wstring Cell(HWND list, int row, int column) {
  wchar_t text[1024] = {};
  ListView_GetItemText(list, row, column, text, static_cast<int>(std::size(text)));
  return text;
}

Names RowNames(CSearchDlg& page) {
  Names names;
  for (int i = 0; i < ListView_GetItemCount(page.List().Hwnd()); ++i) names.push_back(Cell(page.List().Hwnd(), i, 0));
  return names;
}

// "x" for a checked row, "-" for an unchecked one.
std::string Checks(CSearchDlg& page) {
  std::string c;
  for (int i = 0; i < ListView_GetItemCount(page.List().Hwnd()); ++i) c += page.List().GetItemCheck(i) ? 'x' : '-';
  return c;
}

bool Search(CSearchDlg& page, const wchar_t* keyword) {
  SetDlgItemTextW(page.Hwnd(), IDC_KEYWORD, keyword);
  Click(page.Hwnd(), IDC_SEARCH);
  return WaitUntil([&] { return !page.Searching(); }) && DrainPosted();
}

std::optional<std::string> ReadWholeFile(const std::wstring& path) {
  HANDLE f = CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
  if (f == INVALID_HANDLE_VALUE) return std::nullopt;
  std::string bytes;
  char chunk[65536];
  DWORD got = 0;
  while (ReadFile(f, chunk, sizeof chunk, &got, nullptr) && got > 0) bytes.append(chunk, got);
  CloseHandle(f);
  return bytes;
}

// WM_RECOVER_PROGRESS as the main window takes it from its queue.
std::mutex g_progressLock;
std::vector<std::pair<WPARAM, LPARAM>> g_progress;
HWND g_progressHost = nullptr;

LRESULT CALLBACK ProgressHook(int code, WPARAM wParam, LPARAM lParam) {
  const MSG* m = reinterpret_cast<const MSG*>(lParam);
  if (code == HC_ACTION && wParam == PM_REMOVE && m->hwnd == g_progressHost && m->message == WM_RECOVER_PROGRESS) {
    std::lock_guard<std::mutex> hold(g_progressLock);
    g_progress.emplace_back(m->wParam, m->lParam);
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::vector<std::pair<WPARAM, LPARAM>> TakeProgress() {
  std::lock_guard<std::mutex> hold(g_progressLock);
  return std::exchange(g_progress, {});
}

// The completion message of a recovery (no owner), answered with OK.
// `afterStop`: the stop may cut the item in flight short; when it comes
// during the last item, before the page's stop flag is up, that one item
// is honestly reported as not recovered.
bool CloseDoneBox(HWND main, bool afterStop = false) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindDialog(L"Talvex Data Recovery", main)) != nullptr; })) return false;
  const std::wstring text = MessageBoxText(box);
  const bool right = (text == L"数据恢复完毕!" || (afterStop && text == L"数据恢复完毕, 其中 1 个文件恢复失败!")) &&
                     GetWindow(box, GW_OWNER) == nullptr;
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  return WaitUntil([&] { return !IsWindow(box); }) && right;
}

void TestSearching(CRestorixDlg& dlg, CSearchDlg& page, const std::vector<DelItem>& items) {
  HWND wnd = page.Hwnd();
  HWND list = page.List().Hwnd();
  HWND edit = GetDlgItem(wnd, IDC_KEYWORD);
  auto count = [&] { return WindowText(GetDlgItem(wnd, IDC_FOLDER_LABEL)); };
  const DWORD ex = ListView_GetExtendedListViewStyle(list);
  CHECK_MSG(WindowText(GetDlgItem(wnd, IDC_KEYWORD_LABEL)) == L"文件名(关键字):" &&
                WindowText(GetDlgItem(wnd, IDC_MARK_ALL)) == L"全选" && IsDlgButtonChecked(wnd, IDC_MARK_ALL) &&
                page.List().m_header.Hwnd() == ListView_GetHeader(list) && (ex & LVS_EX_CHECKBOXES) &&
                (ex & LVS_EX_FULLROWSELECT) && !(ex & LVS_EX_GRIDLINES) &&
                ImageList_GetImageCount(ListView_GetImageList(list, LVSIL_SMALL)) == 2,
            "labels, 全选 checked, painted header, check boxes, two icons");

  // An empty keyword: neither the button nor Enter does anything.
  SetDlgItemTextW(wnd, IDC_KEYWORD, L"");
  Click(wnd, IDC_SEARCH);
  PressEnter(edit);
  CHECK_MSG(!page.Searching() && count().empty() && dlg.CurrentPage().key == kPageSearch,
            "an empty keyword searches nothing and Enter leaves the page open");

  const Names texts = {L"Lines.txt", L"Report.TXT", L"报告.txt"};
  CHECK(Search(page, L"TXT"));
  CHECK_MSG(RowNames(page) == texts && count() == L"找到 3 个文件", "TXT finds Lines.txt, Report.TXT, 报告.txt");
  bool rowsOk = true;
  for (int row = 0; row < 3; ++row) {
    LVITEMW li = {};
    li.mask = LVIF_PARAM;
    li.iItem = row;
    ListView_GetItem(list, &li);
    const DelItem* item = FindItem(items, texts[row]);
    rowsOk = rowsOk && item && static_cast<uint32_t>(li.lParam) == item->idLow &&
             Cell(list, row, 1) == std::to_wstring(item->size) &&
             Cell(list, row, 2) == restorix::FormatItemTime(item->modified) && page.List().GetItemCheck(row);
  }
  CHECK_MSG(rowsOk, "each row: size, time, the item's id as data, checked");
  CHECK(Search(page, L"Docs"));
  CHECK_MSG(RowNames(page).empty() && count() == L"找到 0 个文件", "a folder name finds nothing");

  // Enter's key release anywhere on the page searches.
  SetDlgItemTextW(wnd, IDC_KEYWORD, L"bytes1");
  PressEnter(edit);
  CHECK(WaitUntil([&] { return !page.Searching(); }) && DrainPosted());
  CHECK_MSG(RowNames(page) == Names{L"Bytes100.bin"} && dlg.CurrentPage().key == kPageSearch,
            "Enter in the keyword box searches and the page stays");

  // A second press while a search runs is ignored.
  OnUiThread([&] {
    SetDlgItemTextW(wnd, IDC_KEYWORD, L"big");
    Click(wnd, IDC_SEARCH);
    SetDlgItemTextW(wnd, IDC_KEYWORD, L"png");
    Click(wnd, IDC_SEARCH);
  });
  CHECK(WaitUntil([&] { return !page.Searching(); }) && DrainPosted());
  CHECK_MSG(RowNames(page) == Names{L"Big20000.bin"}, "a search pressed while one runs changes nothing");

  CHECK(Search(page, L"txt"));
  page.List().SetItemCheck(1, false);
  CheckDlgButton(wnd, IDC_MARK_ALL, BST_UNCHECKED);
  Click(wnd, IDC_MARK_ALL);
  const std::string cleared = Checks(page);
  CheckDlgButton(wnd, IDC_MARK_ALL, BST_CHECKED);
  Click(wnd, IDC_MARK_ALL);
  CHECK_MSG(cleared == "---" && Checks(page) == "xxx", "全选 cleared unchecks every row, pressed again checks all");
  CheckDlgButton(wnd, IDC_MARK_ALL, BST_UNCHECKED);
  CHECK(Search(page, L"txt"));
  CHECK_MSG(Checks(page) == "xxx", "rows of a new search are checked whatever 全选 shows");
  CheckDlgButton(wnd, IDC_MARK_ALL, BST_CHECKED);
}

void TestRecovering(CRestorixDlg& dlg, CSearchDlg& page, const std::vector<DelItem>& items) {
  HWND wnd = page.Hwnd();
  HWND main = dlg.Hwnd();
  AppContext* app = dlg.App();
  const std::wstring savedPath = app->Settings().GetRecoverPath();
  const std::wstring folder = TempFolder(L"restorix-search-recover");
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  app->Settings().SetRecoverPath(folder);
  auto written = [&](const std::wstring& name) -> std::optional<std::string> {
    const DelItem* item = FindItem(items, name);
    return item ? ReadWholeFile(folder + (item->path + 2)) : std::nullopt;  // folder + "\Deleted\..."
  };
  g_progressHost = main;
  HHOOK hook = SetWindowsHookExW(WH_GETMESSAGE, ProgressHook, nullptr, GetWindowThreadProcessId(main, nullptr));

  // ReadMe left out: three of four rows.
  CHECK(Search(page, L"r"));
  CHECK(RowNames(page) == (Names{L"Report.TXT", L"Picture.PNG", L"archive.tar.gz", L"ReadMe"}));
  page.List().SetItemCheck(3, false);
  app->State().RequestStop();  // left over from an earlier back press
  TakeProgress();
  Click(wnd, IDC_RECOVER);
  CHECK_MSG(page.ChosenItems().size() == 3 && page.ChosenItems()[2].low == FindItem(items, L"archive.tar.gz")->idLow,
            "the checked rows' ids are chosen in list order");
  // While the completion message is up the recovery thread still runs:
  // other requests leave the list and the chosen ids alone.
  CHECK(WaitUntil([&] { return FindDialog(L"Talvex Data Recovery", main) != nullptr; }));
  CHECK_MSG(page.Recovering() && !app->State().Busy(), "the busy flag is down before the completion message");
  SetDlgItemTextW(wnd, IDC_KEYWORD, L"png");
  Click(wnd, IDC_SEARCH);
  PressEnter(GetDlgItem(wnd, IDC_KEYWORD));
  page.List().SetItemCheck(3, true);
  Click(wnd, IDC_RECOVER);
  CHECK_MSG(!page.Searching() && RowNames(page).size() == 4 && page.ChosenItems().size() == 3,
            "search, Enter and recover while the recovery runs are ignored");
  CHECK(CloseDoneBox(main));
  CHECK(WaitUntil([&] { return !page.Recovering(); }) && DrainPosted());
  CHECK_MSG(!FindDialog(L"Talvex Data Recovery", main), "no second recovery started");
  const std::vector<std::pair<WPARAM, LPARAM>> expected = {{1, 0}, {1, 0}, {1, 33}, {1, 66}, {1, 100}};
  CHECK_MSG(TakeProgress() == expected && !IsWindowVisible(GetDlgItem(main, IDC_PROGRESS)),
            "progress 0, then 0, 33, 66 before each item, then 100");
  const auto png = written(L"Picture.PNG");
  CHECK_MSG(written(L"Report.TXT") == std::optional<std::string>("quarterly\r\n") &&
                written(L"archive.tar.gz") == std::optional<std::string>("not really gzip\n") && png &&
                png->size() == 264 && png->compare(0, 4, "\x89PNG") == 0 && !written(L"ReadMe"),
            "the three checked files are written with their bytes, the unchecked one is not");

  // Back while a recovery runs: the loop stops, the message comes all the
  // same, the bar goes and the results page shows.
  OnUiThread([&] {
    Click(wnd, IDC_RECOVER);
    Click(wnd, IDC_BACK);
  });
  CHECK_MSG(app->State().StopRequested() && dlg.CurrentPage().key == kPageResults, "back shows the results page");
  CHECK_MSG(CloseDoneBox(main, true), "数据恢复完毕! after back as well");
  CHECK(WaitUntil([&] { return !page.Recovering(); }) && DrainPosted());
  const auto stopped = TakeProgress();
  auto posted = [&](WPARAM w, LPARAM l) { return std::count(stopped.begin(), stopped.end(), std::make_pair(w, l)); };
  CHECK_MSG(posted(0, 100) && posted(1, 100) && !IsWindowVisible(GetDlgItem(main, IDC_PROGRESS)) && !app->State().Busy(),
            "back hides the bar; the recovery still ends at 100");
  if (hook) UnhookWindowsHookEx(hook);
  app->Settings().SetRecoverPath(savedPath);
  RemoveTree(folder);
}

bool Visible(HWND page, int id) { return IsWindowVisible(GetDlgItem(page, id)) != FALSE; }

// The Text, Hex and Picture buttons' marks: capital for a checked one.
std::string Marks(CPreviewDlg& page) {
  return std::string(1, page.Button(IDC_TEXT_BUTTON).Checked() ? 'T' : 't') +
         (page.Button(IDC_HEX_BUTTON).Checked() ? 'H' : 'h') + (page.Button(IDC_PICTURE_BUTTON).Checked() ? 'P' : 'p');
}

void TestPreview(CRestorixDlg& dlg, CPreviewDlg& page, const std::vector<DelItem>& items) {
  HWND wnd = page.Hwnd();
  HWND main = dlg.Hwnd();
  AppContext* app = dlg.App();
  const std::wstring folder = TempFolder(L"restorix-preview");
  RemoveTree(folder);
  CreateDirectoryW(folder.c_str(), nullptr);
  // As the results page does: recover the item, note the copy, ask for the page.
  auto preview = [&](const wchar_t* name) {
    const DelItem* item = FindItem(items, name);
    if (!item) return std::wstring();
    SendMessageW(main, WM_SHOW_RESULTS_PAGE, 0, 0);
    app->Kernel().RecoverFile((folder + L"\\").c_str(), item->idLow, item->idHigh);
    app->State().SetPreviewFile(folder + (item->path + 2));
    PostMessageW(main, WM_SHOW_PREVIEW_PAGE, 0, 0);
    DrainPosted();
    return folder + (item->path + 2);
  };
  auto press = [&](int id) {
    Click(wnd, id);
    OnUiThread([wnd] { RedrawWindow(wnd, nullptr, nullptr, RDW_UPDATENOW | RDW_ALLCHILDREN); });
  };
  CHexEditBase& hex = page.HexView();

  std::wstring path = preview(L"Bytes100.bin");
  CHECK_MSG(dlg.CurrentPage().key == kPagePreview && WindowText(GetDlgItem(wnd, IDC_PREVIEW_PATH)) == path,
            "the preview page shows with the copy's path");
  CHECK_MSG(Visible(wnd, IDC_HEX_VIEW) && !Visible(wnd, IDC_TEXT_VIEW) && Marks(page) == "tHp",
            "it starts in the hex view with Hex marked");
  bool bytes = hex.GetDataSize() == 100;
  for (UINT i = 0; bytes && i < 100; ++i) bytes = hex.GetData()[i] == i;
  const restorix::HexEditModel& model = hex.Model();
  CHECK_MSG(bytes && model.m_bytesPerRowSetting == 16 && model.m_showAddress && model.m_showAscii &&
                model.DataRows() == 7 && model.AddressText(6) == "00000060" && !hex.IsReadOnly(),
            "a 100-byte file: 7 editable rows of 16 with addresses to 00000060 and characters");

  preview(L"Lines.txt");
  press(IDC_TEXT_BUTTON);
  CHECK_MSG(Visible(wnd, IDC_TEXT_VIEW) && !Visible(wnd, IDC_HEX_VIEW) && Marks(page) == "Thp" &&
                WindowText(GetDlgItem(wnd, IDC_TEXT_VIEW)) == L"abcdef",
            "Text shows the lines abc and def as abcdef");
  press(IDC_PICTURE_BUTTON);
  CHECK_MSG(page.PictureMode() && Marks(page) == "thP" && !Visible(wnd, IDC_TEXT_VIEW) &&
                !Visible(wnd, IDC_HEX_VIEW) && Visible(wnd, IDC_NO_PREVIEW) &&
                WindowText(GetDlgItem(wnd, IDC_NO_PREVIEW)) == L"无法预览",
            "a text file in the picture view shows 无法预览");
  press(IDC_HEX_BUTTON);
  CHECK_MSG(!page.PictureMode() && Marks(page) == "tHp" && Visible(wnd, IDC_HEX_VIEW) &&
                !Visible(wnd, IDC_NO_PREVIEW) && hex.GetDataSize() == 9,
            "Hex goes back to the bytes loaded on showing");

  path = preview(L"Picture.PNG");
  press(IDC_PICTURE_BUTTON);
  CHECK_MSG(page.PictureMode() && !Visible(wnd, IDC_NO_PREVIEW) && !Visible(wnd, IDC_HEX_VIEW), "a PNG is drawn");
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, 600, 400);
  HGDIOBJ old = SelectObject(memory, bitmap);
  RECT all = {0, 0, 600, 400};
  FillRect(memory, &all, static_cast<HBRUSH>(GetStockObject(WHITE_BRUSH)));
  const bool drawn = CPreviewDlg::DrawPicture(memory, 600, 400, path);
  auto red = [&](int x, int y) { return GetRValue(GetPixel(memory, x, y)) > 180 && GetBValue(GetPixel(memory, x, y)) < 80; };
  auto blue = [&](int x, int y) { return GetBValue(GetPixel(memory, x, y)) > 180 && GetRValue(GetPixel(memory, x, y)) < 80; };
  CHECK_MSG(drawn && red(300, 61) && red(0, 180) && blue(300, 200) && blue(599, 318) &&
                GetPixel(memory, 300, 59) == RGB(255, 255, 255) && GetPixel(memory, 300, 321) == RGB(255, 255, 255),
            "a 200 x 100 picture in a 600 x 400 page fills 600 x 260 pixels from y = 60");
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);

  preview(L"Big20000.bin");
  bool firstKiB = hex.GetDataSize() == 8192 && hex.Model().DataRows() == 512;
  for (UINT i = 0; firstKiB && i < 8192; ++i) firstKiB = hex.GetData()[i] == 'z';
  CHECK_MSG(firstKiB && Marks(page) == "tHp" && !page.PictureMode(),
            "the next file starts in the hex view again: 20000 bytes show their first 8192");

  Click(wnd, IDC_BACK);
  CHECK_MSG(dlg.CurrentPage().key == kPageResults && !IsWindowVisible(wnd), "back shows the results page");
  RemoveTree(folder);
}

}  // namespace

void TestSearchAndPreview(CRestorixDlg& dlg, bool imageMapped) {
  std::printf("# search and preview pages\n");
  auto* search = PageOf<CSearchDlg>(dlg, kPageSearch);
  auto* preview = PageOf<CPreviewDlg>(dlg, kPagePreview);
  AppContext* app = dlg.App();
  CHECK(search && preview && app);
  if (!search || !preview || !app || !imageMapped) return;
  CHECK_MSG(ScanVolumeS(*app), "S: is scanned");
  const std::vector<DelItem> items = KernelItems();
  CHECK_MSG(items.size() == 8, "the volume's eight deleted files are found");
  SendMessageW(dlg.Hwnd(), WM_SHOW_SEARCH_PAGE, 0, 0);
  TestSearching(dlg, *search, items);
  TestRecovering(dlg, *search, items);
  TestPreview(dlg, *preview, items);
}

void ShowcaseSearchAndPreview(CRestorixDlg& dlg, const std::function<void(const std::wstring&)>& shoot) {
  auto* search = PageOf<CSearchDlg>(dlg, kPageSearch);
  auto* preview = PageOf<CPreviewDlg>(dlg, kPagePreview);
  AppContext* app = dlg.App();
  HWND main = dlg.Hwnd();
  if (!search || !preview || !app) return;
  ScanVolumeS(*app);
  SendMessageW(main, WM_SHOW_SEARCH_PAGE, 0, 0);
  Search(*search, L"t");
  shoot(L"3-search");

  const std::vector<DelItem> items = KernelItems();
  const std::wstring folder = TempFolder(L"restorix-showcase-preview");
  auto show = [&](const wchar_t* name, int button) {
    const DelItem* item = FindItem(items, name);
    if (!item) return;
    SendMessageW(main, WM_SHOW_RESULTS_PAGE, 0, 0);
    app->Kernel().RecoverFile((folder + L"\\").c_str(), item->idLow, item->idHigh);
    app->State().SetPreviewFile(folder + (item->path + 2));
    SendMessageW(main, WM_SHOW_PREVIEW_PAGE, 0, 0);
    Click(preview->Hwnd(), button);
  };
  show(L"Picture.PNG", IDC_HEX_BUTTON);
  shoot(L"4-preview-hex");
  show(L"Lines.txt", IDC_TEXT_BUTTON);
  shoot(L"4-preview-text");
  show(L"Picture.PNG", IDC_PICTURE_BUTTON);
  shoot(L"4-preview-picture");
  RemoveTree(folder);
}

}  // namespace guitest
