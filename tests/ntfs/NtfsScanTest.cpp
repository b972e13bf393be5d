// The deleted-file pass and the recovery writer over hand-built volumes:
// the corner cases (loops, over-long paths, unsafe names, reused parents,
// excluded files, failed reads and writes) the real tools cannot make.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#if !defined(_WIN32)
#include <signal.h>
#include <sys/resource.h>
#endif

#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/ntfs/NtfsRecovery.h"
#include "kernel/StopFlag.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/NtfsScan.h"
#include "kernel/os/Os.h"
#include "tests/ntfs/NtfsTestImage.h"
#include "tests/support/TestSupport.h"

namespace kestrel::ntfs {
namespace {

namespace fs = std::filesystem;
using test::EncodeRuns;
using test::FileTimeOf;
using test::NtfsLayout;
using test::NtfsTestImage;

constexpr char16_t kLetter = u'Q';
constexpr int64_t kTime = 1650000000;

std::vector<uint8_t> Bytes(size_t size, uint8_t seed) {
  std::vector<uint8_t> out(size);
  for (size_t i = 0; i < size; ++i) out[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return out;
}

std::vector<uint8_t> ReadAll(const fs::path& p) {
  std::ifstream in(p, std::ios::binary);
  return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), {});
}

// Maps the letter to an image file for the life of the object.
class Mapped {
 public:
  Mapped(const NtfsTestImage& image, const test::TempDir& dir, const char* name) {
    path_ = image.Write(dir.path(), name);
    EXPECT_TRUE(os::MapVolume(kLetter, test::KernelPath(path_)));
  }
  ~Mapped() { os::MapVolume(kLetter, u""); }
  const fs::path& path() const { return path_; }

