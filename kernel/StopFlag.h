// The library-wide stop flag: set by SH_StopTask, cleared when a scan or a
// recovery starts, polled by every long loop between units of work.
#pragma once

#include <atomic>
#include <cstdint>

namespace kestrel {

extern std::atomic<int32_t> g_stopRequested;

inline bool StopRequested() { return g_stopRequested.load(std::memory_order_relaxed) != 0; }
inline void ClearStop() { g_stopRequested.store(0, std::memory_order_relaxed); }
inline void RequestStop() { g_stopRequested.store(1, std::memory_order_relaxed); }

}  // namespace kestrel
