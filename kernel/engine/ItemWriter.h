// The one path by which recovered bytes reach the disk, for every engine.
// Output files are created exclusively, never truncated; a taken name gets
// " (2)", " (3)"... before its extension; bytes go to a temporary name and
// become the final name only when the copy is whole, and what a failed or
// stopped copy got is kept as "<final name>.partial".
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "kernel/engine/Engine.h"
#include "kernel/os/Os.h"

namespace kestrel {

class ItemWriter {
 public:
  // `folder` ends with a separator; files go to folder + "Deleted\" + path.
  explicit ItemWriter(std::u16string folder);
  ~ItemWriter();
  ItemWriter(const ItemWriter&) = delete;
  ItemWriter& operator=(const ItemWriter&) = delete;

  // folder + "Deleted\": an engine's relative path is appended to it.
  const std::u16string& Base() const { return base_; }
  // Units left for the relative path within the longest output path.
  size_t PathRoom() const;

  // Starts the output for `relativePath` (components joined by "\", each
  // already made safe), making folders as needed. False when no file can be
  // created; Result() then says why.
  bool Create(std::u16string_view relativePath);
  bool Write(const void* data, size_t length);
  // `bytes` of zeros, left as a hole where the file system can.
  bool SkipZeros(uint64_t bytes);
  uint64_t Written() const { return written_; }

  // Ends a whole copy of `expectedSize` bytes: renamed to its final name
  // when exactly that many were written; otherwise kept as .partial.
  RecoverResult Finish(uint64_t expectedSize);
  // Ends a copy that failed for `reason`: kept as .partial when anything
  // was created, and the reason is the result.
  RecoverResult Fail(RecoverResult reason);

  // The path last written (final, or .partial); empty when none.
  const std::u16string& OutputPath() const { return outputPath_; }

 private:
  std::u16string folder_;
  std::u16string base_;
  std::u16string finalPath_;
  std::u16string tempPath_;
  std::u16string outputPath_;
  std::unique_ptr<os::OutputFile> file_;
  uint64_t written_ = 0;
  RecoverResult error_;
};

// Common reasons.
RecoverResult ReadFailure(uint64_t volumeOffset);
RecoverResult StoppedResult();

}  // namespace kestrel
