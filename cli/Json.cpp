#include "cli/Json.h"

#include "kernel/os/Utf.h"

namespace kestrel::cli {
namespace {

const char kHex[] = "0123456789abcdef";

void AppendEscape(std::string& out, char16_t unit) {
  out += "\\u";
  for (int shift = 12; shift >= 0; shift -= 4) out += kHex[(unit >> shift) & 0xF];
}

}  // namespace

void AppendJsonString(std::string& out, std::u16string_view text) {
  out += '"';
  size_t start = 0;  // first unit not yet written
  auto flush = [&](size_t end) {
    os::AppendUtf8(out, text.substr(start, end - start));
  };
  for (size_t i = 0; i < text.size(); ++i) {
    const char16_t c = text[i];
    const char* simple = nullptr;
    switch (c) {
      case u'"': simple = "\\\""; break;
      case u'\\': simple = "\\\\"; break;
      case u'\b': simple = "\\b"; break;
      case u'\f': simple = "\\f"; break;
      case u'\n': simple = "\\n"; break;
      case u'\r': simple = "\\r"; break;
      case u'\t': simple = "\\t"; break;
      default: break;
    }
    const bool high = c >= 0xD800 && c <= 0xDBFF;
    const bool low = c >= 0xDC00 && c <= 0xDFFF;
    if (high && i + 1 < text.size() && text[i + 1] >= 0xDC00 && text[i + 1] <= 0xDFFF) {
      ++i;  // a proper pair: written as UTF-8 with its neighbours
      continue;
    }
    if (!simple && c >= 0x20 && c != 0x7F && !high && !low) continue;
    flush(i);
    if (simple)
      out += simple;
    else
      AppendEscape(out, c);
    start = i + 1;
  }
  flush(text.size());
  out += '"';
}

void AppendJsonString(std::string& out, std::string_view utf8) {
  AppendJsonString(out, os::FromUtf8(utf8));
}

void JsonObject::Key(std::string_view key) {
  if (text_.size() > 1) text_ += ", ";
  AppendJsonString(text_, key);
  text_ += ": ";
}

JsonObject& JsonObject::Add(std::string_view key, std::u16string_view text) {
  Key(key);
  AppendJsonString(text_, text);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, std::string_view utf8) {
  Key(key);
  AppendJsonString(text_, utf8);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, uint64_t number) {
  Key(key);
  text_ += std::to_string(number);
  return *this;
}

JsonObject& JsonObject::Add(std::string_view key, bool value) {
  Key(key);
  text_ += value ? "true" : "false";
  return *this;
}

JsonObject& JsonObject::AddNull(std::string_view key) {
  Key(key);
  text_ += "null";
  return *this;
}

JsonObject& JsonObject::AddRaw(std::string_view key, std::string_view json) {
  Key(key);
  text_ += json;
  return *this;
}

}  // namespace kestrel::cli
