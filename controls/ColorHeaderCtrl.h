// CColorHeaderCtrl: a header control painted flat grey with centred
// captions; sizing, dragging and clicks stay the platform header's own.
#pragma once

#include <windows.h>

class CColorHeaderCtrl {
 public:
  CColorHeaderCtrl() = default;
  ~CColorHeaderCtrl();
  CColorHeaderCtrl(const CColorHeaderCtrl&) = delete;
  CColorHeaderCtrl& operator=(const CColorHeaderCtrl&) = delete;

  // Creates a header child of `parent`; false on failure.
  bool Create(HWND parent, int id, DWORD style);
  // Takes over an existing header (such as a list control's).
  bool SubclassWindow(HWND header);
  void UnsubclassWindow();
  HWND Hwnd() const { return m_hwnd; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self) noexcept;
  void Paint();

  HWND m_hwnd = nullptr;
};
