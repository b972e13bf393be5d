// The kernel only reads what it scans: fixture images hash the same before
// and after start-up, a scan and the recovery of every item found.
#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

TEST(ReadOnly, ScanningAndRecoveringLeaveImagesUntouched) {
  struct Volume {
    const char* image;
    char16_t letter;
    int kind;
  };
  const Volume volumes[] = {{"ntfs", u'N', KESTREL_FS_NTFS},
                            {"ntfs_s4k", u'O', KESTREL_FS_NTFS},
                            {"fat12", u'P', KESTREL_FS_FAT},
                            {"fat32", u'Q', KESTREL_FS_FAT}};
  std::vector<std::pair<char16_t, std::u16string>> maps;
  std::vector<fs::path> paths;
  std::vector<std::string> before;
  std::vector<fs::file_time_type> times;
  for (const Volume& v : volumes) {
    fs::path image = RequireImage(v.image);
    if (image.empty()) return;
    paths.push_back(image);
    before.push_back(Sha256File(image));
    times.push_back(fs::last_write_time(image));
    maps.emplace_back(v.letter, KernelPath(image));
  }
  {
    MountedKernel kernel(maps);
    TempDir out;
    for (const Volume& v : volumes) {
      std::u16string name{v.letter, u':'};
      ScanAndWait(name, v.kind);
      std::vector<DelItem> items = AllItems();
      EXPECT_FALSE(items.empty()) << v.image;
      int recovered = 0;
      for (const DelItem& item : items)
        recovered += SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh);
      EXPECT_GT(recovered, 0) << v.image;
    }
  }
  for (size_t i = 0; i < paths.size(); ++i) {
    EXPECT_EQ(Sha256File(paths[i]), before[i]) << paths[i];
    EXPECT_EQ(fs::last_write_time(paths[i]), times[i]) << paths[i];
  }
}

}  // namespace
}  // namespace kestrel::test
