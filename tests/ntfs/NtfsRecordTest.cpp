// File records and attributes over small hand-built volumes in memory.
#include <gtest/gtest.h>

#include <cstring>
#include <numeric>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/ntfs/DataStream.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "tests/ntfs/NtfsTestImage.h"

namespace kestrel::ntfs {
namespace {

using test::EncodeRuns;
using test::FileTimeOf;
using test::MemoryDevice;
using test::NtfsLayout;
using test::NtfsTestImage;

std::vector<uint8_t> Pattern(size_t size, uint32_t seed) {
  std::vector<uint8_t> out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

struct OpenVolume {
  std::unique_ptr<CNTFSVolume> volume;
  std::shared_ptr<MemoryDevice::Stats> stats;
};

OpenVolume Open(NtfsTestImage& image, uint64_t failFrom = 0, uint64_t failTo = 0) {
  auto device = std::make_unique<MemoryDevice>(image.bytes(), image.layout().sectorBytes);
  device->failFrom = failFrom;
  device->failTo = failTo;
  OpenVolume out;
  out.stats = device->stats;
  out.volume = std::make_unique<CNTFSVolume>(std::move(device));
  return out;
}

TEST(NtfsVolume, OpensAHandBuiltVolume) {
  for (NtfsLayout layout : {NtfsLayout{}, NtfsLayout{4096, 4096, 4096, 4, 64, 512},
                            NtfsLayout{512, 512, 1024, 32, 64, 2048}}) {
    NtfsTestImage image(layout);
    auto v = Open(image);
    ASSERT_TRUE(v.volume->IsUsable()) << layout.sectorBytes << "/" << layout.clusterBytes;
    EXPECT_EQ(v.volume->NtfsVersion(), 0x0301);
    EXPECT_EQ(v.volume->RecordBytes(), layout.recordBytes);
    EXPECT_EQ(v.volume->SectorBytes(), layout.sectorBytes);
    EXPECT_EQ(v.volume->RecordCount(), layout.mftRecords);
    EXPECT_EQ(v.stats->unaligned, 0) << "raw reads must be whole sectors";
  }
}

TEST(NtfsVolume, RefusesOldVersionsAndAnMftWithoutData) {
  NtfsLayout old;
  old.majorVersion = 1;
  old.minorVersion = 2;
  NtfsTestImage v12(old);
  EXPECT_FALSE(Open(v12).volume->IsUsable());

  NtfsTestImage noData;
  noData.PutRecord(0, noData.Record(1).StdInfo(FileTimeOf(0)).FileName(5, u"$MFT", 3));
  auto v = Open(noData);
  EXPECT_FALSE(v.volume->IsUsable());
  EXPECT_EQ(v.volume->MftData(), nullptr);
  // Nothing past records 0 to 15 was read.
  EXPECT_LE(v.stats->highestEnd, noData.MftByteOffset() + 16 * 1024);

  NtfsTestImage notNtfs;
  std::memcpy(notNtfs.bytes().data() + 3, "NTFS   X", 8);
  EXPECT_FALSE(Open(notNtfs).volume->IsUsable());
}

TEST(FileRecord, TornRecordsAreRejectedButStillNamed) {
  NtfsTestImage image;
  auto bytes = image.Record(0).StdInfo(FileTimeOf(1)).FileName(5, u"torn.txt").Finish();
  put16(&bytes[1022], 0x7777);  // second block never got its sequence number
  image.PutRecord(20, bytes);
  auto v = Open(image);
  CFileRecord record(v.volume.get());
  EXPECT_FALSE(record.LoadFileRecord(20));
  EXPECT_FALSE(record.IsLoaded());
  char16_t name[1024] = {};
  uint64_t parent = 0;
  bool failed = true;
  EXPECT_TRUE(record.ReadNameAndParent(20, &parent, false, &failed, name));
  EXPECT_FALSE(failed);
  EXPECT_EQ(std::u16string(name), u"torn.txt");
  EXPECT_EQ(parent, 5u);
}

TEST(FileRecord, CompressedAndEncryptedFilesAreBuiltAndTold) {
  NtfsTestImage image;
  image.PutRecord(20, image.Record(0).StdInfo(FileTimeOf(1), 0x0800).FileName(5, u"c.bin").ResidentData({1}));
  image.PutRecord(21, image.Record(0).StdInfo(FileTimeOf(1), 0x4000).FileName(5, u"e.bin"));
  image.PutRecord(22, image.Record(0).StdInfo(FileTimeOf(1), 0x0220).FileName(5, u"s.bin"));
  auto v = Open(image);
  const StreamKind kinds[] = {StreamKind::Plain, StreamKind::Encrypted, StreamKind::Plain};
  for (uint64_t n : {20, 21, 22}) {
    CFileRecord record(v.volume.get());
    ASSERT_TRUE(record.LoadFileRecord(n));
    record.SetTypeMask(kMaskFirstLook | kMaskData);
    ASSERT_TRUE(record.BuildAttributes()) << n;
    // Resident data is never stored compressed, whatever the file's flags.
    EXPECT_EQ(ClassifyDataStream(record), kinds[n - 20]) << n;
  }
}

TEST(FileRecord, NamesSizesAndTheFactory) {
  NtfsTestImage image;
  image.PutRecord(20, image.Record(0)
                          .StdInfo(FileTimeOf(1600000000))
                          .FileName(9, u"SHORT~1.TXT", 2, 111)
                          .FileName(9, u"a long name.txt", 1, 222)
                          .Resident(0x40, std::vector<uint8_t>(16, 1))
                          .ResidentData({1, 2, 3}, u"alt")
                          .ResidentData({4, 5, 6, 7}));
  image.PutRecord(21, image.Record(0).StdInfo(FileTimeOf(1)).FileName(9, u"X~1", 2));
  auto v = Open(image);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20));
  ASSERT_TRUE(record.BuildAttributes());  // all types selected after construction
  char16_t buffer[64];
  EXPECT_EQ(record.GetPrimaryName(buffer, 64), 15);
  EXPECT_EQ(std::u16string(buffer), u"a long name.txt");
  EXPECT_EQ(record.GetPrimaryName(buffer, 10), -15);
  EXPECT_EQ(record.GetSizeFromName(), 111u) << "the first $FILE_NAME, DOS or not";
  CAttrBase* objectId = record.GetFirstAttribute(0x40);
  ASSERT_NE(objectId, nullptr);
  EXPECT_EQ(typeid(*objectId), typeid(CAttrResident));
  EXPECT_NE(dynamic_cast<CAttr_StdInfo*>(record.GetFirstAttribute(0x10)), nullptr);
  EXPECT_NE(dynamic_cast<CAttr_Data<CAttrResident>*>(record.GetFirstAttribute(0x80)), nullptr);
  EXPECT_EQ(record.GetFirstAttribute(0x110), nullptr);
  char16_t alt[] = u"alt";
  CAttrBase* named = record.LookupDataStream(alt);
  CAttrBase* unnamed = record.LookupDataStream(nullptr);
  ASSERT_TRUE(named && unnamed);
  EXPECT_EQ(named->GetValueSize(nullptr), 3u);
  EXPECT_EQ(unnamed->GetValueSize(nullptr), 4u);
  char16_t ALT[] = u"ALT";
  EXPECT_EQ(record.LookupDataStream(ALT), nullptr) << "stream names compare case-sensitively";

