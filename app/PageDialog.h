// Common ground of the main window's pages: a child dialog on white that
// holds the kernel binding (not owned) and ignores Enter and Esc.
#pragma once

#include <windows.h>

#include "app/DialogBase.h"

class CPngButton;
class KernelBinding;

// The caption of every message box the program shows.
inline constexpr wchar_t kAppCaption[] = L"Talvex Data Recovery";

// Attaches `button` to control `id` of `dialog` and gives it SKIN\`image`.
void SkinButton(CPngButton& button, HWND dialog, int id, const wchar_t* image);

class CPageDialog : public CDialogBase {
 public:
  explicit CPageDialog(int templateId);
  ~CPageDialog() override;

  void SetBinding(KernelBinding* binding) { m_binding = binding; }
  KernelBinding* Binding() const { return m_binding; }

 protected:
  void OnOK() override {}
  void OnCancel() override {}
  void PaintBackground(HDC dc) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  KernelBinding* m_binding = nullptr;
  HBRUSH m_whiteBrush = nullptr;
};
