#include "kernel/exfat/ExfatEngine.h"

#include <algorithm>
#include <unordered_map>
#include <unordered_set>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/device/SectorReader.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/exfat/ExfatBitmap.h"
#include "kernel/exfat/ExfatBootSector.h"
#include "kernel/exfat/ExfatDirEntry.h"
#include "kernel/exfat/ExfatFat.h"
#include "kernel/exfat/ExfatUpcase.h"
#include "kernel/os/Os.h"

namespace kestrel::exfat {
namespace {

// The format's own limit on a folder's size.
constexpr uint64_t kMaxFolderBytes = 256ull << 20;
// Recovered data is copied in pieces of this size.
constexpr size_t kCopyBytes = 4u << 20;

// UTC of a stored time; one stored without its offset is taken as this
// machine's local time.
uint64_t UtcOf(const ExfatTime& time) {
  uint64_t utc = TimeToUtc(time);
  if (utc != 0 && !(time.utcOffset & 0x80)) {
    uint64_t converted = 0;
    if (os::LocalFileTimeToUtc(utc, converted)) utc = converted;
  }
  return utc;
}

struct Folder {
  uint32_t parent = 0;
  bool deleted = false;        // it or a folder above it was deleted
  std::u16string path;         // from the root, "\" between safe names; "" for the root
};

struct Item {
  uint64_t id = 0;
  uint32_t folder = 0;
  uint32_t firstCluster = 0;
  bool noFatChain = false;
  uint64_t size = 0;
  uint64_t validSize = 0;
  std::u16string name;         // made safe
};

// A folder waiting to be read.
struct PendingFolder {
  uint32_t folder = 0;
  uint32_t firstCluster = 0;
  uint64_t length = 0;         // 0: the root, as long as its chain
  bool noFatChain = false;
  bool deleted = false;        // its own entry set is deleted
};

class ExfatVolume final : public VolumeEngine {
 public:
  ExfatVolume(std::unique_ptr<os::Device> device, uint32_t deviceSectorBytes)
      : reader_(std::move(device), deviceSectorBytes) {}

  // Reads and checks the boot region, then the root folder.
  Outcome Open();
  VolumeFacts Facts() const override;
  Outcome Scan(ScanSink& sink) override { return Walk(&sink); }
  bool Allocation(AllocationMap& map, ClusterLayout& layout) override;
  RecoverResult Recover(uint64_t id, ItemWriter& writer) override;

 private:
  uint64_t ClusterBytes() const { return boot_.ClusterBytes(); }
  uint64_t ClustersFor(uint64_t bytes) const {
    return bytes / ClusterBytes() + (bytes % ClusterBytes() != 0);
  }
  // Reads a folder's clusters into folderBytes_ (one entry of
  // folderClusters_ per cluster). False when nothing could be read.
  bool LoadFolder(const PendingFolder& pending, Outcome& failure);
  bool AppendCluster(uint32_t cluster);
  // Reads entry sets from `pos` on; stops at the end of the bytes, at an
  // end-of-folder entry (`ended`) or before a set that runs past the end.
  // Sets in free clusters (`freeSpace`) must also carry their name's hash.
  size_t ParseEntries(size_t pos, uint32_t folder, bool freeSpace, bool& ended, size_t& sets);
  void ReadUpcase();
  void TakeSet(const EntrySet& set, uint32_t folder, uint64_t volumeOffset);
  uint64_t VolumeOffset(size_t pos) const {
    return boot_.ClusterByte(folderClusters_[pos / ClusterBytes()]) + pos % ClusterBytes();
  }
  // The clusters a file's data lies in: its chain while intact, else the
  // contiguous run from its first cluster.
  void DataRuns(uint32_t first, uint64_t size, bool noFatChain, std::vector<ClusterRun>& runs);
  Outcome Walk(ScanSink* sink);
  void Announce(const Item& item, const EntrySet& set);
  Outcome ReadBootRegion();
  Outcome ReadRoot();

