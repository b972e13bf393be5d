// The results page's small rules, kept apart from the window: progress
// positions of a recovery, the preview size limit, where a preview copy
// lands, and the message that ends a recovery.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "app/core/UiText.h"

namespace restorix {

// Larger files are not previewed; exactly 10 MiB still is.
constexpr uint64_t kMaxPreviewBytes = 10485760;
inline bool PreviewAllowed(uint64_t size) { return size <= kMaxPreviewBytes; }

// A recovery folder of 241 characters or more leaves too little room for
// the items' own paths below it.
constexpr size_t kMaxRecoverFolderChars = 240;
inline bool RecoverFolderTooLong(const std::wstring& folder) { return folder.size() > kMaxRecoverFolderChars; }

// The bar position posted before item `index` of `count`: index times
// 100 / count in single precision, truncated.
int RecoveryProgress(size_t index, size_t count);

// An item path without its drive ("C:\Deleted\a.txt" -> "\Deleted\a.txt").
// A path without a drive comes back whole; any length is fine.
std::wstring PathWithoutDrive(const std::wstring& path);

// `done` + "!" ("恢复完毕!"), or, when some items could not be written,
// `done` + ", 其中 N 个文件恢复失败!".
std::wstring RecoveryDoneText(size_t failed, const std::wstring& done = ui::kRecoveryDone);

}  // namespace restorix
