// Common ground of the main window's pages: a child dialog on white that
// holds the program's context (not owned) and ignores Enter and Esc.
#pragma once

#include <windows.h>

#include "app/DialogBase.h"
#include "app/core/RecoverySession.h"

class AppContext;
class CPngButton;

// Posted to a page by its own worker threads; the page's window thread
// then shows what they found.
constexpr UINT WM_PAGE_RECOVERY_DONE = WM_APP + 0x60;
constexpr UINT WM_PAGE_SEARCH_DONE = WM_APP + 0x61;

// Attaches `button` to control `id` of `dialog` and gives it SKIN\`image`.
void SkinButton(CPngButton& button, HWND dialog, int id, const wchar_t* image);

class CPageDialog : public CDialogBase {
 public:
  explicit CPageDialog(int templateId);
  ~CPageDialog() override;

  void SetApp(AppContext* app) { m_app = app; }
  AppContext* App() const { return m_app; }

 protected:
  void OnOK() override {}
  void OnCancel() override {}
  void PaintBackground(HDC dc) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;

  // What a page's recovery thread reports: the bar positions to the main
  // window, its end to this page (WM_PAGE_RECOVERY_DONE); posted only.
  restorix::RecoverySession::Events PostingRecoveryEvents() const;

  AppContext* m_app = nullptr;
  HBRUSH m_whiteBrush = nullptr;
};
