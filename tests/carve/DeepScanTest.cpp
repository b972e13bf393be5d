// The deep scan over real volumes: files of many formats written by real
// encoders, deleted by a quick format, must come back byte-exact when their
// clusters survived; a file cut by other data is listed as damaged; live
// files on a volume with an allocation map are not listed again.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <random>
#include <sstream>
#include <thread>

#include "kernel/Kestrel.h"
#include "kernel/StopFlag.h"
#include "kernel/carve/Crc32.h"
#include "kernel/carve/Formats.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

struct Expected {
  std::string name;
  uint64_t offset = 0;
  uint64_t size = 0;
  std::string sha256;
  std::string expect;  // intact, damaged, live
};

std::vector<Expected> ReadCarveList(const std::string& image) {
  std::vector<Expected> out;
  std::ifstream in(FixtureDir() / (image + ".carve"));
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#') continue;
    std::istringstream fields(line);
    Expected e;
    std::getline(fields, e.name, '\t');
    std::string offset, size;
    std::getline(fields, offset, '\t');
    std::getline(fields, size, '\t');
    std::getline(fields, e.sha256, '\t');
    std::getline(fields, e.expect, '\t');
    e.offset = std::stoull(offset);
    e.size = std::stoull(size);
    out.push_back(e);
  }
  return out;
}

struct DeepScan {
  int status = -1;
  int closes = 0;
  std::vector<uintptr_t> counts;
  std::map<uint64_t, DelItem> byId;
};

DeepScan RunDeepScan(const std::u16string& volume) {
  MessageCollector sink;
  DeepScan r;
  EXPECT_EQ(KX_StartScan(K(volume + u"\\"), K(volume), KX_MODE_DEEP, sink.window()), 1);
  EXPECT_TRUE(sink.WaitForClose()) << "scan did not end";
  SH_StopTask();
  KChar text[256];
  r.status = KX_GetLastScanStatus(text, 256);
  r.closes = sink.CloseCount();
  r.counts = sink.FoundCounts();
  for (const DelItem& item : AllItems())
    r.byId[uint64_t{item.idHigh} << 32 | item.idLow] = item;
  return r;
}

std::string Extension(const std::string& name) {
  std::string ext = name.substr(name.rfind('.') + 1);
  return ext;
}

std::string ExpectedPath(const Expected& e) {
  char n[32];
  std::snprintf(n, sizeof n, "f%07llu.", static_cast<unsigned long long>(e.offset / 512));
  // A cut file is listed as NAME.cut and carved under its own format.
  const bool cut = e.name.size() > 4 && e.name.compare(e.name.size() - 4, 4, ".cut") == 0;
  const std::string ext = Extension(cut ? e.name.substr(0, e.name.size() - 4) : e.name);
  return "V:\\Deleted\\Carved files\\" + ext + "\\" + n + ext;
}

KX_ItemInfo Info(const DelItem& item) {
  KX_ItemInfo info{};
  info.size = sizeof info;
  EXPECT_EQ(KX_GetDelItemInfo(item.idLow, item.idHigh, &info), 1);
  return info;
}

class DeepScanImage : public ::testing::TestWithParam<const char*> {};

