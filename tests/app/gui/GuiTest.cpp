// Drives the real Restorix main window, with the real Kestrel.dll beside
// it, through window messages, and checks what the user would see.
//
// The main thread runs the dialog modally, as the program does; a driver
// thread sends and posts messages and waits for their effects by polling
// with time-outs. Code that must run on the window thread goes through a
// small invoker window owned by that thread.
//
//   restorix_gui_test                      run the checks; last line "N passed, N failed"
//   restorix_gui_test --second-instance    exit code 1 when this copy may start
//   restorix_gui_test --showcase DIR       show every page in turn for scripts/screenshots.sh
//
// RESTORIX_GUI_IMAGE names a FAT image (Unix path) mapped to R: for the kernel;
// restorix_gui_ntfs.img beside it, an NTFS one, is mapped to N:.
#include <windows.h>

#include <commctrl.h>
#include <shellapi.h>

#include <atomic>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "app/AppFiles.h"
#include "app/AppContext.h"
#include "app/Pages.h"
#include "app/ProgressDlg.h"
#include "app/ResultViews.h"
#include "app/RestorixDlg.h"
#include "app/Startup.h"
#include "app/core/FolderIndex.h"
#include "controls/model/ColumnTreeLayout.h"
#include "app/core/DeviceRules.h"
#include "app/core/FolderPaths.h"
#include "app/core/StartupRules.h"
#include "app/core/UiText.h"
#include "app/resource.h"
#include "tests/app/gui/GuiHarness.h"
#include "tests/app/gui/SearchPreviewTest.h"
#include "controls/BrowseFolder.h"
#include "controls/GdiplusInclude.h"
#include "controls/PngButton.h"

using namespace guitest;

namespace guitest {
// ResultsPageTest.cpp
void TestResultsPage(CRestorixDlg& dlg, bool imageMapped);
void ShowResultsForShowcase(CRestorixDlg& dlg);
void TestHexView();  // HexViewTest.cpp
void TestDiskImage(CRestorixDlg& dlg);  // DiskImageTest.cpp
// ScanModesTest.cpp: the deep and format images mapped before SH_Init.
bool MapModeImages();
void TestScanModes(CRestorixDlg& dlg);
}  // namespace guitest

namespace {

// ---------------------------------------------------------------- before the window

void TestStartupPieces() {
  std::printf("# start-up pieces\n");
  // Single instance: this copy takes the block; another is turned away
  // while we hold it, and let in once we released it (as before the
  // elevated relaunch).
  CHECK(EnsureSingleInstance());
  CHECK(EnsureSingleInstance());  // a process that holds the block may start
  CHECK_MSG(RunSelf(L"--second-instance") == 0, "a second copy is turned away");
  ReleaseSingleInstance();
  CHECK_MSG(RunSelf(L"--second-instance") == 1, "after the block is released a new copy may start");
  CHECK(EnsureSingleInstance());

  // Elevation: the decision follows the token's integrity level.
  std::optional<uint32_t> rid = ReadIntegrityRid();
  CHECK_MSG(rid.has_value(), "the token's integrity level can be read");
  OSVERSIONINFOW v = {};
  v.dwOSVersionInfoSize = sizeof v;
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wdeprecated-declarations"
  GetVersionExW(&v);
#pragma GCC diagnostic pop
  CHECK_MSG(NeedsElevation() == restorix::ElevationNeeded(v.dwMajorVersion, rid),
            "NeedsElevation matches the decision for this token");

  // The program carries its manifest (common controls 6, started as invoked).
  HRSRC manifest = FindResourceW(nullptr, MAKEINTRESOURCEW(1), MAKEINTRESOURCEW(24));
  std::string text;
  if (HGLOBAL data = manifest ? LoadResource(nullptr, manifest) : nullptr)
    text.assign(static_cast<const char*>(LockResource(data)), SizeofResource(nullptr, manifest));
  CHECK_MSG(text.find("Microsoft.Windows.Common-Controls") != std::string::npos &&
                text.find("version=\"6.0.0.0\"") != std::string::npos,
            "the manifest asks for common controls 6");

  // Program folder and settings helpers.
  wchar_t self[MAX_PATH] = {};
  GetModuleFileNameW(nullptr, self, static_cast<DWORD>(std::size(self)));
  CHECK(GetProgramFolder(nullptr) == restorix::FolderOfModulePath(self));
  CHECK(SettingsFilePath() == GetProgramFolder(nullptr) + L"\\Setting.ini");
  wchar_t buffer[16];
  CHECK(ReadSetting(nullptr, L"k", buffer, 16) == 0);
  CHECK(ReadSetting(L"s", nullptr, buffer, 16) == 0);
  CHECK(ReadSetting(L"s", L"k", nullptr, 16) == 0);
  CHECK(WriteSetting(nullptr, L"k", L"v") == 0);
  CHECK(WriteSetting(L"s", L"k", nullptr) == 0);

  // Folder helpers on the real file system.
  const std::wstring root = TempFolder(L"restorix-folders");
  RemoveTree(root);
  CHECK(!FolderExists(root.c_str()));
  CHECK(FolderExists(L""));
  CHECK(CreateFolderTree((root + L"\\a\\b\\c").c_str()));
  CHECK(FolderExists((root + L"\\a\\b\\c\\").c_str()));
  CHECK_MSG(!CreateFolderTree((root + L"\\a\\b\\c").c_str()), "creating an existing folder reports false");
  CHECK(!CreateFolderTree(L"."));
  RemoveTree(root);
}

void TestContextWithoutLibrary() {
  std::printf("# program context without Kestrel.dll\n");
  const std::wstring folder = TempFolder(L"restorix-nolib");
  RemoveTree(folder);
  CreateFolderTree(folder.c_str());
  {
    AppContext app(folder);
    CHECK_MSG(app.Settings().GetRecoverPath() == folder + L"\\RecoveryData", "default recovery folder");
    CHECK_MSG(FolderExists((folder + L"\\RecoveryData").c_str()), "the default recovery folder is created");
    CHECK(app.State().PartitionType() == 255);
    CHECK(app.Host() == nullptr);

    std::atomic<int> loaded{-1};
    std::thread loader([&] { loaded = app.Kernel().LoadKernel(); });
    HWND box = nullptr;
    CHECK_MSG(WaitUntil([&] { return (box = FindDialog(L"tip")) != nullptr; }), "a missing library is reported");
    if (box) {
      CHECK(MessageBoxText(box) == L"Load dll failure! please check!");
      PostMessageW(box, WM_COMMAND, IDOK, 0);
    }
    loader.join();
    CHECK(loaded == 0);
    CHECK(!app.Kernel().IsLoaded());
    CHECK(app.Kernel().GetPartitionCount() == 0);
    PartitionParameter p;
    CHECK(app.Kernel().GetPartitionParameter(&p, 0) == 0);
    CHECK(app.Kernel().Scan(L"C:\\", L"C:", 1, nullptr) == 0);
    CHECK(app.Kernel().RecoverFile(L"C:\\out\\", 1, 0) == 0);
    CHECK(app.Kernel().StopTask() == 0);
    CHECK_MSG(app.Kernel().UnloadKernel() == 1, "UnloadKernel without a library answers 1");

    app.Settings().SetRecoverPath(L"D:\\Recovered files");
    wchar_t stored[260] = {};
    ReadSettingFrom(folder + L"\\Setting.ini", L"RecoverPath", L"path", stored, 260);
    CHECK_MSG(std::wstring(stored) == L"D:\\Recovered files", "SetRecoverPath writes Setting.ini");
    app.State().SetCurrentPartition(L"R:", 2);
    CHECK(app.State().PartitionName() == L"R:");
    CHECK(app.State().PartitionType() == 2);
    std::wstring longName(100, L'x');
    app.State().SetCurrentPartition(longName.c_str(), 1);
    CHECK_MSG(app.State().PartitionName().size() == 63, "a long partition name is cut to 63 units");
    app.State().SetPreviewFile(L"C:\\out\\a.txt");
    CHECK(app.State().PreviewFile() == L"C:\\out\\a.txt");
  }
  {
    SettingsFile again(folder);
    CHECK_MSG(again.GetRecoverPath() == L"D:\\Recovered files", "the recovery folder is read back from Setting.ini");
  }
  RemoveTree(folder);
}

// ---------------------------------------------------------------- image button

bool SavePng(Gdiplus::Bitmap& bitmap, const std::wstring& path) {
  UINT count = 0, size = 0;
  if (Gdiplus::GetImageEncodersSize(&count, &size) != Gdiplus::Ok || size == 0) return false;
  std::vector<unsigned char> buffer(size);
  auto* encoders = reinterpret_cast<Gdiplus::ImageCodecInfo*>(buffer.data());
  if (Gdiplus::GetImageEncoders(count, size, encoders) != Gdiplus::Ok) return false;
  for (UINT i = 0; i < count; ++i)
    if (std::wstring(encoders[i].MimeType) == L"image/png")
      return bitmap.Save(path.c_str(), &encoders[i].Clsid, nullptr) == Gdiplus::Ok;
  return false;
}

// A 192 x 30 strip of four solid frames: red, green, blue, grey.
const COLORREF kFrameColours[4] = {RGB(220, 0, 0), RGB(0, 200, 0), RGB(0, 0, 230), RGB(128, 128, 128)};

COLORREF DrawnCentre(HWND button, UINT state) {
  RECT rc;
  GetClientRect(button, &rc);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, rc.right > 0 ? rc.right : 1, rc.bottom > 0 ? rc.bottom : 1);
  HGDIOBJ old = SelectObject(memory, bitmap);
  DRAWITEMSTRUCT dis = {};
  dis.CtlType = ODT_BUTTON;
  dis.CtlID = static_cast<UINT>(GetDlgCtrlID(button));
  dis.itemAction = ODA_DRAWENTIRE;
  dis.itemState = state;
  dis.hwndItem = button;
  dis.hDC = memory;
  dis.rcItem = rc;
  SendMessageW(button, kReflectedDrawItem, 0, reinterpret_cast<LPARAM>(&dis));
  COLORREF c = GetPixel(memory, rc.right / 2, rc.bottom / 2);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

void TestPngButton() {
  std::printf("# image button\n");
  const std::wstring folder = TempFolder(L"restorix-strip");
  CreateFolderTree(folder.c_str());
  const std::wstring strip = folder + L"\\strip.png";
  {
    Gdiplus::Bitmap image(192, 30, PixelFormat32bppARGB);
    Gdiplus::Graphics g(&image);
    for (int f = 0; f < 4; ++f) {
      Gdiplus::SolidBrush brush(Gdiplus::Color(255, GetRValue(kFrameColours[f]), GetGValue(kFrameColours[f]),
                                               GetBValue(kFrameColours[f])));
      g.FillRectangle(&brush, f * 48, 0, 48, 30);
    }
    CHECK_MSG(SavePng(image, strip), "a test strip is written");
  }
  HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 300, 200, nullptr, nullptr, nullptr, nullptr);
  HWND button = CreateWindowExW(0, L"BUTTON", L"", WS_CHILD | WS_VISIBLE | BS_OWNERDRAW | BS_NOTIFY, 10, 12, 5, 5,
                                host, reinterpret_cast<HMENU>(77), nullptr, nullptr);
  {
    CPngButton png;
    CHECK(png.Attach(host, 77));
    png.SetImage(strip);
    RECT r = RectInParent(button);
    CHECK_MSG(png.FrameWidth() == 48 && png.ImageHeight() == 30 && r.left == 10 && r.top == 12 &&
                  r.right - r.left == 48 && r.bottom - r.top == 30,
              "a 192 x 30 strip gives a 48 x 30 button at the same corner");
    RECT pr = png.ParentRect();
    CHECK(pr.left == 10 && pr.top == 12 && pr.right == 58 && pr.bottom == 42);
    HRGN region = CreateRectRgn(0, 0, 0, 0);
    CHECK_MSG(GetWindowRgn(button, region) != ERROR && !PtInRegion(region, 0, 0) && PtInRegion(region, 24, 15),
              "the button has rounded corners");
    DeleteObject(region);

    CHECK_MSG(DrawnCentre(button, 0) == kFrameColours[0], "normal look: frame 0");
    SendMessageW(button, WM_MOUSEHOVER, 0, 0);
    CHECK_MSG(DrawnCentre(button, 0) == kFrameColours[1], "hovered look: pixels 48 to 95");
    CHECK_MSG(DrawnCentre(button, ODS_SELECTED) == kFrameColours[2], "pressed look: frame 2");
    png.SetChecked(1);
    CHECK_MSG(DrawnCentre(button, 0) == kFrameColours[2], "checked and hovered: frame 2");
    SendMessageW(button, WM_MOUSELEAVE, 0, 0);
    png.SetChecked(0);
    CHECK_MSG(DrawnCentre(button, 0) == kFrameColours[0], "after leaving: frame 0 again");

    png.SetImage(folder + L"\\missing.png");
    r = RectInParent(button);
    CHECK_MSG(png.ImageWidth() == 0 && r.right == r.left && r.bottom == r.top, "a missing image shrinks the button");
  }
  DestroyWindow(host);
  RemoveTree(folder);
}

