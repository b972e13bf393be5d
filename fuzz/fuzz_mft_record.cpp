// MFT records from the input (record 16 on, 1 KiB each, in a small valid
// volume): load with fix-ups, build with every mask the system uses and
// every single type, then every lookup and a read of every attribute.
#include <cstdint>
#include <utility>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/NTFSVolume.h"

namespace {
using namespace kestrel::ntfs;

void Exercise(CFileRecord& record) {
  char16_t name[1024];
  record.GetPrimaryName(name, 1024);
  record.GetPrimaryName(name, 4);
  record.GetSizeFromName();
  record.LookupDataStream(nullptr);
  record.LookupDataStream(u"$Bad");
  static std::vector<uint8_t> buffer(16 * 1024);
  for (uint32_t index = 0; index < 16; ++index) {
    CSList<CAttrBase>* list = record.AttributeList(index);
    for (size_t i = 0; i < list->Count(); ++i) {
      CAttrBase* a = list->At(i);
      uint64_t allocated = 0;
      uint64_t size = a->GetValueSize(&allocated);
      uint64_t got = 0;
      a->ReadBytes(0, buffer.data(), buffer.size(), got);
      if (got > buffer.size()) __builtin_trap();
      if (size > 7) a->ReadBytes(size - 7, buffer.data(), 100, got);
      a->ReadBytes(size, buffer.data(), 1, got);
      a->ReadBytes(~uint64_t{0} - 3, buffer.data(), 8, got);
    }
  }
  if (auto* info = static_cast<CAttr_StdInfo*>(record.GetFirstAttribute(0x10))) {
    uint64_t m = 0, c = 0, x = 0;
    info->GetStdTimes(&m, &c, &x);
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes = kestrel::fuzz::SmallNtfsVolume();
  kestrel::fuzz::PutRecords(bytes, 16, data, size);
  kestrel::fuzz::MapBytesAsVolume(std::move(bytes));
  CNTFSVolume volume(u'F');
  if (!volume.IsUsable()) __builtin_trap();  // the frame itself is valid
  size_t records = (size + kestrel::fuzz::kSmallNtfsRecordBytes - 1) /
                   kestrel::fuzz::kSmallNtfsRecordBytes;
  if (records > 8) records = 8;
  std::vector<uint32_t> masks = {~uint32_t{0}, kMaskVolume, kMaskData, kMaskFirstLook,
                                 kMaskFirstLook | kMaskData};
  for (uint32_t bit = 0; bit < 16; ++bit) masks.push_back(1u << bit);
  for (uint64_t n = 16; n < 16 + records; ++n) {
    CFileRecord record(&volume);
    for (uint32_t mask : masks) {
      if (!record.LoadFileRecord(n)) break;
      record.SetTypeMask(mask);
      record.BuildAttributes();
      Exercise(record);
    }
  }
  return 0;
}
