#include "controls/PngButton.h"

#include <commctrl.h>

#include "controls/Reflect.h"
#include "controls/model/ButtonFrame.h"
#include "controls/GdiplusInclude.h"

namespace {
constexpr UINT_PTR kSubclassId = 0x504E47;  // "PNG"
}

CPngButton::CPngButton() = default;

CPngButton::~CPngButton() { Detach(); }

void CPngButton::Detach() {
  if (m_hwnd && IsWindow(m_hwnd)) RemoveWindowSubclass(m_hwnd, &CPngButton::SubclassProc, kSubclassId);
  m_hwnd = nullptr;
}

bool CPngButton::Attach(HWND dialog, int id) {
  Detach();
  HWND button = GetDlgItem(dialog, id);
  if (!button) return false;
  if (!SetWindowSubclass(button, &CPngButton::SubclassProc, kSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hwnd = button;
  return true;
}

void CPngButton::SetImage(const std::wstring& path) {
  m_image.reset();
  m_imageWidth = m_imageHeight = m_frameWidth = 0;
  auto image = std::make_unique<Gdiplus::Bitmap>(path.c_str());
  if (image->GetLastStatus() == Gdiplus::Ok && image->GetWidth() > 0 && image->GetHeight() > 0) {
    m_imageWidth = static_cast<int>(image->GetWidth());
    m_imageHeight = static_cast<int>(image->GetHeight());
    m_image = std::move(image);
  }
  m_frameWidth = m_imageWidth / 4;
  if (!m_hwnd) return;
  RECT r;
  GetWindowRect(m_hwnd, &r);
  HWND parent = GetParent(m_hwnd);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
  SetWindowPos(m_hwnd, nullptr, r.left, r.top, m_frameWidth, m_imageHeight, SWP_NOZORDER | SWP_NOACTIVATE);
  m_rect = {r.left, r.top, r.left + m_frameWidth, r.top + m_imageHeight};
  SetWindowRgn(m_hwnd, CreateRoundRectRgn(0, 0, m_frameWidth, m_imageHeight, 20, 10), TRUE);
  InvalidateRect(m_hwnd, nullptr, FALSE);
}

void CPngButton::SetChecked(int checked) {
  if (checked == m_checked) return;
  m_checked = checked;
  if (m_hwnd) InvalidateRect(m_hwnd, nullptr, FALSE);
}

void CPngButton::Draw(const DRAWITEMSTRUCT& dis) {
  const int frame = ChooseButtonFrame(m_disabledLook == 1, (dis.itemState & ODS_SELECTED) != 0,
                                      m_checked != 0, m_hover != 0);
  m_lastFrame = frame;
  const RECT& rc = dis.rcItem;
  const int w = rc.right - rc.left;
  const int h = rc.bottom - rc.top;
  if (w <= 0 || h <= 0) return;

  // Compose off screen: the parent's background first, so that the strip's
  // transparent pixels and soft edges show what lies behind the button.
  HDC memory = CreateCompatibleDC(dis.hDC);
  HBITMAP bitmap = CreateCompatibleBitmap(dis.hDC, w, h);
  HGDIOBJ old = SelectObject(memory, bitmap);
  HWND parent = GetParent(m_hwnd);
  RECT inParent;
  GetWindowRect(m_hwnd, &inParent);
  MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&inParent), 2);
  POINT origin;
  SetViewportOrgEx(memory, -inParent.left, -inParent.top, &origin);
  SendMessageW(parent, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT | PRF_ERASEBKGND);
  SetViewportOrgEx(memory, origin.x, origin.y, nullptr);
  if (m_image) {
    const StripFrame src = ButtonFrameRect(frame, m_imageWidth, m_imageHeight);
    Gdiplus::Graphics g(memory);
    g.SetInterpolationMode(Gdiplus::InterpolationModeNearestNeighbor);
    g.DrawImage(m_image.get(), Gdiplus::Rect(0, 0, w, h), src.x, src.y, src.width, src.height,
                Gdiplus::UnitPixel);
  }
  BitBlt(dis.hDC, rc.left, rc.top, w, h, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
}

LRESULT CALLBACK CPngButton::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam,
                                          UINT_PTR, DWORD_PTR self) noexcept {
  try {
    return reinterpret_cast<CPngButton*>(self)->Handle(message, wParam, lParam);
  } catch (...) {
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
}

LRESULT CPngButton::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  HWND hwnd = m_hwnd;
  switch (message) {
    case kReflectedDrawItem:
      Draw(*reinterpret_cast<const DRAWITEMSTRUCT*>(lParam));
      return TRUE;
    case WM_ERASEBKGND:
      return TRUE;  // the image covers the face
    case WM_MOUSEMOVE:
      if (!m_tracking) {
        TRACKMOUSEEVENT track = {};
        track.cbSize = sizeof track;
        track.dwFlags = TME_HOVER | TME_LEAVE;
        track.hwndTrack = hwnd;
        track.dwHoverTime = 1;
        m_tracking = TrackMouseEvent(&track) ? 1 : 0;
      }
      break;
    case WM_MOUSEHOVER:
      m_hover = 1;
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    case WM_MOUSELEAVE: {
      m_tracking = 0;
      m_hover = 0;
      HWND parent = GetParent(hwnd);
      RECT r;
      GetWindowRect(hwnd, &r);
      MapWindowPoints(nullptr, parent, reinterpret_cast<POINT*>(&r), 2);
      InvalidateRect(parent, &r, TRUE);
      InvalidateRect(hwnd, nullptr, FALSE);
      return 0;
    }
    case WM_LBUTTONDBLCLK:
      // A fast second click is a second click, not a double click.
      InvalidateRect(hwnd, nullptr, FALSE);
      return DefSubclassProc(hwnd, WM_LBUTTONDOWN, wParam, lParam);
    case WM_LBUTTONDOWN:
    case WM_LBUTTONUP:
      InvalidateRect(hwnd, nullptr, FALSE);
      break;
    case WM_NCDESTROY: {
      RemoveWindowSubclass(hwnd, &CPngButton::SubclassProc, kSubclassId);
      m_hwnd = nullptr;
      return DefSubclassProc(hwnd, message, wParam, lParam);
    }
    default:
      break;
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}