 private:
  fs::path path_;
};

struct ScanResult {
  int result = -1;
  std::vector<test::PostedMessage> messages;
  std::vector<DelItem> items;
  std::u16string Path(size_t i) const {
    return std::u16string(reinterpret_cast<const char16_t*>(items[i].path));
  }
};

ScanResult Scan(KWindow window = nullptr, test::MessageCollector* collector = nullptr) {
  test::MessageCollector own;
  if (!collector) collector = &own;
  ScanRequest request;
  request.letter = kLetter;
  request.prefix = u"Q:\\";
  request.notifyWindow = window ? window : collector->window();
  DelItemRegistry registry;
  ScanResult out;
  ClearStop();  // as SH_Scan does before it starts the pass
  out.result = RunDeletedFileScan(request, registry);
  if (!window) collector->WaitForClose(5000);  // on Windows posted messages are pumped here
  out.messages = collector->messages();
  out.items.resize(registry.Count());
  for (size_t i = 0; i < registry.Count(); ++i) registry.CopyOut(i, &out.items[i]);
  return out;
}

const std::u16string kLongName(60, u'd');

// Folders 20 (docs, in use), 22 (gone, deleted), 25 (a file now), 26/27 (a
// loop), 30 ("..", in use), 40-69 (a chain too deep for a path).
NtfsTestImage TrickyVolume() {
  NtfsLayout layout;
  layout.mftRecords = 128;
  layout.totalClusters = 400;
  NtfsTestImage image(layout);
  auto folder = [&](uint64_t n, uint16_t flags, uint64_t parent, const std::u16string& name) {
    image.PutRecord(n, image.Record(flags).StdInfo(FileTimeOf(kTime)).FileName(parent, name));
  };
  auto file = [&](uint64_t n, uint64_t parent, const std::u16string& name,
                  const std::vector<uint8_t>& data, int64_t time) {
    image.PutRecord(n, image.Record(0)
                           .StdInfo(FileTimeOf(time))
                           .FileName(parent, name, 1, data.size())
                           .ResidentData(data));
  };
  folder(20, 3, 5, u"docs");
  file(21, 20, u"a.txt", Bytes(5, 1), kTime + 1);
  folder(22, 2, 5, u"gone");
  image.PutClusters(200, Bytes(10000, 2));
  image.PutRecord(23, image.Record(0)
                          .StdInfo(FileTimeOf(kTime + 2))
                          .FileName(22, u"b.bin", 1, 10000)
                          .NonResidentData(EncodeRuns({{3, 200}}), 0, 2, 10000));
  file(24, 25, u"orphan.txt", Bytes(7, 3), kTime + 3);
  image.PutRecord(25, image.Record(1).StdInfo(FileTimeOf(kTime)).FileName(5, u"took the record"));
  folder(26, 3, 27, u"L1");
  folder(27, 3, 26, u"L2");
  file(28, 26, u"loop.txt", Bytes(9, 4), kTime + 4);
  file(29, 30, u"a\\b:c?\x01.txt", Bytes(11, 5), kTime + 5);
  folder(30, 3, 5, u"..");
  image.PutRecord(31, image.Record(0).StdInfo(FileTimeOf(kTime)).FileName(5, u"DOSONLY.TXT", 2).ResidentData({1}));
  image.PutRecord(32, image.Record(0).StdInfo(FileTimeOf(kTime), 0x0800).FileName(5, u"packed.bin").ResidentData({1}));
  image.PutRecord(33, image.Record(0).StdInfo(FileTimeOf(kTime), 0x4000).FileName(5, u"secret.bin").ResidentData({1}));
  image.PutRecord(34, image.Record(0).StdInfo(FileTimeOf(kTime + 6)).FileName(5, u"nodata.bin", 1, 4321));
  file(35, 5, u"in use.txt", Bytes(3, 6), kTime);
  image.PutRecord(35, image.Record(1).StdInfo(FileTimeOf(kTime)).FileName(5, u"in use.txt").ResidentData({1}));
  file(36, 5, u"empty.dat", {}, kTime + 7);
  image.PutRecord(37, image.Record(0)
                          .StdInfo(FileTimeOf(kTime + 8))
                          .FileName(5, u"beyond.bin", 1, 8192)
                          .NonResidentData(EncodeRuns({{2, 100000}}), 0, 1, 8192));
  for (uint64_t n = 40; n < 70; ++n) folder(n, 3, n == 40 ? 5 : n - 1, kLongName);
  file(39, 69, u"deep.txt", Bytes(13, 7), kTime + 9);
  return image;
}

TEST(NtfsScan, ListsEveryDeletedFileWithItsPath) {
  test::TempDir dir;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  ScanResult r = Scan();
  EXPECT_EQ(r.result, 1);
  std::vector<std::u16string> expected = {
      u"Q:\\Deleted\\docs\\a.txt",     u"Q:\\Deleted\\gone\\b.bin",
      u"Q:\\Deleted\\orphan.txt",      u"Q:\\Deleted\\L2\\L1\\loop.txt",
      u"Q:\\Deleted\\__\\a_b_c__.txt", u"Q:\\Deleted\\packed.bin",
      u"Q:\\Deleted\\secret.bin",      u"Q:\\Deleted\\nodata.bin",
      u"Q:\\Deleted\\empty.dat",       u"Q:\\Deleted\\beyond.bin"};
  // The deep item (39) comes last; its path has its own test.
  ASSERT_EQ(r.items.size(), expected.size() + 1);
  // Compressed (32) and encrypted (33) files are listed too.
  std::vector<uint64_t> ids = {21, 23, 24, 28, 29, 32, 33, 34, 36, 37, 39};
  for (size_t i = 0; i < r.items.size(); ++i) {
    EXPECT_EQ(r.items[i].idLow, ids[i]);
    EXPECT_EQ(r.items[i].idHigh, 0u);
    if (i < expected.size()) {
      EXPECT_EQ(r.Path(i), expected[i]) << i;
    }
  }
  EXPECT_EQ(r.items[1].size, 10000u);
  EXPECT_EQ(r.items[7].size, 4321u) << "no data stream: the size from the file name";
  EXPECT_EQ(r.items[8].size, 0u);
  EXPECT_EQ(r.items[0].modified, test::LocalTime(FileTimeOf(kTime + 1)));
  EXPECT_EQ(r.items[10].modified, test::LocalTime(FileTimeOf(kTime + 9)));

  // The messages: 1, 2, 3 ... then one WM_CLOSE, last.
  std::vector<uintptr_t> counts;
  for (const auto& m : r.messages)
    if (m.message == KESTREL_WM_SCAN_FOUND_COUNT) counts.push_back(m.wParam);
  ASSERT_EQ(counts.size(), r.items.size());
  for (size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], i + 1);
  ASSERT_FALSE(r.messages.empty());
  EXPECT_EQ(r.messages.back().message, KESTREL_WM_CLOSE);
  EXPECT_EQ(r.messages.size(), counts.size() + 1);
}

