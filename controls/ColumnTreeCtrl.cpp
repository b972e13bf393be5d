// The column tree: a header over a tree whose rows show one text per
// column; the tree inside is in ColumnTreeChild.cpp.
#include "controls/ColumnTreeCtrl.h"

#include <shlwapi.h>
#include <windowsx.h>

#include <algorithm>
#include <iterator>

#include "controls/ColumnTreeDraw.h"

using restorix::LabelPart;

using column_tree::Fill;
using column_tree::TextWidth;

namespace {
constexpr UINT_PTR kContainerSubclassId = 0x435443;  // "CTC"
constexpr int kHeaderId = 1;
constexpr int kTreeId = 2;
constexpr int kScrollId = 3;
constexpr int kFillerId = 4;

// Major version of the common-controls library in use; 0 when unknown.
DWORD CommonControlsMajorVersion() {
  HMODULE comctl = LoadLibraryW(L"comctl32.dll");
  if (!comctl) return 0;
  DWORD major = 0;
  auto getVersion = reinterpret_cast<DLLGETVERSIONPROC>(reinterpret_cast<void*>(GetProcAddress(comctl, "DllGetVersion")));
  DLLVERSIONINFO info = {};
  info.cbSize = sizeof info;
  if (getVersion && SUCCEEDED(getVersion(&info))) major = info.dwMajorVersion;
  FreeLibrary(comctl);
  return major;
}

void Place(HWND child, const restorix::ChildPlace& p) { MoveWindow(child, p.x, p.y, p.width, p.height, TRUE); }
}  // namespace

// ---------------------------------------------------------------- container

CColumnTreeCtrl::~CColumnTreeCtrl() {
  if (m_hwnd && IsWindow(m_hwnd))
    RemoveWindowSubclass(m_hwnd, &CColumnTreeCtrl::SubclassProc, kContainerSubclassId);
}

bool CColumnTreeCtrl::Attach(HWND dialog, int id) {
  HWND control = GetDlgItem(dialog, id);
  if (!control || m_hwnd) return false;
  if (!SetWindowSubclass(control, &CColumnTreeCtrl::SubclassProc, kContainerSubclassId, reinterpret_cast<DWORD_PTR>(this)))
    return false;
  m_hwnd = control;
  SetWindowLongPtrW(m_hwnd, GWL_STYLE, GetWindowLongPtrW(m_hwnd, GWL_STYLE) | WS_CLIPCHILDREN);
  Initialize();
  return true;
}

void CColumnTreeCtrl::Initialize() {
  if (m_tree.Hwnd() || !m_hwnd) return;
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  m_tree.Create(m_hwnd, kTreeId, WS_VISIBLE | TVS_NOHSCROLL | TVS_NOTOOLTIPS);
  m_header.Create(m_hwnd, kHeaderId, WS_VISIBLE | HDS_FULLDRAG | HDS_BUTTONS);
  m_headerFiller.Create(m_hwnd, kFillerId, 0);
  m_hScroll = CreateWindowExW(0, L"SCROLLBAR", L"", WS_CHILD | SBS_HORZ | SBS_BOTTOMALIGN, 0, 0, rc.right, rc.bottom,
                              m_hwnd, reinterpret_cast<HMENU>(static_cast<INT_PTR>(kScrollId)),
                              GetModuleHandleW(nullptr), nullptr);
  // The tree takes the dialog's font; both headers the tree's.
  if (HWND dialog = GetParent(m_hwnd)) {
    if (auto font = SendMessageW(dialog, WM_GETFONT, 0, 0)) SendMessageW(m_tree.Hwnd(), WM_SETFONT, font, FALSE);
  }
  const LRESULT treeFont = SendMessageW(m_tree.Hwnd(), WM_GETFONT, 0, 0);
  SendMessageW(m_header.Hwnd(), WM_SETFONT, treeFont, FALSE);
  SendMessageW(m_headerFiller.Hwnd(), WM_SETFONT, treeFont, FALSE);
  m_textIndent = CommonControlsMajorVersion() > 5 ? 9 : 6;
  QueryHeaderHeight();
  m_xOffset = 0;
  TreeView_SetBkColor(m_tree.Hwnd(), RGB(255, 255, 255));
  RefreshColumns();
}

