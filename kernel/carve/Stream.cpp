#include "kernel/carve/Stream.h"

#include <algorithm>

#include "kernel/StopFlag.h"

namespace kestrel::carve {

namespace {
constexpr size_t kCacheBytes = 2u << 20;
}

Stream::Stream(ByteView inMemory, uint64_t limit, Fetch fetch, std::vector<uint8_t>* scratch)
    : memory_(inMemory.data(), std::min<uint64_t>(inMemory.size(), limit)), limit_(limit),
      runLimit_(limit), fetch_(std::move(fetch)), cache_(scratch ? scratch : &own_) {}

const uint8_t* Stream::Get(uint64_t offset, size_t length) {
  if (length > kMaxSpan || !InBounds(offset, length, limit_)) return nullptr;
  if (InBounds(offset, length, memory_.size())) return memory_.data() + offset;
  if (offset >= cacheStart_ && InBounds(offset - cacheStart_, length, cacheBytes_))
    return cache_->data() + (offset - cacheStart_);
  if (!fetch_ || broken_) return nullptr;
  if (StopRequested()) {
    stopped_ = broken_ = true;
    return nullptr;
  }
  // Refill from the aligned start below `offset`, so a walk that steps
  // back a little stays in the cache.
  uint64_t start = offset & ~uint64_t{4095};
  uint64_t want = std::min<uint64_t>(kCacheBytes, limit_ - start);
  if (want < (offset - start) + length) return nullptr;
  if (cache_->size() < kCacheBytes) cache_->resize(kCacheBytes);
  size_t got = 0;
  if (!fetch_(start, cache_->data(), static_cast<size_t>(want), got)) {
    broken_ = true;
    cacheBytes_ = 0;
    return nullptr;
  }
  cacheStart_ = start;
  cacheBytes_ = got;
  if (got < want) limit_ = runLimit_ = start + got;  // the device ended
  if (!InBounds(offset - cacheStart_, length, cacheBytes_)) return nullptr;
  return cache_->data() + (offset - cacheStart_);
}

const uint8_t* Stream::GetSome(uint64_t offset, size_t want, size_t& got) {
  got = 0;
  for (int attempt = 0; attempt < 2; ++attempt) {
    if (offset >= limit_) return nullptr;
    const size_t n = static_cast<size_t>(std::min<uint64_t>({want, limit_ - offset, kMaxSpan}));
    if (const uint8_t* p = Get(offset, n)) {
      got = n;
      return p;
    }
    // A short device lowers the limit during the refill: ask once more.
    if (broken_) return nullptr;
  }
  return nullptr;
}

}  // namespace kestrel::carve
