// Format recovery over volumes the real tools filled and then quick-
// formatted: the old files come back under "Previous file system" with
// their folders and their bytes; folder chains that break or loop end
// under "Lost folders".
#include <gtest/gtest.h>

#include <filesystem>
#include <map>

#include "kernel/Kestrel.h"
#include "kernel/formatted/OldFat.h"
#include "kernel/formatted/OldTree.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;
const std::string kTop = "K:\\Deleted\\Previous file system\\";

struct Found {
  DelItem item;
  KX_ItemInfo info;
};

// Scans K: for its previous file system; items by their path below the top
// folder, "/" between folders.
std::map<std::string, Found> ScanFormatted(int& status) {
  MessageCollector sink;
  EXPECT_EQ(KX_StartScan(K(u"K:\\"), K(u"K:"), KX_MODE_FORMATTED, sink.window()), 1);
  EXPECT_TRUE(sink.WaitForClose()) << "scan did not end";
  SH_StopTask();
  EXPECT_EQ(sink.CloseCount(), 1);
  status = KX_GetLastScanStatus(nullptr, 0);
  std::map<std::string, Found> out;
  for (const DelItem& item : AllItems()) {
    std::string path = Utf8(item.path);
    EXPECT_EQ(path.rfind(kTop, 0), 0u) << path;
    path = path.substr(kTop.size());
    for (char& c : path) if (c == '\\') c = '/';
    Found f{item, {}};
    f.info.size = sizeof f.info;
    EXPECT_EQ(KX_GetDelItemInfo(item.idLow, item.idHigh, &f.info), 1);
    EXPECT_TRUE(f.info.flags & KX_FLAG_PREVIOUS_FS) << path;
    EXPECT_TRUE(out.emplace(path, f).second) << "two items at " << path;
  }
  return out;
}

std::string Recover(const Found& f, const TempDir& out) {
  EXPECT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), f.item.idLow, f.item.idHigh), 1)
      << Utf8(f.item.path);
  KChar written[1024];
  if (KX_GetLastOutputPath(written, 1024) <= 0) return {};
  return Sha256File(fs::u8path(Utf8(written)));
}

// Every file of the old NTFS whose record lies outside the new $MFT comes
// back at its own path; those judged intact come back byte for byte.
TEST(FormatRecovery, NtfsFilesComeBackWithTheirPathsAfterAQuickFormat) {
  for (const char* name : {"fmt_ntfs_same", "fmt_ntfs_diff"}) {
    auto image = RequireImage(name);
    if (image.empty()) return;
    MountedKernel kernel({{u'K', KernelPath(image)}});
    int status = -1;
    auto found = ScanFormatted(status);
    EXPECT_EQ(status, KX_SCAN_OK) << name;
    TempDir out;
    size_t intact = 0;
    for (const ManifestEntry& e : ReadManifest(name)) {
      auto it = found.find(e.path);
      if (it == found.end()) {
        ADD_FAILURE() << name << ": " << e.path << " not found";
        continue;
      }
      const Found& f = it->second;
      EXPECT_EQ(f.item.size, e.size) << e.path;
      EXPECT_EQ(f.info.modified / 10000000 - 11644473600ull, static_cast<uint64_t>(e.mtime)) << e.path;
      if (f.info.state != KX_STATE_INTACT) continue;
      ++intact;
      EXPECT_EQ(Recover(f, out), e.sha256) << name << ": " << e.path;
    }
    EXPECT_GT(intact, 0u) << name;
  }
}

// FAT: where the new format kept the old geometry, its root was written
// over the old one, so the top folders' names are gone (they are named
// after their cluster) and everything below them keeps its names; where
// the geometry changed, the old root survives and every path is whole.
TEST(FormatRecovery, FatFilesComeBackWithTheirFoldersAndBytes) {
  struct Case {
    const char* image;
    bool rootSurvives;
  } cases[] = {{"fmt_fat32_same", false}, {"fmt_fat32_diff", true}, {"fmt_fat16_diff", true}};
  for (const Case& c : cases) {
    auto image = RequireImage(c.image);
    if (image.empty()) return;
    MountedKernel kernel({{u'K', KernelPath(image)}});
    int status = -1;
    auto found = ScanFormatted(status);
    EXPECT_EQ(status, KX_SCAN_OK) << c.image;
    TempDir out;
    for (const ManifestEntry& e : ReadManifest(c.image)) {
      const Found* match = nullptr;
      if (c.rootSurvives) {
        auto it = found.find(e.path);
        if (it != found.end()) match = &it->second;
      } else {
        const size_t slash = e.path.find('/');
        if (slash == std::string::npos) continue;  // its entry was in the old root
        const std::string tail = e.path.substr(slash);
        for (const auto& [path, f] : found)
          if (path.rfind("Folder ", 0) == 0 && path.find('/') == path.size() - tail.size() &&
              path.compare(path.size() - tail.size(), tail.size(), tail) == 0)
            match = &f;
      }
      if (!match) {
        ADD_FAILURE() << c.image << ": " << e.path << " not found";
        continue;
      }
      EXPECT_EQ(match->item.size, e.size) << e.path;
      EXPECT_EQ(match->info.modified / 10000000 - 11644473600ull, static_cast<uint64_t>(e.mtime))
          << e.path;
      EXPECT_EQ(Recover(*match, out), e.sha256) << c.image << ": " << e.path;
    }
  }
}

