#include "kernel/SafeName.h"

namespace kestrel {
namespace {

bool Forbidden(char16_t c) {
  if (c < 0x20 || c == 0x7F) return true;
  switch (c) {
    case u'\\': case u'/': case u':': case u'*': case u'?':
    case u'"': case u'<': case u'>': case u'|':
      return true;
    default:
      return false;
  }
}

char16_t Upper(char16_t c) { return (c >= u'a' && c <= u'z') ? char16_t(c - 32) : c; }

// CON, PRN, AUX, NUL, COM1-9, LPT1-9, with or without an extension.
bool ReservedDeviceName(std::u16string_view name) {
  std::u16string_view stem = name.substr(0, name.find(u'.'));
  while (!stem.empty() && stem.back() == u' ') stem.remove_suffix(1);
  std::u16string up;
  for (char16_t c : stem) up += Upper(c);
  if (up == u"CON" || up == u"PRN" || up == u"AUX" || up == u"NUL" || up == u"CONIN$" ||
      up == u"CONOUT$")
    return true;
  if (up.size() == 4 && (up.compare(0, 3, u"COM") == 0 || up.compare(0, 3, u"LPT") == 0) &&
      up[3] >= u'1' && up[3] <= u'9')
    return true;
  return false;
}

}  // namespace

std::u16string SafeName(std::u16string_view name) {
  std::u16string out;
  out.reserve(name.size() + 1);
  for (char16_t c : name) out += Forbidden(c) ? u'_' : c;
  if (out.empty()) return u"_";
  // Windows drops trailing dots and blanks, so "." and ".." and "a." would
  // not name what they seem to: keep them visible instead.
  for (size_t i = out.size(); i-- > 0 && (out[i] == u'.' || out[i] == u' ');) out[i] = u'_';
  if (ReservedDeviceName(out)) out.insert(out.begin(), u'_');
  return out;
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
