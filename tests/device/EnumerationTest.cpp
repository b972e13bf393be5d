// Device enumeration and the partition-table walk, on images made by
// mkfs.fat, mkntfs and sfdisk.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include "kernel/Bytes.h"
#include "kernel/Kestrel.h"
#include "kernel/device/PartitionTable.h"
#include "kernel/device/SectorReader.h"
#include "kernel/Enumeration.h"
#include "kernel/device/RawDevice.h"
#include "kernel/os/Os.h"
#include "tests/support/ImageFile.h"
#include "tests/support/TestSupport.h"

namespace kestrel {
namespace {

using test::KernelPath;
using test::RequireImage;

std::u16string NameOf(const PartitionParameter& p) {
  return std::u16string(reinterpret_cast<const char16_t*>(p.name));
}

TEST(Enumeration, MappedFatAndNtfsVolumesAreListedInLetterOrder) {
  auto fat = RequireImage("vol_fat16");
  if (fat.empty()) return;
  auto ntfs = RequireImage("vol_ntfs");
  if (ntfs.empty()) return;
  auto zero = RequireImage("vol_zero");
  if (zero.empty()) return;
  test::MountedKernel kernel(
      {{u'E', KernelPath(fat)}, {u'D', KernelPath(ntfs)}, {u'F', KernelPath(zero)}});
  auto parts = test::AllPartitions();
  ASSERT_TRUE(parts.count(u"D:"));
  ASSERT_TRUE(parts.count(u"E:"));
  EXPECT_FALSE(parts.count(u"F:")) << "the volume of zeros is neither FAT nor NTFS";
  EXPECT_EQ(parts[u"D:"].fsKind, 1);
  EXPECT_EQ(parts[u"D:"].sectorCount, 16u * 1024 * 1024 / 512);
  EXPECT_EQ(parts[u"E:"].fsKind, 2);
  EXPECT_EQ(parts[u"E:"].sectorCount, 16384u * 2);
  // Mapped letters come in letter order, after any lower real letters.
  int n = SH_GetPartitionCount();
  int indexD = -1, indexE = -1;
  PartitionParameter p;
  for (int i = 0; i < n; ++i) {
    ASSERT_EQ(SH_GetPartitionParameter(&p, i), 1);
    if (NameOf(p) == u"D:") indexD = i;
    if (NameOf(p) == u"E:") indexE = i;
  }
  EXPECT_EQ(indexE, indexD + 1);
  std::memset(&p, 0xCC, sizeof p);
  ASSERT_EQ(SH_GetPartitionParameter(&p, indexD), 1);
  EXPECT_EQ(p.reserved[0], 0xCC) << "bytes 137..143 are not written";
  std::memset(&p, 0x11, sizeof p);
  EXPECT_EQ(SH_GetPartitionParameter(&p, n), 0);
  EXPECT_EQ(SH_GetPartitionParameter(&p, -1), 0);
  EXPECT_EQ(p.fsKind, 0x11) << "a miss leaves the record untouched";
}

TEST(Enumeration, PhysicalDisksGetNumberedNamesButAreNotPartitions) {
  auto disk = RequireImage("disk_mbr");
  if (disk.empty()) return;
  auto fat = RequireImage("vol_fat16");
  if (fat.empty()) return;
  SH_UnInit();
  os::ClearMappings();
  ASSERT_TRUE(os::MapPhysicalDrive(0, KernelPath(disk)));
  ASSERT_TRUE(os::MapVolume(u'C', KernelPath(fat)));
  DeviceList list;
  EnumerateDevices(list);
  ASSERT_GE(list.size(), 2u);
  EXPECT_EQ(list[0]->displayName, u"fixed disk #1");
  EXPECT_EQ(list[0]->kind, kPhysicalDevice);
  EXPECT_EQ(list[0]->driveNumber, 128);
  EXPECT_EQ(list[0]->partitioned, 1);
  EXPECT_EQ(list[0]->totalSectors, 241664u) << "the end of the furthest partition";
  EXPECT_EQ(list[1]->displayName, u"C:");
  SH_Init(nullptr);
  auto parts = test::AllPartitions();
  EXPECT_EQ(parts.size(), static_cast<size_t>(SH_GetPartitionCount()));
  EXPECT_TRUE(parts.count(u"C:"));
  for (const auto& [name, part] : parts) EXPECT_EQ(name.find(u"disk"), std::u16string::npos);
  SH_UnInit();
  os::ClearMappings();
}

std::vector<PartitionEntry> TableOf(const std::filesystem::path& image, uint64_t bytes) {
  os::ClearMappings();
  EXPECT_TRUE(os::MapPhysicalDrive(0, KernelPath(image)));
  SectorReader disk(os::OpenPhysicalDrive(0, os::Access::Read), 512);
  PartitionTable table = ReadPartitionTable(disk, bytes);
  os::ClearMappings();
  return table.entries;
}

TEST(PartitionTable, ExtendedChainYieldsEveryLogicalPartitionAndEachIsRecognised) {
  auto disk = RequireImage("disk_mbr");
  if (disk.empty()) return;
  auto all = TableOf(disk, std::filesystem::file_size(disk));
  ASSERT_EQ(all.size(), 4u) << "three FAT partitions and an unformatted NTFS-typed one";
  std::vector<PartitionEntry> found;
  for (const PartitionEntry& e : all)
    if (e.mbrType != 0x07) found.push_back(e);
  std::ifstream layout(test::FixtureDir() / "disk_mbr.layout");
  std::vector<std::pair<uint64_t, uint64_t>> expected;
  uint64_t start, size;
  while (layout >> start >> size) expected.push_back({start, size});
  ASSERT_EQ(expected.size(), 3u);
  ASSERT_EQ(found.size(), expected.size());
  for (size_t i = 0; i < found.size(); ++i) {
    EXPECT_EQ(found[i].firstByte, expected[i].first * 512) << i;
    EXPECT_EQ(found[i].bytes, expected[i].second * 512) << i;
  }
  // The engines' probes see each partition as the volume it is.
  os::ClearMappings();
  ASSERT_TRUE(os::MapPhysicalDrive(0, KernelPath(disk)));
  VolumeSource whole;
  whole.open = [] { return os::OpenPhysicalDrive(0, os::Access::Read); };
  auto parts = RecognisedPartitions(whole, std::filesystem::file_size(disk));
  EXPECT_EQ(parts.size(), expected.size());
  os::ClearMappings();
}

// Partition entry helper for hand-made tables.
void PutEntry(std::vector<uint8_t>& disk, uint64_t tableSector, int slot, uint8_t type,
              uint32_t start, uint32_t count) {
  uint8_t* e = &disk[tableSector * 512 + 0x1BE + 16 * slot];
  e[4] = type;
  put32(e + 8, start);
  put32(e + 12, count);
  disk[tableSector * 512 + 0x1FE] = 0x55;
  disk[tableSector * 512 + 0x1FF] = 0xAA;
}

TEST(PartitionTable, EbrLoopEndsAndPartitionsPastTheDiskAreCut) {
  test::TempDir dir;
  std::vector<uint8_t> disk(64 * 512, 0);
  PutEntry(disk, 0, 0, 0x07, 1, 2);    // NTFS
  PutEntry(disk, 0, 1, 0x0C, 3, 400);  // FAT32 LBA, reaching past the disk
  PutEntry(disk, 0, 2, 0x0F, 10, 40);  // extended (LBA)
  PutEntry(disk, 10, 0, 0x0E, 2, 5);   // logical FAT16 at 10 + 2
  PutEntry(disk, 10, 1, 0x05, 10, 20); // next EBR at 10 + 10 = 20
  PutEntry(disk, 20, 0, 0x01, 2, 3);   // logical FAT12 at 20 + 2
  PutEntry(disk, 20, 1, 0x05, 0, 20);  // relative 0: the first EBR again, a loop
  disk[20 * 512 + 0x1CE + 8] = 0;
  auto image = test::WriteImage(dir.path(), "loop.img", disk);
  auto found = TableOf(image, disk.size());
  ASSERT_EQ(found.size(), 4u);
  EXPECT_EQ(found[0].mbrType, 0x07);
  EXPECT_TRUE(found[1].beyondDisk);
  EXPECT_EQ(found[1].bytes, disk.size() - 3 * 512);
  EXPECT_EQ(found[2].firstByte, 12u * 512);
  EXPECT_TRUE(found[3].logical);
  EXPECT_EQ(found[3].firstByte, 22u * 512);
  EXPECT_EQ(found[3].bytes, 3u * 512);
}

TEST(DeviceNames, FollowMediaClassAndListPosition) {
  DeviceList list;
  for (uint8_t media : {3, 1, 2, 0, 5, 4}) {
    auto e = std::make_unique<DeviceEntry>();
    e->mediaClass = media;
    e->displayName = u"keep";
    list.push_back(std::move(e));
  }
  auto v = std::make_unique<DeviceEntry>();
  v->kind = kLetteredVolume;
  v->driveNumber = 3;
  list.push_back(std::move(v));
  std::vector<std::u16string> names;
  for (size_t i = 0; i < list.size(); ++i) {
    ASSERT_TRUE(BuildDeviceName(list, i, list[i]->displayName, 2048));
    names.push_back(list[i]->displayName);
  }
  EXPECT_EQ(names, (std::vector<std::u16string>{u"fixed disk #1", u"floppy disk #2",
                                                u"removable disk #3", u"unknown disk #4",
                                                u"CD-ROM #5", u"keep", u"C:"}));
  std::u16string small = u"old";
  EXPECT_TRUE(BuildDeviceName(list, 0, small, 13));
  EXPECT_EQ(small, u"old") << "a name that does not fit is not copied";
  EXPECT_FALSE(BuildDeviceName(list, 99, small, 2048));
}

}  // namespace
}  // namespace kestrel
