// The found items of the last scan, in creation order.
//
// Items are kept compactly (the path as long as it is, not 1024 units) and
// expanded to the fixed 2072-byte DelItem only when a caller copies one out.
// An id index answers SH_GetDelItemFromID in constant time while keeping
// the rule that the first item created with an id wins.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kernel/Kestrel.h"

namespace kestrel {

// Longest path a DelItem holds, without its terminator.
constexpr size_t kMaxItemPath = 1023;

class DelItemRegistry {
 public:
  // Appends an item; the path is cut to kMaxItemPath units. Returns false
  // when memory ran out (the item is then skipped).
  bool Append(std::u16string_view path, uint32_t idLow, uint32_t idHigh, uint64_t size,
              uint64_t modified);
  size_t Count() const { return items_.size(); }
  bool CopyOut(size_t index, DelItem* out) const;
  bool FindById(uint32_t idLow, uint32_t idHigh, DelItem* out) const;
  void Clear();

 private:
  struct Item {
    std::u16string path;
    uint64_t id;
    uint64_t size;
    uint64_t modified;
  };
  static void Fill(const Item& item, DelItem* out);

  std::vector<Item> items_;
  std::unordered_map<uint64_t, size_t> firstById_;
};

// The registry behind the exports.
DelItemRegistry& TheRegistry();

}  // namespace kestrel
