// The FAT deleted-entry walk with long names over a small fuzzed image,
// through the engine as the scan thread runs it, then the recovery of the
// first items into a scratch folder.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/fat/FatEngine.h"
#include "kernel/os/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  namespace fs = std::filesystem;
  static const fs::path scratch =
      fs::temp_directory_path() / ("kestrel-fuzz-fat-" + std::to_string(getpid()));
  fuzz::MapInputAsVolume(data, size);
  TheRegistry().Clear();
  Outcome outcome;
  auto engine = fat::Open(LetterSource(u'F'), outcome);
  if (!engine) return 0;
  ScanSink sink(TheRegistry(), u"F:\\", nullptr);
  engine->Scan(sink);
  const std::u16string prefix = u"F:\\Deleted\\";
  const std::u16string out = os::FromUtf8((scratch / "out").string() + "/");
  for (size_t i = 0; i < TheRegistry().Count(); ++i) {
    DelItem item;
    if (!TheRegistry().CopyOut(i, &item)) __builtin_trap();
    std::u16string path(reinterpret_cast<const char16_t*>(item.path));
    if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    fuzz::CheckItemPath(path, prefix.size());
    if (i < 3) {
      ItemWriter writer(out);
      engine->Recover((uint64_t{item.idHigh} << 32) | item.idLow, writer);
    }
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
