#include "kernel/formatted/VolumeReader.h"

#include <algorithm>
#include <vector>

#include "kernel/StopFlag.h"

namespace kestrel::formatted {

Outcome ReadWholeVolume(SectorReader& reader, uint64_t volumeBytes, ScanSink& sink,
                        const std::function<void(uint64_t, ByteView)>& chunk) {
  std::vector<uint8_t> buffer(kPassBytes);
  sink.Progress(0, volumeBytes);
  for (uint64_t at = 0; at < volumeBytes; at += kPassBytes) {
    if (StopRequested()) return Outcome::Stopped();
    const size_t want = static_cast<size_t>(std::min<uint64_t>(kPassBytes, volumeBytes - at));
    size_t got = 0;
    if (!reader.Read(at, buffer.data(), want, got)) {
      // Read what can be read of the piece sector by sector.
      const uint32_t step = std::max<uint32_t>(reader.Alignment(), 512);
      got = 0;
      for (size_t off = 0; off + step <= want; off += step) {
        size_t one = 0;
        if (!reader.Read(at + off, buffer.data() + off, step, one) || one != step)
          std::fill(buffer.begin() + off, buffer.begin() + off + step, 0);
      }
      got = want;
    }
    if (got == 0) break;
    chunk(at, ByteView(buffer.data(), got));
    sink.Progress(at + got, volumeBytes);
    if (got < want) break;
  }
  return Outcome::Success();
}

}  // namespace kestrel::formatted
