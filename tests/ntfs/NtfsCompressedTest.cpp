// Compressed and encrypted streams: the real images ntfs-3g wrote
// compressed (tests/fixtures/make_ntfs_compressed.sh) listed and recovered
// byte-exact, against their sha256 and The Sleuth Kit's icat, and a
// hand-built stream for damaged units, the initialized size and the
// encrypted refusal.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/StopFlag.h"
#include "kernel/ntfs/DataStream.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/NtfsRecovery.h"
#include "kernel/os/Os.h"
#include "tests/ntfs/NtfsTestImage.h"
#include "tests/support/TestSupport.h"

namespace kestrel::ntfs {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;
using test::EncodeRuns;
using test::FileTimeOf;
using test::NtfsTestImage;

Bytes ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Lines of a fixture side file, split at tabs.
std::vector<std::vector<std::string>> SideFile(const std::string& name) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(test::FixtureDir() / name);
  for (std::string line; std::getline(in, line);) {
    std::vector<std::string> row;
    std::stringstream fields(line);
    for (std::string f; std::getline(fields, f, '\t');) row.push_back(f);
    rows.push_back(row);
  }
  return rows;
}

class CompressedImage : public ::testing::TestWithParam<const char*> {};

TEST_P(CompressedImage, ListedAndRecoveredAsIcatReadsThem) {
  const std::string name = GetParam();
  fs::path image = test::RequireImage(name);
  if (image.empty()) return;
  std::vector<test::ManifestEntry> manifest = test::ReadManifest(name);
  std::map<std::string, std::string> icat;
  for (const auto& row : SideFile(name + ".icat"))
    if (row.size() == 2) icat[row[0]] = row[1];
  ASSERT_EQ(icat.size(), manifest.size());

  test::MountedKernel kernel({{u'P', test::KernelPath(image)}});
  test::ScanAndWait(u"P:", KESTREL_FS_NTFS);
  std::map<std::string, DelItem> items;
  for (const DelItem& item : test::AllItems()) items[test::Utf8(item.path)] = item;
  EXPECT_EQ(items.size(), manifest.size());
  test::TempDir out;
  for (const test::ManifestEntry& entry : manifest) {
    std::string listed = "P:\\Deleted\\" + entry.path;
    for (char& c : listed)
      if (c == '/') c = '\\';
    auto found = items.find(listed);
    ASSERT_NE(found, items.end()) << entry.path;
    EXPECT_EQ(found->second.size, entry.size) << entry.path;
    EXPECT_EQ(found->second.modified, test::LocalTime(FileTimeOf(entry.mtime))) << entry.path;
    KX_ItemInfo info{};
    info.size = sizeof info;
    ASSERT_EQ(KX_GetDelItemInfo(found->second.idLow, found->second.idHigh, &info), 1);
    // Every file here was made in the compressed folder, resident ones too.
    EXPECT_TRUE(info.flags & KX_FLAG_COMPRESSED) << entry.path;
    EXPECT_EQ(SH_RecoveryFile(test::K(out.AsFolderArgument()), found->second.idLow, found->second.idHigh), 1)
        << entry.path;
    const std::string sum = test::Sha256File(out.path() / "Deleted" / fs::u8path(entry.path));
    EXPECT_EQ(sum, entry.sha256) << entry.path;
    EXPECT_EQ(sum, icat[entry.path]) << entry.path;
  }
}

