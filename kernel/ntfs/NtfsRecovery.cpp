#include "kernel/ntfs/NtfsRecovery.h"

#include <algorithm>
#include <cstdio>
#include <memory>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/ntfs/AttributeHeader.h"
#include "kernel/ntfs/DataStream.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/PathBuilder.h"

namespace kestrel::ntfs {
namespace {
constexpr uint64_t kCopyBlockBytes = 0xA00000;  // 10 MiB per read and write

// Writes one block at a time on its own thread: Write waits for the block
// before (and reports whether it failed), then starts this one; the buffer
// must stay untouched until the next Write or Finish returns.
class OverlappedWriter {
 public:
  explicit OverlappedWriter(ItemWriter& out) : out_(out) {}
  ~OverlappedWriter() { Finish(); }
  OverlappedWriter(const OverlappedWriter&) = delete;
  OverlappedWriter& operator=(const OverlappedWriter&) = delete;

  bool Write(const uint8_t* data, size_t length) {
    if (!Finish()) return false;
    try {
      thread_ = std::thread([this, data, length] { ok_ = out_.Write(data, length); });
    } catch (const std::system_error&) {
      ok_ = out_.Write(data, length);  // no thread to be had: write here
    }
    return true;
  }
  // Leaves `bytes` of zeros as a hole, after the block in flight.
  bool Skip(uint64_t bytes) { return Finish() && out_.SkipZeros(bytes); }
  // Waits for the block in flight; false when any write failed.
  bool Finish() {
    if (thread_.joinable()) thread_.join();
    return ok_;
  }

