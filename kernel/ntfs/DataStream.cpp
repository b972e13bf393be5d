#include "kernel/ntfs/DataStream.h"

#include "kernel/engine/Outcome.h"
#include "kernel/ntfs/FileRecord.h"

namespace kestrel::ntfs {
namespace {

uint32_t DosFlagsOf(CFileRecord& record) {
  auto* info = static_cast<CAttr_StdInfo*>(record.AttributeList(TypeIndex(kAttrStdInfo))->At(0));
  return info ? info->DosFlags() : 0;
}

}  // namespace

const char16_t kEncryptedReason[] = u"encrypted: the contents cannot be read without the owner's key";

StreamKind ClassifyDataStream(CFileRecord& record) {
  const CAttrBase* data = record.LookupDataStream(nullptr);
  if ((DosFlagsOf(record) & kDosEncrypted) || (data && data->IsEncrypted()))
    return StreamKind::Encrypted;
  if (data && data->IsCompressed()) return StreamKind::Compressed;
  return StreamKind::Plain;
}

bool HadCorruptUnits(const CAttrBase* data) {
  auto* runs = data ? data->AsNonResident() : nullptr;
  return runs && runs->CorruptUnits() > 0;
}

std::u16string CorruptUnitsReason(const CAttrBase* data) {
  auto* runs = data ? data->AsNonResident() : nullptr;
  if (!runs || runs->CorruptUnits() == 0) return std::u16string();
  const std::string text = "damaged compressed data: " + std::to_string(runs->CorruptUnits()) +
                           " compression unit(s) from byte " +
                           std::to_string(runs->FirstCorruptOffset()) + " on read as zeros";
  return Ascii16(text.c_str());
}

}  // namespace kestrel::ntfs
