#include "app/DialogBase.h"

#include <commctrl.h>

CDialogBase::~CDialogBase() {
  if (m_hwnd && IsWindow(m_hwnd)) {
    SetWindowLongPtrW(m_hwnd, DWLP_USER, 0);
    if (!m_modal) DestroyWindow(m_hwnd);
  }
}

INT_PTR CDialogBase::DoModal(HWND parent) {
  m_modal = true;
  INT_PTR r = DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                              &CDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
  m_hwnd = nullptr;
  return r;
}

HWND CDialogBase::Create(HWND parent) {
  m_modal = false;
  return CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(m_templateId), parent,
                            &CDialogBase::DialogProc, reinterpret_cast<LPARAM>(this));
}

void CDialogBase::EndDialog(INT_PTR result) {
  if (m_hwnd) ::EndDialog(m_hwnd, result);
}

void CDialogBase::OnOK() { EndDialog(IDOK); }
void CDialogBase::OnCancel() { EndDialog(IDCANCEL); }

void CDialogBase::PaintBackground(HDC dc) {
  RECT rc;
  GetClientRect(m_hwnd, &rc);
  HBRUSH brush = reinterpret_cast<HBRUSH>(SendMessageW(m_hwnd, WM_CTLCOLORDLG,
                                                       reinterpret_cast<WPARAM>(dc),
                                                       reinterpret_cast<LPARAM>(m_hwnd)));
  FillRect(dc, &rc, brush ? brush : GetSysColorBrush(COLOR_3DFACE));
}

INT_PTR CALLBACK CDialogBase::DialogProc(HWND hwnd, UINT message, WPARAM wParam,
                                         LPARAM lParam) noexcept {
  try {
    CDialogBase* self = nullptr;
    if (message == WM_INITDIALOG) {
      self = reinterpret_cast<CDialogBase*>(lParam);
      if (!self) return FALSE;
      self->m_hwnd = hwnd;
      SetWindowLongPtrW(hwnd, DWLP_USER, reinterpret_cast<LONG_PTR>(self));
    } else {
      self = reinterpret_cast<CDialogBase*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    INT_PTR r = self->Dispatch(message, wParam, lParam);
    if (message == WM_NCDESTROY) {
      SetWindowLongPtrW(hwnd, DWLP_USER, 0);
      self->m_hwnd = nullptr;
    }
    return r;
  } catch (...) {
    return FALSE;  // default processing
  }
}

namespace {
// Messages whose dialog-procedure result is the answer itself rather than
// TRUE plus DWLP_MSGRESULT.
bool ReturnsValueDirectly(UINT message) {
  switch (message) {
    case WM_CTLCOLORMSGBOX:
    case WM_CTLCOLOREDIT:
    case WM_CTLCOLORLISTBOX:
    case WM_CTLCOLORBTN:
    case WM_CTLCOLORDLG:
    case WM_CTLCOLORSCROLLBAR:
    case WM_CTLCOLORSTATIC:
    case WM_COMPAREITEM:
    case WM_VKEYTOITEM:
    case WM_CHARTOITEM:
    case WM_QUERYDRAGICON:
    case WM_INITDIALOG:
      return true;
    default:
      return false;
  }
}
}  // namespace

INT_PTR CDialogBase::Dispatch(UINT message, WPARAM wParam, LPARAM lParam) {
  switch (message) {
    case WM_INITDIALOG:
      return OnInitDialog();
    case WM_COMMAND: {
      const int id = LOWORD(wParam);
      const int code = HIWORD(wParam);
      HWND control = reinterpret_cast<HWND>(lParam);
      if (OnCommand(id, code, control)) return TRUE;
      if (id == IDOK && (code == BN_CLICKED || control == nullptr)) {
        OnOK();
        return TRUE;
      }
      if (id == IDCANCEL && (code == BN_CLICKED || control == nullptr)) {
        OnCancel();
        return TRUE;
      }
      return FALSE;
    }
    case WM_NOTIFY: {
      LRESULT result = 0;
      if (OnNotify(reinterpret_cast<NMHDR*>(lParam), result)) {
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, result);
        return TRUE;
      }
      break;
    }
    case WM_TIMER:
      OnTimer(wParam);
      return TRUE;
    case WM_DRAWITEM: {
      auto* dis = reinterpret_cast<DRAWITEMSTRUCT*>(lParam);
      if (dis && dis->CtlType == ODT_BUTTON && dis->hwndItem &&
          SendMessageW(dis->hwndItem, kReflectedDrawItem, 0, lParam)) {
        SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, TRUE);
        return TRUE;
      }
      break;
    }
    case WM_PRINTCLIENT:
      PaintBackground(reinterpret_cast<HDC>(wParam));
      return TRUE;
    case WM_DESTROY:
      OnDestroy();
      break;
    default:
      break;
  }
  std::optional<LRESULT> r = OnMessage(message, wParam, lParam);
  if (!r) return FALSE;
  if (ReturnsValueDirectly(message)) return static_cast<INT_PTR>(*r);
  SetWindowLongPtrW(m_hwnd, DWLP_MSGRESULT, *r);
  return TRUE;
}
