// The deep and format-recovery tabs: each opens the device page in its mode,
// scans a real image in that mode (a quick-formatted FAT volume whose files
// are found by content, and one whose old file system is rebuilt), shows
// the finds on the results page and recovers them byte for byte; tab 1000
// brings the deleted-file mode back.
#include <windows.h>

#include <commctrl.h>

#include <chrono>
#include <cstdio>
#include <iterator>
#include <map>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "app/AppFiles.h"
#include "app/Pages.h"
#include "app/RestorixDlg.h"
#include "app/core/FolderPaths.h"
#include "app/core/ScanModes.h"
#include "app/core/UiText.h"
#include "app/resource.h"
#include "tests/app/gui/GuiHarness.h"

namespace guitest {

namespace {

constexpr wchar_t kDeepLetter = L'K';
constexpr wchar_t kFormattedLetter = L'L';
bool g_modeImagesMapped = false;
std::wstring g_fixtures;

// The scan dialog's lines in the deep and format modes, as set.
struct StatusWatch {
  std::mutex lock;
  std::vector<std::wstring> lines;
} g_status;

LRESULT CALLBACK StatusHook(int code, WPARAM wParam, LPARAM lParam) {
  auto* cwp = reinterpret_cast<CWPSTRUCT*>(lParam);
  if (code == HC_ACTION && cwp && cwp->message == WM_SETTEXT && cwp->lParam) {
    const std::wstring text = reinterpret_cast<const wchar_t*>(cwp->lParam);
    if (text.rfind(restorix::ui::kScanningDeep, 0) == 0 || text.rfind(restorix::ui::kScanningFormatted, 0) == 0) {
      std::lock_guard<std::mutex> hold(g_status.lock);
      g_status.lines.push_back(text);
    }
  }
  return CallNextHookEx(nullptr, code, wParam, lParam);
}

std::wstring WindowsPath(std::wstring unixPath) {
  for (wchar_t& c : unixPath)
    if (c == L'/') c = L'\\';
  return L"Z:" + unixPath;
}

// The tab-separated rows of a fixture's manifest, comments left out.
std::vector<std::vector<std::string>> ManifestRows(const std::wstring& path) {
  std::vector<std::vector<std::string>> rows;
  const std::string text = ReadFileBytes(path);
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (line.empty() || line[0] == '#') continue;
    std::vector<std::string> fields;
    size_t from = 0;
    for (size_t tab; (tab = line.find('\t', from)) != std::string::npos; from = tab + 1)
      fields.push_back(line.substr(from, tab - from));
    fields.push_back(line.substr(from));
    rows.push_back(fields);
  }
  return rows;
}

std::wstring NodeText(HWND tree, HTREEITEM item) {
  wchar_t text[260] = {};
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = text;
  tv.cchTextMax = static_cast<int>(std::size(text));
  TreeView_GetItem(tree, &tv);
  return text;
}

HTREEITEM NodeChild(HWND tree, HTREEITEM parent, const std::wstring& text) {
  for (HTREEITEM i = TreeView_GetChild(tree, parent); i; i = TreeView_GetNextSibling(tree, i))
    if (NodeText(tree, i) == text) return i;
  return nullptr;
}

bool Expanded(HWND tree, HTREEITEM item) {
  return item && (TreeView_GetItemState(tree, item, TVIS_EXPANDED) & TVIS_EXPANDED) != 0;
}

// A message box of ours over the main window; answers it with OK.
std::wstring AnswerBox(HWND main) {
  HWND box = nullptr;
  if (!WaitUntil([&] { return (box = FindDialog(restorix::ui::kCaption, main)) != nullptr; }, 60000)) return L"";
  const std::wstring text = MessageBoxText(box);
  PostMessageW(box, WM_COMMAND, IDOK, 0);
  WaitUntil([&] { return !IsWindow(box); });
  return text;
}

class ModeDriver {
 public:
  explicit ModeDriver(CRestorixDlg& dlg)
      : m_dlg(dlg), m_main(dlg.Hwnd()), m_device(static_cast<CSelectDevice*>(dlg.Pages()[0].window)),
        m_results(static_cast<CDrDlg*>(dlg.Pages()[1].window)) {}

