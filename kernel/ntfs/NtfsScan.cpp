#include "kernel/ntfs/NtfsScan.h"

#include <algorithm>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/StopFlag.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/MftReadAhead.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/PathBuilder.h"
#include "kernel/ntfs/RecordHeader.h"
#include "kernel/os/Os.h"

namespace kestrel::ntfs {
namespace {

constexpr uint64_t kFirstUserRecord = 16;
constexpr uint64_t kBitmapRecord = 6;
constexpr size_t kChunkBytes = 1 << 20;

// Hands out MFT record images, read through the $MFT's runs in large
// sequential chunks (shared with a second thread reading ahead, where more
// handles on the volume open); a chunk that cannot be read whole is
// retried record by record, so one bad sector costs only the records on it.
class MftRecordReader {
 public:
  MftRecordReader(CNTFSVolume& volume, const VolumeSource& source)
      : volume_(volume), recordBytes_(volume.RecordBytes()), single_(recordBytes_) {
    perChunk_ = std::max<uint64_t>(1, kChunkBytes / recordBytes_);
    auto* table = volume.MftData() ? volume.MftData()->AsNonResident() : nullptr;
    if (!table || volume.RecordCount() <= kFirstUserRecord) return;
    MftReadAhead::Plan plan;
    plan.firstRecord = kFirstUserRecord;
    plan.recordCount = volume.RecordCount();
    plan.recordBytes = recordBytes_;
    plan.perChunk = perChunk_;
    plan.sectorBytes = std::max<uint64_t>(volume.SectorBytes(), 512);
    if (auto device = source.OpenWindow())
      readAhead_ = std::make_unique<MftReadAhead>(std::move(device), *table, plan, source.OpenWindow());
  }

  // The image of record n (not fixed up); empty when it cannot be read.
  ByteView Record(uint64_t n, uint64_t recordCount) {
    if (n >= first_ && n - first_ < loaded_) return Slice(n);
    if (n >= badUntil_) {
      uint64_t count = std::min(perChunk_, recordCount - n);
      if (readAhead_ && readAhead_->Take(n, chunk_) && chunk_.size() == count * recordBytes_) {
        first_ = n;
        loaded_ = count;
        return Slice(n);
      }
      chunk_.resize(count * recordBytes_);
      uint64_t got = 0;
      CAttrBase* mft = volume_.MftData();
      if (mft && mft->ReadBytes(n * recordBytes_, chunk_.data(), chunk_.size(), got) &&
          got == chunk_.size()) {
        first_ = n;
        loaded_ = count;
        return Slice(n);
      }
      loaded_ = 0;
      badUntil_ = n + count;
    }
    if (volume_.ReadRecordBytes(n, single_.data(), single_.size()))
      return ByteView(single_.data(), single_.size());
    return ByteView();
  }

 private:
  ByteView Slice(uint64_t n) const {
    return ByteView(chunk_.data() + (n - first_) * recordBytes_, recordBytes_);
  }

