#include "kernel/ntfs/NtfsEngine.h"

#include <cstdio>

#include "kernel/DelItemRegistry.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/ntfs/BootSector.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/NtfsRecovery.h"
#include "kernel/ntfs/NtfsScan.h"
#include "kernel/ntfs/PathBuilder.h"

namespace kestrel::ntfs {
namespace {

class NtfsEngine final : public VolumeEngine {
 public:
  NtfsEngine(VolumeSource source, std::unique_ptr<CNTFSVolume> volume)
      : source_(std::move(source)), volume_(std::move(volume)) {}

  VolumeFacts Facts() const override {
    VolumeFacts f;
    f.fileSystem = u"NTFS";
    f.label = volume_->Label();
    f.serial = volume_->Serial();
    f.sectorBytes = volume_->SectorBytes();
    f.clusterBytes = volume_->ClusterBytes();
    f.totalBytes = volume_->VolumeBytes();
    return f;
  }

  Outcome Scan(ScanSink& sink) override {
    baseUnits_ = sink.Base().size();
    Outcome outcome = ScanDeletedRecords(*volume_, source_, sink, ReadVolumeBitmap(*volume_));
    uint64_t claimed = 0;
    if (outcome.ok() && volume_->MftCutShort(claimed)) {
      // What could be read is listed; the user must still learn that the
      // rest of the table was not there to read.
      char text[200];
      std::snprintf(text, sizeof text,
                    "volume larger than the device: the device ends at byte %llu, the boot "
                    "sector claims %llu bytes; %llu of %llu MFT records could be read",
                    static_cast<unsigned long long>(volume_->ReadableBytes()),
                    static_cast<unsigned long long>(volume_->VolumeBytes()),
                    static_cast<unsigned long long>(volume_->RecordCount()),
                    static_cast<unsigned long long>(claimed));
      outcome = Outcome::Damaged(Ascii16(text));
    }
    return outcome;
  }

  bool Allocation(AllocationMap& map, ClusterLayout& layout) override {
    map = ReadVolumeBitmap(*volume_);
    layout.firstClusterByte = 0;
    layout.clusterBytes = volume_->ClusterBytes();
    return map.Known();
  }

  RecoverResult Recover(uint64_t id, ItemWriter& writer) override {
    if (!paths_) {
      // Items come one after another in table order.
      volume_->KeepRecordWindow();
      paths_ = std::make_unique<PathBuilder>(*volume_);
    }
    const size_t limit = baseUnits_ < kMaxItemPath ? kMaxItemPath - baseUnits_ : 0;
    return RecoverRecord(*volume_, id, *paths_, limit, writer);
  }

 private:
  VolumeSource source_;
  std::unique_ptr<CNTFSVolume> volume_;
  std::unique_ptr<PathBuilder> paths_;  // kept so folders' names are read once
  size_t baseUnits_ = 11;               // "X:\Deleted\" until a scan says otherwise
};

}  // namespace

ProbeResult Probe(ByteView lead) {
  ProbeResult r;
  NtfsGeometry g;
  switch (ParseNtfsBootSector(lead, g)) {
    case BootSectorResult::NotNtfs: return r;
    case BootSectorResult::Corrupt:
      r.outcome = Outcome::Damaged(u"the NTFS boot sector describes no usable geometry");
      r.fsKind = KESTREL_FS_NTFS;
      r.typeName = u"NTFS";
      return r;
    default: break;
  }
  r.outcome = Outcome::Success();
  r.fsKind = KESTREL_FS_NTFS;
  r.typeName = u"NTFS";
  r.sectorBytes = g.sectorBytes;
  // The count excludes the backup boot sector at the end of the volume.
  r.totalSectors = g.volumeSectors < UINT64_MAX ? g.volumeSectors + 1 : g.volumeSectors;
  return r;
}

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source, Outcome& outcome) {
  auto volume = std::make_unique<CNTFSVolume>(source.OpenWindow());
  if (!volume->IsUsable()) {
    outcome = volume->OpenOutcome();
    if (outcome.ok()) outcome = Outcome::Damaged(u"the NTFS volume cannot be opened");
    return nullptr;
  }
  outcome = Outcome::Success();
  return std::make_unique<NtfsEngine>(source, std::move(volume));
}

}  // namespace kestrel::ntfs
