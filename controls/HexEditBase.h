// CHexEditBase: a self-drawn hex dump (address, hex and character columns)
// with a nibble caret, mouse and keyboard selection, nibble overwriting and
// clipboard copy and paste. It keeps its own copy of the bytes; edits only
// change that copy and are announced to the parent with EN_CHANGE.
//
// The window either comes from one of the two registered classes
// ("CHexEditBase" for explicit creation by name, "CHexEditBase_SC" for a
// control that owns itself, e.g. from a dialog template) or is an existing
// child control taken over with Attach/AttachWindow. The style bit
// ES_MULTILINE selects multi-line mode. All arithmetic lives in
// restorix::HexEditModel.
#pragma once

#include <windows.h>

#include <cstdint>

#include "controls/model/HexEditModel.h"

class CHexEditBase {
 public:
  // Registers the window classes and the "BinaryData" clipboard format
  // (once per process) and reads the system colours.
  CHexEditBase();
  // Frees the font and destroys the window if it still exists.
  virtual ~CHexEditBase();
  CHexEditBase(const CHexEditBase&) = delete;
  CHexEditBase& operator=(const CHexEditBase&) = delete;

  // Registers "CHexEditBase" and "CHexEditBase_SC"; the constructor calls it.
  static bool RegisterClasses();
  // The registered clipboard format "BinaryData".
  static UINT BinaryDataFormat();
  // The control bound to a window, or null.
  static CHexEditBase* FromHandle(HWND hwnd);

  // Takes over the dialog's child control `id` (the preview page's edit 1017).
  bool Attach(HWND dialog, int id);
  // Takes over an existing window; false when it is null or already bound.
  bool AttachWindow(HWND hwnd);
  // Creates a child window of class "CHexEditBase" and binds it.
  bool Create(HWND parent, int id, DWORD style, const RECT& rect, DWORD exStyle = 0);
  HWND Hwnd() const { return m_hwnd; }
  operator HWND() const { return m_hwnd; }

  // Virtual operations, in this order.
  virtual void SetReadOnly(bool readOnly, bool repaint = true);
  // Called with the pop-up menu just before it opens; nothing here.
  virtual void ExtendContextMenu(HMENU menu);

  // Configuration. Every setter invalidates the window when `repaint` is set.
  void SetData(const BYTE* data, UINT size, bool repaint = true);
  void SetBytesPerRow(UINT count, bool automatic, bool repaint = true);
  void SetAddressDigits(BYTE digits, bool repaint = true);
  void SetShowAddress(bool show, bool repaint = true);
  void SetShowAscii(bool show, bool repaint = true);
  void SetAddressColors(COLORREF background, COLORREF text, bool repaint = true);
  void SetHexColors(COLORREF background, COLORREF text, bool repaint = true);
  void SetAsciiColors(COLORREF background, COLORREF text, bool repaint = true);
  // Ends at or past the data are pulled back to the last byte; 0xFFFFFFFF
  // (restorix::kHexNone) for either end means no selection.
  void SetSel(UINT first, UINT last, bool makeVisible = true, bool repaint = true);
  // The font is set with WM_SETFONT (fixed-pitch fonts only) and read with
  // WM_GETFONT.

  // Commands (also ID_EDIT_COPY / ID_EDIT_PASTE / ID_EDIT_SELECT_ALL and
  // Ctrl+C / Ctrl+V / Ctrl+A).
  void SelectAll();
  void Copy();
  void Paste();

  // Queries.
  const BYTE* GetData() const { return m_model.Data(); }
  UINT GetDataSize() const { return m_model.DataSize(); }
  bool IsReadOnly() const { return m_model.m_readOnly != 0; }
  bool HasSelection() const { return m_model.HasSelection(); }
  // Both kHexNone without a selection.
  void GetSel(UINT& first, UINT& last) const { first = m_model.m_selBegin; last = m_model.m_selEnd; }
  UINT GetCaretPos() const { return m_model.m_caretPos; }
  bool IsCaretHigh() const { return m_model.m_caretHigh; }
  UINT GetTopLine() const { return m_model.m_topLine; }
  UINT GetBytesPerRow() const { return m_model.m_bytesPerRow; }
  HFONT GetFont() const { return m_font; }
  // The arithmetic behind the window (layout, caret, selection), read-only.
  const restorix::HexEditModel& Model() const { return m_model; }

  // The control's own private message: the scroll bars follow the layout.
  static constexpr UINT kUpdateScrollBarsMessage = 0x5400;
  static constexpr UINT_PTR kAutoScrollTimer = 1024;
  static constexpr UINT kCmdCopy = 57634;
  static constexpr UINT kCmdPaste = 57637;
  static constexpr UINT kCmdSelectAll = 57642;

 private:
  static LRESULT CALLBACK SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR id,
                                       DWORD_PTR self) noexcept;
  static LRESULT CALLBACK SelfOwningProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam) noexcept;
  LRESULT Handle(UINT message, WPARAM wParam, LPARAM lParam);
  void PostNcDestroy();

  bool IsMultiLine() const;
  bool HasFocus() const;
  void Invalidate();
  void EnsureLayout();
  void RecalcLayout();
  void UpdateScrollBars();
  void PlaceCaret(uint32_t pos, bool high);
  void ReplaceCaret() { PlaceCaret(m_model.m_caretPos, m_model.m_caretHigh); }
  void RemoveCaret();
  void AfterLayoutChange(bool repaint);
  void SetTopLine(int64_t line, bool repaint = true);
  void SetScrollX(int64_t x);
  void SyncScrollPositions();
  void NotifyChange();
  void StopAutoScroll();

  void OnKeyDown(UINT key);
  void OnChar(UINT code);
  void OnLButtonDown(POINT point);
  void OnMouseMove(POINT point, WPARAM keys);
  void OnLButtonUp();
  void OnLButtonDblClk(POINT point);
  void OnMouseWheel(int delta);
  void OnTimer(UINT_PTR id);
  void OnVScroll(int request);
  void OnHScroll(int request, int thumb);
  void OnContextMenu(HWND window, LPARAM screenPoint);
  bool OnCommand(UINT id);
  void OnSetFont(HFONT font, bool redraw);
  void OnPaint();
  void Draw(HDC dc, const RECT& client);

  bool m_autoDelete = false;
  HWND m_hwnd = nullptr;
  restorix::HexEditModel m_model;

  bool m_caretShown = false;
  bool m_scrollBarsPending = false;

  COLORREF m_addressBack = RGB(90, 0, 0);
  COLORREF m_addressText = RGB(255, 0, 0);
  COLORREF m_asciiBack = RGB(0, 20, 0);
  COLORREF m_asciiText = RGB(0, 255, 0);
  COLORREF m_hexText = RGB(0, 0, 255);
  COLORREF m_hexBack = RGB(180, 210, 190);
  COLORREF m_windowBack = RGB(255, 255, 255);
  COLORREF m_windowText = 0;
  COLORREF m_buttonFace = 0;
  COLORREF m_highlightText = 0;
  COLORREF m_highlight = 0;

  const wchar_t* m_copyCaption = L"Copy";
  const wchar_t* m_pasteCaption = L"Paste";

  HFONT m_font = nullptr;
  bool m_ownsFont = false;
};
