#include "app/SettingsFile.h"

#include <windows.h>

#include <iterator>

#include "app/AppFiles.h"

namespace {
constexpr wchar_t kSection[] = L"RecoverPath";
constexpr wchar_t kKey[] = L"path";
}  // namespace

SettingsFile::SettingsFile(std::wstring programFolder) : m_programFolder(std::move(programFolder)) {
  wchar_t path[260] = {};
  ReadSettingFrom(Path(), kSection, kKey, path, static_cast<DWORD>(std::size(path)));
  if (path[0]) {
    m_recoverPath = path;
  } else {
    m_recoverPath = m_programFolder + L"\\RecoveryData";
    CreateFolderTree(m_recoverPath.c_str());
  }
}

void SettingsFile::SetRecoverPath(const std::wstring& folder) {
  m_recoverPath = folder;
  WriteSettingTo(Path(), kSection, kKey, folder.c_str());
}
