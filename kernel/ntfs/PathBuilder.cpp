#include "kernel/ntfs/PathBuilder.h"

#include <unordered_set>
#include <vector>

#include "kernel/SafeName.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/RecordHeader.h"

namespace kestrel::ntfs {
namespace {

// Cuts text to at most `limit` units without splitting a surrogate pair.
std::u16string CutTo(std::u16string text, size_t limit) {
  if (text.size() <= limit) return text;
  text.resize(limit);
  if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
  return text;
}

}  // namespace

const RecordName& PathBuilder::Folder(uint64_t recordNumber) {
  auto found = folders_.find(recordNumber);
  if (found != folders_.end()) return found->second;
  RecordName name;
  std::vector<uint8_t> image(volume_.RecordBytes());
  if (!image.empty() && volume_.ReadRecordBytes(recordNumber, image.data(), image.size())) {
    ApplyFixups(image.data(), image.size(), volume_.SectorBytes(), false);
    name = ReadNameFromImage(ByteView(image.data(), image.size()), true);
  }
  return folders_.emplace(recordNumber, std::move(name)).first->second;
}

std::u16string PathBuilder::Rebuild(CFileRecord& record, size_t limit) {
  RecordName leaf = ReadNameFromImage(record.Image(), false);
  if (!leaf.ok || leaf.failed) {
    // The name may sit in an extension record (an attribute list moved it
    // out of the base record): the built record has it.
    if (CAttr_FileName* primary = record.PrimaryFileName()) {
      leaf.ok = true;
      leaf.failed = false;
      leaf.name = primary->FileName();
      leaf.parent = primary->ParentReference() & kRecordNumberMask;
    }
  }
  std::u16string name = leaf.ok && !leaf.failed ? SafeName(leaf.name) : std::u16string(u"lostfile");
  name = CutTo(std::move(name), limit);
  uint64_t parent = leaf.ok && !leaf.failed ? leaf.parent : 0;

  std::vector<std::u16string> folders;
  std::unordered_set<uint64_t> visited{record.RecordNumber()};
  size_t used = name.size();
  while (parent != kRootFolderRecord && folders.size() < kMaxFolderDepth) {
    if (!visited.insert(parent).second) break;  // a loop of parent references
    const RecordName& folder = Folder(parent);
    if (!folder.ok || folder.failed) break;
    std::u16string safe = SafeName(folder.name);
    if (used + 1 + safe.size() > limit) break;
    used += 1 + safe.size();
    folders.push_back(std::move(safe));
    parent = folder.parent;
  }

  std::u16string path;
  path.reserve(used);
  for (auto it = folders.rbegin(); it != folders.rend(); ++it) {
    path += *it;
    path += u'\\';
  }
  path += name;
  return path;
}

}  // namespace kestrel::ntfs
