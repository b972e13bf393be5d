// The name reader and the path rebuild over records from the input (record
// 16 on): parent references may loop, climb too deep or name non-folders,
// and names may hold anything; the path must stay safe and bounded.
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/PathBuilder.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::ntfs;
  std::vector<uint8_t> bytes = kestrel::fuzz::SmallNtfsVolume();
  kestrel::fuzz::PutRecords(bytes, 16, data, size);
  kestrel::fuzz::MapBytesAsVolume(std::move(bytes));
  CNTFSVolume volume(u'F');
  if (!volume.IsUsable()) __builtin_trap();
  size_t records = (size + kestrel::fuzz::kSmallNtfsRecordBytes - 1) /
                   kestrel::fuzz::kSmallNtfsRecordBytes;
  PathBuilder paths(volume);
  for (uint64_t n = 16; n < 16 + records && n < kestrel::fuzz::kSmallNtfsRecords; ++n) {
    for (bool folder : {false, true}) {
      std::vector<char16_t> name(1024, 0);
      uint64_t parent = 0;
      bool failed = true;
      CFileRecord reader(&volume);
      reader.ReadNameAndParent(n, &parent, folder, &failed, name.data());
      if (name[1023] != 0) __builtin_trap();
    }
    CFileRecord record(&volume);
    if (!record.LoadFileRecord(n)) continue;
    record.SetTypeMask(kMaskFirstLook | kMaskData);
    if (!record.BuildAttributes()) continue;
    for (size_t limit : {size_t{1000}, size_t{40}}) {
      std::u16string path = paths.Rebuild(record, limit);
      if (path.size() > limit) __builtin_trap();
      kestrel::fuzz::CheckItemPath(path, 0);
    }
  }
  return 0;
}
