// CPngButton: an owner-drawn push button whose face is a four-frame PNG
// strip (normal, hovered, pressed or checked, disabled look), drawn with
// its alpha over the parent's background, in a rounded region.
#pragma once

#include <windows.h>

#include <memory>
#include <string>

namespace Gdiplus {
class Bitmap;
}

class CPngButton {
 public:
  CPngButton();
  ~CPngButton();
  CPngButton(const CPngButton&) = delete;
  CPngButton& operator=(const CPngButton&) = delete;

  // Binds to the dialog's button `id` (the button must be owner-drawn).
  bool Attach(HWND dialog, int id);
  HWND Hwnd() const { return m_hwnd; }

  // Loads the strip; the button keeps its top-left corner and takes the
  // size of one frame (nothing, when the image cannot be loaded).
  void SetImage(const std::wstring& path);
  void SetChecked(int checked);
  int Checked() const { return m_checked; }

  // Looks the tests inspect.
  int ImageWidth() const { return m_imageWidth; }
  int ImageHeight() const { return m_imageHeight; }
  int FrameWidth() const { return m_frameWidth; }
  int Hover() const { return m_hover; }
  int Tracking() const { return m_tracking; }
  int LastFrameDrawn() const { return m_lastFrame; }
  RECT ParentRect() const { return m_rect; }

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                       UINT_PTR id, DWORD_PTR self) noexcept;
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void Draw(const DRAWITEMSTRUCT& dis);
  void Detach();

  HWND m_hwnd = nullptr;
  int m_disabledLook = 0;
  int m_tracking = 0;
  int m_checked = 0;
  int m_hover = 0;
  int m_unused = 1;
  int m_imageWidth = 0;
  int m_imageHeight = 0;
  int m_frameWidth = 0;
  std::unique_ptr<Gdiplus::Bitmap> m_image;
  RECT m_rect = {};
  int m_lastFrame = -1;
};