// ---------------------------------------------------------------- the window

struct Expected {
  std::vector<std::wstring> deletedPaths;  // inside the volume
};

// Builds the folder tree the app should produce: one node per distinct
// folder prefix, names compared ignoring case.
size_t DistinctFolderNodes(const std::vector<std::wstring>& itemPaths) {
  std::vector<std::wstring> keys;
  for (const std::wstring& path : itemPaths) {
    std::wstring folder = restorix::RemoveFileSpec(path);
    std::wstring prefix;
    size_t start = 0;
    while (start <= folder.size()) {
      size_t at = folder.find(L'\\', start);
      std::wstring part = folder.substr(start, at == std::wstring::npos ? std::wstring::npos : at - start);
      if (!part.empty()) {
        prefix += (prefix.empty() ? L"" : L"\\") + part;
        std::wstring upper;
        for (wchar_t c : prefix) upper += restorix::FoldToUpper(c);
        bool seen = false;
        for (const auto& k : keys) seen = seen || k == upper;
        if (!seen) keys.push_back(upper);
      }
      if (at == std::wstring::npos) break;
      start = at + 1;
    }
  }
  return keys.size();
}

size_t CountTreeNodes(HWND tree, HTREEITEM parent) {
  size_t n = 0;
  for (HTREEITEM item = parent ? TreeView_GetChild(tree, parent) : TreeView_GetRoot(tree); item;
       item = TreeView_GetNextSibling(tree, item))
    n += 1 + CountTreeNodes(tree, item);
  return n;
}

