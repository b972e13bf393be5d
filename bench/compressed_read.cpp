// Decompression speed of one NTFS compressed file, run by hand through
// bench/compressed.sh (which makes the image). Two figures, in MB/s of
// decompressed output, the best of the runs, by the wall clock and by the
// thread's own CPU time (the machine may be shared):
//   stream  the file read through its $DATA in 10 MiB blocks, as recovery
//           reads it: clusters from the (warm) page cache, then LZNT1
//   lznt1   Lznt1Decompress alone over the file's compressed units, held
//           in memory beforehand
//
//   bench_compressed_read IMAGE RECORD [RUNS]
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <ctime>
#include <cstdlib>
#include <string>
#include <vector>

#include "kernel/ntfs/FileRecord.h"
#include "kernel/ntfs/Lznt1.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "kernel/os/Os.h"

using namespace kestrel;
using namespace kestrel::ntfs;

namespace {

struct Clock {
  std::chrono::steady_clock::time_point wall = std::chrono::steady_clock::now();
  double cpu = CpuNow();
  static double CpuNow() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_nsec) / 1e9;
  }
};

struct Best {
  double wall = 1e9, cpu = 1e9;
  void Add(const Clock& start) {
    wall = std::min(wall, std::chrono::duration<double>(std::chrono::steady_clock::now() - start.wall).count());
    cpu = std::min(cpu, Clock::CpuNow() - start.cpu);
  }
};

}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s IMAGE RECORD [RUNS]\n", argv[0]);
    return 2;
  }
  const std::string image = argv[1];
  const uint64_t number = std::strtoull(argv[2], nullptr, 10);
  const int runs = argc > 3 ? std::atoi(argv[3]) : 5;
  if (!os::MapVolume(u'B', std::u16string(image.begin(), image.end()))) return 1;
  CNTFSVolume volume(u'B');
  CFileRecord record(&volume);
  record.SetTypeMask(kMaskData);
  if (!volume.IsUsable() || !record.LoadFileRecord(number) || !record.BuildAttributes()) {
    std::fprintf(stderr, "cannot read record %llu\n", static_cast<unsigned long long>(number));
    return 1;
  }
  auto* data = dynamic_cast<CAttrNonResident*>(record.LookupDataStream(nullptr));
  if (!data || !data->IsCompressed()) {
    std::fprintf(stderr, "record %llu has no compressed $DATA\n", static_cast<unsigned long long>(number));
    return 1;
  }
  const uint64_t size = data->GetValueSize(nullptr);
  const double megabytes = static_cast<double>(size) / 1e6;

  std::vector<uint8_t> block(10 << 20);
  Best stream;
  for (int r = 0; r < runs; ++r) {
    Clock start;
    for (uint64_t at = 0; at < size; at += block.size()) {
      uint64_t got = 0;
      if (!data->ReadBytes(at, block.data(), std::min<uint64_t>(block.size(), size - at), got)) return 1;
    }
    stream.Add(start);
  }
  std::printf("file: %.1f MB in %zu runs\n", megabytes, data->Runs().size());
  std::printf("stream: %.0f MB/s wall, %.0f MB/s CPU\n", megabytes / stream.wall, megabytes / stream.cpu);

  // The compressed units: each unit's allocated clusters before its sparse run.
  const uint64_t cluster = volume.ClusterBytes();
  const uint64_t unitBytes = 16 * cluster;
  std::vector<std::vector<uint8_t>> units;
  const auto& list = data->Runs();
  for (size_t i = 0; i + 1 < list.size(); ++i) {
    if (list[i].lcn < 0 || list[i + 1].lcn >= 0 || list[i].vcnFirst % 16 != 0 || list[i].runLength >= 16)
      continue;
    std::vector<uint8_t> packed(list[i].runLength * cluster);
    uint64_t got = 0;
    if (data->ReadVirtualClusters(list[i].vcnFirst, list[i].runLength, packed.data(), packed.size(), got))
      units.push_back(std::move(packed));
  }
  std::vector<uint8_t> out(unitBytes);
  Best alone;
  for (int r = 0; r < runs; ++r) {
    Clock start;
    for (const auto& packed : units)
      if (!Lznt1Decompress(ByteView(packed.data(), packed.size()), out.data(), out.size()).ok) return 1;
    alone.Add(start);
  }
  const double unitMegabytes = static_cast<double>(units.size() * unitBytes) / 1e6;
  std::printf("lznt1: %.0f MB/s wall, %.0f MB/s CPU over %zu units (%.1f MB out)\n",
              unitMegabytes / alone.wall, unitMegabytes / alone.cpu, units.size(), unitMegabytes);
  return 0;
}
