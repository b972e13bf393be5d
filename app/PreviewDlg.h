// The preview page: one recovered file as hex, text or picture.
#pragma once

#include <windows.h>

#include "app/PageDialog.h"
#include "controls/PngButton.h"

class CPreviewDlg : public CPageDialog {
 public:
  CPreviewDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_text, m_hex, m_picture;
};
