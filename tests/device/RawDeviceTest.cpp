// Volume geometry where the system gives none, and media classes.
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
  void SetUp() override { os::ClearMappings(); }
  void TearDown() override { os::ClearMappings(); }
  void Map(char16_t letter, const std::filesystem::path& image) {
    ASSERT_TRUE(os::MapVolume(letter, test::KernelPath(image)));
  }
  TempDir dir_;
};

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
