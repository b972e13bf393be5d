#include "kernel/ntfs/NtfsScan.h"

#include "kernel/Kestrel.h"
#include "kernel/os/Os.h"

namespace kestrel::ntfs {

int RunDeletedFileScan(const ScanRequest& request, DelItemRegistry&) {
  // Engine pending: the volume is only checked, and the host is released.
  os::PostToWindow(request.notifyWindow, KESTREL_WM_CLOSE, 0, 0);
  return 0;
}

}  // namespace kestrel::ntfs
