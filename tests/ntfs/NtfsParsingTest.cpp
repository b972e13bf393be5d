// Run lists, boot sectors and fix-ups: the byte-level parsers.
#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/ntfs/BootSector.h"
#include "kernel/ntfs/DataRun.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/RecordHeader.h"
#include "tests/ntfs/NtfsTestImage.h"

namespace kestrel::ntfs {
namespace {

using test::RecordBuilder;

std::vector<tagDataRun_Entry> Decode(std::vector<uint8_t> bytes, bool expectOk = true,
                                     uint64_t span = ~uint64_t{0}) {
  std::vector<tagDataRun_Entry> runs;
  EXPECT_EQ(DecodeDataRuns(ByteView(bytes.data(), bytes.size()), span, runs), expectOk);
  return runs;
}

TEST(DataRuns, ZeroHeaderIsAnEmptyValidList) {
  EXPECT_TRUE(Decode({0x00}).empty());
}

TEST(DataRuns, OffsetsAreRelativeAndSignExtended) {
  // 4 clusters at 0x10, then 2 clusters one cluster back (FF FF = -1), then
  // 1 cluster 0x100 further on with a 3-byte offset.
  auto runs = Decode({0x11, 0x04, 0x10, 0x21, 0x02, 0xFF, 0xFF, 0x31, 0x01, 0x00, 0x01, 0x00, 0x00});
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[0].lcn, 0x10);
  EXPECT_EQ(runs[0].vcnFirst, 0u);
  EXPECT_EQ(runs[0].vcnLast, 3u);
  EXPECT_EQ(runs[1].lcn, 0x0F);
  EXPECT_EQ(runs[1].runLength, 2u);
  EXPECT_EQ(runs[1].vcnFirst, 4u);
  EXPECT_EQ(runs[1].vcnLast, 5u);
  EXPECT_EQ(runs[2].lcn, 0x10F);
  EXPECT_EQ(runs[2].vcnFirst, 6u);
}

TEST(DataRuns, SparseRunsKeepThePreviousLcn) {
  // 2 clusters at 0x20, 3 sparse (F = 0), 1 cluster 5 after 0x20.
  auto runs = Decode({0x11, 0x02, 0x20, 0x01, 0x03, 0x11, 0x01, 0x05, 0x00});
  ASSERT_EQ(runs.size(), 3u);
  EXPECT_EQ(runs[1].lcn, -1);
  EXPECT_EQ(runs[1].vcnFirst, 2u);
  EXPECT_EQ(runs[1].vcnLast, 4u);
  EXPECT_EQ(runs[2].lcn, 0x25);
  // The encoder the other tests use agrees with the decoder.
  auto again = test::EncodeRuns({{2, 0x20}, {3, -1}, {1, 0x25}});
  EXPECT_EQ(again, (std::vector<uint8_t>{0x11, 0x02, 0x20, 0x01, 0x03, 0x11, 0x01, 0x05, 0x00}));
}

TEST(DataRuns, OverWideFieldsEndTheListWithTheRunsSoFar) {
  auto runs = Decode({0x11, 0x02, 0x20, 0x91, 0x01, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0x00});
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].lcn, 0x20);
  EXPECT_EQ(Decode({0x19, 0x01}).size(), 0u) << "L = 9 as the very first run";
}

TEST(DataRuns, CorruptListsFail) {
  Decode({0x11, 0x02, 0x01, 0x11, 0x01, 0xF0, 0x00}, false);      // LCN goes below 0
  Decode({0x18, 0, 0, 0, 0, 0, 0, 0, 0x80, 0x01, 0x00}, false);   // negative length
  Decode({0x11, 0x08, 0x20, 0x00}, false, 6);                     // ends past the extent
  EXPECT_EQ(Decode({0x11, 0x07, 0x20, 0x00}, true, 6).size(), 1u);
  Decode({0x11, 0x02}, false);                                    // runs off the buffer
  Decode({0x11, 0x02, 0x20}, false);                              // no end marker
  Decode({}, false);
}

