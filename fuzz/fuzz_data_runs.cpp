// Data-run decoding and reads through the runs: the input's first 32 bytes
// are the extent's first and last VCN, its data size and a read offset, the
// rest its run list, built into a deleted file's $DATA in a small volume;
// then the same runs as a compressed stream (units of 16 clusters).
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/Bytes.h"
#include "kernel/ntfs/DataRun.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "tests/ntfs/NtfsTestImage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::ntfs;
  if (size < 32) return 0;
  const uint64_t firstVcn = kestrel::le64(data);
  const uint64_t lastVcn = kestrel::le64(data + 8);
  const uint64_t dataSize = kestrel::le64(data + 16);
  const uint64_t offset = kestrel::le64(data + 24);
  std::vector<uint8_t> runs(data + 32, data + size);
  if (runs.size() > 700) runs.resize(700);  // what a 1 KiB record holds
  if (runs.empty()) runs.push_back(0);

  std::vector<tagDataRun_Entry> decoded;
  if (DecodeDataRuns(kestrel::ByteView(runs.data(), runs.size()), lastVcn - firstVcn, decoded)) {
    for (size_t i = 1; i < decoded.size(); ++i)
      if (decoded[i].vcnFirst != decoded[i - 1].vcnLast + 1) __builtin_trap();
  }

  std::vector<uint8_t> bytes = kestrel::fuzz::SmallNtfsVolume();
  std::vector<uint8_t> record = kestrel::test::RecordBuilder(kestrel::fuzz::kSmallNtfsRecordBytes, 0)
                                    .StdInfo(0)
                                    .FileName(5, u"f")
                                    .NonResidentData(runs, firstVcn, lastVcn, dataSize)
                                    .Finish();
  kestrel::fuzz::PutRecords(bytes, 16, record.data(), record.size());
  kestrel::fuzz::MapBytesAsVolume(std::move(bytes));
  CNTFSVolume volume(u'F');
  CFileRecord file(&volume);
  file.SetTypeMask(kMaskData);
  if (!file.LoadFileRecord(16) || !file.BuildAttributes()) return 0;
  CAttrBase* stream = file.LookupDataStream(nullptr);
  if (!stream) return 0;
  static std::vector<uint8_t> buffer(32 * 1024);
  uint64_t got = 0;
  for (uint64_t at : {uint64_t{0}, offset, offset % (dataSize | 1), dataSize - 1}) {
    if (stream->ReadBytes(at, buffer.data(), buffer.size(), got) && got > buffer.size())
      __builtin_trap();
    stream->ReadBytes(at, buffer.data(), 4097, got);
  }

  // The extents of a range name exactly the bytes ReadBytes gives for it.
  if (auto* mapped = dynamic_cast<CAttrNonResident*>(stream)) {
    const uint64_t at = offset % (dataSize | 1);
    const uint64_t length = std::min<uint64_t>(4096, dataSize > at ? dataSize - at : 0);
    std::vector<CAttrNonResident::Extent> pieces;
    if (mapped->MapExtents(at, length, pieces)) {
      uint64_t total = 0;
      for (const auto& piece : pieces) total += piece.bytes;
      if (total != length) __builtin_trap();
      if (stream->ReadBytes(at, buffer.data(), length, got) && got == length) {
        std::vector<uint8_t> bytesOf;
        uint64_t position = 0;
        for (const auto& piece : pieces) {
          bytesOf.assign(static_cast<size_t>(piece.bytes), 0);
          size_t read = 0;
          if (!piece.sparse &&
              !(volume.ReadAligned(piece.volumeOffset, bytesOf.data(), bytesOf.size(), read) && read == bytesOf.size()))
            break;  // unreadable here, yet ReadBytes read it: only a device end can differ
          if (std::memcmp(bytesOf.data(), buffer.data() + position, bytesOf.size()) != 0) __builtin_trap();
          position += piece.bytes;
        }
      }
    }
  }
  // The same runs read as a compressed stream: reads stay in their buffer,
  // holes within the range asked for.
  {
    std::vector<uint8_t> packedRecord = kestrel::test::RecordBuilder(kestrel::fuzz::kSmallNtfsRecordBytes, 0)
                                            .StdInfo(0)
                                            .FileName(5, u"c")
                                            .FlaggedData(runs, lastVcn - firstVcn, dataSize, 0x0001, 4, offset)
                                            .Finish();
    std::vector<uint8_t> packedBytes = kestrel::fuzz::SmallNtfsVolume();
    kestrel::fuzz::PutRecords(packedBytes, 16, packedRecord.data(), packedRecord.size());
    kestrel::fuzz::MapBytesAsVolume(std::move(packedBytes));
    CNTFSVolume packedVolume(u'F');
    CFileRecord packed(&packedVolume);
    packed.SetTypeMask(kMaskData);
    if (packed.LoadFileRecord(16) && packed.BuildAttributes()) {
      if (auto* compressed = dynamic_cast<CAttrNonResident*>(packed.LookupDataStream(nullptr))) {
        for (uint64_t at : {uint64_t{0}, offset % (dataSize | 1), dataSize - 1}) {
          if (compressed->ReadBytes(at, buffer.data(), buffer.size(), got) && got > buffer.size())
            __builtin_trap();
          if (compressed->HoleBytesAt(at, buffer.size()) > buffer.size()) __builtin_trap();
        }
      }
    }
  }
  return 0;
}
