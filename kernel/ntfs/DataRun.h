// Data-run lists of non-resident attributes.
//
// Each run: a header byte (low nibble L = bytes of length, high nibble F =
// bytes of offset), L bytes of unsigned length, F bytes of signed offset
// relative to the previous run's start cluster; F = 0 (or offset 0) marks a
// sparse run. A zero header byte ends the list.
#pragma once

#include <cstdint>
#include <vector>

#include "kernel/Bytes.h"

namespace kestrel::ntfs {

struct tagDataRun_Entry {
  int64_t lcn = -1;        // starting logical cluster; -1 for a sparse run
  uint64_t runLength = 0;  // clusters
  uint64_t vcnFirst = 0;   // counted from 0 at the start of this run list
  uint64_t vcnLast = 0;    // inclusive
};

// Decodes a run list. `vcnSpan` is header last VCN - header first VCN: no
// run may end beyond it. A length or offset field wider than 8 bytes ends
// decoding with the runs so far (success); a negative length, a negative
// LCN, a run past the span or a list running off the end of `runs` fails
// and leaves `out` empty.
bool DecodeDataRuns(ByteView runs, uint64_t vcnSpan, std::vector<tagDataRun_Entry>& out);

}  // namespace kestrel::ntfs
