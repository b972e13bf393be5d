// The preview page's text view: lines joined, bytes as characters 0..255.
#include <gtest/gtest.h>

#include <string>

#include "app/core/PreviewText.h"

using namespace restorix;

namespace {
std::wstring Joined(const std::string& bytes) {
  return JoinedTextLines(reinterpret_cast<const unsigned char*>(bytes.data()), bytes.size());
}
}  // namespace

TEST(PreviewText, LinesFollowEachOtherWithoutSeparator) {
  EXPECT_EQ(Joined("abc\ndef"), L"abcdef");
  EXPECT_EQ(Joined("abc\r\ndef\r\n\n"), L"abcdef");
  // A lone CR is text, also right before a CR LF.
  EXPECT_EQ(Joined("a\rb\r\r\nc\r"), L"a\rb\rc\r");
}

TEST(PreviewText, EveryByteIsTheCharacterOfItsCodeButNul) {
  std::string all;
  for (int b = 1; b < 256; ++b)
    if (b != '\n') all.push_back(static_cast<char>(b));
  const std::wstring text = Joined(all);
  ASSERT_EQ(text.size(), all.size());
  for (size_t i = 0; i < all.size(); ++i) EXPECT_EQ(static_cast<unsigned>(text[i]), static_cast<unsigned char>(all[i]));
  // Ctrl+Z does not end the text; NUL bytes are left out.
  EXPECT_EQ(Joined(std::string("a\x1A" "b\0c", 5)), L"a\x1A" L"bc");
  EXPECT_EQ(JoinedTextLines(nullptr, 5), L"");
}