void TestKernelThroughBinding(CRestorixDlg& dlg, bool imageMapped) {
  std::printf("# kernel through the window's context\n");
  AppContext* app = dlg.App();
  CHECK(app != nullptr);
  if (!app) return;
  CHECK(app->Kernel().IsLoaded());
  CHECK(app->Host() == dlg.Hwnd());
  CHECK(FolderExists(app->Settings().GetRecoverPath().c_str()));
  if (!imageMapped) {
    std::printf("#   (no RESTORIX_GUI_IMAGE: partition and scan checks left out)\n");
    return;
  }
  int fatIndex = -1;
  const int count = app->Kernel().GetPartitionCount();
  for (int i = 0; i < count; ++i) {
    PartitionParameter p = {};
    if (app->Kernel().GetPartitionParameter(&p, i) && p.name[0] == L'R') fatIndex = i;
  }
  CHECK_MSG(fatIndex >= 0, "the mapped FAT image is listed as partition R:");
  PartitionParameter p = {};
  if (fatIndex < 0 || !app->Kernel().GetPartitionParameter(&p, fatIndex)) return;
  CHECK_MSG(p.fsKind == 2, "partition R: is FAT");

  // A real scan, reported to the invoker window.
  g_scanClosed = 0;
  app->State().SetCurrentPartition(p.name, p.fsKind);
  std::wstring prefix = app->State().PartitionName() + L"\\";
  app->State().SetBusy(true);
  app->Kernel().Scan(prefix.c_str(), p.name, p.fsKind, g_invoker);
  app->State().SetBusy(false);
  CHECK_MSG(WaitUntil([] { return g_scanClosed.load() != 0; }, 120000), "the scan ends with WM_CLOSE");
  DrainPosted();

  // The tree and the list, built by the app on the window thread.
  std::vector<std::wstring> paths;
  size_t treeNodes = 0;
  size_t itemCount = 0;
  bool rowsMatch = true;
  size_t rows = 0;
  OnUiThread([&] {
    HWND host = CreateWindowExW(0, L"STATIC", L"", WS_POPUP, 0, 0, 400, 300, nullptr, nullptr, nullptr, nullptr);
    HWND tree = CreateWindowExW(0, WC_TREEVIEWW, L"", WS_CHILD | TVS_CHECKBOXES, 0, 0, 200, 300, host, nullptr,
                                nullptr, nullptr);
    HWND list = CreateWindowExW(0, WC_LISTVIEWW, L"", WS_CHILD | LVS_REPORT, 200, 0, 200, 300, host, nullptr,
                                nullptr, nullptr);
    ListView_SetExtendedListViewStyle(list, LVS_EX_CHECKBOXES);
    LVCOLUMNW col = {};
    col.mask = LVCF_WIDTH;
    col.cx = 100;
    for (int i = 0; i < 3; ++i) ListView_InsertColumn(list, i, &col);
    restorix::RebuildFolderIndex(app->Kernel(), app->State().Index());
    FillFolderTree(tree, app->State().Index());
    treeNodes = CountTreeNodes(tree, nullptr);
    itemCount = app->State().Index().ItemCount();
    for (const std::wstring& folder : app->State().Index().Folders()) {
      std::vector<restorix::ItemId> ids;
      ids = app->State().Index().ItemsInNode(folder);
      ListView_DeleteAllItems(list);
      FillFileList(list, app->Kernel(), app->State().Index(), folder);
      const int n = ListView_GetItemCount(list);
      rows += static_cast<size_t>(n);
      rowsMatch = rowsMatch && n == static_cast<int>(ids.size());
      for (int i = 0; i < n && i < static_cast<int>(ids.size()); ++i) {
        DelItem item = {};
        app->Kernel().GetItemById(ids[i].low, ids[i].high, &item);
        paths.push_back(item.path);
        std::printf("#   item %ls\n", item.path);
        wchar_t text[260] = {};
        ListView_GetItemText(list, i, 0, text, 260);
        wchar_t size[32] = {};
        ListView_GetItemText(list, i, 1, size, 32);
        LVITEMW li = {};
        li.mask = LVIF_PARAM;
        li.iItem = i;
        ListView_GetItem(list, &li);
        rowsMatch = rowsMatch && text == restorix::FileNameOf(item.path) &&
                    size == std::to_wstring(item.size) && ListView_GetCheckState(list, i) &&
                    static_cast<uint32_t>(li.lParam) == ids[i].low;
      }
    }
    DestroyWindow(host);
  });
  std::printf("#   the kernel found %zu items (last running count %lld), %zu tree nodes\n", itemCount,
              g_scanCount.load(), treeNodes);
  // make_gui_image.sh deletes three files in three folders.
  CHECK_MSG(itemCount == 3, "the scan finds the image's three deleted files");
  const std::set<std::wstring> folders(app->State().Index().Folders().begin(), app->State().Index().Folders().end());
  CHECK_MSG(folders == (std::set<std::wstring>{prefix + L"Deleted", prefix + L"Deleted\\Docs",
                                                prefix + L"Deleted\\Photos\\2011"}),
            "the folder index holds the three folders");
  CHECK_MSG(treeNodes == 5, "tree: R:, Deleted, Docs, Photos, 2011");
  CHECK_MSG(rows == itemCount, "every item is listed under its folder");
  CHECK_MSG(rowsMatch, "each row shows the item's name, size, check mark and id");
  CHECK_MSG(treeNodes == DistinctFolderNodes(paths), "one tree node per folder, case ignored");
  bool prefixed = true;
  for (const std::wstring& path : paths) prefixed = prefixed && path.rfind(prefix, 0) == 0;
  CHECK_MSG(prefixed, "every item path begins with the scan prefix");
}


// ---------------------------------------------------------------- device page and scan dialog

// Every status line the scan dialog puts up (it is also the dialog's
// window text), seen on the window thread as it is set.
struct ScanWatch {
  std::mutex lock;
  std::wstring last;
  int updates = 0;
  HWND dialog = nullptr;
  RECT rect = {};
  bool escOnOpen = false;
} g_scanWatch;
HHOOK g_scanHook = nullptr;

