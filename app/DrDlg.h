// The results page: the found folders as a check-box tree, the files of
// one folder as a check-box list, the recovery folder, and recovery.
#pragma once

#include <windows.h>

#include "app/PageDialog.h"
#include "controls/PngButton.h"

class CDrDlg : public CPageDialog {
 public:
  CDrDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_recover, m_preview, m_search, m_browse;
};
