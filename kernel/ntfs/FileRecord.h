// CFileRecord: one MFT file record, fixed up, with the attributes its type
// mask selects built as objects (attributes reached through an
// $ATTRIBUTE_LIST included).
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/ntfs/Attributes.h"
#include "kernel/ntfs/CSList.h"

namespace kestrel::ntfs {

class CNTFSVolume;

constexpr uint64_t kNoRecord = ~uint64_t{0};
constexpr uint64_t kRootFolderRecord = 5;
// Record numbers are the low 48 bits of a file reference.
constexpr uint64_t kRecordNumberMask = 0x0000FFFFFFFFFFFFull;

// Type masks: bit i selects type 0x10 * (i + 1).
constexpr uint32_t kMaskVolume = 0x63;    // std info, attr list, vol name, vol info
constexpr uint32_t kMaskData = 0x83;      // std info, attr list, data
constexpr uint32_t kMaskFirstLook = 0x07; // std info, attr list, file name

// What the name reader finds in a record image.
struct RecordName {
  bool ok = false;      // the reader's result
  bool failed = true;   // no usable name (the reader's failedOut)
  std::u16string name;  // a name, or "lostfile"
  uint64_t parent = 0;  // parent record number
};

// The name reader over a record image that is already fixed up: the first
// $FILE_NAME outside the DOS namespace and its parent. With requireFolder,
// a record whose flags are 0 or 1 yields nothing.
RecordName ReadNameFromImage(ByteView image, bool requireFolder);
// The same into `out`, whose name buffer is reused.
void ReadNameFromImage(ByteView image, bool requireFolder, RecordName& out);

class CFileRecord {
 public:
  explicit CFileRecord(CNTFSVolume* volume);
  virtual ~CFileRecord();
  CFileRecord(const CFileRecord&) = delete;
  CFileRecord& operator=(const CFileRecord&) = delete;

  // Reads record `recordNumber`, checks its signature and fix-ups.
  bool LoadFileRecord(uint64_t recordNumber);
  // The same from an image already read (recordBytes long, not fixed up).
  bool LoadFromImage(uint64_t recordNumber, ByteView image);
  // Builds the attributes `typeMask` selects. False when building failed.
  // Compressed and encrypted files are built like any other (DataStream.h
  // tells them apart).
  bool BuildAttributes();

  void SetTypeMask(uint32_t mask) { typeMask_ = mask; }
  uint32_t TypeMask() const { return typeMask_; }
  uint64_t RecordNumber() const { return recordNumber_; }
  bool IsLoaded() const { return !buffer_.empty(); }
  ByteView Image() const { return ByteView(buffer_.data(), buffer_.size()); }
  uint16_t Flags() const { return Image().u16(0x16); }
  CNTFSVolume* Volume() const { return volume_; }

  // First attribute of a type (0x10..0x10F), setting that list's cursor.
  CAttrBase* GetFirstAttribute(uint32_t type);
  CAttrBase* GetNextAttribute(uint32_t type);
  CSList<CAttrBase>* AttributeList(uint32_t index);

  // Copies the first non-empty, non-DOS name into `buffer` (terminated).
  // Returns its length, -length when `capacity` is too small, 0 when none.
  int GetPrimaryName(char16_t* buffer, int capacity);
  // That $FILE_NAME itself, or null.
  CAttr_FileName* PrimaryFileName();
  // Real size of the first $FILE_NAME; 0 when there is none.
  uint64_t GetSizeFromName();
  // The data stream with this name (null: the unnamed one). Where a stream
  // is split into extents, the extent that starts at VCN 0 answers, and it
  // reads the whole stream.
  CAttrBase* LookupDataStream(const char16_t* name);

  // Reads record `recordNumber` from the disk and returns its name and
  // parent (the name reader): nameOut gets the name's units (the caller
  // zeroes it, 1024 units), failedOut tells whether it was a usable name.
  bool ReadNameAndParent(uint64_t recordNumber, uint64_t* parentOut, bool requireFolder,
                         bool* failedOut, char16_t* nameOut) const;

 private:
  bool LoadCheckedImage();
  bool AddAttribute(ByteView header);
  void StitchDataExtents();
  void ClearAttributes();

  CNTFSVolume* volume_;
  std::vector<uint8_t> buffer_;
  uint64_t recordNumber_ = kNoRecord;
  uint32_t typeMask_ = ~uint32_t{0};
  std::array<CSList<CAttrBase>, 16> attributeLists_;
};

// Loads the records an $ATTRIBUTE_LIST names and moves the attributes the
// owner's mask selects into the owner's lists. `list` is the attribute
// list's own object (its value is read through it).
void LoadAttributeListEntries(CAttrBase& list, CFileRecord& owner,
                              CSList<CFileRecord>& extensionRecords);

template <typename Base>
class CAttr_AttrList : public Base {
 public:
  CAttr_AttrList(ByteView header, CFileRecord* owner) : Base(header, owner) {
    if (owner && owner->RecordNumber() != kNoRecord)
      LoadAttributeListEntries(*this, *owner, extensionRecords_);
  }
  const CSList<CFileRecord>& ExtensionRecords() const { return extensionRecords_; }

 private:
  CSList<CFileRecord> extensionRecords_;
};

}  // namespace kestrel::ntfs
