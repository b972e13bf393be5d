// The exFAT file allocation table: one little-endian u32 per cluster from
// cluster 0. Entries 0 and 1 are reserved, 0xFFFFFFF7 marks a bad cluster,
// 0xFFFFFFFF the end of a chain, anything else the next cluster. Files and
// folders flagged "no FAT chain" are contiguous and their entries mean
// nothing. The table is read in large pieces as it is asked for and the
// pieces are kept, up to a bound, by the open volume.
#pragma once

#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/AllocationMap.h"
#include "kernel/exfat/ExfatBootSector.h"

namespace kestrel::exfat {

constexpr uint32_t kEndOfChain = 0xFFFFFFFFu;
constexpr uint32_t kBadCluster = 0xFFFFFFF7u;

enum class ChainEnd {
  Complete,   // the end mark came where it should
  Broken,     // a free, bad or outside entry, a loop, or the wrong length
  ReadError,  // the table could not be read (ErrorOffset says where)
};

class ExfatFat {
 public:
  ExfatFat(SectorReader& reader, const ExfatBoot& boot);

  // The entry of `cluster`; false when it cannot be read.
  bool Entry(uint32_t cluster, uint32_t& value);
  uint64_t ErrorOffset() const { return errorOffset_; }

  // The chain from `first` as runs, at most `limit` clusters. Complete when
  // it ends with the end mark within the limit (with `exact`, exactly at
  // the limit: a deleted file's chain is trusted only when it is as long
  // as its size says).
  ChainEnd Chain(uint32_t first, uint64_t limit, bool exact, std::vector<ClusterRun>& runs);

 private:
  static constexpr uint32_t kPieceEntries = 65536;  // 256 KiB a read
  static constexpr size_t kMaxPieces = 64;

  SectorReader& reader_;
  uint64_t tableByte_;
  uint32_t clusterCount_;
  std::unordered_map<uint32_t, std::unique_ptr<uint32_t[]>> pieces_;
  std::vector<uint8_t> raw_;
  uint64_t errorOffset_ = 0;
};

}  // namespace kestrel::exfat
