#include "kernel/formatted/OldNtfs.h"

#include <algorithm>
#include <cstdint>
#include <map>
#include <unordered_map>

#include "kernel/SafeName.h"
#include "kernel/formatted/VolumeReader.h"
#include "kernel/ntfs/AttributeHeader.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/RecordHeader.h"

namespace kestrel::formatted {
namespace {

using namespace kestrel::ntfs;

constexpr uint64_t kExtendRecord = 11;
constexpr uint64_t kFirstUserRecord = 24;  // 0..23 are the file system's own
// Record headers of NTFS 3.1 hold the record's own number at 0x2C (their
// update sequence array starts at 0x30 or later).
constexpr size_t kRecOwnNumber = 0x2C;
constexpr size_t kRecBaseReference = 0x20;
// Standard information, file name and data: attribute lists are not
// followed, since the records they name are old ones the current volume
// would read from its own table.
constexpr uint32_t kMaskOld = 0x85;

struct Found {
  uint64_t number = 0;
  bool inUse = false;
  size_t index = 0;  // into the files or folders made from it
};

}  // namespace

Outcome FindOldNtfs(const VolumeSource& source, SectorReader& reader, uint64_t volumeBytes,
                    ScanSink& sink, OldTree& tree) {
  CNTFSVolume current(source.OpenWindow());
  if (!current.IsUsable()) return current.OpenOutcome().ok() ? Outcome::Damaged(u"the NTFS volume cannot be opened") : current.OpenOutcome();
  const uint32_t recordBytes = current.RecordBytes();
  if (recordBytes == 0 || kPassBytes % recordBytes != 0)
    return Outcome::Unsupported(u"NTFS file records of this size");

  // The current $MFT's records are today's: the old ones are everywhere else.
  std::vector<CAttrNonResident::Extent> currentMft;
  if (auto* mft = dynamic_cast<CAttrNonResident*>(current.MftData()))
    mft->MapExtents(0, current.RecordCount() * recordBytes, currentMft);
  auto inCurrentMft = [&](uint64_t offset) {
    for (const auto& e : currentMft)
      if (!e.sparse && offset >= e.volumeOffset && offset - e.volumeOffset < e.bytes) return true;
    return false;
  };

  std::unordered_map<uint64_t, Found> byNumber;  // the first good copy of each record
  std::map<uint64_t, unsigned> clusterVotes;     // bytes per cluster the data runs imply
  struct Folder {
    uint64_t parent;
    std::u16string name;
  };
  std::unordered_map<uint64_t, Folder> folders;
  uint64_t anonymous = uint64_t{1} << 48;  // keys of records that do not say their number

  CFileRecord record(&current);
  record.SetTypeMask(kMaskOld);
  Outcome outcome = ReadWholeVolume(reader, volumeBytes, sink, [&](uint64_t at, ByteView piece) {
    for (size_t pos = 0; pos + recordBytes <= piece.size(); pos += recordBytes) {
      ByteView raw = piece.Sub(pos, recordBytes);
      if (!HasFileSignature(raw) || inCurrentMft(at + pos)) continue;
      // Extension records carry attributes of a base record, not a file.
      if ((raw.u64(kRecBaseReference) & kRecordNumberMask) != 0) continue;
      const uint64_t number =
          raw.u16(kRecUsaOffset) >= 0x30 ? raw.u32(kRecOwnNumber) : anonymous++;
      const bool inUse = (raw.u16(kRecFlags) & kRecInUse) != 0;
      const bool isFolder = (raw.u16(kRecFlags) & kRecDirectory) != 0;
      if (number < kFirstUserRecord) continue;
      // A copy of a record seen before (a mirror, a stale copy) counts only
      // when it is in use and the first was not.
      auto seen = byNumber.find(number);
      if (seen != byNumber.end() && (seen->second.inUse || !inUse)) continue;
      if (!record.LoadFromImage(kNoRecord, raw) || !record.BuildAttributes()) continue;
      CAttr_FileName* name = record.PrimaryFileName();
      if (!name) continue;
      const uint64_t parent = name->ParentReference() & kRecordNumberMask;
      if (parent == kExtendRecord) continue;
      std::u16string safe = SafeName(name->FileName());

      if (isFolder) {
        // A file taken from an older copy of this record is dropped.
        if (seen != byNumber.end() && seen->second.index != SIZE_MAX)
          tree.files[seen->second.index].name.clear();
        folders[number] = Folder{parent, std::move(safe)};
        byNumber[number] = Found{number, inUse, SIZE_MAX};
        continue;
      }
      OldFile file;
      file.parent = parent;
      file.name = std::move(safe);
      file.details.recordNumber = number;
      if (auto* info = static_cast<CAttr_StdInfo*>(record.GetFirstAttribute(kAttrStdInfo)))
        info->GetUtcTimes(&file.details.modified, &file.details.created, &file.details.accessed);
      CAttrBase* data = record.LookupDataStream(nullptr);
      if (data) {
        file.size = data->GetValueSize(nullptr);
        if (const uint16_t flags = data->Header().u16(kAttrFlags); flags & kAttrFlagSparse)
          file.details.flags |= KX_FLAG_SPARSE;
        if (auto* runs = dynamic_cast<CAttrNonResident*>(data)) {
          if (!runs->RunsValid()) continue;
          for (const tagDataRun_Entry& run : runs->Runs())
            file.runs.push_back(ClusterRun{run.lcn < 0 ? 0 : static_cast<uint64_t>(run.lcn),
                                           run.runLength, run.lcn < 0});
          // Allocated bytes over mapped clusters is the old cluster size.
          const ByteView h = data->Header();
          const uint64_t first = h.u64(kAttrFirstVcn), last = h.u64(kAttrLastVcn);
          const uint64_t allocated = h.u64(kAttrAllocatedSize);
          if (first == 0 && last >= first && allocated != 0 && allocated % (last + 1) == 0) {
            const uint64_t c = allocated / (last + 1);
            if (c >= 256 && c <= (2u << 20) && (c & (c - 1)) == 0) ++clusterVotes[c];
          }
        } else {
          uint64_t got = 0;
          file.resident = true;
          file.details.flags |= KX_FLAG_RESIDENT;
          file.data.resize(static_cast<size_t>(std::min<uint64_t>(file.size, recordBytes)));
          if (!data->ReadBytes(0, file.data.data(), file.data.size(), got) || got != file.size)
            continue;
        }
      } else {
        // The stream lives in extension records an attribute list named:
        // the size is known from the name, the clusters are not.
        file.size = record.GetSizeFromName();
      }
      if (seen != byNumber.end() && seen->second.index != SIZE_MAX) {
        tree.files[seen->second.index] = std::move(file);
        seen->second.inUse = inUse;
      } else {
        if (seen != byNumber.end()) folders.erase(number);
        byNumber[number] = Found{number, inUse, tree.files.size()};
        tree.files.push_back(std::move(file));
      }
    }
  });
  if (!outcome.ok()) return outcome;

  tree.fileSystem = u"NTFS";
  tree.SetRoot(kRootFolderRecord);
  for (auto& [key, folder] : folders) tree.AddFolder(key, folder.parent, std::move(folder.name));
  uint64_t best = current.ClusterBytes();
  unsigned votes = 0;
  for (const auto& [c, n] : clusterVotes)
    if (n > votes) {
      best = c;
      votes = n;
    }
  tree.geometry = OldGeometry{0, 0, best};
  return Outcome::Success();
}

}  // namespace kestrel::formatted
