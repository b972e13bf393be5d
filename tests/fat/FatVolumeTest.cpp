// Layout, FAT entries and the cursors of the FAT volume, on hand-built
// boot sectors and images.
#include <gtest/gtest.h>

#include <vector>

#include "kernel/fat/FatBootSector.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/fat/FatDrive.h"
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
  EXPECT_EQ(with([](auto& b) { put16(&b[0x0B], 1024); }), LayoutResult::Unsupported);
  EXPECT_EQ(with([](auto& b) { put16(&b[0x0B], 4096); }), LayoutResult::Unsupported);
  EXPECT_EQ(with([](auto& b) { put16(&b[0x0B], 0); b[0x0D] = 0; }), LayoutResult::Unsupported);
  EXPECT_EQ(with([](auto& b) { b[0x0D] = 0; }), LayoutResult::Unsupported);
  // Areas claimed past the end of the volume: nothing to subtract from.
  EXPECT_EQ(with([](auto& b) { put16(&b[0x13], 100); }), LayoutResult::Corrupt);
  EXPECT_EQ(with([](auto& b) { put16(&b[0x13], 0); put32(&b[0x20], 0); }), LayoutResult::Corrupt);
  EXPECT_EQ(ReadFatLayout(ByteView(boot.data(), 100), l), LayoutResult::Unsupported);
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
  img.total = 1400;  // 1 + 2*2 + 2 + 1393 clusters: FAT12
  img.spf = 3;
  img.Build();
  // Cluster 341 sits at byte 511 of the first FAT sector: it straddles.
  const uint32_t values[][2] = {{2, 0xABC}, {3, 0x123}, {340, 0x456}, {341, 0xDEF},
                                {342, 0x789}, {1392, 0xFFF}};
  for (const auto& v : values) img.SetFat(v[0], v[1]);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  CFATdrive& d = vol.drive();
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
  CFATdrive& d = vol.drive();
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
    EXPECT_EQ(vol.drive().chainFat, 1);
  }
  {
    FatTestImage img;
    img.Build();
    for (uint32_t c = 2; c <= 16; ++c) img.SetFat(c, c % 2 ? 0xFFF : 0);
    img.SetFat(17, 18);  // beyond the clusters the test looks at
    MappedFatVolume vol(img.Save(dir, "b.img"));
    ASSERT_TRUE(vol.initialised());
    EXPECT_EQ(vol.drive().chainFat, 0);
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
    EXPECT_EQ(vol.drive().chainFat, 0);
  }
}

TEST(FatVolume, UnsupportedBootSectorLeavesNoRootFolder) {
  TempDir dir;
  FatTestImage img;
  img.Build();
  put16(img.bytes.data() + 0x0B, 1024);
  MappedFatVolume vol(img.Save(dir));
  EXPECT_FALSE(vol.initialised());
  EXPECT_EQ(vol.drive().RootFolder(), nullptr);
  EXPECT_FALSE(vol.drive().HasLayout());
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
  c.rootSector = vol.drive().Layout().rootDirFirstSector;
  FatDirEntry e;
  int n = 0;
  while (vol.drive().NextDirEntry(c, &e)) ++n;
  EXPECT_EQ(n, 16);
}

TEST(FatVolume, ReadFileChunkTakesClustersInOrder) {
  FatTestImage img;
  img.Build();
  // A file at clusters 10..12 (a fragmented chain in the FAT is ignored).
  for (uint32_t c = 10; c <= 12; ++c)
    for (int i = 0; i < 512; ++i) img.Cluster(c)[i] = static_cast<uint8_t>(c * 7 + i);
  img.SetFat(10, 50);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  CFATdrive& d = vol.drive();
  std::vector<uint8_t> expect(img.Cluster(10), img.Cluster(10) + 1300);

  for (int pass = 0; pass < 2; ++pass) {  // the second starts on a cached sector
    FileCursor f;
    f.startCluster = f.currentCluster = 10;
    f.size = 1300;
    std::vector<uint8_t> got(1300);
    uint32_t n = 0, total = 0;
    ASSERT_TRUE(d.ReadFileChunk(f, 700, got.data(), n));
    EXPECT_EQ(n, 700u);
    total += n;
    ASSERT_TRUE(d.ReadFileChunk(f, 10000, got.data() + total, n));
    EXPECT_EQ(n, 600u);
    total += n;
    EXPECT_EQ(got, expect) << "pass " << pass;
    EXPECT_EQ(f.currentCluster, 12u);
    ASSERT_TRUE(d.ReadFileChunk(f, 10, got.data(), n));  // at the end: nothing more
    EXPECT_EQ(n, 0u);
    EXPECT_FALSE(d.ReadFileChunk(f, 10, nullptr, n));
  }
  FileCursor empty;
  empty.startCluster = 0;
  uint8_t b[4];
  uint32_t n = 99;
  EXPECT_TRUE(d.ReadFileChunk(empty, 4, b, n));
  EXPECT_EQ(n, 0u);
  // A file claiming more than the volume holds stops at the last cluster.
  FileCursor tail;
  tail.startCluster = d.Layout().clusterCount + 1;
  tail.size = 5000;
  std::vector<uint8_t> big(5000);
  ASSERT_TRUE(d.ReadFileChunk(tail, 5000, big.data(), n));
  EXPECT_EQ(n, 512u);
}

}  // namespace
}  // namespace kestrel::test
