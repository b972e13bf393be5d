// Real FAT12/16/32 images made by mkfs.fat and mtools, scanned and
// recovered through the exports and compared with the builders' records.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <map>
#include <set>
#include <sstream>

#include "tests/fat/FatTestImage.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

constexpr uint64_t kUnixEpochAsFileTime = 11644473600ull;

std::string ItemPathFor(const std::string& letter, const std::string& manifestPath) {
  std::string p = letter + ":\\Deleted\\" + manifestPath;
  std::replace(p.begin(), p.end(), '/', '\\');
  return p;
}

std::map<std::string, DelItem> ItemsByPath() {
  std::map<std::string, DelItem> out;
  for (const DelItem& item : AllItems()) {
    EXPECT_TRUE(out.emplace(Utf8(item.path), item).second) << "listed twice: " << Utf8(item.path);
  }
  return out;
}

// Scans the mapped volume and checks paths, sizes, times and messages
// against the manifest.
void ExpectScanMatches(const std::vector<ManifestEntry>& manifest, const std::string& letter) {
  MessageCollector sink;
  std::u16string volume = U16(letter + ":");
  std::u16string prefix = volume + u"\\";
  SH_Scan(K(prefix), K(volume), KESTREL_FS_FAT, sink.window());
  ASSERT_TRUE(sink.WaitForClose());
  SH_StopTask();
  EXPECT_EQ(sink.CloseCount(), 1);

  auto items = ItemsByPath();
  EXPECT_EQ(items.size(), manifest.size());
  std::set<uint32_t> ids;
  for (const auto& m : manifest) {
    auto it = items.find(ItemPathFor(letter, m.path));
    if (it == items.end()) {
      ADD_FAILURE() << "not listed: " << m.path;
      continue;
    }
    EXPECT_EQ(it->second.size, m.size) << m.path;
    EXPECT_EQ(it->second.modified, (uint64_t(m.mtime) + kUnixEpochAsFileTime) * 10000000ull)
        << m.path;
    EXPECT_EQ(it->second.idHigh, 0u);
    ids.insert(it->second.idLow);
  }
  EXPECT_EQ(ids.size(), items.size()) << "ids are unique";
  // Every file in any folder is announced, counted 1, 2, 3, ...
  std::vector<uintptr_t> expected;
  for (size_t i = 1; i <= manifest.size(); ++i) expected.push_back(i);
  EXPECT_EQ(sink.FoundCounts(), expected);
}

void ExpectRecoveryMatches(const std::vector<ManifestEntry>& manifest, const std::string& letter) {
  auto items = ItemsByPath();
  TempDir out;
  std::u16string folder = out.AsFolderArgument();
  for (const auto& m : manifest) {
    auto it = items.find(ItemPathFor(letter, m.path));
    if (it == items.end()) continue;  // reported by the scan check
    ASSERT_EQ(SH_RecoveryFile(K(folder), it->second.idLow, it->second.idHigh), 1) << m.path;
    auto written = out.path() / "Deleted" / std::filesystem::u8path(m.path);
    ASSERT_TRUE(std::filesystem::is_regular_file(written)) << written;
    EXPECT_EQ(std::filesystem::file_size(written), m.size) << m.path;
    EXPECT_EQ(Sha256File(written), m.sha256) << m.path;
  }
}

// The listed volume with this name ("F:"); other drives come first on
// Windows, where real volumes are listed too.
bool FindPartition(const std::string& name, PartitionParameter& out) {
  for (int i = 0; i < SH_GetPartitionCount(); ++i) {
    PartitionParameter p{};
    if (SH_GetPartitionParameter(&p, i) == 1 && Utf8(p.name) == name) {
      out = p;
      return true;
    }
  }
  return false;
}

class FatImages : public ::testing::TestWithParam<const char*> {};

TEST_P(FatImages, ScanListsExactlyTheDeletedFiles) {
  auto image = RequireImage(GetParam());
  if (image.empty()) return;
  MountedKernel kernel({{u'F', KernelPath(image)}});
  PartitionParameter p{};
  ASSERT_TRUE(FindPartition("F:", p));
  EXPECT_EQ(p.fsKind, KESTREL_FS_FAT);
  ExpectScanMatches(ReadManifest(GetParam()), "F");
}

TEST_P(FatImages, RecoveryWritesTheDeletedBytes) {
  auto image = RequireImage(GetParam());
  if (image.empty()) return;
  MountedKernel kernel({{u'F', KernelPath(image)}});
  ScanAndWait(u"F:", KESTREL_FS_FAT);
  auto manifest = ReadManifest(GetParam());
  ExpectRecoveryMatches(manifest, "F");
  // A second recovery writes the same bytes again; ids not found fail.
  TempDir again;
  std::u16string folder = again.AsFolderArgument();
  DelItem item{};
  ASSERT_EQ(SH_GetDelItemFromIndex(0, &item), 1);
  ASSERT_EQ(SH_RecoveryFile(K(folder), item.idLow, 0), 1);
  ASSERT_EQ(SH_RecoveryFile(K(folder), item.idLow, 0), 1);
  std::string rel = Utf8(item.path).substr(std::string("F:\\Deleted\\").size());
  std::replace(rel.begin(), rel.end(), '\\', '/');
  auto m = std::find_if(manifest.begin(), manifest.end(),
                        [&](const ManifestEntry& e) { return e.path == rel; });
  ASSERT_NE(m, manifest.end());
  EXPECT_EQ(Sha256File(again.path() / "Deleted" / std::filesystem::u8path(rel)), m->sha256);
  EXPECT_EQ(SH_RecoveryFile(K(folder), 100000, 0), 0);
  EXPECT_EQ(SH_RecoveryFile(K(folder), item.idLow, 1), 0);
  EXPECT_EQ(SH_RecoveryFile(nullptr, item.idLow, 0), 0);

  // A new scan of the same volume rebuilds its tree: recoveries after it
  // must find the new scan's files, not the ones recovered above.
  ScanAndWait(u"F:", KESTREL_FS_FAT);
  ExpectRecoveryMatches(manifest, "F");
}

