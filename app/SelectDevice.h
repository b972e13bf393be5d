#pragma once

#include <windows.h>

#include <commctrl.h>

#include <map>
#include <string>

#include "app/PageDialog.h"
#include "controls/ColumnTreeCtrl.h"
#include "controls/PngButton.h"

// The first page: every partition the kernel found, with its file system,
// capacity and free space; next (or a double click) scans the chosen one
// and then asks for the results page.
class CSelectDevice : public CPageDialog {
 public:
  CSelectDevice();
  ~CSelectDevice() override;

  CColumnTreeCtrl& List() { return m_list; }
  HTREEITEM RootItem() const { return m_root; }
  // Lists the supported partitions of the disk image at `path` under a node
  // named after the file, each mapped to a free drive letter. Returns the
  // node, or none when the image has no partition the kernel reads (the
  // user has been told). The file dialog ends here.
  HTREEITEM OpenDiskImage(const std::wstring& path);
  // Names the program's scan mode on the page (nothing in the deleted-file
  // mode); the main window calls it when a tab changes the mode.
  void ShowMode();

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void PrepareList();
  void FillList();
  void StartProcedure();
  void ChooseDiskImage();
  wchar_t FreeLetter() const;

  HIMAGELIST m_images = nullptr;
  int m_rootImage = -1;
  int m_partitionImage = -1;
  CPngButton m_next;
  CColumnTreeCtrl m_list;
  HTREEITEM m_root = nullptr;
  // Rows of image partitions: the image file each one's letter maps.
  std::map<HTREEITEM, std::wstring> m_imageOf;
  // The nodes named after the opened image files.
  std::map<HTREEITEM, std::wstring> m_imageNodes;
};
