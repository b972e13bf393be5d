// Attribute objects: uniform access to attribute values, resident or
// described by data runs, plus typed access for the kinds the engine reads.
//
// Values read (offsets inside the value):
//   $STANDARD_INFORMATION  0x00 created, 0x08 modified, 0x18 accessed
//                          (FILETIME, UTC), 0x20 u32 DOS flags
//   $FILE_NAME             0x00 u64 parent reference, 0x30 u64 real size,
//                          0x40 u8 name length, 0x41 u8 namespace, 0x42 name
//   $VOLUME_NAME           the whole value, UTF-16
//   $VOLUME_INFORMATION    0x08 u8 major, 0x09 u8 minor version
//   $INDEX_ROOT            0x00 u32 indexed type, 0x10 u32 first entry
//                          offset, 0x14 u32 total entry size (both from 0x10)
//   index entry            0x08 u16 length, 0x0A u16 key length, 0x0C u8
//                          flags (0x02 last), 0x10 key
//
// An attribute is a view into its record's image: it must not outlive the
// CFileRecord whose lists hold it.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/ntfs/AttributeHeader.h"
#include "kernel/ntfs/CSList.h"
#include "kernel/ntfs/DataRun.h"

namespace kestrel::ntfs {

class CNTFSVolume;
class CFileRecord;
class CAttrNonResident;

constexpr uint32_t kDosCompressed = 0x0800;
constexpr uint32_t kDosEncrypted = 0x4000;
constexpr uint8_t kNamespaceDos = 2;

class CAttrBase {
 public:
  // `header` covers the whole attribute (its length from the header,
  // already checked against the record).
  CAttrBase(ByteView header, CFileRecord* owner);
  virtual ~CAttrBase() = default;
  CAttrBase(const CAttrBase&) = delete;
  CAttrBase& operator=(const CAttrBase&) = delete;

  virtual bool RunsValid() const = 0;
  virtual uint64_t GetValueSize(uint64_t* allocatedOut) const = 0;
  // Reads up to `length` bytes of the value from `offset`.
  virtual bool ReadBytes(uint64_t offset, void* buffer, uint64_t length, uint64_t& bytesRead) = 0;

  uint32_t Type() const { return header_.u32(kAttrType); }
  bool IsNonResident() const { return header_.u8(kAttrNonResident) != 0; }
  uint16_t Flags() const { return header_.u16(kAttrFlags); }
  // Stored compressed. A resident value is always stored as it is, even
  // when its header carries the compressed flag (files in a compressed
  // folder small enough to be resident).
  bool IsCompressed() const {
    return IsNonResident() && (Flags() & kAttrFlagCompressionMask) != 0;
  }
  // EFS: the stored bytes are ciphertext.
  bool IsEncrypted() const { return (Flags() & kAttrFlagEncrypted) != 0; }
  bool IsSparse() const { return (Flags() & kAttrFlagSparse) != 0; }
  bool IsUnnamed() const { return header_.u8(kAttrNameLength) == 0; }
  std::u16string Name() const { return AttributeName(header_); }
  // First VCN this extent maps (0 for resident values).
  virtual uint64_t FirstVcn() const { return 0; }
  // This attribute as a run-mapped value, or null. Cheaper than a
  // dynamic_cast, which compares type names across the library's boundary
  // on every item of a scan.
  virtual CAttrNonResident* AsNonResident() { return nullptr; }
  virtual const CAttrNonResident* AsNonResident() const { return nullptr; }
  ByteView Header() const { return header_; }
  CFileRecord* Owner() const { return owner_; }

 protected:
  ByteView header_;
  uint16_t sectorBytes_ = 0;
  uint32_t clusterBytes_ = 0;
  uint32_t indexBlockBytes_ = 0;
  CNTFSVolume* volume_ = nullptr;
  CFileRecord* owner_ = nullptr;
};

class CAttrResident : public CAttrBase {
 public:
  CAttrResident(ByteView header, CFileRecord* owner);
  bool RunsValid() const override { return true; }
  uint64_t GetValueSize(uint64_t* allocatedOut) const override;
  bool ReadBytes(uint64_t offset, void* buffer, uint64_t length, uint64_t& bytesRead) override;
  ByteView Value() const { return value_; }

