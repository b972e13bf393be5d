// The bytes of one candidate find, seen from its first byte: the part of
// the scan buffer already in memory is used in place, anything beyond is
// read through a small cache. Reads stop at `limit` (the end of the free
// run or of the format's bound), on a read error, or when a stop is asked.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <vector>

#include "kernel/Bytes.h"

namespace kestrel::carve {

class Stream {
 public:
  // Reads `length` bytes at offset `offset` from the find's start.
  using Fetch = std::function<bool(uint64_t offset, uint8_t* buffer, size_t length, size_t& got)>;

  // `inMemory` holds the find's first bytes; `fetch` (may be empty) gives
  // the rest up to `limit`.
  // `scratch` (may be null) is a cache buffer kept from find to find.
  Stream(ByteView inMemory, uint64_t limit, Fetch fetch = {},
         std::vector<uint8_t>* scratch = nullptr);
  // All of a buffer, for tests and fuzzing.
  explicit Stream(ByteView all) : Stream(all, all.size()) {}

  uint64_t Limit() const { return limit_; }
  // Sets a format's own bound within the run's end (each parser sets its
  // own; a later one may widen it again up to the run's end).
  void Bound(uint64_t limit) { limit_ = limit < runLimit_ ? limit : runLimit_; }
  // [offset, offset + length) or null when it is not all available.
  // `length` is at most kMaxSpan.
  const uint8_t* Get(uint64_t offset, size_t length);
  // Up to `want` bytes from `offset` (fewer at the limit); null and got = 0
  // when none are available.
  const uint8_t* GetSome(uint64_t offset, size_t want, size_t& got);
  // The bytes at [offset, offset + length) as a view (empty when unavailable).
  ByteView View(uint64_t offset, size_t length) {
    const uint8_t* p = Get(offset, length);
    return p ? ByteView(p, length) : ByteView();
  }
  // True once a read failed or a stop was asked: what was found so far is
  // then not a verdict on the format.
  bool Broken() const { return broken_; }
  bool Stopped() const { return stopped_; }

  static constexpr size_t kMaxSpan = 1u << 20;

 private:
  ByteView memory_;
  uint64_t limit_;
  uint64_t runLimit_;
  Fetch fetch_;
  std::vector<uint8_t> own_;
  std::vector<uint8_t>* cache_;
  uint64_t cacheStart_ = 0;
  size_t cacheBytes_ = 0;
  bool broken_ = false;
  bool stopped_ = false;
};

}  // namespace kestrel::carve
