// Text (ASCII or UTF-8, HTML, XML, CSV): printable characters, common
// white space and well-formed UTF-8 sequences up to the first byte that
// cannot be text. To keep random or binary data out, a find needs at least
// 16 such bytes, mostly letters, digits, spaces and punctuation, and must
// end at a zero byte (the slack after a file), at the end of the free run,
// or be long enough that chance is out of the question.
#include <array>
#include <cctype>
#include <cstring>
#include <string_view>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 64ull << 20;
constexpr uint64_t kMinimum = 16;
constexpr uint64_t kLongEnough = 1024;

// Letters, digits and the punctuation of prose and markup.
const auto kPlain = [] {
  std::array<uint8_t, 128> t{};
  for (int c = '0'; c <= '9'; ++c) t[c] = 1;
  for (int c = 'A'; c <= 'Z'; ++c) t[c] = t[c + 32] = 1;
  for (char c : std::string_view(" ,.;:'\"-!?()<>/=")) t[static_cast<uint8_t>(c)] = 1;
  return t;
}();

// Bytes of the text character at p[0..n), 0 when it is no text character.
size_t CharLength(const uint8_t* p, size_t n) {
  const uint8_t c = p[0];
  if (c >= 0x20 && c < 0x7F) return 1;
  if (c == '\t' || c == '\n' || c == '\r' || c == '\f') return 1;
  size_t len;
  uint8_t lo = 0x80, hi = 0xBF;
  if (c >= 0xC2 && c <= 0xDF) len = 2;
  else if (c >= 0xE0 && c <= 0xEF) {
    len = 3;
    if (c == 0xE0) lo = 0xA0;
    if (c == 0xED) hi = 0x9F;  // no surrogates
  } else if (c >= 0xF0 && c <= 0xF4) {
    len = 4;
    if (c == 0xF0) lo = 0x90;
    if (c == 0xF4) hi = 0x8F;
  } else {
    return 0;
  }
  if (n < len || p[1] < lo || p[1] > hi) return 0;
  for (size_t k = 2; k < len; ++k)
    if (p[k] < 0x80 || p[k] > 0xBF) return 0;
  return len;
}

bool StartsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
  return true;
}

size_t Count(std::string_view line, char c) {
  size_t n = 0;
  for (char x : line) n += x == c;
  return n;
}

const char16_t* Kind(std::string_view head) {
  size_t at = 0;
  if (head.substr(0, 3) == "\xEF\xBB\xBF") at = 3;
  while (at < head.size() && std::isspace(static_cast<unsigned char>(head[at]))) ++at;
  std::string_view t = head.substr(at);
  if (StartsWithNoCase(t, "<!doctype html") || StartsWithNoCase(t, "<html")) return u"html";
  if (StartsWithNoCase(t, "<?xml")) return u"xml";
  // CSV: the first lines have the same, non-zero number of separators.
  // One separator a line is prose as often as a table: then the first
  // line must be free of spaces too.
  size_t lines = 0, commas = 0, semis = 0;
  bool csv = true, spaced = false;
  while (lines < 4 && !t.empty()) {
    size_t nl = t.find('\n');
    if (nl == std::string_view::npos) break;  // a last line may be cut by the head
    std::string_view line = t.substr(0, nl);
    const size_t c = Count(line, ','), s = Count(line, ';');
    if (lines == 0) {
      commas = c;
      semis = s;
      spaced = line.find(' ') != std::string_view::npos;
    } else if (c != commas && s != semis) {
      csv = false;
    }
    t.remove_prefix(nl + 1);
    ++lines;
  }
  const size_t separators = commas > semis ? commas : semis;
  if (csv && lines >= 2 && (separators >= 2 || (separators == 1 && !spaced))) return u"csv";
  return u"txt";
}

}  // namespace

bool ParseText(Stream& s, Find& find) {
  const uint8_t* first = s.Get(0, 4);
  if (!first || CharLength(first, 4) == 0) return false;
  s.Bound(kBound);
  uint64_t pos = 0, plain = 0;
  bool endedAtZero = false;
  char head[1024];
  size_t headBytes = 0;
  for (;;) {
    size_t got = 0;
    const uint8_t* p = s.GetSome(pos, 1u << 16, got);
    if (!p || got == 0) break;
    size_t i = 0;
    bool stop = false;
    while (i < got) {
      const uint8_t c = p[i];
      size_t len = 1;
      if (c >= 0x20 && c < 0x7F) {
        plain += kPlain[c];
      } else if (c == '\n' || c == '\r' || c == '\t') {
        ++plain;
      } else {
        // A sequence cut by the read is fetched whole with the next one.
        if (c >= 0xC2 && c <= 0xF4 && got - i < 4 && pos + i + 4 <= s.Limit()) break;
        len = CharLength(p + i, got - i);
        if (len == 0) {
          endedAtZero = c == 0;
          stop = true;
          break;
        }
        plain += len;
      }
      if (headBytes + len <= sizeof head) {
        std::memcpy(head + headBytes, p + i, len);
        headBytes += len;
      }
      i += len;
    }
    pos += i;
    if (stop || i == 0) break;
    if (s.Stopped()) return false;
  }
  const bool atRunEnd = pos >= s.Limit();
  if (pos < kMinimum || plain * 4 < pos * 3) return false;
  if (!endedAtZero && !atRunEnd && pos < kLongEnough) return false;
  find.type = Kind(std::string_view(head, headBytes));
  find.size = pos;
  find.damaged = false;
  return true;
}

}  // namespace kestrel::carve
