#include "kernel/ntfs/DataRun.h"

namespace kestrel::ntfs {

bool DecodeDataRuns(ByteView runs, uint64_t vcnSpan, std::vector<tagDataRun_Entry>& out) {
  out.clear();
  size_t pos = 0;
  uint64_t vcn = 0;
  int64_t previousLcn = 0;
  auto fail = [&] {
    out.clear();
    return false;
  };
  if (!runs.Has(0, 1)) return fail();
  while (true) {
    uint8_t head = runs.u8(pos);
    if (head == 0) return true;
    unsigned lengthBytes = head & 0x0F;
    unsigned offsetBytes = head >> 4;
    if (lengthBytes > 8 || offsetBytes > 8) return true;
    if (!runs.Has(pos + 1, lengthBytes + offsetBytes)) return fail();
    const uint8_t* p = runs.data() + pos + 1;
    uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) length |= uint64_t{p[i]} << (8 * i);
    if (static_cast<int64_t>(length) < 0 || length == 0) return fail();
    uint64_t offset = 0;
    if (offsetBytes > 0) {
      // Sign-extend from the top bit of the last offset byte.
      if (p[lengthBytes + offsetBytes - 1] & 0x80) offset = ~uint64_t{0};
      for (unsigned i = 0; i < offsetBytes; ++i) {
        offset &= ~(uint64_t{0xFF} << (8 * i));
        offset |= uint64_t{p[lengthBytes + i]} << (8 * i);
      }
    }
    int64_t lcn;
    if (__builtin_add_overflow(previousLcn, static_cast<int64_t>(offset), &lcn) || lcn < 0)
      return fail();
    tagDataRun_Entry run;
    run.lcn = offset == 0 ? -1 : lcn;
    run.runLength = length;
    run.vcnFirst = vcn;
    if (__builtin_add_overflow(vcn, length - 1, &run.vcnLast) || run.vcnLast > vcnSpan)
      return fail();
    out.push_back(run);
    pos += 1 + lengthBytes + offsetBytes;
    if (!runs.Has(pos, 1)) return fail();
    if (runs.u8(pos) == 0) return true;
    vcn = run.vcnLast + 1;
    if (offset != 0) previousLcn = lcn;
  }
}

}  // namespace kestrel::ntfs
