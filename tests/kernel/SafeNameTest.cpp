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