LRESULT CALLBACK ScanStatusHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* cwp = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && cwp && cwp->message == WM_SETTEXT && cwp->lParam) {
    const std::wstring text = reinterpret_cast<const wchar_t*>(cwp->lParam);
    if (text.rfind(L" 正在扫描分区", 0) == 0) {
      std::lock_guard<std::mutex> hold(g_scanWatch.lock);
      const bool opening = g_scanWatch.dialog != cwp->hwnd;
      g_scanWatch.last = text;
      ++g_scanWatch.updates;
      g_scanWatch.dialog = cwp->hwnd;
      GetWindowRect(cwp->hwnd, &g_scanWatch.rect);
      // Queued ahead of anything the scan thread posts: the dialog sees Esc
      // while the scan still runs.
      if (opening && g_scanWatch.escOnOpen) PostMessageW(cwp->hwnd, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

void ResetScanWatch(bool escOnOpen) {
  std::lock_guard<std::mutex> hold(g_scanWatch.lock);
  g_scanWatch.last.clear();
  g_scanWatch.updates = 0;
  g_scanWatch.dialog = nullptr;
  g_scanWatch.escOnOpen = escOnOpen;
}

int ScanUpdates() {
  std::lock_guard<std::mutex> hold(g_scanWatch.lock);
  return g_scanWatch.updates;
}

void TestDevicePage(CRestorixDlg& dlg, bool imageMapped) {
  std::printf("# device page\n");
  HWND main = dlg.Hwnd();
  auto* page = static_cast<CSelectDevice*>(dlg.Pages()[0].window);
  HWND pageWnd = page->Hwnd();
  HWND resultsWnd = dlg.Pages()[1].window->Hwnd();
  SendMessageW(main, WM_SHOW_DEVICE_PAGE, 0, 0);
  CColumnTreeCtrl& list = page->List();
  HWND container = GetDlgItem(pageWnd, IDC_PARTITION_LIST);
  HWND tree = GetDlgItem(container, 2);
  HWND header = GetDlgItem(container, 1);
  CHECK_MSG(tree && header && tree == list.m_tree.Hwnd() && header == list.m_header.Hwnd() &&
                GetDlgItem(container, 4) == list.m_headerFiller.Hwnd() && GetDlgItem(container, 3) == list.m_hScroll,
            "the list holds header (1), tree (2), scroll bar (3) and filler (4)");
  if (!tree || !header) return;

  const wchar_t* captions[] = {L"分区", L"类型", L"容量", L"可用空间"};
  const int widths[] = {300, 100, 150, 150};
  bool columnsOk = Header_GetItemCount(header) == 4;
  for (int i = 0; columnsOk && i < 4; ++i) {
    wchar_t text[64] = {};
    HDITEMW item = {};
    item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
    item.pszText = text;
    item.cchTextMax = 64;
    columnsOk = Header_GetItem(header, i, &item) && std::wstring(text) == captions[i] && item.cxy == widths[i] &&
                (item.fmt & HDF_JUSTIFYMASK) == HDF_CENTER;
  }
  CHECK_MSG(columnsOk && list.TotalWidth() == 700, "columns 分区 300, 类型 100, 容量 150, 可用空间 150, centred");

  HTREEITEM root = TreeView_GetRoot(tree);
  CHECK_MSG(root && list.m_tree.GetItemText(root) == L"选择分区" && page->RootItem() == root, "root item 选择分区");
  CHECK_MSG(root && (TreeView_GetItemState(tree, root, TVIS_EXPANDED) & TVIS_EXPANDED), "the root is expanded");
  HTREEITEM fat = nullptr, ntfs = nullptr;
  for (HTREEITEM i = TreeView_GetChild(tree, root); i; i = TreeView_GetNextSibling(tree, i)) {
    const std::wstring label = list.m_tree.GetItemText(i);
    std::printf("#   partition %ls\n", label.c_str());
    if (label.rfind(L"R:\t", 0) == 0) fat = i;
    if (label.rfind(L"N:\t", 0) == 0) ntfs = i;
  }
  if (!imageMapped) return;
  CHECK_MSG(fat != nullptr, "the mapped FAT volume R: is listed");
  CHECK_MSG(ntfs != nullptr, "the mapped NTFS volume N: is listed");
  if (!fat || !ntfs) return;
  ULARGE_INTEGER a, t, f;
  if (!GetDiskFreeSpaceExW(L"R:", &a, &t, &f)) {
    // Wine does not know the letter: the size comes from the volume's 32768 sectors.
    CHECK_MSG(list.m_tree.GetItemText(fat) == L"R:\tFAT16\t" + restorix::FormatGiB(16u << 20) + L"\t\t",
              "R: shows the probe's FAT16 and the capacity from its own sectors, no free space");
  }
  CHECK_MSG(list.m_tree.GetItemData(fat) == 2 && list.m_tree.GetItemData(ntfs) == 1, "items carry their FsKind");
  const std::wstring ntfsLabel = list.m_tree.GetItemText(ntfs);
  CHECK_MSG(ntfsLabel.rfind(L"N:\tNTFS\t", 0) == 0 && restorix::LabelPart(ntfsLabel, 2).value_or(L"").find(L"(G)") != std::wstring::npos,
            "N: shows NTFS and a size");

  // Layout and horizontal scrolling.
  CHECK_MSG(RectInParent(header).left == 0 && RectInParent(header).bottom == list.HeaderHeight() &&
                RectInParent(tree).left == 2 && RectInParent(tree).top == list.HeaderHeight(),
            "header on top, tree below from x = 2");
  const RECT cr = RectInParent(container);
  OnUiThread([&] { MoveWindow(container, cr.left, cr.top, 600, cr.bottom - cr.top, TRUE); });
  CHECK_MSG(IsWindowVisible(list.m_hScroll), "narrower than its 700 pixels of columns, the list scrolls");
  SendMessageW(container, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(list.m_hScroll));
  CHECK_MSG(list.XOffset() == 15 && RectInParent(header).left == -15 && RectInParent(tree).left == 2 - 15 &&
                list.m_tree.m_xOffset == 15,
            "one line right moves header and tree 15 pixels left");
  SendMessageW(container, WM_HSCROLL, SB_RIGHT, reinterpret_cast<LPARAM>(list.m_hScroll));
  const int rightEnd = list.XOffset();
  SendMessageW(container, WM_HSCROLL, SB_LINERIGHT, reinterpret_cast<LPARAM>(list.m_hScroll));
  CHECK_MSG(rightEnd >= 100 && list.XOffset() == rightEnd && RectInParent(header).left == -rightEnd,
            "scrolling stops at the last column's edge");
  OnUiThread([&] { MoveWindow(container, cr.left, cr.top, cr.right - cr.left, cr.bottom - cr.top, TRUE); });
  CHECK_MSG(list.XOffset() == 0 && !IsWindowVisible(list.m_hScroll) && RectInParent(header).left == 0,
            "widened again, the offset returns to 0 and the bar goes");

  // The first-column guard, through the header's own change notifications.
  auto setWidth = [&](int column, int width) {
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    item.cxy = width;
    Header_SetItem(header, column, &item);
    HDITEMW now = {};
    now.mask = HDI_WIDTH;
    Header_GetItem(header, column, &now);
    return now.cxy;
  };
  CHECK_MSG(setWidth(0, 350) == 300, "the first change after a refresh is refused");
  CHECK_MSG(setWidth(0, 80) == 300, "column 0 narrower than 100 is refused");
  CHECK_MSG(setWidth(0, 350) == 350 && list.TotalWidth() == 750 && list.m_tree.m_firstColumnWidth == 350,
            "widening column 0 is taken over");
  setWidth(0, 300);  // refused once after that refresh
  CHECK(setWidth(0, 300) == 300 && list.TotalWidth() == 700);

  // Start rules.
  HWND next = GetDlgItem(pageWnd, IDC_NEXT);
  auto pressNext = [&] {
    PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_NEXT, BN_CLICKED), reinterpret_cast<LPARAM>(next));
  };
  auto expectBox = [&](const wchar_t* text, int answer, const char* what) {
    HWND box = nullptr;
    const bool shown = WaitUntil([&] { return (box = FindDialog(L"Talvex Data Recovery", main)) != nullptr; });
    CHECK_MSG(shown && MessageBoxText(box) == text, what);
    if (box) {
      PostMessageW(box, WM_COMMAND, answer, 0);
      WaitUntil([&] { return !IsWindow(box); });
    }
  };
  ResetScanWatch(false);
  TreeView_SelectItem(tree, nullptr);
  pressNext();
  expectBox(L"请先选择分区!", IDOK, "next without a selection: 请先选择分区!");
  TreeView_SelectItem(tree, root);
  pressNext();
  expectBox(L"请先选择分区!", IDOK, "next on the root: 请先选择分区!");
  PostMessageW(pageWnd, WM_PARTITION_ACTIVATED, 0, 0);
  DrainPosted();
  CHECK_MSG(!FindDialog(L"Talvex Data Recovery", main) && ScanUpdates() == 0, "activating the root starts nothing");
  // (The warning for the program's own letter cannot be reached here: the
  // kernel lists A: to Y:, and the program runs from Z: under Wine.)

  // A double click on R:'s label scans it and lands on the results page.
  TreeView_SelectItem(tree, root);
  RECT text = {};
  std::memcpy(&text, &fat, sizeof fat);  // TVM_GETITEMRECT takes the item in the rectangle
  SendMessageW(tree, TVM_GETITEMRECT, TRUE, reinterpret_cast<LPARAM>(&text));
  PostMessageW(tree, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(text.left + 4, (text.top + text.bottom) / 2));
  const bool landed = WaitUntil([&] { return IsWindowVisible(resultsWnd) && !IsWindowVisible(pageWnd); }, 120000);
  CHECK_MSG(landed, "a double click on R: scans it and the results page follows");
  CHECK(TreeView_GetSelection(tree) == fat);
  AppContext* app = dlg.App();
  CHECK_MSG(app && app->State().PartitionName() == L"R:" && app->State().PartitionType() == 2,
            "the state holds the chosen partition");
  RECT pageRect;
  GetClientRect(pageWnd, &pageRect);
  MapWindowPoints(pageWnd, nullptr, reinterpret_cast<POINT*>(&pageRect), 2);
  {
    std::lock_guard<std::mutex> hold(g_scanWatch.lock);
    // The running count counts every file the walk adds, in any folder.
    CHECK_MSG(g_scanWatch.updates >= 2 && g_scanWatch.last == restorix::ScanStatusText(3),
              "the status line shows the kernel's running count");
    CHECK_MSG(g_scanWatch.rect.left == pageRect.left + 20 && g_scanWatch.rect.top == pageRect.bottom - 90,
              "the scan dialog sits at the page's bottom left (+20, -90)");
    CHECK_MSG(!IsWindow(g_scanWatch.dialog), "the kernel's WM_CLOSE closed it");
  }
  CHECK(KernelItemCount() == 3);
  SendMessageW(main, WM_SHOW_DEVICE_PAGE, 0, 0);
}

void TestScanDialog(CRestorixDlg& dlg, bool imageMapped) {
  std::printf("# scan dialog\n");
  HWND main = dlg.Hwnd();
  struct Run {
    CProgressDlg dialog;
    std::atomic<INT_PTR> result{-5};
    std::atomic<int> ended{0};
    std::atomic<int> countAtClose{-1};
  };
  // Without a app nothing is scanned: counts, animation, Enter, cancel.
  auto run = std::make_shared<Run>();
  run->dialog.SetPosition(100, 200);
  PostToUiThread([run, main] {
    run->result = run->dialog.DoModal(main);
    run->ended = 1;
  });
  HWND box = nullptr;
  CHECK_MSG(WaitUntil([&] { return (box = run->dialog.Hwnd()) && IsWindowVisible(box); }), "the scan dialog opens");
  if (!box) return;
  CHECK_MSG(WindowText(box) == restorix::ScanStatusText(0), "it starts at 0 found files");
  RECT r;
  GetWindowRect(box, &r);
  CHECK_MSG(r.left == 100 && r.top == 200, "it moves to the given corner");
  bool answered = true;
  for (int c = 1; c <= 3; ++c) answered = answered && SendMessageW(box, WM_SCAN_FOUND_COUNT, c, 0) == 1;
  CHECK_MSG(answered && run->dialog.StatusText() == restorix::ScanStatusText(3), "counts 1, 2, 3 leave 3 on the line");
  const uint32_t firstFrame = run->dialog.CurrentFrame();
  CHECK_MSG(WaitUntil([&] { return run->dialog.CurrentFrame() != firstFrame; }, 5000), "the picture animates");
  // A long scan posts one count per found item without a pause, so the
  // queue never runs dry: the picture moves on and the line keeps up all
  // the same, and the last count stays.
  {
    const uint32_t before = run->dialog.CurrentFrame();
    bool moved = false;
    int count = 3;
    const DWORD start = GetTickCount();
    while (!moved && GetTickCount() - start < 5000) {
      for (int burst = 0; burst < 500; ++burst) PostMessageW(box, WM_SCAN_FOUND_COUNT, ++count, 0);
      moved = run->dialog.CurrentFrame() != before;
    }
    DrainPosted();
    CHECK_MSG(moved, "a flood of counts keeps the picture moving");
    CHECK_MSG(WaitUntil([&] { return WindowText(box) == restorix::ScanStatusText(count); }, 5000),
              "the last count of a flood is shown once the queue is quiet");
  }
  PostMessageW(box, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  DrainPosted();
  CHECK_MSG(IsWindow(box) && !run->ended, "Enter does nothing");
  HWND cancel = GetDlgItem(box, IDC_CANCEL_SCAN);
  CHECK_MSG(cancel && RectInParent(cancel).right > RectInParent(cancel).left, "the cancel button has its image");
  PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_SCAN, BN_CLICKED), reinterpret_cast<LPARAM>(cancel));
  CHECK_MSG(WaitUntil([&] { return run->ended.load() == 1; }) && run->result == IDCANCEL, "cancel closes it");

  // Esc while the kernel scans R:: the scan is stopped and joined before
  // the dialog is gone, so nothing writes the item list afterwards.
  AppContext* app = dlg.App();
  if (!imageMapped || !app) return;
  auto scan = std::make_shared<Run>();
  app->State().SetCurrentPartition(L"R:", 2);
  scan->dialog.SetPartition(L"R:", 2);
  scan->dialog.SetApp(app);
  ResetScanWatch(true);
  PostToUiThread([scan, main] {
    scan->result = scan->dialog.DoModal(main);
    scan->countAtClose = KernelItemCount();
    scan->ended = 1;
  });
  CHECK_MSG(WaitUntil([&] { return scan->ended.load() == 1; }, 120000) && scan->result == IDCANCEL,
            "Esc during a scan closes the dialog");
  DrainPosted();
  const int countAfter = KernelItemCount();
  std::printf("#   %d items when the dialog closed, %d after\n", scan->countAtClose.load(), countAfter);
  CHECK_MSG(scan->countAtClose == countAfter && countAfter >= 0 && countAfter <= 3,
            "no scan thread writes the item list after the dialog closed");
  ResetScanWatch(false);
}

