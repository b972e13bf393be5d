#include "kernel/SafeName.h"

#include <array>

namespace kestrel {
namespace {

bool Forbidden(char16_t c) {
  if (c >= 0x80) return false;
  // One look-up per character: every name of a scan passes here.
  static constexpr auto kTable = [] {
    std::array<bool, 0x80> table{};
    for (int i = 0; i < 0x20; ++i) table[i] = true;
    for (char f : {'\\', '/', ':', '*', '?', '"', '<', '>', '|', '\x7F'})
      table[static_cast<unsigned char>(f)] = true;
    return table;
  }();
  return kTable[c];
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension.
bool ReservedDeviceName(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  // The longest reserved stem is "CONOUT$": anything longer is no device.
  if (stem.size() < 3 || stem.size() > 7) return false;
  char16_t up[7];
  for (size_t i = 0; i < stem.size(); ++i) up[i] = Upper(stem[i]);
  const std::u16string_view u(up, stem.size());
  if (u == u"CON" || u == u"PRN" || u == u"AUX" || u == u"NUL" || u == u"CONIN$" ||
      u == u"CONOUT$")
    return true;
  if (u.size() == 4 && (u.substr(0, 3) == u"COM" || u.substr(0, 3) == u"LPT") && u[3] >= u'1' &&
      u[3] <= u'9')
    return true;
  return false;
}

}  // namespace

std::u16string SafeName(std::u16string_view name) {
  std::u16string out;
  AssignSafeName(out, name);
  return out;
}

void AssignSafeName(std::u16string& out, std::u16string_view name) {
  if (name.empty()) {
    out.assign(u"_");
    return;
  }
  out.assign(name);
  for (size_t i = 0; i < out.size(); ++i) {
    char16_t& c = out[i];
    if (Forbidden(c)) {
      c = u'_';
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      // Half a surrogate pair is a damaged name, not a character: on POSIX
      // hosts it would otherwise leave as a raw byte.
      const bool pairs = c <= 0xDBFF && i + 1 < out.size() && out[i + 1] >= 0xDC00 && out[i + 1] <= 0xDFFF;
      if (pairs) ++i;
      else c = 0xFFFD;
    }
  }
  // Windows drops trailing dots and blanks, so "." and ".." and "a." would
  // not name what they seem to: keep them visible instead.
  for (size_t i = out.size(); i-- > 0 && (out[i] == u'.' || out[i] == u' ');) out[i] = u'_';
  if (ReservedDeviceName(out)) out.insert(out.begin(), u'_');
}

bool AppendComponent(std::u16string& path, std::u16string_view name, size_t limit) {
  std::u16string safe = SafeName(name);
  size_t extra = safe.size() + (path.empty() ? 0 : 1);
  if (path.size() + extra > limit) return false;
  if (!path.empty()) path += u'\\';
  path += safe;
  return true;
}

}  // namespace kestrel
