// Which ids the recover button collects, and the page's small rules.
#include <gtest/gtest.h>

#include <map>

#include "app/core/RecoveryIds.h"
#include "app/core/RecoveryRules.h"
#include "tests/app/MemoryCheckTree.h"

using namespace restorix;
using Node = CheckTree::Node;

namespace {

// The results tree of a scan of R: as the page builds it:
// R: -> Deleted -> { Docs, Photos -> 2011 }, with items in three folders.
struct Results {
  MemoryCheckTree tree;
  Node root = tree.Add(0, L"R:");
  Node deleted = tree.Add(root, L"Deleted");
  Node docs = tree.Add(deleted, L"Docs");
  Node photos = tree.Add(deleted, L"Photos");
  Node y2011 = tree.Add(photos, L"2011");
  std::map<std::wstring, std::vector<ItemId>> folders{
      {L"R:\\Deleted", {{1, 0}, {2, 0}}},
      {L"R:\\Deleted\\Docs", {{3, 0}, {4, 0}}},
      {L"R:\\Deleted\\Photos\\2011", {{5, 0}, {6, 7}}},
  };
  std::vector<ItemId> checkedRows;
  std::vector<std::wstring> asked;  // folders whose items were taken

  std::vector<ItemId> Collect(Node selected) {
    RecoverySources s;
    s.checkedRows = [this](std::vector<ItemId>& out) { out.insert(out.end(), checkedRows.begin(), checkedRows.end()); };
    s.folderItems = [this](const std::wstring& folder, std::vector<ItemId>& out) {
      asked.push_back(folder);
      auto it = folders.find(folder);
      if (it != folders.end()) out.insert(out.end(), it->second.begin(), it->second.end());
    };
    s.folderOf = [this](Node n) { return Folder(n); };
    return CollectRecoveryIds(tree, root, selected, L"R:", s);
  }
  std::wstring Folder(Node n) {
    return TreeFolderPath(tree, root, n, L"R:", [this](Node x) { return tree.Text(x); });
  }
};

std::vector<uint32_t> Lows(const std::vector<ItemId>& ids) {
  std::vector<uint32_t> out;
  for (const ItemId& id : ids) out.push_back(id.low);
  return out;
}

TEST(RecoveryIds, FolderPathsOfTreeNodes) {
  Results r;
  EXPECT_EQ(r.Folder(r.root), L"R:\\Deleted");
  EXPECT_EQ(r.Folder(r.deleted), L"R:\\Deleted");
  EXPECT_EQ(r.Folder(r.docs), L"R:\\Deleted\\Docs");
  EXPECT_EQ(r.Folder(r.y2011), L"R:\\Deleted\\Photos\\2011");
}

TEST(RecoveryIds, RootCheckedAndSelectedTakesOnlyTheCheckedRowsOfTheTopFolder) {
  Results r;
  ToggleCheck(r.tree, r.root);
  r.checkedRows = {{2, 0}};  // row 1 was unchecked in the list
  EXPECT_EQ(Lows(r.Collect(r.root)), (std::vector<uint32_t>{2, 3, 4, 5, 6}));
  // The "Deleted" node names the same folder: it must not bring row 1 back.
  EXPECT_EQ(r.asked, (std::vector<std::wstring>{L"R:\\Deleted\\Docs", L"R:\\Deleted\\Photos",
                                                L"R:\\Deleted\\Photos\\2011"}));
}

TEST(RecoveryIds, RootCheckedWithAnotherFolderSelectedTakesAllOfTheTopFolder) {
  Results r;
  ToggleCheck(r.tree, r.root);
  r.checkedRows = {{4, 0}};  // Docs shown, row 3 unchecked
  const std::vector<ItemId> ids = r.Collect(r.docs);
  EXPECT_EQ(Lows(ids), (std::vector<uint32_t>{1, 2, 4, 5, 6}));
  EXPECT_EQ(ids.back().high, 7u);  // the high half of an id is kept
}

TEST(RecoveryIds, CheckedFoldersBelowMixedAndUncheckedOnesStillCount) {
  Results r;
  ToggleCheck(r.tree, r.y2011);  // photos takes Checked, deleted and root Mixed
  ASSERT_EQ(r.tree[r.deleted], Mixed);
  r.checkedRows = {{9, 0}};
  // Photos itself has no items; 2011 contributes all of its own.
  EXPECT_EQ(Lows(r.Collect(r.docs)), (std::vector<uint32_t>{5, 6}));
  EXPECT_EQ(r.asked, (std::vector<std::wstring>{L"R:\\Deleted\\Photos", L"R:\\Deleted\\Photos\\2011"}));
  // Selected and checked: the list's rows stand for 2011.
  r.checkedRows = {{6, 7}};
  EXPECT_EQ(Lows(r.Collect(r.y2011)), (std::vector<uint32_t>{6}));
}

TEST(RecoveryIds, NothingCheckedInTheTreeFallsBackToTheRows) {
  Results r;
  r.checkedRows = {{3, 0}, {4, 0}};
  EXPECT_EQ(Lows(r.Collect(r.docs)), (std::vector<uint32_t>{3, 4}));
  r.checkedRows.clear();
  EXPECT_TRUE(r.Collect(r.docs).empty());
  EXPECT_TRUE(r.Collect(0).empty());  // no selection, nothing checked
}

TEST(RecoveryIds, CheckedFolderThatYieldsNothingAlsoFallsBack) {
  Results r;
  r.folders.clear();  // the index no longer knows these folders
  ToggleCheck(r.tree, r.docs);
  r.checkedRows = {{8, 0}};
  EXPECT_EQ(Lows(r.Collect(r.y2011)), (std::vector<uint32_t>{8}));
}

TEST(RecoveryIds, NoRootGivesNothing) {
  MemoryCheckTree empty;
  RecoverySources s;
  s.checkedRows = [](std::vector<ItemId>& out) { out.push_back({1, 0}); };
  EXPECT_TRUE(CollectRecoveryIds(empty, 0, 0, L"R:", s).empty());
}

TEST(RecoveryIds, DepthFirstOrderOverADeepTree) {
  MemoryCheckTree t;
  const Node root = t.Add(0, L"C:");
  Node n = t.Add(root, L"Deleted");
  std::wstring folder = L"C:\\Deleted";
  std::map<std::wstring, uint32_t> idOf;
  for (uint32_t i = 0; i < 300; ++i) {
    n = t.Add(n, L"d");
    folder += L"\\d";
    idOf[folder] = i;
  }
  const Node late = t.Add(t.nodes[root].children[0], L"z");  // visited after the whole chain
  idOf[L"C:\\Deleted\\z"] = 999;
  ToggleCheck(t, root);
  RecoverySources s;
  s.folderItems = [&](const std::wstring& f, std::vector<ItemId>& out) {
    auto it = idOf.find(f);
    if (it != idOf.end()) out.push_back({it->second, 0});
  };
  s.folderOf = [&](Node x) { return TreeFolderPath(t, root, x, L"C:", [&](Node y) { return t.Text(y); }); };
  const std::vector<ItemId> ids = CollectRecoveryIds(t, root, late, L"C:", s);
  ASSERT_EQ(ids.size(), 300u);  // z is selected and no rows are checked
  for (uint32_t i = 0; i < 300; ++i) EXPECT_EQ(ids[i].low, i);
}

TEST(RecoveryRules, ProgressPositions) {
  std::vector<int> three;
  for (size_t i = 0; i < 3; ++i) three.push_back(RecoveryProgress(i, 3));
  EXPECT_EQ(three, (std::vector<int>{0, 33, 66}));
  EXPECT_EQ(RecoveryProgress(0, 0), 0);
  EXPECT_EQ(RecoveryProgress(6, 7), 85);
  EXPECT_EQ(RecoveryProgress(99, 100), 99);
  EXPECT_LT(RecoveryProgress(999999, 1000000), 100);
}

TEST(RecoveryRules, PreviewLimitIsTenMiBInclusive) {
  EXPECT_TRUE(PreviewAllowed(0));
  EXPECT_TRUE(PreviewAllowed(10485760));
  EXPECT_FALSE(PreviewAllowed(10485761));
  EXPECT_FALSE(PreviewAllowed(5000000000ull));
}

TEST(RecoveryRules, PreviewPathLosesOnlyTheDrive) {
  EXPECT_EQ(PathWithoutDrive(L"C:\\Deleted\\a.txt"), L"\\Deleted\\a.txt");
  EXPECT_EQ(PathWithoutDrive(L"\\Deleted\\a.txt"), L"\\Deleted\\a.txt");
  EXPECT_EQ(PathWithoutDrive(L"C:"), L"");
  // Parts far longer than 255 units stay whole.
  const std::wstring longName(600, L'n');
  EXPECT_EQ(PathWithoutDrive(L"R:\\Deleted\\" + longName + L".txt"), L"\\Deleted\\" + longName + L".txt");
}

TEST(RecoveryRules, RecoveryFolderOf241CharactersIsRefused) {
  const std::wstring base = L"C:\\out\\";
  EXPECT_FALSE(RecoverFolderTooLong(base + std::wstring(240 - base.size(), L'x')));
  EXPECT_TRUE(RecoverFolderTooLong(base + std::wstring(241 - base.size(), L'x')));
  EXPECT_FALSE(RecoverFolderTooLong(L""));
}

TEST(RecoveryRules, DoneMessageCountsFailures) {
  EXPECT_EQ(RecoveryDoneText(0), L"恢复完毕!");
  EXPECT_EQ(RecoveryDoneText(2), L"恢复完毕, 其中 2 个文件恢复失败!");
  EXPECT_EQ(RecoveryDoneText(0, L"数据恢复完毕"), L"数据恢复完毕!");  // the search page's
  EXPECT_EQ(RecoveryDoneText(1, L"数据恢复完毕"), L"数据恢复完毕, 其中 1 个文件恢复失败!");
}

}  // namespace
