#include "app/core/SplitStr.h"

namespace {
bool IsBlank(wchar_t c) {
  return c == L' ' || c == L'\t' || c == L'\r' || c == L'\n' || c == L'\v' || c == L'\f';
}
}  // namespace

void CSplitStr::SetText(const std::wstring& text) {
  size_t first = 0;
  size_t last = text.size();
  while (first < last && IsBlank(text[first])) ++first;
  while (last > first && IsBlank(text[last - 1])) --last;
  m_text = text.substr(first, last - first);
}

void CSplitStr::Split(std::vector<std::wstring>& out) const {
  // An empty separator would match everywhere and never advance.
  if (m_separator.empty()) {
    if (!m_text.empty() || !m_skipEmpty) out.push_back(m_text);
    return;
  }
  std::wstring rest = m_text;
  // A trailing separator ends the last piece, so "a,b," and "a,b" split alike.
  if (rest.size() < m_separator.size() ||
      rest.compare(rest.size() - m_separator.size(), m_separator.size(), m_separator) != 0)
    rest += m_separator;
  size_t start = 0;
  for (;;) {
    size_t at = rest.find(m_separator, start);
    if (at == std::wstring::npos) break;
    std::wstring piece = rest.substr(start, at - start);
    if (!(m_skipEmpty && piece.empty())) out.push_back(std::move(piece));
    start = at + m_separator.size();
  }
}
