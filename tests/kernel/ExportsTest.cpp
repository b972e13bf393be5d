// The exports' argument and state rules, through the C interface.
#include <gtest/gtest.h>

#include <cstring>
#include <set>

#include "kernel/DelItemRegistry.h"
#include "kernel/Kestrel.h"
#include "kernel/TaskControl.h"
#include "kernel/os/Os.h"
#include "tests/support/TestSupport.h"

namespace kestrel {
namespace {

using test::K;
using test::MessageCollector;

class ExportsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    SH_StopTask();
    SH_UnInit();
    os::ClearMappings();
  }
  void TearDown() override {
    SH_StopTask();
    SH_UnInit();
    os::ClearMappings();
  }
  // Puts items straight into the registry, as a finished scan would.
  void Seed() {
    TheRegistry().Append(u"C:\\Deleted\\a.txt", 20, 0, 10, 1);
    TheRegistry().Append(u"C:\\Deleted\\b.txt", 21, 0, 11, 2);
    TheRegistry().Append(u"C:\\Deleted\\dup.txt", 20, 0, 12, 3);
  }
};

TEST_F(ExportsTest, ItemReadsCheckArgumentsAndCopyWholeRecords) {
  Seed();
  DelItem item;
  EXPECT_EQ(SH_GetDelItemCount(), 3);
  EXPECT_EQ(SH_GetDelItemFromIndex(-1, &item), 0);
  EXPECT_EQ(SH_GetDelItemFromIndex(3, &item), 0);
  EXPECT_EQ(SH_GetDelItemFromIndex(0, nullptr), 0);
  ASSERT_EQ(SH_GetDelItemFromIndex(2, &item), 1);
  EXPECT_EQ(item.size, 12u);
  EXPECT_EQ(SH_GetDelItemFromID(20, 0, nullptr), 0);
  ASSERT_EQ(SH_GetDelItemFromID(20, 0, &item), 1);
  EXPECT_EQ(item.size, 10u) << "an id that occurs twice gives the first record";
  EXPECT_EQ(SH_GetDelItemFromID(20, 1, &item), 0);
}

TEST_F(ExportsTest, ScanWithANullStringChangesNothing) {
  Seed();
  MessageCollector sink;
  EXPECT_EQ(SH_Scan(nullptr, K(u"C:"), 1, sink.window()), 0);
  EXPECT_EQ(SH_Scan(K(u"C:\\"), nullptr, 1, sink.window()), 0);
  EXPECT_EQ(SH_GetDelItemCount(), 3) << "the previous scan's items stay";
  EXPECT_TRUE(sink.messages().empty());
}

TEST_F(ExportsTest, ScanWithAnUnknownModeOnlyEmptiesTheList) {
  Seed();
  MessageCollector sink;
  EXPECT_EQ(SH_Scan(K(u"C:\\"), K(u"C:"), 3, sink.window()), 0);
  EXPECT_EQ(SH_GetDelItemCount(), 0);
  EXPECT_FALSE(State().taskThread.joinable()) << "no thread for mode 3";
  EXPECT_EQ(SH_StopTask(), 1);
  EXPECT_TRUE(sink.messages().empty());
}

TEST_F(ExportsTest, NtfsScanOfAVolumeThatDoesNotOpenPostsOneClose) {
  SH_Init(nullptr);
  MessageCollector sink;
  EXPECT_EQ(SH_Scan(K(u"Q:\\"), K(u"Q:"), 1, sink.window()), 0);
  ASSERT_TRUE(sink.WaitForClose(10000));
  EXPECT_EQ(SH_StopTask(), 1);
  EXPECT_EQ(sink.CloseCount(), 1);
  EXPECT_TRUE(sink.FoundCounts().empty());
  EXPECT_EQ(SH_GetDelItemCount(), 0);
}

TEST_F(ExportsTest, NtfsScanOfANonNtfsVolumeFindsNothing) {
  auto fat = test::RequireImage("vol_fat16");
  if (fat.empty()) return;
  test::MountedKernel kernel({{u'D', test::KernelPath(fat)}});
  auto messages = test::ScanAndWait(u"D:", 1);
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_EQ(messages[0].message, KESTREL_WM_CLOSE);
}

