#include "kernel/engine/AllocationMap.h"

#include <algorithm>
#include <bit>

namespace kestrel {

AllocationMap::AllocationMap(uint64_t firstCluster, uint64_t clusters)
    : known_(true), first_(firstCluster), count_(clusters), words_((clusters + 63) / 64, 0) {}

void AllocationMap::SetUsed(uint64_t cluster) {
  if (cluster < first_ || cluster - first_ >= count_) return;
  const uint64_t i = cluster - first_;
  words_[i / 64] |= uint64_t{1} << (i % 64);
}

void AllocationMap::SetFromBitmap(uint64_t fromCluster, const uint8_t* bits, uint64_t count) {
  // Whole bytes at a byte boundary of the map go in eight bits at a time.
  uint64_t i = 0;
  if (fromCluster >= first_ && (fromCluster - first_) % 8 == 0) {
    const uint64_t at = fromCluster - first_;
    const uint64_t room = at < count_ ? count_ - at : 0;
    const uint64_t whole = std::min(count, room) / 8;
    for (uint64_t b = 0; b < whole; ++b) {
      const uint64_t bit = at + b * 8;
      words_[bit / 64] |= uint64_t{bits[b]} << (bit % 64);
    }
    i = whole * 8;
  }
  for (; i < count; ++i)
    if (bits[i / 8] & (1u << (i % 8))) SetUsed(fromCluster + i);
}

bool AllocationMap::InUse(uint64_t cluster) const {
  if (cluster < first_ || cluster - first_ >= count_) return true;
  const uint64_t i = cluster - first_;
  return (words_[i / 64] >> (i % 64)) & 1;
}

uint64_t AllocationMap::CountInUse(uint64_t first, uint64_t count) const {
  uint64_t used = 0;
  // Outside the map: in use.
  if (first < first_) {
    const uint64_t before = std::min(count, first_ - first);
    used += before;
    first += before;
    count -= before;
  }
  if (count == 0) return used;
  uint64_t i = first - first_;
  if (i >= count_) return used + count;
  const uint64_t inside = std::min(count, count_ - i);
  used += count - inside;
  uint64_t end = i + inside;
  while (i < end) {
    const uint64_t w = i / 64, bit = i % 64;
    const uint64_t take = std::min<uint64_t>(64 - bit, end - i);
    uint64_t word = words_[w] >> bit;
    if (take < 64) word &= (uint64_t{1} << take) - 1;
    used += static_cast<uint64_t>(std::popcount(word));
    i += take;
  }
  return used;
}

void AllocationMap::Assess(const std::vector<ClusterRun>& runs, uint64_t size,
                           uint64_t clusterBytes, ItemDetails& out) const {
  out.overwrittenShare = 0;
  if (size == 0) {
    out.state = KX_STATE_INTACT;
    return;
  }
  if (!known_ || clusterBytes == 0) {
    out.state = KX_STATE_UNKNOWN;
    return;
  }
  // Bytes of the file that lie in clusters in use now; sparse runs hold
  // nothing to lose. Only the clusters the size reaches count.
  uint64_t left = size, usedBytes = 0, realBytes = 0;
  bool firstSeen = false, firstUsed = false;
  for (const ClusterRun& run : runs) {
    if (left == 0) break;
    const uint64_t runBytes = run.count > left / clusterBytes ? left : run.count * clusterBytes;
    if (!run.sparse) {
      const uint64_t clusters = (runBytes + clusterBytes - 1) / clusterBytes;
      const uint64_t used = CountInUse(run.first, clusters);
      if (!firstSeen) firstUsed = InUse(run.first);
      firstSeen = true;
      // The last cluster may be partly used by the file: count its bytes.
      uint64_t usedHere = used * clusterBytes;
      if (used == clusters) usedHere = runBytes;
      else if (used > 0 && InUse(run.first + clusters - 1))
        usedHere -= clusters * clusterBytes - runBytes;
      usedBytes += std::min(usedHere, runBytes);
      realBytes += runBytes;
    }
    left -= runBytes;
  }
  // Bytes no run covers cannot come back.
  usedBytes += left;
  realBytes += left;
  if (realBytes == 0) {
    out.state = KX_STATE_INTACT;  // all holes
  } else if (usedBytes == 0) {
    out.state = KX_STATE_INTACT;
  } else if (usedBytes >= realBytes || firstUsed) {
    out.state = KX_STATE_OVERWRITTEN;
    out.overwrittenShare = static_cast<uint16_t>(std::max<uint64_t>(1, usedBytes * 10000 / realBytes));
  } else {
    out.state = KX_STATE_PARTLY_OVERWRITTEN;
    uint64_t share = usedBytes * 10000 / realBytes;
    out.overwrittenShare = static_cast<uint16_t>(std::clamp<uint64_t>(share, 1, 9999));
  }
}

}  // namespace kestrel