TEST_P(DeepScanImage, SurvivorsComeBackByteExactCutIsDamagedLiveIsNotListed) {
  const std::string name = GetParam();
  fs::path image = RequireImage(name);
  if (image.empty()) return;
  std::vector<Expected> expected = ReadCarveList(name);
  ASSERT_GE(expected.size(), 10u) << "too few files survived the format to say anything";
  MountedKernel kernel({{u'V', KernelPath(image)}});
  DeepScan scan = RunDeepScan(u"V:");
  EXPECT_EQ(scan.status, KX_SCAN_OK);
  EXPECT_EQ(scan.closes, 1);
  ASSERT_FALSE(scan.counts.empty());
  EXPECT_EQ(scan.counts.back(), scan.byId.size());
  uint64_t done = 0, total = 0;
  EXPECT_EQ(KX_GetScanProgress(&done, &total), 1);
  EXPECT_EQ(done, total);
  EXPECT_EQ(total, fs::file_size(image));

  // Nothing else is listed: not the noise, not the file systems' own bytes.
  EXPECT_EQ(scan.byId.size(), static_cast<size_t>(std::count_if(
                                  expected.begin(), expected.end(),
                                  [](const Expected& e) { return e.expect != "live"; })));

  TempDir out;
  for (const Expected& e : expected) {
    auto found = scan.byId.find(e.offset);
    if (e.expect == "live") {
      EXPECT_EQ(found, scan.byId.end()) << e.name << " is live and was listed again";
      continue;
    }
    ASSERT_NE(found, scan.byId.end()) << e.name << " at " << e.offset << " not found";
    const DelItem& item = found->second;
    const KX_ItemInfo info = Info(item);
    EXPECT_TRUE(info.flags & KX_FLAG_CARVED) << e.name;
    EXPECT_EQ(Utf8(item.path), ExpectedPath(e));
    if (e.expect == "damaged") {
      EXPECT_EQ(info.state, static_cast<uint32_t>(KX_STATE_DAMAGED)) << e.name;
      continue;
    }
    EXPECT_EQ(info.state, static_cast<uint32_t>(KX_STATE_INTACT)) << e.name;
    EXPECT_EQ(item.size, e.size) << e.name;
    ASSERT_EQ(SH_RecoveryFile(K(out.AsFolderArgument()), item.idLow, item.idHigh), 1) << e.name;
    const std::string relative = ExpectedPath(e).substr(3);  // below "V:\"
    fs::path written = out.path();
    std::string part;
    std::istringstream parts(relative);
    while (std::getline(parts, part, '\\')) written /= part;
    ASSERT_TRUE(fs::exists(written)) << written;
    EXPECT_EQ(Sha256File(written), e.sha256) << e.name;

    // The times the formats hold: EXIF (local, no zone), PNG tIME and the
    // PDF's CreationDate (both with a zone, so UTC).
    if (e.name == "photo.jpg") {
      EXPECT_EQ(item.modified, carve::FileTimeFromCivil(2019, 7, 14, 10, 20, 30));
    } else if (e.name == "timed.png") {
      EXPECT_EQ(info.modified, carve::FileTimeFromCivil(2021, 3, 4, 5, 6, 7));
    } else if (e.name == "report.pdf") {
      EXPECT_EQ(info.modified, carve::FileTimeFromCivil(2020, 1, 2, 2, 4, 5));
    }
  }
}

INSTANTIATE_TEST_SUITE_P(Volumes, DeepScanImage, ::testing::Values("carve_ntfs", "carve_fat", "carve_raw"));

// Random data holds no finds: text needs more than printable bytes by chance.
TEST(DeepScanFormats, RandomDataIsNotTakenForAnyFormat) {
  std::vector<uint8_t> data(8u << 20);
  std::mt19937_64 random(22);
  for (size_t i = 0; i < data.size(); i += 8) {
    const uint64_t v = random();
    for (int k = 0; k < 8; ++k) data[i + k] = static_cast<uint8_t>(v >> (8 * k));
  }
  int finds = 0;
  for (size_t at = 0; at < data.size(); at += 512) {
    carve::Stream s(ByteView(data.data() + at, data.size() - at));
    carve::Find f;
    finds += carve::Identify(s, f);
  }
  EXPECT_EQ(finds, 0);
}

