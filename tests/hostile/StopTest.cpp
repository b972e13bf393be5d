// SH_StopTask ends a running scan after the step in hand, and what was
// found up to then stays readable; a stop during the copy of a large file
// ends it after the block in hand, keeps the partial file and reports 0.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <filesystem>
#include <thread>
#include <vector>

#include "kernel/Kestrel.h"
#include "kernel/ntfs/NtfsRecovery.h"
#include "kernel/StopFlag.h"
#include "kernel/ntfs/NTFSVolume.h"
#include "tests/ntfs/NtfsTestImage.h"
#include "tests/support/TestSupport.h"

namespace kestrel::test {
namespace {

namespace fs = std::filesystem;

#if !defined(_WIN32)  // the sink stands in for a window on POSIX only
// The scan thread is held inside its first found-count message until the
// test has asked it to stop, so the stop lands at a known step.
TEST(Stop, AScanStopsAfterTheStepInHandAndKeepsItsItems) {
  struct Case {
    const char* image;
    int kind;
  };
  for (const Case& c : {Case{"ntfs", KESTREL_FS_NTFS}, Case{"fat16", KESTREL_FS_FAT}}) {
    fs::path image = RequireImage(c.image);
    if (image.empty()) return;
    MountedKernel kernel({{u'S', KernelPath(image)}});
    struct Held {
      std::atomic<int> firstCount{0};
      std::atomic<int> closes{0};
      std::atomic<int> countsAfterStop{0};
    } held;
    KestrelSink sink{};
    sink.context = &held;
    sink.post = [](void* context, uint32_t message, uintptr_t w, intptr_t) {
      auto* h = static_cast<Held*>(context);
      if (message == KESTREL_WM_CLOSE) ++h->closes;
      if (message != KESTREL_WM_SCAN_FOUND_COUNT) return;
      if (h->firstCount.load() != 0) {
        ++h->countsAfterStop;
        return;
      }
      h->firstCount = static_cast<int>(w);
      // Wait (bounded) for the stop request from the test's thread.
      for (int i = 0; i < 5000 && !StopRequested(); ++i) std::this_thread::sleep_for(std::chrono::milliseconds(1));
    };
    SH_Scan(K(u"S:\\"), K(u"S:"), c.kind, &sink);
    for (int i = 0; i < 5000 && held.firstCount.load() == 0; ++i)
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    ASSERT_EQ(held.firstCount.load(), 1) << c.image;
    EXPECT_EQ(SH_StopTask(), 1);  // joins the scan thread

    EXPECT_EQ(held.countsAfterStop.load(), 0) << c.image << ": the scan went on after the stop";
    EXPECT_EQ(held.closes.load(), 1) << c.image;
    // NTFS registers each file as it finds it; FAT registers its files once
    // the walk is over, so a stopped FAT walk may have none to show.
    const int count = SH_GetDelItemCount();
    if (c.kind == KESTREL_FS_NTFS) EXPECT_GE(count, 1) << c.image;
    EXPECT_LT(count, static_cast<int>(ReadManifest(c.image).size())) << c.image;
    for (int i = 0; i < count; ++i) {
      DelItem item{};
      ASSERT_EQ(SH_GetDelItemFromIndex(i, &item), 1);
      EXPECT_NE(item.path[0], 0) << c.image;
      DelItem byId{};
      EXPECT_EQ(SH_GetDelItemFromID(item.idLow, item.idHigh, &byId), 1);
    }
  }
}
#endif

// A device that asks for a stop as soon as the first large block of the
// file has been read, as a user pressing Stop during the copy would.
class StopDuringCopyDevice final : public os::Device {
 public:
  explicit StopDuringCopyDevice(std::vector<uint8_t> bytes) : bytes_(std::move(bytes)) {}
  bool ReadAt(uint64_t offset, void* buffer, size_t length, size_t& got) override {
    got = 0;
    if (offset >= bytes_.size()) return true;
    got = static_cast<size_t>(std::min<uint64_t>(length, bytes_.size() - offset));
    std::memcpy(buffer, bytes_.data() + offset, got);
    if (length >= (1u << 20)) {
      ++largeReads;
      RequestStop();
    }
    return true;
  }
  bool Flush() override { return true; }
  bool QueryGeometry(os::DiskGeometry&) override { return false; }
  bool CheckVerify() override { return true; }
  std::atomic<int> largeReads{0};

 private:
  std::vector<uint8_t> bytes_;
};

TEST(Stop, ACopyStopsAfterTheBlockInHandAndReportsZero) {
  constexpr uint64_t kSize = 25 * 1024 * 1024;
  NtfsLayout layout;
  layout.totalClusters = 7000;
  NtfsTestImage image(layout);
  std::vector<uint8_t> data(kSize);
  for (size_t i = 0; i < kSize; ++i) data[i] = static_cast<uint8_t>(i * 13 + (i >> 16));
  const uint64_t clusters = kSize / 4096;
  image.PutClusters(100, data);
  image.PutRecord(20, image.Record(0)
                          .StdInfo(FileTimeOf(1600000000))
                          .FileName(5, u"big.bin", 1, kSize)
                          .NonResidentData(EncodeRuns({{clusters, 100}}), 0, clusters - 1, kSize));
  auto device = std::make_unique<StopDuringCopyDevice>(image.bytes());
  StopDuringCopyDevice* raw = device.get();
  ntfs::CNTFSVolume volume(std::move(device));
  ASSERT_TRUE(volume.IsUsable());
  TempDir out;
  ClearStop();
  EXPECT_EQ(RecoverNtfsItem(volume, out.AsFolderArgument(), 20), 0) << "a stopped copy is not a recovered file";
  ClearStop();
  EXPECT_EQ(raw->largeReads.load(), 1) << "nothing was read after the stop";
  EXPECT_FALSE(fs::exists(out.path() / "Deleted" / "big.bin")) << "nothing incomplete under the real name";
  const fs::path written = out.path() / "Deleted" / "big.bin.partial";
  ASSERT_TRUE(fs::exists(written)) << "what was read stays, marked";
  EXPECT_EQ(fs::file_size(written), 10u * 1024 * 1024) << "the block in hand is written whole";
  EXPECT_EQ(Sha256File(written), Sha256Hex(data.data(), 10u * 1024 * 1024));
}

}  // namespace
}  // namespace kestrel::test
