// Turning the tree into found items, and writing one file of it out.
//
// Item path: scan prefix + "Deleted" + "\" + the folders from the root +
// the file name; output path: recovery folder + the same components. Every
// component passes through SafeName, so the two always agree and no name
// from disk can leave the recovery folder.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

namespace kestrel {

class CFATdrive;
class CFATFile;

namespace fat {

// Recovery reads and writes files in pieces of this size.
constexpr uint32_t kRecoveryChunkBytes = 0x800000;
// An output path may be longer than an item path (the recovery folder adds
// to it) but never without bound.
constexpr size_t kMaxOutputPath = 32000;

// Appends a sanitised component, with a "\" unless `path` is empty or
// already ends with a separator. False (path unchanged) past `limit` units.
bool JoinComponent(std::u16string& path, std::u16string_view name, size_t limit);

// Writes the file's bytes to `outputPath`. True only when the file was
// created and all its bytes were read and written.
// `makeFolders`, when given, is called once if the file cannot be created,
// to make its folders before a second try.
bool WriteFatFile(CFATdrive& drive, const CFATFile& file, const std::u16string& outputPath,
                  const std::function<bool()>& makeFolders = nullptr);

}  // namespace fat
}  // namespace kestrel
