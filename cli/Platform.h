// The few things the command line needs from the operating system beyond
// the kernel's exports: a window for scan messages, terminal detection,
// console set-up, interrupts, host paths and the identity of volumes.
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
  // Returns when WM_CLOSE arrived. `tick` is called about ten times a
  // second with the latest found count, from the waiting thread.
  virtual void Wait(const std::function<void(uint64_t found)>& tick) = 0;
};
std::unique_ptr<ScanListener> CreateScanListener();

bool StderrIsTerminal();
// UTF-8 console output on Windows; nothing elsewhere.
void PrepareConsole();

// Ctrl-C and SIGTERM (Ctrl+C / Ctrl+Break on the Windows console): from
// StartInterruptWatcher on, they no longer end the program; a watcher
// thread (never the signal handler) notes them and calls SH_StopTask, so
// the running scan or recovery stops and the command reports what it did.
// A second interrupt ends the program at once with status 130.
void StartInterruptWatcher();
bool Interrupted();
// SH_StopTask and SH_UnInit, one caller at a time (the watcher may stop
// while the command ends).
void StopKernelTask();
void EndKernel();

// Drive letters already taken (bit 0 = A): the system's drives on Windows,
// the letters of KESTREL_VOLUMES on POSIX.
uint32_t LettersInUse();
// POSIX: the image or device KESTREL_VOLUMES maps `letter` to, or "".
std::string VolumeTablePath(char16_t letter);

// A path argument as the file system wants it: its bytes unchanged on
// POSIX, UTF-16 on Windows.
std::filesystem::path HostPath(const std::string& argument);
// A host path for the kernel: UTF-16, with POSIX bytes that are not UTF-8
// kept as U+DC80..U+DCFF (lossless).
std::u16string KernelPath(const std::filesystem::path& path);
// A path for messages and reports: the bytes on POSIX, UTF-8 on Windows.
std::string DisplayPath(const std::filesystem::path& path);

// Is `folder` (or, while it does not exist yet, its nearest existing
// parent) on a file system whose bytes are the volume being scanned?
// `volume` is the image or device path (no @OFFSET suffix), empty for a
// Windows drive letter, `letter` that letter or 0. Identity, not names:
// device numbers, partitions and their disk, device-mapper slaves, loop
// devices and their backing files, the sources of FUSE mounts, and file
// inodes (hard links, symlinks and bind mounts lead to the same ones);
// volume names (GUIDs) on Windows.
bool FolderOnScannedVolume(const std::filesystem::path& folder,
                           const std::filesystem::path& volume, char16_t letter);

// The separator SH_RecoveryFile's folder ends with.
char FolderSeparator();

}  // namespace kestrel::cli
