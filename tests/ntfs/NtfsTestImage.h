// Hand-built NTFS structures for corner cases mkntfs and ntfs-3g cannot be
// made to produce: records with chosen attributes and fix-ups, run lists,
// and whole small volumes (boot sector, $MFT, $Volume, root folder) that
// the engine opens from memory or from a mapped image file.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "kernel/os/Os.h"

namespace kestrel::test {

// (length in clusters, starting LCN or -1 for sparse) -> mapping pairs,
// ended by a zero byte.
std::vector<uint8_t> EncodeRuns(const std::vector<std::pair<uint64_t, int64_t>>& runs);

struct AttrListEntry {
  uint32_t type;
  uint64_t record;
  uint64_t firstVcn = 0;
};

// One file record, attribute by attribute.
class RecordBuilder {
 public:
  RecordBuilder(uint32_t recordBytes, uint16_t flags);
  RecordBuilder& StdInfo(uint64_t modifiedUtc, uint32_t dosFlags = 0x20);
  RecordBuilder& FileName(uint64_t parent, const std::u16string& name, uint8_t nameSpace = 1,
                          uint64_t realSize = 0);
  RecordBuilder& ResidentData(const std::vector<uint8_t>& value, const std::u16string& name = u"");
  RecordBuilder& NonResidentData(const std::vector<uint8_t>& runs, uint64_t firstVcn,
                                 uint64_t lastVcn, uint64_t dataSize,
                                 const std::u16string& name = u"");
  // A non-resident $DATA with header flags (0x0001 compressed, 0x4000
  // encrypted), compression unit (log2 clusters) and initialized size.
  RecordBuilder& FlaggedData(const std::vector<uint8_t>& runs, uint64_t lastVcn, uint64_t dataSize,
                             uint16_t flags, uint8_t unitLog, uint64_t initializedSize);
  RecordBuilder& AttrList(const std::vector<AttrListEntry>& entries);
  RecordBuilder& VolInfo(uint8_t major, uint8_t minor);
  RecordBuilder& Resident(uint32_t type, const std::vector<uint8_t>& value,
                          const std::u16string& name = u"");
  RecordBuilder& NonResident(uint32_t type, const std::vector<uint8_t>& runs, uint64_t firstVcn,
                             uint64_t lastVcn, uint64_t dataSize, const std::u16string& name);
  // The image with an end marker and fix-ups applied in `fixupBlock`-byte
  // blocks (the sequence number written at every block's end).
  std::vector<uint8_t> Finish(uint32_t fixupBlock = 512) const;

 private:
  void Append(const std::vector<uint8_t>& attribute);
  uint32_t recordBytes_;
  uint16_t flags_;
  std::vector<uint8_t> attributes_;
  uint16_t nextId_ = 0;
};

struct NtfsLayout {
  uint16_t sectorBytes = 512;
  uint32_t clusterBytes = 4096;
  uint32_t recordBytes = 1024;
  uint64_t mftLcn = 4;
  uint32_t mftRecords = 64;
  uint64_t totalClusters = 256;
  uint8_t majorVersion = 3;
  uint8_t minorVersion = 1;
};

// A small volume: boot sector, a contiguous $MFT of layout.mftRecords
// records (record 0 maps it), $Volume (3) and the root folder (5).
class NtfsTestImage {
 public:
  explicit NtfsTestImage(const NtfsLayout& layout = NtfsLayout());
  const NtfsLayout& layout() const { return layout_; }
  std::vector<uint8_t>& bytes() { return bytes_; }
  uint64_t MftByteOffset() const { return layout_.mftLcn * layout_.clusterBytes; }
  uint64_t MftClusters() const;
  // A record builder with the layout's record size.
  RecordBuilder Record(uint16_t flags) const { return RecordBuilder(layout_.recordBytes, flags); }
  // Stores a finished record image at its place in the contiguous $MFT.
  void PutRecord(uint64_t number, const std::vector<uint8_t>& image);
  void PutRecord(uint64_t number, const RecordBuilder& record);
  void PutBytes(uint64_t offset, const std::vector<uint8_t>& data);
  void PutClusters(uint64_t lcn, const std::vector<uint8_t>& data) {
    PutBytes(lcn * layout_.clusterBytes, data);
  }
  std::filesystem::path Write(const std::filesystem::path& folder, const char* name) const;

 private:
  NtfsLayout layout_;
  std::vector<uint8_t> bytes_;
};

// An in-memory device that records how it was read.
class MemoryDevice final : public os::Device {
 public:
  MemoryDevice(std::vector<uint8_t> bytes, uint32_t sectorBytes)
      : bytes_(std::move(bytes)), sectorBytes_(sectorBytes) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override;
  bool Flush() override { return true; }
  bool QueryGeometry(os::DiskGeometry&) override { return false; }
  bool CheckVerify() override { return true; }

  struct Stats {
    int reads = 0;
    int unaligned = 0;
    uint64_t highestEnd = 0;
  };
  // Shared with the test so it can look after the volume owns the device.
  std::shared_ptr<Stats> stats = std::make_shared<Stats>();
  // Reads touching [failFrom, failTo) fail like a bad sector.
  uint64_t failFrom = 0, failTo = 0;

 private:
  std::vector<uint8_t> bytes_;
  uint32_t sectorBytes_;
};

// Local time of a UTC FILETIME as the kernel converts it.
uint64_t LocalTime(uint64_t utc);
// FILETIME of Unix seconds.
constexpr uint64_t FileTimeOf(int64_t unixSeconds) {
  return static_cast<uint64_t>(unixSeconds) * 10000000ull + 116444736000000000ull;
}

}  // namespace kestrel::test