std::vector<uint8_t> Boot(const char* oem, uint16_t sector, uint8_t perCluster, int8_t record,
                          int8_t index) {
  std::vector<uint8_t> b(512, 0);
  std::memcpy(&b[3], oem, 8);
  put16(&b[0x0B], sector);
  b[0x0D] = perCluster;
  put64(&b[0x30], 4);
  b[0x40] = static_cast<uint8_t>(record);
  b[0x44] = static_cast<uint8_t>(index);
  return b;
}

TEST(BootSector, GeometryFollowsTheSizeRules) {
  NtfsGeometry g;
  auto b = Boot("NTFS    ", 512, 8, -10, 1);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), g), BootSectorResult::Ok);
  EXPECT_EQ(g.clusterBytes, 4096u);
  EXPECT_EQ(g.recordBytes, 1024u);  // 0xF6
  EXPECT_EQ(g.indexBlockBytes, 4096u);
  EXPECT_EQ(g.mftByteOffset, 4u * 4096);

  b = Boot("NTFS    ", 4096, 1, 2, -12);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), g), BootSectorResult::Ok);
  EXPECT_EQ(g.recordBytes, 8192u);  // two 4096-byte clusters
  EXPECT_EQ(g.indexBlockBytes, 4096u);

  b = Boot("NTFS    ", 512, 0x80, -10, -12);
  ASSERT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), g), BootSectorResult::Ok);
  EXPECT_EQ(g.clusterBytes, 128u * 512) << "0x80 is a plain count";
}

TEST(BootSector, OnlyNtfsWithUsableGeometryOpens) {
  NtfsGeometry g;
  auto b = Boot("NTFSX   ", 512, 8, -10, 1);
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), g), BootSectorResult::NotNtfs);
  b = Boot("NTFS   X", 512, 8, -10, 1);
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), b.size()), g), BootSectorResult::NotNtfs);
  EXPECT_EQ(ParseNtfsBootSector(ByteView(b.data(), 100), g), BootSectorResult::NotNtfs);
  for (auto bad : {Boot("NTFS    ", 0, 8, -10, 1), Boot("NTFS    ", 500, 8, -10, 1),
                   Boot("NTFS    ", 512, 0, -10, 1), Boot("NTFS    ", 512, 8, 0, 1),
                   Boot("NTFS    ", 512, 8, -100, 1)}) {
    EXPECT_EQ(ParseNtfsBootSector(ByteView(bad.data(), bad.size()), g), BootSectorResult::Corrupt);
  }
}

TEST(Fixups, RestoreEveryBlockAndRejectTornRecords) {
  for (uint32_t recordBytes : {1024u, 4096u}) {
    for (uint32_t block : {512u, recordBytes == 4096u ? 4096u : 512u}) {
      auto image = RecordBuilder(recordBytes, 1).StdInfo(test::FileTimeOf(0)).Finish(block);
      auto copy = image;
      ASSERT_EQ(ApplyFixups(copy.data(), copy.size(), 4096, true), FixupResult::Ok)
          << recordBytes << "/" << block;
      EXPECT_EQ(le16(&copy[recordBytes - 2]), 0u);
      // A block whose end does not carry the sequence number is torn.
      copy = image;
      put16(&copy[recordBytes - 2], 0x1234);
      EXPECT_EQ(ApplyFixups(copy.data(), copy.size(), 4096, true), FixupResult::Mismatch);
      EXPECT_EQ(ApplyFixups(copy.data(), copy.size(), 4096, false), FixupResult::Ok);
    }
  }
}

TEST(Fixups, ArraysThatDoNotFitAreBadLayout) {
  auto image = RecordBuilder(1024, 1).Finish();
  auto copy = image;
  put16(&copy[kRecUsaCount], 0);
  EXPECT_EQ(ApplyFixups(copy.data(), copy.size(), 512, true), FixupResult::BadLayout);
  copy = image;
  put16(&copy[kRecUsaCount], 4);  // three blocks do not divide 1024 bytes
  EXPECT_EQ(ApplyFixups(copy.data(), copy.size(), 512, true), FixupResult::BadLayout);
  copy = image;
  put16(&copy[kRecUsaOffset], 1020);  // array runs off the record
  EXPECT_EQ(ApplyFixups(copy.data(), copy.size(), 512, true), FixupResult::BadLayout);
}

