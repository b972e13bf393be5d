#include "kernel/ntfs/NTFSVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <new>
#include <vector>

#include "kernel/ntfs/AttributeHeader.h"
#include "kernel/ntfs/FileRecord.h"

namespace kestrel::ntfs {
namespace {
constexpr uint64_t kVolumeRecord = 3;
constexpr uint64_t kMftRecord = 0;
constexpr uint64_t kFirstRecordThroughRuns = 16;
// The boot sector is read as one 4096-byte block: whole sectors on 512- and
// 4096-byte-sector devices alike.
constexpr size_t kBootReadBytes = 4096;
}  // namespace

CNTFSVolume::CNTFSVolume(char16_t letter) {
  bool alphabetic = (letter >= u'A' && letter <= u'Z') || (letter >= u'a' && letter <= u'z');
  if (!alphabetic) return;
  char16_t upper = letter >= u'a' ? static_cast<char16_t>(letter - 0x20) : letter;
  device_ = std::make_unique<SectorReader>(os::OpenVolume(upper, os::Access::Read), 512);
  Open();
}

CNTFSVolume::CNTFSVolume(std::unique_ptr<os::Device> device)
    : device_(std::make_unique<SectorReader>(std::move(device), 512)) {
  Open();
}

CNTFSVolume::~CNTFSVolume() {
  mftData_ = nullptr;
  mftRecord_.reset();
}

void CNTFSVolume::Open() {
  if (!device_ || !device_->IsOpen()) {
    device_.reset();
    outcome_ = Outcome::ReadFailed(0);
    outcome_.text = u"the volume cannot be opened";
    return;
  }
  std::vector<uint8_t> boot(kBootReadBytes);
  size_t got = 0;
  if (!device_->Read(0, boot.data(), boot.size(), got) || got < 512) {
    outcome_ = Outcome::ReadFailed(0);
    device_.reset();
    return;
  }
  switch (ParseNtfsBootSector(ByteView(boot.data(), got), geometry_)) {
    case BootSectorResult::Ok: break;
    case BootSectorResult::NotNtfs:
      outcome_ = Outcome::NotSupported(u"not an NTFS volume");
      device_.reset();
      geometry_ = NtfsGeometry();
      return;
    default:
      outcome_ = Outcome::Damaged(u"the NTFS boot sector describes no usable geometry");
      device_.reset();
      geometry_ = NtfsGeometry();
      return;
  }
  serial_ = ByteView(boot.data(), got).u64(0x48);
  device_->SetAlignment(geometry_.sectorBytes);

  CFileRecord volumeFile(this);
  volumeFile.SetTypeMask(kMaskVolume);
  if (!volumeFile.LoadFileRecord(kVolumeRecord) || !volumeFile.BuildAttributes()) {
    outcome_ = RecordFailure(kVolumeRecord, geometry_.mftByteOffset + kVolumeRecord * geometry_.recordBytes);
    return;
  }
  auto* info = static_cast<CAttr_VolInfo*>(volumeFile.GetFirstAttribute(kAttrVolInfo));
  if (!info) {
    outcome_ = Outcome::Damaged(u"the $Volume record holds no version");
    return;
  }
  version_ = static_cast<uint16_t>((info->MajorVersion() << 8) | info->MinorVersion());
  if (version_ < 0x0300) {
    outcome_ = Outcome::Unsupported(u"NTFS versions before 3.0 (Windows NT 4) are not read");
    return;
  }
  if (auto* name = static_cast<CAttr_VolName*>(volumeFile.GetFirstAttribute(kAttrVolName)))
    label_ = name->VolumeName();

  // The $MFT's own extension records must be found before the $MFT is
  // complete: a first pass over record 0 alone gives the runs of its base
  // extent, which NTFS keeps covering those records.
  auto base = std::make_unique<CFileRecord>(this);
  base->SetTypeMask(1u << TypeIndex(kAttrData));
  if (!base->LoadFileRecord(kMftRecord) || !base->BuildAttributes()) {
    outcome_ = RecordFailure(kMftRecord, geometry_.mftByteOffset);
    return;
  }
  mftData_ = base->LookupDataStream(nullptr);
  if (!mftData_ || !mftData_->RunsValid()) {
    mftData_ = nullptr;
    outcome_ = Outcome::Damaged(u"the data runs of the $MFT (record 0) are damaged");
    return;
  }
  auto mft = std::make_unique<CFileRecord>(this);
  mft->SetTypeMask(kMaskData);
  bool loaded = mft->LoadFileRecord(kMftRecord) && mft->BuildAttributes();
  mftData_ = nullptr;
  base.reset();
  CAttrBase* data = loaded ? mft->LookupDataStream(nullptr) : nullptr;
  if (!data || !data->RunsValid()) {
    outcome_ = Outcome::Damaged(u"the $MFT's extension records cannot be read");
    return;
  }
  mftRecord_ = std::move(mft);
  mftData_ = data;
  readableBytes_ = FindReadableEnd();
  recordCount_ = CountRecords();
  usable_ = true;
  outcome_ = Outcome::Success();
}

Outcome CNTFSVolume::RecordFailure(uint64_t recordNumber, uint64_t offset) {
  char text[160];
  // Only now, on failure, is the device's end looked for: a cut image is
  // the commonest reason a record cannot be read.
  if (readableBytes_ == 0) readableBytes_ = FindReadableEnd();
  if (offset >= readableBytes_) {
    std::snprintf(text, sizeof text,
                  "volume larger than the device: MFT record %llu lies at byte %llu, the device "
                  "ends at byte %llu",
                  static_cast<unsigned long long>(recordNumber),
                  static_cast<unsigned long long>(offset),
                  static_cast<unsigned long long>(readableBytes_));
    return Outcome::Damaged(Ascii16(text));
  }
  std::vector<uint8_t> raw(std::max<uint32_t>(geometry_.recordBytes, 512));
  size_t got = 0;
  if (!ReadAligned(offset, raw.data(), raw.size(), got) || got < raw.size()) return Outcome::ReadFailed(offset);
  std::snprintf(text, sizeof text, "MFT record %llu is unreadable (damaged record or fix-ups)",
                static_cast<unsigned long long>(recordNumber));
  return Outcome::Damaged(Ascii16(text));
}

uint64_t CNTFSVolume::FindReadableEnd() {
  // What the boot sector claims, or less when the device ends sooner (a cut
  // image): found by halving with one-sector reads, one read when whole.
  const uint64_t sector = geometry_.sectorBytes;
  uint64_t claimed = geometry_.volumeSectors;
  if (claimed == 0 || claimed > UINT64_MAX / sector) claimed = UINT64_MAX / sector;
  std::vector<uint8_t> buffer(sector);
  auto readable = [&](uint64_t n) {
    size_t got = 0;
    return ReadAligned(n * sector, buffer.data(), buffer.size(), got) && got == sector;
  };
  if (readable(claimed - 1)) return claimed * sector;
  uint64_t good = 0, bad = claimed - 1;  // sector 0 (the boot sector) was read
  while (bad - good > 1) {
    uint64_t mid = good + (bad - good) / 2;
    if (readable(mid))
      good = mid;
    else
      bad = mid;
  }
  return (good + 1) * sector;
}

bool CNTFSVolume::MftCutShort(uint64_t& claimed) const {
  claimed = 0;
  if (!mftData_ || geometry_.recordBytes == 0) return false;
  claimed = mftData_->GetValueSize(nullptr) / geometry_.recordBytes;
  return readableBytes_ < VolumeBytes() - geometry_.sectorBytes;
}

uint64_t CNTFSVolume::CountRecords() const {
  if (!mftData_ || geometry_.recordBytes == 0) return 0;
  // A data size claiming more than the runs map or the device holds would
  // have a scan step through records that cannot exist, one failed read at
  // a time. The table is never sparse: only real clusters count.
  uint64_t bytes = std::min(mftData_->GetValueSize(nullptr), readableBytes_);
  if (auto* table = mftData_ ? mftData_->AsNonResident() : nullptr) {
    uint64_t clusters = 0;
    for (const tagDataRun_Entry& run : table->Runs())
      if (run.lcn >= 0) clusters = std::max(clusters, run.vcnLast + 1);
    if (clusters <= bytes / geometry_.clusterBytes) bytes = clusters * geometry_.clusterBytes;
  }
  return bytes / geometry_.recordBytes;
}

bool CNTFSVolume::ReadAligned(uint64_t offset, void* buffer, size_t length, size_t& got) {
  got = 0;
  return device_ && device_->Read(offset, buffer, length, got);
}

bool CNTFSVolume::ReadRecordBytes(uint64_t recordNumber, uint8_t* buffer, size_t size) {
  uint64_t recordBytes = geometry_.recordBytes;
  if (recordBytes == 0 || size > recordBytes) return false;
  if (recordNumber > UINT64_MAX / recordBytes) return false;
  uint64_t position = recordNumber * recordBytes;
  if (recordNumber >= kFirstRecordThroughRuns && mftData_) {
    if (keepWindow_ && ReadFromWindow(recordNumber, buffer, size)) return true;
    uint64_t got = 0;
    return mftData_->ReadBytes(position, buffer, size, got) && got == size;
  }
  if (position > UINT64_MAX - geometry_.mftByteOffset) return false;
  size_t got = 0;
  return ReadAligned(geometry_.mftByteOffset + position, buffer, size, got) && got == size;
}

bool CNTFSVolume::ReadFromWindow(uint64_t recordNumber, uint8_t* buffer, size_t size) {
  const uint64_t recordBytes = geometry_.recordBytes;
  if (recordNumber < windowFirst_ || recordNumber - windowFirst_ >= windowCount_) {
    const uint64_t first = recordNumber - recordNumber % kWindowRecords;
    // The window tried last gives the same answer again (a bad sector in
    // it, or the record past the table's end): do not read it again.
    if (windowTried_ && windowFirst_ == first) return false;
    windowCount_ = 0;
    windowFirst_ = first;
    windowTried_ = true;
    try {
      windowBytes_.resize(static_cast<size_t>(kWindowRecords * recordBytes));
    } catch (const std::bad_alloc&) {
      return false;
    }
    uint64_t got = 0;
    if (first > UINT64_MAX / recordBytes ||
        !mftData_->ReadBytes(first * recordBytes, windowBytes_.data(), windowBytes_.size(), got))
      return false;
    windowCount_ = got / recordBytes;  // fewer at the end of the table
    if (recordNumber - first >= windowCount_) return false;
  }
  std::memcpy(buffer, windowBytes_.data() + (recordNumber - windowFirst_) * recordBytes, size);
  return true;
}

}  // namespace kestrel::ntfs
