// Damaged and hostile volumes through the exports: images cut short (their
// boot sectors claim more sectors than exist), images whose tables were
// wiped, zero-filled images, FAT32 root clusters outside the data area and
// NTFS files claiming sizes and runs far beyond the volume. Every scan must
// end, list only what the data allows, and every recovery must either write
// the file's true bytes or report 0; nothing may appear outside the folder.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "tests/ntfs/NtfsTestImage.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

std::u16string PathOf(const DelItem& item) {
  return std::u16string(reinterpret_cast<const char16_t*>(item.path));
}

std::string Slashes(std::string path) {
  for (char& c : path)
    if (c == '\\') c = '/';
  return path;
}

std::vector<uint8_t> ReadPrefix(const fs::path& file, uint64_t length) {
  std::ifstream in(file, std::ios::binary);
  std::vector<uint8_t> bytes(static_cast<size_t>(length));
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  bytes.resize(static_cast<size_t>(in.gcount()));
  return bytes;
}

fs::path WriteImage(const fs::path& file, const std::vector<uint8_t>& bytes, uint64_t size) {
  {
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  }
  fs::resize_file(file, size);  // the rest reads as zeros
  return file;
}

// Every regular file below `root`, relative, "/" between components.
std::vector<std::string> FilesBelow(const fs::path& root) {
  std::vector<std::string> out;
  if (!fs::exists(root)) return out;
  for (const auto& e : fs::recursive_directory_iterator(root))
    if (e.is_regular_file()) {
      auto text = fs::relative(e.path(), root).generic_u8string();
      out.emplace_back(text.begin(), text.end());
    }
  return out;
}

struct Outcome {
  size_t items = 0;
  int recovered = 0;
};

// Scans `mapping` on H: as `kind`, checks the items' paths, recovers every
// item and checks each reported success against the manifest's bytes.
Outcome ScanAndRecoverAll(const std::u16string& mapping, int kind,
                          const std::map<std::string, std::string>& sums,
                          const std::string& what) {
  SCOPED_TRACE(what);
  Outcome outcome;
  MountedKernel kernel({{u'H', mapping}});
  auto partitions = AllPartitions();
  auto listed = partitions.find(u"H:");
  if (kind == KESTREL_FS_FAT && (listed == partitions.end() || listed->second.fsKind != KESTREL_FS_FAT)) {
    // Not taken for a FAT volume: the scan starts nothing and lists nothing.
    MessageCollector sink;
    SH_Scan(K(u"H:\\"), K(u"H:"), kind, sink.window());
    SH_StopTask();
    EXPECT_EQ(SH_GetDelItemCount(), 0);
    return outcome;
  }
  std::vector<PostedMessage> messages = ScanAndWait(u"H:", kind);
  std::vector<DelItem> items = AllItems();
  outcome.items = items.size();
  EXPECT_EQ(messages.back().message, KESTREL_WM_CLOSE);

  TempDir scratch;
  fs::path folder = scratch.path() / "out";
  fs::create_directories(folder);
  const std::u16string folderArgument = KernelPath(folder) + scratch.AsFolderArgument().back();
  for (const DelItem& item : items) {
    std::u16string path = PathOf(item);
    EXPECT_EQ(path.rfind(u"H:\\Deleted\\", 0), 0u) << Utf8(item.path);
    if (path.rfind(u"H:\\Deleted\\", 0) != 0) continue;
    std::string relative = Slashes(Utf8(item.path).substr(std::strlen("H:\\Deleted\\")));
    int result = SH_RecoveryFile(K(folderArgument), item.idLow, item.idHigh);
    if (result != 1) continue;
    ++outcome.recovered;
    // A success is the file's true content, never what lay after the cut.
    auto expected = sums.find(relative);
    EXPECT_NE(expected, sums.end()) << "recovered an item not deleted: " << relative;
    if (expected == sums.end()) continue;
    EXPECT_EQ(Sha256File(folder / "Deleted" / fs::u8path(relative)), expected->second)
        << "reported as recovered: " << relative;
  }
  // Everything written lies below the recovery folder.
  for (const auto& e : fs::directory_iterator(scratch.path()))
    EXPECT_EQ(e.path().filename(), "out") << e.path();
  for (const std::string& file : FilesBelow(folder))
    EXPECT_EQ(file.rfind("Deleted/", 0), 0u) << file;
  return outcome;
}

