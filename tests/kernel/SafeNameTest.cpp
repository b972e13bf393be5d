// Names from disk must never steer an output path out of its folder.
#include <gtest/gtest.h>

#include "kernel/SafeName.h"

namespace kestrel {
namespace {

TEST(SafeName, SeparatorsColonsAndControlCharactersAreReplaced) {
  EXPECT_EQ(SafeName(u"a\\b/c:d"), u"a_b_c_d");
  EXPECT_EQ(SafeName(std::u16string(u"x\0y\x1F\x7Fz", 6)), u"x_y__z");
  EXPECT_EQ(SafeName(u"what?*<>|\"now"), u"what______now");
  EXPECT_EQ(SafeName(u"报告.doc"), u"报告.doc");
  EXPECT_EQ(SafeName(u"café.txt"), u"café.txt");
}

// Every unit below 0x100 inside a name: exactly the controls, DEL and the
// nine characters Windows refuses become "_"; a reused buffer keeps nothing.
TEST(SafeName, EveryLowCharacterIsJudgedOnItsOwn) {
  const std::u16string refused = u"\\/:*?\"<>|";
  std::u16string out = u"left over from a longer name";
  for (char16_t c = 0; c < 0x100; ++c) {
    const std::u16string name = std::u16string(u"a") + c + u"b";
    const bool bad = c < 0x20 || c == 0x7F || refused.find(c) != std::u16string::npos;
    EXPECT_EQ(SafeName(name), bad ? u"a_b" : name) << int(c);
    AssignSafeName(out, name);
    EXPECT_EQ(out, SafeName(name)) << int(c);
  }
  AssignSafeName(out, u"");
  EXPECT_EQ(out, u"_");
  AssignSafeName(out, u"aux .txt");
  EXPECT_EQ(out, u"_aux .txt");
}

TEST(SafeName, HalvesOfSurrogatePairsBecomeReplacementCharacters) {
  const std::u16string pair = u"\U0001F600";
  EXPECT_EQ(SafeName(u"a" + pair + u"b"), u"a" + pair + u"b");
  EXPECT_EQ(SafeName(std::u16string{u'a', char16_t(0xDC80), u'b'}), u"a\uFFFDb");
  EXPECT_EQ(SafeName(std::u16string{char16_t(0xD83D)}), u"\uFFFD");
  EXPECT_EQ(SafeName(std::u16string{char16_t(0xDE00), char16_t(0xD83D)}), u"\uFFFD\uFFFD");
}

TEST(SafeName, DotNamesAndTrailingDotsStayVisible) {
  EXPECT_EQ(SafeName(u"."), u"_");
  EXPECT_EQ(SafeName(u".."), u"__");
  EXPECT_EQ(SafeName(u"name. "), u"name__");
  EXPECT_EQ(SafeName(u""), u"_");
  EXPECT_EQ(SafeName(u".hidden"), u".hidden");
}

TEST(SafeName, ReservedDeviceNamesArePrefixed) {
  EXPECT_EQ(SafeName(u"CON"), u"_CON");
  EXPECT_EQ(SafeName(u"nul.txt"), u"_nul.txt");
  EXPECT_EQ(SafeName(u"com1"), u"_com1");
  EXPECT_EQ(SafeName(u"COM10"), u"COM10");
  EXPECT_EQ(SafeName(u"console"), u"console");
}

TEST(AppendComponent, JoinsWithBackslashWithinTheLimit) {
  std::u16string path;
  EXPECT_TRUE(AppendComponent(path, u"docs", 20));
  EXPECT_TRUE(AppendComponent(path, u"..", 20));
  EXPECT_EQ(path, u"docs\\__");
  EXPECT_FALSE(AppendComponent(path, u"0123456789abcd", 20));
  EXPECT_EQ(path, u"docs\\__") << "a component that does not fit leaves the path alone";
}

}  // namespace
}  // namespace kestrel
