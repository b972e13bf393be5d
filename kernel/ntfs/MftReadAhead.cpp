#include "kernel/ntfs/MftReadAhead.h"

#include <algorithm>
#include <cstring>

#include "kernel/StopFlag.h"

namespace kestrel::ntfs {
namespace {
// Chunks read but not yet taken: enough to hide one read behind one parse.
constexpr size_t kChunksAhead = 2;
}  // namespace

MftReadAhead::MftReadAhead(std::unique_ptr<os::Device> device, const CAttrNonResident& table,
                           const Plan& plan, std::unique_ptr<os::Device> own)
    : table_(table), plan_(plan) {
  nextClaim_ = plan_.firstRecord;
  const uint32_t align = static_cast<uint32_t>(std::min<uint64_t>(plan_.sectorBytes, 65536));
  if (device) device_ = std::make_unique<SectorReader>(std::move(device), align);
  if (own) own_ = std::make_unique<SectorReader>(std::move(own), align);
  if (!device_ || plan_.recordBytes == 0 || plan_.perChunk == 0 || plan_.sectorBytes == 0) {
    finished_ = true;
    own_.reset();
    return;
  }
  thread_ = std::thread([this] { Run(); });
}

MftReadAhead::~MftReadAhead() {
  {
    std::lock_guard<std::mutex> hold(lock_);
    quit_ = true;
  }
  changed_.notify_all();
  if (thread_.joinable()) thread_.join();
}

bool MftReadAhead::IsChunkStart(uint64_t first) const {
  return first >= plan_.firstRecord && first < plan_.recordCount &&
         (first - plan_.firstRecord) % plan_.perChunk == 0;
}

bool MftReadAhead::ClaimLocked(uint64_t first) {
  if (first < nextClaim_ || !IsChunkStart(first)) return false;
  nextClaim_ = first + std::min(plan_.perChunk, plan_.recordCount - first);
  return true;
}

void MftReadAhead::AddLocked(Chunk chunk) {
  auto at = std::find_if(ready_.begin(), ready_.end(),
                         [&](const Chunk& c) { return c.first > chunk.first; });
  ready_.insert(at, std::move(chunk));
}

std::vector<uint8_t> MftReadAhead::SpareLocked() {
  if (spare_.empty()) return {};
  std::vector<uint8_t> buffer = std::move(spare_.back());
  spare_.pop_back();
  return buffer;
}

void MftReadAhead::Run() {
  for (;;) {
    Chunk chunk;
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [&] { return quit_ || ready_.size() < kChunksAhead; });
      chunk.first = nextClaim_;
      if (quit_ || !ClaimLocked(chunk.first)) break;
      chunk.bytes = SpareLocked();
    }
    if (StopRequested()) break;
    chunk.ok = ReadChunk(*device_, chunk.first, chunk.bytes);
    {
      std::lock_guard<std::mutex> hold(lock_);
      AddLocked(std::move(chunk));
    }
    changed_.notify_all();
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
  }
  changed_.notify_all();
}

bool MftReadAhead::ReadChunk(SectorReader& reader, uint64_t first, std::vector<uint8_t>& out) {
  const uint64_t count = std::min(plan_.perChunk, plan_.recordCount - first);
  if (count > SIZE_MAX / plan_.recordBytes || first > UINT64_MAX / plan_.recordBytes) return false;
  const uint64_t bytes = count * plan_.recordBytes;
  std::vector<CAttrNonResident::Extent> pieces;
  if (!table_.MapExtents(first * plan_.recordBytes, bytes, pieces)) return false;
  out.resize(static_cast<size_t>(bytes));
  uint8_t* at = out.data();
  for (const CAttrNonResident::Extent& piece : pieces) {
    if (piece.sparse)
      std::memset(at, 0, static_cast<size_t>(piece.bytes));
    else if (!reader.ReadExact(piece.volumeOffset, at, static_cast<size_t>(piece.bytes)))
      return false;
    at += piece.bytes;
  }
  return true;
}

bool MftReadAhead::Take(uint64_t first, std::vector<uint8_t>& out) {
  if (!IsChunkStart(first)) return false;  // no chunk of the plan starts there
  Chunk chunk;
  {
    std::unique_lock<std::mutex> hold(lock_);
    for (;;) {
      // Chunks the caller has gone past are of no more use.
      bool dropped = false;
      while (!ready_.empty() && ready_.front().first < first) {
        spare_.push_back(std::move(ready_.front().bytes));
        ready_.pop_front();
        dropped = true;
      }
      if (dropped) changed_.notify_all();
      if (!ready_.empty() && ready_.front().first == first) break;
      if (own_ && ClaimLocked(first)) {
        // Nobody has begun it: read it here rather than wait.
        hold.unlock();
        changed_.notify_all();
        return ReadChunk(*own_, first, out);
      }
      if (finished_) return false;
      // The thread is reading it (or about to): read the next one meanwhile.
      const uint64_t ahead = nextClaim_;
      if (own_ && first < ahead && ready_.size() < kChunksAhead && ClaimLocked(ahead)) {
        Chunk extra;
        extra.first = ahead;
        extra.bytes = SpareLocked();
        hold.unlock();
        extra.ok = ReadChunk(*own_, ahead, extra.bytes);
        hold.lock();
        AddLocked(std::move(extra));
        continue;
      }
      changed_.wait(hold);
    }
    chunk = std::move(ready_.front());
    ready_.pop_front();
    // The caller's old buffer goes back to the reader.
    if (out.capacity() > 0) spare_.push_back(std::move(out));
  }
  changed_.notify_all();
  out = std::move(chunk.bytes);
  return chunk.ok;
}

}  // namespace kestrel::ntfs