std::map<std::string, std::string> Sums(const std::string& name) {
  std::map<std::string, std::string> sums;
  for (const ManifestEntry& e : ReadManifest(name)) sums[e.path] = e.sha256;
  return sums;
}

// Each fixture cut at several points (through the boot area, the tables,
// the directories and the data), with its tables wiped behind the boot
// sector, and zero-filled. The cuts are exposed as "@0+LENGTH" mappings, so
// the boot sector claims more sectors than the device has.
class DamagedImages : public ::testing::TestWithParam<const char*> {};

TEST_P(DamagedImages, EveryStepEndsAndNeverClaimsGarbage) {
  const std::string name = GetParam();
  fs::path image = RequireImage(name);
  if (image.empty()) return;
  const int kind = name.rfind("ntfs", 0) == 0 ? KESTREL_FS_NTFS : KESTREL_FS_FAT;
  const auto sums = Sums(name);
  const uint64_t size = fs::file_size(image);
  const Outcome intact = ScanAndRecoverAll(KernelPath(image), kind, sums, "whole");
  const size_t whole = intact.items;
  ASSERT_EQ(whole, sums.size());
  EXPECT_EQ(intact.recovered, static_cast<int>(whole));

  const uint64_t cuts[] = {511, 512, 4096, 16 * 1024 + 3 * 1024, 64 * 1024, 100 * 1024,
                           size / 4, size / 2, size - 1024 * 1024};
  for (uint64_t cut : cuts) {
    std::u16string mapping = KernelPath(image) + U16("@0+" + std::to_string(cut));
    Outcome o = ScanAndRecoverAll(mapping, kind, sums, "cut at " + std::to_string(cut));
    EXPECT_LE(o.items, whole);
    if (cut <= 512) {
      EXPECT_EQ(o.items, 0u) << "nothing but a boot sector";
    }
  }
  // The near-complete copy loses only data: its tables are whole. A FAT
  // volume larger than its device is refused as damaged, not half listed.
  std::u16string late = KernelPath(image) + U16("@0+" + std::to_string(size - 1024 * 1024));
  EXPECT_EQ(ScanAndRecoverAll(late, kind, sums, "late cut").items,
            kind == KESTREL_FS_FAT ? 0u : whole);

  TempDir work;
  fs::path bootOnly = WriteImage(work.path() / "boot.img", ReadPrefix(image, 512), size);
  EXPECT_EQ(ScanAndRecoverAll(KernelPath(bootOnly), kind, sums, "tables wiped").items, 0u);
  fs::path zeros = WriteImage(work.path() / "zero.img", {}, size);
  EXPECT_EQ(ScanAndRecoverAll(KernelPath(zeros), kind, sums, "zero-filled").items, 0u);
}

INSTANTIATE_TEST_SUITE_P(Fixtures, DamagedImages,
                         ::testing::Values("ntfs", "ntfs_s4k", "fat12", "fat16", "fat32"));

// A FAT32 root cluster of 0, 1 or past the last cluster would put the root
// directory in the reserved or FAT area, or past the volume.
TEST(HostileFat, RootClusterOutsideTheDataArea) {
  fs::path image = RequireImage("fat32");
  if (image.empty()) return;
  const auto sums = Sums("fat32");
  std::vector<uint8_t> bytes = ReadPrefix(image, fs::file_size(image));
  TempDir work;
  for (uint32_t root : {0u, 1u, 0x0FFFFFF0u, 0xFFFFFFFFu}) {
    std::vector<uint8_t> patched = bytes;
    std::memcpy(patched.data() + 0x2C, &root, 4);  // little-endian hosts only
    fs::path file = WriteImage(work.path() / "root.img", patched, patched.size());
    Outcome o = ScanAndRecoverAll(KernelPath(file), KESTREL_FS_FAT, sums,
                                  "root cluster " + std::to_string(root));
    EXPECT_EQ(o.items, 0u);
  }
}

