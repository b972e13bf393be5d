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
