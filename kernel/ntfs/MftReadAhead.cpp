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
                           const Plan& plan)
    : device_(std::move(device)), table_(table), plan_(plan) {
  if (!device_ || plan_.recordBytes == 0 || plan_.perChunk == 0 || plan_.sectorBytes == 0) {
    finished_ = true;
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

void MftReadAhead::Run() {
  std::vector<uint8_t> buffer;
  for (uint64_t n = plan_.firstRecord; n < plan_.recordCount; n += plan_.perChunk) {
    {
      std::unique_lock<std::mutex> hold(lock_);
      changed_.wait(hold, [&] { return quit_ || ready_.size() < kChunksAhead; });
      if (quit_) break;
      if (!spare_.empty()) {
        buffer = std::move(spare_.back());
        spare_.pop_back();
      }
    }
    if (StopRequested()) break;
    const uint64_t count = std::min(plan_.perChunk, plan_.recordCount - n);
    Chunk chunk;
    chunk.first = n;
    chunk.ok = ReadChunk(n, count, buffer);
    chunk.bytes = std::move(buffer);
    buffer.clear();
    {
      std::lock_guard<std::mutex> hold(lock_);
      ready_.push_back(std::move(chunk));
    }
    changed_.notify_all();
  }
  {
    std::lock_guard<std::mutex> hold(lock_);
    finished_ = true;
  }
  changed_.notify_all();
}

bool MftReadAhead::ReadChunk(uint64_t first, uint64_t count, std::vector<uint8_t>& out) {
  if (count > SIZE_MAX / plan_.recordBytes || first > UINT64_MAX / plan_.recordBytes) return false;
  const uint64_t bytes = count * plan_.recordBytes;
  std::vector<CAttrNonResident::Extent> pieces;
  if (!table_.MapExtents(first * plan_.recordBytes, bytes, pieces)) return false;
  out.resize(static_cast<size_t>(bytes));
  uint8_t* at = out.data();
  std::vector<uint8_t> staging;
  const uint64_t align = plan_.sectorBytes;
  for (const CAttrNonResident::Extent& piece : pieces) {
    if (piece.sparse) {
      std::memset(at, 0, static_cast<size_t>(piece.bytes));
    } else {
      // Raw volumes take whole sectors only.
      const uint64_t start = piece.volumeOffset - piece.volumeOffset % align;
      const uint64_t lead = piece.volumeOffset - start;
      if (piece.bytes > UINT64_MAX - lead - align) return false;
      const uint64_t span = (lead + piece.bytes + align - 1) / align * align;
      if (span > SIZE_MAX) return false;
      size_t got = 0;
      if (lead == 0 && span == piece.bytes) {
        if (!device_->ReadAt(start, at, static_cast<size_t>(span), got) || got != span) return false;
      } else {
        staging.resize(static_cast<size_t>(span));
        if (!device_->ReadAt(start, staging.data(), staging.size(), got) || got != span) return false;
        std::memcpy(at, staging.data() + lead, static_cast<size_t>(piece.bytes));
      }
    }
    at += piece.bytes;
  }
  return true;
}

bool MftReadAhead::Take(uint64_t first, std::vector<uint8_t>& out) {
  Chunk chunk;
  {
    std::unique_lock<std::mutex> hold(lock_);
    changed_.wait(hold, [&] { return !ready_.empty() || finished_; });
    if (ready_.empty()) return false;
    chunk = std::move(ready_.front());
    ready_.pop_front();
    // The caller's old buffer goes back to the reader.
    if (out.capacity() > 0) spare_.push_back(std::move(out));
  }
  changed_.notify_all();
  out = std::move(chunk.bytes);
  return chunk.ok && chunk.first == first;
}

}  // namespace kestrel::ntfs