TEST(NtfsScan, OverLongPathsAreCutAtAComponent) {
  test::TempDir dir;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  ScanResult r = Scan();
  ASSERT_EQ(r.items.size(), 11u);
  std::u16string deep = r.Path(10);
  EXPECT_LE(deep.size(), kMaxItemPath);
  EXPECT_GT(deep.size(), kMaxItemPath - 62) << "as many folders as fit";
  const std::u16string head = u"Q:\\Deleted\\";
  ASSERT_EQ(deep.compare(0, head.size(), head), 0);
  std::u16string rest = deep.substr(head.size());
  // Whole folder names only, then the file's own name.
  const std::u16string leaf = u"deep.txt";
  ASSERT_GE(rest.size(), leaf.size());
  EXPECT_EQ(rest.substr(rest.size() - leaf.size()), leaf);
  rest.resize(rest.size() - leaf.size());
  EXPECT_EQ(rest.size() % (kLongName.size() + 1), 0u);
  for (size_t i = 0; i < rest.size(); i += kLongName.size() + 1) {
    EXPECT_EQ(rest.substr(i, kLongName.size()), kLongName);
    EXPECT_EQ(rest[i + kLongName.size()], u'\\');
  }
}

#if !defined(_WIN32)  // the sink stands in for a window on POSIX only
TEST(NtfsScan, StoppingKeepsWhatWasFound) {
  test::TempDir dir;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  struct Ctx {
    test::MessageCollector* collector;
    std::vector<test::PostedMessage> seen;
  };
  Ctx ctx;
  KestrelSink sink{};
  sink.context = &ctx;
  sink.post = [](void* c, uint32_t message, uintptr_t w, intptr_t l) {
    static_cast<Ctx*>(c)->seen.push_back({message, w, l});
    if (message == KESTREL_WM_SCAN_FOUND_COUNT && w == 2) RequestStop();
  };
  ScanResult r = Scan(&sink);
  ClearStop();
  EXPECT_EQ(r.result, 1);
  EXPECT_EQ(r.items.size(), 2u);
  ASSERT_EQ(ctx.seen.size(), 3u);
  EXPECT_EQ(ctx.seen.back().message, KESTREL_WM_CLOSE);
}
#endif

TEST(NtfsScan, UnusableVolumesOnlyClose) {
  test::TempDir dir;
  NtfsTestImage notNtfs;
  std::fill(notNtfs.bytes().begin(), notNtfs.bytes().begin() + 512, 0);
  {
    Mapped mapped(notNtfs, dir, "zero.img");
    ScanResult r = Scan();
    EXPECT_EQ(r.result, 0);
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].message, KESTREL_WM_CLOSE);
  }
  NtfsLayout tiny;
  tiny.mftRecords = 16;
  NtfsTestImage sixteen(tiny);
  {
    Mapped mapped(sixteen, dir, "sixteen.img");
    ScanResult r = Scan();
    EXPECT_EQ(r.result, 1);
    EXPECT_TRUE(r.items.empty());
    ASSERT_EQ(r.messages.size(), 1u);
    EXPECT_EQ(r.messages[0].message, KESTREL_WM_CLOSE);
  }
}

TEST(NtfsScan, DriveLettersInEitherCaseOpenTheSameVolume) {
  test::TempDir dir;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  CNTFSVolume upper(u'Q'), lower(u'q'), digit(u'1'), unmapped(u'R');
  EXPECT_TRUE(upper.IsUsable());
  EXPECT_TRUE(lower.IsUsable());
  EXPECT_EQ(lower.RecordCount(), upper.RecordCount());
  EXPECT_FALSE(digit.IsUsable());
  EXPECT_FALSE(unmapped.IsUsable());
}

TEST(NtfsRecovery, WritesUnderTheItemsPathAndReportsFailures) {
  test::TempDir dir, out;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  const std::u16string folder = out.AsFolderArgument();
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 21), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "docs" / "a.txt"), Bytes(5, 1));
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 23), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "gone" / "b.bin"), Bytes(10000, 2));
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 24), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "orphan.txt"), Bytes(7, 3));
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 28), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "L2" / "L1" / "loop.txt"), Bytes(9, 4));
  // The unsafe names stay inside the folder, named as the scan listed them.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 29), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "__" / "a_b_c__.txt"), Bytes(11, 5));
  // A 0-byte file.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 36), 1);
  EXPECT_TRUE(fs::exists(out.path() / "Deleted" / "empty.dat"));
  EXPECT_EQ(fs::file_size(out.path() / "Deleted" / "empty.dat"), 0u);
  // Recovering again keeps the first copy and numbers the second.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 21), 1);
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "docs" / "a.txt"), Bytes(5, 1));
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "docs" / "a (2).txt"), Bytes(5, 1));

  // A stopped copy is not reported as recovered, and what it got is marked
  // as incomplete rather than left under the real name.
  RequestStop();
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 23), 0);
  ClearStop();
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "gone" / "b.bin"), Bytes(10000, 2)) << "untouched";
  EXPECT_FALSE(fs::exists(out.path() / "Deleted" / "gone" / "b (2).bin"));

  // No data stream: nothing to copy, and nothing is written.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 34), 0);
  EXPECT_FALSE(fs::exists(out.path() / "Deleted" / "nodata.bin"));
  // Data beyond the end of the volume cannot be read: not a success.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 37), 0);
  // Records that are not files, or not there.
  // Resident data in a compressed file is stored as it is; an encrypted
  // file leaves nothing behind.
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 32), 1) << "compressed";
  EXPECT_EQ(ReadAll(out.path() / "Deleted" / "packed.bin"), std::vector<uint8_t>{1});
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 33), 0) << "encrypted";
  EXPECT_FALSE(fs::exists(out.path() / "Deleted" / "secret.bin"));
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 120), 0) << "empty record";
  EXPECT_EQ(RecoverNtfsItem(kLetter, folder, 5000), 0) << "past the $MFT";
  EXPECT_EQ(RecoverNtfsItem(u'R', folder, 21), 0) << "no such volume";

  size_t files = 0;
  for (const auto& entry : fs::recursive_directory_iterator(out.path())) {
    if (entry.is_regular_file()) ++files;
    // Nothing escaped the recovery folder.
    std::string rel = fs::relative(entry.path(), out.path()).string();
    EXPECT_EQ(rel.rfind("Deleted", 0), 0u) << rel;
  }
  EXPECT_EQ(files, 9u);
}

