// The few things the command line needs from the operating system beyond
// the kernel's exports: a window for scan messages, terminal detection,
// console set-up and the letters already in use.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <memory>
#include <string>

#include "kernel/Kestrel.h"

namespace kestrel::cli {

// Receives what a scan posts: a KestrelSink on POSIX, a message-only window
// on Windows (messages are pumped by Wait on the creating thread).
class ScanListener {
 public:
  virtual ~ScanListener() = default;
  virtual KWindow Window() = 0;
  // Returns when WM_CLOSE arrived. `tick` is called now and then with the
  // latest found count, from the waiting thread.
  virtual void Wait(const std::function<void(uint64_t found)>& tick) = 0;
};
std::unique_ptr<ScanListener> CreateScanListener();

bool StderrIsTerminal();
// UTF-8 console output on Windows; nothing elsewhere.
void PrepareConsole();
// Drive letters already taken (bit 0 = A): the system's drives on Windows,
// the letters of KESTREL_VOLUMES on POSIX.
uint32_t LettersInUse();
// POSIX: the image or device KESTREL_VOLUMES maps `letter` to, or "".
std::string VolumeTablePath(char16_t letter);
// POSIX: is `folder` (or, while it does not exist yet, its nearest existing
// parent) on the file system held by `volume`, a block device or an image
// mounted directly (as ntfs-3g does)? Always false on Windows, where drive
// letters tell.
bool FolderOnMountedVolume(const std::filesystem::path& folder,
                           const std::filesystem::path& volume);
// The separator SH_RecoveryFile's folder ends with.
char FolderSeparator();

}  // namespace kestrel::cli
