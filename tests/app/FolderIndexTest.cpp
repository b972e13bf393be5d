// Folder indexing of found items and the case-insensitive tree merge.
#include <gtest/gtest.h>

#include <memory>

#include "app/core/FolderIndex.h"
#include "app/core/ItemFormat.h"
#include "kernel/Kestrel.h"

using namespace restorix;

namespace {
// A tree-view stand-in: nodes in insertion order under each parent.
class FakeTree : public TextTree {
 public:
  struct N {
    std::wstring text;
    Node parent;
    std::vector<Node> children;
  };
  std::vector<N> nodes{N{L"<top>", 0, {}}};  // node 0 is the top level
  size_t limit = 1000;

  Node FirstChild(Node parent) override {
    return nodes[parent].children.empty() ? 0 : nodes[parent].children.front();
  }
  Node NextSibling(Node node) override {
    const auto& sib = nodes[nodes[node].parent].children;
    for (size_t i = 0; i + 1 < sib.size(); ++i)
      if (sib[i] == node) return sib[i + 1];
    return 0;
  }
  std::wstring Text(Node node) override { return nodes[node].text; }
  Node InsertChild(Node parent, const std::wstring& text) override {
    if (nodes.size() > limit) return 0;
    nodes.push_back(N{text, parent, {}});
    nodes[parent].children.push_back(nodes.size() - 1);
    return nodes.size() - 1;
  }
  std::vector<std::wstring> ChildTexts(Node parent) {
    std::vector<std::wstring> out;
    for (Node c : nodes[parent].children) out.push_back(nodes[c].text);
    return out;
  }
  Node Child(Node parent, const std::wstring& text) {
    for (Node c : nodes[parent].children)
      if (nodes[c].text == text) return c;
    return 0;
  }
};

void BuildTree(FakeTree& tree, const FolderIndex& index) {
  for (const std::wstring& folder : index.Folders()) MergeFolderIntoTree(tree, folder);
}
}  // namespace

TEST(FolderIndex, FilesItemsUnderTheirFolderInIndexOrder) {
  FolderIndex index;
  index.Add(L"C:\\Deleted\\docs\\a.txt", {7, 0});
  index.Add(L"C:\\Deleted\\b.txt", {3, 0});
  index.Add(L"C:\\Deleted\\docs\\c.txt", {2, 1});
  index.Add(L"C:\\Deleted\\docs\\a.txt", {9, 0});  // same path twice: both kept
  EXPECT_EQ(index.ItemCount(), 4u);
  EXPECT_EQ(index.Folders(), (std::set<std::wstring>{L"C:\\Deleted", L"C:\\Deleted\\docs"}));
  EXPECT_EQ(index.ItemsIn(L"C:\\Deleted\\docs"), (std::vector<ItemId>{{7, 0}, {2, 1}, {9, 0}}));
  EXPECT_EQ(index.ItemsIn(L"C:\\Deleted"), (std::vector<ItemId>{{3, 0}}));
  // Only items directly in the folder; keys compare exactly.
  EXPECT_TRUE(index.ItemsIn(L"C:\\deleted\\docs").empty());
  EXPECT_TRUE(index.ItemsIn(L"C:").empty());
  index.Clear();
  EXPECT_EQ(index.ItemCount(), 0u);
  EXPECT_TRUE(index.Folders().empty());
}

TEST(FolderIndex, FoldersDifferingInCaseShareOneNode) {
  FolderIndex index;
  index.Add(L"C:\\Deleted\\a\\x.txt", {1, 0});
  index.Add(L"C:\\Deleted\\A\\y.txt", {2, 0});
  ASSERT_EQ(index.Folders().size(), 2u);  // two keys ...
  EXPECT_EQ(index.ItemsIn(L"C:\\Deleted\\A"), (std::vector<ItemId>{{2, 0}}));

  FakeTree tree;
  BuildTree(tree, index);
  ASSERT_EQ(tree.ChildTexts(0), (std::vector<std::wstring>{L"C:"}));
  auto deleted = tree.Child(tree.Child(0, L"C:"), L"Deleted");
  ASSERT_NE(deleted, 0u);
  // ... one node, named after the key that sorts first ("A" < "a").
  EXPECT_EQ(tree.ChildTexts(deleted), (std::vector<std::wstring>{L"A"}));
  // The node's list and its recovery take the files of both spellings.
  EXPECT_EQ(index.ItemsInNode(L"C:\\Deleted\\A"), (std::vector<ItemId>{{2, 0}, {1, 0}}));
  EXPECT_EQ(index.ItemsInNode(L"c:\\deleted\\a"), (std::vector<ItemId>{{2, 0}, {1, 0}}));
  EXPECT_TRUE(index.ItemsInNode(L"C:\\Deleted\\B").empty());
}

TEST(FolderIndex, TreeHangsUnderAnExistingRootAndCreatesPrefixes) {
  FakeTree tree;
  tree.InsertChild(0, L"D:");  // the results page's root item
  FolderIndex index;
  index.Add(L"D:\\Deleted\\Users\\bob\\Documents\\r.doc", {1, 0});
  index.Add(L"D:\\Deleted\\users\\BOB\\pictures\\p.jpg", {2, 0});
  index.Add(L"D:\\Deleted\\Program Files\\x.dll", {3, 0});
  index.Add(L"D:\\Deleted\\top.txt", {4, 0});
  BuildTree(tree, index);

  ASSERT_EQ(tree.ChildTexts(0), (std::vector<std::wstring>{L"D:"}));
  auto d = tree.Child(0, L"D:");
  ASSERT_EQ(tree.ChildTexts(d), (std::vector<std::wstring>{L"Deleted"}));
  auto del = tree.Child(d, L"Deleted");
  EXPECT_EQ(tree.ChildTexts(del), (std::vector<std::wstring>{L"Program Files", L"Users"}));
  auto bob = tree.Child(tree.Child(del, L"Users"), L"bob");
  ASSERT_NE(bob, 0u);
  EXPECT_EQ(tree.ChildTexts(bob), (std::vector<std::wstring>{L"Documents", L"pictures"}));
  EXPECT_EQ(tree.nodes.size(), 1u + 7u);  // top + D:, Deleted, Program Files, Users, bob, Documents, pictures
}

