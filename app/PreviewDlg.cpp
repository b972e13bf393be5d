#include "app/PreviewDlg.h"

#include <memory>
#include <vector>

#include "app/AppContext.h"
#include "app/core/UiText.h"
#include "app/core/PreviewText.h"
#include "app/core/WindowRules.h"
#include "app/resource.h"
#include "controls/GdiplusInclude.h"

namespace {
// The picture band leaves the buttons' row above it and the path below it.
constexpr int kPictureTop = 60;
constexpr int kPictureBottomGap = 80;

std::wstring ControlText(HWND control) {
  if (!control) return std::wstring();
  std::wstring text(static_cast<size_t>(GetWindowTextLengthW(control)) + 1, L'\0');
  text.resize(static_cast<size_t>(GetWindowTextW(control, text.data(), static_cast<int>(text.size()))));
  return text;
}

class FileHandle {
 public:
  explicit FileHandle(const std::wstring& path)
      : m_handle(CreateFileW(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr)) {}
  ~FileHandle() {
    if (Ok()) CloseHandle(m_handle);
  }
  FileHandle(const FileHandle&) = delete;
  FileHandle& operator=(const FileHandle&) = delete;
  bool Ok() const { return m_handle != INVALID_HANDLE_VALUE; }
  // Reads up to `size` bytes; the count read (short at the end of the file).
  DWORD Read(BYTE* into, DWORD size) {
    DWORD total = 0;
    while (total < size) {
      DWORD got = 0;
      if (!ReadFile(m_handle, into + total, size - total, &got, nullptr) || got == 0) break;
      total += got;
    }
    return total;
  }

 private:
  HANDLE m_handle;
};
}  // namespace

CPreviewDlg::CPreviewDlg() : CPageDialog(IDD_PREVIEW) {}

CPngButton& CPreviewDlg::Button(int id) {
  switch (id) {
    case IDC_TEXT_BUTTON: return m_textButton;
    case IDC_HEX_BUTTON: return m_hexButton;
    case IDC_PICTURE_BUTTON: return m_pictureButton;
    default: return m_back;
  }
}

BOOL CPreviewDlg::OnInitDialog() {
  if (m_hexView.Attach(m_hwnd, IDC_HEX_VIEW)) {
    m_hexView.SetBytesPerRow(16, false, true);
    m_hexView.SetAddressDigits(8, true);
    SendMessageW(m_hexView.Hwnd(), WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), TRUE);
    m_hexView.SetHexColors(RGB(255, 255, 255), RGB(0, 0, 255), true);
    m_hexView.SetAddressColors(RGB(255, 255, 255), RGB(0, 0, 0), true);
    m_hexView.SetShowAddress(true, true);
    m_hexView.SetShowAscii(true, true);
    m_hexView.SetAsciiColors(RGB(255, 255, 255), RGB(0, 0, 0), true);
  }
  SkinButton(m_back, m_hwnd, IDC_BACK, L"pre.png");
  SkinButton(m_textButton, m_hwnd, IDC_TEXT_BUTTON, L"txt.png");
  SkinButton(m_hexButton, m_hwnd, IDC_HEX_BUTTON, L"hex.png");
  SkinButton(m_pictureButton, m_hwnd, IDC_PICTURE_BUTTON, L"picture.png");
  SetDlgItemTextW(m_hwnd, IDC_NO_PREVIEW, restorix::ui::kNoPreview);
  return TRUE;  // the dialog manager picks the focus
}

void CPreviewDlg::ShowItem(int id, bool show) {
  if (HWND item = Item(id)) ShowWindow(item, show ? SW_SHOW : SW_HIDE);
}

void CPreviewDlg::MarkMode(int checkedId) {
  for (int id : {IDC_HEX_BUTTON, IDC_TEXT_BUTTON, IDC_PICTURE_BUTTON}) Button(id).SetChecked(id == checkedId ? 1 : 0);
}

std::optional<LRESULT> CPreviewDlg::OnMessage(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_SHOWWINDOW:
      OnShowWindow(wParam != FALSE);
      return std::nullopt;
    case WM_PAINT:
      if (!m_pictureMode) return std::nullopt;
      OnPaint();
      return 0;
    default:
      return CPageDialog::OnMessage(message, wParam, lParam);
  }
}

bool CPreviewDlg::OnCommand(int id, int code, HWND control) {
  if (code != BN_CLICKED) return false;
  switch (id) {
    case IDC_BACK:
      if (m_app) SendMessageW(m_app->Host(), WM_SHOW_RESULTS_PAGE, 0, 0);
      return true;
    case IDC_HEX_BUTTON:
      OnHexButton();
      return true;
    case IDC_TEXT_BUTTON:
      OnTextButton();
      return true;
    case IDC_PICTURE_BUTTON:
      OnPictureButton();
      return true;
    default:
      return false;
  }
}

