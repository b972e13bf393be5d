// Messages a dialog sends to the controls it hosts.
#pragma once

#include <windows.h>

// Sent by a dialog to an owner-drawn control with the DRAWITEMSTRUCT of a
// WM_DRAWITEM, so the control draws itself. TRUE when it did.
constexpr UINT kReflectedDrawItem = WM_APP + 0x2B;
