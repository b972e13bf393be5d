// Writing one found NTFS item out under a folder.
#pragma once

#include <cstdint>
#include <string>

namespace kestrel {

// Writes MFT record `record` of the volume on `letter` to
// folder + "Deleted\" + its path inside the volume. 1 only when the whole
// file was written.
int RecoverNtfsItem(char16_t letter, const std::u16string& folder, uint64_t record);

}  // namespace kestrel
