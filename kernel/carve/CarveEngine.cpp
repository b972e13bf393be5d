#include "kernel/carve/CarveEngine.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <map>
#include <vector>

#include "kernel/StopFlag.h"
#include "kernel/carve/Formats.h"
#include "kernel/device/SectorReader.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/os/Os.h"

namespace kestrel::carve {

namespace {

constexpr size_t kBlockBytes = 8u << 20;
constexpr uint64_t kRawStep = 512;
const char16_t kFolder[] = u"Carved files\\";

struct Carved {
  uint64_t size;
  std::u16string relative;  // below "Deleted\"
};

// "f" and the find's first sector (of 512 bytes) in at least 7 digits.
std::u16string NameFor(uint64_t offset, const char16_t* type) {
  char digits[32];
  std::snprintf(digits, sizeof digits, "f%07llu.", static_cast<unsigned long long>(offset / 512));
  std::u16string name(digits, digits + std::char_traits<char>::length(digits));
  return name + type;
}

class CarveEngine final : public VolumeEngine {
 public:
  CarveEngine(const VolumeSource& source, std::unique_ptr<VolumeEngine> fileSystem,
              std::unique_ptr<SectorReader> reader, uint64_t volumeBytes)
      : source_(source), fileSystem_(std::move(fileSystem)), reader_(std::move(reader)),
        volumeBytes_(volumeBytes) {}

  VolumeFacts Facts() const override {
    if (fileSystem_) return fileSystem_->Facts();
    VolumeFacts f;
    f.fileSystem = u"raw";
    f.sectorBytes = source_.deviceSectorBytes;
    f.clusterBytes = static_cast<uint32_t>(kRawStep);
    f.totalBytes = volumeBytes_;
    return f;
  }

  Outcome Scan(ScanSink& sink) override {
    items_.clear();
    AllocationMap map;
    ClusterLayout layout;
    const bool mapped = fileSystem_ && fileSystem_->Allocation(map, layout) && map.Known() &&
                        layout.clusterBytes >= 512;
    step_ = mapped ? layout.clusterBytes : kRawStep;
    buffer_.resize(kBlockBytes);
    sink.Progress(0, volumeBytes_);
    if (!mapped) return ScanRange(sink, 0, volumeBytes_);
    // The free runs of clusters, in volume order.
    const uint64_t first = map.FirstCluster(), last = first + map.Clusters();
    uint64_t c = first;
    while (c < last) {
      while (c < last && map.InUse(c)) ++c;
      const uint64_t runStart = c;
      while (c < last && !map.InUse(c)) ++c;
      if (c == runStart) break;
      const uint64_t from = layout.firstClusterByte + (runStart - first) * step_;
      const uint64_t to = std::min(volumeBytes_, layout.firstClusterByte + (c - first) * step_);
      if (from >= to) continue;
      Outcome o = ScanRange(sink, from, to);
      if (!o.ok()) return o;
    }
    sink.Progress(volumeBytes_, volumeBytes_);
    return Outcome::Success();
  }

  RecoverResult Recover(uint64_t id, ItemWriter& writer) override {
    auto it = items_.find(id);
    if (it == items_.end()) return {KX_RECOVER_NOT_FOUND, u"no such item"};
    if (!writer.Create(it->second.relative)) return writer.Fail({});
    std::vector<uint8_t> chunk(std::min<uint64_t>(it->second.size, 4u << 20));
    uint64_t done = 0;
    while (done < it->second.size) {
      if (StopRequested()) return writer.Fail(StoppedResult());
      const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk.size(), it->second.size - done));
      if (!reader_->ReadExact(id + done, chunk.data(), n)) return writer.Fail(ReadFailure(id + done));
      if (!writer.Write(chunk.data(), n)) return writer.Fail({});
      done += n;
    }
    return writer.Finish(it->second.size);
  }

