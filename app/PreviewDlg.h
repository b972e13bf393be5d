// The preview page: one recovered file as hex (its first 8 KiB), as text
// or as a picture. It reads the copy the results page wrote; never the disk.
#pragma once

#include <windows.h>

#include <string>

#include "app/PageDialog.h"
#include "controls/HexEditBase.h"
#include "controls/PngButton.h"

class CPreviewDlg : public CPageDialog {
 public:
  CPreviewDlg();

  // The picture band for a W x H page: the file's image stretched over
  // (0, 60) to (W, H - 80) of `dc`. False, drawing nothing, when the file
  // does not decode to an image of some width and height.
  static bool DrawPicture(HDC dc, int width, int height, const std::wstring& path);

  // Looks the tests inspect.
  CHexEditBase& HexView() { return m_hexView; }
  const std::wstring& Text() const { return m_text; }
  bool PictureMode() const { return m_pictureMode != 0; }
  CPngButton& Button(int id);

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

 private:
  void OnShowWindow(bool shown);
  void OnTextButton();
  void OnHexButton();
  void OnPictureButton();
  void OnPaint();
  void MarkMode(int checkedId);
  void ShowItem(int id, bool show);

  CPngButton m_back, m_textButton, m_hexButton, m_pictureButton;
  CHexEditBase m_hexView;
  std::wstring m_text;
  BYTE m_buffer[8192] = {};
  UINT m_bufferCount = 0;
  int m_pictureMode = 0;
};
