#include "kernel/DelItemRegistry.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace kestrel {

bool DelItemRegistry::Append(std::u16string_view path, uint32_t idLow, uint32_t idHigh,
                             uint64_t size, uint64_t modified, const ItemDetails& details) {
  path = path.substr(0, kMaxItemPath);
  try {
    // Room first, so that a failure leaves everything as it was.
    if (count_ == itemBlocks_.size() * kItemsPerBlock) {
      itemBlocks_.reserve(itemBlocks_.size() + 1);
      itemBlocks_.emplace_back(new Item[kItemsPerBlock]);
    }
    if (pathBlocks_.empty() || pathBlockUsed_ + path.size() > kPathBlockUnits) {
      pathBlocks_.reserve(pathBlocks_.size() + 1);
      pathBlocks_.emplace_back(new char16_t[kPathBlockUnits]);
      pathBlockUsed_ = 0;
    }
  } catch (const std::bad_alloc&) {
    return false;
  }
  char16_t* at = pathBlocks_.back().get() + pathBlockUsed_;
  std::copy(path.begin(), path.end(), at);
  pathBlockUsed_ += path.size();
  Item& item = itemBlocks_[count_ / kItemsPerBlock][count_ % kItemsPerBlock];
  item.path = at;
  item.pathLength = static_cast<uint32_t>(path.size());
  item.id = (uint64_t{idHigh} << 32) | idLow;
  if (count_ > 0 && item.id <= At(count_ - 1).id) ascending_ = false;
  item.size = size;
  item.modified = modified;
  item.details = details;
  ++count_;
  return true;
}

void DelItemRegistry::Fill(const Item& item, DelItem* out) const {
  std::memcpy(out->path, item.path, item.pathLength * sizeof(char16_t));
  std::memset(out->path + item.pathLength, 0,
              sizeof out->path - item.pathLength * sizeof(char16_t));
  out->idLow = static_cast<uint32_t>(item.id);
  out->idHigh = static_cast<uint32_t>(item.id >> 32);
  out->size = item.size;
  out->modified = item.modified;
}

bool DelItemRegistry::CopyOut(size_t index, DelItem* out) const {
  if (!out || index >= count_) return false;
  Fill(At(index), out);
  return true;
}

bool DelItemRegistry::FindIndex(uint64_t id, size_t& index) const {
  if (ascending_) {
    // Ids are unique while they ascend, so a hit is the only match.
    const size_t guess = nextGuess_.load(std::memory_order_relaxed);
    if (guess < count_ && At(guess).id == id) {
      index = guess;
      nextGuess_.store(guess + 1, std::memory_order_relaxed);
      return true;
    }
  }
  std::lock_guard<std::mutex> hold(indexLock_);
  if (ascending_) {
    size_t low = 0, high = count_;
    while (low < high) {
      const size_t middle = low + (high - low) / 2;
      if (At(middle).id < id)
        low = middle + 1;
      else
        high = middle;
    }
    if (low == count_ || At(low).id != id) return false;
    index = low;
    nextGuess_.store(low + 1, std::memory_order_relaxed);
    return true;
  }
  try {
    for (; indexed_ < count_; ++indexed_) firstById_.emplace(At(indexed_).id, indexed_);
  } catch (const std::bad_alloc&) {
    // Without the index the first match is still found, only slower.
    for (size_t i = 0; i < count_; ++i) {
      if (At(i).id == id) {
        index = i;
        return true;
      }
    }
    return false;
  }
  auto it = firstById_.find(id);
  if (it == firstById_.end()) return false;
  index = it->second;
  return true;
}

bool DelItemRegistry::FindById(uint32_t idLow, uint32_t idHigh, DelItem* out) const {
  size_t index = 0;
  if (!out || !FindIndex((uint64_t{idHigh} << 32) | idLow, index)) return false;
  Fill(At(index), out);
  return true;
}

bool DelItemRegistry::FindDetails(uint64_t id, ItemDetails& out) const {
  size_t index = 0;
  if (!FindIndex(id, index)) return false;
  out = At(index).details;
  return true;
}

bool DelItemRegistry::DetailsAt(size_t index, ItemDetails& out) const {
  if (index >= count_) return false;
  out = At(index).details;
  return true;
}

void DelItemRegistry::Clear() {
  std::lock_guard<std::mutex> hold(indexLock_);
  std::vector<std::unique_ptr<Item[]>>().swap(itemBlocks_);
  count_ = 0;
  std::vector<std::unique_ptr<char16_t[]>>().swap(pathBlocks_);
  pathBlockUsed_ = 0;
  std::unordered_map<uint64_t, size_t>().swap(firstById_);
  indexed_ = 0;
  ascending_ = true;
  nextGuess_.store(0, std::memory_order_relaxed);
}

DelItemRegistry& TheRegistry() {
  static DelItemRegistry registry;
  return registry;
}

}  // namespace kestrel
