// Setting.ini beside the program: the recovery folder.
#pragma once

#include <string>

class SettingsFile {
 public:
  // Reads the recovery folder; without one it is the program folder +
  // "\RecoveryData", created at once.
  explicit SettingsFile(std::wstring programFolder);

  const std::wstring& ProgramFolder() const { return m_programFolder; }
  std::wstring Path() const { return m_programFolder + L"\\Setting.ini"; }
  // Both on the window thread.
  std::wstring GetRecoverPath() const { return m_recoverPath; }
  void SetRecoverPath(const std::wstring& folder);

 private:
  std::wstring m_programFolder;
  std::wstring m_recoverPath;
};