  SectorReader reader_;
  ExfatBoot boot_;
  std::unique_ptr<ExfatFat> fat_;
  std::u16string label_;
  BitmapLocation bitmap_;
  BitmapLocation upcase_;
  uint32_t upcaseChecksum_ = 0;
  UpcaseTable upcaseTable_;

  // The last walk.
  bool walked_ = false;
  AllocationMap map_;
  std::vector<Folder> folders_;
  std::vector<Item> items_;
  std::unordered_map<uint64_t, size_t> itemById_;
  std::vector<PendingFolder> pending_;
  std::unordered_set<uint32_t> claimed_;  // clusters read as folder entries or waiting to be
  ScanSink* sink_ = nullptr;

  // Buffers reused for every folder and every copy.
  std::vector<uint8_t> folderBytes_;
  std::vector<uint32_t> folderClusters_;
  std::vector<ClusterRun> runs_;
  EntrySet set_;
  std::u16string safeName_;
  std::u16string path_;
  std::vector<uint8_t> copy_;
};

bool ExfatVolume::AppendCluster(uint32_t cluster) {
  const size_t at = folderBytes_.size();
  folderBytes_.resize(at + ClusterBytes());
  if (!reader_.ReadExact(boot_.ClusterByte(cluster), folderBytes_.data() + at, ClusterBytes())) {
    folderBytes_.resize(at);
    return false;
  }
  folderClusters_.push_back(cluster);
  claimed_.insert(cluster);
  return true;
}

bool ExfatVolume::LoadFolder(const PendingFolder& pending, Outcome& failure) {
  folderBytes_.clear();
  folderClusters_.clear();
  const uint64_t most = std::max<uint64_t>(1, kMaxFolderBytes / ClusterBytes());
  const uint64_t wanted = pending.length == 0 ? most : std::min(most, ClustersFor(pending.length));
  if (pending.noFatChain) {
    runs_.assign(1, {pending.firstCluster, wanted, false});
  } else {
    // A live folder's chain is used as far as it goes; a deleted one's only
    // when it is exactly as long as the folder was.
    const bool exact = pending.deleted && pending.length != 0;
    const ChainEnd end = fat_->Chain(pending.firstCluster, wanted, exact, runs_);
    if (end == ChainEnd::ReadError) {
      failure = Outcome::ReadFailed(fat_->ErrorOffset());
      return false;
    }
    if (end == ChainEnd::Broken && pending.deleted) runs_.assign(1, {pending.firstCluster, wanted, false});
  }
  // Clusters outside the heap or already read as another folder's end the
  // folder: a chain off the volume's end, or a loop.
  std::vector<std::pair<uint32_t, uint64_t>> spans;  // first cluster, count
  for (const ClusterRun& run : runs_) {
    uint64_t n = 0;
    while (n < run.count && boot_.IsCluster(run.first + n) &&
           !claimed_.count(static_cast<uint32_t>(run.first + n)))
      ++n;
    if (n > 0) spans.push_back({static_cast<uint32_t>(run.first), n});
    if (n < run.count) break;
  }
  uint64_t total = 0;
  for (const auto& span : spans) total += span.second;
  if (total == 0) return false;
  folderBytes_.resize(total * ClusterBytes());
  size_t at = 0;
  for (const auto& [first, count] : spans) {
    const size_t bytes = count * ClusterBytes();
    const uint64_t offset = boot_.ClusterByte(first);
    if (!reader_.ReadExact(offset, folderBytes_.data() + at, bytes)) {
      failure = Outcome::ReadFailed(offset);
      folderBytes_.resize(at);
      break;
    }
    for (uint64_t i = 0; i < count; ++i) {
      folderClusters_.push_back(static_cast<uint32_t>(first + i));
      claimed_.insert(static_cast<uint32_t>(first + i));
    }
    at += bytes;
  }
  return !folderClusters_.empty();
}

size_t ExfatVolume::ParseEntries(size_t pos, uint32_t folder, bool freeSpace, bool& ended,
                                 size_t& sets) {
  ended = false;
  while (pos + kEntryBytes <= folderBytes_.size()) {
    const uint8_t type = folderBytes_[pos];
    if (type == kEndOfDirectory) {
      ended = true;
      return pos;
    }
    if ((type | kInUse) != kTypeFile) {
      pos += kEntryBytes;
      continue;
    }
    const SetStatus status =
        ReadEntrySet(ByteView(folderBytes_.data() + pos, folderBytes_.size() - pos), set_);
    if (status == SetStatus::Truncated) return pos;  // may go on in a cluster read on
    if (status != SetStatus::Ok ||
        (freeSpace && upcaseTable_.Loaded() && upcaseTable_.NameHash(set_.name) != set_.nameHash)) {
      pos += kEntryBytes;  // a damaged set: its entries may still start another
      continue;
    }
    ++sets;
    TakeSet(set_, folder, VolumeOffset(pos));
    pos += set_.Bytes();
  }
  return pos;
}

void ExfatVolume::TakeSet(const EntrySet& set, uint32_t folder, uint64_t volumeOffset) {
  AssignSafeName(safeName_, set.name);
  const bool folderDeleted = folders_[folder].deleted;
  if (set.IsFolder()) {
    if (set.dataLength == 0 || !boot_.IsCluster(set.firstCluster)) return;
    if (claimed_.count(set.firstCluster)) return;  // a loop, or read already
    // A deleted folder whose first cluster is in use again holds someone
    // else's entries now.
    if (set.deleted && map_.Known() && map_.InUse(set.firstCluster)) return;
    const std::u16string& parentPath = folders_[folder].path;
    if (parentPath.size() + 1 + safeName_.size() > kMaxItemPath) return;
    Folder child;
    child.parent = folder;
    child.deleted = folderDeleted || set.deleted;
    child.path = parentPath;
    if (!child.path.empty()) child.path += u'\\';
    child.path += safeName_;
    folders_.push_back(std::move(child));
    claimed_.insert(set.firstCluster);
    pending_.push_back({static_cast<uint32_t>(folders_.size() - 1), set.firstCluster,
                        set.dataLength, set.NoFatChain(), set.deleted});
    return;
  }
  if (!set.deleted && !folderDeleted) return;
  Item item;
  item.id = volumeOffset / kEntryBytes;
  item.folder = folder;
  item.firstCluster = set.firstCluster;
  item.noFatChain = set.NoFatChain();
  item.size = set.dataLength;
  item.validSize = std::min(set.validLength, set.dataLength);
  item.name = safeName_;
  items_.push_back(std::move(item));
  if (sink_) Announce(items_.back(), set);
}

void ExfatVolume::Announce(const Item& item, const EntrySet& set) {
  const Folder& folder = folders_[item.folder];
  path_ = sink_->Base();
  path_ += folder.path;
  if (!folder.path.empty()) path_ += u'\\';
  path_ += item.name;
  if (path_.size() > kMaxItemPath) path_.resize(kMaxItemPath);

  ItemDetails details;
  DataRuns(item.firstCluster, item.size, item.noFatChain, runs_);
  map_.Assess(runs_, item.size, ClusterBytes(), details);
  if (folder.deleted) details.flags |= KX_FLAG_IN_DELETED_FOLDER;
  details.recordNumber = item.id;
  details.created = UtcOf(set.created);
  details.modified = UtcOf(set.modified);
  details.accessed = UtcOf(set.accessed);
  // DelItem's time is local: the stored time itself when no offset was
  // stored with it.
  uint64_t local = TimeAsWritten(set.modified);
  if ((set.modified.utcOffset & 0x80) && !os::FileTimeToLocal(details.modified, local))
    local = details.modified;
  sink_->Add(path_, item.id, item.size, local, details);
}

void ExfatVolume::DataRuns(uint32_t first, uint64_t size, bool noFatChain,
                           std::vector<ClusterRun>& runs) {
  runs.clear();
  if (size == 0) return;
  const uint64_t clusters = ClustersFor(size);
  if (!noFatChain && boot_.IsCluster(first) &&
      fat_->Chain(first, clusters, true, runs) == ChainEnd::Complete)
    return;
  runs.assign(1, {first, clusters, false});
}

Outcome ExfatVolume::Walk(ScanSink* sink) {
  sink_ = sink;
  walked_ = true;
  folders_.assign(1, Folder{});
  items_.clear();
  itemById_.clear();
  claimed_.clear();
  pending_.assign(1, {0, boot_.rootCluster, 0, false, false});
  claimed_.insert(boot_.rootCluster);
  // A missing or unreadable bitmap leaves every state unknown; the walk
  // itself does not need it beyond reading on.
  ReadAllocationBitmap(reader_, *fat_, boot_, bitmap_, map_);
  ReadUpcase();

  uint64_t done = 0;
  bool root = true;
  while (!pending_.empty()) {
    if (StopRequested()) {
      sink_ = nullptr;
      return Outcome::Stopped();
    }
    const PendingFolder pending = pending_.back();
    pending_.pop_back();
    if (sink) sink->Progress(done, done + pending_.size() + 1);
    ++done;
    claimed_.erase(pending.firstCluster);  // reserved when found; read now
    Outcome failure;
    if (!LoadFolder(pending, failure)) {
      if (root) {
        sink_ = nullptr;
        return failure.ok() ? Outcome::Damaged(u"the exFAT root folder cannot be read") : failure;
      }
      continue;  // an unreadable folder deep inside is skipped
    }
    root = false;
    bool ended = false;
    size_t sets = 0;
    size_t pos = ParseEntries(0, pending.folder, false, ended, sets);
    // A folder that shrank as its files were deleted gave back the clusters
    // after its last one: read on while they are free and hold entry sets.
    while (!ended && map_.Known() && folderBytes_.size() + ClusterBytes() <= kMaxFolderBytes) {
      const uint64_t next = uint64_t{folderClusters_.back()} + 1;
      if (!boot_.IsCluster(next) || map_.InUse(next) || claimed_.count(static_cast<uint32_t>(next))) break;
      if (!AppendCluster(static_cast<uint32_t>(next))) break;
      size_t found = 0;
      pos = ParseEntries(pos, pending.folder, true, ended, found);
      if (found == 0) break;
    }
  }
  if (sink) sink->Progress(done, done);
  sink_ = nullptr;
  return Outcome::Success();
}

void ExfatVolume::ReadUpcase() {
  // Written in one go at format time; a table that does not check is not used.
  constexpr uint64_t kMostBytes = 2 * 65536 + 4096;
  if (upcaseTable_.Loaded() || !boot_.IsCluster(upcase_.firstCluster) || upcase_.length == 0 ||
      upcase_.length > kMostBytes)
    return;
  DataRuns(upcase_.firstCluster, upcase_.length, false, runs_);
  std::vector<uint8_t> raw(static_cast<size_t>(upcase_.length));
  size_t at = 0;
  for (const ClusterRun& run : runs_) {
    if (at == raw.size() || !boot_.IsCluster(run.first + run.count - 1)) break;
    const size_t take = static_cast<size_t>(std::min<uint64_t>(raw.size() - at, run.count * ClusterBytes()));
    if (!reader_.ReadExact(boot_.ClusterByte(run.first), raw.data() + at, take)) return;
    at += take;
  }
  if (at == raw.size()) upcaseTable_.Load(ByteView(raw.data(), raw.size()), upcaseChecksum_);
}

Outcome ExfatVolume::ReadRoot() {
  // The root folder names the bitmap and the label.
  PendingFolder root{0, boot_.rootCluster, 0, false, false};
  Outcome failure;
  claimed_.clear();
  if (!LoadFolder(root, failure)) {
    return failure.ok() ? Outcome::Damaged(u"the exFAT root folder cannot be read") : failure;
  }
  claimed_.clear();
  ByteView bytes(folderBytes_.data(), folderBytes_.size());
  for (size_t pos = 0; bytes.Has(pos, kEntryBytes); pos += kEntryBytes) {
    const uint8_t type = bytes.u8(pos);
    if (type == kEndOfDirectory) break;
    if (type == kTypeBitmap && (bytes.u8(pos + 1) & 1) == boot_.ActiveBitmap() &&
        bitmap_.firstCluster == 0) {
      bitmap_.firstCluster = bytes.u32(pos + 0x14);
      bitmap_.length = bytes.u64(pos + 0x18);
    } else if (type == kTypeUpcase && upcase_.firstCluster == 0) {
      upcaseChecksum_ = bytes.u32(pos + 0x04);
      upcase_.firstCluster = bytes.u32(pos + 0x14);
      upcase_.length = bytes.u64(pos + 0x18);
    } else if (type == kTypeLabel && label_.empty()) {
      const size_t units = std::min<size_t>(bytes.u8(pos + 1), 11);
      for (size_t i = 0; i < units; ++i) label_ += static_cast<char16_t>(bytes.u16(pos + 2 + i * 2));
    }
  }
  return Outcome::Success();
}

Outcome ExfatVolume::ReadBootRegion() {
  std::vector<uint8_t> first(4096);
  size_t got = 0;
  if (!reader_.Read(0, first.data(), first.size(), got) || got < 512) return Outcome::ReadFailed(0);
  ExfatBoot main;
  Outcome outcome = ParseBootSector(ByteView(first.data(), got), main);
  if (!outcome.ok() && outcome.kind != OutcomeKind::Damaged) return outcome;

  // Both boot regions with their checksums. A main region that does not
  // check is replaced by its backup when the backup is whole.
  const uint8_t shift = first[0x6C];
  const uint32_t sectorBytes = (shift >= 9 && shift <= 12) ? uint32_t{1} << shift : 512;
  std::vector<uint8_t> regions(size_t{sectorBytes} * kBootRegionSectors * 2);
  if (!reader_.ReadExact(0, regions.data(), regions.size())) return Outcome::ReadFailed(0);
  const size_t half = regions.size() / 2;
  const ByteView mainRegion(regions.data(), half), backupRegion(regions.data() + half, half);
  ExfatBoot backup;
  const bool mainGood = outcome.ok() && BootChecksumMatches(mainRegion, sectorBytes);
  const bool backupGood = ParseBootSector(backupRegion, backup).ok() &&
                          backup.SectorBytes() == sectorBytes &&
                          BootChecksumMatches(backupRegion, sectorBytes);
  if (mainGood && backupGood && !main.SameLayout(backup))
    return Outcome::Damaged(u"boot sector and backup disagree");
  if (mainGood) {
    boot_ = main;
  } else if (backupGood) {
    boot_ = backup;
  } else {
    return outcome.ok() ? Outcome::Damaged(u"boot checksum does not match") : outcome;
  }
  reader_.SetAlignment(boot_.SectorBytes());

  // The heap must end inside the device.
  const uint64_t lastSector =
      (uint64_t{boot_.heapOffset} + (uint64_t{boot_.clusterCount} << boot_.clusterShift) - 1)
      << boot_.sectorShift;
  std::vector<uint8_t> tail(boot_.SectorBytes());
  if (!reader_.Read(lastSector, tail.data(), tail.size(), got)) return Outcome::ReadFailed(lastSector);
  if (got < tail.size()) return Outcome::Damaged(u"volume larger than the device");
  return Outcome::Success();
}

Outcome ExfatVolume::Open() {
  if (!reader_.IsOpen()) return Outcome::ReadFailed(0);
  Outcome outcome = ReadBootRegion();
  if (!outcome.ok()) return outcome;
  fat_ = std::make_unique<ExfatFat>(reader_, boot_);
  return ReadRoot();
}

bool ExfatVolume::Allocation(AllocationMap& map, ClusterLayout& layout) {
  if (!map_.Known() && !ReadAllocationBitmap(reader_, *fat_, boot_, bitmap_, map_)) return false;
  map = map_;
  layout.firstClusterByte = boot_.ClusterByte(kFirstCluster);
  layout.clusterBytes = ClusterBytes();
  return true;
}

VolumeFacts ExfatVolume::Facts() const {
  VolumeFacts facts;
  facts.fileSystem = u"exFAT";
  facts.label = label_;
  facts.serial = boot_.serial;
  facts.sectorBytes = boot_.SectorBytes();
  facts.clusterBytes = static_cast<uint32_t>(ClusterBytes());
  facts.totalBytes = boot_.VolumeBytes();
  return facts;
}

RecoverResult ExfatVolume::Recover(uint64_t id, ItemWriter& writer) {
  // A volume opened for recoveries alone finds its items again first.
  if (!walked_) {
    Outcome walked = Walk(nullptr);
    if (walked.kind == OutcomeKind::Stopped) return StoppedResult();
  }
  if (itemById_.empty() && !items_.empty()) {
    itemById_.reserve(items_.size());
    for (size_t i = 0; i < items_.size(); ++i) itemById_.emplace(items_[i].id, i);
  }
  const auto found = itemById_.find(id);
  if (found == itemById_.end()) return {KX_RECOVER_NOT_FOUND, u"no such item on this volume"};
  const Item& item = items_[found->second];

  path_ = folders_[item.folder].path;
  if (!path_.empty()) path_ += u'\\';
  path_ += item.name;
  if (!writer.Create(path_)) return writer.Finish(item.size);
  if (item.size > 0 && !boot_.IsCluster(item.firstCluster))
    return writer.Fail({KX_RECOVER_CORRUPT, u"the file's first cluster lies outside the volume"});

  DataRuns(item.firstCluster, item.size, item.noFatChain, runs_);
  if (copy_.empty()) copy_.resize(kCopyBytes);
  const uint64_t sector = boot_.SectorBytes();
  uint64_t left = item.validSize;  // bytes to read; the rest are zeros
  for (const ClusterRun& run : runs_) {
    if (left == 0) break;
    if (!boot_.IsCluster(run.first + run.count - 1))
      return writer.Fail({KX_RECOVER_CORRUPT, u"the file runs past the end of the volume"});
    uint64_t offset = boot_.ClusterByte(run.first);
    uint64_t runLeft = run.count * ClusterBytes();
    while (runLeft > 0 && left > 0) {
      if (StopRequested()) return writer.Fail(StoppedResult());
      const uint64_t want = std::min<uint64_t>({kCopyBytes, runLeft, left});
      const uint64_t read = (want + sector - 1) / sector * sector;
      if (!reader_.ReadExact(offset, copy_.data(), static_cast<size_t>(read)))
        return writer.Fail(ReadFailure(offset));
      if (!writer.Write(copy_.data(), static_cast<size_t>(want))) return writer.Finish(item.size);
      offset += want;
      runLeft -= want;
      left -= want;
    }
  }
  if (item.size > writer.Written() && !writer.SkipZeros(item.size - writer.Written()))
    return writer.Finish(item.size);
  return writer.Finish(item.size);
}

}  // namespace

ProbeResult Probe(ByteView lead) {
  ProbeResult result;
  ExfatBoot boot;
  Outcome parsed = ParseBootSector(lead, boot);
  if (parsed.kind == OutcomeKind::NotSupported) return result;
  result.outcome = std::move(parsed);
  result.fsKind = KESTREL_FS_FAT;
  result.typeName = u"exFAT";
  if (boot.sectorShift >= 9 && boot.sectorShift <= 12) {
    result.sectorBytes = boot.SectorBytes();
    result.totalSectors = boot.volumeSectors;
  }
  return result;
}

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome) {
  std::unique_ptr<os::Device> device = source.OpenWindow();
  if (!device) {
    outcome = Outcome::ReadFailed(0);
    return nullptr;
  }
  auto volume = std::make_unique<ExfatVolume>(std::move(device), source.deviceSectorBytes);
  outcome = volume->Open();
  if (!outcome.ok()) return nullptr;
  return volume;
}

}  // namespace kestrel::exfat
