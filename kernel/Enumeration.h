// Finding the disks and the lettered volumes the engines recognise, once
// per SH_Init.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kernel/device/DeviceEntry.h"
#include "kernel/device/PartitionTable.h"
#include "kernel/device/RawDevice.h"
#include "kernel/engine/Engine.h"

namespace kestrel {

void EnumerateDevices(DeviceList& list);
// A lettered volume's geometry: the system's, or its boot sector's.
bool VolumeGeometry(uint8_t letterIndex, GeometrySummary& out);
bool BuildDeviceName(const DeviceList& list, size_t index, std::u16string& out, size_t capacity);

// The first 4096 bytes of a source (whole sectors on 512- and 4096-byte
// devices). Empty when fewer than 512 bytes arrive.
std::vector<uint8_t> ReadLead(const VolumeSource& source);
// The engines' probe of a source's first bytes.
ProbeResult ProbeSource(const VolumeSource& source, const EngineEntry** which = nullptr);

// Every partition of a disk image or device at `spec`, with what the
// engines' probes make of each. False when it cannot be opened.
struct ProbedPartition {
  PartitionEntry entry;
  ProbeResult probe;
};
bool ReadDiskPartitions(const std::u16string& spec, PartitionTable& table,
                        std::vector<ProbedPartition>& out);

// The partitions of a whole disk that an engine recognises; `kind` (may be
// null) receives the kind of table read.
std::vector<DevicePartition> RecognisedPartitions(const VolumeSource& disk, uint64_t diskBytes,
                                                  TableKind* kind = nullptr);

}  // namespace kestrel
