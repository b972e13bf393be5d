// The device page's sizes and start checks, the scan dialog's status line
// and its animation clock.
#include <gtest/gtest.h>

#include <cstdint>

#include "app/core/DeviceRules.h"
#include "kernel/Kestrel.h"

using namespace restorix;

TEST(DeviceRules, SizesInGiB) {
  EXPECT_EQ(FormatGiB(500107862016ull), L"465.76(G)");
  EXPECT_EQ(FormatGiB(0), L"0.00(G)");
  EXPECT_EQ(FormatGiB(16ull * 1024 * 1024), L"0.02(G)");
  EXPECT_EQ(FormatGiB(4ull << 40), L"4096.00(G)");
}

TEST(DeviceRules, SizeFromSectorsWhenTheSystemCannotSay) {
  EXPECT_EQ(BytesFromSectors(32768, 512), 16ull * 1024 * 1024);
  EXPECT_EQ(BytesFromSectors(32768, 0), 16ull * 1024 * 1024) << "unknown sector size: 512";
  EXPECT_EQ(BytesFromSectors(1ull << 40, 4096), 1ull << 52) << "64-bit, past 2 TiB";
  EXPECT_EQ(BytesFromSectors(UINT64_MAX / 2, 4096), UINT64_MAX) << "saturates";
  EXPECT_EQ(FormatGiB(BytesFromSectors(976773168, kAssumedSectorSize)), L"465.76(G)");
}

TEST(DeviceRules, StartChecks) {
  const std::wstring program = L"C:\\Program Files\\Restorix";
  EXPECT_EQ(CheckStart(false, false, L"", program), StartCheck::NoPartition);
  EXPECT_EQ(CheckStart(true, true, L"选择分区", program), StartCheck::NoPartition);
  EXPECT_EQ(CheckStart(true, false, L"D:", program), StartCheck::Start);
  EXPECT_EQ(CheckStart(true, false, L"C:", program), StartCheck::AskSameVolume);
  EXPECT_EQ(CheckStart(true, false, L"c:", program), StartCheck::AskSameVolume) << "case ignored";
  EXPECT_EQ(CheckStart(true, false, L"D:", L"d:\\tools"), StartCheck::AskSameVolume);
  EXPECT_EQ(CheckStart(true, false, L"", program), StartCheck::Start);
}

TEST(DeviceRules, StatusLine) {
  EXPECT_EQ(ScanStatusText(0), L" 正在扫描分区...      找到 0 个被删除文件");
  EXPECT_EQ(ScanStatusText(3), L" 正在扫描分区...      找到 3 个被删除文件");
  EXPECT_EQ(ScanStatusText(5000000000ll), L" 正在扫描分区...      找到 5000000000 个被删除文件");
}

TEST(DeviceRules, AnimationFollowsTheFrameDelays) {
  FrameClock clock(3, {10, 10, 10});
  ASSERT_TRUE(clock.Animated());
  uint32_t periods[4], frames[4];
  for (int i = 0; i < 4; ++i) {
    frames[i] = clock.Current();
    periods[i] = clock.PeriodMs();
    clock.Advance();
  }
  EXPECT_EQ(periods[0], 100u);
  EXPECT_EQ(periods[3], 100u);
  EXPECT_EQ(frames[2], 2u);
  EXPECT_EQ(frames[3], 0u) << "after the last frame, frame 0";
  FrameClock mixed(2, {5, 20});
  mixed.Advance();
  EXPECT_EQ(mixed.PeriodMs(), 200u) << "each frame keeps its own delay";
  FrameClock shortList(3, {7});  // fewer delays than frames
  shortList.Advance();
  shortList.Advance();
  EXPECT_EQ(shortList.PeriodMs(), 70u);
  EXPECT_FALSE(FrameClock().Animated());
  EXPECT_FALSE(FrameClock(4, {}).Animated());
}

TEST(DeviceRules, ScanFailureShownInsteadOfEmptyResults) {
  EXPECT_FALSE(ScanFailureText(KX_SCAN_OK, L"").has_value());
  EXPECT_FALSE(ScanFailureText(KX_SCAN_STOPPED, L"stopped").has_value());
  EXPECT_EQ(ScanFailureText(KX_SCAN_DAMAGED, L"MFT record 0 is unreadable"),
            L"无法读取该分区: MFT record 0 is unreadable");
  EXPECT_EQ(ScanFailureText(KX_SCAN_NOT_SUPPORTED, L""), L"无法读取该分区: ");
}