 protected:
  ByteView value_;  // empty when the header's offset or length does not fit
};

// A value described by data runs. A compressed one (LZNT1, see Lznt1.h) is
// read compression unit by unit: a unit whose clusters are all allocated
// is stored as it is; one whose allocated clusters are followed by a
// sparse run holds its compressed form in those clusters; one that starts
// sparse is zeros. A unit at the end of the runs whose clusters are all
// allocated is stored as it is too (the last, short unit of a stream).
// Bytes past a compressed stream's initialized size read as zeros.
class CAttrNonResident : public CAttrBase {
 public:
  CAttrNonResident(ByteView header, CFileRecord* owner);
  bool RunsValid() const override { return runsOk_; }
  uint64_t GetValueSize(uint64_t* allocatedOut) const override;
  // For a compressed stream, the decompressed bytes. A unit that does not
  // decompress reads as zeros and is counted in CorruptUnits(); the read
  // still succeeds, so the rest of the stream comes back. A device that
  // fails, or bytes the runs do not map, fail the read as for any stream.
  bool ReadBytes(uint64_t offset, void* buffer, uint64_t length, uint64_t& bytesRead) override;
  uint64_t InitializedSize() const { return header_.u64(kAttrInitializedSize); }
  // Compression units found corrupt by reads so far (a unit decoded twice
  // counts twice), and the stream offset of the first of them.
  uint64_t CorruptUnits() const { return corruptUnits_; }
  uint64_t FirstCorruptOffset() const { return firstCorruptOffset_; }
  // How many of the bytes [offset, offset + length) read as zeros without
  // any read of the volume, counted from `offset` up to the first byte
  // that is stored: sparse runs, compression units that start sparse, and
  // the part of a compressed stream past its initialized size.
  uint64_t HoleBytesAt(uint64_t offset, uint64_t length) const;
  uint64_t FirstVcn() const override { return header_.u64(kAttrFirstVcn); }
  CAttrNonResident* AsNonResident() override { return this; }
  const CAttrNonResident* AsNonResident() const override { return this; }

  // Reads `count` clusters from `vcn` into `buffer`; bytesRead tells how
  // many arrived (a read error or an unmapped cluster ends it early).
  bool ReadVirtualClusters(uint64_t vcn, uint64_t count, void* buffer, uint64_t bufferBytes,
                           uint64_t& bytesRead);
  // Clusters this attribute maps, counted from its first VCN.
  uint64_t MappedClusters() const { return vcnCount_; }
  // Appends the runs of a later extent of the same stream when it starts
  // right where this one ends, so reads cross extents in VCN order.
  bool AdoptExtent(const CAttrNonResident& later);
  const std::vector<tagDataRun_Entry>& Runs() const { return runs_; }

  // One piece of a byte range of the stream as it lies on the volume.
  struct Extent {
    bool sparse = false;
    uint64_t volumeOffset = 0;  // unused when sparse
    uint64_t bytes = 0;
  };
  // The pieces of the stream's bytes [offset, offset + length), in order.
  // False when part of the range lies past the value or the mapped runs,
  // and for compressed streams, whose bytes do not lie on the volume as
  // they are. Reads nothing and changes nothing, so another thread may ask.
  bool MapExtents(uint64_t offset, uint64_t length, std::vector<Extent>& out) const;

 protected:
  bool ReadClusterSpan(void* buffer, uint64_t count, int64_t lcn);
  bool ReadOneCluster(uint64_t vcn);
  bool ReadCompressed(uint64_t offset, uint8_t* out, uint64_t length);
  // Fills unitBuffer_ with unit `unit`'s bytes; false when they cannot be read.
  bool LoadUnit(uint64_t unit);
  // The run holding `vcn`, or runs_.end().
  std::vector<tagDataRun_Entry>::const_iterator RunOf(uint64_t vcn) const;

  std::vector<tagDataRun_Entry> runs_;
  bool runsOk_ = false;
  uint64_t vcnCount_ = 0;
  std::unique_ptr<uint8_t[]> clusterBuffer_;  // for partial-cluster reads, made on first use

