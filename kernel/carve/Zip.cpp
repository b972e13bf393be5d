// ZIP and the Office formats in it: local headers are walked while their
// sizes are known, then the end of central directory record is searched
// for; it must name a central directory that ends where it begins and
// whose entries point at local headers. Names in the directory tell
// DOCX/XLSX/PPTX (with [Content_Types].xml) from other archives. Every
// stored or deflated entry that is not encrypted must give its size and
// CRC-32: other data in the middle of an archive shows nowhere else.
#include <algorithm>
#include <cstring>
#include <string_view>

#include "kernel/carve/Crc32.h"
#include "kernel/carve/Formats.h"
#include "kernel/carve/Inflate.h"

namespace kestrel::carve {

namespace {

constexpr uint64_t kBound = 4ull << 30;
constexpr uint32_t kMaxEntries = 1u << 20;

bool Sig(const uint8_t* p, uint8_t a, uint8_t b) {
  return p && p[0] == 'P' && p[1] == 'K' && p[2] == a && p[3] == b;
}

// Where the local headers stop being walkable (their sizes known).
// `known` stays true while every size was in its local header.
uint64_t WalkLocals(Stream& s, bool& known) {
  known = true;
  uint64_t pos = 0;
  for (uint32_t n = 0; n < kMaxEntries; ++n) {
    ByteView h = s.View(pos, 30);
    if (h.size() != 30 || !Sig(h.data(), 3, 4)) break;
    const uint16_t flags = h.u16(6);
    const uint64_t packed = h.u32(18);
    const uint64_t next = pos + 30 + h.u16(26) + h.u16(28) + packed;
    if ((flags & 8) && packed == 0) {  // sizes follow the data
      known = false;
      return next;
    }
    if (packed == 0xFFFFFFFFu || next > s.Limit()) return std::min(next, s.Limit());
    pos = next;
  }
  return pos;
}

struct Directory {
  uint64_t offset = 0, size = 0, entries = 0, end = 0;
};

// The end record at `at`, checked against the central directory it names.
bool ReadEnd(Stream& s, uint64_t at, Directory& d) {
  ByteView e = s.View(at, 22);
  if (e.size() != 22 || e.u16(4) != 0 || e.u16(6) != 0) return false;  // one disk
  d.entries = e.u16(10);
  d.size = e.u32(12);
  d.offset = e.u32(16);
  d.end = at + 22 + e.u16(20);
  if (d.offset == 0xFFFFFFFFu || d.size == 0xFFFFFFFFu || d.entries == 0xFFFF) {
    // ZIP64: the locator just before gives the ZIP64 end record.
    if (at < 20) return false;
    ByteView loc = s.View(at - 20, 20);
    if (loc.size() != 20 || !Sig(loc.data(), 6, 7)) return false;
    const uint64_t rec = loc.u64(8);
    ByteView z = s.View(rec, 56);
    if (z.size() != 56 || !Sig(z.data(), 6, 6)) return false;
    d.entries = z.u64(32);
    d.size = z.u64(40);
    d.offset = z.u64(48);
    if (d.offset + d.size != rec) return false;
    return true;
  }
  return d.offset + d.size == at;
}

// The sizes and check of one directory entry.
struct Entry {
  uint64_t local = 0;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint64_t packed = 0;
  uint64_t size = 0;
};

// Whether the stored data at `pos` holds `size` bytes with CRC-32 `crc`.
bool StoredDataMatches(Stream& s, uint64_t pos, uint64_t size, uint32_t crc) {
  uint32_t sum = 0;
  while (size > 0) {
    size_t got = 0;
    const uint8_t* p = s.GetSome(pos, static_cast<size_t>(std::min<uint64_t>(size, 1u << 16)), got);
    if (!p) return false;
    sum = Crc32(sum, p, got);
    pos += got;
    size -= got;
  }
  return sum == crc;
}

// Whether the entry's data (its local header at e.local) is what the
// directory says. Entries it cannot check (encrypted, other methods,
// ZIP64 sizes) pass.
bool EntryDataMatches(Stream& s, const Entry& e) {
  constexpr uint16_t kEncrypted = 1;
  if ((e.flags & kEncrypted) || e.packed == 0xFFFFFFFFu || e.size == 0xFFFFFFFFu) return true;
  if (e.method != 0 && e.method != 8) return true;
  ByteView h = s.View(e.local, 30);
  if (h.size() != 30) return false;
  const uint64_t pos = e.local + 30 + h.u16(26) + h.u16(28);
  if (e.method == 0) return e.packed == e.size && StoredDataMatches(s, pos, e.size, e.crc);
  return CheckDeflated(s, pos, e.packed, e.size, e.crc) == InflateCheck::Matches;
}

}  // namespace

bool ParseZip(Stream& s, Find& find) {
  const uint8_t* h = s.Get(0, 30);
  if (!Sig(h, 3, 4)) return false;
  const uint16_t version = h[4] | (h[5] << 8);
  const uint16_t nameLength = h[26] | (h[27] << 8);
  if (version > 100 || nameLength == 0 || nameLength > 1024) return false;
  s.Bound(kBound);
  find.type = u"zip";
  bool known = false;
  const uint64_t walked = WalkLocals(s, known);
  // With every size known the directory follows at once; a cut archive
  // must not send the search through the rest of the free space.
  const uint64_t searchEnd = known ? walked + (64ull << 20) : kBound;
  // The end record lies after the last local header's data.
  Directory d;
  bool found = false;
  uint64_t pos = walked >= 4 ? walked - 4 : 0;
  for (;;) {
    size_t got = 0;
    const uint8_t* p = s.GetSome(pos, 1u << 16, got);
    if (!p || got < 4 || pos > searchEnd) break;
    std::string_view chunk(reinterpret_cast<const char*>(p), got);
    uint64_t hit = UINT64_MAX;
    for (size_t at = chunk.find("PK\x05\x06"); at != std::string_view::npos;
         at = chunk.find("PK\x05\x06", at + 1)) {
      hit = pos + at;
      break;
    }
    if (hit != UINT64_MAX) {
      if (ReadEnd(s, hit, d)) {
        found = true;
        break;
      }
      pos = hit + 1;
      continue;
    }
    if (s.Stopped()) break;
    pos += got - 3;
  }
  if (!found) {
    find.size = std::min(std::max<uint64_t>(walked, 30), s.Limit());
    find.damaged = true;
    return true;
  }
  find.size = std::min(d.end, s.Limit());
  find.damaged = d.end > s.Limit();
  // Every directory entry points at a local header; the names say what it is.
  bool contentTypes = false;
  const char16_t* office = nullptr;
  uint64_t at = d.offset;
  for (uint64_t n = 0; n < d.entries && !find.damaged; ++n) {
    ByteView c = s.View(at, 46);
    if (c.size() != 46 || !Sig(c.data(), 1, 2)) {
      find.damaged = true;
      break;
    }
    // The entry's fields are copied first: reads elsewhere may move the
    // cache `c` points into.
    const uint16_t nl = c.u16(28);
    const uint64_t entryBytes = 46ull + nl + c.u16(30) + c.u16(32);
    Entry e;
    e.local = c.u32(42);
    e.flags = c.u16(8);
    e.method = c.u16(10);
    e.crc = c.u32(16);
    e.packed = c.u32(20);
    e.size = c.u32(24);
    ByteView name = s.View(at + 46, nl);
    std::string_view nm(reinterpret_cast<const char*>(name.data()), name.size());
    if (nm == "[Content_Types].xml") contentTypes = true;
    else if (nm == "word/document.xml") office = u"docx";
    else if (nm == "xl/workbook.xml") office = u"xlsx";
    else if (nm == "ppt/presentation.xml") office = u"pptx";
    if (e.local != 0xFFFFFFFFu && (!Sig(s.Get(e.local, 4), 3, 4) || !EntryDataMatches(s, e)))
      find.damaged = true;
    at += entryBytes;
    if (s.Stopped()) break;
  }
  if (at != d.offset + d.size && !find.damaged) find.damaged = true;
  if (contentTypes && office) find.type = office;
  return true;
}

}  // namespace kestrel::carve
