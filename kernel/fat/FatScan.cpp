#include "kernel/fat/FatScan.h"

#include <algorithm>
#include <cstring>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/fat/FatDrive.h"
#include "kernel/fat/FatTree.h"
#include "kernel/os/Os.h"

namespace kestrel {

using namespace fat;

CFATdrive* CFATDirectory::Drive() const { return static_cast<CFATdrive*>(volume); }

CFATFile* CFATFile::CopyTo(CFATFile* target) const {
  if (!target) return nullptr;
  target->attributes = attributes;
  target->startCluster = startCluster;
  target->time = time;
  target->date = date;
  target->size = size;
  return target;
}

void CFATDirectory::StartScan(int mode, void* window) {
  notifyWindow = window;
  foundCount = 0;
  ScanFolder(mode);
}

namespace {

// One folder being walked. The walk keeps its own stack rather than
// recursing, so a deep tree cannot exhaust the thread's stack.
struct WalkFrame {
  CFATDirectory* folder;
  DirCursor cursor;
  size_t pathUnits;  // length of "Deleted\...\folder"
};

bool UnderDeletedFolder(const CFATDirectory* folder) {
  for (const CCustomDirectory* p = folder->parent; p; p = p->parent) {
    const auto* dir = dynamic_cast<const CFATDirectory*>(p);
    if (!dir) break;
    if (dir->deletedMark) return true;
  }
  return false;
}

}  // namespace

void CFATDirectory::ScanFolder(int mode) {
  CFATdrive* v = Drive();
  if (!v || !v->HasLayout()) return;
  ClusterBudget budget;
  std::vector<WalkFrame> stack;
  {
    WalkFrame root{this, {}, SafeName(name).size()};
    root.cursor.cluster = startCluster;
    root.cursor.rootSector = rootSector;
    root.cursor.budget = &budget;
    stack.push_back(std::move(root));
  }
  FatDirEntry entry;
  std::u16string entryName;
  while (!stack.empty() && !StopRequested()) {
    WalkFrame& frame = stack.back();
    CFATDirectory* folder = frame.folder;
    entryName.clear();
    if (!v->NextNamedEntry(frame.cursor, entry, entryName, kNameCapacity, mode)) {
      stack.pop_back();
      continue;
    }
    const bool deleted = entry.IsDeleted();
    if (entry.IsFolder()) {
      if (entryName == u"." || entryName == u"..") continue;
      uint32_t cluster = entry.FirstCluster();
      if (deleted && !v->IsFolderCluster(cluster)) continue;
      // A folder whose cluster is no data cluster would read the fixed root
      // or the boot sector as its entries; one that starts where an
      // ancestor starts would walk in a circle.
      if (!v->IsDataCluster(cluster)) continue;
      bool cycle = std::any_of(stack.begin(), stack.end(), [&](const WalkFrame& f) {
        return f.folder->startCluster == cluster;
      });
      if (cycle) continue;
      std::u16string safe = SafeName(entryName);
      size_t units = frame.pathUnits + 1 + safe.size();
      if (units > kMaxItemPath) continue;
      auto child = std::make_unique<CFATDirectory>();
      child->name = std::move(safe);
      child->startCluster = cluster;
      child->rootSector = 0;
      child->volume = v;
      child->parent = folder;
      child->engineValue = 0;
      child->deletedMark = deleted ? 1 : 0;
      child->clusterState = deleted ? (v->GetFatEntry(cluster, 0) == 0 ? 1 : 2) : 0;
      CFATDirectory* raw = child.get();
      folder->children.push_back(std::move(child));
      if (StopRequested()) break;
      WalkFrame next{raw, {}, units};
      next.cursor.cluster = cluster;
      next.cursor.budget = &budget;
      stack.push_back(std::move(next));  // `frame` is not used past this point
      continue;
    }
    if (!IsListableFileAttribute(entry.Attributes())) continue;
    if (!deleted && !UnderDeletedFolder(folder)) continue;
    std::u16string safe = SafeName(entryName);
    if (frame.pathUnits + 1 + safe.size() > kMaxItemPath) continue;
    auto file = std::make_unique<CFATFile>();
    file->fileId = v->TakeFileId();
    file->name = std::move(safe);
    file->attributes = entry.Attributes();
    file->size = entry.Size();
    file->time = entry.Time();
    file->date = entry.Date();
    file->startCluster = entry.FirstCluster();
    file->volume = v;
    file->parent = folder;
    file->deletedMark = deleted ? 1 : 0;
    file->clusterState = deleted ? (v->GetFatEntry(file->startCluster, 0) == 0 ? 1 : 2) : 0;
    folder->children.push_back(std::move(file));
    ++folder->foundCount;
    if (folder->notifyWindow)
      os::PostToWindow(folder->notifyWindow, KESTREL_WM_SCAN_FOUND_COUNT, folder->foundCount, 0);
  }
}

bool CFATdrive::NextNamedEntry(DirCursor& cursor, FatDirEntry& entry, std::u16string& name,
                               size_t capacity, int mode) {
  for (;;) {
    if (!NextDirEntry(cursor, &entry)) return false;
    if (entry.First() == kEndOfDirectory) return false;
    if (mode != 1 && entry.IsDeleted()) continue;  // only mode 1 shows deleted entries
    if (entry.IsLongName()) {
      if (!ReadLongName(cursor, entry, name)) name = ShortNameToText(entry, capacity);
      return true;
    }
    name = ShortNameToText(entry, capacity);
    return true;
  }
}

bool CFATdrive::ReadLongName(DirCursor& cursor, FatDirEntry& entry, std::u16string& name) {
  if (!entry.IsLongName() || entry.LowClusterWord() != 0 || !(entry.First() & 0x40)) return false;
  const uint8_t checksum = entry.LongNameChecksum();
  // Pieces are placed backwards in the order they lie on disk, which gives
  // reading order without the sequence numbers a deleted run has lost.
  char16_t buffer[256] = {};
  int position = kLongNameEnd;
  int taken = 0;
  while (entry.IsLongName() && entry.LowClusterWord() == 0 && taken < kMaxLongNameEntries) {
    if (checksum == 0) break;
    position -= static_cast<int>(kLongNameChars);
    entry.LongNameChars(buffer + position);
    ++taken;
    // The entry after the last piece is the short entry the name belongs
    // to, also after a full 18-piece run; a 19th piece ends the loop and
    // is skipped by the walk like any stray long-name entry.
    if (!NextDirEntry(cursor, &entry)) return false;
  }
  const char16_t* start = buffer + position;
  const char16_t* end = std::find(start, static_cast<const char16_t*>(buffer + 256), u'\0');
  name.assign(start, end);
  return true;
}

bool CFATdrive::IsFolderCluster(uint32_t cluster) {
  DirCursor cursor;
  cursor.cluster = cluster;
  FatDirEntry dot, dotdot;
  if (!IsDataCluster(cluster)) return false;
  if (!NextDirEntry(cursor, &dot) || !NextDirEntry(cursor, &dotdot)) return false;
  return dot.IsFolder() && dot.ShortNameIs(".          ") && dotdot.IsFolder() &&
         dotdot.ShortNameIs("..         ");
}

}  // namespace kestrel
