// The exFAT folder walk over fuzzed folders, then the recovery of the first
// items it lists into a scratch folder. The input is framed in a small valid
// volume (512-byte sectors and clusters, 256 clusters) so that the walk is
// reached: its first 32 bytes are the allocation bitmap, the next 1032 the
// FAT (clusters 0-257), the rest the heap from the root folder (cluster 3)
// on. The root's first entry always names the bitmap, in cluster 2.
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "kernel/Bytes.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/exfat/ExfatBootSector.h"
#include "kernel/exfat/ExfatEngine.h"
#include "kernel/os/Utf.h"

namespace {

constexpr uint32_t kSector = 512;
constexpr uint32_t kClusters = 256;
constexpr uint32_t kFatSector = 24, kFatSectors = 3, kHeapSector = 32;
constexpr size_t kBitmapBytes = kClusters / 8;
constexpr size_t kFatBytes = (kClusters + 2) * 4;

std::vector<uint8_t> Frame(const uint8_t* data, size_t size) {
  using namespace kestrel;
  std::vector<uint8_t> v((kHeapSector + kClusters) * kSector, 0);
  uint8_t* b = v.data();
  b[0] = 0xEB, b[1] = 0x76, b[2] = 0x90;
  std::copy_n("EXFAT   ", 8, b + 3);
  put64(b + 0x48, kHeapSector + kClusters);
  put32(b + 0x50, kFatSector);
  put32(b + 0x54, kFatSectors);
  put32(b + 0x58, kHeapSector);
  put32(b + 0x5C, kClusters);
  put32(b + 0x60, 3);
  put16(b + 0x68, 0x0100);
  b[0x6C] = 9, b[0x6D] = 0, b[0x6E] = 1;
  put16(b + 510, 0xAA55);
  const uint32_t sum = exfat::BootChecksum(ByteView(b, 11 * kSector), kSector);
  for (uint32_t i = 0; i < kSector; i += 4) put32(b + 11 * kSector + i, sum);
  std::copy_n(b, 12 * kSector, b + 12 * kSector);

  size_t at = 0;
  auto take = [&](uint8_t* to, size_t most) {
    const size_t n = std::min(most, size - at);
    std::copy_n(data + at, n, to);
    at += n;
  };
  uint8_t* heap = b + kHeapSector * kSector;
  take(heap, kBitmapBytes);  // cluster 2: the bitmap
  heap[0] |= 0x03;           // the bitmap and the root are in use
  take(b + kFatSector * kSector, kFatBytes);
  take(heap + kSector, (kClusters - 1) * kSector);
  uint8_t* root = heap + kSector;
  std::fill_n(root, 32, 0);
  root[0] = 0x81;
  put32(root + 20, 2);
  put64(root + 24, kBitmapBytes);
  return v;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrel;
  namespace fs = std::filesystem;
  static const fs::path scratch =
      fs::temp_directory_path() / ("kestrel-fuzz-exfat-" + std::to_string(getpid()));
  fuzz::MapBytesAsVolume(Frame(data, size));
  Outcome outcome;
  std::unique_ptr<VolumeEngine> engine = exfat::Open(LetterSource(u'F'), outcome);
  if (!engine) __builtin_trap();  // the frame is a valid volume
  DelItemRegistry registry;
  ScanSink sink(registry, u"F:\\", nullptr);
  engine->Scan(sink);
  const std::u16string prefix = u"F:\\Deleted\\";
  ItemWriter writer(os::FromUtf8((scratch / "out").string() + "/"));
  for (size_t i = 0; i < registry.Count(); ++i) {
    DelItem item;
    if (!registry.CopyOut(i, &item)) __builtin_trap();
    std::u16string path(reinterpret_cast<const char16_t*>(item.path));
    if (path.compare(0, prefix.size(), prefix) != 0) __builtin_trap();
    fuzz::CheckItemPath(path, prefix.size());
    if (i < 3) engine->Recover((uint64_t{item.idHigh} << 32) | item.idLow, writer);
  }
  // Nothing lands beside the recovery folder.
  std::error_code ec;
  if (fs::exists(scratch, ec)) {
    for (const auto& e : fs::directory_iterator(scratch, ec))
      if (e.path().filename() != "out") __builtin_trap();
    fs::remove_all(scratch, ec);
  }
  return 0;
}