 private:
  ItemWriter& out_;
  std::thread thread_;
  bool ok_ = true;
};

RecoverResult RecordUnreadable(uint64_t recordNumber) {
  char text[96];
  std::snprintf(text, sizeof text, "MFT record %llu cannot be read",
                static_cast<unsigned long long>(recordNumber));
  return {KX_RECOVER_READ_ERROR, Ascii16(text)};
}

// Where file offset `at` of the stream lies on the volume (0 when unmapped).
uint64_t VolumeOffsetOf(CAttrBase& data, uint64_t at) {
  auto* runs = data.AsNonResident();
  std::vector<CAttrNonResident::Extent> pieces;
  if (!runs || !runs->MapExtents(at, 1, pieces) || pieces.empty() || pieces[0].sparse) return 0;
  return pieces[0].volumeOffset;
}

}  // namespace

RecoverResult RecoverRecord(CNTFSVolume& volume, uint64_t recordNumber, PathBuilder& paths,
                            size_t pathLimit, ItemWriter& writer) {
  if (!volume.IsUsable()) return {KX_RECOVER_VOLUME_CHANGED, volume.OpenOutcome().text};
  CFileRecord record(&volume);
  if (!record.LoadFileRecord(recordNumber)) return RecordUnreadable(recordNumber);
  // File names too, so a name kept in an extension record is found.
  record.SetTypeMask(kMaskData | kMaskFirstLook);
  if (!record.BuildAttributes()) return RecordUnreadable(recordNumber);

  CAttrBase* data = record.LookupDataStream(nullptr);
  if (!data) return {KX_RECOVER_CORRUPT, u"the file record holds no data stream"};
  // The clusters of an encrypted file hold ciphertext: copying them out
  // would give a file that looks whole and is not.
  if (ClassifyDataStream(record) == StreamKind::Encrypted) return {KX_RECOVER_ENCRYPTED, kEncryptedReason};

  const std::u16string relative = paths.Rebuild(record, std::min(pathLimit, writer.PathRoom()));
  if (StopRequested()) return StoppedResult();
  if (!writer.Create(relative)) return writer.Fail({});

  const uint64_t size = data->GetValueSize(nullptr);
  if (size <= kCopyBlockBytes) {
    // Not zeroed first: the read fills it, and a short read writes only what came.
    auto buffer = std::make_unique_for_overwrite<uint8_t[]>(static_cast<size_t>(size));
    uint64_t got = 0;
    if (StopRequested()) return writer.Fail(StoppedResult());
    if (!data->ReadBytes(0, buffer.get(), size, got) || got != size) {
      writer.Write(buffer.get(), static_cast<size_t>(std::min(got, size)));
      return writer.Fail(ReadFailure(VolumeOffsetOf(*data, got)));
    }
    if (!writer.Write(buffer.get(), static_cast<size_t>(size))) return writer.Fail({});
    // Damaged compression units were written as zeros with the rest around
    // them: the copy is kept, but not as whole.
    if (HadCorruptUnits(data)) return writer.Fail({KX_RECOVER_CORRUPT, CorruptUnitsReason(data)});
    return writer.Finish(size);
  }
  // Larger files: each block is written on a second thread while the next
  // one is read, in order, so reading and writing overlap. Sparse runs
  // become holes in the output rather than written zeros: a run claiming
  // petabytes of nothing must not fill the disk or keep the copy going.
  // The buffers outlive the writer, whose thread may still be writing one.
  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(kCopyBlockBytes), std::vector<uint8_t>(kCopyBlockBytes)};
  std::optional<RecoverResult> failure;
  {
    OverlappedWriter overlapped(writer);
    auto* runs = data->AsNonResident();
    int turn = 0;
    uint64_t copied = 0;
    auto copy = [&](uint64_t bytes) {
      for (const uint64_t end = copied + bytes; copied < end;) {
        if (StopRequested()) {
          failure = StoppedResult();
          return false;
        }
        uint64_t want = std::min(kCopyBlockBytes, end - copied);
        uint64_t got = 0;
        // Compression units that start sparse become holes, as sparse runs do.
        if (const uint64_t zeros = runs ? runs->HoleBytesAt(copied, want) : 0) {
          if (!overlapped.Skip(zeros)) return false;
          copied += zeros;
          continue;
        }
        std::vector<uint8_t>& buffer = buffers[turn];
        turn ^= 1;
        // A block that cannot be read whole ends the copy: writing on would
        // put the rest of the file at the wrong offset.
        if (!data->ReadBytes(copied, buffer.data(), want, got) || got != want) {
          failure = ReadFailure(VolumeOffsetOf(*data, copied + got));
          return false;
        }
        if (!overlapped.Write(buffer.data(), static_cast<size_t>(want))) return false;
        copied += want;
      }
      return true;
    };
    std::vector<CAttrNonResident::Extent> pieces;
    const uint64_t cluster = volume.ClusterBytes();
    const uint64_t mapped = runs && cluster != 0 && runs->MappedClusters() < UINT64_MAX / cluster
                                ? std::min(size, runs->MappedClusters() * cluster)
                                : size;
    if (runs && runs->MapExtents(0, mapped, pieces)) {
      for (const auto& piece : pieces) {
        if (StopRequested()) {
          failure = StoppedResult();
          break;
        }
        if (!piece.sparse) {
          if (!copy(piece.bytes)) break;
        } else if (overlapped.Skip(piece.bytes)) {
          copied += piece.bytes;
        } else {
          break;
        }
      }
      // What the runs do not map cannot be read: the part before it stays.
      if (!failure && copied < size && copied == mapped)
        failure = RecoverResult{KX_RECOVER_CORRUPT, u"the file's data runs end before its size"};
    } else {
      copy(size);
    }
    if (!overlapped.Finish() && !failure) failure = RecoverResult{};
  }
  if (!failure && HadCorruptUnits(data)) failure = RecoverResult{KX_RECOVER_CORRUPT, CorruptUnitsReason(data)};
  if (failure) return writer.Fail(*failure);
  return writer.Finish(size);
}

}  // namespace kestrel::ntfs

namespace kestrel {

int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t recordNumber) {
  ntfs::CNTFSVolume volume(letter);
  return RecoverNtfsItem(volume, folder, recordNumber);
}

int RecoverNtfsItem(ntfs::CNTFSVolume& volume, const std::u16string& folder, uint64_t recordNumber,
                    ntfs::PathBuilder* paths) {
  std::optional<ntfs::PathBuilder> own;
  if (!paths) paths = &own.emplace(volume);
  ItemWriter writer(folder);
  const size_t limit = writer.Base().size() < kMaxItemPath ? kMaxItemPath - writer.Base().size() : 0;
  return ntfs::RecoverRecord(volume, recordNumber, *paths, limit, writer).ok() ? 1 : 0;
}

}  // namespace kestrel
