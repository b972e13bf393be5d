#include "kernel/ntfs/NTFSVolume.h"

#include <algorithm>
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
  device_ = os::OpenVolume(upper, os::Access::Read);
  Open();
}

CNTFSVolume::CNTFSVolume(std::unique_ptr<os::Device> device) : device_(std::move(device)) {
  Open();
}

CNTFSVolume::~CNTFSVolume() {
  mftData_ = nullptr;
  mftRecord_.reset();
}

void CNTFSVolume::Open() {
  if (!device_) return;
  std::vector<uint8_t> boot(kBootReadBytes);
  size_t got = 0;
  if (!device_->ReadAt(0, boot.data(), boot.size(), got) || got < 512 ||
      ParseNtfsBootSector(ByteView(boot.data(), got), geometry_) != BootSectorResult::Ok) {
    device_.reset();
    geometry_ = NtfsGeometry();
    return;
  }

  CFileRecord volumeFile(this);
  volumeFile.SetTypeMask(kMaskVolume);
  if (!volumeFile.LoadFileRecord(kVolumeRecord) || !volumeFile.BuildAttributes()) return;
  auto* info = static_cast<CAttr_VolInfo*>(volumeFile.GetFirstAttribute(kAttrVolInfo));
  if (!info) return;
  version_ = static_cast<uint16_t>((info->MajorVersion() << 8) | info->MinorVersion());
  if (version_ < 0x0300) return;

  // The $MFT's own extension records must be found before the $MFT is
  // complete: a first pass over record 0 alone gives the runs of its base
  // extent, which NTFS keeps covering those records.
  auto base = std::make_unique<CFileRecord>(this);
  base->SetTypeMask(1u << TypeIndex(kAttrData));
  if (!base->LoadFileRecord(kMftRecord) || !base->BuildAttributes()) return;
  mftData_ = base->LookupDataStream(nullptr);
  if (!mftData_ || !mftData_->RunsValid()) {
    mftData_ = nullptr;
    return;
  }
  auto mft = std::make_unique<CFileRecord>(this);
  mft->SetTypeMask(kMaskData);
  bool loaded = mft->LoadFileRecord(kMftRecord) && mft->BuildAttributes();
  mftData_ = nullptr;
  base.reset();
  if (!loaded) return;
  CAttrBase* data = mft->LookupDataStream(nullptr);
  if (!data || !data->RunsValid()) return;
  mftRecord_ = std::move(mft);
  mftData_ = data;
  readableBytes_ = FindReadableEnd();
  recordCount_ = CountRecords();
  usable_ = true;
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

uint64_t CNTFSVolume::CountRecords() const {
  if (!mftData_ || geometry_.recordBytes == 0) return 0;
  // A data size claiming more than the runs map or the device holds would
  // have a scan step through records that cannot exist, one failed read at
  // a time. The table is never sparse: only real clusters count.
  uint64_t bytes = std::min(mftData_->GetValueSize(nullptr), readableBytes_);
  if (auto* table = dynamic_cast<const CAttrNonResident*>(mftData_)) {
    uint64_t clusters = 0;
    for (const tagDataRun_Entry& run : table->Runs())
      if (run.lcn >= 0) clusters = std::max(clusters, run.vcnLast + 1);
    if (clusters <= bytes / geometry_.clusterBytes) bytes = clusters * geometry_.clusterBytes;
  }
  return bytes / geometry_.recordBytes;
}

bool CNTFSVolume::ReadAligned(uint64_t offset, void* buffer, size_t length, size_t& got) {
  got = 0;
  if (!device_) return false;
  if (length == 0) return true;
  uint64_t align = std::max<uint64_t>(geometry_.sectorBytes, 512);
  if (offset % align == 0 && length % align == 0) return device_->ReadAt(offset, buffer, length, got);
  uint64_t start = offset - offset % align;
  uint64_t lead = offset - start;
  if (length > SIZE_MAX - lead - align) return false;
  size_t span = static_cast<size_t>((lead + length + align - 1) / align * align);
  std::vector<uint8_t> staging(span);
  size_t read = 0;
  if (!device_->ReadAt(start, staging.data(), span, read)) return false;
  if (read > lead) {
    got = std::min<size_t>(length, read - lead);
    std::memcpy(buffer, staging.data() + lead, got);
  }
  return true;
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
