#include <gtest/gtest.h>

#include "cli/MountTable.h"
#include "cli/VolumeArgument.h"

namespace kestrel::cli {
namespace {

TEST(MountTable, ParsesSourcesAndTargetsWithEscapes) {
  auto entries = ParseMountTable(
      "proc /proc proc rw,nosuid 0 0\n"
      "/dev/sdb1 /mnt/usb\\040stick ext4 rw 0 0\n"
      "/tmp/my\\134disk.img /media/ntfs fuseblk rw 0 0\n"
      "\n"
      "lonely\n"
      "/dev/sdc1\t/media/tab fat rw 0 0");
  ASSERT_EQ(entries.size(), 4u);
  EXPECT_EQ(entries[0].source, "proc");
  EXPECT_EQ(entries[1].source, "/dev/sdb1");
  EXPECT_EQ(entries[1].target, "/mnt/usb stick");
  EXPECT_EQ(entries[2].source, "/tmp/my\\disk.img");
  EXPECT_EQ(entries[3].target, "/media/tab");
  // A backslash without three octal digits stays as it is.
  EXPECT_EQ(ParseMountTable("/a\\9x /b\\04 t")[0].source, "/a\\9x");
  EXPECT_EQ(ParseMountTable("/a\\9x /b\\04 t")[0].target, "/b\\04");
}

TEST(MountTable, PathWithinRespectsComponentBoundaries) {
  EXPECT_TRUE(PathWithin("/mnt/usb", "/mnt/usb"));
  EXPECT_TRUE(PathWithin("/mnt/usb/out/x", "/mnt/usb"));
  EXPECT_TRUE(PathWithin("/mnt/usb/out", "/mnt/usb/"));
  EXPECT_FALSE(PathWithin("/mnt/usb2/out", "/mnt/usb"));
  EXPECT_FALSE(PathWithin("/mnt", "/mnt/usb"));
  EXPECT_TRUE(PathWithin("/anything", "/"));
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
