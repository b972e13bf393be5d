// The deleted-entry walk: from a folder of the tree, every entry of every
// directory below it, depth first.
//
// What enters the tree: live folders; deleted folders whose first cluster
// still starts with "." and ".."; files (attributes exactly 0x01, 0x02, 0x04
// or 0x20) that are deleted or lie in a folder whose parent chain (from the
// folder's parent up) holds a deleted folder. A folder is not entered when
// its cluster is not a data cluster, when it is the first cluster of one of
// its ancestors (a cycle), or when its path would pass the item-path limit;
// a file is not listed when its path would pass that limit.
#pragma once

#include <cstddef>
#include <cstdint>

namespace kestrel::fat {

// Display names are built in buffers of this many units.
constexpr size_t kNameCapacity = 1024;
// Long names are assembled backwards into a 256-unit buffer from this
// position, 13 units per entry, at most 18 entries.
constexpr int kLongNameEnd = 234;
constexpr int kMaxLongNameEntries = 18;

}  // namespace kestrel::fat
