// The results page: the found folders as a check-box tree, the files of
// one folder as a check-box list, the recovery folder, and recovery.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/PageDialog.h"
#include "app/core/FolderIndex.h"
#include "app/core/RecoverySession.h"
#include "controls/MutiTreeCtrl.h"
#include "controls/MyListCtrl.h"
#include "controls/PngButton.h"

class CDrDlg : public CPageDialog {
 public:
  CDrDlg();
  ~CDrDlg() override;

  // For the main window's tests.
  CMutiTreeCtrl& Tree() { return m_tree; }
  CMyListCtrl& List() { return m_list; }
  HTREEITEM RootItem() const { return m_root; }
  std::vector<restorix::ItemId> RecoveryList() const;
  std::wstring TargetFolder() const;
  bool Recovering() const { return m_recovery && m_recovery->Busy(); }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  bool OnNotify(NMHDR* header, LRESULT& result) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  // Dialog data exchange: true reads the controls, false writes them.
  void UpdateData(bool read);
  void ReleaseImageLists();
  void FillPage();
  // Shows the files of the folder `item` (the tree's new selection).
  void ShowFolder(HTREEITEM item);
  void MarkAll();
  void Browse();
  void Recover();
  // True when a recovery thread was started.
  bool StartRecovery();
  void OnRecoveryDone();
  void Preview();
  void Back();
  std::wstring PartitionName() const;
  std::wstring RecoverySource() const;
  std::wstring FolderOf(HTREEITEM item);
  void CheckedRows(std::vector<restorix::ItemId>& out) const;

  HIMAGELIST m_treeImages = nullptr;
  HIMAGELIST m_stateImages = nullptr;
  HIMAGELIST m_platformStateImages = nullptr;  // the tree's own, given back at the end
  HIMAGELIST m_listImages = nullptr;
  HTREEITEM m_root = nullptr;
  uint64_t m_filledGeneration = 0;  // the scan generation the tree shows
  CMutiTreeCtrl m_tree;
  CMyListCtrl m_list;
  CPngButton m_back;
  bool m_markAll = true;
  CPngButton m_recover;
  std::wstring m_recoverFolder;
  CPngButton m_preview, m_search, m_browse;
  HWND m_pathEdit = nullptr;
  // Made once the page has its context.
  std::unique_ptr<restorix::RecoverySession> m_recovery;
  // Up while the same-volume question runs its message loop, in which a
  // second press would arrive.
  bool m_starting = false;
};
