#include "kernel/formatted/OldFat.h"

#include <algorithm>
#include <cstring>
#include <map>
#include <string>
#include <unordered_set>

#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/formatted/VolumeReader.h"
#include "kernel/os/Os.h"

namespace kestrel::formatted {
namespace {

using namespace kestrel::fat;

constexpr uint32_t kSector = 512;
constexpr uint64_t kMaxClusterBytes = 256 * 1024;
// A FAT folder holds at most 65536 entries.
constexpr uint64_t kMaxFolderBytes = 65536 * kDirEntryBytes;
constexpr uint64_t kRootKey = 0;

uint8_t ShortNameChecksum(const uint8_t* name11) {
  uint8_t sum = 0;
  for (int i = 0; i < 11; ++i) sum = static_cast<uint8_t>(((sum & 1) << 7) + (sum >> 1) + name11[i]);
  return sum;
}

uint64_t DosToUtc(uint16_t date, uint16_t time) {
  const uint64_t local = DosDateTimeToFileTime(date, time);
  uint64_t utc = local;
  if (local && !os::LocalFileTimeToUtc(local, utc)) utc = local;
  return utc;
}

// Collects the long-name entries ahead of a short entry (they come last
// part first) and hands the name over when the short entry's checksum
// matches.
class LongName {
 public:
  void Reset() { parts_ = 0; }
  void Take(const FatDirEntry& e) {
    const uint8_t seq = e.First();
    const uint8_t index = seq & 0x1F;
    if (index == 0 || index > 20) {
      Reset();
      return;
    }
    if (seq & 0x40) {
      parts_ = index;
      next_ = index;
      checksum_ = e.LongNameChecksum();
      std::fill(std::begin(chars_), std::end(chars_), char16_t{0});
    } else if (parts_ == 0 || index != next_ || e.LongNameChecksum() != checksum_) {
      Reset();
      return;
    }
    e.LongNameChars(chars_ + (index - 1) * kLongNameChars);
    next_ = index - 1;
  }
  bool For(const FatDirEntry& shortEntry, std::u16string& out) {
    const bool whole = parts_ != 0 && next_ == 0 &&
                       ShortNameChecksum(shortEntry.bytes.data()) == checksum_;
    Reset();
    if (!whole) return false;
    size_t length = 0;
    const size_t most = size_t{20} * kLongNameChars;
    while (length < most && chars_[length] != 0 && chars_[length] != 0xFFFF) ++length;
    out.assign(chars_, length);
    return length != 0;
  }

