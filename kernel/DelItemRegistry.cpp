#include "kernel/DelItemRegistry.h"

#include <cstring>
#include <new>

namespace kestrel {

bool DelItemRegistry::Append(std::u16string_view path, uint32_t idLow, uint32_t idHigh,
                             uint64_t size, uint64_t modified) {
  path = path.substr(0, kMaxItemPath);
  const size_t oldPaths = paths_.size();
  try {
    paths_.insert(paths_.end(), path.begin(), path.end());
    Item item;
    item.pathStart = oldPaths;
    item.pathLength = static_cast<uint32_t>(path.size());
    item.id = (uint64_t{idHigh} << 32) | idLow;
    item.size = size;
    item.modified = modified;
    items_.push_back(item);
    return true;
  } catch (const std::bad_alloc&) {
    paths_.resize(oldPaths);
    return false;
  }
}

void DelItemRegistry::Fill(const Item& item, DelItem* out) const {
  std::memset(out->path, 0, sizeof out->path);
  std::memcpy(out->path, paths_.data() + item.pathStart, item.pathLength * sizeof(char16_t));
  out->idLow = static_cast<uint32_t>(item.id);
  out->idHigh = static_cast<uint32_t>(item.id >> 32);
  out->size = item.size;
  out->modified = item.modified;
}

bool DelItemRegistry::CopyOut(size_t index, DelItem* out) const {
  if (!out || index >= items_.size()) return false;
  Fill(items_[index], out);
  return true;
}

bool DelItemRegistry::FindById(uint32_t idLow, uint32_t idHigh, DelItem* out) const {
  if (!out) return false;
  std::lock_guard<std::mutex> hold(indexLock_);
  try {
    for (; indexed_ < items_.size(); ++indexed_) firstById_.emplace(items_[indexed_].id, indexed_);
  } catch (const std::bad_alloc&) {
    // Without the index the first match is still found, only slower.
    for (size_t i = 0; i < items_.size(); ++i) {
      if (items_[i].id == ((uint64_t{idHigh} << 32) | idLow)) {
        Fill(items_[i], out);
        return true;
      }
    }
    return false;
  }
  auto it = firstById_.find((uint64_t{idHigh} << 32) | idLow);
  if (it == firstById_.end()) return false;
  Fill(items_[it->second], out);
  return true;
}

void DelItemRegistry::Clear() {
  std::lock_guard<std::mutex> hold(indexLock_);
  std::vector<Item>().swap(items_);
  std::vector<char16_t>().swap(paths_);
  std::unordered_map<uint64_t, size_t>().swap(firstById_);
  indexed_ = 0;
}

DelItemRegistry& TheRegistry() {
  static DelItemRegistry registry;
  return registry;
}

}  // namespace kestrel
