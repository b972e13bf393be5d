// The found items of the last scan, in creation order.
//
// Items are kept compactly (paths packed one after another in large blocks,
// each as long as it is, not 1024 units) and expanded to the fixed
// 2072-byte DelItem only when a caller copies one out. Storage grows by
// whole blocks, so nothing already stored is ever moved or copied again. An id index, built on the first look-up by id
// rather than during the scan, answers SH_GetDelItemFromID in constant time
// while keeping the rule that the first item created with an id wins.
#pragma once

#include <cstdint>
#include <memory>
#include <atomic>
#include <mutex>
#include <string>
#include <string_view>
#include <unordered_map>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/engine/ItemDetails.h"

namespace kestrel {

// Longest path a DelItem holds, without its terminator.
constexpr size_t kMaxItemPath = 1023;

class DelItemRegistry {
 public:
  // Appends an item; the path is cut to kMaxItemPath units. Returns false
  // when memory ran out (the item is then skipped).
  bool Append(std::u16string_view path, uint32_t idLow, uint32_t idHigh, uint64_t size,
              uint64_t modified, const ItemDetails& details = {});
  size_t Count() const { return count_; }
  bool CopyOut(size_t index, DelItem* out) const;
  bool FindById(uint32_t idLow, uint32_t idHigh, DelItem* out) const;
  // The details of the first item with this id.
  bool FindDetails(uint64_t id, ItemDetails& out) const;
  bool DetailsAt(size_t index, ItemDetails& out) const;
  void Clear();

 private:
  struct Item {
    const char16_t* path;  // inside a path block
    uint32_t pathLength;
    uint64_t id;
    uint64_t size;
    uint64_t modified;
    ItemDetails details;
  };
  static constexpr size_t kItemsPerBlock = 4096;
  static constexpr size_t kPathBlockUnits = 32768;  // holds at least 32 longest paths

  const Item& At(size_t index) const { return itemBlocks_[index / kItemsPerBlock][index % kItemsPerBlock]; }
  void Fill(const Item& item, DelItem* out) const;
  bool FindIndex(uint64_t id, size_t& index) const;

  std::vector<std::unique_ptr<Item[]>> itemBlocks_;
  size_t count_ = 0;
  std::vector<std::unique_ptr<char16_t[]>> pathBlocks_;
  size_t pathBlockUsed_ = 0;  // units taken in the last block
  // Covers items [0, indexed_); look-ups extend it first. Look-ups may
  // come from two threads (a recovery thread and the window's).
  mutable std::mutex indexLock_;
  mutable std::unordered_map<uint64_t, size_t> firstById_;
  mutable size_t indexed_ = 0;
  // While every id is larger than the one before (an MFT walk), a look-up
  // is a binary search and the map is never built.
  bool ascending_ = true;
  // After the last look-up: callers walk in order. Read without the lock.
  mutable std::atomic<size_t> nextGuess_{0};
};

// The registry behind the exports.
DelItemRegistry& TheRegistry();

}  // namespace kestrel
