#include "tests/ntfs/NtfsTestImage.h"

#include <cstring>
#include <fstream>

#include "kernel/Bytes.h"

namespace kestrel::test {
namespace {

size_t Round8(size_t n) { return (n + 7) & ~size_t{7}; }

std::vector<uint8_t> NameBytes(const std::u16string& name) {
  std::vector<uint8_t> out(2 * name.size());
  for (size_t i = 0; i < name.size(); ++i) put16(&out[2 * i], name[i]);
  return out;
}

}  // namespace

std::vector<uint8_t> EncodeRuns(const std::vector<std::pair<uint64_t, int64_t>>& runs) {
  std::vector<uint8_t> out;
  int64_t previous = 0;
  auto bytesFor = [](uint64_t v, bool isSigned) {
    int n = 1;
    while (n < 8) {
      int64_t s = static_cast<int64_t>(v);
      if (isSigned) {
        int64_t lo = -(int64_t{1} << (8 * n - 1)), hi = (int64_t{1} << (8 * n - 1)) - 1;
        if (s >= lo && s <= hi) break;
      } else if (v < (uint64_t{1} << (8 * n))) {
        break;
      }
      ++n;
    }
    return n;
  };
  for (auto [length, lcn] : runs) {
    int l = bytesFor(length, false);
    int f = 0;
    uint64_t delta = 0;
    if (lcn >= 0) {
      delta = static_cast<uint64_t>(lcn - previous);
      f = bytesFor(delta, true);
      previous = lcn;
    }
    out.push_back(static_cast<uint8_t>(l | (f << 4)));
    for (int i = 0; i < l; ++i) out.push_back(static_cast<uint8_t>(length >> (8 * i)));
    for (int i = 0; i < f; ++i) out.push_back(static_cast<uint8_t>(delta >> (8 * i)));
  }
  out.push_back(0);
  return out;
}

RecordBuilder::RecordBuilder(uint32_t recordBytes, uint16_t flags)
    : recordBytes_(recordBytes), flags_(flags) {}

void RecordBuilder::Append(const std::vector<uint8_t>& attribute) {
  attributes_.insert(attributes_.end(), attribute.begin(), attribute.end());
}

RecordBuilder& RecordBuilder::Resident(uint32_t type, const std::vector<uint8_t>& value,
                                       const std::u16string& name) {
  std::vector<uint8_t> n = NameBytes(name);
  size_t valueOffset = Round8(0x18 + n.size());
  std::vector<uint8_t> a(Round8(valueOffset + value.size()), 0);
  put32(&a[0], type);
  put32(&a[4], static_cast<uint32_t>(a.size()));
  a[9] = static_cast<uint8_t>(name.size());
  put16(&a[0x0A], 0x18);
  put16(&a[0x0E], nextId_++);
  put32(&a[0x10], static_cast<uint32_t>(value.size()));
  put16(&a[0x14], static_cast<uint16_t>(valueOffset));
  if (!n.empty()) std::memcpy(&a[0x18], n.data(), n.size());
  if (!value.empty()) std::memcpy(&a[valueOffset], value.data(), value.size());
  Append(a);
  return *this;
}

RecordBuilder& RecordBuilder::NonResident(uint32_t type, const std::vector<uint8_t>& runs,
                                          uint64_t firstVcn, uint64_t lastVcn, uint64_t dataSize,
                                          const std::u16string& name) {
  std::vector<uint8_t> n = NameBytes(name);
  size_t runOffset = Round8(0x40 + n.size());
  std::vector<uint8_t> a(Round8(runOffset + runs.size()), 0);
  put32(&a[0], type);
  put32(&a[4], static_cast<uint32_t>(a.size()));
  a[8] = 1;
  a[9] = static_cast<uint8_t>(name.size());
  put16(&a[0x0A], 0x40);
  put16(&a[0x0E], nextId_++);
  put64(&a[0x10], firstVcn);
  put64(&a[0x18], lastVcn);
  put16(&a[0x20], static_cast<uint16_t>(runOffset));
  put64(&a[0x28], (lastVcn + 1) * 4096);  // allocated: informative only
  put64(&a[0x30], dataSize);
  put64(&a[0x38], dataSize);
  if (!n.empty()) std::memcpy(&a[0x40], n.data(), n.size());
  std::memcpy(&a[runOffset], runs.data(), runs.size());
  Append(a);
  return *this;
}

RecordBuilder& RecordBuilder::StdInfo(uint64_t modifiedUtc, uint32_t dosFlags) {
  std::vector<uint8_t> v(0x48, 0);
  put64(&v[0x00], modifiedUtc - 10000000);
  put64(&v[0x08], modifiedUtc);
  put64(&v[0x10], modifiedUtc);
  put64(&v[0x18], modifiedUtc + 10000000);
  put32(&v[0x20], dosFlags);
  return Resident(0x10, v);
}

RecordBuilder& RecordBuilder::FileName(uint64_t parent, const std::u16string& name,
                                       uint8_t nameSpace, uint64_t realSize) {
  std::vector<uint8_t> v(0x42 + 2 * name.size(), 0);
  put64(&v[0x00], parent | (uint64_t{1} << 48));
  put64(&v[0x28], realSize);
  put64(&v[0x30], realSize);
  v[0x40] = static_cast<uint8_t>(name.size());
  v[0x41] = nameSpace;
  std::vector<uint8_t> n = NameBytes(name);
  if (!n.empty()) std::memcpy(&v[0x42], n.data(), n.size());
  return Resident(0x30, v);
}

RecordBuilder& RecordBuilder::ResidentData(const std::vector<uint8_t>& value,
                                           const std::u16string& name) {
  return Resident(0x80, value, name);
}

RecordBuilder& RecordBuilder::NonResidentData(const std::vector<uint8_t>& runs, uint64_t firstVcn,
                                              uint64_t lastVcn, uint64_t dataSize,
                                              const std::u16string& name) {
  return NonResident(0x80, runs, firstVcn, lastVcn, dataSize, name);
}

RecordBuilder& RecordBuilder::FlaggedData(const std::vector<uint8_t>& runs, uint64_t lastVcn,
                                          uint64_t dataSize, uint16_t flags, uint8_t unitLog,
                                          uint64_t initializedSize) {
  const size_t at = attributes_.size();
  NonResident(0x80, runs, 0, lastVcn, dataSize, u"");
  put16(&attributes_[at + 0x0C], flags);
  attributes_[at + 0x22] = unitLog;
  put64(&attributes_[at + 0x38], initializedSize);
  return *this;
}

RecordBuilder& RecordBuilder::AttrList(const std::vector<AttrListEntry>& entries) {
  std::vector<uint8_t> v;
  for (const AttrListEntry& e : entries) {
    std::vector<uint8_t> entry(32, 0);
    put32(&entry[0], e.type);
    put16(&entry[4], 32);
    entry[7] = 0x1A;
    put64(&entry[0x08], e.firstVcn);
    put64(&entry[0x10], e.record | (uint64_t{1} << 48));
    v.insert(v.end(), entry.begin(), entry.end());
  }
  return Resident(0x20, v);
}

RecordBuilder& RecordBuilder::VolInfo(uint8_t major, uint8_t minor) {
  std::vector<uint8_t> v(12, 0);
  v[8] = major;
  v[9] = minor;
  return Resident(0x70, v);
}

std::vector<uint8_t> RecordBuilder::Finish(uint32_t fixupBlock) const {
  std::vector<uint8_t> r(recordBytes_, 0);
  size_t blocks = recordBytes_ / fixupBlock;
  size_t usa = 0x30;
  size_t first = Round8(usa + 2 * (blocks + 1));
  std::memcpy(&r[0], "FILE", 4);
  put16(&r[0x04], static_cast<uint16_t>(usa));
  put16(&r[0x06], static_cast<uint16_t>(blocks + 1));
  put16(&r[0x10], 1);
  put16(&r[0x12], 1);
  put16(&r[0x14], static_cast<uint16_t>(first));
  put16(&r[0x16], flags_);
  size_t end = first + attributes_.size();
  if (end + 8 > recordBytes_) throw std::runtime_error("record overflow");
  if (!attributes_.empty()) std::memcpy(&r[first], attributes_.data(), attributes_.size());
  put32(&r[end], 0xFFFFFFFF);
  put32(&r[0x18], static_cast<uint32_t>(end + 8));
  put32(&r[0x1C], recordBytes_);
  const uint16_t sequence = 0x0A0B;
  put16(&r[usa], sequence);
  for (size_t i = 0; i < blocks; ++i) {
    size_t tail = (i + 1) * fixupBlock - 2;
    r[usa + 2 * (i + 1)] = r[tail];
    r[usa + 2 * (i + 1) + 1] = r[tail + 1];
    put16(&r[tail], sequence);
  }
  return r;
}

NtfsTestImage::NtfsTestImage(const NtfsLayout& layout) : layout_(layout) {
  bytes_.assign(layout.totalClusters * layout.clusterBytes, 0);
  uint8_t* b = bytes_.data();
  b[0] = 0xEB; b[1] = 0x52; b[2] = 0x90;
  std::memcpy(b + 3, "NTFS    ", 8);
  put16(b + 0x0B, layout.sectorBytes);
  b[0x0D] = static_cast<uint8_t>(layout.clusterBytes / layout.sectorBytes);
  put64(b + 0x28, layout.totalClusters * (layout.clusterBytes / layout.sectorBytes) - 1);
  put64(b + 0x30, layout.mftLcn);
  put64(b + 0x38, layout.mftLcn + MftClusters());
  auto sizeByte = [&](uint32_t bytes) -> uint8_t {
    if (bytes >= layout.clusterBytes) return static_cast<uint8_t>(bytes / layout.clusterBytes);
    int shift = 0;
    while ((1u << shift) < bytes) ++shift;
    return static_cast<uint8_t>(-shift);
  };
  b[0x40] = sizeByte(layout.recordBytes);
  b[0x44] = sizeByte(4096);
  b[0x1FE] = 0x55; b[0x1FF] = 0xAA;

  uint64_t mftBytes = uint64_t{layout.mftRecords} * layout.recordBytes;
  PutRecord(0, Record(0x0001)
                   .StdInfo(FileTimeOf(1500000000))
                   .FileName(5, u"$MFT", 3, mftBytes)
                   .NonResidentData(EncodeRuns({{MftClusters(), static_cast<int64_t>(layout.mftLcn)}}),
                                    0, MftClusters() - 1, mftBytes));
  PutRecord(3, Record(0x0001)
                   .StdInfo(FileTimeOf(1500000000))
                   .FileName(5, u"$Volume", 3)
                   .VolInfo(layout.majorVersion, layout.minorVersion));
  PutRecord(5, Record(0x0003).StdInfo(FileTimeOf(1500000000)).FileName(5, u".", 3));
}

uint64_t NtfsTestImage::MftClusters() const {
  uint64_t bytes = uint64_t{layout_.mftRecords} * layout_.recordBytes;
  return (bytes + layout_.clusterBytes - 1) / layout_.clusterBytes;
}

void NtfsTestImage::PutRecord(uint64_t number, const std::vector<uint8_t>& image) {
  PutBytes(MftByteOffset() + number * layout_.recordBytes, image);
}

void NtfsTestImage::PutRecord(uint64_t number, const RecordBuilder& record) {
  PutRecord(number, record.Finish());
}

void NtfsTestImage::PutBytes(uint64_t offset, const std::vector<uint8_t>& data) {
  if (offset + data.size() > bytes_.size()) bytes_.resize(offset + data.size());
  std::memcpy(bytes_.data() + offset, data.data(), data.size());
}

std::filesystem::path NtfsTestImage::Write(const std::filesystem::path& folder,
                                           const char* name) const {
  std::filesystem::path p = folder / name;
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes_.data()), static_cast<std::streamsize>(bytes_.size()));
  return p;
}

bool MemoryDevice::ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) {
  got = 0;
  ++stats->reads;
  if (offset % sectorBytes_ != 0 || length % sectorBytes_ != 0) ++stats->unaligned;
  if (offset + length > stats->highestEnd) stats->highestEnd = offset + length;
  if (failTo > failFrom && offset < failTo && offset + length > failFrom) return false;
  if (offset >= bytes_.size()) return true;
  got = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
  std::memcpy(buffer, bytes_.data() + offset, got);
  return true;
}

uint64_t LocalTime(uint64_t utc) {
  uint64_t local = 0;
  return os::FileTimeToLocal(utc, local) ? local : utc;
}

}  // namespace kestrel::test
