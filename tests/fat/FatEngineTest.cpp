// The FAT engine through the engine interface: the shared contract on every
// FAT fixture (mkfs.fat and mtools, sectors of 512 and 4096 bytes, a
// deleted folder of 300 files beside a live one, files written around live
// ones), the listing against The Sleuth Kit's, and the outcomes of boot
// sectors it must refuse.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <map>
#include <memory>
#include <optional>
#include <set>

#include "kernel/DelItemRegistry.h"
#include "kernel/fat/FatEngine.h"
#include "kernel/fat/FatVolume.h"
#include "tests/fat/FatTestImage.h"
#include "tests/support/EngineContract.h"

namespace kestrel::test {
namespace {

// Deleted regular files `fls -r -d -p` lists (orphans aside); nothing when
// The Sleuth Kit is not installed.
std::optional<std::set<std::string>> FlsDeletedFiles(const std::filesystem::path& image) {
#if defined(_WIN32)
  (void)image;
  return std::nullopt;
#else
  if (std::system("command -v fls >/dev/null 2>&1") != 0) return std::nullopt;
  std::string command = "fls -r -d -p '" + image.string() + "'";
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::set<std::string> files;
  char line[4096];
  while (std::fgets(line, sizeof line, pipe)) {
    std::string text(line);
    if (!text.empty() && text.back() == '\n') text.pop_back();
    const size_t tab = text.find('\t');
    if (tab == std::string::npos || text.compare(1, 3, "/r ") != 0) continue;
    std::string path = text.substr(tab + 1);
    if (path.rfind("$OrphanFiles/", 0) == 0) continue;
    files.insert(path);
  }
  pclose(pipe);
  return files;
#endif
}

class FatFixtures : public ::testing::TestWithParam<const char*> {};

TEST_P(FatFixtures, KeepTheEngineContractAndListWhatTheSleuthKitLists) {
  const std::string name = GetParam();
  auto image = RequireImage(name);
  if (image.empty()) return;
  const EngineEntry* fat = FindEngine("FAT");
  ASSERT_NE(fat, nullptr);
  auto items =
      CheckEngineContract(*fat, image, KESTREL_FS_FAT, ReadManifest(name), ReadExpectations(name));
  ASSERT_FALSE(items.empty());
  auto tsk = FlsDeletedFiles(image);
  if (!tsk) return;
  std::map<std::string, const ContractItem*> ours;
  for (const ContractItem& c : items) ours[c.path] = &c;
  for (const std::string& path : *tsk)
    EXPECT_TRUE(ours.count(path)) << "fls lists, we do not: " << path;
  // What we list beyond it lies in deleted folders: their clusters past the
  // first, and live entries below them.
  size_t beyond = 0;
  for (const auto& [path, c] : ours) {
    if (tsk->count(path)) continue;
    ++beyond;
    EXPECT_TRUE(c->details.flags & KX_FLAG_IN_DELETED_FOLDER) << "only we list: " << path;
  }
  if (name == "fat_folder300") EXPECT_GT(beyond, 250u) << "fls reads the first cluster only";
}

INSTANTIATE_TEST_SUITE_P(Real, FatFixtures,
                         ::testing::Values("fat12", "fat16", "fat32", "fat12_s4k", "fat16_s4k",
                                           "fat32_s4k", "fat_folder300", "fat_gaps",
                                           "fat_gaps_deleted"));

TEST(FatEngine, LargeSectorsAreProbedAndOpenedByTheirType) {
  const std::map<std::string, std::u16string> types = {
      {"fat12_s4k", u"FAT12"}, {"fat16_s4k", u"FAT16"}, {"fat32_s4k", u"FAT32"}};
  for (const auto& [name, type] : types) {
    auto image = RequireImage(name);
    if (image.empty()) return;
    std::vector<uint8_t> lead(4096);
    std::ifstream(image, std::ios::binary).read(reinterpret_cast<char*>(lead.data()), 4096);
    ProbeResult p = fat::Probe(ByteView(lead.data(), lead.size()));
    EXPECT_TRUE(p.outcome.ok()) << name;
    EXPECT_EQ(p.typeName, type) << name;
    EXPECT_EQ(p.sectorBytes, 4096u) << name;
  }
}

TEST(FatEngine, FragmentedFileIsFlaggedAsAGuess) {
  auto image = RequireImage("fat_gaps");
  if (image.empty()) return;
  auto items = CheckEngineContract(*FindEngine("FAT"), image, KESTREL_FS_FAT,
                                   ReadManifest("fat_gaps"), ReadExpectations("fat_gaps"));
  for (const ContractItem& c : items) {
    const bool fragmented = c.path == "Fragmented File.bin";
    EXPECT_EQ((c.details.flags & KX_FLAG_FRAGMENT_GUESS) != 0, fragmented) << c.path;
    if (fragmented) {
      // Of the 7 clusters from its first one on, the 3rd, 4th and 7th (its
      // last, 856 bytes) are in use now.
      EXPECT_EQ(c.details.overwrittenShare, (2 * 1024 + (7000 - 6 * 1024)) * 10000 / 7000);
    }
  }
}

// Probe and open on boot sectors the tools do not make.
TEST(FatEngine, RefusedVolumesSayWhy) {
  TempDir dir;
  auto probe = [](FatTestImage& img) { return fat::Probe(ByteView(img.bytes.data(), 4096)); };
  auto open = [&](FatTestImage& img, const char* name) {
    MappedFatVolume vol(img.Save(dir, name), u'V');
    Outcome o;
    auto engine = fat::Open(LetterSource(u'V'), o);
    EXPECT_EQ(engine == nullptr, !o.ok()) << name;
    return o;
  };
  {
    FatTestImage img;
    img.Build();
    put16(img.bytes.data() + 0x0B, 1000);
    ProbeResult p = probe(img);
    EXPECT_EQ(p.outcome.kind, OutcomeKind::UnsupportedVariant);
    EXPECT_EQ(p.fsKind, KESTREL_FS_FAT) << "listed, so the user is told why it is not scanned";
    EXPECT_EQ(os::ToUtf8(p.outcome.text),
              "FAT volume with 1000-byte sectors: only 512, 1024, 2048 and 4096 are read");
    EXPECT_EQ(open(img, "bps.img").kind, OutcomeKind::UnsupportedVariant);
  }
  {
    FatTestImage img;
    img.Build();
    std::memcpy(img.bytes.data() + 3, "EXFAT   ", 8);
    EXPECT_FALSE(probe(img).Matches()) << "exFAT is the exFAT engine's";
    std::fill(img.bytes.begin(), img.bytes.begin() + 512, 0);
    EXPECT_FALSE(probe(img).Matches());
  }
  {
    FatTestImage img;
    img.Build();
    put16(img.bytes.data() + 0x13, static_cast<uint16_t>(img.total + 1));
    Outcome o = open(img, "long.img");
    EXPECT_EQ(o.kind, OutcomeKind::Damaged);
    EXPECT_EQ(os::ToUtf8(o.text),
              "volume larger than the device: the boot sector claims 102912 bytes");
    put16(img.bytes.data() + 0x13, 4);
    EXPECT_EQ(probe(img).outcome.kind, OutcomeKind::Damaged);
  }
  for (int agree = 0; agree < 2; ++agree) {
    FatTestImage img;
    img.bits = 32;
    img.reserved = 8;
    img.rootEntries = 0;
    img.spf = 600;
    img.total = 8 + 1200 + 66000;
    img.Build();
    put16(img.bytes.data() + 0x32, 6);
    std::memcpy(img.Sector(6), img.bytes.data(), 512);
    if (!agree) img.Sector(6)[0x0D] = 2;  // another cluster size
    Outcome o = open(img, agree ? "same.img" : "differ.img");
    if (agree) {
      EXPECT_TRUE(o.ok()) << os::ToUtf8(o.text);
    } else {
      EXPECT_EQ(o.kind, OutcomeKind::Damaged);
      EXPECT_EQ(os::ToUtf8(o.text), "boot sector and backup disagree");
    }
  }
  // A device that cannot be opened at all.
  VolumeSource nothing;
  nothing.open = [] { return std::unique_ptr<os::Device>(); };
  Outcome o;
  EXPECT_EQ(fat::Open(nothing, o), nullptr);
  EXPECT_EQ(o.kind, OutcomeKind::ReadError);
}

// The map and cluster layout the other scan modes take from the engine.
TEST(FatEngine, AllocationNamesTheDataClustersWhereTheyLie) {
  FatTestImage img;
  img.spc = 2;
  img.Build();
  img.SetFat(5, 0xFFF);
  std::memcpy(img.Cluster(7), "seven", 5);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_NE(vol.engine(), nullptr);
  AllocationMap map;
  ClusterLayout layout;
  ASSERT_TRUE(vol.engine()->Allocation(map, layout));
  EXPECT_EQ(map.FirstCluster(), 2u);
  EXPECT_EQ(map.Clusters(), (img.total - img.FirstDataSector()) / 2);
  EXPECT_TRUE(map.InUse(5));
  EXPECT_FALSE(map.InUse(7));
  EXPECT_EQ(layout.clusterBytes, 1024u);
  const uint64_t at = layout.firstClusterByte + (7 - map.FirstCluster()) * layout.clusterBytes;
  EXPECT_EQ(std::memcmp(img.bytes.data() + at, "seven", 5), 0);
}

// The map read in large pieces says "in use" exactly where the FAT entry
// read one by one is not 0, FAT12 entries across sector ends included.
TEST(FatEngine, AllocationMapAgreesWithEveryFatEntry) {
  TempDir dir;
  uint32_t seed = 99;
  for (int bits : {12, 16, 32}) {
    SCOPED_TRACE(bits);
    FatTestImage img;
    img.bits = bits;
    if (bits == 12) {
      img.total = 1400;
      img.spf = 5;
    }
    if (bits == 16) {
      img.total = 1 + 2 * 40 + 2 + 5000;
      img.spf = 40;
    }
    if (bits == 32) {
      img.rootEntries = 0;
      img.spf = 600;
      img.total = 1 + 1200 + 66000;
    }
    img.Build();
    const uint32_t clusters = img.total - img.FirstDataSector();
    for (uint32_t c = 2; c < clusters + 2; ++c) {
      seed = seed * 1103515245u + 12345u;
      img.SetFat(c, (seed >> 16) % 3 == 0 ? (seed >> 8) | 1 : 0);
    }
    img.SetFat(341, 0xDEF);  // straddles the first FAT12 sector's end
    img.SetFat(342, 0);
    MappedFatVolume vol(img.Save(dir, "map" + std::to_string(bits) + ".img"));
    ASSERT_TRUE(vol.initialised());
    AllocationMap map = vol.volume().ReadAllocationMap();
    ASSERT_TRUE(map.Known());
    ASSERT_EQ(map.Clusters(), clusters);
    uint32_t mismatches = 0;
    for (uint32_t c = 2; c < clusters + 2; ++c)
      mismatches += map.InUse(c) != (vol.volume().GetFatEntry(c, 0) != 0);
    EXPECT_EQ(mismatches, 0u);
    EXPECT_TRUE(map.InUse(341));
    EXPECT_FALSE(map.InUse(342));
  }
}

}  // namespace
}  // namespace kestrel::test
