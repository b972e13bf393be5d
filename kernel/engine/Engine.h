// The engine interface: every file system (and the content scanner) is a
// probe over a volume's first bytes and an opened volume that scans,
// recovers one item and knows its allocation state. Task control, the
// partition listing and recovery go through EngineTable() only.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/ItemDetails.h"
#include "kernel/engine/Outcome.h"

namespace kestrel {

class DelItemRegistry;
class ItemWriter;

// What a probe of a volume's first 4096 bytes says. `outcome` is Ok when
// the engine reads the volume; NotSupported when it is not this engine's
// file system; UnsupportedVariant or Damaged when it is, in a form the
// engine cannot read (the text says which).
struct ProbeResult {
  Outcome outcome = Outcome::NotSupported(u"no file system recognised");
  uint8_t fsKind = 0;           // KESTREL_FS_* for PartitionParameter
  std::u16string typeName;      // "NTFS", "FAT32", "exFAT"
  uint32_t sectorBytes = 0;
  uint64_t totalSectors = 0;
  bool Matches() const { return outcome.kind != OutcomeKind::NotSupported; }
};

// Facts about an opened volume (KX_GetVolumeInfo).
struct VolumeFacts {
  std::u16string fileSystem;
  std::u16string label;
  uint64_t serial = 0;
  uint32_t sectorBytes = 0;
  uint32_t clusterBytes = 0;
  uint64_t totalBytes = 0;
};

// Units done of a total, shared between a scan thread and KX_GetScanProgress.
struct ScanProgress {
  std::atomic<uint64_t> done{0};
  std::atomic<uint64_t> total{0};
};

// Where a scan puts what it finds: items into the registry under the
// scan's prefix, the running count to the notify window, progress for
// KX_GetScanProgress.
class ScanSink {
 public:
  ScanSink(DelItemRegistry& registry, std::u16string prefix, void* notifyWindow,
           ScanProgress* progress = nullptr);
  // prefix + "Deleted\": every item path starts with it.
  const std::u16string& Base() const { return base_; }
  // Adds one found item (path including Base()) and posts the count.
  // `modifiedLocal` is DelItem's local FILETIME.
  bool Add(std::u16string_view path, uint64_t id, uint64_t size, uint64_t modifiedLocal,
           const ItemDetails& details);
  uint64_t Found() const { return found_; }
  void Progress(uint64_t done, uint64_t total);

 private:
  DelItemRegistry& registry_;
  std::u16string base_;
  void* window_;
  ScanProgress* progress_;
  uint64_t found_ = 0;
};

// The outcome of recovering one item, KX_RECOVER_* with a sentence.
struct RecoverResult {
  int code = KX_RECOVER_OK;
  std::u16string text;
  bool ok() const { return code == KX_RECOVER_OK; }
};

// Where the clusters of an allocation map lie on the volume: cluster n
// starts at byte firstClusterByte + (n - map.FirstCluster()) * clusterBytes.
struct ClusterLayout {
  uint64_t firstClusterByte = 0;
  uint64_t clusterBytes = 0;
};

class VolumeEngine {
 public:
  virtual ~VolumeEngine() = default;
  // The volume's cluster map as it is now (read once, in large reads) and
  // where its clusters lie; false when the engine has none or it cannot be
  // read. The content scanner carves only the free clusters it names.
  virtual bool Allocation(AllocationMap& map, ClusterLayout& layout) {
    return false;
  }
  virtual VolumeFacts Facts() const = 0;
  // Registers every found item through `sink`. Corrupt records or entries
  // are skipped; only a volume that cannot be walked at all fails.
  virtual Outcome Scan(ScanSink& sink) = 0;
  // Writes item `id` of the last scan through `writer`.
  virtual RecoverResult Recover(uint64_t id, ItemWriter& writer) = 0;
};

struct EngineEntry {
  const char* name;
  ProbeResult (*probe)(ByteView lead);
  // Opens the volume for a scan or for recoveries; on failure returns null
  // and says why in `outcome`.
  std::unique_ptr<VolumeEngine> (*open)(const VolumeSource& source, Outcome& outcome);
};

// An engine for a scan mode other than the deleted-file scan (KX_MODE_DEEP,
// KX_MODE_FORMATTED). `fileSystem` is the volume's own engine when one
// opened (null on a disk with no readable file system); the mode's engine
// may keep it for the allocation map and the geometry.
struct ModeEntry {
  int mode;
  std::unique_ptr<VolumeEngine> (*open)(const VolumeSource& source,
                                        std::unique_ptr<VolumeEngine> fileSystem, Outcome& outcome);
};
// The scan modes beyond the deleted-file scan; empty until one is built.
const std::vector<ModeEntry>& ModeTable();

// The file-system engines, in the order they are asked.
const std::vector<EngineEntry>& EngineTable();

// Asks every engine's probe; the first that matches wins. `which` (may be
// null) receives it. NotSupported when none matches.
ProbeResult ProbeLead(ByteView lead, const EngineEntry** which);

}  // namespace kestrel
