// The previous NTFS of a quick-formatted volume: its file records, found
// by reading the whole volume for "FILE" records at record alignment
// outside the new $MFT, parsed by the NTFS engine's record code.
#pragma once

#include "kernel/device/SectorReader.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/Engine.h"
#include "kernel/formatted/OldTree.h"

namespace kestrel::formatted {

// Fills `tree` from the records found. The current NTFS (opened from
// `source`) gives the record size and where its own $MFT lies.
Outcome FindOldNtfs(const VolumeSource& source, SectorReader& reader, uint64_t volumeBytes,
                    ScanSink& sink, OldTree& tree);

}  // namespace kestrel::formatted
