#include "kernel/formatted/OldExfat.h"

#include <algorithm>
#include <iterator>
#include <map>
#include <string>
#include <unordered_map>
#include <vector>

#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/formatted/VolumeReader.h"
#include "kernel/os/Os.h"

namespace kestrel::formatted {
namespace {

// Boot sector: 0x03 "EXFAT   ", 0x58 u32 cluster heap offset (sectors),
// 0x60 u32 root folder cluster, 0x6C u8 log2 bytes per sector, 0x6D u8
// log2 sectors per cluster.
// Entry set: file entry 0x85 (0x01 secondary count, 0x02 u16 set checksum,
// 0x04 u16 attributes, 0x08/0x0C/0x10 u32 created/modified/accessed
// timestamps, 0x16/0x17/0x18 their UTC offsets), stream extension 0xC0
// (0x01 flags, bit 1 no FAT chain; 0x03 name length; 0x14 u32 first
// cluster; 0x18 u64 data length), then name entries 0xC1 of 15 units from 0x02.
constexpr uint8_t kFileEntry = 0x85;
constexpr uint8_t kStreamEntry = 0xC0;
constexpr uint8_t kNameEntry = 0xC1;
constexpr uint16_t kAttrFolder = 0x10;
constexpr uint32_t kEntry = 32;
constexpr uint64_t kFragmentKeys = uint64_t{1} << 40;

struct Set {
  uint64_t offset = 0;  // of the file entry on the volume
  bool folder = false;
  bool noFatChain = false;
  uint32_t firstCluster = 0;
  uint64_t length = 0;
  std::u16string name;
  ItemDetails details;
};

uint16_t SetChecksum(const uint8_t* set, size_t bytes) {
  uint16_t sum = 0;
  for (size_t i = 0; i < bytes; ++i) {
    if (i == 2 || i == 3) continue;
    sum = static_cast<uint16_t>(((sum & 1) ? 0x8000 : 0) + (sum >> 1) + set[i]);
  }
  return sum;
}

// An exFAT timestamp (local, 2-second steps) with its UTC offset byte as
// a UTC FILETIME; 0 when not a valid time.
uint64_t ExfatTimeToUtc(uint32_t stamp, uint8_t utcOffset) {
  const int year = 1980 + static_cast<int>(stamp >> 25), month = (stamp >> 21) & 15,
            day = (stamp >> 16) & 31, hour = (stamp >> 11) & 31, minute = (stamp >> 5) & 63,
            second = (stamp & 31) * 2;
  if (month < 1 || month > 12 || day < 1 || hour > 23 || minute > 59 || second > 59) return 0;
  // Days from 1601-01-01 to the date (proleptic Gregorian).
  auto daysFromCivil = [](int y, int m, int d) {
    y -= m <= 2;
    const int era = y / 400;
    const int yoe = y - era * 400;
    const int doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
    const int doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<int64_t>(era) * 146097 + doe - 719468;  // from 1970-01-01
  };
  int64_t seconds = daysFromCivil(year, month, day) * 86400 + hour * 3600 + minute * 60 + second;
  if (utcOffset & 0x80) {
    const int quarters = static_cast<int8_t>(static_cast<uint8_t>(utcOffset << 1)) / 2;
    seconds -= int64_t{quarters} * 15 * 60;
    return static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  }
  // No offset recorded: the time is local.
  const uint64_t local = static_cast<uint64_t>(seconds + 11644473600LL) * 10000000ULL;
  uint64_t utc = local;
  if (!os::LocalFileTimeToUtc(local, utc)) utc = local;
  return utc;
}

// The set starting at `at` in `bytes`, when its entries and checksum hold.
bool ReadSet(ByteView bytes, size_t at, Set& out, size_t& setBytes) {
  const uint8_t count = bytes.u8(at + 1);
  if (count < 2 || count > 18) return false;
  setBytes = (size_t{count} + 1) * kEntry;
  if (!bytes.Has(at, setBytes)) return false;
  const uint8_t* p = bytes.data() + at;
  if (p[kEntry] != kStreamEntry) return false;
  if (SetChecksum(p, setBytes) != bytes.u16(at + 2)) return false;
  const ByteView file = bytes.Sub(at, kEntry), stream = bytes.Sub(at + kEntry, kEntry);
  const size_t nameLength = stream.u8(0x03);
  if (nameLength == 0 || (nameLength + 14) / 15 > size_t{count} - 1) return false;
  out.name.clear();
  for (size_t e = 2; e <= count && out.name.size() < nameLength; ++e) {
    const ByteView name = bytes.Sub(at + e * kEntry, kEntry);
    if (name.u8(0) != kNameEntry) return false;
    for (size_t i = 0; i < 15 && out.name.size() < nameLength; ++i)
      out.name += static_cast<char16_t>(name.u16(2 + 2 * i));
  }
  out.folder = (file.u16(0x04) & kAttrFolder) != 0;
  out.noFatChain = (stream.u8(0x01) & 0x02) != 0;
  out.firstCluster = stream.u32(0x14);
  out.length = stream.u64(0x18);
  out.details = ItemDetails{};
  out.details.created = ExfatTimeToUtc(file.u32(0x08), file.u8(0x16));
  out.details.modified = ExfatTimeToUtc(file.u32(0x0C), file.u8(0x17));
  out.details.accessed = ExfatTimeToUtc(file.u32(0x10), file.u8(0x18));
  return true;
}

std::u16string Numbered(const char16_t* word, uint64_t n) {
  const std::string digits = std::to_string(n);
  return word + std::u16string(digits.begin(), digits.end());
}

}  // namespace

bool IsExfatBoot(ByteView boot) { return boot.Equals(3, "EXFAT   ", 8); }

Outcome FindOldExfat(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink, OldTree& tree) {
  std::vector<uint8_t> boot(512);
  if (!reader.ReadExact(0, boot.data(), boot.size())) return Outcome::ReadFailed(0);
  const ByteView b(boot.data(), boot.size());
  const unsigned sectorShift = b.u8(0x6C), clusterShift = b.u8(0x6D);
  if (sectorShift < 9 || sectorShift > 12 || sectorShift + clusterShift > 25)
    return Outcome::Damaged(u"the exFAT boot sector describes no usable geometry");
  const uint64_t sector = uint64_t{1} << sectorShift;
  const OldGeometry now{uint64_t{b.u32(0x58)} * sector, 2, sector << clusterShift};

  std::vector<Set> sets;
  std::vector<uint64_t> starts;  // sectors whose first entry starts a set
  Outcome outcome = ReadWholeVolume(reader, volumeBytes, sink, [&](uint64_t at, ByteView piece) {
    for (size_t pos = 0; pos + kEntry <= piece.size(); pos += kEntry) {
      if (piece.data()[pos] != kFileEntry) continue;
      Set s;
      size_t bytes = 0;
      if (!ReadSet(piece, pos, s, bytes)) continue;
      s.offset = at + pos;
      if (s.offset % sector == 0) starts.push_back(s.offset);
      sets.push_back(std::move(s));
      pos += bytes - kEntry;
    }
  });
  if (!outcome.ok()) return outcome;

  // The geometry that puts the most found folders at a sector where a set
  // starts; today's wins ties.
  std::vector<const Set*> folders;
  for (const Set& s : sets)
    if (s.folder && s.firstCluster >= 2) folders.push_back(&s);
  std::vector<uint64_t> sortedStarts = starts;
  std::sort(sortedStarts.begin(), sortedStarts.end());
  // A folder cannot hold its own set: a geometry one cluster off would
  // otherwise place each folder at the cluster of its parent's entries.
  auto placed = [&](const OldGeometry& g) {
    size_t n = 0;
    for (const Set* f : folders) {
      const uint64_t at = g.ClusterOffset(f->firstCluster);
      const bool holdsItself = f->offset >= at && f->offset - at < std::max<uint64_t>(f->length, g.clusterBytes);
      if (!holdsItself && std::binary_search(sortedStarts.begin(), sortedStarts.end(), at)) ++n;
    }
    return n;
  };
  OldGeometry geometry = now;
  size_t best = placed(now);
  const size_t probes = std::min<size_t>(folders.size(), 8);
  for (uint64_t c = sector; c <= (uint64_t{32} << 20); c *= 2) {
    std::map<uint64_t, size_t> heaps;
    for (size_t i = 0; i < probes; ++i)
      for (uint64_t x : sortedStarts) {
        const uint64_t back = (uint64_t{folders[i]->firstCluster} - 2) * c;
        if (x >= back) ++heaps[x - back];
      }
    for (const auto& [heap, n] : heaps) {
      if (n < 2 && folders.size() > 1) continue;
      const OldGeometry g{heap, 2, c};
      const size_t score = placed(g);
      if (score > best) {
        best = score;
        geometry = g;
      }
    }
  }
  tree.fileSystem = u"exFAT";
  tree.geometry = geometry;
  tree.SetRoot(0);
  const uint64_t c = geometry.clusterBytes;

  // Each folder's bytes on the volume, for finding which sets lie in it.
  struct Span {
    uint64_t begin, end, key;
  };
  std::vector<Span> spans;
  for (const Set* f : folders) {
    const uint64_t begin = geometry.ClusterOffset(f->firstCluster);
    const uint64_t length = std::max<uint64_t>(f->length, c);
    if (begin >= volumeBytes) continue;
    spans.push_back(Span{begin, std::min(volumeBytes, begin + length), f->firstCluster});
  }
  std::sort(spans.begin(), spans.end(), [](const Span& a, const Span& b) { return a.begin < b.begin; });
  auto owner = [&](uint64_t offset, uint64_t& key) {
    auto it = std::upper_bound(spans.begin(), spans.end(), offset,
                               [](uint64_t o, const Span& s) { return o < s.begin; });
    // Folders do not overlap: only the last one starting before can hold it.
    if (it == spans.begin() || offset >= std::prev(it)->end) return false;
    key = std::prev(it)->key;
    return true;
    return false;
  };

  for (const Set& s : sets) {
    if (StopRequested()) return Outcome::Stopped();
    uint64_t parent = 0;
    if (!owner(s.offset, parent)) {
      // A folder whose own set was in a folder now gone: named after its
      // cluster, under the top folder.
      const uint64_t cluster =
          s.offset >= geometry.firstClusterByte ? 2 + (s.offset - geometry.firstClusterByte) / c : 0;
      parent = kFragmentKeys + cluster;
      tree.AddFolder(parent, 0, Numbered(u"Folder ", cluster));
    }
    if (s.folder) {
      if (s.firstCluster >= 2) tree.AddFolder(s.firstCluster, parent, SafeName(s.name));
      continue;
    }
    OldFile file;
    file.parent = parent;
    file.name = SafeName(s.name);
    file.size = s.length;
    file.details = s.details;
    file.details.recordNumber = s.firstCluster;
    if (file.size != 0) {
      if (s.firstCluster < 2) continue;
      file.runs.push_back(ClusterRun{s.firstCluster, (file.size + c - 1) / c, false});
    }
    tree.files.push_back(std::move(file));
  }
  return Outcome::Success();
}

}  // namespace kestrel::formatted