TEST_F(ExportsTest, FatScanForAnUnknownNameStartsNothing) {
  SH_Init(nullptr);
  Seed();
  MessageCollector sink;
  EXPECT_EQ(SH_Scan(K(u"Z:\\"), K(u"Z:"), 2, sink.window()), 0);
  EXPECT_EQ(SH_GetDelItemCount(), 0);
  EXPECT_FALSE(State().taskThread.joinable());
  EXPECT_EQ(SH_RecoveryFile(K(u"/tmp/"), 0, 0), 0) << "no current FAT volume";
}

TEST_F(ExportsTest, ANewScanStopsAndJoinsTheRunningOne) {
  auto image = test::RequireImage("ntfs");
  if (image.empty()) return;
  test::MountedKernel kernel({{u'N', test::KernelPath(image)}});
  MessageCollector first, second;
  SH_Scan(K(u"N:\\"), K(u"N:"), 1, first.window());
  // At once, before the first scan can have ended.
  SH_Scan(K(u"X:\\"), K(u"N:"), 1, second.window());
#if !defined(_WIN32)
  // The first thread was joined inside SH_Scan: its WM_CLOSE is in already.
  EXPECT_EQ(first.CloseCount(), 1);
#endif
  ASSERT_TRUE(second.WaitForClose());
  SH_StopTask();
  // Only the second scan's items remain, each once.
  auto items = test::AllItems();
  ASSERT_FALSE(items.empty());
  std::set<uint64_t> ids;
  for (const DelItem& item : items) {
    EXPECT_EQ(test::Utf8(item.path).rfind("X:\\Deleted\\", 0), 0u) << test::Utf8(item.path);
    EXPECT_TRUE(ids.insert((uint64_t{item.idHigh} << 32) | item.idLow).second);
  }
  EXPECT_EQ(second.FoundCounts().size(), items.size());
}

TEST_F(ExportsTest, StopTaskTwiceAndWithoutATask) {
  EXPECT_EQ(SH_StopTask(), 1);
  EXPECT_EQ(SH_StopTask(), 1);
}

TEST_F(ExportsTest, RecoveryNeedsAFolderAndAScan) {
  EXPECT_EQ(SH_RecoveryFile(nullptr, 1, 0), 0);
  EXPECT_EQ(SH_RecoveryFile(K(u"/tmp/"), 1, 0), 0) << "no scan since SH_UnInit: kind 0";
}

TEST_F(ExportsTest, InitEnumeratesOnceUntilUnInit) {
  auto fat = test::RequireImage("vol_fat16");
  if (fat.empty()) return;
  ASSERT_EQ(KX_MapVolume(u'G', K(test::KernelPath(fat))), 1);
  SH_Init(nullptr);
  int first = SH_GetPartitionCount();
  EXPECT_TRUE(test::AllPartitions().count(u"G:"));
  // A letter mapped later is not seen by a second SH_Init...
  ASSERT_EQ(KX_MapVolume(u'H', K(test::KernelPath(fat))), 1);
  SH_Init(nullptr);
  EXPECT_EQ(SH_GetPartitionCount(), first);
  EXPECT_FALSE(test::AllPartitions().count(u"H:"));
  // ...but after SH_UnInit the next SH_Init enumerates again.
  SH_UnInit();
  EXPECT_EQ(SH_GetPartitionCount(), 0);
  SH_Init(nullptr);
  EXPECT_EQ(SH_GetPartitionCount(), first + 1);
  EXPECT_TRUE(test::AllPartitions().count(u"H:"));
}

TEST_F(ExportsTest, MapVolumeRejectsNonLetters) {
  EXPECT_EQ(KX_MapVolume(u'1', K(u"/x.img")), 0);
  EXPECT_EQ(KX_MapVolume(u'd', K(u"/x.img")), 1);
  EXPECT_TRUE(os::IsVolumeMapped(u'D'));
  EXPECT_EQ(KX_MapVolume(u'D', nullptr), 1);
  EXPECT_FALSE(os::IsVolumeMapped(u'D'));
}

}  // namespace
}  // namespace kestrel
