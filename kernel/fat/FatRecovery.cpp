#include "kernel/fat/FatRecovery.h"

#include <algorithm>
#include <vector>

#include "kernel/DelItemRegistry.h"
#include "kernel/SafeName.h"
#include "kernel/StopFlag.h"
#include "kernel/fat/FatDrive.h"
#include "kernel/fat/FatTree.h"
#include "kernel/os/Os.h"

namespace kestrel {

using namespace fat;

namespace fat {

bool JoinComponent(std::u16string& path, std::u16string_view name, size_t limit) {
  if (path.empty() || path.back() == u'\\' || path.back() == u'/') {
    std::u16string safe = SafeName(name);
    if (path.size() + safe.size() > limit) return false;
    path += safe;
    return true;
  }
  return AppendComponent(path, name, limit);
}

bool WriteFatFile(CFATdrive& drive, const CFATFile& file, const std::u16string& outputPath,
                  const std::function<bool()>& makeFolders) {
  auto out = os::CreateOutputFile(outputPath);
  if (!out && makeFolders && makeFolders()) out = os::CreateOutputFile(outputPath);
  if (!out) return false;
  FileCursor cursor;
  cursor.startCluster = file.startCluster;
  cursor.currentCluster = file.startCluster;
  cursor.size = file.size;
  uint64_t written = 0;
  bool ok = true;
  if (file.size > 0) {
    std::vector<uint8_t> buffer(std::min(file.size, kRecoveryChunkBytes));
    const uint32_t chunk = static_cast<uint32_t>(buffer.size());
    for (;;) {
      uint32_t got = 0;
      if (!drive.ReadFileChunk(cursor, chunk, buffer.data(), got)) break;
      if (got > 0 && !out->Write(buffer.data(), got)) {
        ok = false;
        break;
      }
      written += got;
      if (got != chunk || StopRequested() || written >= file.size) break;
    }
  }
  bool closed = out->Close();
  return ok && closed && written == file.size;
}

}  // namespace fat

namespace {

// Finds the file with this id; `chain` receives the folders from `folder`
// down to the file's parent.
CFATFile* FindFile(CFATDirectory* folder, uint32_t id, int recurse,
                   std::vector<CFATDirectory*>& chain) {
  chain.push_back(folder);
  for (const auto& child : folder->children) {
    if (StopRequested()) break;
    if (auto* file = dynamic_cast<CFATFile*>(child.get())) {
      if (file->fileId == id) return file;
    } else if (auto* dir = dynamic_cast<CFATDirectory*>(child.get()); dir && recurse) {
      if (CFATFile* found = FindFile(dir, id, recurse, chain)) return found;
    }
  }
  chain.pop_back();
  return nullptr;
}

}  // namespace

int CFATdrive::RegisterItems(CCustomDirectory* folder, const std::u16string& prefix, int recurse) {
  auto* dir = dynamic_cast<CFATDirectory*>(folder);
  if (!dir || StopRequested()) return 0;
  std::u16string base = prefix;
  if (!JoinComponent(base, dir->name, kMaxItemPath)) return 0;
  for (const auto& child : dir->children) {
    if (StopRequested()) break;
    if (auto* file = dynamic_cast<CFATFile*>(child.get())) {
      std::u16string path = base;
      if (!JoinComponent(path, file->name, kMaxItemPath)) continue;
      TheRegistry().Append(path, file->fileId, 0, file->size,
                           DosDateTimeToFileTime(file->date, file->time));
    } else if (auto* sub = dynamic_cast<CFATDirectory*>(child.get()); sub && recurse) {
      RegisterItems(sub, base, recurse);
    }
  }
  return 1;
}

CFATFile* CFATdrive::IndexedFile(uint32_t id) {
  if (!fileIndexBuilt && rootFolder) {
    // Depth first, children in order, with an explicit stack: the same
    // order FindFile searches in, so the first file with an id wins.
    std::vector<std::pair<CFATDirectory*, size_t>> stack{{rootFolder.get(), 0}};
    while (!stack.empty()) {
      auto& [dir, next] = stack.back();
      if (next == dir->children.size()) {
        stack.pop_back();
        continue;
      }
      CDRItem* child = dir->children[next++].get();
      if (auto* file = dynamic_cast<CFATFile*>(child))
        fileIndex.emplace(file->fileId, file);
      else if (auto* sub = dynamic_cast<CFATDirectory*>(child))
        stack.emplace_back(sub, 0);
    }
    fileIndexBuilt = true;
  }
  auto found = fileIndex.find(id);
  return found == fileIndex.end() ? nullptr : found->second;
}

int CFATdrive::RecoverItem(CCustomDirectory* folder, uint32_t idLow, uint32_t idHigh,
                           const std::u16string& destination, int recurse) {
  auto* dir = dynamic_cast<CFATDirectory*>(folder);
  if (!dir || StopRequested() || idHigh != 0) return 0;
  std::vector<CFATDirectory*> chain;
  CFATFile* file = nullptr;
  if (dir == rootFolder.get() && recurse) {
    file = IndexedFile(idLow);
    for (CFATDirectory* d = file ? file->parent : nullptr; d; d = dynamic_cast<CFATDirectory*>(d->parent)) {
      chain.push_back(d);
      if (d == dir) break;
    }
    std::reverse(chain.begin(), chain.end());
    if (file && (chain.empty() || chain.front() != dir)) file = nullptr;  // not under the root
  } else {
    file = FindFile(dir, idLow, recurse, chain);
  }
  if (!file) return 0;
  std::u16string outFolder = destination;
  for (CFATDirectory* d : chain)
    if (!JoinComponent(outFolder, d->name, kMaxOutputPath)) return 0;
  std::u16string outPath = outFolder;
  if (!JoinComponent(outPath, file->name, kMaxOutputPath)) return 0;
  // Most files share their folder with the one before: make the folders
  // only when the file cannot be created without them.
  if (!WriteFatFile(*this, *file, outPath, [&] { return os::CreateFolderChain(outFolder); })) return 0;
  return 1;
}

}  // namespace kestrel
