#include "cli/VolumeArgument.h"

namespace kestrel::cli {
namespace {

bool IsAsciiLetter(char c) { return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }
char Upper(char c) { return (c >= 'a' && c <= 'z') ? static_cast<char>(c - 'a' + 'A') : c; }

bool IsNumber(std::string_view text) {
  if (text.empty()) return false;
  size_t i = 0;
  bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) i = 2;
  for (; i < text.size(); ++i) {
    char c = text[i];
    bool digit = c >= '0' && c <= '9';
    bool hexDigit = hex && ((c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'));
    if (!digit && !hexDigit) return false;
  }
  return true;
}

bool IsSeparator(char c) { return c == '/' || c == '\\'; }

}  // namespace

VolumeTarget ClassifyVolume(const std::string& argument) {
  VolumeTarget t;
  const std::string& a = argument;
  bool letterForm = a.size() >= 2 && a.size() <= 3 && IsAsciiLetter(a[0]) && a[1] == ':' &&
                    (a.size() == 2 || IsSeparator(a[2]));
  if (letterForm) {
    t.isLetter = true;
    t.letter = static_cast<char16_t>(Upper(a[0]));
  } else {
    t.path = a;
  }
  return t;
}

// Calls visit(letter, path) for every letter entry of a KESTREL_VOLUMES list.
template <typename Visit>
void ForEachLetterEntry(std::string_view list, Visit&& visit) {
  size_t start = 0;
  while (start <= list.size()) {
    size_t end = list.find(';', start);
    if (end == std::string_view::npos) end = list.size();
    std::string_view item = list.substr(start, end - start);
    size_t eq = item.find('=');
    if (eq != std::string_view::npos) {
      std::string_view key = item.substr(0, eq);
      if ((key.size() == 1 || (key.size() == 2 && key[1] == ':')) && IsAsciiLetter(key[0]))
        visit(Upper(key[0]), item.substr(eq + 1));
    }
    start = end + 1;
  }
}

uint32_t LettersInMappingList(std::string_view list) {
  uint32_t mask = 0;
  ForEachLetterEntry(list, [&](char letter, std::string_view) { mask |= 1u << (letter - 'A'); });
  return mask;
}

std::string MappedPath(std::string_view list, char16_t letter) {
  std::string path;
  ForEachLetterEntry(list, [&](char l, std::string_view p) {
    if (static_cast<char16_t>(l) == letter) path = std::string(p);
  });
  return path;
}

char16_t PickFreeLetter(uint32_t used) {
  for (char c = 'D'; c <= 'Y'; ++c)
    if (!(used & (1u << (c - 'A')))) return static_cast<char16_t>(c);
  return 0;
}

bool SplitPartitionSuffix(const std::string& path, std::string& file) {
  file = path;
  size_t at = path.rfind('@');
  if (at == std::string::npos || at == 0) return false;
  std::string_view suffix(path);
  suffix.remove_prefix(at + 1);
  size_t plus = suffix.find('+');
  if (!IsNumber(suffix.substr(0, plus))) return false;
  if (plus != std::string_view::npos && !IsNumber(suffix.substr(plus + 1))) return false;
  file = path.substr(0, at);
  return true;
}

namespace {

bool NumberValue(std::string_view text, uint64_t& value) {
  if (!IsNumber(text)) return false;
  const bool hex = text.size() > 2 && text[0] == '0' && (text[1] == 'x' || text[1] == 'X');
  if (hex) text.remove_prefix(2);
  const uint64_t base = hex ? 16 : 10;
  value = 0;
  for (char c : text) {
    const uint64_t digit = c <= '9' ? static_cast<uint64_t>(c - '0') : static_cast<uint64_t>((c | 0x20) - 'a' + 10);
    if (value > (UINT64_MAX - digit) / base) return false;
    value = value * base + digit;
  }
  return true;
}

}  // namespace

bool ParseOffsetSuffix(const std::string& path, uint64_t& offset, uint64_t& length) {
  std::string file;
  if (!SplitPartitionSuffix(path, file)) return false;
  std::string_view suffix(path);
  suffix.remove_prefix(file.size() + 1);
  const size_t plus = suffix.find('+');
  length = 0;
  if (!NumberValue(suffix.substr(0, plus), offset)) return false;
  return plus == std::string_view::npos || NumberValue(suffix.substr(plus + 1), length);
}

std::string MappingArgument(const std::string& path, bool existsAsGiven) {
  if (existsAsGiven && path.find('@') != std::string::npos) return path + "@0";
  return path;
}

char16_t DeviceLetter(const std::string& path) {
  if (path.size() != 6 || path[0] != '\\' || path[1] != '\\' || (path[2] != '.' && path[2] != '?') ||
      path[3] != '\\' || !IsAsciiLetter(path[4]) || path[5] != ':')
    return 0;
  return static_cast<char16_t>(Upper(path[4]));
}

bool FolderOnDriveLetter(const std::string& folder, char16_t letter) {
  std::string_view f(folder);
  // Extended-length form: \\?\D:\...
  if (f.size() >= 4 && f.substr(0, 4) == "\\\\?\\") f.remove_prefix(4);
  return f.size() >= 2 && IsAsciiLetter(f[0]) && f[1] == ':' &&
         static_cast<char16_t>(Upper(f[0])) == letter;
}

std::string RecoveryFolderArgument(const std::string& folder, char separator) {
  std::string f = folder;
  while (f.size() > 1 && IsSeparator(f.back())) f.pop_back();
  if (f.size() == 1 && IsSeparator(f[0])) f.clear();  // the root: one separator
  return f + separator;
}

}  // namespace kestrel::cli
