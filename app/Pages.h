// The four work pages of the main window. Each shows its template with its
// skinned buttons; their work (partition list, results, preview, search)
// is built on top of these classes.
#pragma once

#include "app/PageDialog.h"
#include "controls/PngButton.h"

class CSelectDevice : public CPageDialog {
 public:
  CSelectDevice();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_next;
};

class CDrDlg : public CPageDialog {
 public:
  CDrDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_recover, m_preview, m_search, m_browse;
};

class CPreviewDlg : public CPageDialog {
 public:
  CPreviewDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_text, m_hex, m_picture;
};

class CSearchDlg : public CPageDialog {
 public:
  CSearchDlg();

 protected:
  BOOL OnInitDialog() override;

 private:
  CPngButton m_back, m_recover, m_search, m_preview;
};
