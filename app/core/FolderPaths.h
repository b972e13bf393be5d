// Path rules of the desktop program that need no window and no system call:
// the program folder, an item's folder and file name, and the folder-test
// and folder-creation rules over an injected file system.
#pragma once

#include <string>

namespace restorix {

// The folder of a module path: everything before its last backslash, or ""
// when it has none.
std::wstring FolderOfModulePath(const std::wstring& modulePath);

// PathRemoveFileSpecW: drops the last component. A root keeps its
// backslash ("C:\a.txt" gives "C:\"); a bare name gives "".
std::wstring RemoveFileSpec(const std::wstring& path);

// File name and extension of a path (what _wsplitpath calls fname + ext).
std::wstring FileNameOf(const std::wstring& path);

// Drops one trailing "\" or "/".
std::wstring WithoutTrailingSlash(const std::wstring& path);

// The two system calls the folder rules need.
class FolderSystem {
 public:
  virtual ~FolderSystem() = default;
  // Does a file search for `pattern` (such as "C:\Data\*.*") find anything?
  virtual bool SearchFindsAnything(const std::wstring& pattern) = 0;
  // CreateDirectoryW of one folder; false when it exists or cannot be made.
  virtual bool CreateOneFolder(const std::wstring& path) = 0;
};

// An empty path (after dropping one trailing slash) counts as existing.
bool FolderExists(FolderSystem& fs, const std::wstring& path);
// Creates the folder and its missing parents; false when the folder itself
// could not be created (so also when it already existed).
bool CreateFolderTree(FolderSystem& fs, const std::wstring& path);

}  // namespace restorix
