// What a search for a previous file system finds: its cluster geometry,
// the folders it could link (by the key the file system names a folder
// with: an MFT record number, a first cluster) and the files, each with
// the clusters it is read from. Paths are made here for every file system
// alike, so a missing or looping parent chain ends the same way for all.
#pragma once

#include <cstdint>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/engine/AllocationMap.h"
#include "kernel/engine/ItemDetails.h"

namespace kestrel::formatted {

// The top folder of every item, and the folder files go under whose
// parent chain breaks off.
inline constexpr char16_t kTopFolder[] = u"Previous file system";
inline constexpr char16_t kLostFolders[] = u"Lost folders";

// Where the old file system's clusters lie: cluster n starts at
// firstClusterByte + (n - firstCluster) * clusterBytes.
struct OldGeometry {
  uint64_t firstClusterByte = 0;
  uint64_t firstCluster = 0;
  uint64_t clusterBytes = 0;
  uint64_t ClusterOffset(uint64_t cluster) const {
    return firstClusterByte + (cluster - firstCluster) * clusterBytes;
  }
};

struct OldFile {
  uint64_t parent = 0;     // key of the folder holding it
  std::u16string name;     // already made safe
  uint64_t size = 0;
  std::vector<ClusterRun> runs;   // old clusters, in file order
  bool resident = false;          // the bytes are `data` (NTFS resident values)
  std::vector<uint8_t> data;
  ItemDetails details;            // times and record number; state comes later
};

class OldTree {
 public:
  std::u16string fileSystem;  // "NTFS", "FAT32"...
  OldGeometry geometry;
  std::vector<OldFile> files;

  void SetRoot(uint64_t key) { root_ = key; }
  // A folder `key` named `safeName` inside folder `parent`; a key added
  // twice keeps its first entry.
  void AddFolder(uint64_t key, uint64_t parent, std::u16string safeName);
  bool HasFolder(uint64_t key) const { return folders_.count(key) != 0 || key == root_; }
  size_t FolderCount() const { return folders_.size(); }
  // "Previous file system\a\b" for the folder `key`: its chain up to the
  // root; a chain that reaches a folder not found, or comes back on
  // itself, is put under "Previous file system\Lost folders".
  const std::u16string& FolderPath(uint64_t key);

 private:
  struct Folder {
    uint64_t parent = 0;
    std::u16string name;
    bool resolved = false;
    std::u16string path;
  };
  uint64_t root_ = 0;
  std::unordered_map<uint64_t, Folder> folders_;
  std::u16string rootPath_ = kTopFolder;
  std::u16string lostPath_ = std::u16string(kTopFolder) + u"\\" + kLostFolders;
};

}  // namespace kestrel::formatted
