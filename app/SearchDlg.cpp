#include "app/SearchDlg.h"

#include "app/resource.h"

CSearchDlg::CSearchDlg() : CPageDialog(IDD_SEARCH) {}

BOOL CSearchDlg::OnInitDialog() {
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SetDlgItemTextW(m_hwnd, IDC_KEYWORD_LABEL, L"文件名(关键字):");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  return TRUE;
}
