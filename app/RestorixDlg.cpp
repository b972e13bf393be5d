#include "app/RestorixDlg.h"

#include <commctrl.h>

#include "app/AppFiles.h"
#include "app/Pages.h"
#include "app/Startup.h"
#include "app/core/UiText.h"
#include "app/resource.h"
#include "controls/GdiplusInclude.h"

namespace {
using restorix::ui::kCaption;

class CAboutDlg : public CDialogBase {
 public:
  CAboutDlg() : CDialogBase(IDD_ABOUTBOX) {}
};

SIZE ClientSize(HWND hwnd) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  return {rc.right - rc.left, rc.bottom - rc.top};
}
}  // namespace

CRestorixDlg::CRestorixDlg() : CDialogBase(IDD_RESTORIX_DIALOG) {
  HINSTANCE instance = GetModuleHandleW(nullptr);
  m_icon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_RESTORIX), IMAGE_ICON,
                                         GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
  m_smallIcon = static_cast<HICON>(LoadImageW(instance, MAKEINTRESOURCEW(IDI_RESTORIX), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXSMICON),
                                              GetSystemMetrics(SM_CYSMICON), 0));
}

CRestorixDlg::~CRestorixDlg() {
  // Normally done when the window is destroyed; again here for a window
  // that never opened.
  OnDestroy();
  if (m_icon) DestroyIcon(m_icon);
  if (m_smallIcon) DestroyIcon(m_smallIcon);
}

CPngButton* CRestorixDlg::Button(int id) {
  switch (id) {
    case IDC_MINIMIZE: return &m_minimize;
    case IDC_CLOSE: return &m_close;
    case IDC_TAB_DR: return &m_tabDR;
    case IDC_TAB_PR: return &m_tabPR;
    case IDC_TAB_FR: return &m_tabFR;
    case IDC_TAB_PTR: return &m_tabPTR;
    case IDC_TAB_VR: return &m_tabVR;
    default: return nullptr;
  }
}

int CRestorixDlg::AddPage(const wchar_t* name, CDialogBase* page, int resourceId, uint8_t key) {
  if (!page) return 0;
  page->Create(m_hwnd);
  const SIZE client = ClientSize(m_hwnd);
  if (page->Hwnd())
    SetWindowPos(page->Hwnd(), HWND_TOP, 16, 120, client.cx - 34, client.cy - 172, SWP_HIDEWINDOW);
  m_pages.push_back(MakePageEntry(resourceId, name, key, page));
  return 1;
}

void CRestorixDlg::ShowPage(int key) {
  for (const PageVisibility& p : PlanShowPage(m_pages, key, m_currentPage))
    if (p.window->Hwnd()) ShowWindow(p.window->Hwnd(), p.show ? SW_SHOW : SW_HIDE);
}

void CRestorixDlg::SkinButtons() {
  for (int id : {IDC_MINIMIZE, IDC_CLOSE, IDC_TAB_DR, IDC_TAB_PR, IDC_TAB_FR, IDC_TAB_PTR, IDC_TAB_VR})
    Button(id)->Attach(m_hwnd, id);
  const SIZE client = ClientSize(m_hwnd);
  m_close.SetImage(SkinFile(L"main_window_close.png"));
  SetWindowPos(m_close.Hwnd(), nullptr, client.cx - 46, 1, 41, 20, SWP_NOZORDER | SWP_NOACTIVATE);
  m_minimize.SetImage(SkinFile(L"main_window_hide.png"));
  SetWindowPos(m_minimize.Hwnd(), nullptr, client.cx - 77, 1, 31, 20, SWP_NOZORDER | SWP_NOACTIVATE);
  m_tabDR.SetImage(SkinFile(L"DR.png"));
  m_tabDR.SetChecked(1);  // the active mode, drawn pressed for good
  m_tabPR.SetImage(SkinFile(L"PR.png"));
  m_tabFR.SetImage(SkinFile(L"FR.png"));
  m_tabPTR.SetImage(SkinFile(L"PTR.png"));
  m_tabVR.SetImage(SkinFile(L"VR.png"));
}