void CColumnTreeCtrl::QueryHeaderHeight() {
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  WINDOWPOS wp = {};
  HDLAYOUT layout = {&rc, &wp};
  m_headerHeight = Header_Layout(m_header.Hwnd(), &layout) ? wp.cy : 0;
}

int CColumnTreeCtrl::ColumnCount() const { return m_header.Hwnd() ? Header_GetItemCount(m_header.Hwnd()) : 0; }

int CColumnTreeCtrl::InsertColumn(int index, const wchar_t* caption, int format, int width, int) {
  if (index < 0 || index >= restorix::kMaxTreeColumns || !m_header.Hwnd()) return -1;
  m_columnFormats[index] = format;
  const int align = format & (HDF_LEFT | HDF_RIGHT | HDF_CENTER);
  HDITEMW item = {};
  item.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
  item.fmt = align | HDF_STRING;
  item.cxy = width;
  item.pszText = const_cast<wchar_t*>(caption ? caption : L"");
  const int result = Header_InsertItem(m_header.Hwnd(), index, &item);
  if (Header_GetItemCount(m_header.Hwnd()) > 0) {
    HDITEMW filler = {};
    filler.mask = HDI_TEXT | HDI_WIDTH | HDI_FORMAT;
    filler.fmt = align | HDF_STRING;
    filler.cxy = GetSystemMetrics(SM_CXVSCROLL) + 5;
    filler.pszText = const_cast<wchar_t*>(L"");
    Header_InsertItem(m_headerFiller.Hwnd(), 0, &filler);
  }
  RefreshColumns();
  return result;
}

void CColumnTreeCtrl::SetItemText(HTREEITEM item, int column, const wchar_t* text) {
  if (!item) return;
  const std::wstring label =
      restorix::ComposeLabel(m_tree.GetItemText(item), ColumnCount(), column, text ? text : L"");
  TVITEMW tv = {};
  tv.mask = TVIF_TEXT | TVIF_HANDLE;
  tv.hItem = item;
  tv.pszText = const_cast<wchar_t*>(label.c_str());
  TreeView_SetItem(m_tree.Hwnd(), &tv);
}

void CColumnTreeCtrl::RefreshColumns() {
  m_totalWidth = 0;
  const int count = std::min(ColumnCount(), restorix::kMaxTreeColumns);
  for (int i = 0; i < count; ++i) {
    HDITEMW item = {};
    item.mask = HDI_WIDTH;
    Header_GetItem(m_header.Hwnd(), i, &item);
    m_columnWidths[i] = item.cxy;
    m_totalWidth += item.cxy;
    if (i == 0) m_tree.m_firstColumnWidth = item.cxy;
  }
  m_guard.BlockNext();
  RelayoutChildren();
}

bool CColumnTreeCtrl::TreeScrollsVertically() const {
  int low = 0, high = 0;
  if (!m_tree.Hwnd() || !GetScrollRange(m_tree.Hwnd(), SB_VERT, &low, &high)) return false;
  return low != high;
}

void CColumnTreeCtrl::RelayoutChildren() {
  if (!m_tree.Hwnd()) return;
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  restorix::ColumnTreeMetrics m;
  m.clientWidth = rc.right;
  m.clientHeight = rc.bottom;
  m.hScrollHeight = GetSystemMetrics(SM_CYHSCROLL);
  m.vScrollWidth = GetSystemMetrics(SM_CXVSCROLL);
  m.treeScrollsVertically = TreeScrollsVertically();
  m.totalWidth = m_totalWidth;
  m.headerHeight = m_headerHeight;
  const restorix::ColumnTreeLayout l = restorix::PlanColumnTreeLayout(m, m_xOffset);
  m_xOffset = l.xOffset;
  m_tree.m_xOffset = l.xOffset;

  SCROLLINFO si = {};
  si.cbSize = sizeof si;
  si.fMask = SIF_RANGE | SIF_PAGE | SIF_POS;
  si.nMin = 0;
  si.nMax = l.scrollMax;
  si.nPage = static_cast<UINT>(std::max(0, m.clientWidth));
  si.nPos = l.xOffset;
  SetScrollInfo(m_hScroll, SB_CTL, &si, TRUE);
  ShowWindow(m_hScroll, l.scrollShown ? SW_SHOW : SW_HIDE);
  Place(m_header.Hwnd(), l.header);
  Place(m_headerFiller.Hwnd(), l.filler);
  Place(m_tree.Hwnd(), l.tree);
  Place(m_hScroll, l.scroll);
  ShowWindow(m_headerFiller.Hwnd(), l.fillerShown ? SW_SHOW : SW_HIDE);
  RedrawWindow(m_hwnd, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_UPDATENOW | RDW_ALLCHILDREN);
}

