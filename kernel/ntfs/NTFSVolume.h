// CNTFSVolume: an NTFS partition opened by drive letter, its geometry from
// the boot sector, its version from $Volume and its $MFT record, through
// whose data runs every other record is found.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "kernel/device/SectorReader.h"
#include "kernel/engine/Outcome.h"
#include "kernel/ntfs/BootSector.h"
#include "kernel/os/Os.h"

namespace kestrel::ntfs {

class CFileRecord;
class CAttrBase;

class CNTFSVolume {
 public:
  // Opens the volume on `letter` (A..Z, either case); check IsUsable().
  explicit CNTFSVolume(char16_t letter);
  // The same over a device already open (tests use in-memory devices).
  explicit CNTFSVolume(std::unique_ptr<os::Device> device);
  virtual ~CNTFSVolume();
  CNTFSVolume(const CNTFSVolume&) = delete;
  CNTFSVolume& operator=(const CNTFSVolume&) = delete;

  bool IsUsable() const { return usable_; }
  // Why the volume is not usable (Ok when it is).
  const Outcome& OpenOutcome() const { return outcome_; }
  uint64_t Serial() const { return serial_; }
  const std::u16string& Label() const { return label_; }
  // The boot sector's count leaves out the backup boot sector at the end.
  uint64_t VolumeBytes() const { return (geometry_.volumeSectors + 1) * geometry_.sectorBytes; }
  // The device ends before the volume the boot sector describes: records
  // and data past its end cannot be read. `claimed` receives the records
  // the $MFT's size holds.
  bool MftCutShort(uint64_t& claimed) const;
  uint64_t ReadableBytes() const { return readableBytes_; }
  uint16_t SectorBytes() const { return geometry_.sectorBytes; }
  uint32_t ClusterBytes() const { return geometry_.clusterBytes; }
  uint32_t RecordBytes() const { return geometry_.recordBytes; }
  uint32_t IndexBlockBytes() const { return geometry_.indexBlockBytes; }
  uint64_t MftByteOffset() const { return geometry_.mftByteOffset; }
  uint16_t NtfsVersion() const { return version_; }
  os::Device* Handle() const { return device_ ? device_->Device() : nullptr; }
  CAttrBase* MftData() const { return mftData_; }
  // Records the $MFT holds: its data size / record size, as far as its runs
  // map clusters and the device holds the volume.
  uint64_t RecordCount() const { return recordCount_; }

  // Reads bytes at a volume offset. The device is only ever asked for
  // whole sectors (Windows refuses anything else on raw volumes): an
  // unaligned request reads the enclosing sectors and copies out. `got`
  // may be short at the end of the device.
  bool ReadAligned(uint64_t offset, void* buffer, size_t length, size_t& got);
  // Reads the first `size` bytes of record `recordNumber` (up to one
  // record), through the $MFT's runs from record 16 on. True only when all
  // arrive.
  bool ReadRecordBytes(uint64_t recordNumber, uint8_t* buffer, size_t size);
  // From now on keeps the window of kWindowRecords records around the last
  // record read through the runs, so that records asked for in table order
  // (recovering one found item after another) cost one read per window
  // rather than one each: one seek instead of dozens on a spinning disk.
  // For volumes kept across many record reads; a window that cannot be
  // read whole is not kept, and its records are read one by one as before.
  void KeepRecordWindow() { keepWindow_ = true; }
  static constexpr uint64_t kWindowRecords = 64;

 private:
  void Open();
  bool ReadFromWindow(uint64_t recordNumber, uint8_t* buffer, size_t size);
  uint64_t FindReadableEnd();
  uint64_t CountRecords() const;

  // Damaged, or cut short when the device ends before `offset`.
  Outcome RecordFailure(uint64_t recordNumber, uint64_t offset);

  std::unique_ptr<SectorReader> device_;
  NtfsGeometry geometry_;
  Outcome outcome_;
  uint64_t serial_ = 0;
  std::u16string label_;
  uint16_t version_ = 0;
  bool usable_ = false;
  uint64_t readableBytes_ = 0;
  uint64_t recordCount_ = 0;
  std::unique_ptr<CFileRecord> mftRecord_;
  CAttrBase* mftData_ = nullptr;
  bool keepWindow_ = false;
  uint64_t windowFirst_ = 0;  // record number of windowBytes_[0]
  uint64_t windowCount_ = 0;  // records held
  bool windowTried_ = false;  // windowFirst_ names the last window tried
  std::vector<uint8_t> windowBytes_;
};

}  // namespace kestrel::ntfs