// The folder picker, cancelled by the test.
void TestBrowseFolder(HWND owner) {
  std::printf("# folder picker\n");
  for (int round = 0; round < 2; ++round) {
    // Round 1 starts from a folder too long for the buffer: it is ignored.
    std::wstring start = round == 0 ? GetProgramFolder(nullptr) : std::wstring(3000, L'x');
    std::atomic<int> result{-2};
    std::thread picker([&] {
      OleInitialize(nullptr);
      CBrowseFolder browse(restorix::ui::kPickRecoverFolder);
      result = browse.Browse(owner, start.c_str());
      OleUninitialize();
    });
    HWND dialog = nullptr;
    CHECK_MSG(WaitUntil([&] { return (dialog = FindPicker()) != nullptr; }), "the picker opens with our title");
    if (dialog) PostMessageW(dialog, WM_COMMAND, IDCANCEL, 0);
    picker.join();
    CHECK_MSG(result == 0, "cancelling the picker answers 0");
  }
}

struct WindowRun {
  CRestorixDlg* dlg = nullptr;
  bool imageMapped = false;
  std::atomic<int> workerSawStop{0};
  std::atomic<int> workerEnded{0};
  std::atomic<int> pagesAliveWhenWorkerEnded{0};
  HWND hwnd = nullptr;
};

