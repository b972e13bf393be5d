#include "kernel/formatted/OldTree.h"

#include <algorithm>

namespace kestrel::formatted {
namespace {
// Deeper chains than a 1023-unit path can hold are loops or damage.
constexpr size_t kMaxDepth = 512;
}  // namespace

void OldTree::AddFolder(uint64_t key, uint64_t parent, std::u16string safeName) {
  if (key == root_) return;
  folders_.try_emplace(key, Folder{parent, std::move(safeName), false, {}});
}

const std::u16string& OldTree::FolderPath(uint64_t key) {
  if (key == root_) return rootPath_;
  auto found = folders_.find(key);
  if (found == folders_.end()) return lostPath_;
  if (found->second.resolved) return found->second.path;

  // Walk up to the root, a folder already resolved, a folder not found, or
  // a folder seen on this walk (a loop).
  std::vector<Folder*> chain;
  std::vector<uint64_t> keys;
  const std::u16string* top = nullptr;
  uint64_t at = key;
  while (true) {
    if (at == root_) {
      top = &rootPath_;
      break;
    }
    auto it = folders_.find(at);
    if (it == folders_.end() || chain.size() >= kMaxDepth ||
        std::find(keys.begin(), keys.end(), at) != keys.end()) {
      top = &lostPath_;
      break;
    }
    if (it->second.resolved) {
      top = &it->second.path;
      break;
    }
    chain.push_back(&it->second);
    keys.push_back(at);
    at = it->second.parent;
  }
  // Resolve from the top down; each folder's path is its parent's plus its name.
  std::u16string path = *top;
  for (size_t i = chain.size(); i-- > 0;) {
    path += u'\\';
    path += chain[i]->name;
    chain[i]->path = path;
    chain[i]->resolved = true;
  }
  return found->second.path;
}

}  // namespace kestrel::formatted
