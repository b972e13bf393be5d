#include "controls/BrowseFolder.h"

#include <shlobj.h>

#include <cwchar>

CBrowseFolder::CBrowseFolder(const wchar_t* title) : m_title(title), m_path(new wchar_t[kPathUnits]()) {}

CBrowseFolder::~CBrowseFolder() { delete[] m_path; }

int CALLBACK CBrowseFolder::Callback(HWND dialog, UINT message, LPARAM, LPARAM data) noexcept {
  if (message == BFFM_INITIALIZED && data) {
    const wchar_t* start = reinterpret_cast<const wchar_t*>(data);
    if (start[0]) SendMessageW(dialog, BFFM_SETSELECTIONW, TRUE, data);
  }
  return 0;
}

int CBrowseFolder::Browse(HWND owner, const wchar_t* startFolder) {
  IMalloc* allocator = nullptr;
  if (FAILED(SHGetMalloc(&allocator)) || !allocator) return -1;
  m_path[0] = 0;
  if (startFolder) {
    const size_t n = wcsnlen(startFolder, kPathUnits);
    const DWORD attributes = n < kPathUnits ? GetFileAttributesW(startFolder) : INVALID_FILE_ATTRIBUTES;
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
      wmemcpy(m_path, startFolder, n + 1);
  }
  BROWSEINFOW info = {};
  info.hwndOwner = owner;
  info.pidlRoot = nullptr;
  info.pszDisplayName = nullptr;
  info.lpszTitle = m_title;
  info.ulFlags = 0;
  info.lpfn = &CBrowseFolder::Callback;
  info.lParam = reinterpret_cast<LPARAM>(m_path);
  PIDLIST_ABSOLUTE chosen = SHBrowseForFolderW(&info);
  if (!chosen) {
    allocator->Release();
    return 0;
  }
  // SHGetPathFromIDListW writes at most MAX_PATH units; the buffer holds more.
  if (!SHGetPathFromIDListW(chosen, m_path)) m_path[0] = 0;
  allocator->Free(chosen);
  allocator->Release();
  return 1;
}
