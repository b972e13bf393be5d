// The FAT deleted-entry walk with long names over a small fuzzed image, as
// the scan thread runs it, then the recovery of the first items into a
// scratch folder.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "kernel/CustomDrive.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/device/DeviceEntry.h"
#include "kernel/os/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  namespace fs = std::filesystem;
  static const fs::path scratch =
      fs::temp_directory_path() / ("kestrel-fuzz-fat-" + std::to_string(getpid()));
  auto volume = fuzz::MapInputAsFatVolume(data, size);
  CCustomDirectory* root = volume->RootFolder();
  TheRegistry().Clear();
  if (!root) return 0;
  volume->ResetItemIds();
  root->ClearChildren();
  root->StartScan(1, nullptr);
  volume->RegisterItems(root, u"F:\\", 1);
  const std::u16string prefix = u"F:\\Deleted\\";
  const std::u16string out = os::FromUtf8((scratch / "out").string() + "/");
  for (size_t i = 0; i < TheRegistry().Count(); ++i) {
    DelItem item;
    if (!TheRegistry().CopyOut(i, &item)) __builtin_trap();
    std::u16string path(reinterpret_cast<const char16_t*>(item.path));
    if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    fuzz::CheckItemPath(path, prefix.size());
    if (i < 3) volume->RecoverItem(root, item.idLow, item.idHigh, out, 1);
  }
  TheRegistry().Clear();
  std::error_code ec;
  if (fs::exists(scratch, ec)) {
    for (const auto& e : fs::directory_iterator(scratch, ec))
      if (e.path().filename() != "out") __builtin_trap();
    fs::remove_all(scratch, ec);
  }
  return 0;
}
