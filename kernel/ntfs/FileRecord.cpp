#include "kernel/ntfs/FileRecord.h"

#include <algorithm>
#include <set>
#include <utility>

#include "kernel/ntfs/AttributeHeader.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/ntfs/RecordHeader.h"

namespace kestrel::ntfs {
namespace {

// Longest $FILE_NAME value: the fixed part and 255 UTF-16 units.
constexpr size_t kMaxFileNameValue = 0x42 + 2 * 255;
// An attribute list is a few KiB even for a badly fragmented file; a value
// claiming far more is corrupt and must not drive thousands of loads.
constexpr uint64_t kMaxAttributeListBytes = 1u << 20;
constexpr size_t kAttrListEntryBytes = 32;

// The factory: which class a header builds (types 0x10, 0x30, 0x60, 0x70
// and 0x90 are always read as resident, 0xA0 as non-resident).
std::unique_ptr<CAttrBase> MakeAttribute(ByteView header, CFileRecord* owner) {
  bool nonResident = header.u8(kAttrNonResident) != 0;
  switch (header.u32(kAttrType)) {
    case kAttrStdInfo: return std::make_unique<CAttr_StdInfo>(header, owner);
    case kAttrAttrList:
      if (nonResident) return std::make_unique<CAttr_AttrList<CAttrNonResident>>(header, owner);
      return std::make_unique<CAttr_AttrList<CAttrResident>>(header, owner);
    case kAttrFileName: return std::make_unique<CAttr_FileName>(header, owner);
    case kAttrVolName: return std::make_unique<CAttr_VolName>(header, owner);
    case kAttrVolInfo: return std::make_unique<CAttr_VolInfo>(header, owner);
    case kAttrData:
      if (nonResident) return std::make_unique<CAttr_Data<CAttrNonResident>>(header, owner);
      return std::make_unique<CAttr_Data<CAttrResident>>(header, owner);
    case kAttrIndexRoot: return std::make_unique<CAttr_IndexRoot>(header, owner);
    case kAttrIndexAlloc: return std::make_unique<CAttr_IndexAlloc>(header, owner);
    case kAttrBitmap:
      if (nonResident) return std::make_unique<CAttr_Bitmap<CAttrNonResident>>(header, owner);
      return std::make_unique<CAttr_Bitmap<CAttrResident>>(header, owner);
    default:
      if (nonResident) return std::make_unique<CAttrNonResident>(header, owner);
      return std::make_unique<CAttrResident>(header, owner);
  }
}

}  // namespace

RecordName ReadNameFromImage(ByteView image, bool requireFolder) {
  RecordName out;
  ReadNameFromImage(image, requireFolder, out);
  return out;
}

void ReadNameFromImage(ByteView image, bool requireFolder, RecordName& out) {
  out.ok = false;
  out.failed = true;
  out.name.clear();
  out.parent = 0;
  if (!HasFileSignature(image)) return;
  uint16_t flags = image.u16(kRecFlags);
  if (requireFolder && (flags == 0 || flags == 1)) return;
  size_t pos = image.u16(kRecFirstAttribute);
  while (true) {
    if (!image.Has(pos, 8)) return;
    uint32_t type = image.u32(pos + kAttrType);
    if (type == kAttrEnd) {
      out.ok = true;
      out.name = u"lostfile";
      return;
    }
    uint32_t length = image.u32(pos + kAttrLength);
    if (length == 0 || !image.Has(pos, length)) return;
    if (type == kAttrFileName) {
      ByteView attr = image.Sub(pos, length);
      size_t valueOffset = attr.u16(kAttrValueOffset);
      size_t valueLength = std::min<size_t>(attr.u32(kAttrValueLength), kMaxFileNameValue);
      // The value as far as the attribute holds it; the name must fit in it.
      ByteView value = attr.From(valueOffset);
      value = ByteView(value.data(), std::min(valueLength, value.size()));
      size_t nameLength = value.u8(0x40);
      if (value.ok() && value.Has(0x42, 2 * nameLength) && value.u8(0x41) != kNamespaceDos) {
        out.parent = value.u64(0) & kRecordNumberMask;
        out.name.resize(nameLength);
        for (size_t i = 0; i < nameLength; ++i)
          out.name[i] = static_cast<char16_t>(value.u16(0x42 + 2 * i));
        out.ok = true;
        out.failed = false;
        return;
      }
    }
    pos += length;
  }
}

CFileRecord::CFileRecord(CNTFSVolume* volume) : volume_(volume) {}

CFileRecord::~CFileRecord() { ClearAttributes(); }

void CFileRecord::ClearAttributes() {
  // Attributes moved in from extension records point into those records'
  // images, which the attribute list (index 1) owns: drop them first.
  for (size_t i = attributeLists_.size(); i-- > 0;) attributeLists_[i].Clear();
}

bool CFileRecord::LoadFileRecord(uint64_t recordNumber) {
  ClearAttributes();
  buffer_.clear();
  recordNumber_ = kNoRecord;
  if (!volume_ || volume_->RecordBytes() == 0) return false;
  buffer_.assign(volume_->RecordBytes(), 0);
  if (!volume_->ReadRecordBytes(recordNumber, buffer_.data(), buffer_.size())) {
    buffer_.clear();
    return false;
  }
  recordNumber_ = recordNumber;
  return LoadCheckedImage();
}

bool CFileRecord::LoadFromImage(uint64_t recordNumber, ByteView image) {
  ClearAttributes();
  buffer_.clear();
  recordNumber_ = kNoRecord;
  if (!volume_ || image.size() != volume_->RecordBytes() || image.size() == 0) return false;
  buffer_.assign(image.data(), image.data() + image.size());
  recordNumber_ = recordNumber;
  return LoadCheckedImage();
}

bool CFileRecord::LoadCheckedImage() {
  // A record that is not a "FILE" record or was torn mid-write is never used.
  if (!HasFileSignature(Image()) ||
      ApplyFixups(buffer_.data(), buffer_.size(), volume_->SectorBytes(), true) !=
          FixupResult::Ok) {
    buffer_.clear();
    return false;
  }
  return true;
}

bool CFileRecord::BuildAttributes() {
  ClearAttributes();
  ByteView image = Image();
  if (image.size() == 0) return false;
  size_t pos = image.u16(kRecFirstAttribute);
  while (image.Has(pos, 8)) {
    uint32_t type = image.u32(pos + kAttrType);
    if (type == kAttrEnd) break;
    uint32_t length = image.u32(pos + kAttrLength);
    if (length == 0 || !image.Has(pos, length)) break;
    uint32_t index = TypeIndex(type);
    // Attribute types are multiples of 0x10. Any other value is corrupt: it
    // would share a list with a typed class whose object it is not.
    if (type >= 0x10 && type % 0x10 == 0 && index < 16 && (typeMask_ & (1u << index))) {
      if (!AddAttribute(image.Sub(pos, length))) return false;
    }
    pos += length;
  }
  StitchDataExtents();
  return true;
}

bool CFileRecord::AddAttribute(ByteView header) {
  uint32_t index = TypeIndex(header.u32(kAttrType));
  if (index >= 16) return false;
  auto attribute = MakeAttribute(header, this);
  if (!attribute) return false;
  attributeLists_[index].Append(std::move(attribute));
  return true;
}

void CFileRecord::StitchDataExtents() {
  CSList<CAttrBase>& data = attributeLists_[TypeIndex(kAttrData)];
  if (data.Count() < 2) return;
  for (size_t i = 0; i < data.Count(); ++i) {
    auto* base = data.At(i)->AsNonResident();
    if (!base || base->FirstVcn() != 0) continue;
    std::u16string name = base->Name();
    std::vector<CAttrNonResident*> later;
    for (size_t j = 0; j < data.Count(); ++j) {
      auto* extent = data.At(j)->AsNonResident();
      if (extent && extent->FirstVcn() > 0 && extent->Name() == name) later.push_back(extent);
    }
    std::stable_sort(later.begin(), later.end(), [](CAttrNonResident* a, CAttrNonResident* b) {
      return a->FirstVcn() < b->FirstVcn();
    });
    // Extents must follow one another without gaps; a copy of one already
    // taken (two list entries naming it) is passed over.
    for (CAttrNonResident* extent : later) {
      if (extent->FirstVcn() < base->FirstVcn() + base->MappedClusters()) continue;
      if (!base->AdoptExtent(*extent)) break;
    }
  }
}

CSList<CAttrBase>* CFileRecord::AttributeList(uint32_t index) {
  return index < 16 ? &attributeLists_[index] : nullptr;
}

CAttrBase* CFileRecord::GetFirstAttribute(uint32_t type) {
  if (type < 0x10 || type > 0x10F) return nullptr;
  return attributeLists_[TypeIndex(type)].First();
}

CAttrBase* CFileRecord::GetNextAttribute(uint32_t type) {
  if (type < 0x10 || type > 0x10F) return nullptr;
  return attributeLists_[TypeIndex(type)].Next();
}

CAttr_FileName* CFileRecord::PrimaryFileName() {
  CSList<CAttrBase>& names = attributeLists_[TypeIndex(kAttrFileName)];
  for (size_t i = 0; i < names.Count(); ++i) {
    auto* name = static_cast<CAttr_FileName*>(names.At(i));
    if (name->HasName() && name->Namespace() != kNamespaceDos) return name;
  }
  return nullptr;
}

int CFileRecord::GetPrimaryName(char16_t* buffer, int capacity) {
  CAttr_FileName* name = PrimaryFileName();
  if (!name) return 0;
  int length = name->NameLength();
  if (!buffer || capacity <= length) return -length;
  std::copy(name->FileName().begin(), name->FileName().end(), buffer);
  buffer[length] = 0;
  return length;
}

uint64_t CFileRecord::GetSizeFromName() {
  auto* first = static_cast<CAttr_FileName*>(attributeLists_[TypeIndex(kAttrFileName)].At(0));
  return first ? first->RealSize() : 0;
}

CAttrBase* CFileRecord::LookupDataStream(const char16_t* name) {
  CSList<CAttrBase>& data = attributeLists_[TypeIndex(kAttrData)];
  std::u16string wanted = name ? std::u16string(name) : std::u16string();
  auto matches = [&](CAttrBase* a) { return name ? a->Name() == wanted : a->IsUnnamed(); };
  // The extent holding VCN 0 carries the stream's size and, once stitched,
  // all of its runs.
  for (size_t i = 0; i < data.Count(); ++i)
    if (matches(data.At(i)) && data.At(i)->FirstVcn() == 0) return data.At(i);
  for (size_t i = 0; i < data.Count(); ++i)
    if (matches(data.At(i))) return data.At(i);
  return nullptr;
}

bool CFileRecord::ReadNameAndParent(uint64_t recordNumber, uint64_t* parentOut,
                                    bool requireFolder, bool* failedOut, char16_t* nameOut) const {
  if (failedOut) *failedOut = true;
  if (!nameOut || !volume_ || volume_->RecordBytes() == 0) return false;
  std::vector<uint8_t> image(volume_->RecordBytes());
  if (!volume_->ReadRecordBytes(recordNumber, image.data(), image.size())) return false;
  // Names are taken from torn records too: the fix-ups are put back unchecked.
  ApplyFixups(image.data(), image.size(), volume_->SectorBytes(), false);
  RecordName found = ReadNameFromImage(ByteView(image.data(), image.size()), requireFolder);
  if (!found.ok) return false;
  std::copy(found.name.begin(), found.name.end(), nameOut);
  if (!found.failed && parentOut) *parentOut = found.parent;
  if (failedOut) *failedOut = found.failed;
  return true;
}

void LoadAttributeListEntries(CAttrBase& list, CFileRecord& owner,
                              CSList<CFileRecord>& extensionRecords) {
  uint64_t size = std::min(list.GetValueSize(nullptr), kMaxAttributeListBytes);
  std::set<std::pair<uint64_t, uint32_t>> loaded;
  uint64_t offset = 0;
  while (offset < size) {
    uint8_t entry[kAttrListEntryBytes];
    uint64_t got = 0;
    if (!list.ReadBytes(offset, entry, sizeof entry, got) || got != sizeof entry) break;
    uint32_t type = le32(entry + 0x00);
    uint16_t length = le16(entry + 0x04);
    uint32_t index = TypeIndex(type);
    if (type < 0x10 || index >= 16) break;
    uint64_t record = uint64_t{le32(entry + 0x10)} | (uint64_t{le16(entry + 0x14)} << 32);
    // Attributes in the owner itself are built from it; a list never sends
    // us after another list (that could go round forever); an extension
    // record named twice for one type is loaded once.
    bool wanted = record != owner.RecordNumber() && type != kAttrAttrList &&
                  (owner.TypeMask() & (1u << index)) && loaded.insert({record, index}).second;
    if (wanted) {
      auto extension = std::make_unique<CFileRecord>(owner.Volume());
      CFileRecord* ext = extension.get();
      extensionRecords.Append(std::move(extension));
      ext->SetTypeMask(1u << index);
      if (!ext->LoadFileRecord(record)) break;
      ext->BuildAttributes();
      CSList<CAttrBase>* from = ext->AttributeList(index);
      CSList<CAttrBase>* to = owner.AttributeList(index);
      for (auto& attribute : from->TakeAll()) to->Append(std::move(attribute));
    }
    if (length == 0) break;
    offset += length;
  }
}

}  // namespace kestrel::ntfs