TEST(NtfsRecovery, TheDeepestItemGoesWhereTheScanListedIt) {
  test::TempDir dir, out;
  Mapped mapped(TrickyVolume(), dir, "tricky.img");
  ScanResult r = Scan();
  ASSERT_EQ(r.items.size(), 11u);
  ASSERT_EQ(r.items[10].idLow, 39u);
  std::u16string listed = r.Path(10).substr(std::u16string(u"Q:\\").size());
  ClearStop();
  ASSERT_EQ(RecoverNtfsItem(kLetter, out.AsFolderArgument(), 39), 1);
#if !defined(_WIN32)  // beyond MAX_PATH the test's own file calls fail on Windows
  std::string rel = os::ToUtf8(listed);
  for (char& c : rel)
    if (c == '\\') c = '/';
  EXPECT_EQ(ReadAll(out.path() / rel), Bytes(13, 7));
#endif
}

TEST(NtfsRecovery, TwentyFiveMegabytesInTenMegabyteBlocks) {
  constexpr uint64_t kSize = 25 * 1024 * 1024 + 123;
  NtfsLayout layout;
  layout.totalClusters = 7100;
  NtfsTestImage image(layout);
  std::vector<uint8_t> data(kSize);
  for (size_t i = 0; i < kSize; ++i) data[i] = static_cast<uint8_t>(i * 31 + (i >> 12));
  // Two runs, the second before the first on the disk.
  uint64_t clusters = (kSize + 4095) / 4096;
  uint64_t firstPart = 4000;
  image.PutClusters(3000, {data.begin(), data.begin() + firstPart * 4096});
  image.PutClusters(100, {data.begin() + firstPart * 4096, data.end()});
  image.PutRecord(20, image.Record(0)
                          .StdInfo(FileTimeOf(kTime))
                          .FileName(5, u"big.bin", 1, kSize)
                          .NonResidentData(EncodeRuns({{firstPart, 3000}, {clusters - firstPart, 100}}),
                                           0, clusters - 1, kSize));
  test::TempDir dir, out;
  Mapped mapped(image, dir, "big.img");
  ASSERT_EQ(RecoverNtfsItem(kLetter, out.AsFolderArgument(), 20), 1);
  fs::path written = out.path() / "Deleted" / "big.bin";
  EXPECT_EQ(test::Sha256File(written), test::Sha256Hex(data.data(), data.size()));

#if !defined(_WIN32)
  // A write that fails (here: a file-size limit) is not a success either.
  struct rlimit saved;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &saved), 0);
  auto previous = signal(SIGXFSZ, SIG_IGN);
  struct rlimit small = saved;
  small.rlim_cur = 12 * 1024 * 1024;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  int result = RecoverNtfsItem(kLetter, out.AsFolderArgument(), 20);
  setrlimit(RLIMIT_FSIZE, &saved);
  signal(SIGXFSZ, previous);
  EXPECT_EQ(result, 0);
  // The first copy stands; the failed one is only a .partial beside it.
  EXPECT_EQ(fs::file_size(written), kSize);
  const fs::path partial = out.path() / "Deleted" / "big.bin.partial";
  ASSERT_TRUE(fs::exists(partial));
  EXPECT_LT(fs::file_size(partial), kSize);
  EXPECT_FALSE(fs::exists(out.path() / "Deleted" / "big (2).bin"));
#endif
}

}  // namespace
}  // namespace kestrel::ntfs
