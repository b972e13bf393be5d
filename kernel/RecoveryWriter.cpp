#include "kernel/RecoveryWriter.h"

#include <algorithm>
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
}  // namespace

int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t recordNumber) {
  ntfs::CNTFSVolume volume(letter);
  return RecoverNtfsItem(volume, folder, recordNumber);
}

int RecoverNtfsItem(ntfs::CNTFSVolume& volume, const std::u16string& folder, uint64_t recordNumber) {
  if (!volume.IsUsable()) return 0;
  ntfs::CFileRecord record(&volume);
  if (!record.LoadFileRecord(recordNumber)) return 0;
  // File names too, so a name kept in an extension record is found.
  record.SetTypeMask(ntfs::kMaskData | ntfs::kMaskFirstLook);
  if (!record.BuildAttributes()) return 0;

  const std::u16string base = folder + u"Deleted\\";
  if (base.size() >= kMaxItemPath) return 0;
  ntfs::PathBuilder paths(volume);
  const std::u16string output = base + paths.Rebuild(record, kMaxItemPath - base.size());
  // Most files share their folder with the one before: make the folder
  // chain only when the file cannot be created without it.
  std::unique_ptr<os::OutputFile> file = os::CreateOutputFile(output);
  if (!file && os::CreateFolderChain(output.substr(0, output.rfind(u'\\'))))
    file = os::CreateOutputFile(output);
  if (!file) return 0;

  ntfs::CAttrBase* data = record.LookupDataStream(nullptr);
  if (!data) return 0;  // nothing to copy; the empty file stays
  const uint64_t size = data->GetValueSize(nullptr);
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min(size, kCopyBlockBytes)));
  for (uint64_t offset = 0; offset < size; offset += kCopyBlockBytes) {
    // A stopped copy leaves its partial file but is not reported as done.
    if (StopRequested()) return 0;
    uint64_t want = std::min(kCopyBlockBytes, size - offset);
    uint64_t got = 0;
    // A block that cannot be read whole ends the copy: writing on would put
    // the rest of the file at the wrong offset.
    if (!data->ReadBytes(offset, buffer.data(), want, got) || got != want) return 0;
    if (!file->Write(buffer.data(), static_cast<size_t>(want))) return 0;
  }
  return file->Close() ? 1 : 0;
}

}  // namespace kestrel
