// Filling the results page's folder tree and the file lists of both pages
// from the found items. Window thread only.
#pragma once

#include <windows.h>

#include <string>

#include "app/KernelLoader.h"
#include "app/core/FolderIndex.h"
#include "app/core/SessionKernel.h"

// Hangs every folder of `index` into the tree control below what it holds
// and expands the first top-level item.
void FillFolderTree(HWND tree, const restorix::FolderIndex& index);
// Appends one checked row per item of `folder` (every spelling of it).
void FillFileList(HWND list, KernelLoader& kernel, const restorix::FolderIndex& index, const std::wstring& folder);
// One checked row: name, size, time, and the low half of the id as data.
void AppendFileRow(HWND list, const restorix::FoundItem& item);
