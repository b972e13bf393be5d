#include "kernel/DelItemRegistry.h"

#include <cstring>
#include <new>

namespace kestrel {

bool DelItemRegistry::Append(std::u16string_view path, uint32_t idLow, uint32_t idHigh,
                             uint64_t size, uint64_t modified) {
  try {
    Item item;
    item.path.assign(path.substr(0, kMaxItemPath));
    item.id = (uint64_t{idHigh} << 32) | idLow;
    item.size = size;
    item.modified = modified;
    items_.push_back(std::move(item));
    firstById_.emplace(items_.back().id, items_.size() - 1);  // keeps the first
    return true;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void DelItemRegistry::Fill(const Item& item, DelItem* out) {
  std::memset(out->path, 0, sizeof out->path);
  std::memcpy(out->path, item.path.data(), item.path.size() * sizeof(char16_t));
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
  auto it = firstById_.find((uint64_t{idHigh} << 32) | idLow);
  if (it == firstById_.end()) return false;
  Fill(items_[it->second], out);
  return true;
}

void DelItemRegistry::Clear() {
  std::vector<Item>().swap(items_);
  std::unordered_map<uint64_t, size_t>().swap(firstById_);
}

DelItemRegistry& TheRegistry() {
  static DelItemRegistry registry;
  return registry;
}

}  // namespace kestrel
