#include "app/core/FolderPaths.h"

namespace restorix {

std::wstring FolderOfModulePath(const std::wstring& modulePath) {
  size_t at = modulePath.rfind(L'\\');
  if (at == std::wstring::npos) return std::wstring();
  return modulePath.substr(0, at);
}

std::wstring RemoveFileSpec(const std::wstring& path) {
  size_t at = path.rfind(L'\\');
  if (at == std::wstring::npos) {
    // "C:name" keeps its drive; a bare name has no folder.
    if (path.size() >= 2 && path[1] == L':') return path.substr(0, 2);
    return std::wstring();
  }
  // "C:\x" and "\x": the root stays a root.
  if (at == 2 && path[1] == L':') return path.substr(0, 3);
  if (at == 0) return path.substr(0, 1);
  return path.substr(0, at);
}

std::wstring FileNameOf(const std::wstring& path) {
  size_t at = path.find_last_of(L"\\/");
  if (at != std::wstring::npos) return path.substr(at + 1);
  if (path.size() >= 2 && path[1] == L':') return path.substr(2);
  return path;
}

std::wstring WithoutTrailingSlash(const std::wstring& path) {
  if (!path.empty() && (path.back() == L'\\' || path.back() == L'/'))
    return path.substr(0, path.size() - 1);
  return path;
}

bool FolderExists(FolderSystem& fs, const std::wstring& path) {
  std::wstring p = WithoutTrailingSlash(path);
  if (p.empty()) return true;
  return fs.SearchFindsAnything(p + L"\\*.*");
}

bool CreateFolderTree(FolderSystem& fs, const std::wstring& path) {
  std::wstring p = WithoutTrailingSlash(path);
  if (p.empty() || p == L".") return false;
  size_t at = p.rfind(L'\\');
  if (at != std::wstring::npos) {
    std::wstring parent = p.substr(0, at);
    if (!FolderExists(fs, parent) && !CreateFolderTree(fs, parent)) return false;
  }
  return fs.CreateOneFolder(p);
}

}  // namespace restorix
