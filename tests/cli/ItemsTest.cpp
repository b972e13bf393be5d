#include <gtest/gtest.h>

#include <cstring>

#include "cli/Items.h"
#include "cli/Text.h"

namespace kestrel::cli {
namespace {

// A FILETIME for a calendar time (no zone involved).
uint64_t FileTime(int64_t unixSeconds, uint32_t extraTicks = 0) {
  return static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000u + extraTicks;
}

Item MakeItem(uint64_t id, std::u16string path, uint64_t size = 1, uint64_t modified = 0) {
  Item item;
  item.id = id;
  item.path = std::move(path);
  item.size = size;
  item.modified = modified;
  return item;
}

TEST(LocalTime, FormatsCalendarFieldsWithoutZoneStep) {
  EXPECT_EQ(FormatLocalFileTime(0), "");
  EXPECT_EQ(FormatLocalFileTime(1), "1601-01-01 00:00:00");
  EXPECT_EQ(FormatLocalFileTime(FileTime(0)), "1970-01-01 00:00:00");
  // Sub-second ticks are cut, never rounded up into the next second.
  EXPECT_EQ(FormatLocalFileTime(FileTime(1700000000, 9999999)), "2023-11-14 22:13:20");
  EXPECT_EQ(FormatLocalFileTime(FileTime(951782400)), "2000-02-29 00:00:00");  // leap day
  EXPECT_EQ(FormatLocalFileTime(FileTime(4107542399)), "2100-02-28 23:59:59");  // no leap day
  EXPECT_EQ(FormatLocalFileTime(FileTime(4107542400)), "2100-03-01 00:00:00");
  EXPECT_EQ(FormatLocalFileTime(FileTime(1299315420)), "2011-03-05 08:57:00");
  EXPECT_EQ(FormatLocalFileTime(FileTime(253402300799)), "9999-12-31 23:59:59");
  EXPECT_EQ(FormatLocalFileTime(FileTime(253402300800)), "10000-01-01 00:00:00");
  // Whatever a hostile disk holds still formats as a date.
  EXPECT_FALSE(FormatLocalFileTime(UINT64_MAX).empty());
}

TEST(ScanOutput, TabSeparatedLineWithUtf8Path) {
  Item item = MakeItem((uint64_t{1} << 32) | 77, u"D:\\Deleted\\报告\\café.txt", 5000000000ull,
                       FileTime(1700000000));
  EXPECT_EQ(FormatScanLine(item),
            "4294967373\t5000000000\t2023-11-14 22:13:20\tD:\\Deleted\\报告\\café.txt\n");
  item.modified = 0;
  EXPECT_EQ(FormatScanLine(item), "4294967373\t5000000000\t\tD:\\Deleted\\报告\\café.txt\n");
}

TEST(ScanOutput, RecordPathStopsAtTerminatorOrFieldEnd) {
  DelItem record;
  std::memset(&record, 0, sizeof record);
  const std::u16string path = u"E:\\Deleted\\a.txt";
  std::memcpy(record.path, path.data(), path.size() * 2);
  record.path[path.size() + 1] = u'X';  // behind the terminator: not part of the path
  record.idLow = 0xFFFFFFFF;
  record.idHigh = 2;
  record.size = 12;
  record.modified = 34;
  Item item = ItemFromRecord(record);
  EXPECT_EQ(item.path, path);
  EXPECT_EQ(item.id, 0x2FFFFFFFFull);
  EXPECT_EQ(IdLow(item.id), 0xFFFFFFFFu);
  EXPECT_EQ(IdHigh(item.id), 2u);
  EXPECT_EQ(item.size, 12u);
  EXPECT_EQ(item.modified, 34u);

  // The scan prints straight from the record: the same line as the item's.
  std::string direct;
  AppendScanLine(direct, record);
  EXPECT_EQ(direct, FormatScanLine(item));

  for (auto& c : record.path) c = u'a';  // no terminator at all
  record.path[1021] = 0xD83D;             // and a pair and a lone half at its end
  record.path[1022] = 0xDE00;
  record.path[1023] = 0xD800;
  EXPECT_EQ(ItemFromRecord(record).path.size(), 1024u);
  direct.clear();
  AppendScanLine(direct, record);
  EXPECT_EQ(direct, FormatScanLine(ItemFromRecord(record)));
  EXPECT_NE(direct.find("\xF0\x9F\x98\x80\xEF\xBF\xBD\n"), std::string::npos);
}

TEST(ScanOutput, JsonStringsAreEscaped) {
  EXPECT_EQ(JsonString(""), "\"\"");
  EXPECT_EQ(JsonString("C:\\Deleted\\\"q\".txt"), "\"C:\\\\Deleted\\\\\\\"q\\\".txt\"");
  EXPECT_EQ(JsonString("a\tb\nc\rd\be\ff"), "\"a\\tb\\nc\\rd\\be\\ff\"");
  EXPECT_EQ(JsonString(std::string("\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(JsonString("季度 é /"), "\"季度 é /\"");
}

TEST(ScanOutput, JsonArrayOfItems) {
  EXPECT_EQ(FormatJson({}), "[]\n");
  std::vector<Item> items = {MakeItem(16, u"D:\\Deleted\\x\\\"a\".txt", 3, FileTime(0)),
                             MakeItem(17, u"D:\\Deleted\\照片", 0, 0)};
  EXPECT_EQ(FormatJson(items),
            "[\n"
            "  {\"id\": 16, \"size\": 3, \"modified\": \"1970-01-01 00:00:00\", \"path\": "
            "\"D:\\\\Deleted\\\\x\\\\\\\"a\\\".txt\"},\n"
            "  {\"id\": 17, \"size\": 0, \"modified\": \"\", \"path\": \"D:\\\\Deleted\\\\照片\"}\n"
            "]\n");
}

TEST(Match, FileNameWithExtensionOnly) {
  EXPECT_EQ(FileNameOf(u"C:\\Deleted\\docs\\archive.tar.gz"), u"archive.tar.gz");
  EXPECT_EQ(FileNameOf(u"C:\\Deleted\\README"), u"README");
  EXPECT_EQ(FileNameOf(u"C:name"), u"name");
  EXPECT_EQ(FileNameOf(u"plain"), u"plain");
  EXPECT_EQ(FileNameOf(u"C:\\Deleted\\dir\\"), u"");
}

TEST(Match, AsciiLettersFoldOthersMatchExactly) {
  EXPECT_TRUE(NameMatches(u"REPORT.TXT", u"txt"));
  EXPECT_TRUE(NameMatches(u"notes.txt", u"TXT"));
  EXPECT_TRUE(NameMatches(u"archive.tar.gz", u"R.G"));
  EXPECT_TRUE(NameMatches(u"季度总结.txt", u"季度"));
  EXPECT_FALSE(NameMatches(u"季度总结.txt", u"季总"));
  // Only a-z fold: accented and other letters must match exactly.
  EXPECT_TRUE(NameMatches(u"Crème.txt", u"CRè"));
  EXPECT_FALSE(NameMatches(u"Crème.txt", u"CRÈ"));
  EXPECT_FALSE(NameMatches(u"ǅ.txt", u"ǆ"));
  EXPECT_FALSE(NameMatches(u"abc", u""));
  EXPECT_FALSE(NameMatches(u"ab", u"abc"));
  EXPECT_TRUE(NameMatches(u"abc", u"ABC"));
  // '@' (0x40) and '[' (0x5B) sit next to the letters and do not fold.
  EXPECT_FALSE(NameMatches(u"`{", u"@["));
}

TEST(Choose, AllMatchAndIds) {
  std::vector<Item> found = {
      MakeItem(16, u"D:\\Deleted\\Documents\\Quarterly Report.txt"),
      MakeItem(17, u"D:\\Deleted\\txt folder\\photo.jpg"),
      MakeItem(18, u"D:\\Deleted\\notes.TXT"),
      MakeItem(16, u"D:\\Deleted\\duplicate id.txt"),
      MakeItem(4294967296ull, u"D:\\Deleted\\high.bin"),
  };
  Options o;
  o.selection = Selection::All;
  EXPECT_EQ(ChooseItems(found, o).items.size(), 5u);

  o.selection = Selection::Match;
  o.match = "txt";
  Choice c = ChooseItems(found, o);
  ASSERT_EQ(c.items.size(), 3u);  // the folder named "txt folder" does not count
  EXPECT_EQ(c.items[0].id, 16u);
  EXPECT_EQ(c.items[1].id, 18u);
  EXPECT_EQ(c.items[2].path, u"D:\\Deleted\\duplicate id.txt");
  o.match = "Documents";
  EXPECT_TRUE(ChooseItems(found, o).items.empty());

  o.selection = Selection::Ids;
  o.ids = {4294967296ull, 99, 16};
  c = ChooseItems(found, o);
  // Scan order; a repeated id names its first item only.
  ASSERT_EQ(c.items.size(), 2u);
  EXPECT_EQ(c.items[0].path, u"D:\\Deleted\\Documents\\Quarterly Report.txt");
  EXPECT_EQ(c.items[1].id, 4294967296ull);
  EXPECT_EQ(c.missingIds, std::vector<uint64_t>{99});
}

TEST(Recover, SummaryAndExitStatus) {
  EXPECT_EQ(RecoverSummary(7, 0), "recovered 7, failed 0");
  EXPECT_EQ(RecoverSummary(0, 2), "recovered 0, failed 2");
  EXPECT_EQ(RecoverExitStatus(0), 0);
  EXPECT_EQ(RecoverExitStatus(1), 1);
  EXPECT_EQ(RecoverExitStatus(100), 1);
  EXPECT_EQ(ScanProgress(12), "scanning: 12 found");
  EXPECT_EQ(RecoverProgress(3, 7), "recovering: 3/7");
}

TEST(Text, Utf8AndUtf16RoundTrip) {
  const std::string utf8 = "a é 报告 😀";
  const std::u16string utf16 = u"a é 报告 😀";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(Text, MalformedInputBecomesReplacementCharacters) {
  EXPECT_EQ(Utf8ToUtf16("a\xff" "b"), u"a\uFFFDb");
  EXPECT_EQ(Utf8ToUtf16("\xe6\x8a"), u"\uFFFD");               // cut short
  EXPECT_EQ(Utf8ToUtf16("\xc0\xaf"), u"\uFFFD");               // overlong "/"
  EXPECT_EQ(Utf8ToUtf16("\xed\xa0\x80"), u"\uFFFD");           // encoded surrogate
  EXPECT_EQ(Utf8ToUtf16("\xf4\x90\x80\x80"), u"\uFFFD");       // beyond U+10FFFF
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xD800)) + u"x"), "\xef\xbf\xbdx");
  EXPECT_EQ(Utf16ToUtf8(std::u16string(1, char16_t(0xDC00))), "\xef\xbf\xbd");
}

}  // namespace
}  // namespace kestrel::cli
