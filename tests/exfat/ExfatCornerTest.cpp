// What the tools cannot make, put by hand into a volume mkfs.exfat made:
// damaged boot regions, and entry sets with a bad checksum, one that runs
// past the end of its folder, clusters beyond the volume, a folder that
// points back at the root, and a valid data length short of the size.
#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/exfat/ExfatBootSector.h"
#include "kernel/exfat/ExfatDirEntry.h"
#include "kernel/exfat/ExfatUpcase.h"
#include "kernel/os/Os.h"
#include "tests/exfat/ExfatTestSupport.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

using exfat::ExfatBoot;

struct Blank {
  std::vector<uint8_t> bytes;
  ExfatBoot boot;
  uint64_t Cluster(uint32_t n) const { return boot.ClusterByte(n); }
};

bool LoadBlank(Blank& blank) {
  std::filesystem::path image = RequireImage("exfat.blank");
  if (image.empty()) return false;
  blank.bytes = ReadWholeFile(image);
  EXPECT_TRUE(exfat::ParseBootSector(ByteView(blank.bytes.data(), 512), blank.boot).ok());
  return true;
}

// A file or folder entry set; `deleted` clears every in-use bit.
std::vector<uint8_t> EntrySetBytes(const std::u16string& name, bool deleted, bool folder,
                                   uint32_t firstCluster, uint64_t size, uint64_t validSize,
                                   uint8_t streamFlags = 0x03) {
  const size_t nameEntries = (name.size() + 14) / 15;
  std::vector<uint8_t> set((2 + nameEntries) * 32, 0);
  set[0] = 0x85;
  set[1] = static_cast<uint8_t>(1 + nameEntries);
  put16(&set[4], folder ? 0x10 : 0x20);
  put32(&set[12], (40u << 25) | (6u << 21) | (15u << 16) | (12u << 11));  // 2020-06-15 12:00
  set[23] = 0x80;  // UTC
  set[32] = 0xC0;
  set[33] = streamFlags;
  set[35] = static_cast<uint8_t>(name.size());
  put64(&set[40], validSize);
  put32(&set[52], firstCluster);
  put64(&set[56], size);
  for (size_t i = 0; i < name.size(); ++i) {
    set[64 + (i / 15) * 32] = 0xC1;
    put16(&set[64 + (i / 15) * 32 + 2 + (i % 15) * 2], name[i]);
  }
  put16(&set[2], exfat::SetChecksum(ByteView(set.data(), set.size())));
  if (deleted)
    for (size_t i = 0; i < set.size(); i += 32) set[i] &= 0x7F;
  return set;
}

void Put(std::vector<uint8_t>& bytes, uint64_t at, const std::vector<uint8_t>& what) {
  std::copy(what.begin(), what.end(), bytes.begin() + static_cast<ptrdiff_t>(at));
}

// The first free entry of the root folder's first cluster.
uint64_t RootEnd(const Blank& blank) {
  uint64_t at = blank.Cluster(blank.boot.rootCluster);
  while (blank.bytes[at] != 0) at += 32;
  return at;
}

class ExfatCorner : public ::testing::Test {
 protected:
  void TearDown() override { ClearExfatMappings(); }
};

TEST_F(ExfatCorner, DamagedSetsAreSkippedAndOutsideClustersFailCleanly) {
  Blank blank;
  if (!LoadBlank(blank)) return;
  const uint32_t free = blank.boot.rootCluster + 40;  // well past what mkfs used
  const uint32_t beyond = blank.boot.clusterCount + 100;
  uint64_t at = RootEnd(blank);
  auto add = [&](std::vector<uint8_t> set) {
    Put(blank.bytes, at, set);
    at += set.size();
  };
  // Whole, with bytes past its valid length that must come back as zeros.
  add(EntrySetBytes(u"good.txt", true, false, free, 1000, 600));
  std::fill_n(blank.bytes.begin() + static_cast<ptrdiff_t>(blank.Cluster(free)), 1000, 0xAB);
  std::vector<uint8_t> bad = EntrySetBytes(u"bad.txt", true, false, free, 10, 10);
  bad[70] ^= 1;  // a name unit changed after the checksum
  add(bad);
  add(EntrySetBytes(u"far.txt", true, false, beyond, 5000, 5000));
  add(EntrySetBytes(u"fardir", true, true, beyond, 4096, 4096));
  // A live folder whose cluster is the root's: read once, not forever.
  add(EntrySetBytes(u"loop", false, true, blank.boot.rootCluster, 4096, 4096, 0x01));
  // A set at the end of the root's cluster claiming more entries than are left.
  std::vector<uint8_t> cut = EntrySetBytes(u"cut.txt", true, false, free, 10, 10);
  const uint64_t last = blank.Cluster(blank.boot.rootCluster) + blank.boot.ClusterBytes() - 32;
  blank.bytes[last] = 0x05;
  blank.bytes[last + 1] = cut[1];

  OpenedExfat opened = OpenExfatBytes(u'X', blank.bytes);
  ASSERT_TRUE(opened.engine);
  std::vector<ScannedItem> items;
  ASSERT_TRUE(ScanAll(*opened.engine, items).ok());
  ASSERT_EQ(items.size(), 2u);
  EXPECT_EQ(items[0].path, u"X:\\Deleted\\good.txt");
  EXPECT_EQ(items[0].details.state, KX_STATE_INTACT);
  EXPECT_EQ(items[0].details.modified, 132366960000000000ull);  // 2020-06-15 12:00 UTC
  EXPECT_EQ(items[1].path, u"X:\\Deleted\\far.txt");
  EXPECT_EQ(items[1].details.state, KX_STATE_OVERWRITTEN);

  TempDir out;
  ItemWriter writer(out.AsFolderArgument());
  RecoverResult result = opened.engine->Recover(items[0].id, writer);
  ASSERT_TRUE(result.ok()) << os::ToUtf8(result.text);
  std::vector<uint8_t> expected(1000, 0);
  std::fill_n(expected.begin(), 600, 0xAB);
  EXPECT_EQ(ReadWholeFile(HostPath(writer.OutputPath())), expected);
  EXPECT_EQ(opened.engine->Recover(items[1].id, writer).code, KX_RECOVER_CORRUPT);
}

