// The hex view as a real window: its classes, taking over an edit control as
// the preview page does, drawing, typing, Shift selection, both clipboard
// forms, paste of an over-long block, wheel and scroll bar, context menu.
// Runs on the main thread before the main window, pumping its own messages.
#include <windows.h>

#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "controls/HexEditBase.h"
#include "tests/app/gui/GuiHarness.h"

namespace guitest {
namespace {

constexpr int kHexId = 1017;
int g_changes = 0;

LRESULT CALLBACK HostProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) {
  if (message == WM_COMMAND && LOWORD(wParam) == kHexId && HIWORD(wParam) == EN_CHANGE) ++g_changes;
  return DefWindowProcW(hwnd, message, wParam, lParam);
}

void Pump() {
  MSG msg;
  while (PeekMessageW(&msg, nullptr, 0, 0, PM_REMOVE)) {
    TranslateMessage(&msg);
    DispatchMessageW(&msg);
  }
}

void SetKey(int key, bool down) {
  BYTE state[256];
  GetKeyboardState(state);
  state[key] = down ? 0x80 : 0;
  SetKeyboardState(state);
}

void Key(HWND hwnd, UINT key, int modifier = 0) {
  if (modifier) SetKey(modifier, true);
  SendMessageW(hwnd, WM_KEYDOWN, key, 1);
  if (modifier) SetKey(modifier, false);
}

LPARAM At(int x, int y) { return MAKELPARAM(x, y); }

// Just inside a byte's digit (a click rounds to the nearest cell edge).
POINT DigitPoint(const CHexEditBase& hex, uint32_t pos, bool high) {
  const restorix::HexEditModel& m = hex.Model();
  const int column = static_cast<int>(pos % m.m_bytesPerRow);
  return POINT{m.ScreenX(m.m_hexX) + m.m_charWidth * (3 * column + (high ? 0 : 1)) + 1,
               m.RowTop(pos / m.m_bytesPerRow) + m.m_lineHeight / 2};
}

void Click(HWND hwnd, POINT p) {
  SendMessageW(hwnd, WM_LBUTTONDOWN, MK_LBUTTON, At(p.x, p.y));
  SendMessageW(hwnd, WM_LBUTTONUP, 0, At(p.x, p.y));
}

COLORREF PrintedPixel(HWND hwnd, int x, int y) {
  RECT rc;
  GetClientRect(hwnd, &rc);
  HDC screen = GetDC(nullptr);
  HDC memory = CreateCompatibleDC(screen);
  HBITMAP bitmap = CreateCompatibleBitmap(screen, rc.right, rc.bottom);
  HGDIOBJ old = SelectObject(memory, bitmap);
  SendMessageW(hwnd, WM_PRINTCLIENT, reinterpret_cast<WPARAM>(memory), PRF_CLIENT);
  const COLORREF c = GetPixel(memory, x, y);
  SelectObject(memory, old);
  DeleteObject(bitmap);
  DeleteDC(memory);
  ReleaseDC(nullptr, screen);
  return c;
}

std::vector<uint8_t> ClipboardBytes(UINT format) {
  std::vector<uint8_t> bytes;
  if (!OpenClipboard(nullptr)) return bytes;
  if (HANDLE h = GetClipboardData(format)) {
    if (const auto* p = static_cast<const uint8_t*>(GlobalLock(h))) {
      bytes.assign(p, p + GlobalSize(h));
      GlobalUnlock(h);
    }
  }
  CloseClipboard();
  return bytes;
}

bool PutBinaryBlock(const std::vector<uint8_t>& block) {
  HGLOBAL h = GlobalAlloc(GMEM_MOVEABLE, block.size());
  if (!h) return false;
  std::memcpy(GlobalLock(h), block.data(), block.size());
  GlobalUnlock(h);
  if (!OpenClipboard(nullptr)) {
    GlobalFree(h);
    return false;
  }
  EmptyClipboard();
  const bool ok = SetClipboardData(CHexEditBase::BinaryDataFormat(), h) != nullptr;
  if (!ok) GlobalFree(h);
  CloseClipboard();
  return ok;
}

// Records the pop-up menu it is shown; a timer closes the menu again.
struct MenuProbe : CHexEditBase {
  std::vector<std::wstring> captions;
  std::vector<UINT> ids, states;
  void ExtendContextMenu(HMENU menu) override {
    for (int i = 0; i < GetMenuItemCount(menu); ++i) {
      wchar_t text[64] = {};
      GetMenuStringW(menu, static_cast<UINT>(i), text, 64, MF_BYPOSITION);
      captions.push_back(text);
      ids.push_back(GetMenuItemID(menu, i));
      states.push_back(GetMenuState(menu, static_cast<UINT>(i), MF_BYPOSITION));
    }
    SetTimer(nullptr, 0, 50, [](HWND, UINT, UINT_PTR id, DWORD) {
      KillTimer(nullptr, id);
      EndMenu();
    });
  }
};

}  // namespace

