#include "app/ProgressDlg.h"

#include <cwchar>
#include <iterator>

#include "app/AppFiles.h"
#include "app/KernelBinding.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"
#include "controls/GdiplusInclude.h"

namespace {
constexpr UINT_PTR kAnimationTimer = 1;
constexpr PROPID kFrameDelayTag = 0x5100;
// The frame dimension of animated GIFs.
constexpr GUID kTimeDimension = {0x6aedbd6d, 0x3fb5, 0x418a, {0x83, 0xa6, 0x7f, 0x45, 0x22, 0x9d, 0xc8, 0x72}};
}  // namespace

CProgressDlg::CProgressDlg() : CDialogBase(IDD_PROGRESS) {
  wcsncpy_s(m_status, restorix::ScanStatusText(0).c_str(), _TRUNCATE);
}

CProgressDlg::~CProgressDlg() { StopScan(); }

void CProgressDlg::SetPartition(const wchar_t* name, int fsKind) {
  if (!name) return;
  wcsncpy_s(m_partitionName, name, _TRUNCATE);
  m_fsKind = fsKind;
}

void CProgressDlg::SetBinding(KernelBinding* binding) {
  if (binding) m_binding = binding;
}

void CProgressDlg::SetPosition(int x, int y) {
  m_x = x;
  m_y = y;
}

void CProgressDlg::LoadAnimation() {
  auto image = std::make_unique<Gdiplus::Image>(SkinFile(L"PROGRESS.gif").c_str());
  if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0) return;
  uint32_t frameCount = 0;
  const UINT dimensions = image->GetFrameDimensionsCount();
  if (dimensions > 0) {
    m_dimensions.resize(dimensions);
    if (image->GetFrameDimensionsList(m_dimensions.data(), dimensions) == Gdiplus::Ok)
      frameCount = image->GetFrameCount(&m_dimensions[0]);
    else
      m_dimensions.clear();
  }
  std::vector<uint32_t> delays;
  const UINT size = image->GetPropertyItemSize(kFrameDelayTag);
  if (size >= sizeof(Gdiplus::PropertyItem)) {
    std::vector<unsigned char> buffer(size);
    auto* item = reinterpret_cast<Gdiplus::PropertyItem*>(buffer.data());
    if (image->GetPropertyItem(kFrameDelayTag, size, item) == Gdiplus::Ok && item->value) {
      const auto* values = static_cast<const unsigned char*>(item->value);
      const size_t available = buffer.data() + size - values;
      const size_t count = std::min<size_t>(item->length, available) / 4;
      for (size_t i = 0; i < count; ++i)
        delays.push_back(uint32_t{values[4 * i]} | uint32_t{values[4 * i + 1]} << 8 |
                         uint32_t{values[4 * i + 2]} << 16 | uint32_t{values[4 * i + 3]} << 24);
    }
  }
  m_frames = restorix::FrameClock(frameCount, std::move(delays));
  m_animation = std::move(image);
}

BOOL CProgressDlg::OnInitDialog() {
  LoadAnimation();
  if (m_cancel.Attach(m_hwnd, IDC_CANCEL_SCAN)) m_cancel.SetImage(SkinFile(L"cancel.png"));
  SetWindowPos(m_hwnd, nullptr, m_x, m_y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  // Screen readers (and tests) read the status line as the window's text.
  SetWindowTextW(m_hwnd, m_status);
  if (m_frames.Animated()) SetTimer(m_hwnd, kAnimationTimer, m_frames.PeriodMs(), nullptr);
  if (m_binding) {
    const std::wstring prefix = std::wstring(m_binding->m_partitionName) + L"\\";
    m_binding->m_busy = 1;
    m_binding->Scan(prefix.c_str(), m_partitionName, m_fsKind, m_hwnd);
    m_binding->m_busy = 0;
    m_scanRunning = true;
  }
  return TRUE;
}

// The scan thread writes the item registry that the results page reads
// next: whatever ends this dialog first stops the thread and waits for it.
// After the kernel's own WM_CLOSE the thread is at its end and this only
// joins it.
void CProgressDlg::StopScan() {
  if (!m_scanRunning) return;
  m_scanRunning = false;
  if (m_binding) m_binding->StopTask();
}

bool CProgressDlg::OnCommand(int id, int code, HWND) {
  if (id != IDC_CANCEL_SCAN || code != BN_CLICKED) return false;
  StopScan();
  EndDialog(IDCANCEL);
  return true;
}

// Esc, Alt+F4 and the kernel's WM_CLOSE.
void CProgressDlg::OnCancel() {
  StopScan();
  EndDialog(IDCANCEL);
}

void CProgressDlg::OnDestroy() {
  KillTimer(m_hwnd, kAnimationTimer);
  StopScan();
}

void CProgressDlg::OnTimer(UINT_PTR id) {
  KillTimer(m_hwnd, id);
  if (!m_animation || !m_frames.Animated()) return;
  m_animation->SelectActiveFrame(&kTimeDimension, m_frames.Current());
  SetTimer(m_hwnd, kAnimationTimer, m_frames.PeriodMs(), nullptr);
  m_frames.Advance();
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  rc.right -= 100;  // the cancel button draws itself
  InvalidateRect(m_hwnd, &rc, FALSE);
}

void CProgressDlg::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  const int width = rc.right - rc.left;
  const int height = rc.bottom - rc.top;
  if (width > 0 && height > 0) {
    HDC memory = CreateCompatibleDC(dc);
    HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
    HGDIOBJ old = SelectObject(memory, bitmap);
    {
      Gdiplus::Graphics g(memory);
      Gdiplus::SolidBrush back(Gdiplus::Color(0xFF, 0xF8, 0xF8, 0xFF));
      g.FillRectangle(&back, 0, 0, width, height);
      if (m_animation) g.DrawImage(m_animation.get(), Gdiplus::Rect(0, height - 30, width - 100, 20));
    }
    // The status line through GDI, anti-aliased: its font linking finds
    // the Chinese glyphs that Arial lacks, which GDI+ would leave out.
    LOGFONTW lf = {};
    lf.lfHeight = -MulDiv(12, GetDeviceCaps(memory, LOGPIXELSY), 72);
    lf.lfWeight = FW_NORMAL;
    lf.lfCharSet = DEFAULT_CHARSET;
    lf.lfQuality = ANTIALIASED_QUALITY;
    wcscpy_s(lf.lfFaceName, L"Arial");
    HFONT font = CreateFontIndirectW(&lf);
    HGDIOBJ oldFont = SelectObject(memory, font);
    SetBkMode(memory, TRANSPARENT);
    SetTextColor(memory, RGB(0, 0, 0));
    TextOutW(memory, rc.left, rc.top + 20, m_status, static_cast<int>(wcslen(m_status)));
    SelectObject(memory, oldFont);
    DeleteObject(font);
    BitBlt(dc, 0, 0, width, height, memory, 0, 0, SRCCOPY);
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
  }
  EndPaint(m_hwnd, &ps);
}

std::optional<LRESULT> CProgressDlg::OnMessage(UINT message, WPARAM wParam, LPARAM) {
  switch (message) {
    case WM_SCAN_FOUND_COUNT:
      wcsncpy_s(m_status, restorix::ScanStatusText(static_cast<long long>(wParam)).c_str(), _TRUNCATE);
      SetWindowTextW(m_hwnd, m_status);
      return 1;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return 0;
    default:
      return std::nullopt;
  }
}