void CColumnTreeCtrl::OnHScroll(int request, int thumb) {
  using restorix::ScrollRequest;
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  const int v = TreeScrollsVertically() ? GetSystemMetrics(SM_CXVSCROLL) : 0;
  const int total = m_totalWidth + v;
  ScrollRequest r = ScrollRequest::Other;
  switch (request) {
    case SB_LINELEFT: r = ScrollRequest::LineLeft; break;
    case SB_LINERIGHT: r = ScrollRequest::LineRight; break;
    case SB_PAGELEFT: r = ScrollRequest::PageLeft; break;
    case SB_PAGERIGHT: r = ScrollRequest::PageRight; break;
    case SB_THUMBTRACK: {
      r = ScrollRequest::ThumbTrack;
      SCROLLINFO si = {};
      si.cbSize = sizeof si;
      si.fMask = SIF_TRACKPOS;
      if (GetScrollInfo(m_hScroll, SB_CTL, &si)) thumb = si.nTrackPos;  // full 32 bits
      break;
    }
    case SB_LEFT: r = ScrollRequest::LeftEnd; break;
    case SB_RIGHT: r = ScrollRequest::RightEnd; break;
    default: break;
  }
  const int next = restorix::NextScrollOffset(r, m_xOffset, thumb, rc.right, total);
  if (next == m_xOffset) return;
  m_xOffset = next;
  m_tree.m_xOffset = next;
  RelayoutChildren();
}

void CColumnTreeCtrl::Paint() {
  PAINTSTRUCT ps;
  HDC dc = BeginPaint(m_hwnd, &ps);
  if (TreeScrollsVertically()) {
    RECT rc;
    GetClientRect(m_hwnd, &rc);
    const int vs = GetSystemMetrics(SM_CXVSCROLL);
    const int hs = GetSystemMetrics(SM_CYHSCROLL);
    RECT corner = {rc.right - vs, rc.bottom - hs, rc.right, rc.bottom};
    FillRect(dc, &corner, GetSysColorBrush(COLOR_BTNFACE));
  }
  EndPaint(m_hwnd, &ps);
}

bool CColumnTreeCtrl::OnNotify(NMHDR* header, LRESULT& result) {
  if (!header) return false;
  const UINT_PTR from = header->idFrom;
  if (from == kTreeId && header->code == NM_CUSTOMDRAW) {
    result = OnCustomDraw(reinterpret_cast<NMTVCUSTOMDRAW*>(header));
    return true;
  }
  if (from == kHeaderId && (header->code == HDN_ITEMCHANGINGW || header->code == HDN_ITEMCHANGINGA)) {
    auto* change = reinterpret_cast<NMHEADERW*>(header);
    std::optional<int> width;
    if (change->pitem && (change->pitem->mask & HDI_WIDTH)) width = change->pitem->cxy;
    result = m_guard.Allow(change->iItem, width) ? 0 : 1;
    return true;
  }
  if (from == kHeaderId && (header->code == HDN_ITEMCHANGEDW || header->code == HDN_ITEMCHANGEDA)) {
    RefreshColumns();
    InvalidateRect(m_tree.Hwnd(), nullptr, TRUE);
    result = 0;
    return true;
  }
  if (from == kTreeId && header->code == TVN_ITEMEXPANDEDW) RelayoutChildren();

  // Everything else reaches the page as if it came from this control.
  const HWND oldFrom = header->hwndFrom;
  const UINT_PTR oldId = header->idFrom;
  header->hwndFrom = m_hwnd;
  header->idFrom = static_cast<UINT_PTR>(GetDlgCtrlID(m_hwnd));
  result = SendMessageW(GetParent(m_hwnd), WM_NOTIFY, header->idFrom, reinterpret_cast<LPARAM>(header));
  header->hwndFrom = oldFrom;
  header->idFrom = oldId;
  return true;
}

