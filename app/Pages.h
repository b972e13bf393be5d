// The four work pages of the main window, in page-table order.
#pragma once

#include "app/SelectDevice.h"
#include "app/DrDlg.h"
#include "app/PreviewDlg.h"
#include "app/SearchDlg.h"
