#include "app/core/ScanModes.h"

#include <gtest/gtest.h>

#include "app/core/AppState.h"
#include "app/core/DeviceRules.h"
#include "kernel/Kestrel.h"

namespace restorix {
namespace {

TEST(ScanModes, TabsAndKernelModes) {
  AppState state;
  EXPECT_EQ(state.Mode(), ScanMode::Deleted);  // the program starts in the deleted-file mode
  EXPECT_EQ(ModeOfTab(1000), ScanMode::Deleted);
  EXPECT_EQ(ModeOfTab(1006), ScanMode::Deep);
  EXPECT_EQ(ModeOfTab(1004), ScanMode::Formatted);
  for (int dead : {1001, 1002, 1003, 1005}) EXPECT_FALSE(ModeOfTab(dead)) << dead;
  for (ScanMode m : {ScanMode::Deleted, ScanMode::Deep, ScanMode::Formatted}) EXPECT_EQ(ModeOfTab(TabOfMode(m)), m);
  EXPECT_EQ(KernelModeOf(ScanMode::Deleted), KX_MODE_DELETED);
  EXPECT_EQ(KernelModeOf(ScanMode::Deep), KX_MODE_DEEP);
  EXPECT_EQ(KernelModeOf(ScanMode::Formatted), KX_MODE_FORMATTED);
}

TEST(ScanModes, WhichCallEachModeMakes) {
  // The deleted-file mode keeps SH_Scan for every listed volume, with or
  // without the newer export.
  EXPECT_EQ(ChooseScanCall(ScanMode::Deleted, false, true), ScanCall::DeletedByKind);
  EXPECT_EQ(ChooseScanCall(ScanMode::Deleted, false, false), ScanCall::DeletedByKind);
  EXPECT_EQ(ChooseScanCall(ScanMode::Deleted, true, true), ScanCall::DeletedByProbe);
  EXPECT_EQ(ChooseScanCall(ScanMode::Deleted, true, false), ScanCall::DeletedByKind);
  for (ScanMode m : {ScanMode::Deep, ScanMode::Formatted}) {
    EXPECT_EQ(ChooseScanCall(m, false, true), ScanCall::ModeScan);
    EXPECT_EQ(ChooseScanCall(m, true, true), ScanCall::ModeScan);
    EXPECT_EQ(ChooseScanCall(m, false, false), ScanCall::Unavailable);
  }
}

TEST(ScanModes, LabelsAndStatusLines) {
  EXPECT_EQ(ModeLabel(ScanMode::Deleted), L"");
  EXPECT_NE(ModeLabel(ScanMode::Deep).find(L"深度恢复"), std::wstring::npos);
  EXPECT_NE(ModeLabel(ScanMode::Formatted).find(L"格式化恢复"), std::wstring::npos);

  EXPECT_FALSE(SharePercent(5, 0));  // total not known yet
  EXPECT_EQ(SharePercent(0, 1000), 0u);
  EXPECT_EQ(SharePercent(999, 1000), 99u);  // 100 only at the end
  EXPECT_EQ(SharePercent(1000, 1000), 100u);
  EXPECT_EQ(SharePercent(2000, 1000), 100u);
  EXPECT_EQ(SharePercent(uint64_t{1} << 62, uint64_t{1} << 63), 50u);  // no overflow on byte counts

  // The deleted-file mode's line stays what it was, whatever the share.
  EXPECT_EQ(ModeStatusText(ScanMode::Deleted, 7, 40u), ScanStatusText(7));
  EXPECT_EQ(ModeStatusText(ScanMode::Deep, 12, 37u), L" 正在深度扫描分区...  已完成 37%      找到 12 个文件");
  EXPECT_EQ(ModeStatusText(ScanMode::Deep, 0, std::nullopt), L" 正在深度扫描分区...      找到 0 个文件");
  EXPECT_EQ(ModeStatusText(ScanMode::Formatted, 3, 100u), L" 正在查找格式化前的文件...  已完成 100%      找到 3 个文件");
}

}  // namespace
}  // namespace restorix
