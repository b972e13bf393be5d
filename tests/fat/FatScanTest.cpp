// The deleted-entry walk on hand-built directories: names, attributes,
// deleted folders, cycles, chains that run into free entries, path limits.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <set>

#include "kernel/DelItemRegistry.h"
#include "kernel/fat/FatDirEntry.h"
#include "kernel/fat/FatVolume.h"
#include "tests/fat/FatTestImage.h"

namespace kestrel::test {
namespace {

using namespace kestrel::fat;

FatDirEntry EntryOf(const char* name11, uint8_t attr = 0x20) {
  FatDirEntry e;
  FatTestImage::Short(e.bytes.data(), name11, attr, 0);
  return e;
}

// Runs the scan thread's steps on a volume and returns the item paths
// (UTF-8, without the "T:\Deleted\" prefix) with their items.
std::map<std::string, DelItem> ScanVolume(MappedFatVolume& v, void* window = nullptr) {
  EXPECT_TRUE(v.Scan(window).ok());
  std::map<std::string, DelItem> out;
  for (const DelItem& item : AllItems()) {
    std::string p = Utf8(item.path);
    EXPECT_EQ(p.rfind("T:\\Deleted\\", 0), 0u) << p;
    EXPECT_LE(p.size(), 0u + 4 * kMaxItemPath);
    EXPECT_TRUE(out.emplace(p.substr(11), item).second) << "listed twice: " << p;
  }
  return out;
}

std::set<std::string> Keys(const std::map<std::string, DelItem>& m) {
  std::set<std::string> k;
  for (const auto& [p, item] : m) k.insert(p);
  return k;
}

// Writes a long name as its run of slots (last piece first, as on disk)
// followed by the short entry; returns the next free slot.
uint8_t* PutLongName(uint8_t* slot, std::u16string_view name, const char* short11, uint8_t attr,
                     uint32_t cluster, uint32_t size, bool deleted, uint8_t checksum = 0x5A) {
  size_t pieces = (name.size() + 12) / 13;
  for (size_t i = pieces; i-- > 0;) {
    uint8_t seq = static_cast<uint8_t>(i + 1) | (i + 1 == pieces ? 0x40 : 0);
    FatTestImage::Long(slot, deleted ? 0xE5 : seq, name.substr(i * 13, 13), checksum);
    slot += 32;
  }
  FatTestImage::Short(slot, short11, attr, cluster, size);
  if (deleted) slot[0] = 0xE5;
  return slot + 32;
}

FatTestImage SmallFat12(uint32_t spc = 1, uint32_t total = 400) {
  FatTestImage img;
  img.spc = spc;
  img.total = total;
  img.Build();
  img.SetFat(15, 16);  // one real chain: directories follow the FAT
  img.SetFat(16, 0xFFF);
  return img;
}

TEST(FatNames, ShortNamesAsText) {
  EXPECT_EQ(ShortNameToText(EntryOf("\xE5" "EPORT  TXT"), 1024), u"_EPORT.TXT");
  EXPECT_EQ(ShortNameToText(EntryOf("FOO        "), 1024), u"FOO");
  EXPECT_EQ(ShortNameToText(EntryOf("A B C   D E"), 1024), u"ABC.DE");
  EXPECT_EQ(ShortNameToText(EntryOf("\x80" "UR     \xE9  "), 1024), u"\u20ACUR.\u00E9");
  EXPECT_EQ(ShortNameToText(EntryOf("..         ", 0x10), 1024), u"..");
  EXPECT_EQ(ShortNameToText(EntryOf("REPORT  TXT"), 11), u"");  // 10 + terminator must be shorter
  EXPECT_EQ(ShortNameToText(EntryOf("REPORT  TXT"), 12), u"REPORT.TXT");
}

TEST(FatNames, LowerCaseFlagsAsWindowsShowsThem) {
  FatDirEntry e = EntryOf("\xE5" "       TXT");
  e.bytes[0x0C] = 0x18;  // "a.txt": name and extension in lower case
  EXPECT_EQ(ShortNameToText(e, 1024), u"_.txt");
  e = EntryOf("README  TXT");
  e.bytes[0x0C] = 0x08;
  EXPECT_EQ(ShortNameToText(e, 1024), u"readme.TXT");
  e.bytes[0x0C] = 0x10;
  EXPECT_EQ(ShortNameToText(e, 1024), u"README.txt");
  e = EntryOf("\xC9" "T" "\xC9" "1       ");  // only A-Z change case
  e.bytes[0x0C] = 0x08;
  EXPECT_EQ(ShortNameToText(e, 1024), u"\u00C9t\u00C91");
}

TEST(FatNames, DosTimesAreLocalCalendarTimes) {
  // 2020-09-13 12:26:40 is Unix second 1600000000.
  uint16_t date = static_cast<uint16_t>(((2020 - 1980) << 9) | (9 << 5) | 13);
  uint16_t time = static_cast<uint16_t>((12 << 11) | (26 << 5) | (40 / 2));
  EXPECT_EQ(DosDateTimeToFileTime(date, time), (1600000000ull + 11644473600ull) * 10000000ull);
  EXPECT_EQ(DosDateTimeToFileTime(0, 0), 0u);
  EXPECT_EQ(DosDateTimeToFileTime(0, time), 0u);
  EXPECT_EQ(DosDateTimeToFileTime(static_cast<uint16_t>((41 << 9) | (2 << 5) | 29), 0), 0u)
      << "2021-02-29";
  EXPECT_NE(DosDateTimeToFileTime(static_cast<uint16_t>((40 << 9) | (2 << 5) | 29), 0), 0u)
      << "2020-02-29";
  EXPECT_EQ(DosDateTimeToFileTime(date, static_cast<uint16_t>(30)), 0u) << "second 60";
  EXPECT_EQ(DosDateTimeToFileTime(date, static_cast<uint16_t>(24 << 11)), 0u);
  EXPECT_EQ(DosDateTimeToFileTime(static_cast<uint16_t>((1 << 5) | 1), 0),
            (315532800ull + 11644473600ull) * 10000000ull)
      << "1980-01-01";
}

TEST(FatScan, LongNamesShortNamesAndAttributes) {
  FatTestImage img = SmallFat12();
  uint8_t* s = img.Root();
  s = PutLongName(s, u"A long deleted name.txt", "ALONGD~1TXT", 0x20, 10, 5, true);
  s = PutLongName(s, u"中文文件名.txt", "0E1A~1  TXT", 0x20, 11, 6, true);
  s = PutLongName(s, u"Kept long.txt", "KEPTLO~1TXT", 0x20, 12, 7, false);
  // A long-name run with checksum 0 is not used: the short name stands.
  s = PutLongName(s, u"Ignored.txt", "IGNORE~1TXT", 0x20, 13, 8, true, 0);
  FatTestImage::Short(s, "\xE5" "EPORT  TXT", 0x20, 14, 9), s += 32;
  FatTestImage::Short(s, "\xE5" "OO        ", 0x01, 15, 1), s += 32;
  FatTestImage::Short(s, "\xE5" "IDDEN  SYS", 0x02, 16, 1), s += 32;
  FatTestImage::Short(s, "\xE5" "YSTEM  SYS", 0x04, 17, 1), s += 32;
  FatTestImage::Short(s, "\xE5" "EADONL TXT", 0x21, 18, 1), s += 32;
  FatTestImage::Short(s, "\xE5" "OATTR  TXT", 0x00, 19, 1), s += 32;
  FatTestImage::Short(s, "\xE5" "ABEL      ", 0x08, 0, 0), s += 32;
  FatTestImage::Short(s, "LIVE    TXT", 0x20, 20, 1), s += 32;
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto items = ScanVolume(vol);
  std::set<std::string> want = {"A long deleted name.txt", "中文文件名.txt", "_GNORE~1.TXT",
                                "_EPORT.TXT", "_OO", "_IDDEN.SYS", "_YSTEM.SYS"};
  EXPECT_EQ(Keys(items), want);
  EXPECT_EQ(items["A long deleted name.txt"].size, 5u);
  EXPECT_EQ(items["A long deleted name.txt"].idLow, 0u);
  EXPECT_EQ(items["中文文件名.txt"].idLow, 1u);
  EXPECT_EQ(items["_EPORT.TXT"].modified, 0u) << "date 0";
}

TEST(FatScan, LongNameOf18EntriesAndPiecesInDiskOrder) {
  FatTestImage img = SmallFat12(4);
  std::u16string name;
  for (int i = 0; i < 234; ++i) name += static_cast<char16_t>(u'a' + i % 26);
  uint8_t* s = PutLongName(img.Root(), name, "AAAAAA~1   ", 0x20, 10, 1, true);
  // Pieces numbered wrongly (as after deletion) still read in disk order.
  FatTestImage::Long(s, 0xE5, u"ond.txt", 7), s += 32;
  FatTestImage::Long(s, 0xE5, u"First and sec", 7), s += 32;
  FatTestImage::Short(s, "\xE5" "IRSTA~1TXT", 0x20, 11, 1);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto keys = Keys(ScanVolume(vol));
  EXPECT_EQ(keys, (std::set<std::string>{os::ToUtf8(name), "First and second.txt"}));
}

TEST(FatScan, DeletedFoldersAndFilesBelowThem) {
  FatTestImage img = SmallFat12();
  uint8_t* r = img.Root();
  // Live folder with a deleted file.
  FatTestImage::Short(r, "DOCS       ", 0x10, 3), r += 32;
  img.SetFat(3, 0xFFF);
  img.Dots(3, 0);
  FatTestImage::Short(img.Cluster(3) + 64, "\xE5" "TXT    TXT", 0x20, 20, 3);
  // Deleted folder A (dots intact): a deleted file and a live file in it,
  // and a live subfolder B with a live file.
  FatTestImage::Short(r, "\xE5" "OLDER     ", 0x10, 4), r += 32;
  img.Dots(4, 0);
  uint8_t* a = img.Cluster(4) + 64;
  FatTestImage::Short(a, "\xE5" "ONE    TXT", 0x20, 21, 3), a += 32;
  FatTestImage::Short(a, "DIRECT  TXT", 0x20, 22, 3), a += 32;
  FatTestImage::Short(a, "B          ", 0x10, 5), a += 32;
  img.Dots(5, 4);
  FatTestImage::Short(img.Cluster(5) + 64, "LIVE    TXT", 0x20, 23, 3);
  // Deleted folder whose cluster now holds file data: not entered.
  FatTestImage::Short(r, "\xE5" "EUSED     ", 0x10, 6), r += 32;
  std::memset(img.Cluster(6), 'x', 512);
  // Deleted folder whose cluster was reused by another folder's entries
  // without "." first: not entered either.
  FatTestImage::Short(r, "\xE5" "THER      ", 0x10, 7), r += 32;
  FatTestImage::Short(img.Cluster(7), "\xE5" "HOST   TXT", 0x20, 24, 3);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto keys = Keys(ScanVolume(vol));
  EXPECT_EQ(keys, (std::set<std::string>{"DOCS\\_TXT.TXT", "_OLDER\\_ONE.TXT", "_OLDER\\B\\LIVE.TXT"}));

  // Files in and below the deleted folder carry its mark; the entry
  // number is the short entry's slot on the volume.
  auto items = ScanVolume(vol);
  ItemDetails d;
  ASSERT_TRUE(TheRegistry().FindDetails(items["DOCS\\_TXT.TXT"].idLow, d));
  EXPECT_EQ(d.flags & KX_FLAG_IN_DELETED_FOLDER, 0u);
  EXPECT_EQ(d.recordNumber, (uint64_t{img.FirstDataSector()} + 1) * 512 / 32 + 2);
  for (const char* below : {"_OLDER\\_ONE.TXT", "_OLDER\\B\\LIVE.TXT"}) {
    ASSERT_TRUE(TheRegistry().FindDetails(items[below].idLow, d)) << below;
    EXPECT_EQ(d.flags & KX_FLAG_IN_DELETED_FOLDER, KX_FLAG_IN_DELETED_FOLDER) << below;
  }
}

TEST(FatScan, CyclesEndInsteadOfLooping) {
  FatTestImage img = SmallFat12();
  uint8_t* r = img.Root();
  FatTestImage::Short(r, "LOOP       ", 0x10, 3), r += 32;
  img.Dots(3, 0);
  img.SetFat(3, 0xFFF);
  uint8_t* l = img.Cluster(3) + 64;
  FatTestImage::Short(l, "SELF       ", 0x10, 3), l += 32;   // back to itself
  FatTestImage::Short(l, "ZERO       ", 0x10, 0), l += 32;   // the fixed root
  FatTestImage::Short(l, "ONE        ", 0x10, 1), l += 32;
  FatTestImage::Short(l, "\xE5" "IN3    TXT", 0x20, 30, 1), l += 32;
  // A directory whose chain points back to itself, full of deleted files.
  FatTestImage::Short(r, "RING       ", 0x10, 4), r += 32;
  img.SetFat(4, 4);
  img.Dots(4, 0);
  for (int i = 2; i < 16; ++i) {
    char n[12];
    std::snprintf(n, sizeof n, "\xE5" "ING%02d  TXT", i);
    FatTestImage::Short(img.Cluster(4) + 32 * i, n, 0x20, 31, 1);
  }
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto keys = Keys(ScanVolume(vol));
  EXPECT_EQ(keys.size(), 15u);
  EXPECT_TRUE(keys.count("LOOP\\_IN3.TXT"));
  EXPECT_TRUE(keys.count("RING\\_ING15.TXT"));
}

TEST(FatScan, ClearedChainContinuesWithTheFollowingCluster) {
  FatTestImage img = SmallFat12();
  uint8_t* r = img.Root();
  // Deleted folder over clusters 5 and 6, its chain cleared (both free).
  FatTestImage::Short(r, "\xE5" "ONG       ", 0x10, 5), r += 32;
  img.Dots(5, 0);
  for (int i = 2; i < 16; ++i) {
    char n[12];
    std::snprintf(n, sizeof n, "\xE5" "IRST%02d TXT", i);
    FatTestImage::Short(img.Cluster(5) + 32 * i, n, 0x20, 50, 1);
  }
  FatTestImage::Short(img.Cluster(6), "\xE5" "ECOND  TXT", 0x20, 51, 1);
  // Deleted folder at 8, full, followed by file data at 9: the walk ends.
  FatTestImage::Short(r, "\xE5" "HORT      ", 0x10, 8), r += 32;
  img.Dots(8, 0);
  for (int i = 2; i < 16; ++i) {
    char n[12];
    std::snprintf(n, sizeof n, "\xE5" "NLY%02d  TXT", i);
    FatTestImage::Short(img.Cluster(8) + 32 * i, n, 0x20, 52, 1);
  }
  for (int i = 0; i < 512; ++i) img.Cluster(9)[i] = static_cast<uint8_t>(i * 37);
  // Deleted folder at 11, full, followed by another folder's first cluster.
  FatTestImage::Short(r, "\xE5" "EXT       ", 0x10, 11), r += 32;
  img.Dots(11, 0);
  for (int i = 2; i < 16; ++i) {
    char n[12];
    std::snprintf(n, sizeof n, "\xE5" "XT%02d   TXT", i);
    FatTestImage::Short(img.Cluster(11) + 32 * i, n, 0x20, 53, 1);
  }
  img.Dots(12, 0);
  FatTestImage::Short(img.Cluster(12) + 64, "\xE5" "THERS  TXT", 0x20, 54, 1);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  ASSERT_EQ(vol.volume().ChainsThroughFat(), true);
  auto keys = Keys(ScanVolume(vol));
  EXPECT_TRUE(keys.count("_ONG\\_ECOND.TXT"));
  EXPECT_FALSE(keys.count("_EXT\\_THERS.TXT"));
  EXPECT_EQ(keys.size(), 14u + 1 + 14 + 14);
  for (const auto& k : keys) EXPECT_EQ(k.find("\\..\\"), std::string::npos);
}

TEST(FatScan, ConsecutiveClustersWhenTheFatWasCleared) {
  FatTestImage img;
  img.Build();  // no chain in the FAT at all
  uint8_t* r = img.Root();
  FatTestImage::Short(r, "DIR        ", 0x10, 3);
  img.Dots(3, 0);
  for (int i = 2; i < 16; ++i) {
    char n[12];
    std::snprintf(n, sizeof n, "\xE5" "IL%02d   TXT", i);
    FatTestImage::Short(img.Cluster(3) + 32 * i, n, 0x20, 50, 1);
  }
  FatTestImage::Short(img.Cluster(4), "\xE5" "ATER   TXT", 0x20, 51, 1);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  ASSERT_EQ(vol.volume().ChainsThroughFat(), false);
  auto keys = Keys(ScanVolume(vol));
  EXPECT_EQ(keys.size(), 15u);
  EXPECT_TRUE(keys.count("DIR\\_ATER.TXT"));
}

TEST(FatScan, PathsStayWithinTheItemLimit) {
  FatTestImage img = SmallFat12(4, 600);
  std::u16string longName(200, u'n');
  uint32_t cluster = 3;
  uint8_t* slot = img.Root();
  for (int depth = 1; depth <= 6; ++depth, ++cluster) {
    longName[0] = static_cast<char16_t>(u'0' + depth);
    PutLongName(slot, longName, "N~1        ", 0x10, cluster, 0, false);
    img.SetFat(cluster, 0xFFF);
    img.Dots(cluster, cluster - 1);
    slot = img.Cluster(cluster) + 64;
    uint8_t* files = slot + 32 * 17;
    FatTestImage::Short(files, "\xE5" "       TXT", 0x20, 90, 1);
    PutLongName(files + 32, u"a twenty char name..", "ATWENT~1   ", 0x20, 90, 1, true);
  }
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto items = ScanVolume(vol);
  size_t deepest = 0, longest = 0;
  for (const auto& [p, item] : items) {
    deepest = std::max<size_t>(deepest, std::count(p.begin(), p.end(), '\\'));
    longest = std::max(longest, std::u16string(reinterpret_cast<const char16_t*>(item.path)).size());
  }
  EXPECT_EQ(deepest, 5u) << "a sixth level would pass 1023 units";
  EXPECT_LE(longest, kMaxItemPath);
  // Depth 5: "_.TXT" fits (1021 units), the 20-character name does not.
  EXPECT_EQ(items.size(), 4u * 2 + 1);
}

TEST(FatScan, NamesFromDiskCannotLeaveTheRecoveryFolder) {
  FatTestImage img = SmallFat12();
  uint8_t* s = img.Root();
  s = PutLongName(s, u"..", "DOTDOT~1   ", 0x20, 10, 3, true);
  s = PutLongName(s, u"..\\..\\evil:name/x", "EVIL~1     ", 0x20, 11, 4, true);
  s = PutLongName(s, u"CON", "CON~1      ", 0x20, 12, 2, true);
  std::memcpy(img.Cluster(10), "abc", 3);
  std::memcpy(img.Cluster(11), "evil", 4);
  std::memcpy(img.Cluster(12), "co", 2);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto items = ScanVolume(vol);
  EXPECT_EQ(Keys(items), (std::set<std::string>{"__", ".._.._evil_name_x", "_CON"}));
  TempDir out;
  for (const auto& [p, item] : items) {
    EXPECT_TRUE(vol.Recover(item.idLow, out.AsFolderArgument()).ok()) << p;
  }
  size_t files = 0;
  for (const auto& e : std::filesystem::recursive_directory_iterator(out.path()))
    if (e.is_regular_file()) {
      ++files;
      EXPECT_EQ(e.path().parent_path(), out.path() / "Deleted");
    }
  EXPECT_EQ(files, 3u);
  EXPECT_EQ(Sha256File(out.path() / "Deleted" / ".._.._evil_name_x"), Sha256Hex("evil", 4));
}

}  // namespace
}  // namespace kestrel::test

