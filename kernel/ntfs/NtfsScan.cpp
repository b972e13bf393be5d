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
constexpr size_t kChunkBytes = 1 << 20;

// Hands out MFT record images, read through the $MFT's runs in large
// sequential chunks (shared with a second thread reading ahead, where more
// handles on the volume open); a chunk that cannot be read whole is
// retried record by record, so one bad sector costs only the records on it.
class MftRecordReader {
 public:
  MftRecordReader(CNTFSVolume& volume, char16_t letter)
      : volume_(volume), recordBytes_(volume.RecordBytes()), single_(recordBytes_) {
    perChunk_ = std::max<uint64_t>(1, kChunkBytes / recordBytes_);
    auto* table = dynamic_cast<CAttrNonResident*>(volume.MftData());
    if (!table || volume.RecordCount() <= kFirstUserRecord) return;
    MftReadAhead::Plan plan;
    plan.firstRecord = kFirstUserRecord;
    plan.recordCount = volume.RecordCount();
    plan.recordBytes = recordBytes_;
    plan.perChunk = perChunk_;
    plan.sectorBytes = std::max<uint64_t>(volume.SectorBytes(), 512);
    if (letter >= u'a' && letter <= u'z') letter = static_cast<char16_t>(letter - 0x20);
    if (auto device = os::OpenVolume(letter, os::Access::Read))
      readAhead_ = std::make_unique<MftReadAhead>(std::move(device), *table, plan,
                                                  os::OpenVolume(letter, os::Access::Read));
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

int RunDeletedFileScan(const ScanRequest& request, DelItemRegistry& registry) {
  CNTFSVolume volume(request.letter);
  if (!volume.IsUsable()) {
    os::PostToWindow(request.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
    return 0;
  }
  const std::u16string base = request.prefix + u"Deleted\\";
  const size_t limit = base.size() < kMaxItemPath ? kMaxItemPath - base.size() : 0;

  PathBuilder paths(volume);
  MftRecordReader reader(volume, request.letter);
  uintptr_t found = 0;
  std::vector<char16_t> nameBuffer(1024);
  std::u16string path;  // reused: one buffer for every item's path
  // One record object for the pass: loading clears what the last one built.
  CFileRecord record(&volume);
  for (uint64_t n = kFirstUserRecord; n < volume.RecordCount(); ++n) {
    if (StopRequested()) break;
    ByteView raw = reader.Record(n, volume.RecordCount());
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

    ++found;
    os::PostToWindow(request.notifyWindow, KESTREL_WM_SCAN_FOUND_COUNT, found, 0);
    registry.Append(path, static_cast<uint32_t>(n), static_cast<uint32_t>(n >> 32), size,
                    modified);
  }
  os::PostToWindow(request.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
  return 1;
}

}  // namespace kestrel::ntfs
