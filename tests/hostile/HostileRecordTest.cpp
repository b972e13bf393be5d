// Record-level faults the fuzz targets found, kept as regression tests.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "tests/ntfs/NtfsTestImage.h"

namespace kestrel::ntfs {
namespace {

using test::EncodeRuns;
using test::FileTimeOf;
using test::MemoryDevice;
using test::NtfsTestImage;

// Types such as 0x12 or 0x35 share the list of 0x10 or 0x30 by their index;
// taken for standard information or a file name they were read as objects
// they are not (past the end of the attribute object).
TEST(HostileRecord, TypesThatAreNotMultiplesOf16AreSkipped) {
  NtfsTestImage image;
  image.PutRecord(20, image.Record(0)
                          .Resident(0x12, {9})
                          .StdInfo(FileTimeOf(1), 0x0800)  // compressed
                          .FileName(5, u"c.bin"));
  image.PutRecord(21, image.Record(0).Resident(0x35, {1, 2, 3}).Resident(0x7F, {1}).StdInfo(FileTimeOf(1)));
  auto device = std::make_unique<MemoryDevice>(image.bytes(), image.layout().sectorBytes);
  CNTFSVolume volume(std::move(device));
  ASSERT_TRUE(volume.IsUsable());

  CFileRecord compressed(&volume);
  ASSERT_TRUE(compressed.LoadFileRecord(20));
  compressed.SetTypeMask(~0u);
  ASSERT_TRUE(compressed.BuildAttributes());
  // The real $STANDARD_INFORMATION is the one the flags come from.
  auto* info = static_cast<CAttr_StdInfo*>(compressed.GetFirstAttribute(kAttrStdInfo));
  ASSERT_NE(info, nullptr);
  EXPECT_EQ(info->DosFlags(), kDosCompressed);

  CFileRecord odd(&volume);
  ASSERT_TRUE(odd.LoadFileRecord(21));
  odd.SetTypeMask(~0u);
  ASSERT_TRUE(odd.BuildAttributes());
  EXPECT_EQ(odd.GetFirstAttribute(0x30), nullptr);
  EXPECT_EQ(odd.GetFirstAttribute(0x70), nullptr);
  EXPECT_EQ(odd.AttributeList(0)->Count(), 1u);
  char16_t name[16];
  EXPECT_EQ(odd.GetPrimaryName(name, 16), 0);
  EXPECT_EQ(odd.GetSizeFromName(), 0u);
}

// A $MFT claiming 2^60 bytes over runs that map 64 records had the scan
// step through 2^50 records, each a failed read; so did a table whose
// volume was cut short of it.
TEST(HostileRecord, RecordCountKeepsToTheRunsAndTheDevice) {
  NtfsTestImage image;
  const uint64_t clusters = image.MftClusters();
  image.PutRecord(0, image.Record(1)
                         .StdInfo(FileTimeOf(1))
                         .FileName(5, u"$MFT", 3)
                         .NonResidentData(EncodeRuns({{clusters, static_cast<int64_t>(image.layout().mftLcn)}}),
                                          0, (uint64_t{1} << 40) - 1, uint64_t{1} << 60));
  {
    CNTFSVolume volume(std::make_unique<MemoryDevice>(image.bytes(), 512));
    ASSERT_TRUE(volume.IsUsable());
    EXPECT_EQ(volume.RecordCount(), 64u);
  }
  // The device ends 40 records into the table: nothing past it is counted.
  std::vector<uint8_t> cut(image.bytes().begin(),
                           image.bytes().begin() + static_cast<long>(image.MftByteOffset() + 40 * 1024));
  CNTFSVolume volume(std::make_unique<MemoryDevice>(cut, 512));
  ASSERT_TRUE(volume.IsUsable());
  EXPECT_EQ(volume.RecordCount(), cut.size() / 1024);
}

}  // namespace
}  // namespace kestrel::ntfs
