// Helpers shared by the kernel tests: fixture images and their manifests,
// a message collector standing in for the host window, temporary folders
// and SHA-256.
#pragma once

#include <gtest/gtest.h>

#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "kernel/Kestrel.h"

namespace kestrel::test {

// The folder the image builders wrote to (KESTREL_FIXTURES), or empty.
std::filesystem::path FixtureDir();

// The image NAME.img, or an empty path after GTEST_SKIP-ing (or failing
// when CI=true: a missing image in CI is an error, never a quiet skip).
// Use as: auto img = RequireImage("fat16"); if (img.empty()) return;
std::filesystem::path RequireImage(const std::string& name);

struct ManifestEntry {
  std::string path;  // inside the volume, "/" between folders, UTF-8
  uint64_t size = 0;
  int64_t mtime = 0;  // Unix seconds, UTC
  std::string sha256;
};
std::vector<ManifestEntry> ReadManifest(const std::string& name);

// A path as the kernel's OS layer should see it (Z:\... under Wine).
std::u16string KernelPath(const std::filesystem::path& path);

std::string Utf8(const KChar* text);
std::u16string U16(const std::string& utf8);
const KChar* K(const std::u16string& text);

std::string Sha256Hex(const void* data, size_t size);
std::string Sha256File(const std::filesystem::path& file);

// A fresh folder under the system's temporary folder, removed afterwards.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::filesystem::path& path() const { return path_; }
  // The folder as a kernel recovery folder: ends with a separator.
  std::u16string AsFolderArgument() const;

 private:
  std::filesystem::path path_;
};

struct PostedMessage {
  uint32_t message;
  uintptr_t wParam;
  intptr_t lParam;
};

// Stands in for the host window: collects what the kernel posts.
class MessageCollector {
 public:
  MessageCollector();
  ~MessageCollector();
  KWindow window();
  // Waits (pumping messages on Windows) until WM_CLOSE arrives; false on
  // time-out.
  bool WaitForClose(int timeoutMs = 120000);
  std::vector<PostedMessage> messages();
  int CloseCount();
  std::vector<uintptr_t> FoundCounts();

 private:
  void Add(uint32_t message, uintptr_t w, intptr_t l);
  std::mutex lock_;
  std::condition_variable changed_;
  std::vector<PostedMessage> messages_;
#if defined(_WIN32)
  void* hwnd_ = nullptr;
#else
  KestrelSink sink_{};
  static void Post(void* ctx, uint32_t message, uintptr_t w, intptr_t l);
#endif
};

// Maps a letter to an image, runs SH_Init, and undoes both afterwards.
class MountedKernel {
 public:
  explicit MountedKernel(const std::vector<std::pair<char16_t, std::u16string>>& maps);
  ~MountedKernel();
};

// Scans `volume` (such as u"D:") with the given kind and waits for the end.
// Returns the messages the scan posted.
std::vector<PostedMessage> ScanAndWait(const std::u16string& volume, int mode);

// Every partition the kernel lists, by name ("D:" -> record). The machine's
// own volumes (C: under Wine) are listed beside the mapped ones.
std::map<std::u16string, PartitionParameter> AllPartitions();

// Every item of the last scan.
std::vector<DelItem> AllItems();

}  // namespace kestrel::test