  void ClickTab(int id) {
    PostMessageW(GetDlgItem(m_main, id), BM_CLICK, 0, 0);
    DrainPosted();
  }

  // The device page alone shows, naming `mode`, with its tab the only one
  // drawn pressed.
  bool ShowsMode(restorix::ScanMode mode) {
    HWND label = GetDlgItem(m_device->Hwnd(), IDC_MODE_LABEL);
    const bool named = mode == restorix::ScanMode::Deleted
                           ? label && !IsWindowVisible(label)
                           : label && IsWindowVisible(label) && WindowText(label) == restorix::ModeLabel(mode);
    bool tabs = true;
    for (int id : {IDC_TAB_DR, IDC_TAB_FR, IDC_TAB_VR})
      tabs = tabs && m_dlg.Button(id)->Checked() == (id == restorix::TabOfMode(mode) ? 1 : 0);
    return named && tabs && m_dlg.App()->State().Mode() == mode && IsWindowVisible(m_device->Hwnd()) &&
           !IsWindowVisible(m_results->Hwnd()) && m_dlg.CurrentPage().key == 1;
  }

  // Chooses the letter on the device page, presses next and waits for the
  // results page.
  bool Scan(wchar_t letter) {
    CColumnTreeCtrl& list = m_device->List();
    HWND tree = list.m_tree.Hwnd();
    HTREEITEM item = nullptr;
    const std::wstring start = std::wstring(1, letter) + L":\t";
    OnUiThread([&] {
      for (HTREEITEM i = TreeView_GetChild(tree, m_device->RootItem()); i; i = TreeView_GetNextSibling(tree, i))
        if (list.m_tree.GetItemText(i).rfind(start, 0) == 0) item = i;
      if (item) TreeView_SelectItem(tree, item);
    });
    if (!item) return false;
    {
      std::lock_guard<std::mutex> hold(g_status.lock);
      g_status.lines.clear();
    }
    HWND device = m_device->Hwnd();
    PostMessageW(device, WM_COMMAND, MAKEWPARAM(IDC_NEXT, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(device, IDC_NEXT)));
    return WaitUntil([&] { return IsWindowVisible(m_results->Hwnd()) && !IsWindowVisible(device); }, 180000);
  }

  std::vector<std::wstring> StatusLines() {
    std::lock_guard<std::mutex> hold(g_status.lock);
    return g_status.lines;
  }

