#include "app/PreviewDlg.h"

#include "app/resource.h"

CPreviewDlg::CPreviewDlg() : CPageDialog(IDD_PREVIEW) {}

BOOL CPreviewDlg::OnInitDialog() {
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_text, m_hwnd, IDC_TEXT_BUTTON, L"txt.png");
  SkinButton(m_hex, m_hwnd, IDC_HEX_BUTTON, L"hex.png");
  SkinButton(m_picture, m_hwnd, IDC_PICTURE_BUTTON, L"picture.png");
  SetDlgItemTextW(m_hwnd, IDC_NO_PREVIEW, L"无法预览");
  return FALSE;
}
