// OLE2 compound files (DOC, XLS, PPT): the size is one header sector plus
// every sector up to the last one the FAT does not call free. Each FAT
// sector must be marked as one in the FAT; the root directory's streams
// name the application.
#include <cstring>
#include <string>
#include <vector>

#include "kernel/carve/Formats.h"

namespace kestrel::carve {

namespace {

constexpr uint32_t kFree = 0xFFFFFFFFu;
constexpr uint32_t kFatSector = 0xFFFFFFFDu;
constexpr uint32_t kMaxFatSectors = 1u << 16;

// A directory entry's name (UTF-16LE) as ASCII, for comparison.
std::string Name(ByteView e) {
  std::string out;
  const uint16_t bytes = e.u16(64);
  for (size_t k = 0; k + 2 <= bytes && k < 64; k += 2) {
    const uint16_t c = e.u16(k);
    if (c == 0) break;
    out += c < 128 ? static_cast<char>(c) : '?';
  }
  return out;
}

}  // namespace

bool ParseOle2(Stream& s, Find& find) {
  static const uint8_t sig[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
  ByteView h = s.View(0, 512);
  if (h.size() != 512 || !h.Equals(0, sig, 8)) return false;
  const uint16_t shift = h.u16(30);
  if ((shift != 9 && shift != 12) || h.u16(28) != 0xFFFE) return false;
  const uint64_t sector = uint64_t{1} << shift;
  const uint32_t fatSectors = h.u32(44);
  const uint32_t dirSector = h.u32(48);  // read now: later reads may move the cache `h` is in
  if (fatSectors == 0 || fatSectors > kMaxFatSectors) return false;
  find.type = u"ole";
  auto at = [&](uint64_t n) { return (n + 1) * sector; };
  // The FAT's sector numbers: 109 in the header, the rest in DIFAT sectors.
  std::vector<uint32_t> fat;
  for (uint32_t k = 0; k < 109 && fat.size() < fatSectors; ++k) fat.push_back(h.u32(76 + 4 * k));
  uint32_t difat = h.u32(68);
  bool damaged = false;
  for (uint32_t guard = 0; fat.size() < fatSectors && guard < kMaxFatSectors; ++guard) {
    ByteView d = s.View(at(difat), static_cast<size_t>(sector));
    if (d.size() != sector) {
      damaged = true;
      break;
    }
    for (uint64_t k = 0; k + 4 < sector && fat.size() < fatSectors; k += 4)
      fat.push_back(d.u32(static_cast<size_t>(k)));
    difat = d.u32(static_cast<size_t>(sector - 4));
  }
  // The last sector in use, and each FAT sector marked as one.
  uint64_t last = 0;
  const uint64_t perSector = sector / 4;
  for (size_t i = 0; i < fat.size() && !damaged; ++i) {
    ByteView f = s.View(at(fat[i]), static_cast<size_t>(sector));
    if (f.size() != sector) {
      damaged = true;
      break;
    }
    // A FAT sector that does not mark itself holds other data: its
    // entries would only invent an extent.
    bool marked = true;
    for (uint32_t self : fat)
      if (self / perSector == i && f.u32(static_cast<size_t>(4 * (self % perSector))) != kFatSector)
        marked = false;
    if (!marked) {
      damaged = true;
      continue;
    }
    for (uint64_t k = 0; k < perSector; ++k)
      if (f.u32(static_cast<size_t>(4 * k)) != kFree) last = i * perSector + k + 1;
    if (s.Stopped()) break;
  }
  // The sectors the header names lie inside the file too: with the FAT
  // lost they still give a damaged file most of its extent.
  if (damaged) {
    for (uint32_t n : fat)
      if (n < kFatSector && at(n) < s.Limit() && n + 1u > last) last = n + 1u;
    if (dirSector < kFatSector && at(dirSector) < s.Limit() && dirSector + 1u > last)
      last = dirSector + 1u;
  }
  uint64_t size = at(last);
  if (last == 0 || size > s.Limit()) {
    size = last == 0 ? 512 : s.Limit();
    damaged = true;
  }
  // The root directory's first sector names the main stream; its first
  // entry is the root storage, else the directory was overwritten.
  ByteView dir = s.View(at(dirSector), static_cast<size_t>(sector));
  if (dir.size() != sector || dir.u8(66) != 5) damaged = true;
  for (uint64_t e = 0; e + 128 <= dir.size(); e += 128) {
    std::string n = Name(dir.Sub(static_cast<size_t>(e), 128));
    if (n == "WordDocument") find.type = u"doc";
    else if (n == "Workbook" || n == "Book") find.type = u"xls";
    else if (n == "PowerPoint Document") find.type = u"ppt";
  }
  find.size = size;
  find.damaged = damaged;
  return true;
}

}  // namespace kestrel::carve
