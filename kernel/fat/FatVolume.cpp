#include "kernel/fat/FatVolume.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "kernel/Bytes.h"

namespace kestrel::fat {
namespace {

// The first read takes this much: every boot sector this engine reads fits.
constexpr uint32_t kLeadBytes = 4096;
// A deleted folder's next cluster is looked for past at most this many
// clusters in use.
constexpr uint32_t kMaxSteppedOver = 4096;
// The allocation map reads the FAT in pieces of this size.
constexpr uint32_t kFatPieceBytes = 1u << 20;

// The geometry fields a backup boot sector must repeat: 0x0B-0x1B and
// 0x20-0x2F (the hidden-sector count between may change when a partition
// is moved).
bool SameGeometry(ByteView a, ByteView b) {
  return a.Has(0, 0x30) && b.Has(0, 0x30) &&
         std::memcmp(a.data() + 0x0B, b.data() + 0x0B, 0x1C - 0x0B) == 0 &&
         std::memcmp(a.data() + 0x20, b.data() + 0x20, 0x30 - 0x20) == 0;
}

}  // namespace

Outcome DescribeLayout(LayoutResult result, ByteView boot) {
  switch (result) {
    case LayoutResult::Ok:
      return Outcome::Success();
    case LayoutResult::NotFat:
      return Outcome::NotSupported(u"no FAT boot sector");
    case LayoutResult::Unsupported: {
      char text[160];
      std::snprintf(text, sizeof text,
                    "FAT volume with %u-byte sectors: only 512, 1024, 2048 and 4096 are read",
                    static_cast<unsigned>(boot.u16(0x0B)));
      return Outcome::Unsupported(Ascii16(text));
    }
    case LayoutResult::Corrupt:
      return Outcome::Damaged(u"the boot sector describes areas outside the volume");
  }
  return Outcome::NotSupported(u"no FAT boot sector");
}

FatVolume::FatVolume(std::unique_ptr<os::Device> device, uint32_t deviceSectorBytes)
    : reader_(std::move(device), deviceSectorBytes) {}

bool FatVolume::Fill(ByteWindow& window, uint64_t offset, uint32_t need, uint32_t want) {
  if (window.Holds(offset, need)) return true;
  want = std::clamp(want, need, std::max(need, window.MaxBytes()));
  if (HasLayout()) {
    // Never read past the volume the boot sector describes.
    const uint64_t end = layout_.VolumeBytes();
    if (!InBounds(offset, need, end)) return false;
    want = static_cast<uint32_t>(std::min<uint64_t>(want, end - offset));
  }
  size_t got = 0;
  if (reader_.Read(offset, window.Prepare(want), want, got) && got >= need) {
    window.Commit(offset, static_cast<uint32_t>(got));
    return true;
  }
  if (want > need && reader_.Read(offset, window.Prepare(need), need, got) && got == need) {
    window.Commit(offset, need);
    return true;
  }
  window.Invalidate();
  failedOffset_ = offset;
  return false;
}

Outcome FatVolume::Load() {
  layout_ = FatLayout{};
  fatCache_.Invalidate();
  dirCache_.Invalidate();
  if (!reader_.IsOpen()) return {OutcomeKind::ReadError, u"the volume cannot be opened", 0};
  std::vector<uint8_t> lead(kLeadBytes);
  size_t got = 0;
  if (!reader_.Read(0, lead.data(), lead.size(), got)) return Outcome::ReadFailed(0);
  if (got < kBootBytes) return Outcome::NotSupported(u"the volume is shorter than a boot sector");
  FatLayout l;
  ByteView boot(lead.data(), got);
  if (Outcome o = DescribeLayout(ReadFatLayout(boot, l), boot); !o.ok()) return o;
  reader_.SetAlignment(l.bytesPerSector);
  if (l.bytesPerSector > got) return Outcome::Damaged(u"the boot sector is cut short");
  boot_.assign(lead.begin(), lead.begin() + l.bytesPerSector);

  // FAT32 keeps a copy of the boot sector; a copy that describes another
  // geometry means one of them is wrong, and the tool cannot tell which.
  if (l.fatType == kFat32) {
    const uint32_t backup = boot.u16(0x32);
    if (backup != 0 && backup < l.reservedSectors) {
      std::vector<uint8_t> copy(l.bytesPerSector);
      const uint64_t at = l.SectorOffset(backup);
      if (!reader_.Read(at, copy.data(), copy.size(), got)) return Outcome::ReadFailed(at);
      ByteView b(copy.data(), got);
      if (got >= kBootBytes && b.u8(510) == 0x55 && b.u8(511) == 0xAA && !SameGeometry(boot, b))
        return Outcome::Damaged(u"boot sector and backup disagree");
    }
  }
  // The device must hold the whole volume, or every cluster near its end
  // would read as missing.
  {
    std::vector<uint8_t> last(l.bytesPerSector);
    const uint64_t at = l.SectorOffset(uint64_t{l.totalSectors} - 1);
    if (!reader_.Read(at, last.data(), last.size(), got)) return Outcome::ReadFailed(at);
    if (got < last.size()) {
      char text[160];
      std::snprintf(text, sizeof text,
                    "volume larger than the device: the boot sector claims %llu bytes",
                    static_cast<unsigned long long>(l.VolumeBytes()));
      return Outcome::Damaged(Ascii16(text));
    }
  }
  layout_ = l;
  // A FAT with no chain in its first entries (apart from the root's) is
  // taken to have been cleared, as a quick format leaves it: directories are
  // then read as consecutive clusters.
  chainFat_ = true;
  bool trusted = false;
  const uint32_t last = std::min<uint32_t>(layout_.clusterCount + 1, 16);
  for (uint32_t c = 2; c <= last && !trusted; ++c) {
    uint32_t v = 0;
    if (!TryGetFatEntry(c, 0, v)) return Outcome::ReadFailed(failedOffset_);
    trusted = ClassifyFatValue(layout_.fatType, v) == kFatInUse && v != layout_.rootCluster;
  }
  chainFat_ = trusted;
  return Outcome::Success();
}

bool FatVolume::TryGetFatEntry(uint32_t cluster, uint32_t fatIndex, uint32_t& value) {
  value = 0;
  if (!HasLayout() || !IsDataCluster(cluster) || fatIndex >= layout_.numberOfFats) return true;
  const uint64_t inFat = FatEntryOffset(layout_.fatType, cluster);
  const uint32_t width = FatEntryWidth(layout_.fatType);
  if (!InBounds(inFat, width, layout_.FatBytes())) return true;  // a FAT too short for its volume
  const uint32_t bps = layout_.bytesPerSector;
  const uint64_t copyStart = layout_.FatOffset(fatIndex);
  const uint64_t sectorStart = copyStart + inFat / bps * bps;
  // A FAT12 entry at the last byte of a sector continues in the next one.
  const uint32_t need = inFat % bps + width > bps ? 2 * bps : bps;
  const uint64_t copyEnd = copyStart + layout_.FatBytes();
  const uint32_t want =
      static_cast<uint32_t>(std::min<uint64_t>(copyEnd - sectorStart, fatCache_.MaxBytes()));
  if (!Fill(fatCache_, sectorStart, need, want)) return false;
  value = DecodeFatEntry(layout_.fatType, cluster, fatCache_.At(copyStart + inFat));
  return true;
}

uint32_t FatVolume::GetFatEntry(uint32_t cluster, uint32_t fatIndex) {
  uint32_t value = 0;
  return TryGetFatEntry(cluster, fatIndex, value) ? value : 0;
}

AllocationMap FatVolume::ReadAllocationMap() {
  if (!HasLayout()) return {};
  AllocationMap map(2, layout_.clusterCount);
  const uint8_t type = layout_.fatType;
  const uint64_t fatStart = layout_.FatOffset(0);
  const uint64_t fatBytes = layout_.FatBytes();
  const uint32_t lastCluster = layout_.clusterCount + 1;
  std::vector<uint8_t> piece;
  // Each piece starts at a whole sector and ends on a boundary that is a
  // multiple of 3 bytes as well as of 4, so no FAT12 pair and no FAT32
  // entry is split between pieces.
  const uint64_t step = uint64_t{kFatPieceBytes} / 12288 * 12288;
  uint64_t offset = 0;
  uint32_t cluster = 2;
  while (cluster <= lastCluster && offset < fatBytes) {
    const uint64_t length = std::min<uint64_t>(step, fatBytes - offset);
    piece.resize(static_cast<size_t>(length));
    size_t got = 0;
    if (!reader_.Read(fatStart + offset, piece.data(), piece.size(), got) || got != piece.size()) {
      failedOffset_ = fatStart + offset;
      return {};
    }
    const uint64_t pieceEnd = offset + length;
    if (type == kFat32) {
      // The common case, without the per-entry switch: four bytes each.
      const uint8_t* bytes = piece.data();
      for (; cluster <= lastCluster; ++cluster) {
        const uint64_t at = uint64_t{cluster} * 4;
        if (at + 4 > pieceEnd) break;
        if (le32(bytes + (at - offset)) & 0x0FFFFFFF) map.SetUsed(cluster);
      }
    }
    for (; cluster <= lastCluster; ++cluster) {
      const uint64_t at = FatEntryOffset(type, cluster);
      if (at + FatEntryWidth(type) > pieceEnd) break;  // in the next piece, or past the FAT
      if (DecodeFatEntry(type, cluster, piece.data() + (at - offset)) != 0) map.SetUsed(cluster);
    }
    offset = pieceEnd;
  }
  return map;
}

bool FatVolume::EnterCluster(DirCursor& cursor, uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  if (!cursor.entered.insert(cluster).second) return false;  // the chain loops
  if (cursor.budget && !cursor.budget->Take(cluster)) return false;
  if (cursor.clustersWalked) ++*cursor.clustersWalked;
  return true;
}

bool FatVolume::LooksLikeDirectoryContinuation(uint32_t cluster) {
  // A following cluster found without a FAT link belongs to this directory
  // only if all of it reads like entries and it is not the start of
  // another folder.
  const uint64_t start = layout_.ClusterOffset(cluster);
  const uint32_t bytes = layout_.bytesPerCluster;
  if (!Fill(dirCache_, start, std::min(bytes, dirCache_.MaxBytes()), bytes)) return false;
  ByteView first(dirCache_.At(start), kDirEntryBytes);
  if (first.u8(0) == kEndOfDirectory) return false;  // nothing there: the folder ended before
  FatDirEntry dot;
  std::memcpy(dot.bytes.data(), first.data(), kDirEntryBytes);
  if (dot.IsFolder() && dot.ShortNameIs(".          ")) return false;
  for (uint32_t at = 0; at < bytes; at += kBootBytes) {
    const uint64_t piece = start + at;
    if (!Fill(dirCache_, piece, kBootBytes, bytes - at)) return false;
    ByteView entries(dirCache_.At(piece), kBootBytes);
    if (!LooksLikeDirectorySector(entries)) return false;
    // Entries end at the first end marker; what follows it is not read.
    bool ended = false;
    for (uint32_t e = 0; e < kBootBytes && !ended; e += kDirEntryBytes)
      ended = entries.u8(e) == kEndOfDirectory;
    if (ended) break;
  }
  return true;
}

bool FatVolume::NextDirectoryCluster(DirCursor& cursor, uint32_t& next) {
  bool guessed = true;
  if (chainFat_) {
    uint32_t value = 0;
    if (!TryGetFatEntry(cursor.cluster, 0, value)) return false;
    switch (ClassifyFatValue(layout_.fatType, value)) {
      case kFatEndOfChain:
      case kFatReserved:
        return false;
      case kFatInUse:
        next = value;
        guessed = false;
        break;
      default:  // free: a deleted directory's chain was cleared
        break;
    }
  }
  if (guessed) {
    // A deleted folder went on in the clusters that were free when it grew:
    // the next cluster that is free now, stepping over ones in use (a live
    // folder or file that grew beside it).
    // A run of clusters in use longer than kMaxSteppedOver is not what a
    // folder grows around; the folder is taken to end there.
    next = cursor.cluster;
    for (uint32_t stepped = 0;; ++stepped) {
      if (next >= layout_.clusterCount + 1 || stepped > kMaxSteppedOver) return false;
      ++next;
      if (!chainFat_) break;
      uint32_t value = 0;
      if (!TryGetFatEntry(next, 0, value)) return false;
      if (value == 0) break;
    }
    if (!LooksLikeDirectoryContinuation(next)) return false;
  }
  if (!IsDataCluster(next)) return false;
  return EnterCluster(cursor, next);
}

bool FatVolume::NextDirEntry(DirCursor& cursor, FatDirEntry& out) {
  if (!HasLayout()) return false;
  const uint32_t bps = layout_.bytesPerSector;
  uint64_t offset = 0, end = 0;
  if (cursor.cluster == 0) {
    // The fixed root directory ends where the boot sector says it does.
    const uint64_t at = uint64_t{cursor.entryIndex} * kDirEntryBytes;
    if (layout_.fatType == kFat32 || at >= layout_.RootDirBytes()) return false;
    offset = layout_.RootDirOffset() + at;
    end = layout_.RootDirOffset() + layout_.RootDirBytes();
  } else {
    if (!IsDataCluster(cursor.cluster)) return false;
    if (cursor.entered.empty() && !EnterCluster(cursor, cursor.cluster)) return false;
    const uint32_t perCluster = layout_.bytesPerCluster / kDirEntryBytes;
    if (cursor.entryIndex >= perCluster) {
      uint32_t next = 0;
      if (!NextDirectoryCluster(cursor, next)) return false;
      cursor.cluster = next;
      cursor.entryIndex = 0;
    }
    offset = layout_.ClusterOffset(cursor.cluster) + uint64_t{cursor.entryIndex} * kDirEntryBytes;
    end = layout_.ClusterOffset(cursor.cluster) + layout_.bytesPerCluster;
  }
  const uint64_t sector = offset - offset % bps;
  if (!Fill(dirCache_, sector, bps,
            static_cast<uint32_t>(std::min<uint64_t>(end - sector, dirCache_.MaxBytes()))))
    return false;
  std::memcpy(out.bytes.data(), dirCache_.At(offset), kDirEntryBytes);
  cursor.lastOffset = offset;
  ++cursor.entryIndex;
  return true;
}

bool FatVolume::NextNamedEntry(DirCursor& cursor, FatDirEntry& entry, std::u16string& name,
                               bool nameLiveFiles) {
  if (!NextDirEntry(cursor, entry)) return false;
  if (entry.First() == kEndOfDirectory) return false;
  bool named = false;
  if (entry.IsLongName() && ReadLongName(cursor, entry, name, named) && named) {
    if (!nameLiveFiles && !entry.IsDeleted() && !entry.IsFolder()) name.clear();
    return true;
  }
  if (nameLiveFiles || entry.IsDeleted() || entry.IsFolder())
    name = ShortNameToText(entry, kNameCapacity);
  return true;
}

bool FatVolume::ReadLongName(DirCursor& cursor, FatDirEntry& entry, std::u16string& name,
                             bool& named) {
  named = false;
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
    if (!NextDirEntry(cursor, entry)) return false;
  }
  if (taken == 0) return true;  // a run the short name stands for
  const char16_t* start = buffer + position;
  const char16_t* stop = std::find(start, static_cast<const char16_t*>(buffer + 256), u'\0');
  name.assign(start, stop);
  named = true;
  return true;
}

bool FatVolume::IsFolderCluster(uint32_t cluster) {
  if (!IsDataCluster(cluster)) return false;
  DirCursor cursor;
  cursor.cluster = cluster;
  FatDirEntry dot, dotdot;
  if (!NextDirEntry(cursor, dot) || !NextDirEntry(cursor, dotdot)) return false;
  return dot.IsFolder() && dot.ShortNameIs(".          ") && dotdot.IsFolder() &&
         dotdot.ShortNameIs("..         ");
}

}  // namespace kestrel::fat
