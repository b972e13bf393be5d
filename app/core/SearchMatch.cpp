#include "app/core/SearchMatch.h"

#include "app/core/FolderPaths.h"

namespace restorix {

std::wstring AsciiUpper(std::wstring text) {
  for (wchar_t& c : text)
    if (c >= L'a' && c <= L'z') c = static_cast<wchar_t>(c - L'a' + L'A');
  return text;
}

SearchMatcher::SearchMatcher(const std::wstring& keyword) : m_upperKeyword(AsciiUpper(keyword)) {}

bool SearchMatcher::Matches(const std::wstring& itemPath) const {
  return AsciiUpper(FileNameOf(itemPath)).find(m_upperKeyword) != std::wstring::npos;
}

}  // namespace restorix
