#include "kernel/device/PartitionTable.h"

#include <set>

#include "kernel/device/SectorReader.h"

namespace kestrel {
namespace {

// An extended chain deeper than this is taken to be damaged.
constexpr int kMaxChain = 256;
constexpr uint32_t kMaxGptEntries = 4096;

bool IsExtended(uint8_t type) { return type == 0x05 || type == 0x0F || type == 0x85; }

void Clip(PartitionEntry& e, uint64_t diskBytes) {
  if (diskBytes == 0) return;
  if (e.firstByte >= diskBytes) {
    e.beyondDisk = true;
    e.bytes = 0;
  } else if (e.bytes > diskBytes - e.firstByte) {
    e.beyondDisk = true;
    e.bytes = diskBytes - e.firstByte;
  }
}

bool ReadMbr(SectorReader& disk, uint64_t diskBytes, PartitionTable& out) {
  uint8_t mbr[512];
  if (!disk.ReadExact(0, mbr, sizeof mbr)) return false;
  ByteView s(mbr, sizeof mbr);
  if (s.u8(0x1FE) != 0x55 || s.u8(0x1FF) != 0xAA) return false;
  const uint64_t bps = 512;
  // Numbered as Linux, sfdisk and fdisk number them, so that a number the
  // user reads in one tool names the same partition in the other: a
  // primary by its slot (1 to 4, empty slots and the extended one
  // included), logical ones from 5 in chain order.
  std::vector<uint64_t> extended;
  for (int i = 0; i < 4; ++i) {
    const size_t e = 0x1BE + 16 * i;
    const uint8_t type = s.u8(e + 4);
    if (type == 0 || s.u32(e + 12) == 0) continue;
    if (IsExtended(type)) {
      extended.push_back(s.u32(e + 8));
      continue;
    }
    PartitionEntry p;
    p.number = i + 1;
    p.mbrType = type;
    p.firstByte = uint64_t{s.u32(e + 8)} * bps;
    p.bytes = uint64_t{s.u32(e + 12)} * bps;
    Clip(p, diskBytes);
    out.entries.push_back(p);
  }
  if (out.entries.empty() && extended.empty()) return false;
  out.kind = TableKind::Mbr;
  int number = 4;
  // Logical partitions: each EBR names one partition (relative to itself)
  // and the next EBR (relative to the extended partition's start).
  for (uint64_t base : extended) {
    std::set<uint64_t> seen;
    uint64_t at = base;
    for (int depth = 0; depth < kMaxChain; ++depth) {
      if (!seen.insert(at).second) {
        out.note = u"the extended partition chain loops; it was read up to the loop";
        break;
      }
      uint8_t ebr[512];
      if (at > UINT64_MAX / bps || !disk.ReadExact(at * bps, ebr, sizeof ebr)) break;
      ByteView b(ebr, sizeof ebr);
      if (b.u8(0x1FE) != 0x55 || b.u8(0x1FF) != 0xAA) break;
      if (b.u8(0x1BE + 4) != 0 && b.u32(0x1BE + 12) != 0) {
        PartitionEntry p;
        p.number = ++number;
        p.mbrType = b.u8(0x1BE + 4);
        p.logical = true;
        p.firstByte = (at + b.u32(0x1BE + 8)) * bps;
        p.bytes = uint64_t{b.u32(0x1BE + 12)} * bps;
        Clip(p, diskBytes);
        out.entries.push_back(p);
      }
      if (!IsExtended(b.u8(0x1CE + 4)) || b.u32(0x1CE + 8) == 0) break;
      at = base + b.u32(0x1CE + 8);
    }
  }
  return true;
}

// The header at `lba` when it is a GPT header with a good CRC.
bool ReadGptHeader(SectorReader& disk, uint64_t bps, uint64_t lba, std::vector<uint8_t>& header) {
  header.assign(bps, 0);
  if (lba > UINT64_MAX / bps || !disk.ReadExact(lba * bps, header.data(), header.size()))
    return false;
  ByteView h(header.data(), header.size());
  if (!h.Equals(0, "EFI PART", 8)) return false;
  const uint32_t size = h.u32(0x0C);
  if (size < 92 || size > bps) return false;
  std::vector<uint8_t> copy(header.begin(), header.begin() + size);
  copy[0x10] = copy[0x11] = copy[0x12] = copy[0x13] = 0;
  return Crc32(copy.data(), copy.size()) == h.u32(0x10) && h.u64(0x18) == lba;
}

bool ReadGptEntries(SectorReader& disk, uint64_t bps, ByteView h, uint64_t diskBytes,
                    PartitionTable& out) {
  const uint64_t lba = h.u64(0x48);
  const uint32_t count = h.u32(0x50), size = h.u32(0x54);
  if (count == 0 || count > kMaxGptEntries || size < 128 || size > 4096 || size % 8 != 0)
    return false;
  std::vector<uint8_t> array(size_t{count} * size);
  if (lba > UINT64_MAX / bps || !disk.ReadExact(lba * bps, array.data(), array.size())) return false;
  if (Crc32(array.data(), array.size()) != h.u32(0x58)) return false;
  out.entries.clear();
  int number = 0;
  for (uint32_t i = 0; i < count; ++i) {
    ByteView e(array.data() + size_t{i} * size, size);
    bool empty = true;
    for (int k = 0; k < 16; ++k) empty = empty && e.u8(k) == 0;
    ++number;  // GPT numbers follow the slot, empty slots included
    if (empty) continue;
    const uint64_t first = e.u64(0x20), last = e.u64(0x28);
    if (last < first || first > UINT64_MAX / bps || last >= UINT64_MAX / bps) continue;
    PartitionEntry p;
    p.number = number;
    for (int k = 0; k < 16; ++k) p.gptType[k] = e.u8(k);
    p.firstByte = first * bps;
    p.bytes = (last - first + 1) * bps;
    for (int k = 0; k < 36; ++k) {
      char16_t c = e.u16(0x38 + 2 * k);
      if (c == 0) break;
      p.gptName += c;
    }
    Clip(p, diskBytes);
    out.entries.push_back(p);
  }
  out.kind = TableKind::Gpt;
  out.sectorBytes = static_cast<uint32_t>(bps);
  return true;
}

bool ReadGpt(SectorReader& disk, uint64_t diskBytes, PartitionTable& out) {
  for (uint64_t bps : {uint64_t{512}, uint64_t{4096}}) {
    std::vector<uint8_t> header;
    if (ReadGptHeader(disk, bps, 1, header) &&
        ReadGptEntries(disk, bps, ByteView(header.data(), header.size()), diskBytes, out))
      return true;
    if (diskBytes < 2 * bps) continue;
    // The primary header or its entries are damaged: the backup at the end.
    const uint64_t lastLba = diskBytes / bps - 1;
    if (ReadGptHeader(disk, bps, lastLba, header) &&
        ReadGptEntries(disk, bps, ByteView(header.data(), header.size()), diskBytes, out)) {
      out.note = u"the primary GPT header or its entries are damaged; the backup was used";
      return true;
    }
  }
  return false;
}

}  // namespace

uint32_t Crc32(const uint8_t* data, size_t length) {
  static const auto table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t c = i;
      for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
      t[i] = c;
    }
    return t;
  }();
  uint32_t crc = 0xFFFFFFFFu;
  for (size_t i = 0; i < length; ++i) crc = table[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
  return crc ^ 0xFFFFFFFFu;
}