 private:
  uint8_t parts_ = 0;
  uint8_t next_ = 0;
  uint8_t checksum_ = 0;
  char16_t chars_[20 * kLongNameChars] = {};
};

}  // namespace

bool ReadDotSector(ByteView sector, DotSector& out) {
  static const char dot[] = ".          ";
  static const char dotdot[] = "..         ";
  if (!sector.Has(0, 2 * kDirEntryBytes)) return false;
  if (!sector.Equals(0, dot, 11) || !sector.Equals(kDirEntryBytes, dotdot, 11)) return false;
  if (!(sector.u8(0x0B) & kAttrDirectory) || !(sector.u8(kDirEntryBytes + 0x0B) & kAttrDirectory))
    return false;
  out.self = (uint32_t{sector.u16(0x14)} << 16) | sector.u16(0x1A);
  out.parent = (uint32_t{sector.u16(kDirEntryBytes + 0x14)} << 16) | sector.u16(kDirEntryBytes + 0x1A);
  return out.self >= 2 && out.self != out.parent;
}

bool InferFatGeometry(const std::vector<DotSector>& found, const OldGeometry& fallback,
                      OldGeometry& out) {
  auto count = [&](uint64_t c, uint64_t start) {
    size_t n = 0;
    for (const DotSector& d : found)
      if (d.offset >= start && d.offset - start == (uint64_t{d.self} - 2) * c) ++n;
    return n;
  };
  size_t best = fallback.clusterBytes ? count(fallback.clusterBytes, fallback.firstClusterByte) : 0;
  out = fallback;
  bool any = fallback.clusterBytes != 0;
  for (uint64_t c = kSector; c <= kMaxClusterBytes; c *= 2) {
    // Each found folder names one data start for this cluster size; the
    // most named one wins.
    std::map<uint64_t, size_t> starts;
    for (const DotSector& d : found) {
      const uint64_t back = (uint64_t{d.self} - 2) * c;
      if (d.offset >= back) ++starts[d.offset - back];
    }
    for (const auto& [start, n] : starts) {
      if (n > best) {
        best = n;
        out = OldGeometry{start, 2, c};
        any = true;
      }
    }
  }
  return any;
}

namespace {
// Whether 32 bytes can be a live entry. Text and other file data passes
// the looser test of a whole sector (digits and blanks make valid short
// names, attributes and dates): the reserved bits of the case byte, the
// long-name entry's zero type and cluster, and a short name's bytes (no
// blank inside a name part) are what data rarely gets right.
bool PlausibleEntry(const FatDirEntry& e) {
  const ByteView v = e.View();
  if (e.IsLongName()) return v.u8(0x0C) == 0 && v.u16(0x1A) == 0 && (e.First() & 0x1F) != 0;
  if (e.Attributes() & 0xC0) return false;
  if (v.u8(0x0C) & ~(kLowerCaseBase | kLowerCaseExtension)) return false;
  if (e.First() < 0x20 && e.First() != 0x05) return false;
  if (e.First() == ' ') return false;
  bool padding = false;  // blanks only pad the base name and the extension
  for (size_t i = 0; i < 11; ++i) {
    const uint8_t b = v.u8(i);
    if (i == 8) padding = false;
    if (b == ' ') {
      padding = true;
      continue;
    }
    if (padding) return false;
    if (b < 0x20 || (b >= 'a' && b <= 'z') || std::strchr("\"*+,/:;<=>?[\\]|", b)) {
      if (!(i == 0 && b == 0x05)) return false;
    }
  }
  return true;
}

bool ReadEntries(ByteView entries, uint64_t key, const OldGeometry& geometry, OldTree& tree,
                 bool& ended, LongName& longName) {
  ended = false;
  FatDirEntry e;
  std::u16string name;
  for (size_t off = 0; off + kDirEntryBytes <= entries.size(); off += kDirEntryBytes) {
    std::memcpy(e.bytes.data(), entries.data() + off, kDirEntryBytes);
    if (e.First() == kEndOfDirectory) {
      ended = true;
      return true;
    }
    if (e.IsDeleted()) {
      longName.Reset();
      continue;
    }
    if (!PlausibleEntry(e)) return false;
    if (e.IsLongName()) {
      longName.Take(e);
      continue;
    }
    const uint8_t attr = e.Attributes();
    if (e.First() == '.' || (attr & 0x08)) {  // "." / "..", the volume label
      longName.Reset();
      continue;
    }
    if (!longName.For(e, name)) name = ShortNameToText(e, 13);
    if (name.empty()) continue;
    const uint32_t first = e.FirstCluster();
    if (e.IsFolder()) {
      if (first >= 2) tree.AddFolder(first, key, SafeName(name));
      continue;
    }
    OldFile file;
    file.parent = key;
    file.name = SafeName(name);
    file.size = e.Size();
    if (file.size != 0) {
      if (first < 2) continue;  // a file with bytes but no cluster: nothing to read
      const uint64_t clusters = (file.size + geometry.clusterBytes - 1) / geometry.clusterBytes;
      file.runs.push_back(ClusterRun{first, clusters, false});
    }
    file.details.recordNumber = first;
    file.details.modified = DosToUtc(e.Date(), e.Time());
    file.details.created = DosToUtc(e.View().u16(0x10), e.View().u16(0x0E));
    file.details.accessed = DosToUtc(e.View().u16(0x12), 0);
    tree.files.push_back(std::move(file));
  }
  return true;
}

// A sector that reads like folder entries but is not a folder's first: a
// later cluster of a folder that grew after files took the clusters
// behind its first.
bool LooksLikeFolderContinuation(ByteView sector) {
  const uint8_t first = sector.u8(0);
  if (first == kEndOfDirectory || first == '.') return false;
  FatDirEntry e;
  for (size_t off = 0; off + kDirEntryBytes <= sector.size(); off += kDirEntryBytes) {
    std::memcpy(e.bytes.data(), sector.data() + off, kDirEntryBytes);
    if (e.First() == kEndOfDirectory) return off != 0;
    if (!e.IsDeleted() && !PlausibleEntry(e)) return false;
  }
  return true;
}
}  // namespace

bool ReadFolderEntries(ByteView entries, uint64_t key, const OldGeometry& geometry, OldTree& tree,
                       bool& ended) {
  LongName longName;
  return ReadEntries(entries, key, geometry, tree, ended, longName);
}

Outcome FindOldFat(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink, OldTree& tree) {
  std::vector<uint8_t> boot(4096);  // a whole sector of any size the FAT engine reads
  FatLayout now;
  if (!reader.ReadExact(0, boot.data(), boot.size()) ||
      ReadFatLayout(ByteView(boot.data(), boot.size()), now) != LayoutResult::Ok)
    return Outcome::Damaged(u"the FAT boot sector cannot be read");
  const uint64_t dataStart = now.DataOffset();

  std::vector<DotSector> found;
  std::vector<uint64_t> continuations;
  Outcome outcome = ReadWholeVolume(reader, volumeBytes, sink, [&](uint64_t at, ByteView piece) {
    for (size_t pos = 0; pos + kSector <= piece.size(); pos += kSector) {
      DotSector d;
      const ByteView sector = piece.Sub(pos, kSector);
      if (piece.data()[pos] != '.') {
        if (LooksLikeFolderContinuation(sector)) continuations.push_back(at + pos);
        continue;
      }
      if (!ReadDotSector(sector, d)) continue;
      d.offset = at + pos;
      found.push_back(d);
    }
  });
  if (!outcome.ok()) return outcome;

  tree.fileSystem = now.fatType == kFat32 ? u"FAT32" : now.fatType == kFat16 ? u"FAT16" : u"FAT12";
  tree.SetRoot(kRootKey);
  OldGeometry geometry;
  if (!InferFatGeometry(found, OldGeometry{dataStart, 2, now.bytesPerCluster}, geometry))
    return Outcome::Success();
  tree.geometry = geometry;
  const uint64_t c = geometry.clusterBytes;

  // Each folder the geometry places is read from its first cluster on, as
  // long as the clusters after it go on reading like its entries.
  std::vector<uint8_t> cluster(c);
  std::unordered_set<uint64_t> taken;  // clusters read as some folder's
  struct Open {
    uint64_t firstCluster;
    uint64_t key;
    LongName longName;
    bool closed = false;
  };
  std::vector<Open> open;  // folders whose entries ran on past what was read
  auto readFolder = [&](uint64_t offset, uint64_t key, LongName& longName) {
    for (uint64_t done = 0; done < kMaxFolderBytes && offset + done + c <= volumeBytes; done += c) {
      const uint64_t n = geometry.firstCluster + (offset + done - geometry.firstClusterByte) / c;
      if (done != 0 && taken.count(n)) return false;
      if (!reader.ReadExact(offset + done, cluster.data(), cluster.size())) return true;
      ByteView bytes(cluster.data(), cluster.size());
      DotSector other;
      if (done != 0 && (ReadDotSector(bytes, other) || !LooksLikeFolderContinuation(bytes.Sub(0, kSector))))
        return false;
      taken.insert(n);
      bool ended = false;
      if (!ReadEntries(bytes, key, geometry, tree, ended, longName)) return true;
      if (ended) return true;
    }
    return true;
  };
  std::sort(found.begin(), found.end(),
            [](const DotSector& a, const DotSector& b) { return a.offset < b.offset; });
  std::vector<const DotSector*> placed;
  for (const DotSector& d : found) {
    if (StopRequested()) return Outcome::Stopped();
    if (d.offset < geometry.firstClusterByte ||
        d.offset - geometry.firstClusterByte != (uint64_t{d.self} - 2) * c || taken.count(d.self))
      continue;
    placed.push_back(&d);
    Open o{d.self, d.self, {}, false};
    if (!readFolder(d.offset, d.self, o.longName)) open.push_back(std::move(o));
  }
  // The old root, where the new format did not write over it: the fixed
  // root area just before an old FAT12/16 data area (taken to be as large
  // as today's), or cluster 2 of an old FAT32, at a data start other than
  // today's. Read before the loose folder clusters, which it may own.
  if (geometry.firstClusterByte != dataStart) {
    const uint64_t rootBytes = now.rootDirSectors ? now.RootDirBytes() : c;
    const uint64_t at = now.rootDirSectors
                            ? geometry.firstClusterByte - std::min(rootBytes, geometry.firstClusterByte)
                            : geometry.firstClusterByte;
    std::vector<uint8_t> root(static_cast<size_t>(rootBytes));
    DotSector notRoot;
    if (at + rootBytes <= volumeBytes && rootBytes >= kSector &&
        reader.ReadExact(at, root.data(), root.size()) && root[0] != 0 &&
        !ReadDotSector(ByteView(root.data(), root.size()), notRoot) &&
        LooksLikeDirectorySector(ByteView(root.data(), kSector))) {
      Open o{geometry.firstCluster, kRootKey, {}, false};
      bool ended = false;
      if (now.rootDirSectors)
        ReadEntries(ByteView(root.data(), root.size()), kRootKey, geometry, tree, ended, o.longName);
      else if (!readFolder(at, kRootKey, o.longName))
        open.push_back(std::move(o));
    }
  }
  // Later clusters of folders that grew past the clusters behind them:
  // without the FAT, each goes to the nearest folder before it still open
  // (allocators take the next free cluster), or under "Lost folders".
  uint64_t fragments = uint64_t{1} << 40;
  for (const uint64_t offset : continuations) {
    if (StopRequested()) return Outcome::Stopped();
    if (offset < geometry.firstClusterByte || (offset - geometry.firstClusterByte) % c != 0) continue;
    const uint64_t n = geometry.firstCluster + (offset - geometry.firstClusterByte) / c;
    if (taken.count(n)) continue;
    Open* owner = nullptr;
    for (Open& o : open)
      if (!o.closed && o.firstCluster < n && (!owner || o.firstCluster > owner->firstCluster))
        owner = &o;
    if (owner) {
      owner->closed = readFolder(offset, owner->key, owner->longName);  // its entries ended
      owner->firstCluster = n;
    } else {
      LongName fresh;
      const uint64_t key = fragments++;
      tree.AddFolder(key, ~uint64_t{0}, u"Folder fragment " + [&] {
        const std::string digits = std::to_string(n);
        return std::u16string(digits.begin(), digits.end());
      }());
      readFolder(offset, key, fresh);
    }
  }
  // A folder whose name was in a folder now gone is still a folder: named
  // after its cluster, under its parent when that is found. Named entries
  // came first and keep their names.
  for (const DotSector* d : placed) {
    const std::string digits = std::to_string(d->self);
    tree.AddFolder(d->self, d->parent, u"Folder " + std::u16string(digits.begin(), digits.end()));
  }
  return Outcome::Success();
}

}  // namespace kestrel::formatted
