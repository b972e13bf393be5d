#include "app/DrDlg.h"

#include "app/KernelBinding.h"
#include "app/resource.h"

CDrDlg::CDrDlg() : CPageDialog(IDD_DR) {}

BOOL CDrDlg::OnInitDialog() {
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  SkinButton(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SkinButton(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  SkinButton(m_browse, m_hwnd, IDC_BROWSE, L"Browse.png");
  SetDlgItemTextW(m_hwnd, IDC_SETTINGS_GROUP, L"设置");
  SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH_LABEL, L"恢复路径:");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  if (m_binding) SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH, m_binding->GetRecoverPath().c_str());
  return TRUE;
}
