// CSplitStr: splits a line of text at a separator, by default skipping empty
// pieces ("a,,b" gives "a" and "b").
#pragma once

#include <string>
#include <vector>

class CSplitStr {
 public:
  CSplitStr() = default;

  // Stored with white space removed at both ends.
  void SetText(const std::wstring& text);
  void SetSeparator(const std::wstring& separator) { m_separator = separator; }
  void SetSkipEmpty(bool skip) { m_skipEmpty = skip; }

  const std::wstring& Text() const { return m_text; }
  const std::wstring& Separator() const { return m_separator; }
  bool SkipEmpty() const { return m_skipEmpty; }

  // Appends the pieces to `out` in text order.
  void Split(std::vector<std::wstring>& out) const;

 private:
  bool m_skipEmpty = true;
  std::wstring m_text;
  std::wstring m_separator = L",";
};
