// The file-system engines, asked in this order. A new engine is one line.
#include "kernel/engine/Engine.h"
#include "kernel/ntfs/NtfsEngine.h"

namespace kestrel {

const std::vector<EngineEntry>& EngineTable() {
  static const std::vector<EngineEntry> table = {
      {"NTFS", ntfs::Probe, ntfs::Open},
  };
  return table;
}

}  // namespace kestrel