void DriveWindow(WindowRun& run) {
  CRestorixDlg& dlg = *run.dlg;
  std::printf("# main window\n");
  HWND hwnd = nullptr;
  CHECK_MSG(WaitUntil([&] {
              hwnd = dlg.Hwnd();
              return hwnd && IsWindowVisible(hwnd);
            }, 60000),
            "the main window opens");
  if (!hwnd) return;
  run.hwnd = hwnd;
  DrainPosted();
  CHECK_MSG(ReadStoredMainWindow() == hwnd, "the window is stored in the single-instance block");

  // Look.
  const SIZE client = ClientSize(hwnd);
  CHECK(WindowText(hwnd) == L"Talvex Data Recovery");
  CHECK_MSG(client.cx == 800 && client.cy == 600, "800 x 600 client area");
  CHECK_MSG((GetWindowLongPtrW(hwnd, GWL_STYLE) & WS_CAPTION) == 0, "no title bar");
  CHECK_MSG((GetWindowLongPtrW(hwnd, GWL_EXSTYLE) & WS_EX_LAYERED) != 0, "layered window");
  BYTE alpha = 0;
  DWORD flags = 0;
  CHECK_MSG(GetLayeredWindowAttributes(hwnd, nullptr, &alpha, &flags) && (flags & LWA_ALPHA) && alpha == 240,
            "constant alpha 240");
  HRGN region = CreateRectRgn(0, 0, 0, 0);
  RECT box = {};
  CHECK_MSG(GetWindowRgn(hwnd, region) != ERROR && GetRgnBox(region, &box) != ERROR && box.right == client.cx &&
                box.bottom == client.cy,
            "rounded region over the client area");
  CHECK_MSG(!PtInRegion(region, 0, 0) && PtInRegion(region, 400, 300), "the corners are cut off");
  DeleteObject(region);
  CHECK(SendMessageW(hwnd, WM_GETICON, ICON_BIG, 0) != 0);
  CHECK(dlg.HasBackground());
  wchar_t item[64] = {};
  GetMenuStringW(GetSystemMenu(hwnd, FALSE), IDM_ABOUTBOX, item, 64, MF_BYCOMMAND);
  CHECK_MSG(std::wstring(item) == L"Restorix(&A)...", "about item in the system menu");

  // Buttons.
  HWND closeBtn = GetDlgItem(hwnd, IDC_CLOSE);
  HWND minBtn = GetDlgItem(hwnd, IDC_MINIMIZE);
  RECT rc = RectInParent(closeBtn);
  CHECK_MSG(rc.left == client.cx - 46 && rc.top == 1 && rc.right - rc.left == 41 && rc.bottom - rc.top == 20,
            "close button at (width - 46, 1), 41 x 20");
  rc = RectInParent(minBtn);
  CHECK_MSG(rc.left == client.cx - 77 && rc.top == 1 && rc.right - rc.left == 31 && rc.bottom - rc.top == 20,
            "minimise button at (width - 77, 1), 31 x 20");
  const int tabIds[] = {IDC_TAB_DR, IDC_TAB_PR, IDC_TAB_FR, IDC_TAB_PTR, IDC_TAB_VR};
  const RECT tabUnits[] = {{10, 19, 0, 0}, {71, 18, 0, 0}, {138, 18, 0, 0}, {198, 18, 0, 0}, {258, 18, 0, 0}};
  bool tabsPlaced = true;
  for (int i = 0; i < 5; ++i) {
    CPngButton* b = dlg.Button(tabIds[i]);
    RECT expect = tabUnits[i];
    MapDialogRect(hwnd, &expect);
    RECT r = RectInParent(GetDlgItem(hwnd, tabIds[i]));
    tabsPlaced = tabsPlaced && b && b->ImageWidth() > 0 && r.left == expect.left && r.top == expect.top &&
                 r.right - r.left == b->FrameWidth() && r.bottom - r.top == b->ImageHeight();
  }
  CHECK_MSG(tabsPlaced, "tab buttons keep their template corner and take one frame's size");
  CHECK_MSG(dlg.Button(IDC_TAB_DR)->Checked() == 1, "tab 1000 is checked");
  CHECK_MSG(dlg.Button(IDC_CLOSE)->FrameWidth() * 4 == dlg.Button(IDC_CLOSE)->ImageWidth(), "four-frame strip");

  // Pages.
  const auto& pages = dlg.Pages();
  CHECK(pages.size() == 4);
  const struct {
    int id;
    const wchar_t* name;
    uint8_t key;
  } table[] = {{129, L"Select Device", 1}, {133, L"DR dlg", 2}, {154, L"Preview dlg", 5}, {155, L"Search dlg", 6}};
  bool tableOk = pages.size() == 4;
  for (size_t i = 0; tableOk && i < 4; ++i)
    tableOk = pages[i].resourceId == table[i].id && std::wstring(pages[i].name) == table[i].name &&
              pages[i].key == table[i].key && pages[i].window && pages[i].window->Hwnd() &&
              pages[i].window->TemplateId() == table[i].id;
  CHECK_MSG(tableOk, "page table: 129/1, 133/2, 154/5, 155/6 in that order");
  if (!tableOk) return;
  bool placed = true;
  for (const PageEntry& e : pages) {
    RECT r = RectInParent(e.window->Hwnd());
    placed = placed && r.left == 16 && r.top == 120 && r.right - r.left == client.cx - 34 &&
             r.bottom - r.top == client.cy - 172;
  }
  CHECK_MSG(placed, "pages at (16, 120), client size less (34, 172)");
  auto onlyVisible = [&](uint8_t key) {
    bool ok = true;
    for (const PageEntry& e : pages) ok = ok && (IsWindowVisible(e.window->Hwnd()) != FALSE) == (e.key == key);
    return ok;
  };
  CHECK_MSG(onlyVisible(1) && dlg.CurrentPage().key == 1, "the device page shows first");

  CHECK(SendMessageW(hwnd, WM_SHOW_RESULTS_PAGE, 0, 0) == 1);
  CHECK_MSG(onlyVisible(2) && dlg.CurrentPage().key == 2, "WM_SHOW_RESULTS_PAGE shows only the results page");
  CHECK(SendMessageW(hwnd, WM_SHOW_SEARCH_PAGE, 0, 0) == 1);
  CHECK_MSG(onlyVisible(6), "WM_SHOW_SEARCH_PAGE shows only the search page");
  PostMessageW(hwnd, WM_SHOW_PREVIEW_PAGE, 0, 0);
  DrainPosted();
  CHECK_MSG(onlyVisible(5) && dlg.CurrentPage().resourceId == 154, "posted WM_SHOW_PREVIEW_PAGE shows the preview");
  PostMessageW(hwnd, WM_SHOW_DEVICE_PAGE, 0, 0);
  DrainPosted();
  CHECK_MSG(onlyVisible(1), "posted WM_SHOW_DEVICE_PAGE shows the device page");
  OnUiThread([&] { dlg.ShowPage(3); });
  CHECK_MSG(onlyVisible(0), "ShowPage(3) leaves no page visible");
  OnUiThread([&] { dlg.ShowPage(1); });
  CHECK(onlyVisible(1));

  // Progress bar.
  HWND bar = GetDlgItem(hwnd, IDC_PROGRESS);
  CHECK_MSG(!IsWindowVisible(bar), "the progress bar starts hidden");
  CHECK(SendMessageW(hwnd, WM_RECOVER_PROGRESS, 1, 40) == 1);
  CHECK_MSG(IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 40, "(1, 40) shows the bar at 40");
  CHECK(SendMessageW(bar, PBM_GETRANGE, FALSE, 0) == 100);
  SendMessageW(hwnd, WM_RECOVER_PROGRESS, 0, 55);
  CHECK_MSG(!IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 55, "(0, 55) hides the bar");
  SendMessageW(hwnd, WM_RECOVER_PROGRESS, 1, 70);
  SendMessageW(hwnd, WM_RECOVER_PROGRESS, 1, 100);
  CHECK_MSG(!IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0, "(1, 100) hides and resets the bar");
  // As a recovery thread reports: posted from a worker.
  AppContext* app = dlg.App();
  if (app) {
    app->Workers().Start([hwnd] {
      for (int p : {0, 33, 66}) PostMessageW(hwnd, WM_RECOVER_PROGRESS, 1, p);
    });
    CHECK(app->Workers().WaitIdle(std::chrono::seconds(30)));
    DrainPosted();
    CHECK_MSG(IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 66, "posted progress moves the bar");
    PostMessageW(hwnd, WM_RECOVER_PROGRESS, 0, 100);
    DrainPosted();
    CHECK(!IsWindowVisible(bar) && SendMessageW(bar, PBM_GETPOS, 0, 0) == 0);
  }

  // Dragging: the top band, less its right-most 100 pixels.
  CHECK(HitTestAt(hwnd, 10, 10) == HTCAPTION);
  CHECK(HitTestAt(hwnd, client.cx - 101, 99) == HTCAPTION);
  CHECK(HitTestAt(hwnd, client.cx - 60, 10) == HTCLIENT);
  CHECK(HitTestAt(hwnd, 300, 100) == HTCLIENT);
  CHECK(HitTestAt(hwnd, 300, 400) == HTCLIENT);

  // Hover and checked looks.
  CPngButton* close = dlg.Button(IDC_CLOSE);
  auto redraw = [&](HWND b) { OnUiThread([b] { RedrawWindow(b, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW); }); };
  redraw(closeBtn);
  CHECK_MSG(close->LastFrameDrawn() == 0, "close button drawn normal");
  SendMessageW(closeBtn, WM_MOUSEHOVER, 0, 0);
  redraw(closeBtn);
  CHECK_MSG(close->Hover() == 1 && close->LastFrameDrawn() == 1, "hovered close button shows frame 1");
  SendMessageW(closeBtn, WM_MOUSELEAVE, 0, 0);
  redraw(closeBtn);
  CHECK_MSG(close->Hover() == 0 && close->Tracking() == 0 && close->LastFrameDrawn() == 0, "leaving restores frame 0");
  HWND tabDr = GetDlgItem(hwnd, IDC_TAB_DR);
  SendMessageW(tabDr, WM_MOUSEHOVER, 0, 0);
  redraw(tabDr);
  CHECK_MSG(dlg.Button(IDC_TAB_DR)->LastFrameDrawn() == 2, "a checked button shows frame 2 under the pointer");
  SendMessageW(tabDr, WM_MOUSELEAVE, 0, 0);
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_TAB_DR, BN_CLICKED), reinterpret_cast<LPARAM>(tabDr));
  CHECK(dlg.Button(IDC_TAB_DR)->Checked() == 1);
  for (int id : {IDC_TAB_PR, IDC_TAB_PTR}) PostMessageW(GetDlgItem(hwnd, id), BM_CLICK, 0, 0);
  DrainPosted();
  CHECK_MSG(IsWindowVisible(hwnd) && onlyVisible(1) && dlg.Button(IDC_TAB_DR)->Checked() == 1,
            "tabs 1003 and 1005 change nothing");

  // Enter, Esc, Alt+F4, WM_CLOSE and the close command leave the window open.
  HWND focus = GetDlgItem(hwnd, IDC_TAB_DR);
  PostMessageW(focus, WM_KEYDOWN, VK_RETURN, 0x001C0001);
  PostMessageW(focus, WM_KEYUP, VK_RETURN, 0xC01C0001);
  PostMessageW(focus, WM_KEYDOWN, VK_ESCAPE, 0x00010001);
  PostMessageW(focus, WM_KEYUP, VK_ESCAPE, 0xC0010001);
  PostMessageW(hwnd, WM_SYSKEYDOWN, VK_F4, 0x203E0001);
  PostMessageW(hwnd, WM_SYSKEYUP, VK_F4, 0xE03E0001);
  PostMessageW(hwnd, WM_CLOSE, 0, 0);
  DrainPosted();
  SendMessageW(hwnd, WM_SYSCOMMAND, SC_CLOSE, 0);
  SendMessageW(hwnd, WM_COMMAND, IDOK, 0);
  SendMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
  DrainPosted();
  CHECK_MSG(IsWindow(hwnd) && IsWindowVisible(hwnd), "Enter, Esc, Alt+F4 and WM_CLOSE leave the window open");

  // About box from the system menu.
  PostMessageW(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = nullptr;
  CHECK_MSG(WaitUntil([&] { return (about = FindDialog(L"关于 Restorix")) != nullptr; }), "the about box opens");
  if (about) {
    CHECK(WindowText(GetDlgItem(about, IDC_ABOUT_TEXT)).find(L"1.0.0.2") != std::wstring::npos);
    CHECK(GetWindow(about, GW_OWNER) == hwnd);
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    CHECK(WaitUntil([&] { return !IsWindow(about); }));
  }

  // Minimise (with a fast second click, which must act as a click), then a
  // second start restores the window and exits.
  SendMessageW(minBtn, WM_LBUTTONDBLCLK, MK_LBUTTON, MAKELPARAM(5, 5));
  SendMessageW(minBtn, WM_LBUTTONUP, 0, MAKELPARAM(5, 5));
  CHECK_MSG(WaitUntil([&] { return IsIconic(hwnd) != FALSE; }), "a double click on minimise minimises");
  CHECK_MSG(RunSelf(L"--second-instance") == 0, "a second copy exits");
  CHECK_MSG(WaitUntil([&] { return !IsIconic(hwnd) && IsWindowVisible(hwnd); }),
            "the second copy restored the first one's window");

  TestKernelThroughBinding(dlg, run.imageMapped);
  g_scanHook = SetWindowsHookExW(WH_CALLWNDPROC, ScanStatusHook, nullptr, GetWindowThreadProcessId(hwnd, nullptr));
  CHECK(g_scanHook != nullptr);
  TestDevicePage(dlg, run.imageMapped);
  TestScanDialog(dlg, run.imageMapped);
  if (g_scanHook) UnhookWindowsHookEx(g_scanHook);
  TestResultsPage(dlg, run.imageMapped);
  TestSearchAndPreview(dlg, run.imageMapped);
  if (run.imageMapped) TestScanModes(dlg);
  if (run.imageMapped) TestDiskImage(dlg);
  TestBrowseFolder(hwnd);

  // Exit: the question, Cancel twice, then OK while a worker still runs.
  std::printf("# exit\n");
  if (!app) return;
  HWND resultsPage = pages[1].window->Hwnd();
  app->State().ClearStop();
  app->Workers().Start([&run, app, resultsPage] {
    while (!app->State().StopRequested()) {
      app->Kernel().GetPartitionCount();
      Sleep(5);
    }
    run.workerSawStop = 1;
    Sleep(400);  // the item in hand is finished before the thread ends
    run.pagesAliveWhenWorkerEnded = IsWindow(resultsPage) ? 1 : 0;
    run.workerEnded = 1;
  });
  auto askToClose = [&](const wchar_t* expected, int answer) {
    PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), reinterpret_cast<LPARAM>(closeBtn));
    HWND question = nullptr;
    bool shown = WaitUntil([&] { return (question = FindDialog(L"Talvex Data Recovery", hwnd)) != nullptr; });
    CHECK_MSG(shown, "the close button asks first");
    if (!question) return;
    CHECK_MSG(MessageBoxText(question) == expected, "the question's text");
    CHECK(GetWindow(question, GW_OWNER) == hwnd);
    PostMessageW(question, WM_COMMAND, answer, 0);
    CHECK(WaitUntil([&] { return !IsWindow(question); }));
  };
  askToClose(L"你确定要退出系统?", IDCANCEL);
  DrainPosted();
  CHECK_MSG(IsWindowVisible(hwnd) && !app->State().StopRequested() && !run.workerSawStop,
            "Cancel leaves the window and the running task alone");
  app->State().SetBusy(true);
  askToClose(L"有任务在运行,你确定要退出系统？", IDCANCEL);
  DrainPosted();
  CHECK(IsWindowVisible(hwnd) && !app->State().StopRequested());
  app->State().SetBusy(false);
  askToClose(L"你确定要退出系统?", IDOK);
}