BOOL CRestorixDlg::OnInitDialog() {
  StoreMainWindow(m_hwnd);

  wchar_t about[128] = {};
  if (LoadStringW(GetModuleHandleW(nullptr), IDS_ABOUTBOX, about, static_cast<int>(std::size(about))) > 0) {
    if (HMENU menu = GetSystemMenu(m_hwnd, FALSE)) {
      AppendMenuW(menu, MF_SEPARATOR, 0, nullptr);
      AppendMenuW(menu, MF_STRING, IDM_ABOUTBOX, about);
    }
  }
  SendMessageW(m_hwnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_icon));
  SendMessageW(m_hwnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon ? m_smallIcon : m_icon));
  SetWindowTextW(m_hwnd, kCaption);

  SetWindowPos(m_hwnd, nullptr, 0, 0, 800, 600, SWP_NOZORDER | SWP_NOACTIVATE);
  RECT work;
  if (!SystemParametersInfoW(SPI_GETWORKAREA, 0, &work, 0))
    work = {0, 0, GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)};
  SetWindowPos(m_hwnd, nullptr, work.left + (work.right - work.left - 800) / 2,
               work.top + (work.bottom - work.top - 600) / 2, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  const SIZE client = ClientSize(m_hwnd);
  SetWindowRgn(m_hwnd, CreateRoundRectRgn(0, 0, client.cx + 1, client.cy + 1, 10, 8), TRUE);

  // The background must exist before the buttons first draw it behind them.
  auto background = std::make_unique<Gdiplus::Image>(SkinFile(L"Bk.png").c_str());
  if (background->GetLastStatus() == Gdiplus::Ok && background->GetWidth() > 0) {
    m_background = std::move(background);
    RenderBackground();
  }
  SkinButtons();

  try {
    m_app = std::make_unique<AppContext>();
  } catch (...) {
    m_app.reset();
  }
  if (m_app) {
    m_app->Kernel().LoadKernel();
    m_app->SetHost(m_hwnd);
  }

  auto addPage = [this](const wchar_t* name, CPageDialog* page, int resourceId, uint8_t key) {
    if (!page) return;
    page->SetApp(m_app.get());
    AddPage(name, page, resourceId, key);
  };
  addPage(L"Select Device", new (std::nothrow) CSelectDevice, IDD_SELECT_DEVICE, kPageDevice);
  ShowPage(kPageDevice);
  addPage(L"DR dlg", new (std::nothrow) CDrDlg, IDD_DR, kPageResults);
  addPage(L"Preview dlg", new (std::nothrow) CPreviewDlg, IDD_PREVIEW, kPagePreview);
  addPage(L"Search dlg", new (std::nothrow) CSearchDlg, IDD_SEARCH, kPageSearch);

  m_progress = GetDlgItem(m_hwnd, IDC_PROGRESS);
  SendMessageW(m_progress, PBM_SETRANGE32, 0, 100);

  SetWindowLongPtrW(m_hwnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hwnd, GWL_EXSTYLE) ^ WS_EX_LAYERED);
  using SetLayeredFn = BOOL(WINAPI*)(HWND, COLORREF, BYTE, DWORD);
  if (HMODULE user32 = GetModuleHandleW(L"User32.DLL")) {
    auto setLayered = reinterpret_cast<SetLayeredFn>(
        reinterpret_cast<void*>(GetProcAddress(user32, "SetLayeredWindowAttributes")));
    if (setLayered) setLayered(m_hwnd, 0, 240, LWA_ALPHA);
  }
  return TRUE;
}

void CRestorixDlg::RenderBackground() {
  const SIZE client = ClientSize(m_hwnd);
  if (!m_background || client.cx <= 0 || client.cy <= 0) return;
  if (m_backgroundBitmap) DeleteObject(m_backgroundBitmap);
  HDC screen = GetDC(m_hwnd);
  m_backgroundBitmap = CreateCompatibleBitmap(screen, client.cx, client.cy);
  HDC memory = CreateCompatibleDC(screen);
  HGDIOBJ old = SelectObject(memory, m_backgroundBitmap);
  {
    Gdiplus::Graphics g(memory);
    g.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
    g.SetInterpolationMode(Gdiplus::InterpolationModeHighQualityBicubic);
    g.DrawImage(m_background.get(), Gdiplus::Rect(0, 0, client.cx, client.cy));
  }
  SelectObject(memory, old);
  DeleteDC(memory);
  ReleaseDC(m_hwnd, screen);
  m_backgroundSize = client;
}

void CRestorixDlg::PaintBackground(HDC dc) {
  if (!m_backgroundBitmap) {
    CDialogBase::PaintBackground(dc);
    return;
  }
  HDC memory = CreateCompatibleDC(dc);
  HGDIOBJ old = SelectObject(memory, m_backgroundBitmap);
  BitBlt(dc, 0, 0, m_backgroundSize.cx, m_backgroundSize.cy, memory, 0, 0, SRCCOPY);
  SelectObject(memory, old);
  DeleteDC(memory);
}

void CRestorixDlg::OnPaint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  if (IsIconic(m_hwnd)) {
    SendMessageW(m_hwnd, WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    const SIZE client = ClientSize(m_hwnd);
    DrawIcon(dc, (client.cx - GetSystemMetrics(SM_CXICON) + 1) / 2,
             (client.cy - GetSystemMetrics(SM_CYICON) + 1) / 2, m_icon);
  } else if (m_backgroundBitmap) {
    PaintBackground(dc);
  }
  EndPaint(m_hwnd, &ps);
}