TEST(NameReader, FirstNonDosNameAndItsParent) {
  auto image = RecordBuilder(1024, 0)
                   .StdInfo(test::FileTimeOf(0))
                   .FileName(77, u"REPORT~1.DOC", 2)
                   .FileName(77, u"report 2024.doc", 1)
                   .Finish();
  ApplyFixups(image.data(), image.size(), 512, true);
  RecordName n = ReadNameFromImage(ByteView(image.data(), image.size()), false);
  EXPECT_TRUE(n.ok);
  EXPECT_FALSE(n.failed);
  EXPECT_EQ(n.name, u"report 2024.doc");
  EXPECT_EQ(n.parent, 77u);
  // Not a folder: nothing when a folder is required.
  EXPECT_FALSE(ReadNameFromImage(ByteView(image.data(), image.size()), true).ok);
}

TEST(NameReader, DosOnlyRecordsAreLostfile) {
  auto image = RecordBuilder(1024, 2).FileName(5, u"LONGNA~1.TXT", 2).Finish();
  ApplyFixups(image.data(), image.size(), 512, true);
  RecordName n = ReadNameFromImage(ByteView(image.data(), image.size()), true);
  EXPECT_TRUE(n.ok);
  EXPECT_TRUE(n.failed);
  EXPECT_EQ(n.name, u"lostfile");
}

TEST(NameReader, CorruptWalksFail) {
  auto image = RecordBuilder(1024, 0).StdInfo(test::FileTimeOf(0)).Finish();
  ApplyFixups(image.data(), image.size(), 512, true);
  size_t first = le16(&image[kRecFirstAttribute]);
  put32(&image[first + 4], 0);  // zero-length attribute
  EXPECT_FALSE(ReadNameFromImage(ByteView(image.data(), image.size()), false).ok);
  put32(&image[first + 4], 5000);  // runs past the record
  EXPECT_FALSE(ReadNameFromImage(ByteView(image.data(), image.size()), false).ok);
  std::memcpy(&image[0], "BAAD", 4);
  EXPECT_FALSE(ReadNameFromImage(ByteView(image.data(), image.size()), false).ok);
}

// One answer reused record after record (as the scan does) holds nothing
// of the record before: each equals a fresh answer for its own record.
TEST(NameReader, AReusedAnswerKeepsNothingOfTheLastRecord) {
  auto named = RecordBuilder(1024, 0).FileName(77, u"a rather long file name.txt", 1).Finish();
  auto dosOnly = RecordBuilder(1024, 2).FileName(5, u"LONGNA~1.TXT", 2).Finish();
  auto corrupt = RecordBuilder(1024, 0).FileName(9, u"x", 1).Finish();
  for (auto* image : {&named, &dosOnly, &corrupt}) ApplyFixups(image->data(), image->size(), 512, true);
  put32(&corrupt[le16(&corrupt[kRecFirstAttribute]) + 4], 0);
  RecordName reused;
  for (int round = 0; round < 2; ++round) {
    for (auto* image : {&named, &dosOnly, &corrupt, &named}) {
      for (bool folder : {false, true}) {
        ByteView view(image->data(), image->size());
        RecordName fresh = ReadNameFromImage(view, folder);
        ReadNameFromImage(view, folder, reused);
        EXPECT_EQ(reused.ok, fresh.ok);
        EXPECT_EQ(reused.failed, fresh.failed);
        EXPECT_EQ(reused.name, fresh.name);
        EXPECT_EQ(reused.parent, fresh.parent);
      }
    }
  }
}

}  // namespace
}  // namespace kestrel::ntfs