  uint64_t modified = 0, created = 0;
  auto* info = static_cast<CAttr_StdInfo*>(record.GetFirstAttribute(0x10));
  ASSERT_TRUE(info->GetStdTimes(&modified, &created, nullptr));
  EXPECT_EQ(modified, test::LocalTime(FileTimeOf(1600000000)));

  CFileRecord dosOnly(v.volume.get());
  ASSERT_TRUE(dosOnly.LoadFileRecord(21));
  ASSERT_TRUE(dosOnly.BuildAttributes());
  EXPECT_EQ(dosOnly.GetPrimaryName(buffer, 64), 0);
}

TEST(Attributes, ResidentReadEdges) {
  NtfsTestImage image;
  image.PutRecord(20, image.Record(0).StdInfo(FileTimeOf(1)).ResidentData(
                          {0, 1, 2, 3, 4, 5, 6, 7, 8, 9}));
  auto v = Open(image);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20) && record.BuildAttributes());
  CAttrBase* data = record.LookupDataStream(nullptr);
  uint8_t out[100];
  uint64_t got = 99;
  ASSERT_TRUE(data->ReadBytes(4, out, 100, got));
  EXPECT_EQ(got, 6u);
  EXPECT_EQ(out[0], 4);
  EXPECT_FALSE(data->ReadBytes(10, out, 1, got));
  EXPECT_TRUE(data->ReadBytes(10, out, 0, got));
  EXPECT_EQ(got, 0u);
}

