// Hand-built FAT volumes for the corner cases real tools do not make: a
// boot sector, FAT entries and directory slots written byte by byte, saved
// to a temporary image and mapped to a drive letter.
#pragma once

#include <cstdint>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/StopFlag.h"
#include "kernel/DelItemRegistry.h"
#include "kernel/device/VolumeSource.h"
#include "kernel/engine/Engine.h"
#include "kernel/engine/ItemWriter.h"
#include "kernel/fat/FatEngine.h"
#include "kernel/fat/FatVolume.h"
#include "kernel/os/Os.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {

struct FatTestImage {
  uint32_t bps = 512, spc = 1, reserved = 1, fats = 2, rootEntries = 32, spf = 2, total = 200;
  uint32_t rootCluster = 2;
  int bits = 12;  // how FAT entries are written
  std::vector<uint8_t> bytes;

  void Build() {
    bytes.assign(size_t{total} * 512, 0);
    uint8_t* b = bytes.data();
    b[0] = 0xEB; b[1] = 0x3C; b[2] = 0x90;
    std::memcpy(b + 3, "MSWIN4.1", 8);
    put16(b + 0x0B, static_cast<uint16_t>(bps));
    b[0x0D] = static_cast<uint8_t>(spc);
    put16(b + 0x0E, static_cast<uint16_t>(reserved));
    b[0x10] = static_cast<uint8_t>(fats);
    put16(b + 0x11, static_cast<uint16_t>(rootEntries));
    if (total < 65536) put16(b + 0x13, static_cast<uint16_t>(total));
    else put32(b + 0x20, total);
    b[0x15] = 0xF8;
    if (bits == 32) {
      put32(b + 0x24, spf);
      put32(b + 0x2C, rootCluster);
    } else {
      put16(b + 0x16, static_cast<uint16_t>(spf));
    }
    b[0x1FE] = 0x55; b[0x1FF] = 0xAA;
    SetFat(0, 0x0FFFFFF8);
    SetFat(1, 0x0FFFFFFF);
  }
  uint32_t RootDirSectors() const { return (rootEntries * 32 + 511) / 512; }
  uint32_t FirstDataSector() const { return reserved + fats * spf + RootDirSectors(); }
  uint8_t* Sector(uint32_t s) { return bytes.data() + size_t{s} * 512; }
  uint8_t* Cluster(uint32_t c) { return Sector(FirstDataSector() + (c - 2) * spc); }
  uint8_t* Root() { return bits == 32 ? Cluster(rootCluster) : Sector(reserved + fats * spf); }

  void SetFat(uint32_t cluster, uint32_t value) {
    for (uint32_t f = 0; f < fats; ++f) {
      uint8_t* fat = Sector(reserved + f * spf);
      if (bits == 12) {
        uint8_t* p = fat + cluster + cluster / 2;
        uint16_t old = le16(p);
        uint16_t v = static_cast<uint16_t>(value & 0xFFF);
        put16(p, (cluster & 1) ? static_cast<uint16_t>((old & 0x000F) | (v << 4))
                               : static_cast<uint16_t>((old & 0xF000) | v));
      } else if (bits == 16) {
        put16(fat + cluster * 2, static_cast<uint16_t>(value));
      } else {
        put32(fat + cluster * 4, value);
      }
    }
  }

  static void Short(uint8_t* slot, const char* name11, uint8_t attr, uint32_t cluster,
                    uint32_t size = 0, uint16_t date = 0, uint16_t time = 0) {
    std::memcpy(slot, name11, 11);
    slot[11] = attr;
    put16(slot + 0x14, static_cast<uint16_t>(cluster >> 16));
    put16(slot + 0x16, time);
    put16(slot + 0x18, date);
    put16(slot + 0x1A, static_cast<uint16_t>(cluster));
    put32(slot + 0x1C, size);
  }
  // One long-name slot holding up to 13 characters (0-terminated and
  // 0xFFFF-padded when shorter).
  static void Long(uint8_t* slot, uint8_t seq, std::u16string_view part, uint8_t checksum) {
    static const uint8_t offsets[13] = {1, 3, 5, 7, 9, 14, 16, 18, 20, 22, 24, 28, 30};
    std::memset(slot, 0, 32);
    slot[0] = seq;
    slot[11] = 0x0F;
    slot[13] = checksum;
    for (size_t i = 0; i < 13; ++i) {
      uint16_t c = i < part.size() ? part[i] : (i == part.size() ? 0 : 0xFFFF);
      put16(slot + offsets[i], c);
    }
  }
  void Dots(uint32_t cluster, uint32_t parent) {
    Short(Cluster(cluster), ".          ", 0x10, cluster);
    Short(Cluster(cluster) + 32, "..         ", 0x10, parent);
  }

  std::filesystem::path Save(const TempDir& dir, const std::string& name = "vol.img") {
    std::filesystem::path p = dir.path() / name;
    std::ofstream out(p, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    return p;
  }
};

// A saved image mapped to a letter, opened as a FAT volume (for its parts)
// and as the FAT engine (to scan and recover as the kernel does).
class MappedFatVolume {
 public:
  explicit MappedFatVolume(const std::filesystem::path& image, char16_t letter = u'T')
      : letter_(letter) {
    ClearStop();  // SH_StopTask of an earlier test leaves the flag raised
    os::MapVolume(letter, KernelPath(image));
    volume_ = std::make_unique<fat::FatVolume>(LetterSource(letter).OpenWindow(), 512);
    outcome_ = volume_->Load();
  }
  ~MappedFatVolume() {
    engine_.reset();
    volume_.reset();
    os::ClearMappings();
  }
  fat::FatVolume& volume() { return *volume_; }
  bool initialised() const { return outcome_.ok(); }
  const Outcome& outcome() const { return outcome_; }
  // The engine, opened on first use; null when the volume does not open.
  VolumeEngine* engine() {
    if (!engine_) {
      Outcome o;
      engine_ = fat::Open(LetterSource(letter_), o);
    }
    return engine_.get();
  }
  // Scans into the registry under "T:\"; the scan's outcome.
  Outcome Scan(void* window = nullptr) {
    TheRegistry().Clear();
    if (!engine()) return outcome_;
    ScanSink sink(TheRegistry(), std::u16string(1, letter_) + u":\\", window);
    return engine_->Scan(sink);
  }
  // Recovers item `id` of the last scan below `folder`.
  RecoverResult Recover(uint64_t id, const std::u16string& folder) {
    if (!engine()) return {KX_RECOVER_NOT_FOUND, u"not open"};
    ItemWriter writer(folder);
    return engine_->Recover(id, writer);
  }

 private:
  char16_t letter_;
  std::unique_ptr<fat::FatVolume> volume_;
  std::unique_ptr<VolumeEngine> engine_;
  Outcome outcome_;
};

}  // namespace kestrel::test