TEST(FolderIndex, MergeReturnsTheFolderNodeAndStopsWhenTheTreeIsFull) {
  FakeTree tree;
  auto n1 = MergeFolderIntoTree(tree, L"E:\\Deleted\\x");
  auto n2 = MergeFolderIntoTree(tree, L"e:\\DELETED\\X");
  EXPECT_NE(n1, 0u);
  EXPECT_EQ(n1, n2);
  EXPECT_EQ(tree.Text(n1), L"x");
  FakeTree full;
  full.limit = 1;
  EXPECT_EQ(MergeFolderIntoTree(full, L"E:\\a\\b\\c"), 0u);
  EXPECT_EQ(full.nodes.size(), 2u);
}

TEST(FolderIndex, CaseFoldingCoversAccentedAndCyrillicLetters) {
  EXPECT_TRUE(SameNameIgnoringCase(L"Fotos", L"FOTOS"));
  EXPECT_TRUE(SameNameIgnoringCase(L"\u00e9t\u00e9", L"\u00c9T\u00c9"));
  EXPECT_TRUE(SameNameIgnoringCase(L"\u0444\u043e\u0442\u043e", L"\u0424\u041e\u0422\u041e"));
  EXPECT_TRUE(SameNameIgnoringCase(L"\u6587\u6863", L"\u6587\u6863"));
  EXPECT_FALSE(SameNameIgnoringCase(L"a", L"b"));
  EXPECT_FALSE(SameNameIgnoringCase(L"ab", L"a"));
  EXPECT_FALSE(SameNameIgnoringCase(L"\u00f7", L"\u00d7"));  // division and multiplication signs
}

TEST(ItemFormat, SizeAndTimeColumns) {
  EXPECT_EQ(FormatItemSize(5000000000ull), L"5000000000");
  EXPECT_EQ(FormatItemSize(0), L"0");
  EXPECT_EQ(FormatItemSize(0xFFFFFFFFFFFFFFFFull), L"18446744073709551615");

  // 2011-03-04 05:06:07 as a FILETIME.
  const uint64_t t = 129436887670000000ull;
  CalendarTime c;
  ASSERT_TRUE(FileTimeToCalendar(t, c));
  EXPECT_EQ(c.year, 2011);
  EXPECT_EQ(c.month, 3);
  EXPECT_EQ(c.day, 4);
  EXPECT_EQ(c.hour, 5);
  EXPECT_EQ(c.minute, 6);
  EXPECT_EQ(c.second, 7);
  EXPECT_EQ(FormatItemTime(t), L"2011-3-4 5:6");
  EXPECT_EQ(FormatItemTime(0), L"1601-1-1 0:0");
  // Leap day and year end.
  EXPECT_EQ(FormatItemTime(132274080000000000ull), L"2020-2-29 0:0");
  EXPECT_EQ(FormatItemTime(132539327990000000ull), L"2020-12-31 23:59");
  // Beyond what FileTimeToSystemTime accepts: no text rather than a wrong date.
  EXPECT_EQ(FormatItemTime(0x8000000000000000ull), L"");
  EXPECT_TRUE(FileTimeToCalendar(0x7FFFFFFFFFFFFFFFull, c));
  EXPECT_EQ(c.year, 30828);
}

TEST(ItemFormat, RowOfAnItem) {
  FileRow row = MakeFileRow(L"C:\\Deleted\\docs\\report.final.pdf", 5000000000ull,
                            129436887670000000ull, 0x1234);
  EXPECT_EQ(row.name, L"report.final.pdf");
  EXPECT_EQ(row.size, L"5000000000");
  EXPECT_EQ(row.time, L"2011-3-4 5:6");
  EXPECT_EQ(row.idLow, 0x1234u);
}

TEST(ItemFormat, StateColumn) {
  EXPECT_EQ(ItemStateText(KX_STATE_INTACT, 0), L"完好");
  EXPECT_EQ(ItemStateText(KX_STATE_PARTLY_OVERWRITTEN, 3700), L"部分覆盖 37%");
  // Some, but neither none nor all, of a partly overwritten item.
  EXPECT_EQ(ItemStateText(KX_STATE_PARTLY_OVERWRITTEN, 3), L"部分覆盖 1%");
  EXPECT_EQ(ItemStateText(KX_STATE_PARTLY_OVERWRITTEN, 9990), L"部分覆盖 99%");
  EXPECT_EQ(ItemStateText(KX_STATE_OVERWRITTEN, 10000), L"已覆盖");
  EXPECT_EQ(ItemStateText(KX_STATE_UNKNOWN, 0), L"未知");
  // Found by content, and its own checks fail inside it.
  EXPECT_EQ(ItemStateText(KX_STATE_DAMAGED, 0), L"部分损坏");
  EXPECT_EQ(ItemStateText(KX_STATE_INTACT, 0, KX_FLAG_ENCRYPTED), L"encrypted");
  EXPECT_TRUE(ItemStateGreyed(KX_STATE_OVERWRITTEN));
  EXPECT_FALSE(ItemStateGreyed(KX_STATE_PARTLY_OVERWRITTEN));
}
