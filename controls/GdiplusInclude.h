// GDI+ with NOMINMAX: its headers expect min and max in their namespace.
#pragma once

#include <windows.h>
// WIN32_LEAN_AND_MEAN leaves out what GDI+ needs from COM.
#include <objidl.h>

#include <algorithm>
namespace Gdiplus {
using std::max;
using std::min;
}  // namespace Gdiplus
#include <gdiplus.h>
