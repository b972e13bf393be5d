// Format recovery over a small fuzzed volume: with an even first byte the
// rest of the input lies in the free space of a valid NTFS volume (old
// file records to find), with an odd one the input is the volume itself (a
// FAT boot sector and old folder clusters); then the recovery of the first
// items into a scratch folder.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/formatted/FormattedEngine.h"
#include "kernel/os/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  namespace fs = std::filesystem;
  static const fs::path scratch =
      fs::temp_directory_path() / ("kestrel-fuzz-formatted-" + std::to_string(getpid()));
  if (size < 1) return 0;
  if ((data[0] & 1) == 0) {
    std::vector<uint8_t> volume = fuzz::SmallNtfsVolume();
    constexpr size_t kOldRecords = 512 * 1024;  // free clusters of the small volume
    const size_t take = std::min(size - 1, volume.size() - kOldRecords);
    std::memcpy(volume.data() + kOldRecords, data + 1, take);
    fuzz::MapBytesAsVolume(std::move(volume));
  } else {
    fuzz::MapInputAsVolume(data + 1, size - 1, 64 * 1024);
  }
  Outcome outcome;
  auto engine = formatted::Open(LetterSource(u'F'), nullptr, outcome);
  if (!engine) return 0;
  DelItemRegistry registry;
  ScanSink sink(registry, u"F:\\", nullptr);
  engine->Scan(sink);
  const std::u16string prefix = u"F:\\Deleted\\";
  const std::u16string out = os::FromUtf8((scratch / "out").string() + "/");
  for (size_t i = 0; i < registry.Count(); ++i) {
    DelItem item;
    if (!registry.CopyOut(i, &item)) __builtin_trap();
    std::u16string path(reinterpret_cast<const char16_t*>(item.path));
    if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    fuzz::CheckItemPath(path, prefix.size());
    if (i < 3) {
      ItemWriter writer(out);
      engine->Recover((uint64_t{item.idHigh} << 32) | item.idLow, writer);
    }
  }
  std::error_code ec;
  if (fs::exists(scratch, ec)) {
    for (const auto& e : fs::directory_iterator(scratch, ec))
      if (e.path().filename() != "out") __builtin_trap();
    fs::remove_all(scratch, ec);
  }
  return 0;
}
