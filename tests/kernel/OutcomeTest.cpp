// What a scan says about a volume it could not walk, what each found item's
// recoverability says about the bytes that come back, and where a recovery
// writes when its name is taken: through the exports, on images made by the
// real tools.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>

#include "kernel/Kestrel.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

struct ScanResult {
  int code = -1;
  std::string text;
  int closes = 0;
};

ScanResult ScanAnyEngine(const std::u16string& volume) {
  MessageCollector sink;
  std::u16string prefix = volume + u"\\";
  EXPECT_EQ(KX_StartScan(K(prefix), K(volume), KX_MODE_DELETED, sink.window()), 1);
  EXPECT_TRUE(sink.WaitForClose()) << "scan did not end";
  SH_StopTask();
  ScanResult r;
  KChar text[256];
  r.code = KX_GetLastScanStatus(text, 256);
  r.text = Utf8(text);
  r.closes = sink.CloseCount();
  return r;
}

TEST(ScanOutcome, AVolumeThatCannotBeWalkedSaysWhyAndFindsNothing) {
  struct Case {
    const char* image;
    int code;
    const char* says;
  } cases[] = {
      {"out_baad", KX_SCAN_DAMAGED, "MFT record 0"},
      {"out_cut", KX_SCAN_DAMAGED, "larger than the device"},
      {"out_ext4", KX_SCAN_NOT_SUPPORTED, "no NTFS, FAT or exFAT"},
      {"out_fat768", KX_SCAN_UNSUPPORTED_VARIANT, "768"},
  };
  for (const Case& c : cases) {
    auto image = RequireImage(c.image);
    if (image.empty()) return;
    MountedKernel kernel({{u'K', KernelPath(image)}});
    ScanResult r = ScanAnyEngine(u"K:");
    EXPECT_EQ(r.code, c.code) << c.image << ": " << r.text;
    EXPECT_NE(r.text.find(c.says), std::string::npos) << c.image << ": " << r.text;
    EXPECT_EQ(r.closes, 1) << c.image;
    EXPECT_EQ(SH_GetDelItemCount(), 0) << c.image;
    TempDir out;
    EXPECT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), 0, 0), 0);
    EXPECT_EQ(KX_GetLastRecoveryStatus(nullptr, 0), KX_RECOVER_NOT_FOUND);
  }
}

TEST(ScanOutcome, TheScanOfTheListedKindReportsTheSameAndAReadableVolumeIsOk) {
  auto baad = RequireImage("out_baad");
  if (baad.empty()) return;
  auto good = RequireImage("vol_ntfs");
  if (good.empty()) return;
  MountedKernel kernel({{u'K', KernelPath(baad)}, {u'L', KernelPath(good)}});
  auto messages = ScanAndWait(u"K:", 1);
  EXPECT_EQ(KX_GetLastScanStatus(nullptr, 0), KX_SCAN_DAMAGED);
  ScanAndWait(u"L:", 1);
  KChar text[64];
  EXPECT_EQ(KX_GetLastScanStatus(text, 64), KX_SCAN_OK);
  EXPECT_EQ(Utf8(text), "");
  KX_VolumeInfo info{};
  info.size = sizeof info;
  ASSERT_EQ(KX_GetVolumeInfo(&info), 1);
  EXPECT_EQ(Utf8(info.fileSystem), "NTFS");
  EXPECT_EQ(Utf8(info.label), "ENUMNTFS");
  EXPECT_EQ(info.totalBytes, 16u * 1024 * 1024);
  // A caller that knows a shorter record gets only that much.
  KX_VolumeInfo small{};
  small.size = 16;
  small.serial = 77;
  ASSERT_EQ(KX_GetVolumeInfo(&small), 1);
  EXPECT_EQ(small.size, 16u);
  EXPECT_EQ(small.serial, 77u) << "bytes past the caller's size are not written";
}

