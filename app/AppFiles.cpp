#include "app/AppFiles.h"

#include <vector>

#include "app/core/FolderPaths.h"

namespace {
class Win32Folders : public restorix::FolderSystem {
 public:
  bool SearchFindsAnything(const std::wstring& pattern) override {
    WIN32_FIND_DATAW data;
    HANDLE h = FindFirstFileW(pattern.c_str(), &data);
    if (h == INVALID_HANDLE_VALUE) return false;
    FindClose(h);
    return true;
  }
  bool CreateOneFolder(const std::wstring& path) override {
    return CreateDirectoryW(path.c_str(), nullptr) != FALSE;
  }
};

std::wstring ModulePath(HMODULE module) {
  // Grow the buffer rather than cut a long path short.
  std::vector<wchar_t> buffer(MAX_PATH);
  for (;;) {
    DWORD n = GetModuleFileNameW(module, buffer.data(), static_cast<DWORD>(buffer.size()));
    if (n == 0) return std::wstring();
    if (n < buffer.size()) return std::wstring(buffer.data(), n);
    if (buffer.size() >= 32768) return std::wstring();
    buffer.resize(buffer.size() * 2);
  }
}
}  // namespace

std::wstring GetProgramFolder(HMODULE module) {
  return restorix::FolderOfModulePath(ModulePath(module));
}

std::wstring SettingsFilePath() { return GetProgramFolder(nullptr) + L"\\Setting.ini"; }

std::wstring SkinFile(const wchar_t* name) {
  return GetProgramFolder(nullptr) + L"\\SKIN\\" + (name ? name : L"");
}

int ReadSettingFrom(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                    wchar_t* buffer, DWORD size) {
  if (!section || !key || !buffer) return 0;
  GetPrivateProfileStringW(section, key, L"", buffer, size, iniPath.c_str());
  return 1;
}

int WriteSettingTo(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                   const wchar_t* value) {
  if (!section || !key || !value) return 0;
  WritePrivateProfileStringW(section, key, value, iniPath.c_str());
  return 1;
}

int ReadSetting(const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD size) {
  return ReadSettingFrom(SettingsFilePath(), section, key, buffer, size);
}

int WriteSetting(const wchar_t* section, const wchar_t* key, const wchar_t* value) {
  return WriteSettingTo(SettingsFilePath(), section, key, value);
}

bool FolderExists(const wchar_t* path) {
  Win32Folders fs;
  return restorix::FolderExists(fs, path ? path : L"");
}

bool CreateFolderTree(const wchar_t* path) {
  Win32Folders fs;
  return restorix::CreateFolderTree(fs, path ? path : L"");
}
