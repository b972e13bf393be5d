#include "kernel/ntfs/Attributes.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/Lznt1.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/os/Os.h"

namespace kestrel::ntfs {
namespace {

// NTFS writes units of 16 clusters of at most 4 KiB; larger ones up to this
// size are read the same way, anything beyond is not a unit but damage.
constexpr uint64_t kMaxUnitBytes = 1u << 20;
constexpr unsigned kUsualUnitLog = 4;

}  // namespace

// ---- CAttrBase ----

CAttrBase::CAttrBase(ByteView header, CFileRecord* owner) : header_(header), owner_(owner) {
  volume_ = owner ? owner->Volume() : nullptr;
  if (volume_) {
    sectorBytes_ = volume_->SectorBytes();
    clusterBytes_ = volume_->ClusterBytes();
    indexBlockBytes_ = volume_->IndexBlockBytes();
  }
}

// ---- CAttrResident ----

CAttrResident::CAttrResident(ByteView header, CFileRecord* owner) : CAttrBase(header, owner) {
  uint32_t length = header_.u32(kAttrValueLength);
  uint16_t offset = header_.u16(kAttrValueOffset);
  if (header_.ok() && header_.Has(offset, length)) value_ = header_.Sub(offset, length);
}

uint64_t CAttrResident::GetValueSize(uint64_t* allocatedOut) const {
  if (allocatedOut) *allocatedOut = value_.size();
  return value_.size();
}

bool CAttrResident::ReadBytes(uint64_t offset, void* buffer, uint64_t length,
                              uint64_t& bytesRead) {
  bytesRead = 0;
  if (length == 0) return true;
  if (offset >= value_.size()) return false;
  uint64_t n = std::min<uint64_t>(length, value_.size() - offset);
  std::memcpy(buffer, value_.data() + offset, n);
  bytesRead = n;
  return true;
}

// ---- CAttrNonResident ----

CAttrNonResident::CAttrNonResident(ByteView header, CFileRecord* owner)
    : CAttrBase(header, owner) {
  uint64_t first = header_.u64(kAttrFirstVcn);
  uint64_t last = header_.u64(kAttrLastVcn);
  uint16_t runOffset = header_.u16(kAttrRunListOffset);
  if (!header_.ok() || runOffset >= header_.size() || clusterBytes_ == 0) return;
  // An empty stream has last VCN -1: a span of "everything", and no runs.
  uint64_t span = last - first;
  runsOk_ = DecodeDataRuns(header_.From(runOffset), span, runs_);
  if (runsOk_) vcnCount_ = runs_.empty() ? 0 : runs_.back().vcnLast + 1;
  // Reads are bounded by the extent's VCN range as the header gives it.
  if (runsOk_ && last >= first && last - first + 1 > vcnCount_) vcnCount_ = last - first + 1;
  if (IsCompressed()) {
    const unsigned unitLog = header_.u8(kAttrCompressionUnit);
    unitUsable_ = (Flags() & kAttrFlagCompressionMask) == kAttrFlagCompressed && unitLog >= 1 &&
                  unitLog <= 8 && (uint64_t{clusterBytes_} << unitLog) <= kMaxUnitBytes;
    // An unusable unit size still walks the stream in the usual steps, each
    // of them reported corrupt.
    unitBytes_ = uint64_t{clusterBytes_} << (unitUsable_ ? unitLog : kUsualUnitLog);
  }
}

uint64_t CAttrNonResident::GetValueSize(uint64_t* allocatedOut) const {
  if (allocatedOut) *allocatedOut = header_.u64(kAttrAllocatedSize);
  return header_.u64(kAttrDataSize);
}

bool CAttrNonResident::AdoptExtent(const CAttrNonResident& later) {
  if (!runsOk_ || !later.runsOk_) return false;
  uint64_t start = later.FirstVcn();
  if (start != FirstVcn() + vcnCount_) return false;
  for (tagDataRun_Entry run : later.runs_) {
    run.vcnFirst += vcnCount_;
    run.vcnLast += vcnCount_;
    runs_.push_back(run);
  }
  vcnCount_ += later.vcnCount_;
  return true;
}

bool CAttrNonResident::ReadClusterSpan(void* buffer, uint64_t count, int64_t lcn) {
  if (count > SIZE_MAX / clusterBytes_) return false;
  size_t bytes = static_cast<size_t>(count * clusterBytes_);
  if (lcn < 0) {
    std::memset(buffer, 0, bytes);
    return true;
  }
  if (static_cast<uint64_t>(lcn) > UINT64_MAX / clusterBytes_) return false;
  size_t got = 0;
  return volume_ && volume_->ReadAligned(static_cast<uint64_t>(lcn) * clusterBytes_, buffer,
                                         bytes, got) &&
         got == bytes;
}

bool CAttrNonResident::ReadVirtualClusters(uint64_t vcn, uint64_t count, void* buffer,
                                           uint64_t bufferBytes, uint64_t& bytesRead) {
  bytesRead = 0;
  if (!runsOk_ || clusterBytes_ == 0) return false;
  if (vcn > vcnCount_ || count > vcnCount_ - vcn) return false;
  if (count > bufferBytes / clusterBytes_) return false;
  auto* out = static_cast<uint8_t*>(buffer);
  uint64_t done = 0;
  // Runs are in VCN order: find the first one that can hold `vcn`.
  auto it = std::upper_bound(runs_.begin(), runs_.end(), vcn,
                             [](uint64_t v, const tagDataRun_Entry& r) { return v < r.vcnFirst; });
  if (it != runs_.begin()) --it;
  for (; it != runs_.end() && count > 0; ++it) {
    if (vcn < it->vcnFirst || vcn > it->vcnLast) continue;
    uint64_t n = std::min(count, it->vcnLast - vcn + 1);
    int64_t lcn = it->lcn < 0 ? -1 : it->lcn + static_cast<int64_t>(vcn - it->vcnFirst);
    if (!ReadClusterSpan(out, n, lcn)) break;
    out += n * clusterBytes_;
    vcn += n;
    done += n;
    count -= n;
  }
  bytesRead = done * clusterBytes_;
  return true;
}

bool CAttrNonResident::MapExtents(uint64_t offset, uint64_t length, std::vector<Extent>& out) const {
  out.clear();
  if (!runsOk_ || clusterBytes_ == 0 || unitBytes_ != 0) return false;
  const uint64_t size = GetValueSize(nullptr);
  if (offset > size || length > size - offset) return false;
  auto it = std::upper_bound(runs_.begin(), runs_.end(), offset / clusterBytes_,
                             [](uint64_t v, const tagDataRun_Entry& r) { return v < r.vcnFirst; });
  if (it != runs_.begin()) --it;
  while (length > 0) {
    const uint64_t vcn = offset / clusterBytes_;
    if (it == runs_.end() || vcn < it->vcnFirst || vcn > it->vcnLast) return false;
    const uint64_t runEnd = it->vcnLast < UINT64_MAX / clusterBytes_ - 1
                                ? (it->vcnLast + 1) * clusterBytes_  // in stream bytes
                                : UINT64_MAX;
    if (runEnd <= offset) return false;
    const uint64_t n = std::min(length, runEnd - offset);
    Extent piece;
    piece.bytes = n;
    if (it->lcn < 0) {
      piece.sparse = true;
    } else {
      const uint64_t lcn = static_cast<uint64_t>(it->lcn) + (vcn - it->vcnFirst);
      if (lcn > (UINT64_MAX - clusterBytes_) / clusterBytes_) return false;
      piece.volumeOffset = lcn * clusterBytes_ + offset % clusterBytes_;
    }
    out.push_back(piece);
    offset += n;
    length -= n;
    ++it;
  }
  return true;
}

bool CAttrNonResident::ReadOneCluster(uint64_t vcn) {
  if (!clusterBuffer_) clusterBuffer_ = std::make_unique_for_overwrite<uint8_t[]>(clusterBytes_);
  uint64_t got = 0;
  return ReadVirtualClusters(vcn, 1, clusterBuffer_.get(), clusterBytes_, got) &&
         got == clusterBytes_;
}

bool CAttrNonResident::ReadBytes(uint64_t offset, void* buffer, uint64_t length,
                                 uint64_t& bytesRead) {
  bytesRead = 0;
  if (length == 0) return true;
  if (!runsOk_ || clusterBytes_ == 0) return false;
  uint64_t size = GetValueSize(nullptr);
  if (offset > size) return false;
  length = std::min(length, size - offset);
  auto* out = static_cast<uint8_t*>(buffer);
  if (unitBytes_ != 0) {
    if (!ReadCompressed(offset, out, length)) return false;
    bytesRead = length;
    return true;
  }
  uint64_t cluster = offset / clusterBytes_;
  uint64_t inCluster = offset % clusterBytes_;
  uint64_t copied = 0;
  if (inCluster != 0 && length > 0) {
    if (!ReadOneCluster(cluster)) return false;
    uint64_t n = std::min<uint64_t>(length, clusterBytes_ - inCluster);
    std::memcpy(out, clusterBuffer_.get() + inCluster, n);
    copied += n;
    ++cluster;
  }
  uint64_t whole = (length - copied) / clusterBytes_;
  if (whole > 0) {
    uint64_t got = 0;
    uint64_t want = whole * clusterBytes_;
    if (!ReadVirtualClusters(cluster, whole, out + copied, want, got) || got != want) return false;
    copied += want;
    cluster += whole;
  }
  if (copied < length) {
    if (!ReadOneCluster(cluster)) return false;
    std::memcpy(out + copied, clusterBuffer_.get(), length - copied);
    copied = length;
  }
  bytesRead = copied;
  return true;
}

std::vector<tagDataRun_Entry>::const_iterator CAttrNonResident::RunOf(uint64_t vcn) const {
  auto it = std::upper_bound(runs_.begin(), runs_.end(), vcn,
                             [](uint64_t v, const tagDataRun_Entry& r) { return v < r.vcnFirst; });
  if (it == runs_.begin()) return runs_.end();
  --it;
  return vcn <= it->vcnLast ? it : runs_.end();
}

bool CAttrNonResident::ReadCompressed(uint64_t offset, uint8_t* out, uint64_t length) {
  const uint64_t initialized = std::min(InitializedSize(), GetValueSize(nullptr));
  while (length > 0) {
    const uint64_t unit = offset / unitBytes_;
    const uint64_t inUnit = offset % unitBytes_;
    const uint64_t n = std::min(length, unitBytes_ - inUnit);
    if (offset >= initialized) {
      std::memset(out, 0, n);
    } else {
      if (!unitUsable_) {
        if (corruptUnits_++ == 0) firstCorruptOffset_ = unit * unitBytes_;
        std::memset(out, 0, n);
      } else {
        if (!LoadUnit(unit)) return false;
        std::memcpy(out, unitBuffer_.data() + inUnit, n);
      }
      if (n > initialized - offset) std::memset(out + (initialized - offset), 0, n - (initialized - offset));
    }
    out += n;
    offset += n;
    length -= n;
  }
  return true;
}

bool CAttrNonResident::LoadUnit(uint64_t unit) {
  if (unit == cachedUnit_) return true;
  cachedUnit_ = ~uint64_t{0};
  const uint64_t perUnit = unitBytes_ / clusterBytes_;
  const uint64_t first = unit * perUnit;  // the caller's offset lies inside the stream
  const uint64_t unitStart = unit * unitBytes_;
  if (unitBuffer_.size() != unitBytes_) unitBuffer_.assign(static_cast<size_t>(unitBytes_), 0);
  // The unit's allocated clusters from its start, up to a sparse run or
  // the end of the runs.
  uint64_t stored = 0;
  bool holeFollows = false;
  for (auto it = RunOf(first); it != runs_.end() && stored < perUnit; ++it) {
    if (it->vcnFirst > first + stored) break;
    if (it->lcn < 0) {
      holeFollows = true;
      break;
    }
    stored += std::min(perUnit - stored, it->vcnLast - (first + stored) + 1);
  }
  uint8_t* unitBytes = unitBuffer_.data();
  const uint64_t storedBytes = stored * clusterBytes_;
  uint64_t got = 0;
  if (holeFollows && stored == 0) {
    std::memset(unitBytes, 0, unitBuffer_.size());
  } else if (holeFollows) {
    packedBuffer_.resize(static_cast<size_t>(storedBytes));
    if (!ReadVirtualClusters(first, stored, packedBuffer_.data(), storedBytes, got) ||
        got != storedBytes)
      return false;
    if (!Lznt1Decompress(ByteView(packedBuffer_.data(), packedBuffer_.size()), unitBytes,
                         unitBuffer_.size())
             .ok) {
      std::memset(unitBytes, 0, unitBuffer_.size());
      if (corruptUnits_++ == 0) firstCorruptOffset_ = unitStart;
    }
  } else {
    // Stored as it is: every byte of the stream in this unit must be mapped.
    const uint64_t end = std::min(InitializedSize(), GetValueSize(nullptr));
    if (storedBytes < std::min(unitBytes_, end - unitStart)) return false;
    if (!ReadVirtualClusters(first, stored, unitBytes, storedBytes, got) || got != storedBytes)
      return false;
    std::memset(unitBytes + storedBytes, 0, static_cast<size_t>(unitBytes_ - storedBytes));
  }
  cachedUnit_ = unit;
  return true;
}

uint64_t CAttrNonResident::HoleBytesAt(uint64_t offset, uint64_t length) const {
  if (!runsOk_ || clusterBytes_ == 0) return 0;
  const uint64_t size = GetValueSize(nullptr);
  if (offset >= size) return 0;
  length = std::min(length, size - offset);
  const uint64_t limit = offset + length;
  // The step in which zeros come: a compression unit or a cluster.
  const uint64_t step = unitBytes_ != 0 ? unitBytes_ : clusterBytes_;
  const uint64_t initialized = unitBytes_ != 0 ? InitializedSize() : UINT64_MAX;
  uint64_t end = offset;
  while (end < limit) {
    if (end >= initialized) return length;
    const uint64_t vcn = end / step * (step / clusterBytes_);
    auto it = RunOf(vcn);
    if (it == runs_.end() || it->lcn >= 0) break;
    // Every step whose first cluster lies in this sparse run reads as zeros.
    const uint64_t nextVcn = it->vcnLast + 1;
    if (nextVcn > (UINT64_MAX - step) / clusterBytes_) return length;
    end = (nextVcn * clusterBytes_ + step - 1) / step * step;
  }
  return std::min(end, limit) - offset;
}

// ---- typed attributes ----

bool CAttr_StdInfo::GetStdTimes(uint64_t* modified, uint64_t* created, uint64_t* accessed) const {
  if (!value_.Has(0, 0x20)) return false;
  auto local = [](uint64_t utc) {
    uint64_t out = 0;
    return os::FileTimeToLocal(utc, out) ? out : utc;
  };
  if (modified) *modified = local(value_.u64(0x08));
  if (created) *created = local(value_.u64(0x00));
  if (accessed) *accessed = local(value_.u64(0x18));
  return true;
}

bool CAttr_StdInfo::GetUtcTimes(uint64_t* modified, uint64_t* created, uint64_t* accessed) const {
  if (!value_.Has(0, 0x20)) return false;
  if (modified) *modified = value_.u64(0x08);
  if (created) *created = value_.u64(0x00);
  if (accessed) *accessed = value_.u64(0x18);
  return true;
}

CAttr_VolName::CAttr_VolName(ByteView header, CFileRecord* owner) : CAttrResident(header, owner) {
  size_t count = value_.size() / 2;
  for (size_t i = 0; i < count; ++i) name_ += static_cast<char16_t>(value_.u16(2 * i));
  ansiName_ = os::ToUtf8(name_);
}

void CFileName::SetFileName(ByteView value) {
  fileNameValue_ = value;
  name_.clear();
  nameLength_ = 0;
  size_t length = value.Has(0x40, 1) ? value.u8(0x40) : 0;
  if (!value.Has(0x42, 2 * length)) return;  // a name that does not fit is no name
  name_.resize(length);
  for (size_t i = 0; i < length; ++i) name_[i] = static_cast<char16_t>(value.u16(0x42 + 2 * i));
  nameLength_ = static_cast<int>(length);
}

std::u16string CFileName::UpperName() const {
  std::u16string upper = name_;
  for (char16_t& c : upper)
    if (c >= u'a' && c <= u'z') c = static_cast<char16_t>(c - 0x20);
  return upper;
}

CAttr_FileName::CAttr_FileName(ByteView header, CFileRecord* owner)
    : CAttrResident(header, owner) {
  SetFileName(value_);
}

CIndexEntry::CIndexEntry(ByteView entry) : entry_(entry) {
  uint16_t keyLength = entry.u16(0x0A);
  if (keyLength != 0 && entry.Has(0x10, keyLength)) SetFileName(entry.Sub(0x10, keyLength));
}

CAttr_IndexRoot::CAttr_IndexRoot(ByteView header, CFileRecord* owner)
    : CAttrResident(header, owner) {
  if (value_.u32(0x00) != kAttrFileName || !value_.ok()) return;
  uint64_t first = value_.u32(0x10);
  uint64_t total = value_.u32(0x14);
  if (!value_.ok() || !InBounds(0x10, total, value_.size()) || first > total) return;
  ByteView entries = value_.Sub(0x10, static_cast<size_t>(total));
  uint64_t pos = first;
  while (InBounds(pos, 0x10, entries.size())) {
    uint16_t length = entries.u16(pos + 0x08);
    if (length < 0x10 || !InBounds(pos, length, entries.size())) break;
    ByteView entry = entries.Sub(pos, length);
    Append(std::make_unique<CIndexEntry>(entry));
    if (entry.u8(0x0C) & 0x02) break;
    pos += length;
  }
}

CAttr_IndexAlloc::CAttr_IndexAlloc(ByteView header, CFileRecord* owner)
    : CAttrNonResident(header, owner) {
  uint64_t size = GetValueSize(nullptr);
  if (runsOk_ && indexBlockBytes_ != 0 && size % indexBlockBytes_ == 0)
    blockCount_ = size / indexBlockBytes_;
}

template <typename Base>
CAttr_Bitmap<Base>::CAttr_Bitmap(ByteView header, CFileRecord* owner) : Base(header, owner) {
  if (!this->RunsValid()) return;
  bitmapBytes_ = this->GetValueSize(nullptr);
  if constexpr (std::is_same_v<Base, CAttrResident>) {
    bitmapBuffer_.assign(this->value_.data(), this->value_.data() + this->value_.size());
  } else {
    if (this->clusterBytes_ != 0) bitmapBuffer_.assign(this->clusterBytes_, 0);
  }
}

template class CAttr_Bitmap<CAttrResident>;
template class CAttr_Bitmap<CAttrNonResident>;

}  // namespace kestrel::ntfs