// exFAT: folders are found by their entry sets. Every item found is a
// file of the old volume whose folders below the first one are its own,
// and it comes back byte for byte.
TEST(FormatRecovery, ExfatFilesComeBackWithTheirFoldersAndBytes) {
  for (const char* name : {"fmt_exfat_same", "fmt_exfat_diff"}) {
    auto image = RequireImage(name);
    if (image.empty()) return;
    MountedKernel kernel({{u'K', KernelPath(image)}});
    int status = -1;
    auto found = ScanFormatted(status);
    EXPECT_EQ(status, KX_SCAN_OK) << name;
    EXPECT_FALSE(found.empty()) << name;
    const auto manifest = ReadManifest(name);
    TempDir out;
    for (const auto& [path, f] : found) {
      const std::string tail = path.substr(path.find('/'));
      const ManifestEntry* match = nullptr;
      for (const ManifestEntry& e : manifest)
        if (("/" + e.path).size() >= tail.size() &&
            ("/" + e.path).compare(e.path.size() + 1 - tail.size(), tail.size(), tail) == 0)
          match = &e;
      if (!match) {
        ADD_FAILURE() << name << ": " << path << " is no file of the old volume";
        continue;
      }
      EXPECT_EQ(f.item.size, match->size) << path;
      EXPECT_EQ(f.info.modified / 10000000 - 11644473600ull, static_cast<uint64_t>(match->mtime)) << path;
      EXPECT_EQ(Recover(f, out), match->sha256) << name << ": " << path;
    }
  }
}

// A top folder whose ".." names its own subfolder: the scan ends, and the
// files of the loop keep their bytes and their folders below the loop,
// under "Lost folders".
TEST(FormatRecovery, FatFoldersThatPointIntoEachOtherEndUnderLostFolders) {
  auto image = RequireImage("fmt_fat32_loop");
  if (image.empty()) return;
  MountedKernel kernel({{u'K', KernelPath(image)}});
  int status = -1;
  auto found = ScanFormatted(status);
  EXPECT_EQ(status, KX_SCAN_OK);
  TempDir out;
  size_t lost = 0;
  for (const auto& [path, f] : found) {
    if (path.rfind("Lost folders/", 0) != 0) continue;
    ++lost;
    bool known = false;
    for (const ManifestEntry& e : ReadManifest("fmt_fat32_loop")) {
      const size_t slash = e.path.rfind('/');
      const std::string name = "/" + (slash == std::string::npos ? e.path : e.path.substr(slash + 1));
      if (path.size() < name.size() || path.compare(path.size() - name.size(), name.size(), name) != 0)
        continue;
      known = true;
      EXPECT_EQ(Recover(f, out), e.sha256) << path;
    }
    EXPECT_TRUE(known) << path;
  }
  EXPECT_GT(lost, 0u);
}

// Folders that name each other as parents, or a parent never found, end
// under "Lost folders"; the chain is kept below it.
TEST(FormatRecovery, LoopingAndBrokenFolderChainsEndUnderLostFolders) {
  formatted::OldTree tree;
  tree.SetRoot(5);
  tree.AddFolder(30, 5, u"top");
  tree.AddFolder(31, 30, u"inner");
  tree.AddFolder(40, 41, u"a");
  tree.AddFolder(41, 40, u"b");
  tree.AddFolder(50, 99, u"orphan");
  EXPECT_EQ(tree.FolderPath(31), u"Previous file system\\top\\inner");
  EXPECT_EQ(tree.FolderPath(40), u"Previous file system\\Lost folders\\b\\a");
  EXPECT_EQ(tree.FolderPath(41), u"Previous file system\\Lost folders\\b");
  EXPECT_EQ(tree.FolderPath(50), u"Previous file system\\Lost folders\\orphan");
  EXPECT_EQ(tree.FolderPath(77), u"Previous file system\\Lost folders");
}

// The cluster size and data start are found from where folders lie, and
// a geometry that places more folders wins over the one of the new format.
TEST(FormatRecovery, FatGeometryIsTheOneThatPlacesTheMostFolders) {
  std::vector<formatted::DotSector> found;
  const uint64_t start = 1024 * 1024, cluster = 4096;
  for (uint32_t self : {3u, 9u, 40u, 41u}) found.push_back({start + (self - 2) * cluster, self, 2});
  found.push_back({start + 7 * 512, 1000, 3});  // a stray copy
  formatted::OldGeometry g;
  ASSERT_TRUE(formatted::InferFatGeometry(found, {512 * 1024, 2, 1024}, g));
  EXPECT_EQ(g.clusterBytes, cluster);
  EXPECT_EQ(g.firstClusterByte, start);
}

}  // namespace
}  // namespace kestrel::test
