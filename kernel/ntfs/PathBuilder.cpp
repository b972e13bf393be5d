#include "kernel/ntfs/PathBuilder.h"

#include <algorithm>
#include <vector>

#include "kernel/SafeName.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/RecordHeader.h"

namespace kestrel::ntfs {
namespace {

// Cuts text to at most `limit` units without splitting a surrogate pair.
void CutTo(std::u16string& text, size_t limit) {
  if (text.size() <= limit) return;
  text.resize(limit);
  if (!text.empty() && text.back() >= 0xD800 && text.back() <= 0xDBFF) text.pop_back();
}

}  // namespace

const PathBuilder::FolderName& PathBuilder::Folder(uint64_t recordNumber) {
  auto found = folders_.find(recordNumber);
  if (found != folders_.end()) return found->second;
  FolderName folder;
  std::vector<uint8_t> image(volume_.RecordBytes());
  if (!image.empty() && volume_.ReadRecordBytes(recordNumber, image.data(), image.size())) {
    ApplyFixups(image.data(), image.size(), volume_.SectorBytes(), false);
    RecordName name = ReadNameFromImage(ByteView(image.data(), image.size()), true);
    folder.usable = name.ok && !name.failed;
    if (folder.usable) {
      folder.parent = name.parent;
      folder.safe = SafeName(name.name);
    }
  }
  return folders_.emplace(recordNumber, std::move(folder)).first->second;
}

std::u16string PathBuilder::Rebuild(CFileRecord& record, size_t limit) {
  std::u16string path;
  AppendPath(record, limit, path);
  return path;
}

void PathBuilder::AppendPath(CFileRecord& record, size_t limit, std::u16string& out) {
  RecordName& leaf = leaf_;
  ReadNameFromImage(record.Image(), false, leaf);
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
  std::u16string& name = name_;
  if (leaf.ok && !leaf.failed)
    AssignSafeName(name, leaf.name);
  else
    name.assign(u"lostfile");
  CutTo(name, limit);
  uint64_t parent = leaf.ok && !leaf.failed ? leaf.parent : 0;

  // Chains are short (a few folders), so a linear look for a repeat costs
  // less than a set; kMaxFolderDepth bounds it.
  chain_.clear();
  visited_.assign(1, record.RecordNumber());
  size_t used = name.size();
  while (parent != kRootFolderRecord && chain_.size() < kMaxFolderDepth) {
    if (std::find(visited_.begin(), visited_.end(), parent) != visited_.end()) break;  // a loop
    visited_.push_back(parent);
    const FolderName& folder = Folder(parent);
    if (!folder.usable) break;
    if (used + 1 + folder.safe.size() > limit) break;
    used += 1 + folder.safe.size();
    chain_.push_back(&folder.safe);
    parent = folder.parent;
  }

  out.reserve(out.size() + used);
  for (auto it = chain_.rbegin(); it != chain_.rend(); ++it) {
    out += **it;
    out += u'\\';
  }
  out += name;
}

}  // namespace kestrel::ntfs