std::optional<LRESULT> CRestorixDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_PAINT:
      OnPaint();
      return 0;
    case WM_ERASEBKGND:
      return TRUE;
    case WM_QUERYDRAGICON:
      return reinterpret_cast<LRESULT>(m_icon);
    case WM_NCHITTEST: {
      const LRESULT hit = DefWindowProcW(m_hwnd, message, wParam, lParam);
      POINT pt = {static_cast<short>(LOWORD(lParam)), static_cast<short>(HIWORD(lParam))};
      ScreenToClient(m_hwnd, &pt);
      return DragHitTest(static_cast<int>(hit), pt.x, pt.y, ClientSize(m_hwnd).cx);
    }
    case WM_SYSCOMMAND:
      if ((wParam & 0xFFF0) == IDM_ABOUTBOX) {
        CAboutDlg about;
        about.DoModal(m_hwnd);
        return 0;
      }
      return std::nullopt;
    case WM_SHOW_DEVICE_PAGE:
      ShowPage(kPageDevice);
      return 1;
    case WM_SHOW_RESULTS_PAGE:
      ShowPage(kPageResults);
      return 1;
    case WM_SHOW_PREVIEW_PAGE:
      ShowPage(kPagePreview);
      return 1;
    case WM_SHOW_SEARCH_PAGE:
      ShowPage(kPageSearch);
      return 1;
    case WM_RECOVER_PROGRESS: {
      const ProgressBarState s = ApplyRecoverProgress(wParam, lParam);
      SendMessageW(m_progress, PBM_SETPOS, static_cast<WPARAM>(s.position), 0);
      ShowWindow(m_progress, s.visible ? SW_SHOW : SW_HIDE);
      return 1;
    }
    default:
      return std::nullopt;
  }
}

bool CRestorixDlg::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_MINIMIZE:
      ShowWindow(m_hwnd, SW_MINIMIZE);
      return true;
    case IDC_CLOSE:
      ExitProcedure();
      return true;
    case IDC_TAB_DR:
    case IDC_TAB_FR:
    case IDC_TAB_VR:
      ChooseMode(*restorix::ModeOfTab(id));
      return true;
    default:
      return false;
  }
}

CDialogBase* CRestorixDlg::PageOf(uint8_t key) const {
  for (const PageEntry& e : m_pages)
    if (e.key == key) return e.window;
  return nullptr;
}

// The active tab stays drawn pressed; choosing another mode leaves the
// results of the last scan as the results page's back button does and
// shows the device page, which names the mode.
void CRestorixDlg::ChooseMode(restorix::ScanMode mode) {
  const bool changed = m_app && m_app->State().Mode() != mode;
  if (changed) {
    CDialogBase* results = PageOf(kPageResults);
    if (m_currentPage.key != kPageDevice && results && results->Hwnd())
      SendMessageW(results->Hwnd(), WM_COMMAND, MAKEWPARAM(IDC_BACK, BN_CLICKED),
                   reinterpret_cast<LPARAM>(GetDlgItem(results->Hwnd(), IDC_BACK)));
    m_app->State().SetMode(mode);
  }
  // Without the program's context there is only the deleted-file mode.
  const int activeTab = restorix::TabOfMode(m_app ? mode : restorix::ScanMode::Deleted);
  for (int id : {IDC_TAB_DR, IDC_TAB_FR, IDC_TAB_VR}) Button(id)->SetChecked(id == activeTab ? 1 : 0);
  if (!changed) return;
  if (auto* device = static_cast<CSelectDevice*>(PageOf(kPageDevice))) device->ShowMode();
  ShowPage(kPageDevice);
}

void CRestorixDlg::WaitForWorkers() {
  // Recovery threads may be inside a large file; they stop at their next
  // item. Workers only post to windows, so none of them waits on this one.
  m_app->Workers().JoinAll();
}

void CRestorixDlg::ExitProcedure() {
  if (m_app) {
    const wchar_t* question = m_app->State().Busy() ? restorix::ui::kAskExitBusy : restorix::ui::kAskExit;
    if (MessageBoxW(m_hwnd, question, kCaption, MB_OKCANCEL) != IDOK) return;
  }
  ShowWindow(m_hwnd, SW_HIDE);
  if (m_app) {
    m_app->Kernel().StopTask();
    m_app->State().RequestStop();
    WaitForWorkers();
  }
  EndDialog(IDOK);
}

void CRestorixDlg::OnDestroy() {
  if (m_backgroundBitmap) DeleteObject(m_backgroundBitmap);
  m_backgroundBitmap = nullptr;
  m_background.reset();
  // No worker may outlive the pages and the context it uses.
  if (m_app && m_app->Workers().Running() > 0) {
    m_app->Kernel().StopTask();
    m_app->State().RequestStop();
    WaitForWorkers();
  }
  for (PageEntry& e : m_pages) delete e.window;
  m_pages.clear();
  m_currentPage = PageEntry();
  if (m_app) m_app->Kernel().UnloadKernel();
  m_app.reset();
}
