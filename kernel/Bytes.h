// Little-endian reads over bounds-checked byte views.
//
// Disk bytes are never cast to structs: every field is read with le16/le32/
// le64, which widen before shifting, through a ByteView that knows its size.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

namespace kestrel {

inline uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(uint16_t{p[0]} | (uint16_t{p[1]} << 8));
}
inline uint32_t le32(const uint8_t* p) {
  return uint32_t{p[0]} | (uint32_t{p[1]} << 8) | (uint32_t{p[2]} << 16) | (uint32_t{p[3]} << 24);
}
inline uint64_t le64(const uint8_t* p) {
  return uint64_t{le32(p)} | (uint64_t{le32(p + 4)} << 32);
}
inline void put16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
inline void put32(uint8_t* p, uint32_t v) {
  put16(p, static_cast<uint16_t>(v));
  put16(p + 2, static_cast<uint16_t>(v >> 16));
}
inline void put64(uint8_t* p, uint64_t v) {
  put32(p, static_cast<uint32_t>(v));
  put32(p + 4, static_cast<uint32_t>(v >> 32));
}

// True when [off, off+len) lies inside a buffer of `size` bytes; written in
// the subtraction form so that no sum can overflow.
constexpr bool InBounds(uint64_t off, uint64_t len, uint64_t size) {
  return off <= size && len <= size - off;
}

// A read-only view of bytes with checked field reads. Reads outside the view
// return 0 and clear ok(), so a parser can read a batch of fields and check
// once.
class ByteView {
 public:
  ByteView() = default;
  ByteView(const uint8_t* data, size_t size) : data_(data), size_(data ? size : 0) {}

  const uint8_t* data() const { return data_; }
  size_t size() const { return size_; }
  bool ok() const { return ok_; }
  bool Has(size_t off, size_t len) const { return InBounds(off, len, size_); }

  uint8_t u8(size_t off) const { return Has(off, 1) ? data_[off] : Fail(); }
  uint16_t u16(size_t off) const { return Has(off, 2) ? le16(data_ + off) : Fail(); }
  uint32_t u32(size_t off) const { return Has(off, 4) ? le32(data_ + off) : Fail(); }
  uint64_t u64(size_t off) const { return Has(off, 8) ? le64(data_ + off) : Fail(); }
  int8_t s8(size_t off) const { return static_cast<int8_t>(u8(off)); }

  // A sub-view; an out-of-range request gives an empty view and clears ok().
  ByteView Sub(size_t off, size_t len) const {
    if (!Has(off, len)) {
      Fail();
      return ByteView();
    }
    return ByteView(data_ + off, len);
  }
  // The rest of the view from `off` (empty when off is past the end).
  ByteView From(size_t off) const {
    return off <= size_ ? ByteView(data_ + off, size_ - off) : ByteView();
  }
  bool Equals(size_t off, const void* bytes, size_t len) const {
    return Has(off, len) && std::memcmp(data_ + off, bytes, len) == 0;
  }

 private:
  uint8_t Fail() const {
    ok_ = false;
    return 0;
  }
  const uint8_t* data_ = nullptr;
  size_t size_ = 0;
  mutable bool ok_ = true;
};

}  // namespace kestrel