INSTANTIATE_TEST_SUITE_P(Real, FatImages, ::testing::Values("fat12", "fat16", "fat32"));

TEST(FatPartitioned, EachFatPartitionScansThroughAnOffsetMapping) {
  auto image = RequireImage("fat_partitioned");
  if (image.empty()) return;
  std::ifstream layout(FixtureDir() / "fat_partitioned.layout");
  std::string line;
  int index = 0;
  while (std::getline(layout, line)) {
    std::istringstream fields(line);
    uint64_t first = 0, count = 0;
    ASSERT_TRUE(fields >> first >> count) << line;
    SCOPED_TRACE("partition " + std::to_string(index));
    std::string spec = "@" + std::to_string(first * 512) + "+" + std::to_string(count * 512);
    MountedKernel kernel({{u'G', KernelPath(image) + U16(spec)}});
    auto manifest = ReadManifest("fat_partitioned_" + std::to_string(index));
    ASSERT_FALSE(manifest.empty());
    ExpectScanMatches(manifest, "G");
    ExpectRecoveryMatches(manifest, "G");
    ++index;
  }
  EXPECT_EQ(index, 3);
}

TEST(FatExports, EveryFileIsAnnouncedInWalkOrder) {
  FatTestImage img;
  img.total = 400;
  img.Build();
  uint8_t* r = img.Root();
  FatTestImage::Short(r, "\xE5" "NE     TXT", 0x20, 10, 3), r += 32;
  FatTestImage::Short(r, "SUB        ", 0x10, 3), r += 32;
  FatTestImage::Short(r, "\xE5" "WO     TXT", 0x20, 11, 3), r += 32;
  FatTestImage::Short(r, "\xE5" "HREE   TXT", 0x20, 12, 3), r += 32;
  img.SetFat(3, 0xFFF);
  img.Dots(3, 0);
  FatTestImage::Short(img.Cluster(3) + 64, "\xE5" "N1     TXT", 0x20, 13, 3);
  FatTestImage::Short(img.Cluster(3) + 96, "\xE5" "N2     TXT", 0x20, 14, 3);
  TempDir dir;
  auto path = img.Save(dir);
  MountedKernel kernel({{u'T', KernelPath(path)}});
  auto messages = ScanAndWait(u"T:", KESTREL_FS_FAT);
  std::vector<uintptr_t> counts;
  for (const auto& m : messages)
    if (m.message == KESTREL_WM_SCAN_FOUND_COUNT) counts.push_back(m.wParam);
  EXPECT_EQ(counts, (std::vector<uintptr_t>{1, 2, 3, 4, 5}));
  EXPECT_EQ(SH_GetDelItemCount(), 5);
  DelItem item{};
  ASSERT_EQ(SH_GetDelItemFromIndex(1, &item), 1);
  EXPECT_EQ(Utf8(item.path), "T:\\Deleted\\SUB\\_N1.TXT") << "depth-first order";
  EXPECT_EQ(item.idLow, 1u);
}

// A FAT volume the engine will not walk is still listed as FAT; its scan
// ends at once with no items, and the last scan's outcome says why.
// (exFAT is not the FAT engine's: see FatEngine.RefusedVolumesSayWhy.)
TEST(FatExports, UnreadableLayoutEndsWithCloseNoItemsAndItsReason) {
  TempDir dir;
  for (int variant = 0; variant < 2; ++variant) {
    SCOPED_TRACE(variant);
    FatTestImage img;
    img.Build();
    if (variant == 0) put16(img.bytes.data() + 0x13, static_cast<uint16_t>(img.total + 100));
    else put16(img.bytes.data() + 0x0B, 1000);  // no sector size FAT has
    img.Short(img.Root(), "\xE5" "NE     TXT", 0x20, 10, 3);
    auto path = img.Save(dir, "v" + std::to_string(variant) + ".img");
    MountedKernel kernel({{u'U', KernelPath(path)}});
    PartitionParameter p{};
    ASSERT_TRUE(FindPartition("U:", p));
    EXPECT_EQ(p.fsKind, KESTREL_FS_FAT);
    auto messages = ScanAndWait(u"U:", KESTREL_FS_FAT);
    ASSERT_EQ(messages.size(), 1u);
    EXPECT_EQ(messages[0].message, KESTREL_WM_CLOSE);
    EXPECT_EQ(SH_GetDelItemCount(), 0);
    KChar text[200] = {};
    const int code = KX_GetLastScanStatus(text, 200);
    EXPECT_EQ(code, variant == 0 ? KX_SCAN_DAMAGED : KX_SCAN_UNSUPPORTED_VARIANT);
    EXPECT_NE(Utf8(text).find(variant == 0 ? "volume larger than the device" : "1000-byte sectors"),
              std::string::npos)
        << Utf8(text);
    TempDir out;
    EXPECT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), 0, 0), 0);
  }
}

}  // namespace
}  // namespace kestrel::test