LRESULT CColumnTreeCtrl::OnCustomDraw(NMTVCUSTOMDRAW* draw) {
  switch (draw->nmcd.dwDrawStage) {
    case CDDS_PREPAINT:
      return CDRF_NOTIFYITEMDRAW;
    case CDDS_ITEMPREPAINT:
      return CDRF_NOTIFYPOSTPAINT;
    case CDDS_ITEMPOSTPAINT:
      DrawItem(draw);
      return CDRF_DODEFAULT;
    default:
      return CDRF_DODEFAULT;
  }
}

void CColumnTreeCtrl::DrawItem(NMTVCUSTOMDRAW* draw) {
  const RECT full = draw->nmcd.rc;
  if (IsRectEmpty(&full)) return;
  HWND tree = m_tree.Hwnd();
  auto item = reinterpret_cast<HTREEITEM>(draw->nmcd.dwItemSpec);
  HDC dc = draw->nmcd.hdc;
  RECT text = {};
  if (!TreeView_GetItemRect(tree, item, &text, TRUE)) return;
  const LONG_PTR style = GetWindowLongPtrW(tree, GWL_STYLE);
  const bool fullRow = (style & TVS_FULLROWSELECT) != 0;
  const bool enabled = IsWindowEnabled(m_hwnd) != FALSE;
  const COLORREF fill = GetSysColor(enabled ? COLOR_WINDOW : COLOR_BTNFACE);
  const int columns = std::min(ColumnCount(), restorix::kMaxTreeColumns);

  // 1. Wipe the tree's own drawing of the raw tab-separated label.
  Fill(dc, text, fill);

  // 2. Column separators and the row's bottom line.
  int right = 0;
  for (int i = 0; i < columns; ++i) {
    right += m_columnWidths[i];
    RECT line = {right - 1, full.top, right, full.bottom};
    DrawEdge(dc, &line, BDR_SUNKENINNER, BF_RIGHT);
  }
  if (columns > 0) {
    RECT bottom = {full.left, full.top, right, full.bottom};
    DrawEdge(dc, &bottom, BDR_SUNKENINNER, BF_BOTTOM);
  }

  // 3. The first column's text extent.
  const std::wstring label = m_tree.GetItemText(item);
  const std::wstring first = LabelPart(label, 0).value_or(std::wstring());
  const int r0 = std::min(static_cast<int>(text.left) + TextWidth(dc, first) + 4, m_columnWidths[0] - 4);

  // 4. Highlight.
  if (r0 >= text.left && draw->clrTextBk != fill) {
    RECT mark = {text.left, text.top, r0, text.bottom};
    if (fullRow) mark.right = m_totalWidth - 1;
    Fill(dc, mark, draw->clrTextBk);
    if (draw->nmcd.uItemState & CDIS_FOCUS) DrawFocusRect(dc, &mark);
    if (draw->nmcd.uItemState & CDIS_SELECTED) {
      Fill(dc, mark, RGB(200, 200, 200));
      DrawFocusRect(dc, &mark);
    }
  }

  // 5. Hot-tracked items underline their text.
  HFONT normal = reinterpret_cast<HFONT>(SendMessageW(tree, WM_GETFONT, 0, 0));
  HFONT underlined = nullptr;
  HGDIOBJ oldFont = nullptr;
  if ((style & TVS_TRACKSELECT) && draw->nmcd.uItemState) {
    LOGFONTW lf = {};
    if (GetObjectW(normal ? normal : GetStockObject(DEFAULT_GUI_FONT), sizeof lf, &lf)) {
      lf.lfUnderline = TRUE;
      underlined = CreateFontIndirectW(&lf);
      if (underlined) oldFont = SelectObject(dc, underlined);
    }
  }

  // 6. Column 0.
  RECT cell0 = {text.left + 2, text.top + 1, r0 - 2, text.bottom - 1};
  SetTextColor(dc, draw->clrText);
  DrawTextW(dc, first.c_str(), static_cast<int>(first.size()), &cell0,
            DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);

  // 7. The other columns.
  SetBkMode(dc, TRANSPARENT);
  if (enabled && !fullRow) SetTextColor(dc, GetSysColor(COLOR_MENUTEXT));
  if (underlined && !fullRow) {
    SelectObject(dc, oldFont);
    oldFont = nullptr;
  }

  // 8.
  int left = 0;
  for (int i = 0; i < columns; ++i) {
    const int width = m_columnWidths[i];
    if (i >= 1) {
      if (std::optional<std::wstring> part = LabelPart(label, i)) {
        RECT cell = {left + m_textIndent + 1, text.top + 1, left + width - 3, text.bottom - 1};
        if (cell.left >= 0 && cell.right >= 0 && cell.right > cell.left) {
          UINT align = DT_LEFT;
          if (m_columnFormats[i] & HDF_RIGHT)
            align = DT_RIGHT;
          else if (m_columnFormats[i] & HDF_CENTER)
            align = DT_CENTER;
          DrawTextW(dc, part->c_str(), static_cast<int>(part->size()), &cell,
                    align | DT_SINGLELINE | DT_VCENTER | DT_NOPREFIX | DT_END_ELLIPSIS);
        }
      }
    }
    left += width;
  }
  if (oldFont) SelectObject(dc, oldFont);
  if (underlined) DeleteObject(underlined);
}

