// JSON text for `scan --json/--jsonl` and `recover --report`. Strings come
// from UTF-16 so nothing is lost on the way: control characters are
// escaped, and so is every unpaired surrogate ("\udc80"), which is how a
// name with invalid UTF-16, or a host path byte that is not UTF-8 (kept as
// U+DC80..U+DCFF), reaches a reader. Python's json module reads such
// escapes back, and os.fsencode() turns the latter into the original bytes.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace kestrel::cli {

// `text` as a quoted JSON string, added to `out`.
void AppendJsonString(std::string& out, std::u16string_view text);
// Plain ASCII or valid UTF-8 (names the program makes itself).
void AppendJsonString(std::string& out, std::string_view utf8);

// Builds one object, keys in the order added.
class JsonObject {
 public:
  JsonObject& Add(std::string_view key, std::u16string_view text);
  JsonObject& Add(std::string_view key, std::string_view utf8);
  JsonObject& Add(std::string_view key, const char* utf8) { return Add(key, std::string_view(utf8)); }
  JsonObject& Add(std::string_view key, uint64_t number);
  JsonObject& Add(std::string_view key, bool value);
  JsonObject& AddNull(std::string_view key);
  // `json` is already JSON text (an array, an object, a number).
  JsonObject& AddRaw(std::string_view key, std::string_view json);
  // The object's text, "{...}" with no line end.
  std::string Text() const { return text_ + "}"; }

 private:
  void Key(std::string_view key);
  std::string text_ = "{";
};

}  // namespace kestrel::cli