void TestHexView() {
  std::printf("# hex view\n");
  HINSTANCE instance = GetModuleHandleW(nullptr);
  CHECK(CHexEditBase::RegisterClasses());
  WNDCLASSEXW wc = {};
  wc.cbSize = sizeof wc;
  CHECK_MSG(GetClassInfoExW(instance, L"CHexEditBase", &wc) && (wc.style & CS_DBLCLKS) &&
                (wc.style & (CS_HREDRAW | CS_VREDRAW)) == (CS_HREDRAW | CS_VREDRAW),
            "class CHexEditBase is registered with double clicks and redraw on resize");
  CHECK_MSG(GetClassInfoExW(instance, L"CHexEditBase_SC", &wc), "class CHexEditBase_SC is registered");
  CHECK(CHexEditBase::BinaryDataFormat() != 0 &&
        CHexEditBase::BinaryDataFormat() == RegisterClipboardFormatW(L"BinaryData"));

  WNDCLASSEXW host = {};
  host.cbSize = sizeof host;
  host.lpfnWndProc = HostProc;
  host.hInstance = instance;
  host.lpszClassName = L"HexViewTestHost";
  RegisterClassExW(&host);
  HWND parent = CreateWindowExW(0, L"HexViewTestHost", L"hex", WS_POPUP | WS_VISIBLE, 0, 0, 640, 360, nullptr,
                                nullptr, instance, nullptr);
  HWND edit = CreateWindowExW(0, L"EDIT", L"", WS_CHILD | WS_VISIBLE | ES_MULTILINE | ES_AUTOHSCROLL | WS_BORDER, 10,
                              10, 600, 300, parent, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kHexId)), instance,
                              nullptr);
  CHECK(parent && edit);
  {
    MenuProbe hex;
    CHECK_MSG(hex.Attach(parent, kHexId) && CHexEditBase::FromHandle(edit) == &hex, "the edit control is taken over");
    CHECK_MSG(!CHexEditBase().Attach(parent, kHexId), "a control is taken over only once");
    CHECK(SendMessageW(edit, WM_GETDLGCODE, 0, 0) == DLGC_WANTALLKEYS);

    // The preview page's configuration.
    hex.SetBytesPerRow(16, false, true);
    hex.SetAddressDigits(8, true);
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(SYSTEM_FIXED_FONT)), TRUE);
    HFONT fixed = hex.GetFont();
    CHECK_MSG(fixed && fixed != GetStockObject(ANSI_FIXED_FONT) && fixed != GetStockObject(SYSTEM_FIXED_FONT) &&
                  reinterpret_cast<HFONT>(SendMessageW(edit, WM_GETFONT, 0, 0)) == fixed,
              "a fixed-pitch font is taken as the control's own copy");
    HFONT proportional = CreateFontW(16, 0, 0, 0, FW_NORMAL, 0, 0, 0, DEFAULT_CHARSET, 0, 0, 0,
                                     VARIABLE_PITCH | FF_SWISS, L"Arial");
    SendMessageW(edit, WM_SETFONT, reinterpret_cast<WPARAM>(proportional), TRUE);
    CHECK_MSG(hex.GetFont() == fixed, "a proportional font is ignored");
    DeleteObject(proportional);
    const COLORREF hexBack = RGB(180, 210, 190), addressBack = RGB(90, 0, 0), asciiBack = RGB(0, 20, 0);
    hex.SetHexColors(hexBack, RGB(0, 0, 255), true);
    hex.SetAddressColors(addressBack, RGB(255, 0, 0), true);
    hex.SetShowAddress(true, true);
    hex.SetShowAscii(true, true);
    hex.SetAsciiColors(asciiBack, RGB(0, 255, 0), true);

    // Empty: only the background, and keys do nothing.
    CHECK(PrintedPixel(edit, 20, 200) == RGB(255, 255, 255));
    SendMessageW(edit, WM_CHAR, '4', 0);
    CHECK(g_changes == 0 && hex.GetDataSize() == 0);

    std::vector<uint8_t> bytes(100);
    for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i);
    hex.SetData(bytes.data(), 100, true);
    Pump();
    const restorix::HexEditModel& m = hex.Model();
    CHECK_MSG(m.m_bytesPerRow == 16 && m.DataRows() == 7 && m.AddressText(2) == "00000020",
              "100 bytes: seven rows of 16, the third at address 00000020");
    // Below the last row each column shows its own background.
    const int y = m.m_textRect.bottom - 2;
    CHECK_MSG(PrintedPixel(edit, m.ScreenX(m.m_addressX) + 2, y) == addressBack, "address column colour");
    CHECK_MSG(PrintedPixel(edit, m.ScreenX(m.m_hexX) + 2, y) == hexBack, "hex column colour");
    CHECK_MSG(PrintedPixel(edit, m.ScreenX(m.m_asciiX) + 2, y) == asciiBack, "character column colour");
    CHECK_MSG(PrintedPixel(edit, 1, 1) == RGB(255, 255, 255), "margin in the window colour");

    // Typing "4" "1" on byte 0 writes 0x41 and tells the parent twice.
    SetForegroundWindow(parent);
    SetFocus(edit);
    CHECK(GetFocus() == edit);
    SendMessageW(edit, WM_CHAR, '4', 0);
    SendMessageW(edit, WM_CHAR, '1', 0);
    CHECK_MSG(hex.GetData()[0] == 0x41 && hex.GetCaretPos() == 1 && hex.IsCaretHigh() && g_changes == 2,
              "typing 4 then 1 gives 0x41, the caret on byte 1, two change notifications");
    CHECK(m.AsciiRowText(0)[0] == 'A');
    POINT caret = {};
    CHECK_MSG(GetCaretPos(&caret) && caret.x == m.CaretBox(true).x && caret.y == m.CaretBox(true).y,
              "the caret block stands on byte 1's high digit");

    // A click on byte 3, then Shift+Right four times: bytes 3 to 5.
    Click(edit, DigitPoint(hex, 3, true));
    CHECK(hex.GetCaretPos() == 3 && hex.IsCaretHigh() && !hex.HasSelection());
    for (int i = 0; i < 4; ++i) Key(edit, VK_RIGHT, VK_SHIFT);
    UINT first = 0, last = 0;
    hex.GetSel(first, last);
    CHECK_MSG(first == 3 && last == 5 && hex.GetCaretPos() == 5, "Shift+Right x4 from byte 3 selects 3 to 5");
    const POINT selected = DigitPoint(hex, 4, true);
    CHECK_MSG(PrintedPixel(edit, selected.x - m.m_charWidth, m.RowTop(0) + m.m_lineHeight - 2) ==
                  GetSysColor(COLOR_HIGHLIGHT),
              "the focused selection is drawn in the highlight colour");

    // Ctrl+C: both clipboard forms.
    Key(edit, 'C', VK_CONTROL);
    const std::vector<uint8_t> text = ClipboardBytes(CF_TEXT);
    CHECK_MSG(std::string(reinterpret_cast<const char*>(text.data()), strnlen(reinterpret_cast<const char*>(text.data()), text.size())) ==
                  "03 04 05\n",
              "the text form is 03 04 05 and a line feed");
    const std::vector<uint8_t> block = ClipboardBytes(CHexEditBase::BinaryDataFormat());
    CHECK_MSG(block.size() >= 7 && std::vector<uint8_t>(block.begin(), block.begin() + 7) ==
                                       (std::vector<uint8_t>{3, 0, 0, 0, 3, 4, 5}),
              "the BinaryData block is the count 3 and the bytes");

    // A block claiming 1000 bytes but holding 3, pasted 2 bytes before the
    // end: only what fits and what is there is written.
    CHECK(PutBinaryBlock({0xE8, 0x03, 0x00, 0x00, 0xAA, 0xBB, 0xCC}));
    Click(edit, DigitPoint(hex, 98, true));
    Key(edit, 'V', VK_CONTROL);
    hex.GetSel(first, last);
    CHECK_MSG(hex.GetData()[97] == 97 && hex.GetData()[98] == 0xAA && hex.GetData()[99] == 0xBB && first == 98 &&
                  last == 99 && g_changes == 3,
              "paste of an over-long block writes 2 bytes at the end");
    hex.SetReadOnly(true, true);
    Click(edit, DigitPoint(hex, 0, true));
    Key(edit, 'V', VK_CONTROL);
    SendMessageW(edit, WM_CHAR, '7', 0);
    CHECK_MSG(hex.GetData()[0] == 0x41 && g_changes == 3, "read-only: no paste, no typing");
    hex.SetReadOnly(false, true);

    SendMessageW(edit, WM_COMMAND, CHexEditBase::kCmdSelectAll, 0);
    hex.GetSel(first, last);
    CHECK(first == 0 && last == 99);

    // The menu at the keyboard's point: Copy enabled with a selection,
    // Paste enabled with a block on the clipboard.
    SendMessageW(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), -1);
    Pump();
    CHECK_MSG(hex.captions.size() == 2 && hex.captions[0] == L"Copy" && hex.captions[1] == L"Paste" &&
                  hex.ids[0] == CHexEditBase::kCmdCopy && hex.ids[1] == CHexEditBase::kCmdPaste &&
                  !(hex.states[0] & MF_GRAYED) && !(hex.states[1] & MF_GRAYED),
              "the context menu holds Copy and Paste");
    hex.captions.clear();
    hex.states.clear();
    hex.ids.clear();
    hex.SetReadOnly(true, false);
    hex.SetSel(restorix::kHexNone, restorix::kHexNone, false, false);
    SendMessageW(edit, WM_CONTEXTMENU, reinterpret_cast<WPARAM>(edit), -1);
    Pump();
    CHECK_MSG(hex.states.size() == 2 && (hex.states[0] & MF_GRAYED) && (hex.states[1] & MF_GRAYED),
              "without a selection and read-only both items are greyed");
    hex.SetReadOnly(false, false);

    // 8 KiB: a vertical bar over 512 rows; the wheel moves a row a notch.
    std::vector<uint8_t> big(8192, 0x5A);
    hex.SetData(big.data(), static_cast<UINT>(big.size()), true);
    Pump();
    SCROLLINFO info = {};
    info.cbSize = sizeof info;
    info.fMask = SIF_ALL;
    CHECK_MSG((GetWindowLongPtrW(edit, GWL_STYLE) & WS_VSCROLL) && GetScrollInfo(edit, SB_VERT, &info) &&
                  info.nMax == 511 && static_cast<int>(info.nPage) == m.m_fullRows && info.nPos == 0,
              "the vertical bar spans the 512 rows with a page of the full rows");
    SendMessageW(edit, WM_MOUSEWHEEL, MAKEWPARAM(0, static_cast<WORD>(-240)), 0);
    CHECK(hex.GetTopLine() == 2);
    SendMessageW(edit, WM_MOUSEWHEEL, MAKEWPARAM(0, 120), 0);
    SendMessageW(edit, WM_MOUSEWHEEL, MAKEWPARAM(0, 60), 0);
    CHECK_MSG(hex.GetTopLine() == 1 && GetScrollPos(edit, SB_VERT) == 1, "a +120 notch scrolls up a row, 60 nothing");
    SendMessageW(edit, WM_VSCROLL, SB_PAGEDOWN, 0);
    CHECK(hex.GetTopLine() == 1 + static_cast<UINT>(m.m_fullRows));

    // Dragging: nothing within the platform's drag distance; below the
    // text area the timer scrolls until the button is released.
    SendMessageW(edit, WM_MOUSEWHEEL, MAKEWPARAM(0, 120 * 100), 0);
    CHECK(hex.GetTopLine() == 0);
    const POINT press = DigitPoint(hex, 3 * 16, true);
    SendMessageW(edit, WM_LBUTTONDOWN, MK_LBUTTON, At(press.x, press.y));
    SendMessageW(edit, WM_MOUSEMOVE, MK_LBUTTON, At(press.x + GetSystemMetrics(SM_CXDRAG) / 2 - 1, press.y));
    CHECK_MSG(!hex.HasSelection(), "a move inside the drag distance selects nothing");
    SendMessageW(edit, WM_MOUSEMOVE, MK_LBUTTON, At(press.x, m.m_textRect.bottom + 40));
    CHECK(hex.HasSelection());
    CHECK_MSG(WaitUntil([&] {
                Pump();
                return hex.GetTopLine() >= 3;
              }, 10000),
              "the auto-scroll timer scrolls down while the pointer is below");
    SendMessageW(edit, WM_LBUTTONUP, 0, At(press.x, m.m_textRect.bottom + 40));
    const UINT stoppedAt = hex.GetTopLine();
    Sleep(100);
    Pump();
    hex.GetSel(first, last);
    // The selection's end follows the pointer on each tick; how far the last
    // tick got before the release depends on the timer, so only its start
    // and that it reaches past the first screen are fixed.
    CHECK_MSG(hex.GetTopLine() == stoppedAt && first == 3 * 16 && last >= static_cast<UINT>(m.m_fullRows) * 16,
              "release stops it; the selection runs from the press down past the first screen");
    SetFocus(nullptr);
  }
  CHECK_MSG(!IsWindow(edit), "the control's window goes with it");

  // A control made by class name owns itself and goes with its window.
  HWND own = CreateWindowExW(0, L"CHexEditBase_SC", L"", WS_CHILD | ES_MULTILINE, 0, 0, 200, 100, parent, nullptr,
                             instance, nullptr);
  CHexEditBase* self = CHexEditBase::FromHandle(own);
  CHECK_MSG(own && self && self->Hwnd() == own && self->GetDataSize() == 0, "CHexEditBase_SC makes its own object");
  DestroyWindow(own);
  CHECK(CHexEditBase::FromHandle(own) == nullptr);
  // Made by name without ES_MULTILINE: one row of every byte, no bars.
  {
    CHexEditBase line;
    CHECK(line.Create(parent, 77, WS_VISIBLE, RECT{0, 0, 300, 24}));
    const BYTE five[5] = {1, 2, 3, 4, 5};
    line.SetData(five, 5, true);
    Pump();
    CHECK_MSG(ClassOf(line.Hwnd()) == L"CHexEditBase" && line.GetBytesPerRow() == 5 &&
                  !(GetWindowLongPtrW(line.Hwnd(), GWL_STYLE) & (WS_VSCROLL | WS_HSCROLL)),
              "a single-line control shows all bytes on one row without scroll bars");
  }
  DestroyWindow(parent);
  Pump();
}

}  // namespace guitest