// big.txt, kept (ntfs-3g cannot leave such a file deleted and whole, see
// the fixture script), is read through its record: its runs fill several
// extents, and at 4 KiB clusters it is larger than one copy block.
TEST_P(CompressedImage, AStreamOverSeveralExtentsReadsWhole) {
  const std::string name = GetParam();
  fs::path image = test::RequireImage(name);
  if (image.empty()) return;
  auto rows = SideFile(name + ".extents");
  ASSERT_EQ(rows.size(), 1u);
  ASSERT_EQ(rows[0].size(), 4u);
  EXPECT_EQ(rows[0][2], rows[0][3]) << "icat reads it whole";
  const uint64_t number = std::stoull(rows[0][0]);
  const uint64_t size = std::stoull(rows[0][1]);

  ASSERT_TRUE(os::MapVolume(u'P', test::KernelPath(image)));
  {
    CNTFSVolume volume(u'P');
    ASSERT_TRUE(volume.IsUsable());
    CFileRecord record(&volume);
    ASSERT_TRUE(record.LoadFileRecord(number));
    record.SetTypeMask(kMaskData);
    ASSERT_TRUE(record.BuildAttributes());
    EXPECT_GE(record.AttributeList(TypeIndex(kAttrData))->Count(), 2u);
    EXPECT_EQ(ClassifyDataStream(record), StreamKind::Compressed);
    CAttrBase* data = record.LookupDataStream(nullptr);
    ASSERT_NE(data, nullptr);
    ASSERT_EQ(data->GetValueSize(nullptr), size);
    // Reads of an odd size, so most of them start and end inside a unit.
    Bytes all(size), piece(100003);
    for (uint64_t at = 0; at < size; at += piece.size()) {
      uint64_t got = 0;
      ASSERT_TRUE(data->ReadBytes(at, piece.data(), piece.size(), got));
      ASSERT_EQ(got, std::min<uint64_t>(piece.size(), size - at));
      std::copy(piece.begin(), piece.begin() + static_cast<std::ptrdiff_t>(got), all.begin() + static_cast<std::ptrdiff_t>(at));
    }
    EXPECT_EQ(test::Sha256Hex(all.data(), all.size()), rows[0][2]);
    EXPECT_FALSE(HadCorruptUnits(data));

    test::TempDir out;
    ClearStop();  // as SH_RecoveryFile does; an earlier SH_UnInit leaves it set
    EXPECT_EQ(RecoverNtfsItem(volume, out.AsFolderArgument(), number), 1);
    std::vector<fs::path> written;
    for (const auto& e : fs::recursive_directory_iterator(out.path()))
      if (e.is_regular_file()) written.push_back(e.path());
    ASSERT_EQ(written.size(), 1u);
    EXPECT_EQ(test::Sha256File(written[0]), rows[0][2]);
  }
  os::MapVolume(u'P', u"");
}

INSTANTIATE_TEST_SUITE_P(Clusters, CompressedImage,
                         ::testing::Values("ntfs_comp_c512", "ntfs_comp_c2k", "ntfs_comp_c4k"));

// ---- a hand-built compressed stream (4 KiB clusters, 64 KiB units) ----

constexpr uint64_t kUnit = 65536;

Bytes Pattern(size_t size, uint8_t seed) {
  Bytes out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 13 + (i >> 8));
  return out;
}

struct HandBuilt {
  NtfsTestImage image;
  Bytes expected;  // what a whole read gives (the damaged unit as zeros)
  uint64_t size = 0;
};

// Unit 0 compressed ("abc" repeated), unit 1 compressed but damaged, unit
// 2 stored (all 16 clusters allocated), unit 3 sparse, unit 4 the stream's
// last 8000 bytes, stored in the 2 clusters the runs end with.
HandBuilt MakeVolume() {
  HandBuilt h;
  h.size = 4 * kUnit + 8000;
  const Bytes good = {0x05, 0xB0, 0x08, 'a', 'b', 'c', 0x06, 0x20};
  const Bytes bad = {0x02, 0xB0, 0x01, 0x00, 0x00};  // a reference before any output
  h.image.PutClusters(100, good);
  h.image.PutClusters(101, bad);
  const Bytes stored = Pattern(kUnit, 3);
  h.image.PutClusters(102, stored);
  const Bytes tail = Pattern(8192, 9);
  h.image.PutClusters(118, tail);
  h.expected.assign(h.size, 0);
  for (size_t i = 0; i < 12; ++i) h.expected[i] = static_cast<uint8_t>("abc"[i % 3]);
  std::copy(stored.begin(), stored.end(), h.expected.begin() + 2 * kUnit);
  std::copy(tail.begin(), tail.begin() + 8000, h.expected.begin() + 4 * kUnit);

  const Bytes runs = EncodeRuns({{1, 100}, {15, -1}, {1, 101}, {15, -1}, {16, 102}, {16, -1}, {2, 118}});
  auto file = [&](uint64_t n, const std::u16string& name, uint16_t flags, uint8_t unitLog,
                  uint64_t initialized) {
    h.image.PutRecord(n, h.image.Record(0)
                             .StdInfo(FileTimeOf(1), 0x0820)
                             .FileName(5, name, 1, h.size)
                             .FlaggedData(runs, 65, h.size, flags, unitLog, initialized));
  };
  file(20, u"damaged.bin", 0x0001, 4, h.size);
  file(21, u"short.bin", 0x0001, 4, kUnit + 100);
  file(22, u"badunit.bin", 0x0001, 0, h.size);
  file(23, u"efs.bin", 0x4000, 0, h.size);
  return h;
}

