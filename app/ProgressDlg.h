// CProgressDlg: the modal strip that runs while the kernel scans one
// partition. Its window is the one the kernel reports to: the running
// count of found items (WM_SCAN_FOUND_COUNT) and WM_CLOSE at the scan's
// end. Shows the count, an animated picture and a cancel button. The
// kernel posts one count per found item, which keeps the queue from ever
// generating paint or timer messages during a long scan: the dialog keeps
// the latest count and repaints itself every 100 ms meanwhile. In the deep
// and format-recovery modes the line also tells the share of the volume
// done, which the dialog asks the kernel for on a timer.
#pragma once

#include <windows.h>

#include <memory>
#include <vector>

#include "app/DialogBase.h"
#include "app/core/DeviceRules.h"
#include "app/core/ScanModes.h"
#include "controls/PngButton.h"

class AppContext;
namespace Gdiplus {
class Image;
}

class CProgressDlg : public CDialogBase {
 public:
  CProgressDlg();
  ~CProgressDlg() override;

  // Ignored when `name` is null.
  void SetPartition(const wchar_t* name, int fsKind);
  // A letter mapped to a disk image's partition: the kernel's own probe
  // picks the engine (when the library has KX_StartScan).
  void SetProbeScan(bool probe) { m_probeScan = probe; }
  // The mode the scan runs in (the deleted-file mode unless set).
  void SetMode(restorix::ScanMode mode);
  // Ignored when null.
  void SetApp(AppContext* app);
  void SetPosition(int x, int y);

  const wchar_t* StatusText() const { return m_status; }
  uint32_t CurrentFrame() const { return m_frames.Current(); }
  // The kernel's WM_CLOSE ended the dialog: the scan ran to its end (the
  // kernel then knows how it went), unlike a cancel.
  bool ScanEnded() const { return m_scanEnded; }

 protected:
  BOOL OnInitDialog() override;
  bool OnCommand(int id, int code, HWND control) override;
  void OnOK() override {}
  void OnCancel() override;
  void OnTimer(UINT_PTR id) override;
  std::optional<LRESULT> OnMessage(UINT message, WPARAM wParam, LPARAM lParam) override;
  void OnDestroy() override;

 private:
  void LoadAnimation();
  void StopScan();
  void OnPaint();
  void OnFoundCount(long long count);
  void StartScan();
  // The status line from the latest count and, outside the deleted-file
  // mode, the kernel's share done.
  void ComposeStatus();
  // The status line as the window text, the frame due by now, and a paint
  // right away.
  void ShowProgressNow();
  void NextFrame();

  std::unique_ptr<Gdiplus::Image> m_animation;
  std::vector<GUID> m_dimensions;
  restorix::FrameClock m_frames;
  restorix::RepaintClock m_repaint{100};
  DWORD m_frameShownAt = 0;
  // A count came in that is not on screen yet.
  bool m_countPending = false;
  wchar_t m_status[1024] = {};
  restorix::ScanMode m_mode = restorix::ScanMode::Deleted;
  long long m_count = 0;
  std::optional<unsigned> m_percent;
  CPngButton m_cancel;
  wchar_t m_partitionName[100] = {};
  int m_fsKind = -1;
  bool m_probeScan = false;
  AppContext* m_app = nullptr;
  int m_x = 0;
  int m_y = 0;
  // A scan started here and not yet stopped and joined.
  bool m_scanRunning = false;
  bool m_scanEnded = false;
  bool m_userClosing = false;
};
