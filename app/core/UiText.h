// Every text the desktop program shows, by name. The texts are the
// program's own and stay exactly as they are.
#pragma once

namespace restorix::ui {

// Captions.
inline constexpr wchar_t kCaption[] = L"Talvex Data Recovery";
inline constexpr wchar_t kLoadFailureCaption[] = L"tip";

// Column headings.
inline constexpr wchar_t kColumnFileName[] = L"文件名";
inline constexpr wchar_t kColumnSize[] = L"大小(Byte)";
inline constexpr wchar_t kColumnTime[] = L"创建时间";
inline constexpr wchar_t kColumnState[] = L"状态";
inline constexpr wchar_t kColumnPartition[] = L"分区";
inline constexpr wchar_t kColumnType[] = L"类型";
inline constexpr wchar_t kColumnCapacity[] = L"容量";
inline constexpr wchar_t kColumnFree[] = L"可用空间";

// A found item's state on the volume now.
inline constexpr wchar_t kStateIntact[] = L"完好";
inline constexpr wchar_t kStateEncrypted[] = L"encrypted";
inline constexpr wchar_t kStatePartly[] = L"部分覆盖 ";  // followed by the share, "37%"
inline constexpr wchar_t kStateOverwritten[] = L"已覆盖";
inline constexpr wchar_t kStateUnknown[] = L"未知";
// Found by content, but its own format's checks fail somewhere inside.
inline constexpr wchar_t kStateDamaged[] = L"部分损坏";

// Labels and tree texts.
inline constexpr wchar_t kSettingsGroup[] = L"设置";
inline constexpr wchar_t kRecoverPathLabel[] = L"恢复路径:";
inline constexpr wchar_t kMarkAll[] = L"全选";
inline constexpr wchar_t kKeywordLabel[] = L"文件名(关键字):";
inline constexpr wchar_t kNoPreview[] = L"无法预览";
inline constexpr wchar_t kPickRecoverFolder[] = L"选择恢复文件保存目录";
inline constexpr wchar_t kChoosePartitionRoot[] = L"选择分区";
inline constexpr wchar_t kUnnamedPartition[] = L"lost";
inline constexpr wchar_t kFsNtfs[] = L"NTFS";
inline constexpr wchar_t kFsFat[] = L"FAT";
// Disk images on the device page.
inline constexpr wchar_t kOpenDiskImage[] = L"打开磁盘镜像...";
inline constexpr wchar_t kDiskImageFilter[] =
    L"磁盘镜像 (*.img;*.dd;*.raw;*.bin)\0*.img;*.dd;*.raw;*.bin\0所有文件 (*.*)\0*.*\0";
// Counts: prefix, number, suffix.
inline constexpr wchar_t kFoundFilesBefore[] = L"找到 ";
inline constexpr wchar_t kFoundFilesAfter[] = L" 个文件";
inline constexpr wchar_t kScanningBefore[] = L" 正在扫描分区...      找到 ";
inline constexpr wchar_t kScanningAfter[] = L" 个被删除文件";

// The deep and format-recovery modes: the device page's line, and the scan
// dialog's status (mode, share done, count).
inline constexpr wchar_t kModeDeepLabel[] = L"当前模式: 深度恢复 (按文件内容扫描分区, 找回的文件按类型分组)";
inline constexpr wchar_t kModeFormattedLabel[] = L"当前模式: 格式化恢复 (查找格式化之前的文件系统中的文件)";
inline constexpr wchar_t kScanningDeep[] = L" 正在深度扫描分区...";
inline constexpr wchar_t kScanningFormatted[] = L" 正在查找格式化前的文件...";
inline constexpr wchar_t kShareDoneBefore[] = L"  已完成 ";
inline constexpr wchar_t kModeFoundBefore[] = L"      找到 ";
inline constexpr wchar_t kModeFoundAfter[] = L" 个文件";

// Messages.
inline constexpr wchar_t kLoadFailure[] = L"Load dll failure! please check!";
inline constexpr wchar_t kFolderTooLong[] = L"目录名太长请重新选择!";
inline constexpr wchar_t kAskRecoverSameVolume[] = L"建议将恢复路径设置到与被恢复数据不同的分区中, 你确认要继续 ?";
inline constexpr wchar_t kAskScanOwnVolume[] = L"建议将本软件安装到与被恢复数据不同的分区中, 你确认要继续 ?";
inline constexpr wchar_t kChooseFileFirst[] = L"请先从列表中选择一个文件!";
inline constexpr wchar_t kTooLargeToPreview[] = L"File too large to preview";
inline constexpr wchar_t kChoosePartitionFirst[] = L"请先选择分区!";
inline constexpr wchar_t kAskExit[] = L"你确定要退出系统?";
inline constexpr wchar_t kAskExitBusy[] = L"有任务在运行,你确定要退出系统？";
inline constexpr wchar_t kRestarting[] = L"程序异常,重启软件中.....";
inline constexpr wchar_t kNeedAdministrator[] = L"需要管理员的权限才能运行本程序!";
// Followed by the kernel's own sentence.
inline constexpr wchar_t kNoPartitionInImage[] = L"该镜像中没有可识别的分区!";
inline constexpr wchar_t kCannotReadPartition[] = L"无法读取该分区: ";
inline constexpr wchar_t kModeNeedsNewerKernel[] = L"当前的 Kestrel.dll 不支持这种扫描模式!";
// The end of a recovery: the word, then "!" or the failures.
inline constexpr wchar_t kRecoveryDone[] = L"恢复完毕";
inline constexpr wchar_t kSearchRecoveryDone[] = L"数据恢复完毕";
inline constexpr wchar_t kDoneMark[] = L"!";
inline constexpr wchar_t kFailedBefore[] = L", 其中 ";
inline constexpr wchar_t kFailedAfter[] = L" 个文件恢复失败!";

}  // namespace restorix::ui
