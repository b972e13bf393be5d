// Which found items a search keyword picks.
#include <gtest/gtest.h>

#include "app/core/SearchMatch.h"

using namespace restorix;

namespace {
bool Finds(const std::wstring& keyword, const std::wstring& itemPath) {
  return SearchMatcher(keyword).Matches(itemPath);
}
}  // namespace

TEST(SearchMatch, OnlyAsciiLettersFold) {
  EXPECT_TRUE(Finds(L"txt", L"C:\\Deleted\\Docs\\REPORT.TXT"));
  EXPECT_TRUE(Finds(L"TXT", L"C:\\Deleted\\notes.txt"));
  EXPECT_TRUE(Finds(L"rEpO", L"C:\\Deleted\\Report.doc"));
  EXPECT_TRUE(Finds(L"报告", L"C:\\Deleted\\年度报告.doc"));
  EXPECT_FALSE(Finds(L"报告", L"C:\\Deleted\\年度报表.doc"));
  // Latin-1, Greek, Cyrillic and full-width letters must match exactly.
  EXPECT_FALSE(Finds(L"é", L"C:\\Deleted\\CAFÉ.txt"));
  EXPECT_FALSE(Finds(L"σ", L"C:\\Deleted\\ΣΟΦΙΑ.txt"));
  EXPECT_FALSE(Finds(L"д", L"C:\\Deleted\\ДОМ.txt"));
  EXPECT_FALSE(Finds(L"ｔｘｔ", L"C:\\Deleted\\ＴＸＴ.doc"));
  EXPECT_EQ(AsciiUpper(L"az AZ 09 `{@[ éσдｔ"), L"AZ AZ 09 `{@[ éσдｔ");
}

TEST(SearchMatch, OnlyTheFileNameWithItsExtensionIsSearched) {
  const std::wstring path = L"R:\\Deleted\\Docs\\old.txt";
  for (const wchar_t* outside : {L"Docs", L"Deleted", L"R:", L"\\", L"s\\old"}) EXPECT_FALSE(Finds(outside, path));
  EXPECT_TRUE(Finds(L"old.txt", path));
  EXPECT_FALSE(Finds(L"x/", L"R:/x/abc.txt"));
  EXPECT_FALSE(Finds(L"C:", L"C:name.txt"));
  EXPECT_FALSE(Finds(L"a.txt.bak", L"C:\\Deleted\\a.txt"));
  EXPECT_TRUE(Finds(L"", L"C:\\Deleted\\a.txt"));
}

TEST(SearchMatch, NamesWithoutOrWithSeveralDots) {
  EXPECT_TRUE(Finds(L"read", L"C:\\Deleted\\README"));
  EXPECT_FALSE(Finds(L"readme.", L"C:\\Deleted\\README"));
  EXPECT_TRUE(Finds(L"archive.tar.gz", L"C:\\Deleted\\archive.tar.gz"));
  EXPECT_TRUE(Finds(L"tar.g", L"C:\\Deleted\\archive.tar.gz"));
}
