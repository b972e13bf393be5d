#include <gtest/gtest.h>

#include "kernel/os/Os.h"
#include "kernel/os/VolumeTable.h"

namespace kestrel::os {
namespace {

TEST(VolumeTable, PartitionSuffixGivesOffsetAndLength) {
  auto plain = ParseMappedImage(u"/d/disk.img");
  ASSERT_TRUE(plain);
  EXPECT_EQ(plain->path, u"/d/disk.img");
  EXPECT_EQ(plain->offset, 0u);
  auto part = ParseMappedImage(u"/d/a@b.img@1048576+0x200000");
  ASSERT_TRUE(part);
  EXPECT_EQ(part->path, u"/d/a@b.img");
  EXPECT_EQ(part->offset, 1048576u);
  EXPECT_EQ(part->length, 0x200000u);
  EXPECT_FALSE(ParseMappedImage(u"/d/disk.img@12x"));
  EXPECT_FALSE(ParseMappedImage(u"@512"));
  EXPECT_FALSE(ParseMappedImage(u"/d/x@99999999999999999999999"));
}

TEST(VolumeTable, ReadsInsideAMappedPartitionAreClipped) {
  MappedImage image;
  image.path = u"x";
  image.offset = 1000;
  image.length = 100;
  size_t got = 0;
  uint64_t seenOffset = 0;
  size_t seenLength = 0;
  auto fake = [&](uint64_t off, size_t len, size_t& done) {
    seenOffset = off;
    seenLength = len;
    done = len;
    return true;
  };
  ASSERT_TRUE(ReadInsideImage(image, 90, 50, got, fake));
  EXPECT_EQ(seenOffset, 1090u);
  EXPECT_EQ(seenLength, 10u);
  EXPECT_EQ(got, 10u);
  seenLength = 0;
  ASSERT_TRUE(ReadInsideImage(image, 100, 50, got, fake));
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(seenLength, 0u) << "nothing is read past the partition";
}

TEST(VolumeTable, MappingListTakesLettersAndPhysicalDrives) {
  ClearAllMappings();
  EXPECT_EQ(LoadMappingList("D=/a.img;e:=/b.img@512;PhysicalDrive2=/c.img;bad;7=/x;PhysicalDrive999=/y"), 3);
  EXPECT_TRUE(FindVolumeMapping(u'd'));
  EXPECT_EQ(FindVolumeMapping(u'E')->offset, 512u);
  EXPECT_TRUE(FindPhysicalMapping(2));
  EXPECT_FALSE(FindVolumeMapping(u'F'));
  ClearAllMappings();
}

TEST(Utf, RoundTripsAndReplacesBrokenInput) {
  std::u16string text = u"报告 café \U0001F600";
  EXPECT_EQ(FromUtf8(ToUtf8(text)), text);
  EXPECT_EQ(FromUtf8("a\xC3"), u"a\uFFFD");
  EXPECT_EQ(FromUtf8("\xFF" "b"), u"\uFFFDb");
  EXPECT_EQ(ToUtf8(std::u16string(1, char16_t(0xD800))), "\xEF\xBF\xBD");
  // Appending keeps what is there; every width of sequence, and halves of
  // pairs alone or in the wrong order, come out right at any position.
  std::string out = "x";
  AppendUtf8(out, u"a\u00E9\u62A5\U0001F600");
  AppendUtf8(out, std::u16string{char16_t(0xDC00), u'b', char16_t(0xDBFF)});
  AppendUtf8(out, u"");
  EXPECT_EQ(out, "xa\xC3\xA9\xE6\x8A\xA5\xF0\x9F\x98\x80\xEF\xBF\xBD" "b\xEF\xBF\xBD");
  EXPECT_EQ(FromUtf8(out.substr(1)), std::u16string(u"a\u00E9\u62A5\U0001F600\uFFFDb\uFFFD"));
}

}  // namespace
}  // namespace kestrel::os
