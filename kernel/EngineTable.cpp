// The file-system engines, asked in this order. A new engine is one line.
#include "kernel/engine/Engine.h"

namespace kestrel {

const std::vector<EngineEntry>& EngineTable() {
  static const std::vector<EngineEntry> table = {};
  return table;
}

}  // namespace kestrel
