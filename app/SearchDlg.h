// The search page: found files whose name matches a keyword, checked for
// recovery, and their recovery on a worker thread.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <atomic>
#include <string>
#include <vector>

#include "app/PageDialog.h"
#include "app/core/FolderIndex.h"
#include "controls/MyListCtrl.h"
#include "controls/PngButton.h"

class CSearchDlg : public CPageDialog {
 public:
  CSearchDlg();
  ~CSearchDlg() override;

  // Looks the tests inspect.
  CMyListCtrl& List() { return m_list; }
  bool Searching() const { return m_searching != 0; }
  bool Recovering() const { return m_recovering != 0; }
  std::vector<restorix::ItemId> ChosenItems() const { return m_chosenItems; }
  HIMAGELIST ImageList() const { return m_imageList; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnDestroy() override;

 private:
  // The key release of Enter anywhere on the page searches; the hook sees
  // it before the dialog manager does.
  static LRESULT CALLBACK KeyHook(int code, WPARAM wParam, LPARAM lParam) noexcept;
  bool PreTranslate(MSG& msg);
  void SetUpList();
  void UpdateData(bool fromControls);
  void OnSearch();
  void OnMarkAll();
  void OnRecover();
  void OnBack();
  void SearchThread(std::wstring keyword);
  // Recovers m_chosenItems into `target`, the recovery folder with a final backslash.
  void SearchRecoverThread(const std::wstring& target);

  CPngButton m_back, m_recover, m_search, m_preview;
  CMyListCtrl m_list;
  std::wstring m_keyword;
  int m_markAll = 1;
  // Set on the window thread before a worker starts and cleared by the
  // worker as it ends; requests meanwhile are ignored, so neither the list
  // nor m_chosenItems changes under the thread that uses it.
  std::atomic<int> m_searching{0};
  std::atomic<int> m_recovering{0};
  std::vector<restorix::ItemId> m_chosenItems;
  HIMAGELIST m_imageList = nullptr;
  HHOOK m_keyHook = nullptr;
};