// Deleted NTFS files whose $DATA claims 2^63 bytes, or runs far past the
// volume: listed with the claimed size, recovered as failures at once.
TEST(HostileNtfs, SizesAndRunsBeyondTheVolume) {
  NtfsTestImage image;
  const uint64_t huge = uint64_t{1} << 63;
  image.PutClusters(100, std::vector<uint8_t>(8192, 0x5A));
  // Two real clusters, then nothing: the claimed size cannot be read.
  image.PutRecord(16, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"huge.bin", 1, huge)
                          .NonResidentData(EncodeRuns({{2, 100}}), 0, 1, huge));
  // The extent claims every VCN up to 2^62: the runs end long before.
  image.PutRecord(17, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"span.bin")
                          .NonResidentData(EncodeRuns({{2, 100}}), 0, (uint64_t{1} << 62) - 1, huge - 1));
  // A real cluster, then 2^40 sparse ones: petabytes of nothing, which
  // must not be written out as zeros until the disk is full.
  image.PutRecord(19, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"holes.bin")
                          .NonResidentData(EncodeRuns({{1, 100}, {uint64_t{1} << 40, -1}}), 0,
                                           uint64_t{1} << 40, ((uint64_t{1} << 40) + 1) * 4096));
  // One run of 2^40 clusters starting past the end of the volume.
  image.PutRecord(18, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"far.bin")
                          .NonResidentData(EncodeRuns({{uint64_t{1} << 40, int64_t{1} << 50}}), 0,
                                           (uint64_t{1} << 40) - 1, uint64_t{1} << 52));
  TempDir work;
  fs::path file = image.Write(work.path(), "huge.img");
  MountedKernel kernel({{u'H', KernelPath(file)}});
  ScanAndWait(u"H:", KESTREL_FS_NTFS);
  std::map<std::u16string, DelItem> byPath;
  for (const DelItem& item : AllItems()) byPath[PathOf(item)] = item;
  ASSERT_EQ(byPath.size(), 4u);
  EXPECT_EQ(byPath[u"H:\\Deleted\\huge.bin"].size, huge);
  EXPECT_EQ(byPath[u"H:\\Deleted\\far.bin"].size, uint64_t{1} << 52);

  TempDir out;
  for (const auto& [path, item] : byPath)
    EXPECT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh), 0)
        << Utf8(item.path);
  for (const std::string& f : FilesBelow(out.path())) {
    EXPECT_LE(fs::file_size(out.path() / fs::u8path(f)), 10u * 1024 * 1024) << f;
  }
}

// Sparse runs inside and at the end of a large file come out as zeros
// (holes where the file system has them), at the right offsets.
TEST(HostileNtfs, SparseRunsComeOutAsZeros) {
  NtfsLayout layout;
  layout.totalClusters = 400;
  NtfsTestImage image(layout);
  std::vector<uint8_t> first(4096, 0xA1), last(4096, 0xB2);
  image.PutClusters(100, first);
  image.PutClusters(101, last);
  const uint64_t gap = 3000;  // 12 MiB of nothing: more than one copy block
  image.PutRecord(16, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"middle.bin")
                          .NonResidentData(EncodeRuns({{1, 100}, {gap, -1}, {1, 101}}), 0, gap + 1,
                                           (gap + 2) * 4096));
  image.PutRecord(17, image.Record(0).StdInfo(FileTimeOf(1600000000)).FileName(5, u"tail.bin")
                          .NonResidentData(EncodeRuns({{1, 100}, {gap, -1}}), 0, gap, (gap + 1) * 4096));
  TempDir work, out;
  MountedKernel kernel({{u'H', KernelPath(image.Write(work.path(), "sparse.img"))}});
  ScanAndWait(u"H:", KESTREL_FS_NTFS);
  std::vector<uint8_t> zeros(gap * 4096, 0);
  std::vector<uint8_t> middle = first, tail = first;
  middle.insert(middle.end(), zeros.begin(), zeros.end());
  middle.insert(middle.end(), last.begin(), last.end());
  tail.insert(tail.end(), zeros.begin(), zeros.end());
  for (const DelItem& item : AllItems()) {
    ASSERT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh), 1) << Utf8(item.path);
  }
  EXPECT_EQ(Sha256File(out.path() / "Deleted" / "middle.bin"), Sha256Hex(middle.data(), middle.size()));
  EXPECT_EQ(Sha256File(out.path() / "Deleted" / "tail.bin"), Sha256Hex(tail.data(), tail.size()));
}

}  // namespace
}  // namespace kestrel::test
