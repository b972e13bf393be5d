#include "cli/MountTable.h"

#include <charconv>

namespace kestrel::cli {
namespace {

bool IsOctal(char c) { return c >= '0' && c <= '7'; }

std::string Unescape(std::string_view field) {
  std::string out;
  for (size_t i = 0; i < field.size(); ++i) {
    if (field[i] == '\\' && i + 3 < field.size() && IsOctal(field[i + 1]) &&
        IsOctal(field[i + 2]) && IsOctal(field[i + 3])) {
      int value = (field[i + 1] - '0') * 64 + (field[i + 2] - '0') * 8 + (field[i + 3] - '0');
      out += static_cast<char>(value & 0xFF);
      i += 3;
    } else {
      out += field[i];
    }
  }
  return out;
}

std::vector<std::string_view> Fields(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t i = 0;
  while (i < line.size()) {
    while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
    size_t from = i;
    while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
    if (i > from) fields.push_back(line.substr(from, i - from));
  }
  return fields;
}

bool ParseNumber(std::string_view text, uint32_t& value) {
  auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
  return ec == std::errc() && end == text.data() + text.size();
}

}  // namespace

std::vector<MountEntry> ParseMountInfo(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::vector<std::string_view> f = Fields(text.substr(start, end - start));
    start = end + 1;
    size_t dash = 6;  // optional tags run until a lone "-"
    while (dash < f.size() && f[dash] != "-") ++dash;
    if (f.size() < 6 || dash + 2 >= f.size()) continue;
    MountEntry e;
    size_t colon = f[2].find(':');
    if (colon == std::string_view::npos || !ParseNumber(f[2].substr(0, colon), e.major) ||
        !ParseNumber(f[2].substr(colon + 1), e.minor))
      continue;
    e.target = Unescape(f[4]);
    e.source = Unescape(f[dash + 2]);
    entries.push_back(std::move(e));
  }
  return entries;
}

}  // namespace kestrel::cli