// ---------------------------------------------------------------- the program itself

// A visible dialog of another process with this caption, other than `except`.
HWND FindProcessDialog(DWORD pid, const std::wstring& caption, HWND except = nullptr) {
  struct Search {
    DWORD pid;
    std::wstring caption;
    HWND except;
    HWND found;
  } search{pid, caption, except, nullptr};
  EnumWindows(
      [](HWND hwnd, LPARAM lp) -> BOOL {
        auto* s = reinterpret_cast<Search*>(lp);
        DWORD owner = 0;
        GetWindowThreadProcessId(hwnd, &owner);
        if (owner != s->pid || hwnd == s->except || !IsWindowVisible(hwnd)) return TRUE;
        if (ClassOf(hwnd) != L"#32770" || WindowText(hwnd) != s->caption) return TRUE;
        s->found = hwnd;
        return FALSE;
      },
      reinterpret_cast<LPARAM>(&search));
  return search.found;
}

bool StartProgram(const std::wstring& path, PROCESS_INFORMATION& pi) {
  std::wstring command = L"\"" + path + L"\"";
  STARTUPINFOW si = {};
  si.cb = sizeof si;
  return CreateProcessW(path.c_str(), command.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi) != 0;
}

// Restorix.exe as shipped: starts, keeps a second copy out, and ends through
// its close button and the exit question.
void TestShippedProgram() {
  std::printf("# Restorix.exe\n");
  ReleaseSingleInstance();  // this test program held the block so far
  const std::wstring exe = GetProgramFolder(nullptr) + L"\\Restorix.exe";
  PROCESS_INFORMATION first = {};
  CHECK_MSG(StartProgram(exe, first), "Restorix.exe starts");
  if (!first.hProcess) return;
  HWND main = nullptr;
  CHECK_MSG(WaitUntil([&] { return (main = FindProcessDialog(first.dwProcessId, L"Talvex Data Recovery")) != nullptr; },
                      60000),
            "its main window opens");
  if (main) {
    CHECK_MSG(ReadStoredMainWindow() == main, "it stores its window in the single-instance block");
    PROCESS_INFORMATION second = {};
    CHECK(StartProgram(exe, second));
    if (second.hProcess) {
      DWORD code = 0xFFFF;
      CHECK_MSG(WaitForSingleObject(second.hProcess, 60000) == WAIT_OBJECT_0 &&
                    GetExitCodeProcess(second.hProcess, &code) && code == 0,
                "a second Restorix.exe ends at once");
      CloseHandle(second.hThread);
      CloseHandle(second.hProcess);
    }
    CHECK_MSG(WaitForSingleObject(first.hProcess, 0) == WAIT_TIMEOUT && IsWindowVisible(main),
              "the first copy runs on");
    PostMessageW(main, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), 0);
    HWND question = nullptr;
    CHECK_MSG(WaitUntil([&] {
                return (question = FindProcessDialog(first.dwProcessId, L"Talvex Data Recovery", main)) != nullptr;
              }),
              "its close button asks first");
    if (question) PostMessageW(question, WM_COMMAND, IDOK, 0);
  }
  DWORD code = 0xFFFF;
  const bool ended = WaitForSingleObject(first.hProcess, 60000) == WAIT_OBJECT_0;
  if (!ended) TerminateProcess(first.hProcess, 3);
  GetExitCodeProcess(first.hProcess, &code);
  CHECK_MSG(ended && code == 0, "Restorix.exe ends with exit code 0 after OK");
  CloseHandle(first.hThread);
  CloseHandle(first.hProcess);
}