  CNTFSVolume& volume_;
  uint64_t recordBytes_;
  uint64_t perChunk_ = 1;
  std::vector<uint8_t> chunk_;
  std::vector<uint8_t> single_;
  uint64_t first_ = 0;
  uint64_t loaded_ = 0;
  uint64_t badUntil_ = 0;
  std::unique_ptr<MftReadAhead> readAhead_;
};

}  // namespace

namespace {

// `clusters` is the caller's scratch, reused from item to item.
void FillDetails(CFileRecord& record, CAttrBase* data, uint64_t size, uint64_t clusterBytes,
                 const AllocationMap& allocation, std::vector<ClusterRun>& clusters,
                 ItemDetails& details) {
  details = ItemDetails{};
  details.recordNumber = record.RecordNumber();
  if (auto* info = static_cast<CAttr_StdInfo*>(record.GetFirstAttribute(kAttrStdInfo))) {
    info->GetUtcTimes(&details.modified, &details.created, &details.accessed);
    if (info->DosFlags() & kDosEncrypted) details.flags |= KX_FLAG_ENCRYPTED;
  }
  if (!data) {
    details.state = size == 0 ? KX_STATE_INTACT : KX_STATE_UNKNOWN;
    return;
  }
  const uint16_t attrFlags = data->Header().u16(kAttrFlags);
  if (attrFlags & kAttrFlagCompressed) details.flags |= KX_FLAG_COMPRESSED;
  if (attrFlags & kAttrFlagEncrypted) details.flags |= KX_FLAG_ENCRYPTED;
  if (attrFlags & kAttrFlagSparse) details.flags |= KX_FLAG_SPARSE;
  auto* runs = data->AsNonResident();
  if (!runs) {
    details.flags |= KX_FLAG_RESIDENT;
    details.state = KX_STATE_INTACT;  // the bytes live in the record itself
    return;
  }
  clusters.clear();
  for (const tagDataRun_Entry& run : runs->Runs()) {
    if (run.lcn < 0) details.flags |= KX_FLAG_SPARSE;
    clusters.push_back(ClusterRun{run.lcn < 0 ? 0 : static_cast<uint64_t>(run.lcn), run.runLength,
                                  run.lcn < 0});
  }
  // A compressed file's clusters hold fewer bytes than its size: judge the
  // clusters it has, not the bytes they expand to.
  uint64_t span = size;
  if (details.flags & KX_FLAG_COMPRESSED) {
    uint64_t allocated = 0;
    for (const ClusterRun& c : clusters) allocated += c.count;
    span = allocated > UINT64_MAX / clusterBytes ? UINT64_MAX : allocated * clusterBytes;
  }
  allocation.Assess(clusters, span, clusterBytes, details);
}

}  // namespace

AllocationMap ReadVolumeBitmap(CNTFSVolume& volume) {
  const uint64_t clusterBytes = volume.ClusterBytes();
  if (clusterBytes == 0) return {};
  const uint64_t clusters = volume.VolumeBytes() / clusterBytes;
  CFileRecord bitmapFile(&volume);
  bitmapFile.SetTypeMask(kMaskData);
  if (!bitmapFile.LoadFileRecord(kBitmapRecord) || !bitmapFile.BuildAttributes()) return {};
  CAttrBase* data = bitmapFile.LookupDataStream(nullptr);
  if (!data) return {};
  const uint64_t bytes = std::min(data->GetValueSize(nullptr), (clusters + 7) / 8);
  if (bytes == 0 || bytes > SIZE_MAX) return {};
  AllocationMap map(0, clusters);
  // One large read after another: the map of a 2 TiB volume is 64 MiB.
  constexpr uint64_t kPiece = 8 << 20;
  std::vector<uint8_t> piece(static_cast<size_t>(std::min(bytes, kPiece)));
  for (uint64_t at = 0; at < bytes; at += piece.size()) {
    const uint64_t want = std::min<uint64_t>(piece.size(), bytes - at);
    uint64_t got = 0;
    if (!data->ReadBytes(at, piece.data(), want, got) || got != want) return {};
    map.SetFromBitmap(at * 8, piece.data(), std::min(want * 8, clusters - at * 8));
  }
  return map;
}

Outcome ScanDeletedRecords(CNTFSVolume& volume, const VolumeSource& source, ScanSink& sink,
                           const AllocationMap& allocation) {
  const std::u16string& base = sink.Base();
  const size_t limit = base.size() < kMaxItemPath ? kMaxItemPath - base.size() : 0;

  PathBuilder paths(volume);
  MftRecordReader reader(volume, source);
  std::vector<char16_t> nameBuffer(1024);
  std::u16string path;  // reused: one buffer for every item's path
  ItemDetails details;
  std::vector<ClusterRun> clusters;
  // One record object for the pass: loading clears what the last one built.
  CFileRecord record(&volume);
  const uint64_t total = volume.RecordCount();
  for (uint64_t n = kFirstUserRecord; n < total; ++n) {
    if (StopRequested()) return Outcome::Stopped();
    if ((n & 1023) == 0) sink.Progress(n, total);
    ByteView raw = reader.Record(n, total);
    // In-use records and folders are most of the table: look at the flags
    // before building anything. The flags lie in the first fix-up block,
    // ahead of its protected last u16.
    if (!HasFileSignature(raw)) continue;
    uint16_t flags = raw.u16(kRecFlags);
    if ((flags & kRecInUse) || (flags & kRecDirectory)) continue;

    // One image serves both looks: names for the test and the path, data
    // for the size, standard information for the time.
    if (!record.LoadFromImage(n, raw)) continue;
    record.SetTypeMask(kMaskFirstLook | kMaskData);
    if (!record.BuildAttributes()) continue;
    if (record.GetPrimaryName(nameBuffer.data(), static_cast<int>(nameBuffer.size())) <= 0)
      continue;

    path.assign(base);
    paths.AppendPath(record, limit, path);
    CAttrBase* data = record.LookupDataStream(nullptr);
    uint64_t size = data ? data->GetValueSize(nullptr) : record.GetSizeFromName();
    uint64_t modified = 0;
    if (auto* info = static_cast<CAttr_StdInfo*>(record.GetFirstAttribute(kAttrStdInfo)))
      info->GetStdTimes(&modified, nullptr, nullptr);
    FillDetails(record, data, size, volume.ClusterBytes(), allocation, clusters, details);
    sink.Add(path, n, size, modified, details);
  }
  sink.Progress(total, total);
  return Outcome::Success();
}

int RunDeletedFileScan(const ScanRequest& request, DelItemRegistry& registry) {
  const VolumeSource source = LetterSource(request.letter);
  CNTFSVolume volume(source.OpenWindow());
  if (!volume.IsUsable()) {
    os::PostToWindow(request.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
    return 0;
  }
  ScanSink sink(registry, request.prefix, request.notifyWindow);
  ScanDeletedRecords(volume, source, sink, ReadVolumeBitmap(volume));
  os::PostToWindow(request.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
  return 1;
}

}  // namespace kestrel::ntfs