  // Checks `folder`'s box alone, recovers into a fresh folder and returns
  // it; empty when the recovery did not end with its message.
  std::wstring Recover(HTREEITEM folder, const wchar_t* name) {
    HWND tree = m_results->Tree().Hwnd();
    const std::wstring out = TempFolder(name);
    RemoveTree(out);
    CreateDirectoryW(out.c_str(), nullptr);
    OnUiThread([&] {
      TreeView_SetItemState(tree, folder, INDEXTOSTATEIMAGEMASK(3), TVIS_STATEIMAGEMASK);
      SetDlgItemTextW(m_results->Hwnd(), IDC_RECOVER_PATH, out.c_str());
    });
    PostMessageW(m_results->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
    const std::wstring done = AnswerBox(m_main);
    m_dlg.App()->Workers().WaitIdle(std::chrono::seconds(60));
    DrainPosted();
    return done == std::wstring(restorix::ui::kRecoveryDone) + restorix::ui::kDoneMark ? out : std::wstring();
  }

  CRestorixDlg& m_dlg;
  HWND m_main;
  CSelectDevice* m_device;
  CDrDlg* m_results;
};

void TestDeepMode(ModeDriver& d) {
  AppContext* app = d.m_dlg.App();
  // From the results page of the last scan, as a user would come.
  SendMessageW(d.m_main, WM_SHOW_RESULTS_PAGE, 0, 0);
  d.ClickTab(IDC_TAB_VR);
  CHECK_MSG(d.ShowsMode(restorix::ScanMode::Deep), "tab 1006 shows the device page in the deep mode, named there");
  CHECK_MSG(TreeView_GetCount(d.m_results->Tree().Hwnd()) == 0, "the last scan's results are left behind");

  CHECK_MSG(d.Scan(kDeepLetter), "the deep scan of K: ends on the results page");
  const int found = KernelItemCount();
  const std::vector<std::wstring> lines = d.StatusLines();
  std::printf("#   %d carved finds, %zu status lines\n", found, lines.size());
  CHECK_MSG(!lines.empty() && lines.back() == restorix::ModeStatusText(restorix::ScanMode::Deep, found, 100u),
            "the scan dialog's last line says all of the volume is done and how many were found");

  // K: > Deleted > Carved files > one folder per type, open from the start.
  HWND tree = d.m_results->Tree().Hwnd();
  HTREEITEM root = TreeView_GetRoot(tree);
  HTREEITEM deleted = root ? NodeChild(tree, root, L"Deleted") : nullptr;
  HTREEITEM carved = deleted ? NodeChild(tree, deleted, L"Carved files") : nullptr;
  CHECK_MSG(carved && Expanded(tree, deleted) && Expanded(tree, carved), "the finds sit under Carved files, shown open");
  if (!carved) return;
  // Every find sits in the folder of its type, named by that type.
  std::set<std::wstring> types;
  bool grouped = true;
  size_t listed = 0;
  const std::wstring base = std::wstring(1, kDeepLetter) + L":\\Deleted\\Carved files\\";
  for (HTREEITEM t = TreeView_GetChild(tree, carved); t; t = TreeView_GetNextSibling(tree, t)) {
    const std::wstring type = NodeText(tree, t);
    types.insert(type);
    grouped = grouped && TreeView_GetChild(tree, t) == nullptr;
    for (const restorix::ItemId& id : app->State().Index().ItemsInNode(base + type)) {
      DelItem item = {};
      grouped = grouped && app->Kernel().GetItemById(id.low, id.high, &item);
      const std::wstring name = restorix::FileNameOf(item.path);
      grouped = grouped && name.size() > type.size() && name.compare(name.size() - type.size() - 1, std::wstring::npos, L"." + type) == 0;
      ++listed;
    }
  }
  std::printf("#   %zu type folders, %zu finds listed\n", types.size(), listed);
  CHECK_MSG(grouped && listed == static_cast<size_t>(found) && types.count(L"png") && types.count(L"jpg") &&
                types.count(L"gif"),
            "one folder per type (png, jpg, gif...), each holding only finds of its type");

  // The PNG folder recovered: each PNG the image held, byte for byte.
  std::map<std::wstring, std::string> pngs;  // carved name -> sha256
  for (const auto& row : ManifestRows(g_fixtures + L"\\carve_fat.carve")) {
    if (row.size() < 5 || row[4] != "intact" || row[0].size() < 4 || row[0].substr(row[0].size() - 4) != ".png") continue;
    wchar_t name[32];
    std::swprintf(name, std::size(name), L"f%07llu.png", std::stoull(row[1]) / 512);
    pngs[name] = row[3];
  }
  const std::wstring out = d.Recover(NodeChild(tree, carved, L"png"), L"restorix-deep");
  bool same = !out.empty() && !pngs.empty();
  for (const auto& [name, sha] : pngs) {
    const std::string bytes = ReadFileBytes(out + L"\\Deleted\\Carved files\\png\\" + name);
    std::printf("#   %ls: %zu bytes\n", name.c_str(), bytes.size());
    same = same && !bytes.empty() && Sha256Hex(bytes) == sha;
  }
  CHECK_MSG(same && d.m_results->RecoveryList().size() == pngs.size(),
            "recovering the png folder writes every PNG of the image, byte for byte");
  RemoveTree(out);
}

void TestFormattedMode(ModeDriver& d) {
  d.ClickTab(IDC_TAB_FR);
  CHECK_MSG(d.ShowsMode(restorix::ScanMode::Formatted), "tab 1004 shows the device page in the format mode");
  CHECK_MSG(d.Scan(kFormattedLetter), "the format-recovery scan of L: ends on the results page");
  const std::vector<std::wstring> lines = d.StatusLines();
  CHECK_MSG(!lines.empty() && lines.back() == restorix::ModeStatusText(restorix::ScanMode::Formatted,
                                                                      KernelItemCount(), 100u),
            "its scan dialog's last line has the share and the count");
  HWND tree = d.m_results->Tree().Hwnd();
  HTREEITEM root = TreeView_GetRoot(tree);
  HTREEITEM deleted = root ? NodeChild(tree, root, L"Deleted") : nullptr;
  HTREEITEM previous = deleted ? NodeChild(tree, deleted, L"Previous file system") : nullptr;
  CHECK_MSG(previous && Expanded(tree, previous) && NodeChild(tree, previous, L"Projects") &&
                NodeChild(tree, previous, L"Photos"),
            "the old tree (Projects, Photos...) sits under Previous file system, shown open");
  if (!previous) return;
  std::string sha;
  for (const auto& row : ManifestRows(g_fixtures + L"\\fmt_fat16_diff.manifest"))
    if (row.size() >= 4 && row[0] == "root file.txt") sha = row[3];
  const std::wstring out = d.Recover(previous, L"restorix-formatted");
  const std::string bytes = ReadFileBytes(out + L"\\Deleted\\Previous file system\\root file.txt");
  CHECK_MSG(!out.empty() && !sha.empty() && Sha256Hex(bytes) == sha,
            "the old top folder's file is recovered byte for byte");
  RemoveTree(out);
}

}  // namespace

bool MapModeImages() {
  wchar_t unixPath[1024] = {};
  if (!GetEnvironmentVariableW(L"KESTREL_FIXTURES", unixPath, static_cast<DWORD>(std::size(unixPath)))) return false;
  g_fixtures = WindowsPath(unixPath);
  HMODULE kestrel = LoadLibraryW((GetProgramFolder(nullptr) + L"\\Kestrel.dll").c_str());
  using MapFn = int(__cdecl*)(wchar_t, const wchar_t*);
  auto map = kestrel ? reinterpret_cast<MapFn>(reinterpret_cast<void*>(GetProcAddress(kestrel, "KX_MapVolume")))
                     : nullptr;
  const std::wstring carve = g_fixtures + L"\\carve_fat.img";
  const std::wstring formatted = g_fixtures + L"\\fmt_fat16_diff.img";
  g_modeImagesMapped = map && GetFileAttributesW(carve.c_str()) != INVALID_FILE_ATTRIBUTES &&
                       GetFileAttributesW(formatted.c_str()) != INVALID_FILE_ATTRIBUTES &&
                       map(kDeepLetter, carve.c_str()) == 1 && map(kFormattedLetter, formatted.c_str()) == 1;
  return g_modeImagesMapped;
}

void TestScanModes(CRestorixDlg& dlg) {
  std::printf("# deep and format-recovery modes\n");
  if (!g_modeImagesMapped || !dlg.App() || dlg.Pages().size() < 2) {
    CHECK_MSG(false, "carve_fat.img and fmt_fat16_diff.img from KESTREL_FIXTURES are mapped");
    return;
  }
  ModeDriver d(dlg);
  SendMessageW(d.m_main, WM_SHOW_DEVICE_PAGE, 0, 0);
  CHECK_MSG(d.ShowsMode(restorix::ScanMode::Deleted), "the deleted-file mode names nothing on the device page");
  HHOOK hook = SetWindowsHookExW(WH_CALLWNDPROC, StatusHook, nullptr, GetWindowThreadProcessId(d.m_main, nullptr));
  TestDeepMode(d);
  TestFormattedMode(d);

  // Tab 1000 from the results page: the deleted-file mode's scan again.
  d.ClickTab(IDC_TAB_DR);
  CHECK_MSG(d.ShowsMode(restorix::ScanMode::Deleted), "tab 1000 brings the deleted-file mode back");
  CHECK_MSG(d.Scan(L'R') && KernelItemCount() == 3 && d.StatusLines().empty(),
            "R: is scanned for its three deleted files as before");
  if (hook) UnhookWindowsHookEx(hook);
  // Leave as the back button does, with the results page empty again.
  PostMessageW(d.m_results->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BACK, BN_CLICKED), 0);
  DrainPosted();
}

}  // namespace guitest