 private:
  // Carves [from, to): a free run, or the whole volume.
  Outcome ScanRange(ScanSink& sink, uint64_t from, uint64_t to) {
    uint64_t pos = from;
    while (pos < to) {
      if (StopRequested()) return Outcome::Stopped();
      const size_t want = static_cast<size_t>(std::min<uint64_t>(kBlockBytes, to - pos));
      size_t got = 0;
      if (!reader_->Read(pos, buffer_.data(), want, got)) return Outcome::ReadFailed(pos);
      if (got == 0) break;
      uint64_t next = pos + got;  // where the next block starts
      for (uint64_t off = 0; off < got; off += step_) {
        // Zeros are the common case in free space; of the formats only ISO
        // media starts with one (the high byte of its first box's size).
        if (buffer_[off] == 0 &&
            !(got - off >= 8 && std::memcmp(&buffer_[off + 4], "ftyp", 4) == 0))
          continue;
        const uint64_t at = pos + off;
        Stream s(ByteView(buffer_.data() + off, got - off), to - at,
                 [this, at](uint64_t o, uint8_t* b, size_t n, size_t& g) {
                   return reader_->Read(at + o, b, n, g);
                 },
                 &scratch_);
        Find f;
        const bool found = Identify(s, f);
        // A parse cut short by a stop is no verdict: nothing is listed.
        if (s.Stopped() || StopRequested()) return Outcome::Stopped();
        if (!found || f.size == 0) continue;
        Add(sink, at, f);
        // Go on after the find, at the next cluster start; a damaged find's
        // extent is a guess, so what lies inside it is looked at as well.
        if (f.damaged) continue;
        const uint64_t end = off + (f.size + step_ - 1) / step_ * step_;
        if (end >= got) {
          next = pos + end;
          break;
        }
        off = end - step_;
      }
      pos = next;
      sink.Progress(std::min(pos, volumeBytes_), volumeBytes_);
    }
    return Outcome::Success();
  }

  void Add(ScanSink& sink, uint64_t at, const Find& f) {
    Carved c;
    c.size = f.size;
    c.relative = std::u16string(kFolder) + f.type + u"\\" + NameFor(at, f.type);
    ItemDetails d;
    d.state = f.damaged ? KX_STATE_DAMAGED : KX_STATE_INTACT;
    d.flags = KX_FLAG_CARVED;
    d.recordNumber = at;
    uint64_t local = 0;
    if (f.modifiedUtc) {
      if (f.timeIsLocal) {
        local = f.modifiedUtc;
        if (!os::LocalFileTimeToUtc(local, d.modified)) d.modified = local;
      } else {
        d.modified = f.modifiedUtc;
        if (!os::FileTimeToLocal(d.modified, local)) local = d.modified;
      }
    }
    if (sink.Add(sink.Base() + c.relative, at, c.size, local, d)) items_[at] = std::move(c);
  }

  VolumeSource source_;
  std::unique_ptr<VolumeEngine> fileSystem_;
  std::unique_ptr<SectorReader> reader_;
  uint64_t volumeBytes_;
  uint64_t step_ = kRawStep;
  std::vector<uint8_t> buffer_;
  std::vector<uint8_t> scratch_;  // the streams' cache, kept between finds
  std::map<uint64_t, Carved> items_;  // by byte offset, the item's id
};

}  // namespace

std::unique_ptr<VolumeEngine> Open(const VolumeSource& source,
                                   std::unique_ptr<VolumeEngine> fileSystem, Outcome& outcome) {
  std::unique_ptr<os::Device> device = source.OpenWindow();
  if (!device) {
    outcome = Outcome::ReadFailed(0);
    return nullptr;
  }
  uint64_t bytes = source.length;
  if (!bytes && (!device->QuerySize(bytes) || bytes == 0)) {
    // Where the size is not told, the file system's own, else the device's end is found by reading.
    if (fileSystem) bytes = fileSystem->Facts().totalBytes;
  }
  if (!bytes) {
    outcome = Outcome::Unsupported(u"the size of the volume cannot be told");
    return nullptr;
  }
  auto reader = std::make_unique<SectorReader>(std::move(device),
                                               std::max<uint32_t>(512, source.deviceSectorBytes));
  outcome = Outcome::Success();
  return std::make_unique<CarveEngine>(source, std::move(fileSystem), std::move(reader), bytes);
}

}  // namespace kestrel::carve
