// Rebuilds a file's folder path inside the volume from the parent
// references of its file names, for the scan's items and for the recovery
// writer's output path alike (so the two always agree).
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/ntfs/FileRecord.h"

namespace kestrel::ntfs {

class CNTFSVolume;

// Deepest folder chain followed: a 1023-unit path cannot hold more
// components than this, and parent loops end here at the latest.
constexpr size_t kMaxFolderDepth = 512;

class PathBuilder {
 public:
  explicit PathBuilder(CNTFSVolume& volume) : volume_(volume) {}

  // The path of a loaded record inside the volume: its folders from the
  // root, then its name, every component made safe, "\" between them, at
  // most `limit` units. The walk stops at the root, at the first parent
  // that is no longer a readable folder with a name, at a parent seen
  // before, or at the first folder that would not fit (the deepest
  // folders are kept). A record without a usable name is "lostfile".
  std::u16string Rebuild(CFileRecord& record, size_t limit);
  // The same path added to the end of `out`.
  void AppendPath(CFileRecord& record, size_t limit, std::u16string& out);

 private:
  // The name reader's answer for a folder, with its name already made
  // safe, read once per builder: folder records do not change during one
  // pass.
  struct FolderName {
    bool usable = false;  // a readable folder record with a name
    uint64_t parent = 0;
    std::u16string safe;
  };
  const FolderName& Folder(uint64_t recordNumber);

  CNTFSVolume& volume_;
  std::unordered_map<uint64_t, FolderName> folders_;
  std::vector<uint64_t> visited_;  // reused by every rebuild
  std::vector<const std::u16string*> chain_;
  RecordName leaf_;     // reused by every rebuild, as is the next
  std::u16string name_;
};

}  // namespace kestrel::ntfs
