#include <gtest/gtest.h>

#include "cli/MountTable.h"
#include "cli/VolumeArgument.h"

namespace kestrel::cli {
namespace {

TEST(MountTable, ParsesDevicesSourcesAndTargetsWithEscapes) {
  auto entries = ParseMountInfo(
      "22 1 0:21 / /proc rw,nosuid shared:12 - proc proc rw\n"
      "40 1 8:17 / /mnt/usb\\040stick rw - ext4 /dev/sdb1 rw\n"
      "41 1 0:52 / /media/ntfs rw,relatime shared:3 master:2 - fuseblk /tmp/my\\134disk.img rw\n"
      "\n"
      "lonely\n"
      "42 1 x:1 / /bad rw - t s rw\n"
      "43 1 7:0 / /no/dash rw t s rw\n"
      "44 1 259:3\t/ /media/tab rw - vfat /dev/nvme0n1p3 rw");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].source, "proc");
  EXPECT_EQ(entries[1].major, 8u);
  EXPECT_EQ(entries[1].minor, 17u);
  EXPECT_EQ(entries[1].source, "/dev/sdb1");
  EXPECT_EQ(entries[1].target, "/mnt/usb stick");
  EXPECT_EQ(entries[2].source, "/tmp/my\\disk.img");  // after optional tags
  EXPECT_EQ(entries[2].minor, 52u);
  EXPECT_EQ(entries[3].major, 259u);
  EXPECT_EQ(entries[3].target, "/media/tab");
  // A backslash without three octal digits stays as it is.
  EXPECT_EQ(ParseMountInfo("1 1 1:1 / /b\\04 rw - t /a\\9x rw")[0].source, "/a\\9x");
  EXPECT_EQ(ParseMountInfo("1 1 1:1 / /b\\04 rw - t /a\\9x rw")[0].target, "/b\\04");
}

TEST(ScannedVolume, RecoveryFolderOnTheScannedLetter) {
  EXPECT_TRUE(FolderOnDriveLetter("D:\\Recovered", u'D'));
  EXPECT_TRUE(FolderOnDriveLetter("d:/x", u'D'));
  EXPECT_TRUE(FolderOnDriveLetter("\\\\?\\D:\\x", u'D'));
  EXPECT_FALSE(FolderOnDriveLetter("E:\\Recovered", u'D'));
  EXPECT_FALSE(FolderOnDriveLetter("/tmp/D:", u'D'));
  EXPECT_FALSE(FolderOnDriveLetter("\\\\server\\share", u'D'));
}

TEST(ScannedVolume, LetterOfAVolumeDevicePath) {
  EXPECT_EQ(DeviceLetter("\\\\.\\d:"), u'D');
  EXPECT_EQ(DeviceLetter("\\\\?\\E:"), u'E');
  EXPECT_EQ(DeviceLetter("\\\\.\\PhysicalDrive1"), 0);
  EXPECT_EQ(DeviceLetter("\\\\.\\D:\\x"), 0);
  EXPECT_EQ(DeviceLetter("D:"), 0);
}

TEST(ScannedVolume, PathOfAMappedLetter) {
  const char* list = "D=/a.img;e:=/dev/sdb1;D=/later.img;PhysicalDrive0=/disk.img";
  EXPECT_EQ(MappedPath(list, u'D'), "/later.img");
  EXPECT_EQ(MappedPath(list, u'E'), "/dev/sdb1");
  EXPECT_EQ(MappedPath(list, u'F'), "");
  EXPECT_EQ(MappedPath("", u'D'), "");
}

}  // namespace
}  // namespace kestrel::cli