LRESULT CALLBACK CColumnTreeCtrl::SubclassProc(HWND hwnd, UINT message, WPARAM wParam, LPARAM lParam, UINT_PTR,
                                               DWORD_PTR self) noexcept {
  auto* control = reinterpret_cast<CColumnTreeCtrl*>(self);
  if (message == WM_NCDESTROY) {
    RemoveWindowSubclass(hwnd, &CColumnTreeCtrl::SubclassProc, kContainerSubclassId);
    if (control) control->m_hwnd = nullptr;
    return DefSubclassProc(hwnd, message, wParam, lParam);
  }
  try {
    if (control && control->m_hwnd == hwnd) return control->Handle(message, wParam, lParam);
  } catch (...) {
  }
  return DefSubclassProc(hwnd, message, wParam, lParam);
}

LRESULT CColumnTreeCtrl::Handle(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) return result;
      break;
    }
    case WM_SIZE:
      RelayoutChildren();
      break;
    case WM_HSCROLL:
      if (reinterpret_cast<HWND>(lParam) == m_hScroll) {
        OnHScroll(LOWORD(wParam), static_cast<short>(HIWORD(wParam)));
        return 0;
      }
      break;
    case WM_ENABLE:
      for (HWND child : {m_tree.Hwnd(), m_header.Hwnd(), m_headerFiller.Hwnd(), m_hScroll})
        if (child) EnableWindow(child, static_cast<BOOL>(wParam));
      break;
    case WM_SETTINGCHANGE:
      for (HWND child : {m_tree.Hwnd(), m_hScroll, m_header.Hwnd(), m_headerFiller.Hwnd()})
        if (child) SendMessageW(child, message, wParam, lParam);
      for (HWND header : {m_header.Hwnd(), m_headerFiller.Hwnd()})
        if (header) SendMessageW(header, WM_SETFONT, reinterpret_cast<WPARAM>(GetStockObject(DEFAULT_GUI_FONT)), TRUE);
      QueryHeaderHeight();
      RelayoutChildren();
      return 0;
    case WM_ERASEBKGND:
      return 0;
    case WM_PAINT:
      Paint();
      return 0;
    case WM_NCHITTEST:
      return HTCLIENT;  // a static control would let clicks through to the page
    default:
      break;
  }
  return DefSubclassProc(m_hwnd, message, wParam, lParam);
}