  // Compressed streams only.
  uint64_t unitBytes_ = 0;      // 0: not compressed
  bool unitUsable_ = false;     // a method and unit size this reader knows
  uint64_t cachedUnit_ = ~uint64_t{0};
  std::vector<uint8_t> unitBuffer_;    // one unit's bytes, made on first use
  std::vector<uint8_t> packedBuffer_;  // its compressed form
  uint64_t corruptUnits_ = 0;
  uint64_t firstCorruptOffset_ = 0;
};

class CAttr_StdInfo : public CAttrResident {
 public:
  using CAttrResident::CAttrResident;
  // Times converted to local time (the UTC value when that fails); created
  // and accessed may be null. False when the value is too short.
  bool GetStdTimes(uint64_t* modified, uint64_t* created, uint64_t* accessed) const;
  // The same times as stored, in UTC.
  bool GetUtcTimes(uint64_t* modified, uint64_t* created, uint64_t* accessed) const;
  uint32_t DosFlags() const { return value_.Has(0x20, 4) ? value_.u32(0x20) : 0; }
};

class CAttr_VolInfo : public CAttrResident {
 public:
  using CAttrResident::CAttrResident;
  uint8_t MajorVersion() const { return value_.Has(0x08, 1) ? value_.u8(0x08) : 0; }
  uint8_t MinorVersion() const { return value_.Has(0x09, 1) ? value_.u8(0x09) : 0; }
};

class CAttr_VolName : public CAttrResident {
 public:
  CAttr_VolName(ByteView header, CFileRecord* owner);
  const std::u16string& VolumeName() const { return name_; }
  const std::string& AnsiName() const { return ansiName_; }
  size_t NameLength() const { return name_.size(); }

 private:
  std::u16string name_;
  std::string ansiName_;
};

// A $FILE_NAME value, wherever it sits (an attribute or an index key).
class CFileName {
 public:
  CFileName() = default;
  virtual ~CFileName() = default;
  void SetFileName(ByteView value);
  bool HasName() const { return nameLength_ > 0; }
  const std::u16string& FileName() const { return name_; }
  // The name with a-z in capitals (made when asked: a scan never asks).
  std::u16string UpperName() const;
  int NameLength() const { return nameLength_; }
  uint8_t Namespace() const { return fileNameValue_.Has(0x41, 1) ? fileNameValue_.u8(0x41) : 0; }
  uint64_t ParentReference() const { return fileNameValue_.Has(0, 8) ? fileNameValue_.u64(0) : 0; }
  uint64_t RealSize() const { return fileNameValue_.Has(0x30, 8) ? fileNameValue_.u64(0x30) : 0; }

 protected:
  ByteView fileNameValue_;
  std::u16string name_;
  int nameLength_ = 0;
};

class CAttr_FileName : public CAttrResident, public CFileName {
 public:
  CAttr_FileName(ByteView header, CFileRecord* owner);
};

class CIndexEntry : public CFileName {
 public:
  explicit CIndexEntry(ByteView entry);
  ByteView Entry() const { return entry_; }

 private:
  ByteView entry_;
};

class CAttr_IndexRoot : public CAttrResident, public CSList<CIndexEntry> {
 public:
  CAttr_IndexRoot(ByteView header, CFileRecord* owner);
};

class CAttr_IndexAlloc : public CAttrNonResident {
 public:
  CAttr_IndexAlloc(ByteView header, CFileRecord* owner);
  uint64_t BlockCount() const { return blockCount_; }

 private:
  uint64_t blockCount_ = 0;
};

template <typename Base>
class CAttr_Data : public Base {
 public:
  using Base::Base;
};

template <typename Base>
class CAttr_Bitmap : public Base {
 public:
  CAttr_Bitmap(ByteView header, CFileRecord* owner);
  uint64_t BitmapBytes() const { return bitmapBytes_; }
  const std::vector<uint8_t>& BitmapBuffer() const { return bitmapBuffer_; }

 private:
  uint64_t bitmapBytes_ = 0;
  std::vector<uint8_t> bitmapBuffer_;
  int64_t cachedCluster_ = -1;
};

}  // namespace kestrel::ntfs