// A ZIP larger than the stream's cache, read from its first bytes on as
// the scan does past a block's end: the directory at its end and the
// entries at its start take turns in the cache. Its stored entries are
// checked whole, and one changed byte in the middle makes it damaged.
TEST(DeepScanFormats, StoredZipLargerThanTheCacheIsCheckedWhole) {
  // The parser is called without a scan, which is what clears a stop an
  // earlier test may have left set.
  ClearStop();
  std::vector<uint8_t> zip, directory;
  auto put16 = [](std::vector<uint8_t>& v, uint32_t x) {
    v.push_back(x & 0xFF);
    v.push_back(x >> 8 & 0xFF);
  };
  auto put32 = [&](std::vector<uint8_t>& v, uint32_t x) {
    put16(v, x & 0xFFFF);
    put16(v, x >> 16);
  };
  std::mt19937 random(5);
  for (int n = 0; n < 3; ++n) {
    std::vector<uint8_t> data(1536u << 10);
    for (uint8_t& b : data) b = static_cast<uint8_t>(random());
    const uint32_t crc = carve::Crc32(0, data.data(), data.size());
    const std::string name = "part" + std::to_string(n) + ".bin";
    const uint32_t local = static_cast<uint32_t>(zip.size());
    for (auto* v : {&zip, &directory}) {
      put32(*v, v == &zip ? 0x04034B50 : 0x02014B50);
      if (v == &directory) put16(*v, 20);                     // made by
      for (uint32_t x : {20u, 0u, 0u, 0u, 0u}) put16(*v, x);  // version, flags, stored, time, date
      for (uint32_t x : {crc, uint32_t(data.size()), uint32_t(data.size())}) put32(*v, x);
      put16(*v, static_cast<uint32_t>(name.size()));
      put16(*v, 0);  // extra
      if (v == &directory) {
        for (int k = 0; k < 3; ++k) put16(*v, 0);  // comment, disk, internal attributes
        put32(*v, 0);
        put32(*v, local);
      }
      v->insert(v->end(), name.begin(), name.end());
    }
    zip.insert(zip.end(), data.begin(), data.end());
  }
  const uint32_t directoryAt = static_cast<uint32_t>(zip.size());
  zip.insert(zip.end(), directory.begin(), directory.end());
  put32(zip, 0x06054B50);
  for (uint32_t x : {0u, 0u, 3u, 3u}) put16(zip, x);
  put32(zip, static_cast<uint32_t>(directory.size()));
  put32(zip, directoryAt);
  put16(zip, 0);

  auto parse = [](const std::vector<uint8_t>& bytes) {
    carve::Stream s(ByteView(bytes.data(), 64), bytes.size(),
                    [&bytes](uint64_t at, uint8_t* out, size_t n, size_t& got) {
                      got = static_cast<size_t>(std::min<uint64_t>(n, bytes.size() - at));
                      std::copy_n(bytes.begin() + static_cast<ptrdiff_t>(at), got, out);
                      return true;
                    });
    carve::Find f;
    EXPECT_TRUE(carve::ParseZip(s, f));
    return f;
  };
  carve::Find whole = parse(zip);
  EXPECT_EQ(whole.size, zip.size());
  EXPECT_FALSE(whole.damaged);
  zip[zip.size() / 2] ^= 1;
  EXPECT_TRUE(parse(zip).damaged);
  // Encrypted entries cannot be held to their CRC without the password.
  for (uint32_t entry = directoryAt; entry < directoryAt + directory.size(); entry += 46 + 9) zip[entry + 8] |= 1;
  EXPECT_FALSE(parse(zip).damaged);
}

// A stop during the scan of a large volume ends it as stopped, with one close.
TEST(DeepScanFormats, StopEndsTheScan) {
  TempDir dir;
  fs::path image = dir.path() / "big.img";
  { std::ofstream(image, std::ios::binary).put(0); }
  fs::resize_file(image, 8ull << 30);  // sparse: reads cost no disk
  MountedKernel kernel({{u'V', KernelPath(image)}});
  MessageCollector sink;
  ASSERT_EQ(KX_StartScan(K(u"V:\\"), K(u"V:"), KX_MODE_DEEP, sink.window()), 1);
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  SH_StopTask();
  EXPECT_TRUE(sink.WaitForClose(5000));
  EXPECT_EQ(KX_GetLastScanStatus(nullptr, 0), KX_SCAN_STOPPED);
  EXPECT_EQ(sink.CloseCount(), 1);
}

}  // namespace
}  // namespace kestrel::test
