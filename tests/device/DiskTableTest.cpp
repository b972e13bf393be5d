// Partition tables of whole-disk images made by sfdisk, through the export
// the command-line tool and the desktop program use.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

struct Table {
  int count = -2;
  std::string note;
  std::vector<KX_PartitionInfo> parts;
};

Table Read(const std::string& image) {
  Table t;
  auto path = RequireImage(image);
  if (path.empty()) return t;
  std::vector<KX_PartitionInfo> parts(8);
  for (auto& p : parts) p.size = sizeof p;
  KChar note[200];
  t.count = KX_ReadPartitionTable(K(KernelPath(path)), parts.data(), 8, note, 200);
  t.note = Utf8(note);
  if (t.count > 0) parts.resize(static_cast<size_t>(t.count));
  t.parts = parts;
  return t;
}

TEST(DiskTable, GptPartitionsAreListedWithTheirFileSystemsAndNames) {
  Table t = Read("disk_gpt");
  if (t.count == -2) return;
  ASSERT_EQ(t.count, 2);
  EXPECT_EQ(t.note, "");
  EXPECT_EQ(t.parts[0].firstByte, 2048u * 512);
  EXPECT_EQ(t.parts[0].bytes, 69632u * 512);
  EXPECT_EQ(Utf8(t.parts[0].fileSystem), "FAT32");
  EXPECT_EQ(Utf8(t.parts[0].name), "photos");
  EXPECT_EQ(Utf8(t.parts[0].typeName), "Microsoft basic data");
  EXPECT_EQ(t.parts[1].number, 2u);
  EXPECT_EQ(t.parts[1].fsKind, static_cast<uint32_t>(KESTREL_FS_NTFS));
  EXPECT_EQ(Utf8(t.parts[1].name), "documents");
  EXPECT_TRUE(t.parts[1].flags & KX_PART_GPT);
}

TEST(DiskTable, DamagedGptHeadersAndArraysGiveClearAnswers) {
  Table backup = Read("disk_gpt_badprimary");
  if (backup.count == -2) return;
  EXPECT_EQ(backup.count, 2) << "the backup header at the last LBA serves";
  EXPECT_NE(backup.note.find("backup"), std::string::npos) << backup.note;
  Table none = Read("disk_gpt_badarrays");
  EXPECT_EQ(none.count, 0);
  EXPECT_NE(none.note.find("GPT"), std::string::npos) << none.note;
  EXPECT_EQ(KX_ReadPartitionTable(K(u"/no/such/disk.img"), nullptr, 0, nullptr, 0), -1);
}

TEST(DiskTable, MbrWithLogicalPartitions) {
  Table t = Read("disk_mbr");
  if (t.count == -2) return;
  ASSERT_EQ(t.count, 4);
  EXPECT_EQ(Utf8(t.parts[0].fileSystem), "FAT16");
  EXPECT_EQ(t.parts[1].fsKind, 0u) << "typed NTFS but never formatted";
  EXPECT_TRUE(t.parts[2].flags & KX_PART_LOGICAL);
  EXPECT_EQ(Utf8(t.parts[3].fileSystem), "FAT12");
  // Numbered as sfdisk and Linux number them: primaries by slot, the
  // extended one's slot skipped, logical ones from 5.
  std::vector<uint32_t> numbers;
  for (const KX_PartitionInfo& p : t.parts) numbers.push_back(p.number);
  EXPECT_EQ(numbers, (std::vector<uint32_t>{1, 2, 5, 6}));
  Table gap = Read("disk_mbr_gap");
  ASSERT_EQ(gap.count, 2);
  EXPECT_EQ(gap.parts[0].number, 3u) << "the primary in slot 3, after the extended slot 1 and empty slot 2";
  EXPECT_EQ(gap.parts[0].firstByte, 22528u * 512);
  EXPECT_EQ(gap.parts[1].number, 5u);
  EXPECT_EQ(gap.parts[1].firstByte, 4096u * 512);
}

}  // namespace
}  // namespace kestrel::test
