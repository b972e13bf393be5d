#include "kernel/RecoveryWriter.h"

#include <algorithm>
#include <optional>
#include <system_error>
#include <thread>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/PathBuilder.h"
#include "kernel/os/Os.h"

namespace kestrel {
namespace {
constexpr uint64_t kCopyBlockBytes = 0xA00000;  // 10 MiB per read and write

// Writes one block at a time on its own thread: Write waits for the block
// before (and reports whether it failed), then starts this one; the buffer
// must stay untouched until the next Write or Finish returns.
class OverlappedWriter {
 public:
  explicit OverlappedWriter(os::OutputFile& file) : file_(file) {}
  ~OverlappedWriter() { Finish(); }
  OverlappedWriter(const OverlappedWriter&) = delete;
  OverlappedWriter& operator=(const OverlappedWriter&) = delete;

  bool Write(const uint8_t* data, size_t length) {
    if (!Finish()) return false;
    try {
      thread_ = std::thread([this, data, length] { ok_ = file_.Write(data, length); });
    } catch (const std::system_error&) {
      ok_ = file_.Write(data, length);  // no thread to be had: write here
    }
    return true;
  }
  // Leaves `bytes` of zeros as a hole, after the block in flight.
  bool Skip(uint64_t bytes) { return Finish() && file_.SkipZeros(bytes); }
  // Waits for the block in flight; false when any write failed.
  bool Finish() {
    if (thread_.joinable()) thread_.join();
    return ok_;
  }

 private:
  os::OutputFile& file_;
  std::thread thread_;
  bool ok_ = true;
};
}  // namespace

int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t recordNumber) {
  ntfs::CNTFSVolume volume(letter);
  return RecoverNtfsItem(volume, folder, recordNumber);
}

int RecoverNtfsItem(ntfs::CNTFSVolume& volume, const std::u16string& folder, uint64_t recordNumber,
                    ntfs::PathBuilder* paths) {
  if (!volume.IsUsable()) return 0;
  ntfs::CFileRecord record(&volume);
  if (!record.LoadFileRecord(recordNumber)) return 0;
  // File names too, so a name kept in an extension record is found.
  record.SetTypeMask(ntfs::kMaskData | ntfs::kMaskFirstLook);
  if (!record.BuildAttributes()) return 0;

  const std::u16string base = folder + u"Deleted\\";
  if (base.size() >= kMaxItemPath) return 0;
  std::optional<ntfs::PathBuilder> own;
  if (!paths) paths = &own.emplace(volume);
  const std::u16string output = base + paths->Rebuild(record, kMaxItemPath - base.size());
  // Most files share their folder with the one before: make the folder
  // chain only when the file cannot be created without it.
  std::unique_ptr<os::OutputFile> file = os::CreateOutputFile(output);
  if (!file && os::CreateFolderChain(output.substr(0, output.rfind(u'\\'))))
    file = os::CreateOutputFile(output);
  if (!file) return 0;

  ntfs::CAttrBase* data = record.LookupDataStream(nullptr);
  if (!data) return 0;  // nothing to copy; the empty file stays
  const uint64_t size = data->GetValueSize(nullptr);
  if (size <= kCopyBlockBytes) {
    std::vector<uint8_t> buffer(static_cast<size_t>(size));
    uint64_t got = 0;
    if (StopRequested()) return 0;
    if (!data->ReadBytes(0, buffer.data(), size, got) || got != size) return 0;
    if (!file->Write(buffer.data(), buffer.size())) return 0;
    return file->Close() ? 1 : 0;
  }
  // Larger files: each block is written on a second thread while the next
  // one is read, in order, so reading and writing overlap. Sparse runs
  // become holes in the output rather than written zeros: a run claiming
  // petabytes of nothing must not fill the disk or keep the copy going.
  // The buffers outlive the writer, whose thread may still be writing one.
  std::vector<uint8_t> buffers[2] = {std::vector<uint8_t>(kCopyBlockBytes), std::vector<uint8_t>(kCopyBlockBytes)};
  OverlappedWriter writer(*file);
  int turn = 0;
  uint64_t copied = 0;
  auto copy = [&](uint64_t bytes) {
    for (const uint64_t end = copied + bytes; copied < end;) {
      // A stopped copy leaves its partial file but is not reported as done.
      if (StopRequested()) return false;
      uint64_t want = std::min(kCopyBlockBytes, end - copied);
      uint64_t got = 0;
      std::vector<uint8_t>& buffer = buffers[turn];
      turn ^= 1;
      // A block that cannot be read whole ends the copy: writing on would put
      // the rest of the file at the wrong offset.
      if (!data->ReadBytes(copied, buffer.data(), want, got) || got != want) return false;
      if (!writer.Write(buffer.data(), static_cast<size_t>(want))) return false;
      copied += want;
    }
    return true;
  };
  std::vector<ntfs::CAttrNonResident::Extent> pieces;
  auto* runs = dynamic_cast<ntfs::CAttrNonResident*>(data);
  const uint64_t cluster = volume.ClusterBytes();
  const uint64_t mapped = runs && cluster != 0 && runs->MappedClusters() < UINT64_MAX / cluster
                              ? std::min(size, runs->MappedClusters() * cluster)
                              : size;
  if (runs && runs->MapExtents(0, mapped, pieces)) {
    for (const auto& piece : pieces) {
      if (StopRequested()) return 0;
      if (!piece.sparse) {
        if (!copy(piece.bytes)) return 0;
      } else if (writer.Skip(piece.bytes)) {
        copied += piece.bytes;
      } else {
        return 0;
      }
    }
    // What the runs do not map cannot be read: the part before it stays.
    if (copied < size) return 0;
  } else if (!copy(size)) {
    return 0;
  }
  if (!writer.Finish()) return 0;
  return file->Close() ? 1 : 0;
}

}  // namespace kestrel
