#include "cli/MountTable.h"

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

}  // namespace

std::vector<MountEntry> ParseMountTable(std::string_view text) {
  std::vector<MountEntry> entries;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    std::vector<std::string_view> fields;
    size_t i = 0;
    while (i < line.size() && fields.size() < 2) {
      while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
      size_t from = i;
      while (i < line.size() && line[i] != ' ' && line[i] != '\t') ++i;
      if (i > from) fields.push_back(line.substr(from, i - from));
    }
    if (fields.size() < 2) continue;
    entries.push_back({Unescape(fields[0]), Unescape(fields[1])});
  }
  return entries;
}

bool PathWithin(std::string_view path, std::string_view root) {
  while (root.size() > 1 && root.back() == '/') root.remove_suffix(1);
  if (root == "/") return !path.empty() && path[0] == '/';
  if (path.size() < root.size() || path.substr(0, root.size()) != root) return false;
  return path.size() == root.size() || path[root.size()] == '/';
}

}  // namespace kestrel::cli
