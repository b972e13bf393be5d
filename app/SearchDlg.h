// The search page: found files whose name matches a keyword, checked for
// recovery. The search and the recovery run as sessions on worker threads
// that post back to this page; the page fills its list and shows the end.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <memory>
#include <string>
#include <vector>

#include "app/PageDialog.h"
#include "app/core/FolderIndex.h"
#include "app/core/RecoverySession.h"
#include "app/core/SearchSession.h"
#include "controls/MyListCtrl.h"
#include "controls/PngButton.h"

class CSearchDlg : public CPageDialog {
 public:
  CSearchDlg();
  ~CSearchDlg() override;

  // Looks the tests inspect.
  CMyListCtrl& List() { return m_list; }
  bool Searching() const { return m_searchSession && m_searchSession->Busy(); }
  bool Recovering() const { return m_recovery && m_recovery->Busy(); }
  std::vector<restorix::ItemId> ChosenItems() const;
  HIMAGELIST ImageList() const { return m_imageList; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  // The key release of Enter on any control of the page searches; each
  // control is subclassed for it, so nothing outside the page is hooked.
  static LRESULT CALLBACK EnterProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                    DWORD_PTR self) noexcept;
  void WatchEnter(HWND control);
  void SetUpList();
  void UpdateData(bool fromControls);
  void OnSearch();
  void OnSearchDone();
  void OnMarkAll();
  void OnRecover();
  void OnRecoveryDone();
  void OnBack();

  CPngButton m_back, m_recover, m_search, m_preview;
  CMyListCtrl m_list;
  std::wstring m_keyword;
  int m_markAll = 1;
  // Made once the page has its context. Requests while either runs are
  // ignored, so neither the list nor the chosen ids change under a worker.
  std::unique_ptr<restorix::SearchSession> m_searchSession;
  std::unique_ptr<restorix::RecoverySession> m_recovery;
  HIMAGELIST m_imageList = nullptr;
};
