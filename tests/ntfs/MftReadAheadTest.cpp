// The $MFT read-ahead must hand the scan exactly the bytes its own reads
// would give, chunk by chunk, and hand nothing for a chunk it could not
// read whole; and a data stream's extents must name the bytes ReadBytes reads.
#include <gtest/gtest.h>

#include <memory>
#include <vector>

#include "kernel/StopFlag.h"
#include "kernel/ntfs/Attributes.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/MftReadAhead.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "tests/ntfs/NtfsTestImage.h"

namespace kestrel::ntfs {
namespace {

using test::EncodeRuns;
using test::MemoryDevice;
using test::NtfsLayout;
using test::NtfsTestImage;

std::vector<uint8_t> Pattern(size_t n, uint8_t seed) {
  std::vector<uint8_t> out(n);
  for (size_t i = 0; i < n; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + i / 251);
  return out;
}

std::unique_ptr<CNTFSVolume> OpenOn(NtfsTestImage& image) {
  return std::make_unique<CNTFSVolume>(
      std::make_unique<MemoryDevice>(image.bytes(), image.layout().sectorBytes));
}

NtfsTestImage VolumeWithRecords(const NtfsLayout& layout) {
  NtfsTestImage image(layout);
  for (uint64_t n = 16; n < layout.mftRecords; ++n)
    image.PutRecord(n, image.Record(n % 3 == 0 ? 1 : 0).FileName(5, u"f").ResidentData(Pattern(20, uint8_t(n))));
  return image;
}

// A volume over `image` and its $MFT's data stream (null when it did not open).
struct OpenTable {
  std::unique_ptr<CNTFSVolume> volume;
  CAttrNonResident* data = nullptr;
};
OpenTable TableOf(NtfsTestImage& image) {
  OpenTable t{OpenOn(image)};
  if (t.volume->IsUsable()) t.data = dynamic_cast<CAttrNonResident*>(t.volume->MftData());
  return t;
}

// Every chunk the read-ahead hands over equals what ReadBytes gives for
// the same records, for chunk sizes that do and do not divide the table,
// on 512- and 4096-byte sectors (reads stay whole sectors).
TEST(MftReadAhead, ChunksEqualTheScansOwnReads) {
  ClearStop();  // as a scan starts
  for (NtfsLayout layout : {NtfsLayout{}, NtfsLayout{4096, 4096, 4096, 4, 64, 512}}) {
    layout.mftRecords = 64;
    NtfsTestImage image = VolumeWithRecords(layout);
    OpenTable open = TableOf(image);
    CAttrNonResident* table = open.data;
    ASSERT_NE(table, nullptr);
    CNTFSVolume* volume = open.volume.get();
    for (bool shared : {false, true})
    for (uint64_t perChunk : {1u, 5u, 48u, 64u}) {
      auto device = std::make_unique<MemoryDevice>(image.bytes(), layout.sectorBytes);
      auto stats = device->stats;
      // With a handle of its own the caller reads some chunks itself.
      auto own = shared ? std::make_unique<MemoryDevice>(image.bytes(), layout.sectorBytes) : nullptr;
      auto ownStats = own ? own->stats : stats;
      MftReadAhead::Plan plan{16, volume->RecordCount(), layout.recordBytes, perChunk, layout.sectorBytes};
      MftReadAhead ahead(std::move(device), *table, plan, std::move(own));
      std::vector<uint8_t> chunk, expected;
      for (uint64_t n = 16; n < plan.recordCount; n += perChunk) {
        const uint64_t count = std::min(perChunk, plan.recordCount - n);
        ASSERT_TRUE(ahead.Take(n, chunk)) << "chunk at " << n << " of " << perChunk;
        expected.resize(count * layout.recordBytes);
        uint64_t got = 0;
        ASSERT_TRUE(table->ReadBytes(n * layout.recordBytes, expected.data(), expected.size(), got));
        EXPECT_EQ(chunk, expected) << "chunk at " << n;
      }
      EXPECT_FALSE(ahead.Take(plan.recordCount, chunk)) << "nothing after the table's end";
      EXPECT_EQ(stats->unaligned, 0);
      EXPECT_EQ(ownStats->unaligned, 0);
    }
  }
}

// A bad sector spoils only its own chunk; the ones around it still come.
// A chunk asked for out of turn is refused rather than mixed up.
TEST(MftReadAhead, ABadChunkIsRefusedAndTheRestStillCome) {
  ClearStop();
  NtfsLayout layout;
  layout.mftRecords = 64;
  NtfsTestImage image = VolumeWithRecords(layout);
  OpenTable open = TableOf(image);
  CAttrNonResident* table = open.data;
  ASSERT_NE(table, nullptr);
  auto device = std::make_unique<MemoryDevice>(image.bytes(), layout.sectorBytes);
  // Record 30 lies in the second chunk of 10 (records 26..35).
  device->failFrom = image.MftByteOffset() + 30 * layout.recordBytes;
  device->failTo = device->failFrom + 512;
  MftReadAhead ahead(std::move(device), *table, {16, 64, layout.recordBytes, 10, 512});
  std::vector<uint8_t> chunk;
  EXPECT_TRUE(ahead.Take(16, chunk));
  EXPECT_FALSE(ahead.Take(26, chunk));
  EXPECT_TRUE(ahead.Take(36, chunk));
  EXPECT_FALSE(ahead.Take(999, chunk)) << "not the next chunk";
}

// A chunk nobody has begun is read on the caller's own handle at once, in
// the caller's turn: skipping ahead neither waits for the thread nor mixes
// up chunks, and a bad sector on that handle refuses only that chunk.
TEST(MftReadAhead, TheCallerReadsChunksNobodyBegan) {
  ClearStop();
  NtfsLayout layout;
  layout.mftRecords = 106;
  NtfsTestImage image = VolumeWithRecords(layout);
  OpenTable open = TableOf(image);
  CAttrNonResident* table = open.data;
  ASSERT_NE(table, nullptr);
  auto own = std::make_unique<MemoryDevice>(image.bytes(), layout.sectorBytes);
  auto ownStats = own->stats;
  // Record 90 lies in the chunk of records 86..95, bad on the caller's handle only.
  own->failFrom = image.MftByteOffset() + 90 * layout.recordBytes;
  own->failTo = own->failFrom + 512;
  MftReadAhead ahead(std::make_unique<MemoryDevice>(image.bytes(), layout.sectorBytes), *table,
                     {16, 106, layout.recordBytes, 10, 512}, std::move(own));
  auto expected = [&](uint64_t first) {
    std::vector<uint8_t> bytes(10 * layout.recordBytes);
    uint64_t got = 0;
    EXPECT_TRUE(table->ReadBytes(first * layout.recordBytes, bytes.data(), bytes.size(), got));
    return bytes;
  };
  std::vector<uint8_t> chunk;
  ASSERT_TRUE(ahead.Take(16, chunk));
  EXPECT_EQ(chunk, expected(16));
  // The thread keeps at most two chunks ready and so cannot have begun
  // 56 (nor, after that, 86).
  ASSERT_TRUE(ahead.Take(56, chunk));
  EXPECT_EQ(chunk, expected(56));
  EXPECT_GT(ownStats->reads, 0);
  EXPECT_FALSE(ahead.Take(86, chunk)) << "the caller's bad sector";
  EXPECT_FALSE(ahead.Take(17, chunk)) << "not where a chunk starts";
  ASSERT_TRUE(ahead.Take(96, chunk));
  EXPECT_EQ(chunk, expected(96));
}

// A stop ends the reading thread; destroying the read-ahead while chunks
// wait untaken does not hang.
TEST(MftReadAhead, StopAndEarlyDestructionEndTheThread) {
  ClearStop();
  NtfsLayout layout;
  layout.mftRecords = 64;
  NtfsTestImage image = VolumeWithRecords(layout);
  OpenTable open = TableOf(image);
  CAttrNonResident* table = open.data;
  ASSERT_NE(table, nullptr);
  {
    MftReadAhead ahead(std::make_unique<MemoryDevice>(image.bytes(), 512), *table,
                       {16, 64, layout.recordBytes, 1, 512});
    std::vector<uint8_t> chunk;
    EXPECT_TRUE(ahead.Take(16, chunk));
  }
  RequestStop();
  MftReadAhead stopped(std::make_unique<MemoryDevice>(image.bytes(), 512), *table,
                       {16, 64, layout.recordBytes, 1, 512});
  std::vector<uint8_t> chunk;
  uint64_t taken = 0;
  for (uint64_t n = 16; n < 64 && stopped.Take(n, chunk); ++n) ++taken;
  ClearStop();
  EXPECT_LT(taken, 48u) << "a stop ends the reading early";
}

// Extents of a stream with a sparse run between two real ones, for a range
// starting and ending inside clusters.
TEST(Attributes, ExtentsFollowTheRunsIncludingSparseOnes) {
  NtfsTestImage image;
  const uint32_t cluster = image.layout().clusterBytes;
  image.PutClusters(100, Pattern(2 * cluster, 1));
  image.PutClusters(150, Pattern(3 * cluster, 2));
  image.PutRecord(20, image.Record(0).FileName(5, u"s").NonResidentData(
                          EncodeRuns({{2, 100}, {1, -1}, {3, 150}}), 0, 5, 6 * cluster));
  auto volume = OpenOn(image);
  CFileRecord record(volume.get());
  ASSERT_TRUE(record.LoadFileRecord(20) && record.BuildAttributes());
  auto* data = dynamic_cast<CAttrNonResident*>(record.LookupDataStream(nullptr));
  ASSERT_NE(data, nullptr);

  std::vector<CAttrNonResident::Extent> pieces;
  const uint64_t from = cluster + 100, length = 4 * cluster;
  ASSERT_TRUE(data->MapExtents(from, length, pieces));
  ASSERT_EQ(pieces.size(), 3u);
  EXPECT_EQ(pieces[0].volumeOffset, 101 * uint64_t{cluster} + 100);
  EXPECT_EQ(pieces[0].bytes, cluster - 100u);
  EXPECT_TRUE(pieces[1].sparse);
  EXPECT_EQ(pieces[1].bytes, cluster);
  EXPECT_EQ(pieces[2].volumeOffset, 150 * uint64_t{cluster});
  EXPECT_EQ(pieces[2].bytes, 2 * uint64_t{cluster} + 100);

  // The same bytes as ReadBytes, assembled from the extents.
  std::vector<uint8_t> viaRead(length), viaExtents;
  uint64_t got = 0;
  ASSERT_TRUE(data->ReadBytes(from, viaRead.data(), length, got));
  for (const auto& p : pieces) {
    if (p.sparse) {
      viaExtents.insert(viaExtents.end(), p.bytes, 0);
    } else {
      const auto& bytes = image.bytes();
      viaExtents.insert(viaExtents.end(), bytes.begin() + p.volumeOffset, bytes.begin() + p.volumeOffset + p.bytes);
    }
  }
  EXPECT_EQ(viaExtents, viaRead);

  EXPECT_FALSE(data->MapExtents(5 * cluster, cluster + 1, pieces)) << "past the value";
  EXPECT_TRUE(data->MapExtents(0, 0, pieces));
  EXPECT_TRUE(pieces.empty());
}

}  // namespace
}  // namespace kestrel::ntfs
