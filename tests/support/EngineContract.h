// The checks every file-system engine must pass on a real image, run once
// per engine through the engine interface alone: its probe takes the boot
// sector, it opens, the facts agree with the probe, the scan finds exactly
// the deleted files (paths, sizes, times, unique ids, a running count per
// file, progress to the end), and every recovery agrees with the state the
// scan gave: an intact file comes back byte for byte.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/engine/Engine.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {

// What the image builder knows of a file beyond the manifest: the state
// the scan must report and whether its recovered bytes are the original.
struct ExpectedOutcome {
  uint8_t state = KX_STATE_UNKNOWN;
  bool sameBytes = true;
};

// NAME.expect beside the manifest: path <TAB> intact|partly|overwritten
// <TAB> same|differ. Empty when there is none.
std::map<std::string, ExpectedOutcome> ReadExpectations(const std::string& name);

// One found item as the contract saw it.
struct ContractItem {
  std::string path;  // inside the volume, "/" between folders, UTF-8
  DelItem item{};
  ItemDetails details;
  RecoverResult recovered;
  std::string sha256;  // of what was written; empty when nothing was
};

// The engine named `engineName` in EngineTable().
const EngineEntry* FindEngine(const std::string& engineName);

// Runs the contract on `image` (mapped to a spare letter) and checks the
// scan against `expected`; items without an entry in `outcomes` must come
// back whole when they are reported intact. `fsKind` is the probe's
// KESTREL_FS_* value. Returns what it found, in scan order.
std::vector<ContractItem> CheckEngineContract(
    const EngineEntry& engine, const std::filesystem::path& image, uint8_t fsKind,
    const std::vector<ManifestEntry>& expected,
    const std::map<std::string, ExpectedOutcome>& outcomes = {});

}  // namespace kestrel::test
