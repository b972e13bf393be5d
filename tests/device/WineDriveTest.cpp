// Under Wine: letters that are real drives backed by read-only loop devices
// (set up by scripts/wine-drives.sh), read through "\\.\X:" with no mapping.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <map>
#include <sstream>

#include "kernel/Kestrel.h"
#include "kernel/device/RawDevice.h"
#include "kernel/device/SectorReader.h"
#include "kernel/os/Os.h"
#include "tests/support/TestSupport.h"

namespace kestrel {
namespace {

#if defined(_WIN32)

// KESTREL_WINE_DRIVES="M=fat16;N=ntfs": letter = fixture image name.
std::vector<std::pair<char, std::string>> WineDrives() {
  std::vector<std::pair<char, std::string>> out;
  const char* env = std::getenv("KESTREL_WINE_DRIVES");
  if (!env) return out;
  std::stringstream list(env);
  std::string item;
  while (std::getline(list, item, ';'))
    if (item.size() > 2 && item[1] == '=') out.push_back({item[0], item.substr(2)});
  return out;
}

TEST(WineDrives, LoopBackedLettersAreListedAndReadRaw) {
  auto drives = WineDrives();
  if (drives.empty()) {
    const char* ci = std::getenv("CI");
    if (ci && std::string(ci) == "true") FAIL() << "KESTREL_WINE_DRIVES not set in CI";
    GTEST_SKIP() << "no loop-backed Wine drives (scripts/wine-drives.sh)";
  }
  SH_UnInit();
  os::ClearMappings();
  SH_Init(nullptr);
  auto parts = test::AllPartitions();
  for (const auto& [letter, image] : drives) {
    std::u16string name = {static_cast<char16_t>(letter), u':'};
    ASSERT_TRUE(parts.count(name)) << letter;
    std::ifstream file(test::FixtureDir() / (image + ".img"), std::ios::binary);
    std::vector<char> boot(512);
    file.read(boot.data(), 512);
    file.seekg(0, std::ios::end);
    uint64_t bytes = static_cast<uint64_t>(file.tellg());
    int expectedKind = image.find("ntfs") != std::string::npos ? 1 : 2;
    EXPECT_EQ(parts[name].fsKind, expectedKind) << "taken from the boot sector, not Wine's name";
    EXPECT_EQ(parts[name].sectorCount, bytes / 512) << letter;
    uint8_t sector[512];
    SectorReader reader(os::OpenVolume(static_cast<char16_t>(letter), os::Access::Read), 512);
    ASSERT_TRUE(reader.ReadExact(0, sector, sizeof sector));
    EXPECT_EQ(std::memcmp(sector, boot.data(), 512), 0) << letter;

    // Scan through the real device path and recover every deleted file.
    auto manifest = test::ReadManifest(image);
    test::ScanAndWait(name, expectedKind);
    std::map<std::string, DelItem> items;
    for (const DelItem& item : test::AllItems()) items[test::Utf8(item.path)] = item;
    EXPECT_EQ(items.size(), manifest.size()) << letter;
    test::TempDir out;
    for (const auto& entry : manifest) {
      std::string path = entry.path;
      for (char& c : path)
        if (c == '/') c = '\\';
      auto it = items.find(std::string(1, letter) + ":\\Deleted\\" + path);
      if (it == items.end()) {
        ADD_FAILURE() << "not listed: " << entry.path;
        continue;
      }
      EXPECT_EQ(it->second.size, entry.size) << entry.path;
      ASSERT_EQ(SH_RecoveryFile(test::K(out.AsFolderArgument()), it->second.idLow,
                                it->second.idHigh), 1) << entry.path;
      EXPECT_EQ(test::Sha256File(out.path() / "Deleted" / std::filesystem::u8path(entry.path)),
                entry.sha256) << entry.path;
    }
  }
  SH_UnInit();
}

#endif

}  // namespace
}  // namespace kestrel
