// Filling the results page's folder tree and the file lists of both pages
// from the found items. Window thread only.
#pragma once

#include <windows.h>

#include <commctrl.h>

#include <string>

#include "app/KernelLoader.h"
#include "app/core/FolderIndex.h"
#include "app/core/SessionKernel.h"

// Hangs every folder of `index` into the tree control below what it holds
// and expands the first top-level item.
void FillFolderTree(HWND tree, const restorix::FolderIndex& index);
// Appends one checked row per item of `folder` (every spelling of it).
void FillFileList(HWND list, KernelLoader& kernel, const restorix::FolderIndex& index, const std::wstring& folder);
// One checked row: name, size, time, the state when the kernel tells it,
// and the low half of the id as data.
void AppendFileRow(HWND list, const restorix::FoundItem& item, KernelLoader& kernel);
// The state column after the time, for a kernel that tells items' states.
void AddStateColumn(HWND list, KernelLoader& kernel);
// NM_CUSTOMDRAW of a file list: rows of overwritten items in grey.
LRESULT DrawFileListRow(NMLVCUSTOMDRAW* draw, KernelLoader& kernel);
