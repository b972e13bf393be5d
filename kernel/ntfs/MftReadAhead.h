// Reads the $MFT ahead of the scan on a second thread and its own device
// handle: while the scan parses one chunk of records, the next one is
// already being read. When the scan gets ahead of that thread it reads
// chunks too (on a handle of its own) instead of waiting, so the reading is
// shared by both threads. It only ever hands over whole chunks read without
// error; anything else is left to the scan's own reads, so the records the
// scan sees are the same either way.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "kernel/device/SectorReader.h"
#include "kernel/ntfs/Attributes.h"
#include "kernel/os/Os.h"

namespace kestrel::ntfs {

class MftReadAhead {
 public:
  struct Plan {
    uint64_t firstRecord = 0;
    uint64_t recordCount = 0;  // records of the table, end of the pass
    uint64_t recordBytes = 0;
    uint64_t perChunk = 1;     // records per chunk
    uint64_t sectorBytes = 512;
  };

  // `table` is the $MFT's data stream; it must outlive this object and
  // not change while it lives. `device` serves the reading thread, `own`
  // (optional) the caller's reads inside Take. Starts reading at once.
  MftReadAhead(std::unique_ptr<os::Device> device, const CAttrNonResident& table, const Plan& plan,
               std::unique_ptr<os::Device> own = nullptr);
  ~MftReadAhead();
  MftReadAhead(const MftReadAhead&) = delete;
  MftReadAhead& operator=(const MftReadAhead&) = delete;

  // The chunk that starts at `first`, moved into `out`: taken from the
  // thread's reads, or read here when nobody has begun it. False when it
  // could not be read whole (or is not a chunk of the plan): the caller
  // reads it itself. Chunks before `first` are dropped.
  bool Take(uint64_t first, std::vector<uint8_t>& out);

 private:
  struct Chunk {
    uint64_t first = 0;
    bool ok = false;
    std::vector<uint8_t> bytes;
  };
  void Run();
  // A chunk of the plan starts at record `first`.
  bool IsChunkStart(uint64_t first) const;
  // Takes the chunk at `first` for reading; false when someone has.
  bool ClaimLocked(uint64_t first);
  void AddLocked(Chunk chunk);
  std::vector<uint8_t> SpareLocked();
  bool ReadChunk(SectorReader& reader, uint64_t first, std::vector<uint8_t>& out);

  std::unique_ptr<SectorReader> device_;
  std::unique_ptr<SectorReader> own_;
  const CAttrNonResident& table_;
  Plan plan_;
  std::mutex lock_;
  std::condition_variable changed_;
  std::deque<Chunk> ready_;  // read, not taken, in record order
  uint64_t nextClaim_ = 0;   // the first chunk nobody has begun to read
  std::vector<std::vector<uint8_t>> spare_;  // buffers handed back for reuse
  bool quit_ = false;
  bool finished_ = false;
  std::thread thread_;
};

}  // namespace kestrel::ntfs
