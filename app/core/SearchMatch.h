// Which found items a search keyword picks: the item's file name with its
// extension (never its folders or drive) must contain the keyword. Only
// the ASCII letters a-z fold to upper case; every other character, Chinese
// ones included, must match exactly.
#pragma once

#include <string>

namespace restorix {

// Upper-cases a-z and nothing else.
std::wstring AsciiUpper(std::wstring text);

class SearchMatcher {
 public:
  explicit SearchMatcher(const std::wstring& keyword);

  // True when the file name of `itemPath` contains the keyword. An empty
  // keyword is contained in every name.
  bool Matches(const std::wstring& itemPath) const;

 private:
  std::wstring m_upperKeyword;
};

}  // namespace restorix
