// Layout, FAT entries and the cursors of the FAT volume, on hand-built
// boot sectors and images.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/fat/FatBootSector.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/fat/FatVolume.h"
#include "kernel/fat/FatTable.h"
#include "tests/fat/FatTestImage.h"

namespace kestrel::test {
namespace {

using namespace kestrel::fat;

// A boot sector whose data area holds exactly `clusters` clusters of one
// sector (reserved 1, two FATs of `spf` sectors, 512 root entries).
std::vector<uint8_t> BootWithClusters(uint32_t clusters, uint32_t spf = 256) {
  std::vector<uint8_t> b(512, 0);
  put16(&b[0x0B], 512);
  b[0x0D] = 1;
  put16(&b[0x0E], 1);
  b[0x10] = 2;
  put16(&b[0x11], 512);
  uint32_t total = 1 + 2 * spf + 32 + clusters;
  if (total < 65536) put16(&b[0x13], static_cast<uint16_t>(total));
  else put32(&b[0x20], total);
  put16(&b[0x16], static_cast<uint16_t>(spf));
  put32(&b[0x2C], 2);
  return b;
}

TEST(FatLayout, ClusterCountDecidesTheType) {
  struct Case { uint32_t clusters; uint8_t type; } cases[] = {
      {4084, kFat12}, {4085, kFat16}, {65524, kFat16}, {65525, kFat32}};
  for (const auto& c : cases) {
    auto boot = BootWithClusters(c.clusters);
    FatLayout l;
    ASSERT_EQ(ReadFatLayout(ByteView(boot.data(), boot.size()), l), LayoutResult::Ok);
    EXPECT_EQ(l.clusterCount, c.clusters);
    EXPECT_EQ(l.fatType, c.type) << c.clusters << " clusters";
    EXPECT_EQ(l.firstDataSector, 1u + 512 + 32);
  }
}

TEST(FatLayout, Fat12And32AreasFollowTheBootSector) {
  auto boot = BootWithClusters(70000, 600);
  put16(&boot[0x11], 0);  // FAT32 has no fixed root
  put32(&boot[0x2C], 5);
  FatLayout l;
  ASSERT_EQ(ReadFatLayout(ByteView(boot.data(), boot.size()), l), LayoutResult::Ok);
  EXPECT_EQ(l.fatType, kFat32);
  EXPECT_EQ(l.rootDirSectors, 0u);
  EXPECT_EQ(l.rootCluster, 5u);
  EXPECT_EQ(l.rootDirFirstSector, l.firstDataSector + 3);
  EXPECT_EQ(l.fatAreaSectors, 1200u);

  // 128 sectors per cluster: 64 KiB clusters need more than 16 bits.
  auto wide = BootWithClusters(100, 1);
  wide[0x0D] = 128;
  put16(&wide[0x13], static_cast<uint16_t>(1 + 2 + 32 + 100 * 128));
  ASSERT_EQ(ReadFatLayout(ByteView(wide.data(), wide.size()), l), LayoutResult::Ok);
  EXPECT_EQ(l.bytesPerCluster, 65536u);
  EXPECT_EQ(l.clusterCount, 100u);

  auto small = BootWithClusters(100, 1);
  ASSERT_EQ(ReadFatLayout(ByteView(small.data(), small.size()), l), LayoutResult::Ok);
  EXPECT_EQ(l.fatType, kFat12);
  EXPECT_EQ(l.rootCluster, 0u);
  EXPECT_EQ(l.rootDirFirstSector, 3u);
  EXPECT_EQ(l.rootDirSectors, 32u);
}

TEST(FatLayout, RefusesWhatItCannotRead) {
  auto boot = BootWithClusters(1000);
  FatLayout l;
  auto with = [&](auto change) {
    auto b = boot;
    change(b);
    return ReadFatLayout(ByteView(b.data(), b.size()), l);
  };
  for (uint16_t bps : {1024, 2048, 4096})
    EXPECT_EQ(with([&](auto& b) { put16(&b[0x0B], bps); }), LayoutResult::Ok) << bps;
  for (uint16_t bps : {256, 1000, 8192})
    EXPECT_EQ(with([&](auto& b) { put16(&b[0x0B], bps); }), LayoutResult::Unsupported) << bps;
  // Not a BIOS parameter block (exFAT has zeros here, or says so).
  EXPECT_EQ(with([](auto& b) { put16(&b[0x0B], 0); b[0x0D] = 0; }), LayoutResult::NotFat);
  EXPECT_EQ(with([](auto& b) { b[0x0D] = 0; }), LayoutResult::NotFat);
  EXPECT_EQ(with([](auto& b) { b[0x0D] = 3; }), LayoutResult::NotFat);
  EXPECT_EQ(with([](auto& b) { b[0x15] = 0x12; }), LayoutResult::NotFat);
  EXPECT_EQ(with([](auto& b) { std::memcpy(&b[3], "EXFAT   ", 8); }), LayoutResult::NotFat);
  // Areas claimed past the end of the volume: nothing to subtract from.
  EXPECT_EQ(with([](auto& b) { put16(&b[0x13], 100); }), LayoutResult::Corrupt);
  EXPECT_EQ(with([](auto& b) { put16(&b[0x13], 40); put32(&b[0x20], 0); }), LayoutResult::Corrupt);
  EXPECT_EQ(ReadFatLayout(ByteView(boot.data(), 100), l), LayoutResult::NotFat);
}

TEST(FatTable, ClassifiesValuesPerType) {
  EXPECT_EQ(ClassifyFatValue(kFat12, 0), kFatFree);
  EXPECT_EQ(ClassifyFatValue(kFat12, 0x005), kFatInUse);
  EXPECT_EQ(ClassifyFatValue(kFat12, 0xFF0), kFatInUse);
  EXPECT_EQ(ClassifyFatValue(kFat12, 0xFF1), kFatReserved);
  EXPECT_EQ(ClassifyFatValue(kFat12, 0xFF7), kFatReserved);
  EXPECT_EQ(ClassifyFatValue(kFat12, 0xFF8), kFatEndOfChain);
  EXPECT_EQ(ClassifyFatValue(kFat16, 0xFF8), kFatInUse);
  EXPECT_EQ(ClassifyFatValue(kFat16, 0xFFF7), kFatReserved);
  EXPECT_EQ(ClassifyFatValue(kFat16, 0xFFFF), kFatEndOfChain);
  EXPECT_EQ(ClassifyFatValue(kFat32, 0xFFFF), kFatInUse);
  EXPECT_EQ(ClassifyFatValue(kFat32, 0x0FFFFFF7), kFatReserved);
  EXPECT_EQ(ClassifyFatValue(kFat32, 0x0FFFFFF8), kFatEndOfChain);
  EXPECT_EQ(ClassifyFatValue(0, 0xFFFFFFFF), kFatInUse);
  EXPECT_EQ(ClassifyFatValue(7, 0), kFatFree);
}

TEST(FatVolume, Fat12EntriesOddEvenAndStraddling) {
  FatTestImage img;
  img.total = 1400;  // 1 + 2*5 + 2 + 1387 clusters: FAT12
  img.spf = 5;
  img.Build();
  // Cluster 341 sits at byte 511 of the first FAT sector: it straddles.
  const uint32_t values[][2] = {{2, 0xABC}, {3, 0x123}, {340, 0x456}, {341, 0xDEF},
                                {342, 0x789}, {1388, 0xFFF}};
  for (const auto& v : values) img.SetFat(v[0], v[1]);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  fat::FatVolume& d = vol.volume();
  ASSERT_EQ(d.FatType(), kFat12);
  for (const auto& v : values) EXPECT_EQ(d.GetFatEntry(v[0], 0), v[1]) << "cluster " << v[0];
  // The second copy holds the same; clusters outside the data area give 0.
  EXPECT_EQ(d.GetFatEntry(341, 1), 0xDEFu);
  EXPECT_EQ(d.GetFatEntry(0, 0), 0u);
  EXPECT_EQ(d.GetFatEntry(1, 0), 0u);
  EXPECT_EQ(d.GetFatEntry(d.Layout().clusterCount + 2, 0), 0u);
  EXPECT_TRUE(d.IsEndOfChain(0xFFF));
  EXPECT_FALSE(d.IsEndOfChain(0xFF7));
}

TEST(FatVolume, Fat32EntriesDropTheTopFourBits) {
  FatTestImage img;
  img.bits = 32;
  img.rootEntries = 0;
  img.spf = 600;
  img.total = 1 + 1200 + 66000;
  img.Build();
  img.SetFat(2, 0x0FFFFFFF);
  img.SetFat(3, 0xFFFFFFFF);
  img.SetFat(4, 0xF0000005);
  img.SetFat(65000, 0x10000007);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  fat::FatVolume& d = vol.volume();
  ASSERT_EQ(d.FatType(), kFat32);
  EXPECT_EQ(d.GetFatEntry(3, 0), 0x0FFFFFFFu);
  EXPECT_TRUE(d.IsEndOfChain(d.GetFatEntry(3, 0)));
  EXPECT_EQ(d.GetFatEntry(4, 0), 5u);
  EXPECT_EQ(d.GetFatEntry(65000, 0), 7u);
  EXPECT_EQ(d.GetFatEntry(65000, 1), 7u);
}

TEST(FatVolume, TrustTestChoosesHowChainsAreFollowed) {
  TempDir dir;
  {
    FatTestImage img;
    img.Build();
    img.SetFat(2, 0xFFF);
    img.SetFat(3, 0);
    img.SetFat(4, 5);  // one real link: the FAT is trusted
    img.SetFat(5, 0xFFF);
    MappedFatVolume vol(img.Save(dir, "a.img"));
    ASSERT_TRUE(vol.initialised());
    EXPECT_TRUE(vol.volume().ChainsThroughFat());
  }
  {
    FatTestImage img;
    img.Build();
    for (uint32_t c = 2; c <= 16; ++c) img.SetFat(c, c % 2 ? 0xFFF : 0);
    img.SetFat(17, 18);  // beyond the clusters the test looks at
    MappedFatVolume vol(img.Save(dir, "b.img"));
    ASSERT_TRUE(vol.initialised());
    EXPECT_FALSE(vol.volume().ChainsThroughFat());
  }
  {
    // FAT32: a link equal to the root cluster does not count.
    FatTestImage img;
    img.bits = 32;
    img.rootEntries = 0;
    img.spf = 600;
    img.total = 1 + 1200 + 66000;
    img.rootCluster = 3;
    img.Build();
    img.SetFat(2, 3);
    img.SetFat(3, 0x0FFFFFFF);
    MappedFatVolume vol(img.Save(dir, "c.img"));
    ASSERT_TRUE(vol.initialised());
    EXPECT_FALSE(vol.volume().ChainsThroughFat());
  }
}

TEST(FatVolume, UnsupportedBootSectorLeavesNoLayout) {
  TempDir dir;
  FatTestImage img;
  img.Build();
  put16(img.bytes.data() + 0x0B, 1000);
  MappedFatVolume vol(img.Save(dir));
  EXPECT_EQ(vol.outcome().kind, OutcomeKind::UnsupportedVariant);
  EXPECT_NE(os::ToUtf8(vol.outcome().text).find("1000-byte sectors"), std::string::npos);
  EXPECT_FALSE(vol.volume().HasLayout());
  EXPECT_EQ(vol.engine(), nullptr);
}

TEST(FatVolume, FixedRootIsBoundedByItsSize) {
  FatTestImage img;
  img.rootEntries = 16;  // one sector
  img.Build();
  img.SetFat(2, 3);
  for (int i = 0; i < 16; ++i) {
    char name[12];
    std::snprintf(name, sizeof name, "FILE%02d  TXT", i);
    FatTestImage::Short(img.Root() + 32 * i, name, 0x20, 0, 0);
  }
  // The first data sector looks like more entries; it is not the root's.
  FatTestImage::Short(img.Cluster(2), "\xE5VIL    TXT", 0x20, 0, 0);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  DirCursor c;
  c.cluster = 0;
  FatDirEntry e;
  int n = 0;
  while (vol.volume().NextDirEntry(c, e)) ++n;
  EXPECT_EQ(n, 16);
}

TEST(FatRecovery, ContiguousClustersAndTheVolumeEnd) {
  FatTestImage img;
  img.Build();
  // A deleted file at clusters 10..12 (a chain left in the FAT from 10 is
  // another file's and is not followed), and one claiming more than the
  // volume holds from its last cluster.
  for (uint32_t c = 10; c <= 12; ++c)
    for (int i = 0; i < 512; ++i) img.Cluster(c)[i] = static_cast<uint8_t>(c * 7 + i);
  img.SetFat(10, 50);
  img.SetFat(50, 0xFFF);
  const uint32_t last = (img.total - img.FirstDataSector()) + 1;
  FatTestImage::Short(img.Root(), "\xE5" "ILE    BIN", 0x20, 10, 1300);
  FatTestImage::Short(img.Root() + 32, "\xE5" "AIL    BIN", 0x20, last, 5000);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.Scan().ok());
  ASSERT_EQ(TheRegistry().Count(), 2u);
  TempDir out;
  EXPECT_TRUE(vol.Recover(0, out.AsFolderArgument()).ok());
  EXPECT_EQ(Sha256File(out.path() / "Deleted" / "_ILE.BIN"), Sha256Hex(img.Cluster(10), 1300));
  ItemDetails d;
  ASSERT_TRUE(TheRegistry().FindDetails(0, d));
  EXPECT_EQ(d.state, KX_STATE_OVERWRITTEN) << "its first cluster is in use now";
  // Only the last cluster can be read: the copy is kept as .partial.
  RecoverResult tail = vol.Recover(1, out.AsFolderArgument());
  EXPECT_EQ(tail.code, KX_RECOVER_READ_ERROR);
  EXPECT_EQ(std::filesystem::file_size(out.path() / "Deleted" / "_AIL.BIN.partial"), 512u);
  EXPECT_FALSE(std::filesystem::exists(out.path() / "Deleted" / "_AIL.BIN"));
}

}  // namespace
}  // namespace kestrel::test
