// The whole NTFS deleted-file pass over a small fuzzed image, then the
// recovery of the first items it lists into a scratch folder.
#include <unistd.h>

#include <cstdint>
#include <filesystem>
#include <string>

#include "fuzz/FuzzSupport.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/ntfs/NtfsRecovery.h"
#include "kernel/ntfs/NtfsScan.h"
#include "kernel/os/Utf.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  namespace fs = std::filesystem;
  static const fs::path scratch =
      fs::temp_directory_path() / ("kestrel-fuzz-" + std::to_string(getpid()));
  kestrel::fuzz::MapInputAsVolume(data, size);
  kestrel::DelItemRegistry registry;
  kestrel::ntfs::ScanRequest request;
  request.letter = u'F';
  request.prefix = u"F:\\";
  kestrel::ntfs::RunDeletedFileScan(request, registry);
  const std::u16string prefix = u"F:\\Deleted\\";
  const std::u16string out = kestrel::os::FromUtf8((scratch / "out").string() + "/");
  for (size_t i = 0; i < registry.Count(); ++i) {
    DelItem item;
    if (!registry.CopyOut(i, &item)) __builtin_trap();
    std::u16string path(reinterpret_cast<const char16_t*>(item.path));
    if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    kestrel::fuzz::CheckItemPath(path, prefix.size());
    if (i < 3) kestrel::RecoverNtfsItem(u'F', out, (uint64_t{item.idHigh} << 32) | item.idLow);
  }
  // Nothing lands beside the recovery folder.
  std::error_code ec;
  if (fs::exists(scratch, ec)) {
    for (const auto& entry : fs::directory_iterator(scratch, ec))
      if (entry.path().filename() != "out") __builtin_trap();
    fs::remove_all(scratch, ec);
  }
  return 0;
}
