#include "kernel/fat/FatScan.h"

#include <algorithm>

#include "kernel/DelItemRegistry.h"
#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/os/Os.h"

namespace kestrel::fat {
namespace {

// One folder being walked. The walk keeps its own stack rather than
// recursing, so a deep tree cannot exhaust the thread's stack.
struct WalkFrame {
  DirCursor cursor;
  uint32_t startCluster = 0;
  size_t pathUnits = 0;       // length of its relative path
  bool deleted = false;       // its own entry is marked deleted
  bool belowDeleted = false;  // an ancestor's entry is
};

uint64_t ClustersFor(uint64_t size, uint32_t clusterBytes) {
  return (size + clusterBytes - 1) / clusterBytes;
}

void AppendCluster(std::vector<ClusterRun>& runs, uint64_t cluster) {
  if (!runs.empty() && runs.back().first + runs.back().count == cluster)
    ++runs.back().count;
  else
    runs.push_back({cluster, 1, false});
}

// The chain from the first cluster when it is exactly the file's: links in
// use all the way, the right number of clusters, an end mark after them.
bool OwnChain(FatVolume& volume, uint32_t start, uint64_t need, std::vector<ClusterRun>& runs) {
  runs.clear();
  uint32_t cluster = start;
  for (uint64_t taken = 0; taken < need; ++taken) {
    if (!volume.IsDataCluster(cluster)) return false;
    AppendCluster(runs, cluster);
    uint32_t next = 0;
    if (!volume.TryGetFatEntry(cluster, 0, next)) return false;
    const uint8_t kind = ClassifyFatValue(volume.FatType(), next);
    if (taken + 1 == need) return kind == kFatEndOfChain;
    if (kind != kFatInUse) return false;
    cluster = next;
  }
  return false;
}

// Local FILETIME (DOS times are local) to UTC; 0 stays unknown.
uint64_t ToUtc(uint64_t local) {
  uint64_t utc = 0;
  return local != 0 && os::LocalFileTimeToUtc(local, utc) ? utc : 0;
}

}  // namespace

ClusterPlan PlanClusters(FatVolume& volume, const AllocationMap& map, const FoundFile& file,
                         bool withRuns) {
  ClusterPlan plan;
  if (file.size == 0) return plan;
  const FatLayout& layout = volume.Layout();
  const uint64_t need = ClustersFor(file.size, layout.bytesPerCluster);
  if (file.liveEntry && volume.IsDataCluster(file.startCluster) &&
      OwnChain(volume, file.startCluster, need, plan.runs)) {
    plan.ownChain = true;
    return plan;
  }
  plan.runs.assign(1, ClusterRun{file.startCluster, need, false});
  if (need <= 1 || !map.Known() || !volume.IsDataCluster(file.startCluster)) return plan;
  if (map.CountInUse(uint64_t{file.startCluster} + 1, need - 1) == 0) return plan;
  // Some of the clusters after the first are in use now: take free ones.
  plan.fragmentGuess = true;
  if (!withRuns) return plan;
  plan.runs.assign(1, ClusterRun{file.startCluster, 1, false});
  uint64_t taken = 1;
  const uint64_t last = uint64_t{layout.clusterCount} + 1;
  for (uint64_t c = uint64_t{file.startCluster} + 1; c <= last && taken < need; ++c) {
    if (map.InUse(c)) continue;
    AppendCluster(plan.runs, c);
    ++taken;
  }
  return plan;
}

ItemDetails DetailsOf(FatVolume& volume, const AllocationMap& map, const FoundFile& file,
                      const FatDirEntry& entry, uint64_t entryOffset, bool inDeletedFolder) {
  ItemDetails d;
  d.recordNumber = entryOffset / kDirEntryBytes;
  if (inDeletedFolder) d.flags |= KX_FLAG_IN_DELETED_FOLDER;
  const ByteView e = entry.View();
  d.modified = ToUtc(DosDateTimeToFileTime(entry.Date(), entry.Time()));
  // Creation: date, time and hundredths (0-199 tens of milliseconds).
  if (uint64_t created = DosDateTimeToFileTime(e.u16(0x10), e.u16(0x0E)); created != 0) {
    const uint8_t tens = e.u8(0x0D);
    d.created = ToUtc(created + (tens <= 199 ? tens * 100000ull : 0));
  }
  d.accessed = ToUtc(DosDateTimeToFileTime(e.u16(0x12), 0));

  const ClusterPlan plan = PlanClusters(volume, map, file, false);
  if (plan.ownChain) {
    // Its clusters are still allocated to it: nothing else can have them.
    d.state = KX_STATE_INTACT;
    return d;
  }
  // The state is judged over the clusters from the first one on, even when
  // recovery steps around ones in use: a file written around live files
  // cannot be told from one whose tail was overwritten.
  const uint64_t need = ClustersFor(file.size, volume.Layout().bytesPerCluster);
  map.Assess({ClusterRun{file.startCluster, need, false}}, file.size,
             volume.Layout().bytesPerCluster, d);
  if (plan.fragmentGuess) {
    d.flags |= KX_FLAG_FRAGMENT_GUESS;
    if (d.state == KX_STATE_INTACT) {
      d.state = KX_STATE_PARTLY_OVERWRITTEN;
      d.overwrittenShare = std::max<uint16_t>(d.overwrittenShare, 1);
    }
  }
  return d;
}

Outcome WalkVolume(FatVolume& volume, const AllocationMap& map, ScanSink& sink,
                   std::vector<FoundFile>& files) {
  files.clear();
  if (!volume.HasLayout()) return Outcome::Damaged(u"the volume has no readable layout");
  const FatLayout& layout = volume.Layout();
  ClusterBudget budget;
  uint64_t walked = 0;
  const uint64_t total = layout.clusterCount;
  std::vector<WalkFrame> stack;
  {
    WalkFrame root;
    root.cursor.cluster = layout.rootCluster;
    root.cursor.budget = &budget;
    root.cursor.clustersWalked = &walked;
    root.startCluster = layout.rootCluster;
    if (layout.fatType == kFat32 && !volume.IsDataCluster(layout.rootCluster))
      return Outcome::Damaged(u"the root folder lies outside the data area");
    // The root must be readable, or there is nothing to walk at all.
    DirCursor probe;
    probe.cluster = layout.rootCluster;
    FatDirEntry first;
    if (layout.fatType != kFat32 && layout.RootDirBytes() == 0)
      return Outcome::Damaged(u"the root folder has no room for entries");
    if (!volume.NextDirEntry(probe, first)) return Outcome::ReadFailed(volume.LastFailedOffset());
    stack.push_back(std::move(root));
  }
  const std::u16string& base = sink.Base();
  std::u16string relative;  // of the folder on top of the stack
  std::u16string entryName, safe, itemPath;
  FatDirEntry entry;
  uint64_t lastPosted = UINT64_MAX;
  while (!stack.empty()) {
    if (StopRequested()) return Outcome::Stopped();
    WalkFrame& frame = stack.back();
    if (walked != lastPosted) {
      sink.Progress(std::min(walked, total), total);
      lastPosted = walked;
    }
    entryName.clear();
    if (!volume.NextNamedEntry(frame.cursor, entry, entryName, frame.belowDeleted)) {
      stack.pop_back();
      continue;
    }
    relative.resize(frame.pathUnits);
    const bool deleted = entry.IsDeleted();
    if (entry.IsFolder()) {
      if (entryName == u"." || entryName == u"..") continue;
      const uint32_t cluster = entry.FirstCluster();
      // A folder whose cluster is no data cluster would read the fixed root
      // or the boot sector as its entries; one that starts where an
      // ancestor starts would walk in a circle.
      if (!volume.IsDataCluster(cluster)) continue;
      if (deleted && !volume.IsFolderCluster(cluster)) continue;
      const bool cycle = std::any_of(stack.begin(), stack.end(),
                                     [&](const WalkFrame& f) { return f.startCluster == cluster; });
      if (cycle) continue;
      AssignSafeName(safe, entryName);
      const size_t units = frame.pathUnits + (frame.pathUnits ? 1 : 0) + safe.size();
      if (base.size() + units > kMaxItemPath) continue;
      WalkFrame next;
      next.cursor.cluster = cluster;
      next.cursor.budget = &budget;
      next.cursor.clustersWalked = &walked;
      next.startCluster = cluster;
      next.pathUnits = units;
      next.deleted = deleted;
      next.belowDeleted = frame.belowDeleted || frame.deleted;
      if (frame.pathUnits) relative += u'\\';
      relative += safe;
      stack.push_back(std::move(next));  // `frame` is not used past this point
      continue;
    }
    if (!IsListableFileAttribute(entry.Attributes())) continue;
    if (!deleted && !frame.belowDeleted) continue;
    AssignSafeName(safe, entryName);
    itemPath.assign(base);
    itemPath += relative;
    if (!relative.empty()) itemPath += u'\\';
    itemPath += safe;
    if (itemPath.size() > kMaxItemPath) continue;
    FoundFile file;
    file.relativePath.assign(itemPath, base.size(), std::u16string::npos);
    file.startCluster = entry.FirstCluster();
    file.size = entry.Size();
    file.liveEntry = !deleted;
    const ItemDetails details = DetailsOf(volume, map, file, entry, frame.cursor.lastOffset,
                                          frame.deleted || frame.belowDeleted);
    const uint64_t id = files.size();
    files.push_back(std::move(file));
    sink.Add(itemPath, id, entry.Size(), DosDateTimeToFileTime(entry.Date(), entry.Time()),
             details);
  }
  sink.Progress(total, total);
  return Outcome::Success();
}

}  // namespace kestrel::fat