PartitionTable ReadPartitionTable(SectorReader& disk, uint64_t diskBytes) {
  PartitionTable table;
  uint8_t mbr[512];
  if (!disk.ReadExact(0, mbr, sizeof mbr)) return table;
  ByteView s(mbr, sizeof mbr);
  bool protective = false;
  if (s.u8(0x1FE) == 0x55 && s.u8(0x1FF) == 0xAA)
    for (int i = 0; i < 4; ++i) protective = protective || s.u8(0x1BE + 16 * i + 4) == 0xEE;
  if (protective) {
    if (ReadGpt(disk, diskBytes, table)) return table;
    table = PartitionTable{};
    table.note = u"the disk has a protective MBR but neither GPT header is readable";
    return table;
  }
  // A volume boot sector also ends in 55 AA: an MBR has no jump there and
  // only plausible entries.
  if (s.u8(0) == 0xEB || s.u8(0) == 0xE9) {
    bool plausible = true;
    for (int i = 0; i < 4; ++i) {
      const uint8_t boot = s.u8(0x1BE + 16 * i);
      plausible = plausible && (boot == 0 || boot == 0x80);
    }
    if (!plausible) return table;
  }
  PartitionTable mbrTable;
  if (ReadMbr(disk, diskBytes, mbrTable)) return mbrTable;
  return table;
}

uint64_t SectorsCoveredByPartitionTable(ByteView s) {
  if (s.size() < 512 || s.u8(0x1FE) != 0x55 || s.u8(0x1FF) != 0xAA) return 0;
  uint64_t end = 0;
  for (int i = 0; i < 4; ++i) {
    size_t e = 0x1BE + 16 * i;
    if (s.u8(e + 4) == 0) continue;
    uint64_t last = uint64_t{s.u32(e + 8)} + s.u32(e + 12);
    if (last > end) end = last;
  }
  return end;
}

std::u16string PartitionTypeName(const PartitionEntry& e) {
  if (e.mbrType != 0) {
    switch (e.mbrType) {
      case 0x01: return u"FAT12";
      case 0x04: case 0x06: case 0x0E: return u"FAT16";
      case 0x0B: case 0x0C: return u"FAT32";
      case 0x07: return u"NTFS/exFAT";
      case 0x27: return u"Windows recovery";
      case 0x82: return u"Linux swap";
      case 0x83: return u"Linux";
      case 0x8E: return u"Linux LVM";
      case 0xEF: return u"EFI system";
      default: return u"";
    }
  }
  struct Known {
    uint32_t first;  // the GUID's first field, enough to tell these apart
    uint16_t second;
    const char16_t* name;
  };
  static const Known known[] = {
      {0xEBD0A0A2, 0xB9E5, u"Microsoft basic data"},
      {0xC12A7328, 0xF81F, u"EFI system"},
      {0xE3C9E316, 0x0B5C, u"Microsoft reserved"},
      {0xDE94BBA4, 0x06D1, u"Windows recovery"},
      {0x0FC63DAF, 0x8483, u"Linux filesystem"},
      {0x0657FD6D, 0xA4AB, u"Linux swap"},
      {0x21686148, 0x6449, u"BIOS boot"},
  };
  ByteView g(e.gptType.data(), e.gptType.size());
  for (const Known& k : known)
    if (g.u32(0) == k.first && g.u16(4) == k.second) return k.name;
  return u"";
}

}  // namespace kestrel
