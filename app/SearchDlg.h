// The search page: found files whose name matches a keyword.
#pragma once

#include <windows.h>

#include "app/PageDialog.h"
#include "controls/PngButton.h"

class CSearchDlg : public CPageDialog {
 public:
  CSearchDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_recover, m_search, m_preview;
};