void CPreviewDlg::OnShowWindow(bool shown) {
  ShowItem(IDC_NO_PREVIEW, false);
  m_pictureMode = 0;
  if (shown && m_app) {
    ShowItem(IDC_HEX_VIEW, true);
    const std::wstring path = m_app->State().PreviewFile();
    SetDlgItemTextW(m_hwnd, IDC_PREVIEW_PATH, path.c_str());
    if (!path.empty()) {
      FileHandle file(path);
      if (file.Ok()) {
        m_bufferCount = file.Read(m_buffer, sizeof m_buffer);
        m_hexView.SetData(m_buffer, m_bufferCount, true);
        // Data exchange from the controls: the text view's current content.
        m_text = ControlText(Item(IDC_TEXT_VIEW));
      }
    }
    MarkMode(IDC_HEX_BUTTON);
  }
  ShowItem(IDC_TEXT_VIEW, false);
}

void CPreviewDlg::OnHexButton() {
  m_pictureMode = 0;
  MarkMode(IDC_HEX_BUTTON);
  InvalidateRect(m_hwnd, nullptr, TRUE);
  ShowItem(IDC_NO_PREVIEW, false);
  ShowItem(IDC_HEX_VIEW, true);
  ShowItem(IDC_TEXT_VIEW, false);
}

void CPreviewDlg::OnTextButton() {
  m_pictureMode = 0;
  InvalidateRect(m_hwnd, nullptr, TRUE);
  MarkMode(IDC_TEXT_BUTTON);
  ShowItem(IDC_HEX_VIEW, false);
  ShowItem(IDC_TEXT_VIEW, true);
  ShowItem(IDC_NO_PREVIEW, false);
  if (!m_app) return;
  const std::wstring path = m_app->State().PreviewFile();
  if (path.empty()) return;
  m_text.clear();
  FileHandle file(path);
  if (!file.Ok()) return;  // the view keeps what it showed
  std::vector<BYTE> bytes;
  BYTE chunk[65536];
  for (;;) {
    const DWORD got = file.Read(chunk, sizeof chunk);
    bytes.insert(bytes.end(), chunk, chunk + got);
    if (got < sizeof chunk) break;
  }
  m_text = restorix::JoinedTextLines(bytes.data(), bytes.size());
  SetDlgItemTextW(m_hwnd, IDC_TEXT_VIEW, m_text.c_str());
}

void CPreviewDlg::OnPictureButton() {
  m_pictureMode = 1;
  MarkMode(IDC_PICTURE_BUTTON);
  ShowItem(IDC_NO_PREVIEW, false);
  InvalidateRect(m_hwnd, nullptr, FALSE);  // the next paint draws the picture
}

bool CPreviewDlg::DrawPicture(HDC dc, int width, int height, const std::wstring& path) {
  if (path.empty()) return false;
  auto image = std::make_unique<Gdiplus::Image>(path.c_str());
  if (image->GetLastStatus() != Gdiplus::Ok || image->GetWidth() == 0 || image->GetHeight() == 0) return false;
  const int bandHeight = height - kPictureTop;
  const int drawnHeight = height - kPictureTop - kPictureBottomGap;
  if (width <= 0 || bandHeight <= 0 || drawnHeight <= 0) return true;  // decoded; no room to show it
  HDC memory = CreateCompatibleDC(dc);
  HBITMAP bitmap = CreateCompatibleBitmap(dc, width, height);
  if (memory && bitmap) {
    HGDIOBJ old = SelectObject(memory, bitmap);
    {
      Gdiplus::Graphics graphics(memory);
      graphics.Clear(Gdiplus::Color(255, 255, 255, 255));
      graphics.SetSmoothingMode(Gdiplus::SmoothingModeAntiAlias);
      // Mirrored edges: scaling would otherwise blend the border pixels
      // with the empty space beyond them into a dark seam.
      Gdiplus::ImageAttributes edges;
      edges.SetWrapMode(Gdiplus::WrapModeTileFlipXY);
      graphics.DrawImage(image.get(), Gdiplus::Rect(0, 0, width, bandHeight), 0, 0,
                         static_cast<INT>(image->GetWidth()), static_cast<INT>(image->GetHeight()),
                         Gdiplus::UnitPixel, &edges);
    }
    SetStretchBltMode(dc, HALFTONE);
    StretchBlt(dc, 0, kPictureTop, width, drawnHeight, memory, 0, 0, width, bandHeight, SRCCOPY);
    SelectObject(memory, old);
  }
  if (bitmap) DeleteObject(bitmap);
  if (memory) DeleteDC(memory);
  return true;
}

void CPreviewDlg::OnPaint() {
  const std::wstring path = m_app ? m_app->State().PreviewFile() : std::wstring();
  // Hidden before painting begins, so that what they uncover is painted now.
  ShowItem(IDC_HEX_VIEW, false);
  ShowItem(IDC_TEXT_VIEW, false);
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  RECT client;
  GetClientRect(m_hwnd, &client);
  if (!DrawPicture(dc, client.right - client.left, client.bottom - client.top, path)) ShowItem(IDC_NO_PREVIEW, true);
  EndPaint(m_hwnd, &ps);
}
