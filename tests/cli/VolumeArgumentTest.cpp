#include <gtest/gtest.h>

#include "cli/VolumeArgument.h"

namespace kestrel::cli {
namespace {

TEST(VolumeArgument, LettersAndPaths) {
  for (const char* letter : {"D:", "d:", "D:\\", "d:/"}) {
    VolumeTarget t = ClassifyVolume(letter);
    EXPECT_TRUE(t.isLetter) << letter;
    EXPECT_EQ(t.letter, u'D') << letter;
  }
  for (const char* path : {"D:\\disk.img", "/dev/sdb1", "D", "disk.img", "1:", "DD:", "D:x"}) {
    VolumeTarget t = ClassifyVolume(path);
    EXPECT_FALSE(t.isLetter) << path;
    EXPECT_EQ(t.path, path);
  }
}

TEST(VolumeArgument, FreeLetterSkipsMappedOnes) {
  EXPECT_EQ(LettersInMappingList(""), 0u);
  uint32_t used = LettersInMappingList("D=/a.img;e:=/b.img;PhysicalDrive0=/c.img;;=x;GG=/d");
  EXPECT_EQ(used, (1u << 3) | (1u << 4));
  EXPECT_EQ(PickFreeLetter(0), u'D');
  EXPECT_EQ(PickFreeLetter(used), u'F');
  EXPECT_EQ(PickFreeLetter(0x0FFFFFFu & ~(1u << 24)), u'Y');  // only Y left
  EXPECT_EQ(PickFreeLetter(0x3FFFFFFu), 0);                   // nothing from D to Y
}

TEST(VolumeArgument, PartitionSuffix) {
  std::string file;
  EXPECT_TRUE(SplitPartitionSuffix("disk.img@1048576", file));
  EXPECT_EQ(file, "disk.img");
  EXPECT_TRUE(SplitPartitionSuffix("/x/disk.img@0x100000+0x2000", file));
  EXPECT_EQ(file, "/x/disk.img");
  EXPECT_FALSE(SplitPartitionSuffix("/x/me@home/disk.img", file));
  EXPECT_EQ(file, "/x/me@home/disk.img");
  EXPECT_FALSE(SplitPartitionSuffix("disk.img@", file));
  EXPECT_FALSE(SplitPartitionSuffix("disk.img@12+", file));
  EXPECT_FALSE(SplitPartitionSuffix("@12", file));

  uint64_t offset = 0, length = 0;
  EXPECT_TRUE(ParseOffsetSuffix("/x/disk.img@0x100000+0x2000", offset, length));
  EXPECT_EQ(offset, 0x100000u);
  EXPECT_EQ(length, 0x2000u);
  EXPECT_TRUE(ParseOffsetSuffix("disk.img@2048", offset, length));
  EXPECT_EQ(offset, 2048u);
  EXPECT_EQ(length, 0u);
  EXPECT_FALSE(ParseOffsetSuffix("disk.img@99999999999999999999", offset, length));
  EXPECT_FALSE(ParseOffsetSuffix("/x/me@home/disk.img", offset, length));

  // A real file whose name holds "@" is protected from being read as a suffix.
  EXPECT_EQ(MappingArgument("/x/a@1", true), "/x/a@1@0");
  EXPECT_EQ(MappingArgument("/x/disk.img@512", false), "/x/disk.img@512");
  EXPECT_EQ(MappingArgument("/x/disk.img", true), "/x/disk.img");
}

TEST(VolumeArgument, RecoveryFolderEndsInOneSeparator) {
  EXPECT_EQ(RecoveryFolderArgument("/tmp/out", '/'), "/tmp/out/");
  EXPECT_EQ(RecoveryFolderArgument("/tmp/out///", '/'), "/tmp/out/");
  EXPECT_EQ(RecoveryFolderArgument("/", '/'), "/");
  EXPECT_EQ(RecoveryFolderArgument("C:\\Recovery\\", '\\'), "C:\\Recovery\\");
  EXPECT_EQ(RecoveryFolderArgument("C:\\", '\\'), "C:\\");
}

}  // namespace
}  // namespace kestrel::cli
