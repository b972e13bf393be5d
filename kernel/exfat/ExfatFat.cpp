#include "kernel/exfat/ExfatFat.h"

#include <algorithm>

namespace kestrel::exfat {

ExfatFat::ExfatFat(SectorReader& reader, const ExfatBoot& boot)
    : reader_(reader), tableByte_(boot.ActiveFatByte()), clusterCount_(boot.clusterCount) {}

bool ExfatFat::Entry(uint32_t cluster, uint32_t& value) {
  value = 0;
  if (cluster - kFirstCluster >= clusterCount_ || cluster < kFirstCluster) return false;
  const uint32_t piece = cluster / kPieceEntries;
  auto it = pieces_.find(piece);
  if (it == pieces_.end()) {
    // Entries past the last cluster are never asked for: the piece is cut there.
    const uint64_t firstEntry = uint64_t{piece} * kPieceEntries;
    const uint64_t entries =
        std::min<uint64_t>(kPieceEntries, uint64_t{clusterCount_} + kFirstCluster - firstEntry);
    raw_.resize(entries * 4);
    const uint64_t at = tableByte_ + firstEntry * 4;
    if (!reader_.ReadExact(at, raw_.data(), raw_.size())) {
      errorOffset_ = at;
      return false;
    }
    if (pieces_.size() >= kMaxPieces) pieces_.clear();
    auto words = std::make_unique<uint32_t[]>(kPieceEntries);
    for (uint64_t i = 0; i < entries; ++i) words[i] = le32(raw_.data() + i * 4);
    it = pieces_.emplace(piece, std::move(words)).first;
  }
  value = it->second[cluster % kPieceEntries];
  return true;
}

ChainEnd ExfatFat::Chain(uint32_t first, uint64_t limit, bool exact,
                         std::vector<ClusterRun>& runs) {
  runs.clear();
  // A chain of more links than the volume has clusters runs in a circle.
  limit = std::min<uint64_t>(limit, uint64_t{clusterCount_} + 1);
  uint32_t cluster = first;
  for (uint64_t taken = 0; taken < limit; ++taken) {
    if (cluster < kFirstCluster || cluster - kFirstCluster >= clusterCount_) return ChainEnd::Broken;
    if (!runs.empty() && runs.back().first + runs.back().count == cluster)
      ++runs.back().count;
    else
      runs.push_back({cluster, 1, false});
    uint32_t next = 0;
    if (!Entry(cluster, next)) return ChainEnd::ReadError;
    if (next == kEndOfChain) return (!exact || taken + 1 == limit) ? ChainEnd::Complete : ChainEnd::Broken;
    cluster = next;
  }
  // Longer than the limit: a loop, or a chain that is not this object's.
  return ChainEnd::Broken;
}

}  // namespace kestrel::exfat
