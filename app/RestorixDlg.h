// CRestorixDlg: the borderless, skinned, slightly transparent main window.
// It owns the program's context (kernel, settings, state, workers) and the
// four pages, shows one page at a time
// on request of the private messages, moves the recovery progress bar, and
// ends only through its close button.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "app/DialogBase.h"
#include "app/AppContext.h"
#include "app/core/ScanModes.h"
#include "app/core/WindowRules.h"
#include "controls/PngButton.h"

namespace Gdiplus {
class Image;
}

class CRestorixDlg : public CDialogBase {
 public:
  CRestorixDlg();
  ~CRestorixDlg() override;

  int AddPage(const wchar_t* name, CDialogBase* page, int resourceId, uint8_t key);
  void ShowPage(int key);

  // For the pages and the tests.
  AppContext* App() const { return m_app.get(); }
  const std::vector<PageEntry>& Pages() const { return m_pages; }
  const PageEntry& CurrentPage() const { return m_currentPage; }
  CPngButton* Button(int id);
  bool HasBackground() const { return m_background != nullptr; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override {}
  void OnCancel() override {}
  void PaintBackground(HDC dc) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  void SkinButtons();
  // Tabs 1000, 1006 and 1004: the mode the next scan runs in.
  void ChooseMode(restorix::ScanMode mode);
  CDialogBase* PageOf(uint8_t key) const;
  void ExitProcedure();
  void WaitForWorkers();
  void OnPaint();
  void RenderBackground();

  HICON m_icon = nullptr;
  HICON m_smallIcon = nullptr;
  CPngButton m_minimize;
  CPngButton m_close;
  CPngButton m_tabDR, m_tabPR, m_tabFR, m_tabPTR, m_tabVR;
  std::unique_ptr<AppContext> m_app;
  std::unique_ptr<Gdiplus::Image> m_background;
  PageEntry m_currentPage;
  std::vector<PageEntry> m_pages;
  HWND m_progress = nullptr;
  // The background stretched to the client size once, for painting and for
  // the buttons that draw it behind their transparent pixels.
  HBITMAP m_backgroundBitmap = nullptr;
  SIZE m_backgroundSize = {};
};
