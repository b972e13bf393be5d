#include "kernel/engine/Engine.h"

#include "kernel/DelItemRegistry.h"
#include "kernel/StopFlag.h"
#include "kernel/os/Os.h"

namespace kestrel {

std::atomic<int32_t> g_stopRequested{0};

ScanSink::ScanSink(DelItemRegistry& registry, std::u16string prefix, void* notifyWindow,
                   ScanProgress* progress)
    : registry_(registry), base_(std::move(prefix) + u"Deleted\\"), window_(notifyWindow),
      progress_(progress) {}

bool ScanSink::Add(std::u16string_view path, uint64_t id, uint64_t size, uint64_t modifiedLocal,
                   const ItemDetails& details) {
  if (!registry_.Append(path, static_cast<uint32_t>(id), static_cast<uint32_t>(id >> 32), size,
                        modifiedLocal, details))
    return false;
  ++found_;
  os::PostToWindow(window_, KESTREL_WM_SCAN_FOUND_COUNT, static_cast<uintptr_t>(found_), 0);
  return true;
}

void ScanSink::Progress(uint64_t done, uint64_t total) {
  if (!progress_) return;
  progress_->total.store(total, std::memory_order_relaxed);
  progress_->done.store(done, std::memory_order_relaxed);
}

}  // namespace kestrel