// A 7-cluster stream: clusters 0-1 at LCN 40, 2-4 sparse, 5-6 at LCN 30
// (a negative offset), 13000 bytes of data.
struct SparseFile {
  NtfsTestImage image;
  std::vector<uint8_t> content;
  SparseFile() {
    auto a = Pattern(2 * 4096, 1), b = Pattern(2 * 4096, 2);
    image.PutClusters(40, a);
    image.PutClusters(30, b);
    content = a;
    content.resize(5 * 4096, 0);
    content.insert(content.end(), b.begin(), b.end());
    content.resize(6 * 4096 + 808);
    image.PutRecord(20, image.Record(0).StdInfo(FileTimeOf(1)).FileName(5, u"s").NonResidentData(
                            EncodeRuns({{2, 40}, {3, -1}, {2, 30}}), 0, 6, content.size()));
  }
};

TEST(Attributes, NonResidentReadEdges) {
  SparseFile f;
  auto v = Open(f.image);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20) && record.BuildAttributes());
  CAttrBase* data = record.LookupDataStream(nullptr);
  ASSERT_TRUE(data->RunsValid());
  const uint64_t size = f.content.size();
  EXPECT_EQ(data->GetValueSize(nullptr), size);
  std::vector<uint8_t> out(size + 100);
  uint64_t got = 0;

  ASSERT_TRUE(data->ReadBytes(0, out.data(), size + 100, got)) << "clipped to the data size";
  EXPECT_EQ(got, size);
  EXPECT_TRUE(std::equal(f.content.begin(), f.content.end(), out.begin()));

  ASSERT_TRUE(data->ReadBytes(size, out.data(), 10, got));
  EXPECT_EQ(got, 0u);
  EXPECT_FALSE(data->ReadBytes(size + 1, out.data(), 10, got));

  // 10 bytes across a cluster boundary, through the cluster buffer.
  ASSERT_TRUE(data->ReadBytes(4096 - 5, out.data(), 10, got));
  EXPECT_EQ(got, 10u);
  EXPECT_TRUE(std::equal(out.begin(), out.begin() + 10, f.content.begin() + 4091));

  // Reads starting inside the sparse run: zeros, then real data after it.
  for (uint64_t offset : {uint64_t{3 * 4096 + 17}, uint64_t{3 * 4096}, uint64_t{4 * 4096 + 4000}}) {
    ASSERT_TRUE(data->ReadBytes(offset, out.data(), 9000, got)) << offset;
    EXPECT_EQ(got, std::min<uint64_t>(9000, size - offset));
    EXPECT_TRUE(std::equal(out.begin(), out.begin() + got, f.content.begin() + offset)) << offset;
  }
  EXPECT_EQ(v.stats->unaligned, 0);

  auto* nonResident = dynamic_cast<CAttrNonResident*>(data);
  ASSERT_NE(nonResident, nullptr);
  EXPECT_FALSE(nonResident->ReadVirtualClusters(6, 2, out.data(), out.size(), got));
  EXPECT_FALSE(nonResident->ReadVirtualClusters(0, 2, out.data(), 4096, got)) << "buffer too small";
  ASSERT_TRUE(nonResident->ReadVirtualClusters(3, 3, out.data(), out.size(), got));
  EXPECT_EQ(got, 3u * 4096);
}

TEST(Attributes, AFailedDeviceReadFailsTheRead) {
  SparseFile f;
  auto v = Open(f.image, 30 * 4096, 31 * 4096);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20) && record.BuildAttributes());
  CAttrBase* data = record.LookupDataStream(nullptr);
  std::vector<uint8_t> out(f.content.size());
  uint64_t got = 0;
  EXPECT_FALSE(data->ReadBytes(0, out.data(), out.size(), got));
  EXPECT_TRUE(data->ReadBytes(0, out.data(), 5 * 4096, got)) << "the part before the bad cluster";
  EXPECT_EQ(got, 5u * 4096);
}

