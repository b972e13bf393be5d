#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include <algorithm>

#include "cli/Items.h"
#include "cli/Json.h"
#include "cli/Sha256.h"
#include "cli/Text.h"

namespace kestrel::cli {
namespace {

// A FILETIME for a calendar time (no zone involved).
uint64_t FileTime(int64_t unixSeconds, uint32_t extraTicks = 0) {
  return static_cast<uint64_t>(unixSeconds + 11644473600LL) * 10000000u + extraTicks;
}

Item MakeItem(uint64_t id, std::u16string path, uint64_t size = 1, uint32_t state = KX_STATE_INTACT) {
  Item item;
  item.id = id;
  item.path = std::move(path);
  item.size = size;
  item.hasInfo = true;
  item.info.state = state;
  return item;
}

std::string Line(const Item& item) {
  std::string out;
  AppendScanLine(out, item, PathInVolume(item.path, u"D:\\", u'/'));
  return out;
}

TEST(Time, IsoUtcWithoutZoneStep) {
  EXPECT_EQ(FormatUtc(0), "");
  EXPECT_EQ(FormatUtc(1), "1601-01-01T00:00:00Z");
  EXPECT_EQ(FormatUtc(FileTime(0)), "1970-01-01T00:00:00Z");
  // Sub-second ticks are cut, never rounded up into the next second.
  EXPECT_EQ(FormatUtc(FileTime(1700000000, 9999999)), "2023-11-14T22:13:20Z");
  EXPECT_EQ(FormatUtc(FileTime(951782400)), "2000-02-29T00:00:00Z");  // leap day
  EXPECT_EQ(FormatUtc(FileTime(4107542399)), "2100-02-28T23:59:59Z");  // no leap day
  EXPECT_EQ(FormatUtc(FileTime(4107542400)), "2100-03-01T00:00:00Z");
  EXPECT_EQ(FormatUtc(FileTime(253402300800)), "10000-01-01T00:00:00Z");
  // Whatever a hostile disk holds still formats as a date.
  EXPECT_FALSE(FormatUtc(UINT64_MAX).empty());
}

TEST(ScanOutput, PathsInsideTheVolume) {
  EXPECT_EQ(PathInVolume(u"D:\\Deleted\\docs\\a.txt", u"D:\\", u'/'), u"docs/a.txt");
  EXPECT_EQ(PathInVolume(u"D:\\Deleted\\docs\\a.txt", u"D:\\", u'\\'), u"docs\\a.txt");
  EXPECT_EQ(PathInVolume(u"D:\\Deleted\\a.txt", u"D:\\", u'/'), u"a.txt");
  // Only the leading "Deleted" is the kernel's; a folder of that name stays.
  EXPECT_EQ(PathInVolume(u"E:\\Deleted\\Deleted\\x", u"E:\\", u'/'), u"Deleted/x");
  EXPECT_EQ(PathInVolume(u"other", u"D:\\", u'/'), u"other");
}

TEST(ScanOutput, FiveTabSeparatedColumnsOneLinePerItem) {
  Item item = MakeItem((uint64_t{1} << 32) | 77, u"D:\\Deleted\\报告\\café.txt", 5000000000ull,
                       KX_STATE_PARTLY_OVERWRITTEN);
  item.info.modified = FileTime(1700000000);
  EXPECT_EQ(Line(item), "4294967373\t5000000000\tpartly-overwritten\t2023-11-14T22:13:20Z\t报告/café.txt\n");
  item.hasInfo = false;  // nothing known beyond the record
  EXPECT_EQ(Line(item), "4294967373\t5000000000\tunknown\t\t报告/café.txt\n");
  // Control characters cannot break a line or add a column; a lone
  // surrogate becomes U+FFFD.
  item.path = u"D:\\Deleted\\a\tb\nc\rd";
  item.path += char16_t(0xDC80);
  EXPECT_EQ(Line(item), "4294967373\t5000000000\tunknown\t\ta?b?c?d\xEF\xBF\xBD\n");
  for (uint32_t s : std::initializer_list<uint32_t>{KX_STATE_UNKNOWN, KX_STATE_INTACT, KX_STATE_OVERWRITTEN, KX_STATE_DAMAGED, 99u})
    EXPECT_EQ(std::string(StateName(s)).find_first_of(" \t"), std::string::npos);
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
  Item item = ItemFromRecord(record);
  EXPECT_EQ(item.path, path);
  EXPECT_EQ(item.id, 0x2FFFFFFFFull);
  EXPECT_EQ(IdLow(item.id), 0xFFFFFFFFu);
  EXPECT_EQ(IdHigh(item.id), 2u);
  EXPECT_EQ(item.size, 12u);
  for (auto& c : record.path) c = u'a';  // no terminator at all
  EXPECT_EQ(ItemFromRecord(record).path.size(), 1024u);
}

// JSON strings keep every unit: controls and lone surrogates as \u escapes.
TEST(Json, StringsAreEscapedLosslessly) {
  auto json = [](std::u16string_view text) {
    std::string out;
    AppendJsonString(out, text);
    return out;
  };
  EXPECT_EQ(json(u""), "\"\"");
  EXPECT_EQ(json(u"C:\\\"q\".txt"), "\"C:\\\\\\\"q\\\".txt\"");
  EXPECT_EQ(json(u"a\tb\nc\rd\be\ff"), "\"a\\tb\\nc\\rd\\be\\ff\"");
  EXPECT_EQ(json(std::u16string(u"\x01\x1f\x7f", 3)), "\"\\u0001\\u001f\\u007f\"");
  EXPECT_EQ(json(u"季度 é / 😀"), "\"季度 é / 😀\"");
  std::u16string lone = u"a";
  lone += char16_t(0xD800);
  lone += u"b";
  lone += char16_t(0xDCFF);
  EXPECT_EQ(json(lone), "\"a\\ud800b\\udcff\"");
  // A byte of a host path that is not UTF-8 reads back as Python's
  // surrogateescape has it.
  EXPECT_EQ(json(HostToKernel("dir\xff")), "\"dir\\udcff\"");
}

TEST(Json, ItemAndVolumeObjectsParse) {
  Item item = MakeItem(16, u"D:\\Deleted\\x\\\"a\".txt", 3, KX_STATE_PARTLY_OVERWRITTEN);
  item.info.overwrittenShare = 1250;
  item.info.flags = KX_FLAG_SPARSE | KX_FLAG_COMPRESSED;
  item.info.recordNumber = 41;
  item.info.created = FileTime(0);
  item.info.modified = FileTime(1700000000);
  auto o = nlohmann::json::parse(ItemJson(item, u"x/\"a\".txt"));
  EXPECT_EQ(o["id"], 16);
  EXPECT_EQ(o["path"], "x/\"a\".txt");
  EXPECT_EQ(o["name"], "\"a\".txt");
  EXPECT_EQ(o["size"], 3);
  EXPECT_EQ(o["state"], "partly-overwritten");
  EXPECT_DOUBLE_EQ(o["overwrittenPercent"].get<double>(), 12.5);
  EXPECT_EQ(o["flags"], nlohmann::json::parse(R"(["compressed", "sparse"])"));
  EXPECT_EQ(o["recordNumber"], 41);
  EXPECT_EQ(o["created"], "1970-01-01T00:00:00Z");
  EXPECT_EQ(o["modified"], "2023-11-14T22:13:20Z");
  EXPECT_TRUE(o["accessed"].is_null());

  KX_VolumeInfo v{};
  v.totalBytes = 1 << 20;
  v.sectorBytes = 512;
  v.clusterBytes = 4096;
  v.serial = 0x1A2B3C4D;
  const std::u16string fs = u"FAT32", label = u"MY \"DISK\"";
  std::copy(fs.begin(), fs.end(), v.fileSystem);
  std::copy(label.begin(), label.end(), v.label);
  auto vol = nlohmann::json::parse(VolumeJson(v, true));
  EXPECT_EQ(vol["fileSystem"], "FAT32");
  EXPECT_EQ(vol["size"], 1 << 20);
  EXPECT_EQ(vol["clusterSize"], 4096);
  EXPECT_EQ(vol["label"], "MY \"DISK\"");
  EXPECT_EQ(vol["serial"], "1A2B-3C4D");
  v.serial = 0x0123456789ABCDEFull;
  v.label[0] = 0;
  vol = nlohmann::json::parse(VolumeJson(v, true));
  EXPECT_EQ(vol["serial"], "0123456789ABCDEF");
  EXPECT_TRUE(vol["label"].is_null());
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

  // --intact-only drops what is known to be overwritten, or not known.
  found[0].info.state = KX_STATE_OVERWRITTEN;
  found[2].hasInfo = false;
  o.intactOnly = true;
  o.selection = Selection::All;
  c = ChooseItems(found, o);
  ASSERT_EQ(c.items.size(), 3u);
  EXPECT_EQ(c.items[0].id, 17u);
}

TEST(Recover, SummaryAndExitStatus) {
  RecoverCounts c;
  EXPECT_EQ(RecoverSummary(c), "recovered 0 (0 intact, 0 partly overwritten, 0 overwritten), failed 0");
  for (uint32_t s : std::initializer_list<uint32_t>{KX_STATE_INTACT, KX_STATE_INTACT, KX_STATE_PARTLY_OVERWRITTEN, KX_STATE_OVERWRITTEN,
                     KX_STATE_UNKNOWN})
    c.Add(MakeItem(1, u"x", 1, s));
  c.failed = 2;
  EXPECT_EQ(RecoverSummary(c), "recovered 5 (2 intact, 1 partly overwritten, 1 overwritten), failed 2");
  EXPECT_EQ(RecoverExitStatus(0), 0);
  EXPECT_EQ(RecoverExitStatus(1), 1);
  EXPECT_EQ(ScanProgress(12, 0, 3), "scanning: 12, 3 found");
  EXPECT_EQ(ScanProgress(250, 1000, 3), "scanning: 250 of 1000 (25%), 3 found");
  EXPECT_EQ(RecoverProgress(3, 7, 0, 3 << 20, 0.1), "recovering: 3/7 files, 0 B of 3.0 MiB");
  EXPECT_EQ(RecoverProgress(3, 7, 1 << 20, 3 << 20, 2.0),
            "recovering: 3/7 files, 1.0 MiB of 3.0 MiB, 512.0 KiB/s, 0:04 left");
}

TEST(Recover, Sha256OfWhatWasWritten) {
  Sha256 empty;
  EXPECT_EQ(empty.Hex(), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
  // Fed in pieces across block boundaries, as files are read back.
  const std::string text(1000, 'a');
  Sha256 pieces;
  for (size_t at = 0; at < text.size(); at += 77) pieces.Update(text.data() + at, std::min<size_t>(77, text.size() - at));
  EXPECT_EQ(pieces.Hex(), "41edece42d63e8d9bf515a9ba6932e1c20cbc9f5a5d134645adb5db1b9737ea3");
}

TEST(Text, Utf8AndUtf16RoundTrip) {
  const std::string utf8 = "a é 报告 😀";
  const std::u16string utf16 = u"a é 报告 😀";
  EXPECT_EQ(Utf8ToUtf16(utf8), utf16);
  EXPECT_EQ(Utf16ToUtf8(utf16), utf8);
}

TEST(Text, HostBytesPassUnchanged) {
  for (std::string bytes : {std::string("caf\xe9"), std::string("\xff\xfe/\x80"), std::string("\xed\xa0\x80"),
                            std::string("\xe6\x8a"), std::string("a\xc0\xaf" "b"), std::string("ok 报告")}) {
    const std::u16string kernel = HostToKernel(bytes);
    EXPECT_EQ(KernelToHost(kernel), bytes);
    // Never a separator or a terminator made out of bad bytes.
    EXPECT_EQ(std::count(kernel.begin(), kernel.end(), u'/'), std::count(bytes.begin(), bytes.end(), '/'));
    EXPECT_EQ(kernel.find(u'\0'), std::u16string::npos);
  }
  std::u16string escaped = u"a";
  escaped += char16_t(0xDCFF);
  EXPECT_EQ(HostToKernel("a\xff"), escaped);
  // A lone surrogate outside the escape range has no byte: U+FFFD, as for names.
  EXPECT_EQ(KernelToHost(std::u16string(1, char16_t(0xD800))), "\xef\xbf\xbd");
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
