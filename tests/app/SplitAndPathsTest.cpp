// CSplitStr and the path rules of the desktop program.
#include <gtest/gtest.h>

#include <map>
#include <set>

#include "app/core/FolderPaths.h"
#include "app/core/SplitStr.h"

using namespace restorix;

namespace {
std::vector<std::wstring> SplitOf(const std::wstring& text, bool skipEmpty = true,
                                  const std::wstring& sep = L",") {
  CSplitStr s;
  s.SetSkipEmpty(skipEmpty);
  s.SetSeparator(sep);
  s.SetText(text);
  std::vector<std::wstring> out;
  s.Split(out);
  return out;
}

// A file system of folders only: a search for "X\*.*" finds something when
// X exists (its "." entry), as FindFirstFileW does.
class FakeFolders : public FolderSystem {
 public:
  std::set<std::wstring> folders;
  std::vector<std::wstring> searches;
  std::vector<std::wstring> created;
  bool SearchFindsAnything(const std::wstring& pattern) override {
    searches.push_back(pattern);
    const std::wstring tail = L"\\*.*";
    if (pattern.size() < tail.size()) return false;
    return folders.count(pattern.substr(0, pattern.size() - tail.size())) != 0;
  }
  bool CreateOneFolder(const std::wstring& path) override {
    if (folders.count(path)) return false;
    size_t at = path.rfind(L'\\');
    // CreateDirectoryW needs the parent; a drive ("C:") always exists.
    if (at != std::wstring::npos && path.substr(0, at).size() > 2 && !folders.count(path.substr(0, at)))
      return false;
    folders.insert(path);
    created.push_back(path);
    return true;
  }
};
}  // namespace

TEST(SplitStr, DefaultsAndTrimming) {
  CSplitStr s;
  EXPECT_TRUE(s.SkipEmpty());
  EXPECT_EQ(s.Separator(), L",");
  EXPECT_EQ(s.Text(), L"");
  s.SetText(L" \t a,b \r\n");
  EXPECT_EQ(s.Text(), L"a,b");
  s.SetText(L"   ");
  EXPECT_EQ(s.Text(), L"");
}

TEST(SplitStr, EmptyPiecesAndTrailingSeparator) {
  EXPECT_EQ(SplitOf(L"a,,b"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(SplitOf(L"a,,b", false), (std::vector<std::wstring>{L"a", L"", L"b"}));
  EXPECT_EQ(SplitOf(L"a,b,"), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(SplitOf(L"a,b,", false), (std::vector<std::wstring>{L"a", L"b"}));
  EXPECT_EQ(SplitOf(L",a", false), (std::vector<std::wstring>{L"", L"a"}));
  EXPECT_TRUE(SplitOf(L"").empty());
  EXPECT_TRUE(SplitOf(L",,,").empty());
  EXPECT_EQ(SplitOf(L"single"), (std::vector<std::wstring>{L"single"}));
}

TEST(SplitStr, OtherSeparators) {
  EXPECT_EQ(SplitOf(L"C:\\Deleted\\a", true, L"\\"),
            (std::vector<std::wstring>{L"C:", L"Deleted", L"a"}));
  EXPECT_EQ(SplitOf(L"C:\\Deleted\\", true, L"\\"), (std::vector<std::wstring>{L"C:", L"Deleted"}));
  // A longer separator is removed whole, never left in the next piece.
  EXPECT_EQ(SplitOf(L"a::b::c", true, L"::"), (std::vector<std::wstring>{L"a", L"b", L"c"}));
  // An empty separator cannot loop: the whole text is one piece.
  EXPECT_EQ(SplitOf(L"a,b", true, L""), (std::vector<std::wstring>{L"a,b"}));
  EXPECT_TRUE(SplitOf(L"", true, L"").empty());
}

TEST(FolderPaths, ProgramFolderAndFileSpec) {
  EXPECT_EQ(FolderOfModulePath(L"C:\\Program Files\\Restorix\\Restorix.exe"),
            L"C:\\Program Files\\Restorix");
  EXPECT_EQ(FolderOfModulePath(L"Restorix.exe"), L"");
  EXPECT_EQ(FolderOfModulePath(L"C:\\Restorix.exe"), L"C:");

  EXPECT_EQ(RemoveFileSpec(L"C:\\Deleted\\Users\\x\\a.txt"), L"C:\\Deleted\\Users\\x");
  EXPECT_EQ(RemoveFileSpec(L"C:\\a.txt"), L"C:\\");
  EXPECT_EQ(RemoveFileSpec(L"\\a.txt"), L"\\");
  EXPECT_EQ(RemoveFileSpec(L"a.txt"), L"");
  EXPECT_EQ(RemoveFileSpec(L"C:a.txt"), L"C:");

  EXPECT_EQ(FileNameOf(L"C:\\Deleted\\photo.2011.jpg"), L"photo.2011.jpg");
  EXPECT_EQ(FileNameOf(L"C:\\Deleted/x/readme"), L"readme");
  EXPECT_EQ(FileNameOf(L"C:name.txt"), L"name.txt");
  EXPECT_EQ(FileNameOf(L"C:\\Deleted\\"), L"");
}

TEST(FolderPaths, FolderExistsSearchesTheFolder) {
  FakeFolders fs;
  fs.folders = {L"C:\\Data"};
  EXPECT_TRUE(FolderExists(fs, L""));
  EXPECT_TRUE(FolderExists(fs, L"\\"));  // one slash removed leaves nothing
  EXPECT_TRUE(fs.searches.empty());
  EXPECT_TRUE(FolderExists(fs, L"C:\\Data\\"));
  ASSERT_EQ(fs.searches.size(), 1u);
  EXPECT_EQ(fs.searches[0], L"C:\\Data\\*.*");
  EXPECT_TRUE(FolderExists(fs, L"C:\\Data/"));
  EXPECT_FALSE(FolderExists(fs, L"C:\\Other"));
}

TEST(FolderPaths, CreateFolderTreeMakesEveryMissingParent) {
  FakeFolders fs;
  fs.folders = {L"C:"};
  EXPECT_TRUE(CreateFolderTree(fs, L"C:\\a\\b\\c"));
  EXPECT_EQ(fs.created, (std::vector<std::wstring>{L"C:\\a", L"C:\\a\\b", L"C:\\a\\b\\c"}));
  // The last folder exists now: creating it again reports false.
  EXPECT_FALSE(CreateFolderTree(fs, L"C:\\a\\b\\c"));
  EXPECT_FALSE(CreateFolderTree(fs, L"C:\\a\\b\\c\\"));
  // One more level under an existing chain creates only that level.
  fs.created.clear();
  EXPECT_TRUE(CreateFolderTree(fs, L"C:\\a\\b\\d\\"));
  EXPECT_EQ(fs.created, (std::vector<std::wstring>{L"C:\\a\\b\\d"}));
}

TEST(FolderPaths, CreateFolderTreeRefusesEmptyAndDot) {
  FakeFolders fs;
  EXPECT_FALSE(CreateFolderTree(fs, L""));
  EXPECT_FALSE(CreateFolderTree(fs, L"\\"));
  EXPECT_FALSE(CreateFolderTree(fs, L"."));
  EXPECT_FALSE(CreateFolderTree(fs, L".\\"));
  EXPECT_TRUE(fs.created.empty());
  EXPECT_TRUE(CreateFolderTree(fs, L"relative"));
  EXPECT_EQ(fs.created, (std::vector<std::wstring>{L"relative"}));
}