std::map<std::string, ManifestEntry> ByPath(const std::vector<ManifestEntry>& entries) {
  std::map<std::string, ManifestEntry> out;
  for (const ManifestEntry& e : entries) out[e.path] = e;
  return out;
}

TEST(Recoverability, EachStateAgreesWithTheBytesThatComeBack) {
  auto image = RequireImage("ntfs_reuse");
  if (image.empty()) return;
  auto expected = ByPath(ReadManifest("ntfs_reuse"));
  MountedKernel kernel({{u'K', KernelPath(image)}});
  ScanAndWait(u"K:", 1);
  TempDir out;
  std::map<int, int> seen;
  for (const DelItem& item : AllItems()) {
    std::string path = Utf8(item.path).substr(std::string("K:\\Deleted\\").size());
    for (char& c : path) if (c == '\\') c = '/';
    auto it = expected.find(path);
    if (it == expected.end()) continue;
    KX_ItemInfo info{};
    info.size = sizeof info;
    ASSERT_EQ(KX_GetDelItemInfo(item.idLow, item.idHigh, &info), 1);
    ++seen[static_cast<int>(info.state)];
    EXPECT_EQ(info.recordNumber, item.idLow);
    EXPECT_EQ(info.modified / 10000000 - 11644473600ull, static_cast<uint64_t>(it->second.mtime)) << path;
    ASSERT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh), 1) << path;
    KChar written[1024];
    ASSERT_GT(KX_GetLastOutputPath(written, 1024), 0);
    std::string sha = Sha256File(fs::u8path(Utf8(written)));
    if (info.state == KX_STATE_INTACT) {
      EXPECT_EQ(sha, it->second.sha256) << path << " is intact";
      EXPECT_EQ(info.overwrittenShare, 0u);
    } else {
      EXPECT_NE(sha, it->second.sha256) << path << " state " << info.state;
      EXPECT_GT(info.overwrittenShare, 0u);
    }
  }
  EXPECT_GT(seen[KX_STATE_INTACT], 0);
  EXPECT_GT(seen[KX_STATE_OVERWRITTEN] + seen[KX_STATE_PARTLY_OVERWRITTEN], 0);
}

TEST(RecoveryOutput, TakenNamesAreNumberedAndTheCallerLearnsWhichWasWritten) {
  auto image = RequireImage("ntfs_reuse");
  if (image.empty()) return;
  MountedKernel kernel({{u'K', KernelPath(image)}});
  ScanAndWait(u"K:", 1);
  auto items = AllItems();
  ASSERT_FALSE(items.empty());
  const DelItem& item = items.front();
  std::string rel = Utf8(item.path).substr(std::string("K:\\Deleted\\").size());
  for (char& c : rel) if (c == '\\') c = '/';
  TempDir out;
  const fs::path mine = out.path() / "Deleted" / fs::u8path(rel);
  fs::create_directories(mine.parent_path());
  { std::ofstream(mine) << "the user's own file"; }
  const std::u16string folderText = out.AsFolderArgument();
  const KChar* folder = K(folderText);
  for (int round = 2; round <= 3; ++round) {
    ASSERT_EQ(SH_RecoveryFile(folder, item.idLow, item.idHigh), 1);
    KChar written[1024];
    KX_GetLastOutputPath(written, 1024);
    fs::path numbered = mine.parent_path() /
                        (mine.stem().string() + " (" + std::to_string(round) + ")" + mine.extension().string());
    EXPECT_EQ(fs::u8path(Utf8(written)), numbered);
    EXPECT_EQ(fs::file_size(numbered), item.size);
  }
  std::ifstream in(mine);
  std::string kept((std::istreambuf_iterator<char>(in)), {});
  EXPECT_EQ(kept, "the user's own file");
  size_t files = 0;
  for (auto& e : fs::recursive_directory_iterator(out.path())) files += e.is_regular_file();
  EXPECT_EQ(files, 3u) << "no temporary names are left behind";
}

}  // namespace
}  // namespace kestrel::test
