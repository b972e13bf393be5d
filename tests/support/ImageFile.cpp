#include "tests/support/ImageFile.h"

#include <fstream>

#include "kernel/Bytes.h"

namespace kestrel::test {

std::filesystem::path WriteImage(const std::filesystem::path& folder, const char* name,
                                 const std::vector<uint8_t>& bytes) {
  std::filesystem::path p = folder / name;
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return p;
}

std::vector<uint8_t> FatBootSector(uint32_t totalSectors) {
  std::vector<uint8_t> s(512, 0);
  s[0] = 0xEB; s[1] = 0x3C; s[2] = 0x90;
  put16(&s[0x0B], 512);   // bytes per sector
  s[0x0D] = 4;            // sectors per cluster
  put16(&s[0x0E], 1);     // reserved sectors
  s[0x10] = 2;            // FATs
  put16(&s[0x11], 512);   // root entries
  if (totalSectors < 0x10000) put16(&s[0x13], static_cast<uint16_t>(totalSectors));
  else put32(&s[0x20], totalSectors);
  s[0x15] = 0xF8;
  put16(&s[0x16], 32);    // sectors per FAT
  s[0x1FE] = 0x55; s[0x1FF] = 0xAA;
  return s;
}

}  // namespace kestrel::test