// ---------------------------------------------------------------- showcase

void Showcase(CRestorixDlg& dlg, const std::wstring& dir) {
  HWND hwnd = nullptr;
  if (!WaitUntil([&] { return (hwnd = dlg.Hwnd()) && IsWindowVisible(hwnd); }, 60000)) return;
  auto shoot = [&](const std::wstring& name) {
    DrainPosted();
    OnUiThread([hwnd] { RedrawWindow(hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW); });
    // The window's place on the screen, for the script to cut it out.
    RECT r;
    GetWindowRect(hwnd, &r);
    char where[64];
    const int n = std::snprintf(where, sizeof where, "%ld %ld %ld %ld\n", r.right - r.left, r.bottom - r.top,
                                r.left, r.top);
    HANDLE f = CreateFileW((dir + L"\\" + name + L".ready").c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0,
                           nullptr);
    if (f != INVALID_HANDLE_VALUE) {
      DWORD written = 0;
      WriteFile(f, where, static_cast<DWORD>(n), &written, nullptr);
      CloseHandle(f);
    }
    const std::wstring done = dir + L"\\" + name + L".done";
    WaitUntil([&] { return GetFileAttributesW(done.c_str()) != INVALID_FILE_ATTRIBUTES; }, 30000);
  };
  shoot(L"1-device");
  // The scan dialog over the device page, with a partition chosen.
  if (auto* page = static_cast<CSelectDevice*>(dlg.Pages().empty() ? nullptr : dlg.Pages()[0].window)) {
    HWND tree = page->List().m_tree.Hwnd();
    HTREEITEM root = TreeView_GetRoot(tree);
    HTREEITEM last = nullptr;
    for (HTREEITEM i = TreeView_GetChild(tree, root); i; i = TreeView_GetNextSibling(tree, i)) last = i;
    if (last) TreeView_SelectItem(tree, last);
    struct Run {
      CProgressDlg dialog;
      std::atomic<int> ended{0};
    };
    auto run = std::make_shared<Run>();
    RECT rc;
    GetClientRect(page->Hwnd(), &rc);
    MapWindowPoints(page->Hwnd(), nullptr, reinterpret_cast<POINT*>(&rc), 2);
    run->dialog.SetPosition(rc.left + 20, rc.bottom - 90);
    PostToUiThread([run, hwnd] {
      run->dialog.DoModal(hwnd);
      run->ended = 1;
    });
    HWND box = nullptr;
    if (WaitUntil([&] { return (box = run->dialog.Hwnd()) && IsWindowVisible(box); })) {
      SendMessageW(box, WM_SCAN_FOUND_COUNT, 42, 0);
      const uint32_t frame = run->dialog.CurrentFrame();
      WaitUntil([&] { return run->dialog.CurrentFrame() != frame; }, 5000);
      shoot(L"1b-scan");
      PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_SCAN, BN_CLICKED), 0);
    }
    WaitUntil([&] { return run->ended.load() == 1; });
  }
  // The device page in the deep-recovery mode, then back.
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_TAB_VR, BN_CLICKED), 0);
  shoot(L"1c-deep-mode");
  SendMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_TAB_DR, BN_CLICKED), 0);
  SendMessageW(hwnd, WM_SHOW_RESULTS_PAGE, 0, 0);
  ShowResultsForShowcase(dlg);
  SendMessageW(hwnd, WM_RECOVER_PROGRESS, 1, 45);
  shoot(L"2-results");
  SendMessageW(hwnd, WM_RECOVER_PROGRESS, 1, 100);
  ShowcaseSearchAndPreview(dlg, shoot);
  SendMessageW(hwnd, WM_SHOW_DEVICE_PAGE, 0, 0);
  PostMessageW(hwnd, WM_SYSCOMMAND, IDM_ABOUTBOX, 0);
  HWND about = nullptr;
  if (WaitUntil([&] { return (about = FindDialog(L"关于 Restorix")) != nullptr; })) {
    shoot(L"5-about");
    PostMessageW(about, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(about); });
  }
  PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDC_CLOSE, BN_CLICKED), 0);
  HWND question = nullptr;
  if (WaitUntil([&] { return (question = FindDialog(L"Talvex Data Recovery", hwnd)) != nullptr; })) {
    shoot(L"6-exit-question");
    PostMessageW(question, WM_COMMAND, IDOK, 0);
  }
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
  if (argc >= 2 && std::wstring(argv[1]) == L"--second-instance") return EnsureSingleInstance() ? 1 : 0;
  const bool showcase = argc >= 3 && std::wstring(argv[1]) == L"--showcase";
  const std::wstring showcaseDir = showcase ? argv[2] : L"";

  ULONG_PTR gdiplus = 0;
  Gdiplus::GdiplusStartupInput input;
  Gdiplus::GdiplusStartup(&gdiplus, &input, nullptr);
  INITCOMMONCONTROLSEX controls = {sizeof controls, 0xFF};
  InitCommonControlsEx(&controls);
  CreateInvoker();

  WindowRun run;
  const std::wstring image = ImageFromEnvironment();
  if (!showcase) {
    TestStartupPieces();
    TestContextWithoutLibrary();
    TestPngButton();
    TestHexView();
    run.imageMapped = MapTestImage(image);
    if (!image.empty()) CHECK_MSG(run.imageMapped, "the test image is mapped to R:");
    MapModeImages();
  } else {
    MapTestImage(image);
    EnsureSingleInstance();
  }

  {
    CRestorixDlg dlg;
    run.dlg = &dlg;
    std::thread driver([&] {
      if (showcase)
        Showcase(dlg, showcaseDir);
      else
        DriveWindow(run);
    });
    const INT_PTR result = dlg.DoModal(nullptr);
    driver.join();
    if (!showcase) {
      CHECK_MSG(result == IDOK, "the dialog ends through the exit procedure");
      CHECK_MSG(run.workerSawStop == 1, "exit raised the stop flag for the running worker");
      CHECK_MSG(run.workerEnded == 1 && run.pagesAliveWhenWorkerEnded == 1,
                "exit waited for the worker before the pages went away");
      CHECK_MSG(run.hwnd && !IsWindow(run.hwnd), "the window is gone");
    }
  }
  if (!showcase) TestShippedProgram();
  if (gdiplus) Gdiplus::GdiplusShutdown(gdiplus);
  if (showcase) return 0;
  std::printf("%d passed, %d failed\n", g_passed.load(), g_failed.load());
  std::fflush(stdout);
  return g_failed.load() == 0 ? 0 : 1;
}
