// The NTFS engine through the exports, on real volumes made by mkntfs and
// the ntfs-3g driver (tests/fixtures/make_ntfs*.sh): every deleted file is
// listed once with its path, size and time, and recovered byte-exact.
#include <gtest/gtest.h>

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

std::u16string Backslashes(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return U16(path);
}

class NtfsImage : public ::testing::TestWithParam<const char*> {};

TEST_P(NtfsImage, EveryDeletedFileIsFoundOnceAndRecoveredExactly) {
  const std::string name = GetParam();
  fs::path image = RequireImage(name);
  if (image.empty()) return;
  std::vector<ManifestEntry> manifest = ReadManifest(name);
  ASSERT_FALSE(manifest.empty());

  MountedKernel kernel({{u'N', KernelPath(image)}});
  std::vector<PostedMessage> messages = ScanAndWait(u"N:", KESTREL_FS_NTFS);
  std::vector<DelItem> items = AllItems();

  // Nothing but the deleted files, each once.
  EXPECT_EQ(items.size(), manifest.size());
  std::map<std::u16string, const DelItem*> byPath;
  for (const DelItem& item : items) {
    EXPECT_TRUE(byPath.emplace(PathOf(item), &item).second) << Utf8(item.path) << " twice";
  }
  for (const ManifestEntry& entry : manifest) {
    std::u16string expected = u"N:\\Deleted\\" + Backslashes(entry.path);
    auto found = byPath.find(expected);
    ASSERT_NE(found, byPath.end()) << "not found: " << entry.path;
    const DelItem& item = *found->second;
    EXPECT_EQ(item.size, entry.size) << entry.path;
    EXPECT_EQ(item.modified, LocalTime(FileTimeOf(entry.mtime))) << entry.path;
  }

  // The count messages run 1, 2, 3 ... and WM_CLOSE comes once, last.
  std::vector<uintptr_t> counts;
  int closes = 0;
  for (const PostedMessage& m : messages) {
    if (m.message == KESTREL_WM_SCAN_FOUND_COUNT) counts.push_back(m.wParam);
    if (m.message == KESTREL_WM_CLOSE) ++closes;
  }
  ASSERT_EQ(counts.size(), items.size());
  for (size_t i = 0; i < counts.size(); ++i) EXPECT_EQ(counts[i], i + 1);
  EXPECT_EQ(closes, 1);
  ASSERT_FALSE(messages.empty());
  EXPECT_EQ(messages.back().message, KESTREL_WM_CLOSE);

  TempDir out;
  const std::u16string folder = out.AsFolderArgument();
  for (const ManifestEntry& entry : manifest) {
    auto found = byPath.find(u"N:\\Deleted\\" + Backslashes(entry.path));
    if (found == byPath.end()) continue;
    const DelItem& item = *found->second;
    EXPECT_EQ(SH_RecoveryFile(K(folder), item.idLow, item.idHigh), 1) << entry.path;
    fs::path written = out.path() / "Deleted" / fs::u8path(entry.path);
    ASSERT_TRUE(fs::exists(written)) << entry.path;
    EXPECT_EQ(fs::file_size(written), entry.size) << entry.path;
    EXPECT_EQ(Sha256File(written), entry.sha256) << entry.path;
  }
}

INSTANTIATE_TEST_SUITE_P(Geometries, NtfsImage,
                         ::testing::Values("ntfs", "ntfs_c512", "ntfs_s4k"));

// A copy of the volume that lost its last megabytes: files whose data lay
// there cannot be read, and their recovery must not claim success.
TEST(NtfsImageDamaged, UnreadableDataIsNeverReportedAsRecovered) {
  fs::path image = RequireImage("ntfs");
  if (image.empty()) return;
  std::vector<ManifestEntry> manifest = ReadManifest("ntfs");
  TempDir work;
  fs::path cut = work.path() / "cut.img";
  {
    std::ifstream in(image, std::ios::binary);
    std::ofstream outFile(cut, std::ios::binary);
    std::vector<char> buffer(1 << 20);
    uint64_t keep = fs::file_size(image) - 8 * 1024 * 1024;
    for (uint64_t done = 0; done < keep;) {
      in.read(buffer.data(), static_cast<std::streamsize>(std::min<uint64_t>(buffer.size(), keep - done)));
      outFile.write(buffer.data(), in.gcount());
      done += static_cast<uint64_t>(in.gcount());
      if (in.gcount() == 0) break;
    }
  }
  MountedKernel kernel({{u'N', KernelPath(cut)}});
  ScanAndWait(u"N:", KESTREL_FS_NTFS);
  std::vector<DelItem> items = AllItems();
  ASSERT_EQ(items.size(), manifest.size()) << "the table itself is intact";
  std::map<std::u16string, std::string> sums;
  for (const ManifestEntry& e : manifest) sums[u"N:\\Deleted\\" + Backslashes(e.path)] = e.sha256;
  TempDir out;
  int failures = 0;
  for (const DelItem& item : items) {
    std::u16string path = PathOf(item);
    int result = SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh);
    if (result == 0) {
      ++failures;
      continue;
    }
    std::string rel = Utf8(item.path).substr(std::string("N:\\Deleted\\").size());
    for (char& c : rel)
      if (c == '\\') c = '/';
    EXPECT_EQ(Sha256File(out.path() / "Deleted" / fs::u8path(rel)), sums[path])
        << "reported as recovered: " << rel;
  }
  EXPECT_GE(failures, 1) << "the 30 MiB file lies partly in the lost megabytes";
}

// Recoveries keep the scanned volume open between items. Scanning another
// volume, and remapping the letter between SH_UnInit and SH_Init, must
// both make the next recovery read the new volume, not the one kept.
TEST(NtfsImageRecovery, TheKeptVolumeFollowsTheLastScan) {
  fs::path first = RequireImage("ntfs");
  fs::path second = RequireImage("sample_ntfs");
  if (first.empty() || second.empty()) return;
  auto recoverAll = [](const std::string& name, const std::u16string& volume) {
    std::map<std::u16string, std::string> sums;
    for (const ManifestEntry& e : ReadManifest(name)) sums[volume + u"\\Deleted\\" + Backslashes(e.path)] = e.sha256;
    TempDir out;
    int matched = 0;
    for (const DelItem& item : AllItems()) {
      auto expected = sums.find(PathOf(item));
      if (expected == sums.end()) continue;
      EXPECT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh), 1) << Utf8(item.path);
      std::string rel = Utf8(item.path).substr(std::string("N:\\Deleted\\").size());
      for (char& c : rel)
        if (c == '\\') c = '/';
      EXPECT_EQ(Sha256File(out.path() / "Deleted" / fs::u8path(rel)), expected->second) << rel;
      ++matched;
    }
    return matched;
  };
  {
    MountedKernel kernel({{u'N', KernelPath(first)}, {u'M', KernelPath(second)}});
    ScanAndWait(u"N:", KESTREL_FS_NTFS);
    EXPECT_EQ(recoverAll("ntfs", u"N:"), static_cast<int>(ReadManifest("ntfs").size()));
    ScanAndWait(u"M:", KESTREL_FS_NTFS);
    EXPECT_EQ(recoverAll("sample_ntfs", u"M:"), static_cast<int>(ReadManifest("sample_ntfs").size()));
  }
  MountedKernel remapped({{u'N', KernelPath(second)}});
  ScanAndWait(u"N:", KESTREL_FS_NTFS);
  EXPECT_EQ(recoverAll("sample_ntfs", u"N:"), static_cast<int>(ReadManifest("sample_ntfs").size()));
}

}  // namespace
}  // namespace kestrel::test