struct Loaded {
  std::unique_ptr<CNTFSVolume> volume;
  std::unique_ptr<CFileRecord> record;
  CAttrNonResident* data = nullptr;
};

Loaded Load(NtfsTestImage& image, uint64_t n) {
  Loaded l;
  l.volume = std::make_unique<CNTFSVolume>(
      std::make_unique<test::MemoryDevice>(image.bytes(), image.layout().sectorBytes));
  l.record = std::make_unique<CFileRecord>(l.volume.get());
  EXPECT_TRUE(l.record->LoadFileRecord(n));
  l.record->SetTypeMask(kMaskData | kMaskFirstLook);
  EXPECT_TRUE(l.record->BuildAttributes());
  l.data = dynamic_cast<CAttrNonResident*>(l.record->LookupDataStream(nullptr));
  return l;
}

Bytes ReadInSteps(CAttrBase* data, uint64_t size, uint64_t step) {
  Bytes all(size);
  for (uint64_t at = 0; at < size; at += step) {
    uint64_t got = 0;
    EXPECT_TRUE(data->ReadBytes(at, all.data() + at, std::min(step, size - at), got)) << at;
  }
  return all;
}

TEST(CompressedStream, ADamagedUnitReadsAsZerosAndTheRestComesBack) {
  HandBuilt h = MakeVolume();
  Loaded l = Load(h.image, 20);
  ASSERT_NE(l.data, nullptr);
  EXPECT_EQ(ClassifyDataStream(*l.record), StreamKind::Compressed);
  EXPECT_EQ(ReadInSteps(l.data, h.size, 7001), h.expected);
  EXPECT_TRUE(HadCorruptUnits(l.data));
  EXPECT_EQ(l.data->FirstCorruptOffset(), kUnit);
  EXPECT_NE(CorruptUnitsReason(l.data).find(u"from byte 65536"), std::u16string::npos);
  // The sparse unit is a hole, the stored ones are not; the bytes do not
  // lie on the volume as they are.
  EXPECT_EQ(l.data->HoleBytesAt(3 * kUnit + 5, 1 << 20), kUnit - 5);
  EXPECT_EQ(l.data->HoleBytesAt(0, 1 << 20), 0u);
  std::vector<CAttrNonResident::Extent> pieces;
  EXPECT_FALSE(l.data->MapExtents(0, 4096, pieces));

  // Recovery writes everything but is not whole: it stays partial.
  test::TempDir out;
  ClearStop();
  EXPECT_EQ(RecoverNtfsItem(*l.volume, out.AsFolderArgument(), 20), 0);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "damaged.bin.partial"), h.expected);
}

TEST(CompressedStream, InitializedSizeUnusableUnitsAndEncryption) {
  HandBuilt h = MakeVolume();
  {
    Loaded l = Load(h.image, 21);
    Bytes expected = h.expected;
    std::fill(expected.begin() + kUnit + 100, expected.end(), 0);
    EXPECT_EQ(ReadInSteps(l.data, h.size, 50000), expected);
    EXPECT_EQ(l.data->HoleBytesAt(kUnit + 100, 300000), h.size - kUnit - 100);
  }
  {
    // Flagged compressed without a unit size: every unit is damaged.
    Loaded l = Load(h.image, 22);
    EXPECT_EQ(ReadInSteps(l.data, h.size, 1 << 20), Bytes(h.size, 0));
    EXPECT_EQ(l.data->CorruptUnits(), 5u);
  }
  {
    // Encrypted by the stream's own flag: nothing is written at all.
    Loaded l = Load(h.image, 23);
    EXPECT_EQ(ClassifyDataStream(*l.record), StreamKind::Encrypted);
    test::TempDir out;
    EXPECT_EQ(RecoverNtfsItem(*l.volume, out.AsFolderArgument(), 23), 0);
    EXPECT_TRUE(fs::is_empty(out.path()));
  }
}

}  // namespace
}  // namespace kestrel::ntfs
