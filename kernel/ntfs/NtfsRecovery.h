// Writing one found NTFS item out through the item writer.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/engine/Engine.h"

namespace kestrel {
class ItemWriter;
namespace ntfs {
class CNTFSVolume;
class PathBuilder;

// Writes MFT record `record` to the writer's folder + "Deleted\" + its
// path inside the volume, that path at most `pathLimit` units (the scan's
// limit, so the output path is the item's path). `paths` is a builder over
// the same volume, kept so folders' names are read once for many items.
RecoverResult RecoverRecord(CNTFSVolume& volume, uint64_t record, PathBuilder& paths,
                            size_t pathLimit, ItemWriter& writer);

}  // namespace ntfs

// The same for the volume on `letter`, or one already open; 1 only when
// the whole file was written.
int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t record);
int RecoverNtfsItem(ntfs::CNTFSVolume& volume, const std::u16string& folder, uint64_t record,
                    ntfs::PathBuilder* paths = nullptr);

}  // namespace kestrel