TEST_F(ExfatCorner, BootRegionOutcomes) {
  Blank blank;
  if (!LoadBlank(blank)) return;
  const size_t sector = blank.boot.SectorBytes();
  const size_t backup = sector * exfat::kBootRegionSectors;

  // The main region damaged: the backup serves.
  std::vector<uint8_t> bytes = blank.bytes;
  bytes[sector + 5] ^= 0xFF;
  EXPECT_TRUE(OpenExfatBytes(u'X', bytes).engine);

  // Both damaged.
  bytes[backup + sector + 5] ^= 0xFF;
  OpenedExfat opened = OpenExfatBytes(u'X', bytes);
  EXPECT_FALSE(opened.engine);
  EXPECT_EQ(opened.outcome.kind, OutcomeKind::Damaged);
  EXPECT_EQ(opened.outcome.text, u"boot checksum does not match");

  // Both whole, telling different layouts.
  bytes = blank.bytes;
  put32(&bytes[backup + 0x5C], blank.boot.clusterCount - 1);
  const uint32_t sum = exfat::BootChecksum(ByteView(bytes.data() + backup, backup), sector);
  for (size_t i = 0; i < sector; i += 4) put32(&bytes[backup + 11 * sector + i], sum);
  opened = OpenExfatBytes(u'X', bytes);
  EXPECT_FALSE(opened.engine);
  EXPECT_EQ(opened.outcome.text, u"boot sector and backup disagree");

  // An image cut short.
  bytes = blank.bytes;
  bytes.resize(bytes.size() / 2);
  opened = OpenExfatBytes(u'X', bytes);
  EXPECT_FALSE(opened.engine);
  EXPECT_EQ(opened.outcome.kind, OutcomeKind::Damaged);
  EXPECT_EQ(opened.outcome.text, u"volume larger than the device");

  // Sectors of 8 KiB are no exFAT: recognised, not read.
  bytes = blank.bytes;
  bytes[0x6C] = 13;
  opened = OpenExfatBytes(u'X', bytes);
  EXPECT_EQ(opened.probe.typeName, u"exFAT");
  EXPECT_EQ(opened.probe.outcome.kind, OutcomeKind::UnsupportedVariant);
  EXPECT_FALSE(opened.engine);
}

// The table mkfs.exfat writes (compressed) checks, maps as Windows does,
// and hashes the names exfat-fuse wrote as exfat-fuse did.
TEST(ExfatUpcase, TableOfMkfsHashesNamesAsTheDriverDid) {
  std::filesystem::path image = RequireImage("exfat");
  if (image.empty()) return;
  const std::vector<uint8_t> bytes = ReadWholeFile(image);
  ExfatBoot boot;
  ASSERT_TRUE(exfat::ParseBootSector(ByteView(bytes.data(), 512), boot).ok());
  ByteView root(bytes.data() + boot.ClusterByte(boot.rootCluster), boot.ClusterBytes());
  exfat::UpcaseTable table;
  int hashed = 0;
  for (size_t at = 0; root.Has(at, 32) && root.u8(at) != 0; at += 32) {
    if (root.u8(at) == exfat::kTypeUpcase) {
      ByteView raw(bytes.data() + boot.ClusterByte(root.u32(at + 20)), root.u64(at + 24));
      ASSERT_TRUE(table.Load(raw, root.u32(at + 4)));
      EXPECT_FALSE(table.Load(raw, root.u32(at + 4) ^ 1));
      ASSERT_TRUE(table.Load(raw, root.u32(at + 4)));
    }
    exfat::EntrySet set;
    if (table.Loaded() && exfat::ReadEntrySet(root.From(at), set) == exfat::SetStatus::Ok) {
      EXPECT_EQ(table.NameHash(set.name), set.nameHash) << os::ToUtf8(set.name);
      ++hashed;
    }
  }
  EXPECT_GT(hashed, 4);
  EXPECT_EQ(table.Upper(u'a'), u'A');
  EXPECT_EQ(table.Upper(u'\u00e4'), u'\u00c4');
  EXPECT_EQ(table.Upper(u'\u4e2d'), u'\u4e2d');
}

}  // namespace
}  // namespace kestrel::test
