// CSList: the engine's owning list with a cursor for First()/Next() walks.
//
// Items are owned through unique_ptr; clearing (or destroying the list)
// deletes every item. Attributes, index entries and extension records all
// live in lists of this kind.
#pragma once

#include <cstddef>
#include <memory>
#include <utility>
#include <vector>

namespace kestrel::ntfs {

template <typename T>
class CSList {
 public:
  CSList() = default;
  CSList(const CSList&) = delete;
  CSList& operator=(const CSList&) = delete;
  virtual ~CSList() { Clear(); }

  void Append(std::unique_ptr<T> item) {
    if (item) items_.push_back(std::move(item));
  }
  // Sets the cursor to the head; null when the list is empty.
  T* First() {
    cursor_ = 0;
    return cursor_ < items_.size() ? items_[cursor_].get() : nullptr;
  }
  // Advances the cursor; null past the end.
  T* Next() {
    if (cursor_ < items_.size()) ++cursor_;
    return cursor_ < items_.size() ? items_[cursor_].get() : nullptr;
  }
  T* At(size_t index) const { return index < items_.size() ? items_[index].get() : nullptr; }
  size_t Count() const { return items_.size(); }
  void Clear() {
    items_.clear();
    cursor_ = 0;
  }
  // Gives up ownership of every item, leaving the list empty.
  std::vector<std::unique_ptr<T>> TakeAll() {
    std::vector<std::unique_ptr<T>> out = std::move(items_);
    Clear();
    return out;
  }

 private:
  std::vector<std::unique_ptr<T>> items_;
  size_t cursor_ = 0;
};

}  // namespace kestrel::ntfs
