#include "app/ProgressDlg.h"

#include <cwchar>
#include <iterator>

#include "app/AppFiles.h"
#include "app/AppContext.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"
#include "controls/GdiplusInclude.h"

namespace {
constexpr UINT_PTR kAnimationTimer = 1;
// Shows a count held back by the repaint pace once the queue is quiet.
constexpr UINT_PTR kPendingCountTimer = 2;
constexpr UINT kPendingCountDelayMs = 100;
// Asks the kernel for the share done of a deep or format-recovery scan.
constexpr UINT_PTR kShareTimer = 3;
constexpr UINT kShareIntervalMs = 250;
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

void CProgressDlg::SetMode(restorix::ScanMode mode) {
  m_mode = mode;
  ComposeStatus();
}

void CProgressDlg::SetApp(AppContext* app) {
  if (app) m_app = app;
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
  m_frameShownAt = GetTickCount();
  if (m_frames.Animated()) SetTimer(m_hwnd, kAnimationTimer, m_frames.PeriodMs(), nullptr);
  if (m_app) StartScan();
  return TRUE;
}

void CProgressDlg::StartScan() {
  const std::wstring prefix = m_app->State().PartitionName() + L"\\";
  KernelLoader& kernel = m_app->Kernel();
  const restorix::ScanCall call = restorix::ChooseScanCall(m_mode, m_probeScan, kernel.CanStartScan());
  // The device page does not start a mode the library cannot run.
  if (call == restorix::ScanCall::Unavailable) {
    PostMessageW(m_hwnd, WM_COMMAND, MAKEWPARAM(IDC_CANCEL_SCAN, BN_CLICKED), 0);
    return;
  }
  m_app->State().SetBusy(true);
  int started = 1;
  switch (call) {
    case restorix::ScanCall::DeletedByKind:
      kernel.Scan(prefix.c_str(), m_partitionName, m_fsKind, m_hwnd);
      break;
    case restorix::ScanCall::DeletedByProbe:
      kernel.StartScan(prefix.c_str(), m_partitionName, KX_MODE_DELETED, m_hwnd);
      break;
    default:
      started = kernel.StartScan(prefix.c_str(), m_partitionName, restorix::KernelModeOf(m_mode), m_hwnd);
      break;
  }
  m_app->State().SetBusy(false);
  m_scanRunning = true;
  if (m_mode == restorix::ScanMode::Deleted) return;
  // No thread means no closing message from the kernel: end as it would,
  // so the page shows the kernel's reason.
  if (!started) PostMessageW(m_hwnd, WM_CLOSE, 0, 0);
  SetTimer(m_hwnd, kShareTimer, kShareIntervalMs, nullptr);
}

void CProgressDlg::ComposeStatus() {
  if (m_mode != restorix::ScanMode::Deleted && m_app && m_scanRunning) {
    if (const std::optional<KernelLoader::ScanProgress> p = m_app->Kernel().GetScanProgress())
      m_percent = restorix::SharePercent(p->done, p->total);
  }
  wcsncpy_s(m_status, restorix::ModeStatusText(m_mode, m_count, m_percent).c_str(), _TRUNCATE);
}

// The scan thread writes the item registry that the results page reads
// next: whatever ends this dialog first stops the thread and waits for it.
// After the kernel's own WM_CLOSE the thread is at its end and this only
// joins it.
void CProgressDlg::StopScan() {
  if (!m_scanRunning) return;
  m_scanRunning = false;
  if (m_app) m_app->Kernel().StopTask();
}

bool CProgressDlg::OnCommand(int id, int code, HWND) {
  if (id != IDC_CANCEL_SCAN || code != BN_CLICKED) return false;
  StopScan();
  EndDialog(IDCANCEL);
  return true;
}

// Esc, Alt+F4 and the kernel's WM_CLOSE.
void CProgressDlg::OnCancel() {
  // The last count is the line that stays.
  if (m_countPending) SetWindowTextW(m_hwnd, m_status);
  m_countPending = false;
  StopScan();
  EndDialog(IDCANCEL);
}

void CProgressDlg::OnDestroy() {
  KillTimer(m_hwnd, kAnimationTimer);
  KillTimer(m_hwnd, kPendingCountTimer);
  KillTimer(m_hwnd, kShareTimer);
  StopScan();
}

void CProgressDlg::OnTimer(UINT_PTR id) {
  KillTimer(m_hwnd, id);
  if (id == kPendingCountTimer) {
    if (m_countPending) ShowProgressNow();
    return;
  }
  if (id == kShareTimer) {
    const std::wstring before = m_status;
    ComposeStatus();
    if (before != m_status) ShowProgressNow();
    SetTimer(m_hwnd, kShareTimer, kShareIntervalMs, nullptr);
    return;
  }
  if (!m_animation || !m_frames.Animated()) return;
  NextFrame();
  SetTimer(m_hwnd, kAnimationTimer, m_frames.PeriodMs(), nullptr);
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  rc.right -= 100;  // the cancel button draws itself
  InvalidateRect(m_hwnd, &rc, FALSE);
}

void CProgressDlg::NextFrame() {
  m_animation->SelectActiveFrame(&kTimeDimension, m_frames.Current());
  m_frames.Advance();
  m_frameShownAt = GetTickCount();
}

void CProgressDlg::OnFoundCount(long long count) {
  m_count = count;
  ComposeStatus();
  m_countPending = true;
  if (m_repaint.Due(GetTickCount()))
    ShowProgressNow();
  else
    SetTimer(m_hwnd, kPendingCountTimer, kPendingCountDelayMs, nullptr);
}

void CProgressDlg::ShowProgressNow() {
  m_countPending = false;
  KillTimer(m_hwnd, kPendingCountTimer);
  m_repaint.Painted(GetTickCount());
  SetWindowTextW(m_hwnd, m_status);
  // The animation timer cannot fire while counts keep coming: step the
  // picture here when its frame is due, and start its timer again.
  if (m_animation && m_frames.Animated() && GetTickCount() - m_frameShownAt >= m_frames.PeriodMs()) {
    NextFrame();
    SetTimer(m_hwnd, kAnimationTimer, m_frames.PeriodMs(), nullptr);
  }
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  rc.right -= 100;  // the cancel button draws itself
  InvalidateRect(m_hwnd, &rc, FALSE);
  UpdateWindow(m_hwnd);
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
      OnFoundCount(static_cast<long long>(wParam));
      return 1;
    case WM_SYSCOMMAND:
      // Alt+F4 and the system menu close through WM_CLOSE as well.
      if ((wParam & 0xFFF0) == SC_CLOSE) m_userClosing = true;
      return std::nullopt;
    case WM_CLOSE:
      m_scanEnded = !m_userClosing;
      // The scan's last share (all of it, unless it failed) is the line
      // that stays.
      if (m_scanEnded && m_mode != restorix::ScanMode::Deleted) {
        ComposeStatus();
        m_countPending = true;
      }
      return std::nullopt;  // ends the dialog as a cancel does
    case WM_ERASEBKGND:
      return TRUE;
    case WM_PAINT:
      OnPaint();
      return 0;
    default:
      return std::nullopt;
  }
}