namespace kestrel::test {
namespace {

// Directory areas filled with random bytes under a valid boot sector: the
// walk must end, and whatever it lists must keep to the path rules.
TEST(FatScan, RandomDirectoryBytesNeitherCrashNorLoop) {
  uint32_t seed = 12345;
  auto next = [&] {
    seed = seed * 1103515245u + 12345u;
    return static_cast<uint8_t>(seed >> 16);
  };
  TempDir dir;
  for (int round = 0; round < 8; ++round) {
    SCOPED_TRACE(round);
    FatTestImage img;
    img.spc = round % 2 ? 1 : 2;
    img.total = 300;
    img.Build();
    // FAT, root and data: random, with a share of plausible-looking slots.
    for (size_t i = 512; i < img.bytes.size(); ++i) img.bytes[i] = next();
    for (size_t off = 512 * (1 + 2 * img.spf); off + 32 <= img.bytes.size(); off += 32) {
      uint8_t kind = next() % 4;
      if (kind == 0) img.bytes[off] = 0xE5;
      if (kind <= 1) img.bytes[off + 11] = (next() % 2) ? 0x10 : 0x20;
      if (kind == 2) img.bytes[off + 11] = 0x0F;
      if (kind <= 1) put16(&img.bytes[off + 0x14], 0);
      if (kind <= 1) put16(&img.bytes[off + 0x1A], static_cast<uint16_t>(2 + next() % 40));
    }
    MappedFatVolume vol(img.Save(dir, "r" + std::to_string(round) + ".img"));
    ASSERT_TRUE(vol.initialised());
    auto items = ScanVolume(vol);
    EXPECT_FALSE(items.empty()) << "the random slots should yield some files";
    TempDir out;
    int recovered = 0;
    for (const auto& [p, item] : items) {
      EXPECT_LE(std::u16string(reinterpret_cast<const char16_t*>(item.path)).size(), kMaxItemPath);
      if (recovered++ < 20) vol.Recover(item.idLow, out.AsFolderArgument());
    }
    for (const auto& e : std::filesystem::recursive_directory_iterator(out.path())) {
      auto rel = std::filesystem::relative(e.path(), out.path());
      EXPECT_EQ(*rel.begin(), "Deleted") << e.path();
    }
  }
}

TEST(FatRecovery, FailsWhenTheOutputCannotBeWritten) {
  FatTestImage img = SmallFat12();
  FatTestImage::Short(img.Root(), "\xE5" "NE     TXT", 0x20, 10, 3);
  std::memcpy(img.Cluster(10), "one", 3);
  TempDir dir;
  MappedFatVolume vol(img.Save(dir));
  ASSERT_TRUE(vol.initialised());
  auto items = ScanVolume(vol);
  ASSERT_EQ(items.size(), 1u);
  // The recovery folder lies below a regular file: nothing can be created.
  std::ofstream(dir.path() / "blocker") << "x";
  std::u16string folder = KernelPath(dir.path() / "blocker" / "out") + u"/";
  const uint32_t id = items.begin()->second.idLow;
  EXPECT_EQ(vol.Recover(id, folder).code, KX_RECOVER_WRITE_ERROR);
  EXPECT_EQ(vol.Recover(77, KernelPath(dir.path()) + u"/").code, KX_RECOVER_NOT_FOUND);
  // With a folder that works, the file arrives whole.
  TempDir out;
  EXPECT_TRUE(vol.Recover(id, out.AsFolderArgument()).ok());
  EXPECT_EQ(Sha256File(out.path() / "Deleted" / "_NE.TXT"), Sha256Hex("one", 3));
  // A stop request ends the recovery without claiming success.
  RequestStop();
  EXPECT_EQ(vol.Recover(id, out.AsFolderArgument()).code, KX_RECOVER_STOPPED);
  ClearStop();
}

}  // namespace
}  // namespace kestrel::test
