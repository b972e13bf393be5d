// UTF-8 <-> UTF-16. Malformed input never fails a conversion: each bad
// sequence (overlong, cut short, an encoded surrogate) or unpaired surrogate
// becomes U+FFFD, so no byte trick can smuggle a "/" or "\\" through.
#include "kernel/os/Utf.h"

namespace kestrel::os {

namespace {

constexpr char32_t kReplacement = 0xFFFD;

void AppendUtf16(std::u16string& out, char32_t c) {
  if (c < 0x10000) {
    out += static_cast<char16_t>(c);
  } else {
    c -= 0x10000;
    out += static_cast<char16_t>(0xD800 + (c >> 10));
    out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
  }
}

}  // namespace

namespace {

// One UTF-8 decoder for both directions of bad input: `bad` is called with
// the bytes of a malformed sequence and returns how many it consumes.
template <typename OnBad>
std::u16string DecodeUtf8(std::string_view text, OnBad bad) {
  std::u16string out;
  out.reserve(text.size());
  size_t i = 0;
  while (i < text.size()) {
    auto lead = static_cast<unsigned char>(text[i]);
    size_t extra;
    char32_t c;
    char32_t least;
    if (lead < 0x80) {
      out += static_cast<char16_t>(lead);
      ++i;
      continue;
    } else if ((lead & 0xE0) == 0xC0) {
      extra = 1, c = lead & 0x1F, least = 0x80;
    } else if ((lead & 0xF0) == 0xE0) {
      extra = 2, c = lead & 0x0F, least = 0x800;
    } else if ((lead & 0xF8) == 0xF0) {
      extra = 3, c = lead & 0x07, least = 0x10000;
    } else {
      i += bad(out, text.substr(i, 1));
      continue;
    }
    size_t n = 0;
    while (n < extra && i + 1 + n < text.size() &&
           (static_cast<unsigned char>(text[i + 1 + n]) & 0xC0) == 0x80) {
      c = (c << 6) | (static_cast<unsigned char>(text[i + 1 + n]) & 0x3F);
      ++n;
    }
    if (n < extra || c < least || c > 0x10FFFF || (c >= 0xD800 && c <= 0xDFFF)) {
      i += bad(out, text.substr(i, 1 + n));
      continue;
    }
    AppendUtf16(out, c);
    i += 1 + extra;
  }
  return out;
}

}  // namespace

std::u16string FromUtf8(std::string_view text) {
  // The lead and whatever continuation bytes belonged to it: one U+FFFD.
  return DecodeUtf8(text, [](std::u16string& out, std::string_view sequence) {
    out += static_cast<char16_t>(kReplacement);
    return sequence.size();
  });
}

std::u16string FromHostBytes(std::string_view bytes) {
  // Only the lead byte is escaped; decoding resumes at the next byte, so
  // every byte of the input maps to exactly one escape or one character.
  return DecodeUtf8(bytes, [](std::u16string& out, std::string_view sequence) {
    out += static_cast<char16_t>(0xDC00 + static_cast<unsigned char>(sequence[0]));
    return size_t{1};
  });
}

std::string ToHostBytes(std::u16string_view text) {
  std::string out;
  out.reserve(text.size());
  size_t start = 0;
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const bool paired = c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() &&
                        text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF;
    if (paired) {
      ++i;
    } else if (c >= 0xDC80 && c <= 0xDCFF) {
      AppendUtf8(out, text.substr(start, i - start));
      out += static_cast<char>(c - 0xDC00);
      start = i + 1;
    }
  }
  AppendUtf8(out, text.substr(start));
  return out;
}

void AppendUtf8(std::string& out, std::u16string_view text) {
  // Sized for the worst case (3 bytes a unit) and written through a pointer:
  // paths are mostly ASCII and this runs once per found item.
  const size_t start = out.size();
  out.resize(start + text.size() * 3);
  char* at = out.data() + start;
  for (size_t i = 0; i < text.size(); ++i) {
    char32_t c = text[i];
    if (c < 0x80) {
      *at++ = static_cast<char>(c);
      continue;
    }
    if (c >= 0xD800 && c <= 0xDBFF && i + 1 < text.size() && text[i + 1] >= 0xDC00 &&
        text[i + 1] <= 0xDFFF) {
      c = 0x10000 + ((c - 0xD800) << 10) + (text[i + 1] - 0xDC00);
      ++i;  // two units in, four bytes out
    } else if (c >= 0xD800 && c <= 0xDFFF) {
      c = kReplacement;
    }
    if (c < 0x800) {
      *at++ = static_cast<char>(0xC0 | (c >> 6));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else if (c < 0x10000) {
      *at++ = static_cast<char>(0xE0 | (c >> 12));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    } else {
      *at++ = static_cast<char>(0xF0 | (c >> 18));
      *at++ = static_cast<char>(0x80 | ((c >> 12) & 0x3F));
      *at++ = static_cast<char>(0x80 | ((c >> 6) & 0x3F));
      *at++ = static_cast<char>(0x80 | (c & 0x3F));
    }
  }
  out.resize(static_cast<size_t>(at - out.data()));
}

std::string ToUtf8(std::u16string_view text) {
  std::string out;
  AppendUtf8(out, text);
  return out;
}

}  // namespace kestrel::os
