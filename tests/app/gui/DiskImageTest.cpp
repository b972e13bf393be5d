// A GPT disk image opened from the device page through the file dialog:
// its FAT32 and NTFS partitions are listed under the file's node and
// scanned in turn; a file of the NTFS one is recovered through the results
// page and its bytes match the fixture's manifest.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "app/AppContext.h"
#include "app/Pages.h"
#include "app/RestorixDlg.h"
#include "app/core/RecoveryRules.h"
#include "app/core/UiText.h"
#include "app/resource.h"
#include "controls/model/ColumnTreeLayout.h"
#include "tests/app/gui/GuiHarness.h"

namespace guitest {
namespace {

// For the log: the C library prints no wide text beyond ASCII.
std::string Utf8(const std::wstring& text) {
  const int n = WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), nullptr, 0, nullptr, nullptr);
  std::string out(static_cast<size_t>(n > 0 ? n : 0), '\0');
  if (n > 0) WideCharToMultiByte(CP_UTF8, 0, text.c_str(), static_cast<int>(text.size()), out.data(), n, nullptr, nullptr);
  return out;
}

// The sha256 column of the manifest's line for `entry`.
std::string ManifestSum(const std::wstring& manifest, const std::string& entry) {
  std::ifstream in(manifest.c_str());
  std::string line;
  while (std::getline(in, line))
    if (line.rfind(entry + "\t", 0) == 0) return line.substr(line.find_last_of('\t') + 1);
  return std::string();
}

HTREEITEM FindChild(HWND tree, HTREEITEM parent, CColumnTreeCtrl& list, const std::wstring& column0,
                    const std::wstring& column1 = std::wstring()) {
  for (HTREEITEM i = TreeView_GetChild(tree, parent); i; i = TreeView_GetNextSibling(tree, i)) {
    const std::wstring label = list.m_tree.GetItemText(i);
    if (!column0.empty() && restorix::LabelPart(label, 0).value_or(L"") != column0) continue;
    if (!column1.empty() && restorix::LabelPart(label, 1).value_or(L"") != column1) continue;
    return i;
  }
  return nullptr;
}

}  // namespace

