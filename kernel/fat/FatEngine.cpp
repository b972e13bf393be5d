#include "kernel/fat/FatEngine.h"

#include <algorithm>
#include <vector>

#include "kernel/StopFlag.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/fat/FatScan.h"
#include "kernel/fat/FatVolume.h"

namespace kestrel::fat {
namespace {

// Recovery reads at most this much at once.
constexpr uint64_t kRecoveryPieceBytes = 4u << 20;

class FatEngine final : public VolumeEngine {
 public:
  explicit FatEngine(std::unique_ptr<FatVolume> volume) : volume_(std::move(volume)) {}

  VolumeFacts Facts() const override {
    const FatLayout& l = volume_->Layout();
    VolumeFacts facts;
    facts.fileSystem = FatTypeName(l.fatType);
    ReadVolumeId(volume_->BootSector(), l.fatType, facts.serial, facts.label);
    facts.sectorBytes = l.bytesPerSector;
    facts.clusterBytes = l.bytesPerCluster;
    facts.totalBytes = l.VolumeBytes();
    return facts;
  }

  bool Allocation(AllocationMap& map, ClusterLayout& layout) override {
    map = volume_->ReadAllocationMap();
    layout.firstClusterByte = volume_->Layout().DataOffset();  // cluster 2
    layout.clusterBytes = volume_->Layout().bytesPerCluster;
    return map.Known();
  }

  Outcome Scan(ScanSink& sink) override {
    files_.clear();
    volume_->DropCaches();
    // Read once per scan: which clusters are in use now.
    map_ = volume_->ReadAllocationMap();
    return WalkVolume(*volume_, map_, sink, files_);
  }

  RecoverResult Recover(uint64_t id, ItemWriter& writer) override {
    if (id >= files_.size()) return {KX_RECOVER_NOT_FOUND, u"no such item in the last scan"};
    const FoundFile& file = files_[static_cast<size_t>(id)];
    if (!writer.Create(file.relativePath)) return writer.Finish(file.size);  // says why
    const ClusterPlan plan = PlanClusters(*volume_, map_, file);
    const FatLayout& l = volume_->Layout();
    const uint32_t bps = l.bytesPerSector;
    uint64_t left = file.size;
    for (const ClusterRun& run : plan.runs) {
      if (left == 0) break;
      // Only data clusters can be read; the copy ends short before others.
      if (run.first < 2 || run.first - 2 >= l.clusterCount) break;
      const uint64_t usable = std::min<uint64_t>(run.count, l.clusterCount + 2 - run.first);
      uint64_t offset = l.ClusterOffset(static_cast<uint32_t>(run.first));
      uint64_t runLeft = std::min(left, usable * l.bytesPerCluster);
      while (runLeft > 0) {
        if (StopRequested()) return writer.Fail(StoppedResult());
        const uint64_t take = std::min(runLeft, kRecoveryPieceBytes);
        // Whole sectors are read; only the file's bytes are written.
        const uint64_t span = (take + bps - 1) / bps * bps;
        if (buffer_.size() < span) buffer_.resize(static_cast<size_t>(span));
        size_t got = 0;
        if (!volume_->Reader().Read(offset, buffer_.data(), static_cast<size_t>(span), got) ||
            got < take)
          return writer.Fail(ReadFailure(offset + got));
        if (!writer.Write(buffer_.data(), static_cast<size_t>(take)))
          return writer.Finish(file.size);
        offset += take;
        runLeft -= take;
        left -= take;
      }
      if (usable < run.count) break;
    }
    return writer.Finish(file.size);
  }

 private:
  std::unique_ptr<FatVolume> volume_;
  AllocationMap map_;
  std::vector<FoundFile> files_;
  std::vector<uint8_t> buffer_;
};

}  // namespace

ProbeResult Probe(ByteView lead) {
  ProbeResult result;
  FatLayout layout;
  const LayoutResult r = ReadFatLayout(lead, layout);
  result.outcome = DescribeLayout(r, lead);
  if (r == LayoutResult::NotFat) return result;
  result.fsKind = KESTREL_FS_FAT;
  result.sectorBytes = lead.u16(0x0B);
  const uint32_t total16 = lead.u16(0x13);
  result.totalSectors = total16 != 0 ? total16 : lead.u32(0x20);
  result.typeName = r == LayoutResult::Ok ? FatTypeName(layout.fatType) : u"FAT";
  return result;
}

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome) {
  auto device = source.OpenWindow();
  if (!device) {
    outcome = {OutcomeKind::ReadError, u"the volume cannot be opened", 0};
    return nullptr;
  }
  auto volume = std::make_unique<FatVolume>(std::move(device), source.deviceSectorBytes);
  outcome = volume->Load();
  if (!outcome.ok()) return nullptr;
  return std::make_unique<FatEngine>(std::move(volume));
}

}  // namespace kestrel::fat
