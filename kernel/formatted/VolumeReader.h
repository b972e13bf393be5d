// The one sequential pass over a whole volume that every search for a
// previous file system makes: large aligned reads, progress and the stop
// flag between them.
#pragma once

#include <cstdint>
#include <functional>

#include "kernel/Bytes.h"
#include "kernel/device/SectorReader.h"
#include "kernel/engine/Engine.h"

namespace kestrel::formatted {

// Bytes per read: large enough that the pass is bound by the device.
constexpr size_t kPassBytes = 4 << 20;

// Calls `chunk(offset, bytes)` for each piece of [0, volumeBytes) in
// order. Stops with Stopped when asked to; a piece that cannot be read is
// passed over (a bad sector must not end the search).
Outcome ReadWholeVolume(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink,
                        const std::function<void(uint64_t, ByteView)>& chunk);

}  // namespace kestrel::formatted