void TestDiskImage(CRestorixDlg& dlg) {
  std::printf("# disk image\n");
  const std::wstring gui = ImageFromEnvironment();
  const std::wstring dir = gui.substr(0, gui.find_last_of(L'\\') + 1);
  const std::wstring disk = dir + L"disk_gpt.img";
  if (gui.empty() || GetFileAttributesW(disk.c_str()) == INVALID_FILE_ATTRIBUTES) {
    CHECK_MSG(false, "disk_gpt.img lies beside the GUI test's image");
    return;
  }
  HWND main = dlg.Hwnd();
  SendMessageW(main, WM_SHOW_DEVICE_PAGE, 0, 0);
  auto* page = static_cast<CSelectDevice*>(dlg.Pages()[0].window);
  HWND pageWnd = page->Hwnd();
  CColumnTreeCtrl& list = page->List();
  HWND tree = list.m_tree.Hwnd();
  HWND button = GetDlgItem(pageWnd, IDC_OPEN_IMAGE);
  CHECK_MSG(button && WindowText(button) == restorix::ui::kOpenDiskImage, "the page has 打开磁盘镜像...");

  // The standard file dialog: the path typed into its name box, then Open.
  PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_OPEN_IMAGE, BN_CLICKED), reinterpret_cast<LPARAM>(button));
  HWND picker = nullptr;
  CHECK_MSG(WaitUntil([&] { return (picker = FindDialog(restorix::ui::kOpenDiskImage)) != nullptr; }, 30000),
            "the file dialog opens");
  if (!picker) return;
  SetDlgItemTextW(picker, 0x47c, disk.c_str());  // cmb13, the file name box
  PostMessageW(picker, WM_COMMAND, IDOK, 0);
  HTREEITEM node = nullptr;
  CHECK_MSG(WaitUntil([&] {
              HTREEITEM found = nullptr;
              OnUiThread([&] {
                for (HTREEITEM i = TreeView_GetRoot(tree); i; i = TreeView_GetNextSibling(tree, i))
                  if (list.m_tree.GetItemText(i).rfind(L"disk_gpt.img", 0) == 0) found = i;
              });
              return (node = found) != nullptr;
            }, 30000),
            "a node named disk_gpt.img appears");
  if (!node) return;
  HTREEITEM ntfs = nullptr, fat = nullptr;
  OnUiThread([&] {
    ntfs = FindChild(tree, node, list, L"", L"NTFS");
    fat = FindChild(tree, node, list, L"", L"FAT32");
  });
  CHECK_MSG(ntfs != nullptr && fat != nullptr, "its FAT32 and NTFS partitions are listed with the probe's names");
  if (!ntfs || !fat) return;
  auto letterOf = [&](HTREEITEM item) { return restorix::LabelPart(list.m_tree.GetItemText(item), 0).value_or(L""); };
  const std::wstring letter = letterOf(ntfs);
  std::printf("#   NTFS partition as %ls\n", letter.c_str());
  CHECK_MSG(letter.size() == 2 && letter[1] == L':' && !(GetLogicalDrives() & (1u << (letter[0] - L'A'))),
            "it is mapped to a letter the system does not use");

  // Each is scanned as a lettered volume is scanned.
  HWND resultsWnd = dlg.Pages()[1].window->Hwnd();
  auto* results = static_cast<CDrDlg*>(dlg.Pages()[1].window);
  HWND resultTree = results->Tree().Hwnd();
  auto scan = [&](HTREEITEM partition) {
    OnUiThread([&] { TreeView_SelectItem(tree, partition); });
    PostMessageW(pageWnd, WM_COMMAND, MAKEWPARAM(IDC_NEXT, BN_CLICKED), reinterpret_cast<LPARAM>(GetDlgItem(pageWnd, IDC_NEXT)));
    return WaitUntil([&] { return IsWindowVisible(resultsWnd) && !IsWindowVisible(pageWnd); }, 120000);
  };
  auto rootLabel = [&] {
    std::wstring label;
    OnUiThread([&] {
      wchar_t text[64] = {};
      TVITEMW item = {};
      item.mask = TVIF_TEXT;
      item.hItem = TreeView_GetRoot(resultTree);
      item.pszText = text;
      item.cchTextMax = 64;
      if (TreeView_GetItem(resultTree, &item)) label = text;
    });
    return label;
  };
  // The FAT32 one first; then back to the device page without the results
  // page's back button, so its tree is still full when the NTFS scan ends.
  CHECK_MSG(scan(fat) && rootLabel() == letterOf(fat), "the FAT32 partition is scanned into the results page");
  SendMessageW(main, WM_SHOW_DEVICE_PAGE, 0, 0);
  CHECK_MSG(scan(ntfs), "the NTFS partition is scanned and the results page follows");
  AppContext* app = dlg.App();
  if (!app) return;
  CHECK_MSG(app->State().PartitionName() == letter && app->State().ImageFile() == disk,
            "the state holds the letter and its image file");
  CHECK_MSG(rootLabel() == letter, "the results tree is the new scan's, not the one shown before");

  // Recover everything found into a fresh folder.
  // Every folder checked (state image 3), as clicks on their boxes leave them.
  OnUiThread([&] {
    std::vector<HTREEITEM> stack{TreeView_GetRoot(resultTree)};
    while (!stack.empty()) {
      HTREEITEM i = stack.back();
      stack.pop_back();
      if (!i) continue;
      TreeView_SetItemState(resultTree, i, INDEXTOSTATEIMAGEMASK(3), TVIS_STATEIMAGEMASK);
      stack.push_back(TreeView_GetChild(resultTree, i));
      stack.push_back(TreeView_GetNextSibling(resultTree, i));
    }
  });
  DrainPosted();
  const std::wstring out = TempFolder(L"restorix-disk");
  RemoveTree(out);
  CreateDirectoryW(out.c_str(), nullptr);
  OnUiThread([&] { SetDlgItemTextW(resultsWnd, IDC_RECOVER_PATH, out.c_str()); });
  PostMessageW(resultsWnd, WM_COMMAND, MAKEWPARAM(IDC_RECOVER, BN_CLICKED), 0);
  std::wstring last;
  for (int i = 0; i < 3; ++i) {
    HWND box = nullptr;
    if (!WaitUntil([&] { return (box = FindDialog(L"Talvex Data Recovery", main)) != nullptr; }, 60000)) break;
    last = MessageBoxText(box);
    PostMessageW(box, WM_COMMAND, IDOK, 0);
    WaitUntil([&] { return !IsWindow(box); });
    if (last != restorix::ui::kAskRecoverSameVolume) break;
  }
  std::printf("#   the recovery said %s\n", Utf8(last).c_str());
  CHECK_MSG(last == L"恢复完毕!", "the recovery ends with 恢复完毕!");
  std::wstring recovered;
  for (int i = 0; i < KernelItemCount(); ++i) {
    DelItem item = {};
    if (!app->Kernel().GetItemByIndex(i, &item)) continue;
    const std::wstring path = item.path;
    if (path.size() > 6 && path.compare(path.size() - 6, 6, L"d2.txt") == 0)
      recovered = out + restorix::PathWithoutDrive(path);
  }
  const std::string want = ManifestSum(dir + L"disk_gpt_p2.manifest", "letters/d2.txt");
  const std::string got = Sha256Hex(ReadFileBytes(recovered));
  std::printf("#   %ls: %s\n", recovered.c_str(), got.c_str());
  CHECK_MSG(!want.empty() && got == want, "letters/d2.txt comes back with the manifest's sha256");
  RemoveTree(out);
  SendMessageW(main, WM_SHOW_DEVICE_PAGE, 0, 0);
}

}  // namespace guitest