TEST(Attributes, RunsPastTheExtentOrBelowClusterZeroAreUnreadable) {
  NtfsTestImage image;
  image.PutRecord(20, image.Record(0).StdInfo(FileTimeOf(1)).NonResidentData(
                          EncodeRuns({{8, 40}}), 0, 3, 4 * 4096));
  image.PutRecord(21, image.Record(0).StdInfo(FileTimeOf(1)).NonResidentData(
                          {0x11, 0x02, 0x01, 0x11, 0x01, 0xF0, 0x00}, 0, 2, 3 * 4096));
  auto v = Open(image);
  for (uint64_t n : {20, 21}) {
    CFileRecord record(v.volume.get());
    ASSERT_TRUE(record.LoadFileRecord(n) && record.BuildAttributes());
    CAttrBase* data = record.LookupDataStream(nullptr);
    EXPECT_FALSE(data->RunsValid());
    uint8_t b[16];
    uint64_t got;
    EXPECT_FALSE(data->ReadBytes(0, b, 16, got));
  }
}

// A file whose $DATA is split in three extents: VCN 0-1 in the base
// record, 2-3 and 4-5 in two extension records named by an attribute list.
TEST(FileRecord, DataExtentsFromTheAttributeListReadInVcnOrder) {
  NtfsTestImage image;
  auto content = Pattern(6 * 4096 - 100, 7);
  std::vector<uint8_t> padded = content;
  padded.resize(6 * 4096);
  image.PutClusters(50, {padded.begin(), padded.begin() + 8192});
  image.PutClusters(70, {padded.begin() + 8192, padded.begin() + 16384});
  image.PutClusters(60, {padded.begin() + 16384, padded.end()});
  image.PutRecord(20, image.Record(0)
                          .StdInfo(FileTimeOf(1))
                          .AttrList({{0x10, 20}, {0x30, 20}, {0x80, 20, 0}, {0x80, 22, 4},
                                     {0x80, 21, 2}, {0x80, 21, 2}})
                          .FileName(5, u"split.bin")
                          .NonResidentData(EncodeRuns({{2, 50}}), 0, 1, content.size()));
  image.PutRecord(21, image.Record(1).NonResidentData(EncodeRuns({{2, 70}}), 2, 3, 0));
  image.PutRecord(22, image.Record(1).NonResidentData(EncodeRuns({{2, 60}}), 4, 5, 0));
  auto v = Open(image);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20));
  record.SetTypeMask(kMaskData);
  ASSERT_TRUE(record.BuildAttributes());
  // Extension extents stand ahead of the base record's own, each once.
  CSList<CAttrBase>* list = record.AttributeList(7);
  ASSERT_EQ(list->Count(), 3u);
  EXPECT_EQ(list->At(0)->FirstVcn(), 4u);
  EXPECT_EQ(list->At(1)->FirstVcn(), 2u);
  EXPECT_EQ(list->At(2)->FirstVcn(), 0u);
  CAttrBase* data = record.LookupDataStream(nullptr);
  ASSERT_EQ(data, list->At(2)) << "the extent holding VCN 0 carries the size";
  EXPECT_EQ(data->GetValueSize(nullptr), content.size());
  std::vector<uint8_t> out(content.size());
  uint64_t got = 0;
  ASSERT_TRUE(data->ReadBytes(0, out.data(), out.size(), got));
  ASSERT_EQ(got, content.size());
  EXPECT_EQ(out, content);
}

TEST(FileRecord, AttributeListsNeverFollowOtherLists) {
  NtfsTestImage image;
  // 20's list sends us to 21 for an attribute list, whose list points back.
  image.PutRecord(20, image.Record(0).StdInfo(FileTimeOf(1)).AttrList({{0x20, 21}, {0x30, 21}}));
  image.PutRecord(21, image.Record(1).AttrList({{0x20, 20}, {0x30, 20}}).FileName(5, u"x"));
  auto v = Open(image);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20));
  ASSERT_TRUE(record.BuildAttributes());
  char16_t name[16];
  EXPECT_EQ(record.GetPrimaryName(name, 16), 1);
}

TEST(FileRecord, NameReaderReadsWholeLargeRecords) {
  // 4096-byte records on 4096-byte sectors, the name well past byte 1024.
  NtfsLayout layout{4096, 4096, 4096, 4, 64, 512};
  NtfsTestImage image(layout);
  image.PutRecord(30, image.Record(0)
                          .StdInfo(FileTimeOf(1))
                          .Resident(0x50, std::vector<uint8_t>(1800, 0x11))
                          .FileName(5, u"far away.txt"));
  auto v = Open(image);
  ASSERT_TRUE(v.volume->IsUsable());
  CFileRecord record(v.volume.get());
  char16_t name[1024] = {};
  bool failed = true;
  uint64_t parent = 0;
  ASSERT_TRUE(record.ReadNameAndParent(30, &parent, false, &failed, name));
  EXPECT_FALSE(failed);
  EXPECT_EQ(std::u16string(name), u"far away.txt");
}

