#include "app/PageDialog.h"

#include "app/AppContext.h"
#include "app/AppFiles.h"
#include "app/core/WindowRules.h"
#include "controls/PngButton.h"

void SkinButton(CPngButton& button, HWND dialog, int id, const wchar_t* image) {
  if (button.Attach(dialog, id)) button.SetImage(SkinFile(image));
}

restorix::RecoverySession::Events CPageDialog::PostingRecoveryEvents() const {
  HWND host = m_app ? m_app->Host() : nullptr;
  HWND page = m_hwnd;
  restorix::RecoverySession::Events events;
  events.progress = [host](int position) { PostMessageW(host, WM_RECOVER_PROGRESS, 1, position); };
  events.finished = [page](const restorix::RecoveryOutcome&) { PostMessageW(page, WM_PAGE_RECOVERY_DONE, 0, 0); };
  return events;
}

CPageDialog::CPageDialog(int templateId)
    : CDialogBase(templateId), m_whiteBrush(CreateSolidBrush(RGB(255, 255, 255))) {}

CPageDialog::~CPageDialog() {
  if (m_whiteBrush) DeleteObject(m_whiteBrush);
}

void CPageDialog::PaintBackground(HDC dc) {
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  FillRect(dc, &rc, m_whiteBrush);
}

std::optional<LRESULT> CPageDialog::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSTATIC:
    case WM_CTLCOLORBTN:
      SetBkColor(reinterpret_cast<HDC>(wParam), RGB(255, 255, 255));
      return reinterpret_cast<LRESULT>(m_whiteBrush);
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORSCROLLBAR:
      // White behind every control, their own text colours kept.
      return reinterpret_cast<LRESULT>(m_whiteBrush);
    default:
      return std::nullopt;
  }
}
