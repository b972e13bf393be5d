// CBrowseFolder: the shell's folder picker with the caller's title.
#pragma once

#include <windows.h>

class CBrowseFolder {
 public:
  explicit CBrowseFolder(const wchar_t* title);
  virtual ~CBrowseFolder();
  CBrowseFolder(const CBrowseFolder&) = delete;
  CBrowseFolder& operator=(const CBrowseFolder&) = delete;

  // 1 when a folder was chosen (GetPath), 0 when cancelled, -1 when the
  // shell's allocator is unavailable. A start folder that is no existing
  // directory, or that does not fit the buffer, is ignored.
  int Browse(HWND owner, const wchar_t* startFolder);
  const wchar_t* GetPath() const { return m_path; }

  static constexpr size_t kPathUnits = 1024;

 private:
  static int CALLBACK Callback(HWND dialog, UINT message, LPARAM lParam, LPARAM data) noexcept;
  const wchar_t* m_title;
  wchar_t* m_path;
};