TEST(NtfsVolume, AnMftSplitByItsAttributeListReachesEveryRecord) {
  // The $MFT: records 0-31 at LCN 4 (base extent), 32-63 at LCN 100 (an
  // extent kept in extension record 17).
  NtfsLayout layout;
  layout.mftRecords = 32;
  layout.totalClusters = 200;
  NtfsTestImage image(layout);
  uint64_t mftBytes = 64 * 1024;
  image.PutRecord(0, image.Record(1)
                         .StdInfo(FileTimeOf(1))
                         .AttrList({{0x10, 0}, {0x80, 0, 0}, {0x80, 17, 8}})
                         .FileName(5, u"$MFT", 3, mftBytes)
                         .NonResidentData(EncodeRuns({{8, 4}}), 0, 7, mftBytes));
  image.PutRecord(17, image.Record(1).NonResidentData(EncodeRuns({{8, 100}}), 8, 15, 0));
  auto deleted = image.Record(0).StdInfo(FileTimeOf(1)).FileName(5, u"far.txt").Finish();
  image.PutBytes(100 * 4096 + (40 - 32) * 1024, deleted);
  auto v = Open(image);
  ASSERT_TRUE(v.volume->IsUsable());
  EXPECT_EQ(v.volume->RecordCount(), 64u);
  CFileRecord record(v.volume.get());
  ASSERT_TRUE(record.LoadFileRecord(40));
  record.SetTypeMask(kMaskFirstLook);
  ASSERT_TRUE(record.BuildAttributes());
  char16_t name[32];
  ASSERT_EQ(record.GetPrimaryName(name, 32), 7);
  EXPECT_EQ(std::u16string(name), u"far.txt");
}

// A volume keeping a record window reads exactly what a plain one reads,
// record by record, past the table's end too; in table order it asks the
// device once per window; and a bad sector costs only its own record, the
// failed window not being read again.
TEST(NtfsVolume, ARecordWindowReadsWhatSingleReadsRead) {
  NtfsLayout layout;
  layout.mftRecords = 150;  // windows of 64: two whole, one cut short
  layout.totalClusters = 400;
  NtfsTestImage image(layout);
  for (uint64_t n = 16; n < 150; ++n)
    image.PutRecord(n, image.Record(0).FileName(5, u"f" + std::u16string(1, char16_t(u'A' + n % 26))));
  const uint64_t bad = image.MftByteOffset() + 70 * layout.recordBytes + 512;
  for (bool withBadSector : {false, true}) {
    auto plain = Open(image, withBadSector ? bad : 0, withBadSector ? bad + 512 : 0);
    auto kept = Open(image, withBadSector ? bad : 0, withBadSector ? bad + 512 : 0);
    ASSERT_TRUE(plain.volume->IsUsable() && kept.volume->IsUsable());
    kept.volume->KeepRecordWindow();
    const int readsBefore = kept.stats->reads;
    std::vector<uint8_t> a(layout.recordBytes), b(layout.recordBytes);
    for (uint64_t n = 0; n < 200; ++n) {
      std::fill(a.begin(), a.end(), 0xEE);
      std::fill(b.begin(), b.end(), 0xEE);
      const bool okPlain = plain.volume->ReadRecordBytes(n, a.data(), a.size());
      const bool okKept = kept.volume->ReadRecordBytes(n, b.data(), b.size());
      ASSERT_EQ(okKept, okPlain) << n;
      if (okPlain) ASSERT_EQ(a, b) << n;
      // A bad sector spoils the records of its cluster, read whole.
      const uint64_t perCluster = layout.clusterBytes / layout.recordBytes;
      ASSERT_EQ(okPlain, n < 150 && !(withBadSector && n / perCluster == 70 / perCluster)) << n;
    }
    // The records below 16 (read directly) and three windows, the last of
    // which ends inside a cluster (two reads); with a bad sector also the
    // records of the failed window one by one.
    const int reads = kept.stats->reads - readsBefore;
    if (!withBadSector) EXPECT_LE(reads, 16 + 4);
    EXPECT_LT(reads, plain.stats->reads);
  }
}

}  // namespace
}  // namespace kestrel::ntfs
