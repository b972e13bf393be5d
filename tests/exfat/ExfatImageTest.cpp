// The exFAT engine on volumes made by mkfs.exfat and the exfat-fuse driver
// (tests/fixtures/make_exfat*.sh): every deleted file is listed once with
// its path, size and time, recovers byte-exact when its state says intact,
// and we list and recover at least what The Sleuth Kit does on the same
// image.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/os/Os.h"
#include "tests/exfat/ExfatTestSupport.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

constexpr uint64_t FileTimeOf(int64_t unixSeconds) {
  return static_cast<uint64_t>(unixSeconds) * 10000000ull + 116444736000000000ull;
}

std::u16string Backslashes(std::string path) {
  for (char& c : path)
    if (c == '/') c = '\\';
  return U16(path);
}

struct TskEntry {
  std::string path;
  uint64_t size = 0;
  std::string sha256;
};

std::vector<TskEntry> ReadTsk(const std::string& name) {
  std::vector<TskEntry> out;
  std::ifstream in(FixtureDir() / (name + ".tsk"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    TskEntry e;
    std::string size;
    std::getline(fields, e.path, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, e.sha256, '\t');
    e.size = std::stoull(size);
    out.push_back(e);
  }
  return out;
}

class ExfatImage : public ::testing::TestWithParam<const char*> {
 protected:
  void TearDown() override { ClearExfatMappings(); }
};

TEST_P(ExfatImage, DeletedFilesListedRecoveredAndNoWorseThanTheSleuthKit) {
  const std::string name = GetParam();
  fs::path image = RequireImage(name);
  if (image.empty()) return;
  const std::vector<ManifestEntry> manifest = ReadManifest(name);
  ASSERT_FALSE(manifest.empty());

  OpenedExfat opened = OpenExfatImage(u'X', image);
  EXPECT_EQ(opened.probe.typeName, u"exFAT");
  EXPECT_EQ(opened.probe.fsKind, KESTREL_FS_FAT);
  ASSERT_TRUE(opened.engine) << Utf8(reinterpret_cast<const KChar*>(opened.outcome.text.c_str()));
  const VolumeFacts facts = opened.engine->Facts();
  EXPECT_EQ(facts.fileSystem, u"exFAT");
  EXPECT_EQ(facts.label, u"Kestrel");
  EXPECT_EQ(facts.totalBytes, fs::file_size(image));

  AllocationMap map;
  ClusterLayout layout;
  ASSERT_TRUE(opened.engine->Allocation(map, layout));
  EXPECT_EQ(layout.clusterBytes, facts.clusterBytes);
  EXPECT_TRUE(map.InUse(map.FirstCluster()));  // the bitmap's own cluster

  std::vector<ScannedItem> items;
  ASSERT_TRUE(ScanAll(*opened.engine, items).ok());

  // Nothing but the deleted files, each once, with its size and time.
  EXPECT_EQ(items.size(), manifest.size());
  std::map<std::u16string, const ScannedItem*> byPath;
  std::map<uint64_t, int> ids;
  for (const ScannedItem& item : items) {
    EXPECT_TRUE(byPath.emplace(item.path, &item).second) << os::ToUtf8(item.path) << " twice";
    EXPECT_EQ(++ids[item.id], 1) << os::ToUtf8(item.path);
  }

  TempDir out;
  ItemWriter writer(out.AsFolderArgument());
  int intact = 0;
  std::map<std::string, std::string> ourSha;  // by path in the volume
  for (const ManifestEntry& entry : manifest) {
    auto found = byPath.find(u"X:\\Deleted\\" + Backslashes(entry.path));
    ASSERT_NE(found, byPath.end()) << "not found: " << entry.path;
    const ScannedItem& item = *found->second;
    EXPECT_EQ(item.size, entry.size) << entry.path;
    EXPECT_EQ(item.details.modified, FileTimeOf(entry.mtime)) << entry.path;
    uint64_t local = 0;
    ASSERT_TRUE(os::FileTimeToLocal(FileTimeOf(entry.mtime), local));
    EXPECT_EQ(item.modified, local) << entry.path;
    const bool underGone = entry.path.rfind("gone/", 0) == 0 || entry.path.rfind("big/", 0) == 0;
    EXPECT_EQ((item.details.flags & KX_FLAG_IN_DELETED_FOLDER) != 0, underGone) << entry.path;

    RecoverResult result = opened.engine->Recover(item.id, writer);
    // The writer copies into "<name>.kestrel-N.tmp" first, which a name of
    // 255 units (or, on POSIX, 255 bytes) leaves no room for: such names
    // are refused by the target, not by this engine.
    const std::string leaf = entry.path.substr(entry.path.rfind('/') + 1);
    if (result.code == KX_RECOVER_BAD_NAME && leaf.size() + 14 > 255) continue;
    ASSERT_TRUE(result.ok()) << entry.path << ": " << os::ToUtf8(result.text);
    const std::vector<uint8_t> bytes = ReadWholeFile(HostPath(writer.OutputPath()));
    ASSERT_EQ(bytes.size(), entry.size) << entry.path;
    const std::string sha = Sha256Hex(bytes.data(), bytes.size());
    ourSha[entry.path] = sha;
    // The state says what reading the clusters back shows.
    if (item.details.state == KX_STATE_INTACT) {
      ++intact;
      EXPECT_EQ(sha, entry.sha256) << "intact but not byte-exact: " << entry.path;
    } else {
      EXPECT_NE(sha, entry.sha256) << "exact but said overwritten: " << entry.path;
    }
  }
  // The file that took freed clusters leaves most deleted files whole,
  // the fragmented one among them (its chain was put back).
  EXPECT_GT(intact, static_cast<int>(manifest.size()) * 3 / 4);
  EXPECT_EQ(ourSha["frag.bin"], [&] {
    for (const ManifestEntry& e : manifest)
      if (e.path == "frag.bin") return e.sha256;
    return std::string();
  }());

  // Whatever The Sleuth Kit names we name too (it cuts long names short),
  // and whatever it recovers exactly we recover exactly.
  const std::vector<TskEntry> tsk = ReadTsk(name);
  ASSERT_FALSE(tsk.empty());
  for (const TskEntry& theirs : tsk) {
    const ManifestEntry* match = nullptr;
    for (const ManifestEntry& entry : manifest)
      if (entry.path.compare(0, theirs.path.size(), theirs.path) == 0) match = &entry;
    ASSERT_NE(match, nullptr) << "The Sleuth Kit lists what we do not: " << theirs.path;
    if (theirs.sha256 == match->sha256 && ourSha.count(match->path)) {
      EXPECT_EQ(ourSha[match->path], match->sha256) << theirs.path;
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, ExfatImage,
                         ::testing::Values("exfat", "exfat_c512", "exfat_s4k"));

// A volume opened for recoveries alone finds the item by its id again, and
// a stop ends a copy as a stop, keeping what was copied as .partial.
TEST(ExfatRecovery, FreshVolumeRecoversByIdAndStopsWhenAsked) {
  fs::path image = RequireImage("exfat");
  if (image.empty()) return;
  OpenedExfat scanned = OpenExfatImage(u'X', image);
  ASSERT_TRUE(scanned.engine);
  std::vector<ScannedItem> items;
  ASSERT_TRUE(ScanAll(*scanned.engine, items).ok());
  const ScannedItem* large = nullptr;
  for (const ScannedItem& item : items)
    if (item.path == u"X:\\Deleted\\big\\large.bin") large = &item;
  ASSERT_NE(large, nullptr);

  OpenedExfat fresh = OpenExfatImage(u'X', image);
  ASSERT_TRUE(fresh.engine);
  TempDir out;
  ItemWriter writer(out.AsFolderArgument());
  RecoverResult result = fresh.engine->Recover(large->id, writer);
  ASSERT_TRUE(result.ok()) << os::ToUtf8(result.text);
  EXPECT_EQ(fs::file_size(HostPath(writer.OutputPath())), large->size);
  EXPECT_EQ(fresh.engine->Recover(12345, writer).code, KX_RECOVER_NOT_FOUND);

  RequestStop();
  result = fresh.engine->Recover(large->id, writer);
  ClearStop();
  EXPECT_EQ(result.code, KX_RECOVER_STOPPED);
  EXPECT_EQ(writer.OutputPath().substr(writer.OutputPath().size() - 8), u".partial");
  ClearExfatMappings();
}

}  // namespace
}  // namespace kestrel::test
