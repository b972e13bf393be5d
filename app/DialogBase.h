// The one dialog base of the desktop program: it keeps `this` with the
// window from WM_INITDIALOG on and dispatches from a noexcept static
// procedure to virtual handlers, so no exception ever reaches user32.
#pragma once

#include <windows.h>

#include <optional>

#include "controls/Reflect.h"


class CDialogBase {
 public:
  explicit CDialogBase(int templateId) : m_templateId(templateId) {}
  virtual ~CDialogBase();
  CDialogBase(const CDialogBase&) = delete;
  CDialogBase& operator=(const CDialogBase&) = delete;

  // Runs the dialog modally; the result given to EndDialog, or -1.
  INT_PTR DoModal(HWND parent);
  // Creates the dialog modeless (a page); null on failure.
  HWND Create(HWND parent);

  HWND Hwnd() const { return m_hwnd; }
  int TemplateId() const { return m_templateId; }
  HWND Item(int id) const { return GetDlgItem(m_hwnd, id); }
  void EndDialog(INT_PTR result);

 protected:
  virtual BOOL OnInitDialog() { return TRUE; }
  // Command from a control, menu or accelerator. True when handled.
  virtual bool OnCommand(int id, int code, HWND control) { return false; }
  // A notification; set `result` and return true when handled.
  virtual bool OnNotify(NMHDR* header, LRESULT& result) { return false; }
  virtual void OnTimer(UINT_PTR id) {}
  // Enter (IDOK) and Esc or WM_CLOSE (IDCANCEL). Both end a modal dialog.
  virtual void OnOK();
  virtual void OnCancel();
  // Paints the client background into `dc` for controls that draw their
  // parent behind their transparent pixels (WM_PRINTCLIENT).
  virtual void PaintBackground(HDC dc);
  // Anything else. A value means "handled, with this result".
  virtual std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
    return std::nullopt;
  }
  // The window is going away: last chance to use child windows.
  virtual void OnDestroy() {}

  HWND m_hwnd = nullptr;

 private:
  static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  INT_PTR Dispatch(UINT message, WPARAM wParam, LPARAM lParam);

  int m_templateId;
  bool m_modal = false;
};
