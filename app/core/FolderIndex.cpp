#include "app/core/FolderIndex.h"

#include "app/core/FolderPaths.h"
#include "app/core/SplitStr.h"

namespace restorix {

void FolderIndex::Clear() {
  m_items.clear();
  m_folders.clear();
}

void FolderIndex::Add(const std::wstring& itemPath, ItemId id) {
  std::wstring folder = RemoveFileSpec(itemPath);
  m_folders.insert(folder);
  // Equal keys go after the ones already there: index order is kept.
  m_items.emplace(std::move(folder), id);
}

std::vector<ItemId> FolderIndex::ItemsIn(const std::wstring& folder) const {
  std::vector<ItemId> out;
  auto range = m_items.equal_range(folder);
  for (auto it = range.first; it != range.second; ++it) out.push_back(it->second);
  return out;
}

std::vector<ItemId> FolderIndex::ItemsInNode(const std::wstring& folder) const {
  std::vector<ItemId> out;
  for (const std::wstring& key : m_folders) {
    if (!SameNameIgnoringCase(key, folder)) continue;
    std::vector<ItemId> some = ItemsIn(key);
    out.insert(out.end(), some.begin(), some.end());
  }
  return out;
}

wchar_t FoldToUpper(wchar_t c) {
  if (c >= L'a' && c <= L'z') return static_cast<wchar_t>(c - 0x20);
  if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<wchar_t>(c - 0x20);  // Latin-1
  if (c >= 0x3B1 && c <= 0x3C9 && c != 0x3C2) return static_cast<wchar_t>(c - 0x20);  // Greek
  if (c >= 0x430 && c <= 0x44F) return static_cast<wchar_t>(c - 0x20);  // Cyrillic
  if (c >= 0x450 && c <= 0x45F) return static_cast<wchar_t>(c - 0x50);
  return c;
}

bool SameNameIgnoringCase(const std::wstring& a, const std::wstring& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i)
    if (FoldToUpper(a[i]) != FoldToUpper(b[i])) return false;
  return true;
}

TextTree::Node MergeFolderIntoTree(TextTree& tree, const std::wstring& folder) {
  CSplitStr split;
  split.SetSeparator(L"\\");
  split.SetText(folder);
  std::vector<std::wstring> parts;
  split.Split(parts);

  TextTree::Node current = 0;
  for (const std::wstring& part : parts) {
    TextTree::Node found = 0;
    for (TextTree::Node n = tree.FirstChild(current); n != 0; n = tree.NextSibling(n)) {
      if (SameNameIgnoringCase(tree.Text(n), part)) {
        found = n;
        break;
      }
    }
    if (found == 0) {
      found = tree.InsertChild(current, part);
      if (found == 0) return 0;  // the control is out of room: stop here
    }
    current = found;
  }
  return current;
}

}  // namespace restorix
