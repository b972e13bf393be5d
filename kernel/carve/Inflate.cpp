#include "kernel/carve/Inflate.h"

#include <zlib.h>

#include <algorithm>
#include <memory>

#include "kernel/StopFlag.h"
#include "kernel/carve/Crc32.h"

namespace kestrel::carve {

namespace {

constexpr size_t kInputStep = 1u << 16;
constexpr size_t kOutputBytes = 1u << 16;

// A raw inflater that ends itself.
class Inflater {
 public:
  Inflater() { ready_ = inflateInit2(&z_, -MAX_WBITS) == Z_OK; }
  ~Inflater() {
    if (ready_) inflateEnd(&z_);
  }
  Inflater(const Inflater&) = delete;
  Inflater& operator=(const Inflater&) = delete;

  bool ready() const { return ready_; }
  z_stream& z() { return z_; }

 private:
  z_stream z_{};
  bool ready_ = false;
};

}  // namespace

InflateCheck CheckDeflated(Stream& s, uint64_t offset, uint64_t packed, uint64_t size, uint32_t crc) {
  Inflater inflater;
  if (!inflater.ready()) return InflateCheck::Unreadable;
  z_stream& z = inflater.z();
  const auto out = std::make_unique_for_overwrite<uint8_t[]>(kOutputBytes);
  uint64_t consumed = 0, produced = 0;
  uint32_t sum = 0;
  for (;;) {
    if (z.avail_in == 0) {
      if (consumed == packed) return InflateCheck::Differs;  // needs more than its size
      size_t got = 0;
      const uint8_t* p =
          s.GetSome(offset + consumed, static_cast<size_t>(std::min<uint64_t>(packed - consumed, kInputStep)), got);
      if (!p) return InflateCheck::Unreadable;
      z.next_in = const_cast<Bytef*>(p);
      z.avail_in = static_cast<uInt>(got);
      consumed += got;
    }
    if (StopRequested()) return InflateCheck::Unreadable;
    z.next_out = out.get();
    z.avail_out = static_cast<uInt>(kOutputBytes);
    const int status = inflate(&z, Z_NO_FLUSH);
    const size_t made = kOutputBytes - z.avail_out;
    produced += made;
    if (produced > size) return InflateCheck::Differs;
    sum = Crc32(sum, out.get(), made);
    if (status == Z_STREAM_END) {
      const bool whole = consumed - z.avail_in == packed;
      return whole && produced == size && sum == crc ? InflateCheck::Matches : InflateCheck::Differs;
    }
    // Z_BUF_ERROR only asks for more input: any other stop is bad data.
    const bool wantsInput = status == Z_BUF_ERROR && z.avail_in == 0;
    if (status != Z_OK && !wantsInput) return InflateCheck::Differs;
  }
}

}  // namespace kestrel::carve
