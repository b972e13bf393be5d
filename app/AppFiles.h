// The program folder, Setting.ini, skin files and the Win32 side of the
// folder helpers.
#pragma once

#include <windows.h>

#include <string>

// The folder of `module` (the program when null), without a trailing
// backslash; empty when the module path has no backslash.
std::wstring GetProgramFolder(HMODULE module);
// Program folder + "\Setting.ini".
std::wstring SettingsFilePath();
// Program folder + "\SKIN\" + name.
std::wstring SkinFile(const wchar_t* name);

// Setting.ini beside the program. 1, or 0 for a null argument. A missing
// file or key reads as "".
int ReadSetting(const wchar_t* section, const wchar_t* key, wchar_t* buffer, DWORD size);
int WriteSetting(const wchar_t* section, const wchar_t* key, const wchar_t* value);
// The same on another settings file (the binding's, in tests elsewhere).
int ReadSettingFrom(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                    wchar_t* buffer, DWORD size);
int WriteSettingTo(const std::wstring& iniPath, const wchar_t* section, const wchar_t* key,
                   const wchar_t* value);

// See app/core/FolderPaths.h for the rules; these run them on the real
// file system.
bool FolderExists(const wchar_t* path);
bool CreateFolderTree(const wchar_t* path);
