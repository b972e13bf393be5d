#include <gtest/gtest.h>

#include <cstring>
#include <vector>

#include "kernel/Bytes.h"
#include "kernel/device/BootGeometry.h"
#include "tests/support/ImageFile.h"

namespace kestrel {
namespace {

TEST(BootGeometry, RecognisesNtfsFatAndExfat) {
  std::vector<uint8_t> s(512, 0);
  std::memcpy(&s[3], "NTFS    ", 8);
  put16(&s[0x0B], 4096);
  put64(&s[0x28], 999);
  BootGeometry g = ReadBootGeometry(ByteView(s.data(), s.size()));
  EXPECT_EQ(g.kind, BootKind::Ntfs);
  EXPECT_EQ(g.bytesPerSector, 4096u);
  EXPECT_EQ(g.totalSectors, 1000u) << "plus the backup boot sector";

  std::memcpy(&s[3], "NTFSX   ", 8);
  EXPECT_NE(ReadBootGeometry(ByteView(s.data(), s.size())).kind, BootKind::Ntfs);

  auto fat = test::FatBootSector(70000);
  g = ReadBootGeometry(ByteView(fat.data(), fat.size()));
  EXPECT_EQ(g.kind, BootKind::Fat);
  EXPECT_EQ(g.totalSectors, 70000u);

  std::vector<uint8_t> ex(512, 0);
  std::memcpy(&ex[3], "EXFAT   ", 8);
  ex[0x6C] = 9;
  put64(&ex[0x48], 123456);
  g = ReadBootGeometry(ByteView(ex.data(), ex.size()));
  EXPECT_EQ(g.kind, BootKind::ExFat);
  EXPECT_EQ(g.totalSectors, 123456u);
}

TEST(BootGeometry, RejectsImplausibleParameterBlocks) {
  auto fat = test::FatBootSector(5000);
  put16(&fat[0x0B], 0);  // zero bytes per sector
  EXPECT_EQ(ReadBootGeometry(ByteView(fat.data(), fat.size())).kind, BootKind::Unknown);
  fat = test::FatBootSector(5000);
  fat[0x0D] = 3;  // not a power of two
  EXPECT_EQ(ReadBootGeometry(ByteView(fat.data(), fat.size())).kind, BootKind::Unknown);
  std::vector<uint8_t> zeros(512, 0);
  EXPECT_EQ(ReadBootGeometry(ByteView(zeros.data(), zeros.size())).kind, BootKind::Unknown);
  EXPECT_EQ(ReadBootGeometry(ByteView(zeros.data(), 100)).kind, BootKind::Unknown);
}

}  // namespace
}  // namespace kestrel
