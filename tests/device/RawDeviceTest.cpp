// Raw sector reads: chunking through the staging buffer, short reads, the
// stop flag, and keeping read handles open between reads.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/Bytes.h"
#include "kernel/StopFlag.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/Enumeration.h"
#include "kernel/device/RawDevice.h"
#include "kernel/os/Os.h"
#include "tests/support/ImageFile.h"
#include "tests/support/TestSupport.h"

namespace kestrel {
namespace {

using test::TempDir;

// A 512-byte-sector volume image: a FAT boot sector, then sectors whose
// bytes name their own sector number.
std::vector<uint8_t> NumberedVolume(uint32_t sectors) {
  std::vector<uint8_t> bytes(size_t{sectors} * 512);
  for (uint32_t s = 1; s < sectors; ++s)
    for (uint32_t i = 0; i < 512; i += 4) put32(&bytes[size_t{s} * 512 + i], s);
  auto boot = test::FatBootSector(sectors);
  std::copy(boot.begin(), boot.end(), bytes.begin());
  return bytes;
}

class RawDeviceTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CloseReadHandles();
    os::ClearMappings();
    ClearStop();
  }
  void TearDown() override {
    SetChunkObserver(nullptr);
    CloseReadHandles();
    os::ClearMappings();
    ClearStop();
  }
  void Map(char16_t letter, const std::filesystem::path& image) {
    ASSERT_TRUE(os::MapVolume(letter, test::KernelPath(image)));
  }
  TempDir dir_;
};

TEST_F(RawDeviceTest, LongReadGoesThroughFullChunksThenTheRest) {
  Map(u'D', test::WriteImage(dir_.path(), "v.img", NumberedVolume(400)));
  std::vector<uint32_t> chunks;
  SetChunkObserver([&](uint32_t bytes) { chunks.push_back(bytes); });
  std::vector<uint8_t> out(200 * 512);
  ASSERT_TRUE(ReadVolumeSectors(4, 100, 200, out.data()));  // D: is letter index 4
  EXPECT_EQ(chunks, (std::vector<uint32_t>{65536, 36864}));
  EXPECT_EQ(le32(&out[0]), 100u);
  EXPECT_EQ(le32(&out[199 * 512 + 508]), 299u);
}

TEST_F(RawDeviceTest, ShortReadFailsEvenThoughBytesArrived) {
  Map(u'D', test::WriteImage(dir_.path(), "v.img", NumberedVolume(150)));
  std::vector<uint8_t> out(100 * 512, 0);
  EXPECT_FALSE(ReadVolumeSectors(4, 100, 100, out.data()));
  // A read wholly inside the image still works afterwards.
  EXPECT_TRUE(ReadVolumeSectors(4, 100, 50, out.data()));
  EXPECT_EQ(le32(&out[49 * 512]), 149u);
}

TEST_F(RawDeviceTest, StopDuringLongReadEndsAfterTheCurrentChunk) {
  Map(u'D', test::WriteImage(dir_.path(), "v.img", NumberedVolume(1200)));
  int chunks = 0;
  SetChunkObserver([&](uint32_t) {
    if (++chunks == 1) RequestStop();
  });
  std::vector<uint8_t> out(1000 * 512, 0xEE);
  // A stop after a good chunk still reports that chunk's success.
  EXPECT_TRUE(ReadVolumeSectors(4, 1, 1000, out.data()));
  EXPECT_EQ(chunks, 1);
  EXPECT_EQ(le32(&out[127 * 512]), 128u);
  EXPECT_EQ(out[128 * 512], 0xEE) << "nothing after the stop was copied";
}

TEST_F(RawDeviceTest, ReadHandleIsReusedForTheSameDeviceOnly) {
  Map(u'D', test::WriteImage(dir_.path(), "d.img", NumberedVolume(64)));
  Map(u'E', test::WriteImage(dir_.path(), "e.img", NumberedVolume(64)));
  uint8_t sector[512];
  uint64_t before = ReadHandleOpenCount();
  ASSERT_TRUE(ReadVolumeSectors(4, 3, 1, sector));
  ASSERT_TRUE(ReadVolumeSectors(4, 4, 1, sector));
  EXPECT_EQ(ReadHandleOpenCount() - before, 1u);
  ASSERT_TRUE(ReadVolumeSectors(5, 3, 1, sector));
  ASSERT_TRUE(ReadVolumeSectors(4, 3, 1, sector));
  EXPECT_EQ(ReadHandleOpenCount() - before, 3u);
  EXPECT_EQ(le32(sector), 3u);
}

TEST_F(RawDeviceTest, PhysicalDrivesSwitchHandlesAndNumbersTwoTo127OpenNothing) {
  auto disk = NumberedVolume(64);
  ASSERT_TRUE(os::MapPhysicalDrive(0, test::KernelPath(test::WriteImage(dir_.path(), "p0.img", disk))));
  ASSERT_TRUE(os::MapPhysicalDrive(1, test::KernelPath(test::WriteImage(dir_.path(), "p1.img", disk))));
  uint8_t sector[512];
  uint64_t before = ReadHandleOpenCount();
  EXPECT_TRUE(ReadPhysicalSectors(128, 7, 1, sector));
  EXPECT_TRUE(ReadPhysicalSectors(129, 7, 1, sector));
  EXPECT_TRUE(ReadPhysicalSectors(128, 8, 1, sector));
  EXPECT_EQ(ReadHandleOpenCount() - before, 3u);
  EXPECT_EQ(le32(sector), 8u);
  EXPECT_FALSE(ReadPhysicalSectors(5, 0, 1, sector));
  EXPECT_EQ(ReadHandleOpenCount() - before, 3u);
}

TEST_F(RawDeviceTest, UnmappedLetterFailsAndIsOpenedAgainNextTime) {
  uint8_t sector[512];
  uint64_t before = ReadHandleOpenCount();
  EXPECT_FALSE(ReadVolumeSectors(7, 0, 1, sector));
  EXPECT_FALSE(ReadVolumeSectors(7, 0, 1, sector));
  EXPECT_EQ(ReadHandleOpenCount() - before, 2u) << "a failed open is not kept";
}

TEST_F(RawDeviceTest, VolumeGeometryFallsBackOnTheBootSector) {
  Map(u'D', test::WriteImage(dir_.path(), "v.img", NumberedVolume(300)));
  GeometrySummary g;
  ASSERT_TRUE(VolumeGeometry(4, g));
  EXPECT_EQ(g.bytesPerSector, 512u);
  EXPECT_EQ(g.totalSectors, 300u);
  std::vector<uint8_t> zeros(64 * 512, 0);
  Map(u'E', test::WriteImage(dir_.path(), "z.img", zeros));
  EXPECT_FALSE(VolumeGeometry(5, g)) << "no geometry and no boot sector";
}

TEST(MediaClass, FromMediaType) {
  EXPECT_EQ(MediaClassFromType(0), kMediaUnknown);
  EXPECT_EQ(MediaClassFromType(1), kMediaFloppy);
  EXPECT_EQ(MediaClassFromType(10), kMediaFloppy);
  EXPECT_EQ(MediaClassFromType(11), kMediaRemovable);
  EXPECT_EQ(MediaClassFromType(12), kMediaFixed);
  EXPECT_EQ(MediaClassFromType(13), kMediaFloppy);
  EXPECT_EQ(MediaClassFromType(22), kMediaFloppy);
  EXPECT_EQ(MediaClassFromType(23), kMediaUnknown);
}

}  // namespace
}  // namespace kestrel
