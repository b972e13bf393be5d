#include "kernel/formatted/FormattedEngine.h"

#include <algorithm>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/fat/FatBootSector.h"
#include "kernel/formatted/OldExfat.h"
#include "kernel/formatted/OldFat.h"
#include "kernel/formatted/OldNtfs.h"
#include "kernel/ntfs/BootSector.h"
#include "kernel/os/Os.h"

namespace kestrel::formatted {
namespace {

enum class Kind { Ntfs, Fat, Exfat };

constexpr size_t kCopyBytes = 1 << 20;

// The old runs as ranges of the current map's clusters, so the old file is
// judged against what the new file system uses now.
std::vector<ClusterRun> InCurrentClusters(const std::vector<ClusterRun>& runs,
                                          const OldGeometry& old, const AllocationMap& map,
                                          const ClusterLayout& now) {
  std::vector<ClusterRun> out;
  if (now.clusterBytes == 0) return out;
  for (const ClusterRun& run : runs) {
    if (run.sparse) {
      out.push_back(run);
      continue;
    }
    const uint64_t begin = old.ClusterOffset(run.first);
    const uint64_t end = begin + run.count * old.clusterBytes;
    if (begin < now.firstClusterByte) {
      out.push_back(ClusterRun{0, 1, false});  // before the data area: not readable as data
      continue;
    }
    const uint64_t first = (begin - now.firstClusterByte) / now.clusterBytes;
    const uint64_t last = (end - now.firstClusterByte + now.clusterBytes - 1) / now.clusterBytes;
    out.push_back(ClusterRun{map.FirstCluster() + first, last - first, false});
  }
  return out;
}

class FormattedEngine final : public VolumeEngine {
 public:
  FormattedEngine(VolumeSource source, std::unique_ptr<VolumeEngine> current, Kind kind,
                  std::unique_ptr<SectorReader> reader, uint64_t volumeBytes, VolumeFacts facts)
      : source_(std::move(source)),
        current_(std::move(current)),
        kind_(kind),
        reader_(std::move(reader)),
        volumeBytes_(volumeBytes),
        facts_(std::move(facts)) {}

  VolumeFacts Facts() const override { return current_ ? current_->Facts() : facts_; }

  bool Allocation(AllocationMap& map, ClusterLayout& layout) override {
    return current_ && current_->Allocation(map, layout);
  }

  Outcome Scan(ScanSink& sink) override {
    tree_ = OldTree{};
    items_.clear();
    Outcome outcome = kind_ == Kind::Ntfs    ? FindOldNtfs(source_, *reader_, volumeBytes_, sink, tree_)
                      : kind_ == Kind::Exfat ? FindOldExfat(*reader_, volumeBytes_, sink, tree_)
                                             : FindOldFat(*reader_, volumeBytes_, sink, tree_);
    if (!outcome.ok()) return outcome;

    AllocationMap map;
    ClusterLayout now;
    if (current_ && !current_->Allocation(map, now)) map = AllocationMap();
    const std::u16string& base = sink.Base();
    std::u16string path;
    for (size_t i = 0; i < tree_.files.size(); ++i) {
      if (StopRequested()) return Outcome::Stopped();
      OldFile& file = tree_.files[i];
      if (file.name.empty()) continue;
      std::u16string relative = tree_.FolderPath(file.parent);
      relative += u'\\';
      relative += file.name;
      if (base.size() + relative.size() > kMaxItemPath) continue;  // would not fit the item

      ItemDetails& d = file.details;
      d.flags |= KX_FLAG_PREVIOUS_FS;
      if (file.resident || file.size == 0) {
        d.state = KX_STATE_INTACT;
      } else if (file.runs.empty()) {
        d.state = KX_STATE_UNKNOWN;  // where its bytes were is not known
      } else if (map.Known()) {
        map.Assess(InCurrentClusters(file.runs, tree_.geometry, map, now), file.size,
                   now.clusterBytes, d);
      } else {
        d.state = KX_STATE_UNKNOWN;
      }
      uint64_t local = d.modified;
      if (d.modified && !os::FileTimeToLocal(d.modified, local)) local = d.modified;
      path.assign(base);
      path += relative;
      items_.push_back(Item{i, std::move(relative)});
      sink.Add(path, items_.size(), file.size, local, d);
    }
    sink.Progress(volumeBytes_, volumeBytes_);
    return Outcome::Success();
  }

