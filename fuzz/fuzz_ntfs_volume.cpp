// Opening an NTFS volume from a fuzzed image: boot sector, $Volume, the
// $MFT's own record and its runs, then a record read through those runs.
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel::ntfs;
  kestrel::fuzz::MapInputAsVolume(data, size);
  CNTFSVolume volume(u'F');
  if (!volume.IsUsable()) return 0;
  uint64_t count = volume.RecordCount();
  std::vector<uint8_t> image(volume.RecordBytes());
  for (uint64_t n : {uint64_t{5}, uint64_t{16}, count - 1, count})
    volume.ReadRecordBytes(n, image.data(), image.size());
  CFileRecord record(&volume);
  if (record.LoadFileRecord(16)) {
    record.SetTypeMask(kMaskFirstLook | kMaskData);
    record.BuildAttributes();
  }
  return 0;
}
