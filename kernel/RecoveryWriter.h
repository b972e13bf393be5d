// Writing one found NTFS item out under a folder.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {
namespace ntfs {
class CNTFSVolume;
class PathBuilder;
}

// Writes MFT record `record` of the volume on `letter` to
// folder + "Deleted\" + its path inside the volume. 1 only when the whole
// file was written.
int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t record);
// The same from a volume already open, so that many items of one scan do
// not each reopen the volume and reload the $MFT's runs.
// `paths`, when given, is a path builder over that volume kept with it, so
// that the folders' names are read once for many items.
int RecoverNtfsItem(ntfs::CNTFSVolume& volume, const std::u16string& folder, uint64_t record,
                    ntfs::PathBuilder* paths = nullptr);

}  // namespace kestrel
