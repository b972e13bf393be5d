#include "app/Pages.h"

#include "app/AppFiles.h"
#include "app/KernelBinding.h"
#include "app/resource.h"

namespace {
void Skin(CPngButton& button, HWND dialog, int id, const wchar_t* image) {
  if (button.Attach(dialog, id)) button.SetImage(SkinFile(image));
}
}  // namespace

CSelectDevice::CSelectDevice() : CPageDialog(IDD_SELECT_DEVICE) {}

BOOL CSelectDevice::OnInitDialog() {
  Skin(m_next, m_hwnd, IDC_NEXT, L"next.png");
  return TRUE;
}

CDrDlg::CDrDlg() : CPageDialog(IDD_DR) {}

BOOL CDrDlg::OnInitDialog() {
  Skin(m_back, m_hwnd, IDC_BACK, L"pre.png");
  Skin(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  Skin(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  Skin(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  Skin(m_browse, m_hwnd, IDC_BROWSE, L"Browse.png");
  SetDlgItemTextW(m_hwnd, IDC_SETTINGS_GROUP, L"设置");
  SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH_LABEL, L"恢复路径:");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  if (m_binding) SetDlgItemTextW(m_hwnd, IDC_RECOVER_PATH, m_binding->GetRecoverPath().c_str());
  return TRUE;
}

CPreviewDlg::CPreviewDlg() : CPageDialog(IDD_PREVIEW) {}

BOOL CPreviewDlg::OnInitDialog() {
  Skin(m_back, m_hwnd, IDC_BACK, L"pre.png");
  Skin(m_text, m_hwnd, IDC_TEXT_BUTTON, L"txt.png");
  Skin(m_hex, m_hwnd, IDC_HEX_BUTTON, L"hex.png");
  Skin(m_picture, m_hwnd, IDC_PICTURE_BUTTON, L"picture.png");
  SetDlgItemTextW(m_hwnd, IDC_NO_PREVIEW, L"无法预览");
  return FALSE;
}

CSearchDlg::CSearchDlg() : CPageDialog(IDD_SEARCH) {}

BOOL CSearchDlg::OnInitDialog() {
  Skin(m_back, m_hwnd, IDC_BACK, L"pre.png");
  Skin(m_recover, m_hwnd, IDC_RECOVER, L"recovery.png");
  Skin(m_search, m_hwnd, IDC_SEARCH, L"search.png");
  Skin(m_preview, m_hwnd, IDC_PREVIEW, L"preview.png");
  SetDlgItemTextW(m_hwnd, IDC_KEYWORD_LABEL, L"文件名(关键字):");
  SetDlgItemTextW(m_hwnd, IDC_MARK_ALL, L"全选");
  return TRUE;
}
