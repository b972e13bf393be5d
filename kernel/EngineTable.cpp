// The file-system engines, asked in this order. A new engine is one line.
#include "kernel/engine/Engine.h"
#include "kernel/carve/CarveEngine.h"
#include "kernel/exfat/ExfatEngine.h"
#include "kernel/fat/FatEngine.h"
#include "kernel/formatted/FormattedEngine.h"
#include "kernel/ntfs/NtfsEngine.h"

namespace kestrel {

const std::vector<EngineEntry>& EngineTable() {
  static const std::vector<EngineEntry> table = {
      {"NTFS", ntfs::Probe, ntfs::Open},
      {"FAT", fat::Probe, fat::Open},
      {"exFAT", exfat::Probe, exfat::Open},
  };
  return table;
}

const std::vector<ModeEntry>& ModeTable() {
  static const std::vector<ModeEntry> table = {
      {KX_MODE_DEEP, carve::Open},
      {KX_MODE_FORMATTED, formatted::Open},
  };
  return table;
}

ProbeResult ProbeLead(ByteView lead, const EngineEntry** which) {
  if (which) *which = nullptr;
  ProbeResult best;
  for (const EngineEntry& engine : EngineTable()) {
    ProbeResult r = engine.probe(lead);
    if (!r.Matches()) continue;
    if (which) *which = &engine;
    return r;
  }
  return best;
}

}  // namespace kestrel