  RecoverResult Recover(uint64_t id, ItemWriter& writer) override {
    if (id == 0 || id > items_.size()) return {KX_RECOVER_NOT_FOUND, u"no such item"};
    const Item& item = items_[id - 1];
    const OldFile& file = tree_.files[item.file];
    if (StopRequested()) return StoppedResult();
    if (!file.resident && file.size != 0 && file.runs.empty())
      return {KX_RECOVER_CORRUPT, u"where the old file's bytes lay is not known"};
    if (!writer.Create(item.relative)) return writer.Fail({});
    if (file.resident) {
      if (!writer.Write(file.data.data(), file.data.size())) return writer.Fail({});
      return writer.Finish(file.size);
    }
    std::vector<uint8_t> buffer(kCopyBytes);
    const uint64_t cb = tree_.geometry.clusterBytes;
    uint64_t left = file.size;
    for (const ClusterRun& run : file.runs) {
      if (left == 0) break;
      const uint64_t bytes = std::min(left, run.count * cb);
      if (run.sparse) {
        if (!writer.SkipZeros(bytes)) return writer.Fail({});
        left -= bytes;
        continue;
      }
      const uint64_t start = tree_.geometry.ClusterOffset(run.first);
      for (uint64_t done = 0; done < bytes;) {
        if (StopRequested()) return writer.Fail(StoppedResult());
        const size_t want = static_cast<size_t>(std::min<uint64_t>(kCopyBytes, bytes - done));
        if (start + done + want > volumeBytes_ ||
            !reader_->ReadExact(start + done, buffer.data(), want))
          return writer.Fail(ReadFailure(start + done));
        if (!writer.Write(buffer.data(), want)) return writer.Fail({});
        done += want;
      }
      left -= bytes;
    }
    if (left != 0)
      return writer.Fail({KX_RECOVER_CORRUPT, u"the old record maps fewer clusters than the file's size"});
    return writer.Finish(file.size);
  }

 private:
  struct Item {
    size_t file;
    std::u16string relative;
  };
  VolumeSource source_;
  std::unique_ptr<VolumeEngine> current_;
  Kind kind_;
  std::unique_ptr<SectorReader> reader_;
  uint64_t volumeBytes_;
  VolumeFacts facts_;
  OldTree tree_;
  std::vector<Item> items_;
};

}  // namespace

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, std::unique_ptr<VolumeEngine> current,
                                   Outcome& outcome) {
  auto reader = std::make_unique<SectorReader>(source.OpenWindow(),
                                               std::max<uint32_t>(source.deviceSectorBytes, 512));
  if (!reader->IsOpen()) {
    outcome = Outcome::ReadFailed(0);
    return nullptr;
  }
  std::vector<uint8_t> lead(4096);
  size_t got = 0;
  if (!reader->Read(0, lead.data(), lead.size(), got) || got < 512) {
    outcome = Outcome::ReadFailed(0);
    return nullptr;
  }
  const ByteView boot(lead.data(), got);
  uint64_t volumeBytes = source.length;
  if (volumeBytes == 0 && reader->Device()) reader->Device()->QuerySize(volumeBytes);

  VolumeFacts facts;
  Kind kind;
  ntfs::NtfsGeometry ntfsGeometry;
  fat::FatLayout fatLayout;
  if (ntfs::ParseNtfsBootSector(boot, ntfsGeometry) == ntfs::BootSectorResult::Ok) {
    kind = Kind::Ntfs;
    facts.fileSystem = u"NTFS";
    facts.sectorBytes = ntfsGeometry.sectorBytes;
    facts.clusterBytes = ntfsGeometry.clusterBytes;
    facts.totalBytes = (ntfsGeometry.volumeSectors + 1) * ntfsGeometry.sectorBytes;
  } else if (IsExfatBoot(boot)) {
    kind = Kind::Exfat;
    facts.fileSystem = u"exFAT";
    const unsigned sectorShift = boot.u8(0x6C), clusterShift = boot.u8(0x6D);
    if (sectorShift >= 9 && sectorShift <= 12 && sectorShift + clusterShift <= 25) {
      facts.sectorBytes = 1u << sectorShift;
      facts.clusterBytes = 1u << (sectorShift + clusterShift);
      facts.totalBytes = boot.u64(0x48) << sectorShift;
    }
  } else if (fat::ReadFatLayout(boot, fatLayout) == fat::LayoutResult::Ok) {
    kind = Kind::Fat;
    facts.fileSystem = fatLayout.fatType == fat::kFat32   ? u"FAT32"
                       : fatLayout.fatType == fat::kFat16 ? u"FAT16"
                                                          : u"FAT12";
    facts.sectorBytes = fatLayout.bytesPerSector;
    facts.clusterBytes = fatLayout.bytesPerCluster;
    facts.totalBytes = uint64_t{fatLayout.totalSectors} * fatLayout.bytesPerSector;
  } else {
    outcome = Outcome::NotSupported(
        u"no NTFS, FAT or exFAT file system is on the volume to search for the one before it");
    return nullptr;
  }
  if (volumeBytes == 0) volumeBytes = facts.totalBytes;
  outcome = Outcome::Success();
  return std::make_unique<FormattedEngine>(source, std::move(current), kind, std::move(reader),
                                           volumeBytes, std::move(facts));
}

}  // namespace kestrel::formatted
