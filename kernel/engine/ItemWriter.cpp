#include "kernel/engine/ItemWriter.h"

#include <cstdio>

#include "kernel/engine/Outcome.h"

namespace kestrel {
namespace {

// The longest output path: the long-path limit of Windows, which POSIX
// file systems leave well behind too.
constexpr size_t kMaxOutputUnits = 32000;
// How many numbered names are tried before a name counts as unusable.
constexpr int kMaxNumbered = 10000;

RecoverResult FromFileError(os::FileError error) {
  switch (error) {
    case os::FileError::None: return {};
    case os::FileError::NoSpace: return {KX_RECOVER_NO_SPACE, u"no space left on the target"};
    case os::FileError::Permission: return {KX_RECOVER_PERMISSION, u"permission denied on the target"};
    case os::FileError::BadName:
    case os::FileError::Exists:
      return {KX_RECOVER_BAD_NAME, u"the target does not allow this name"};
    case os::FileError::NotFound: return {KX_RECOVER_WRITE_ERROR, u"the target folder cannot be made"};
    default: return {KX_RECOVER_WRITE_ERROR, u"the target could not be written"};
  }
}

size_t LastSeparator(const std::u16string& path) {
  size_t cut = path.find_last_of(u"\\/");
  return cut == std::u16string::npos ? 0 : cut + 1;
}

// "name.ext" -> "name (n).ext"; a leading dot is part of the name.
std::u16string Numbered(const std::u16string& path, int n) {
  const size_t nameStart = LastSeparator(path);
  size_t dot = path.rfind(u'.');
  if (dot == std::u16string::npos || dot <= nameStart) dot = path.size();
  char number[24];
  std::snprintf(number, sizeof number, " (%d)", n);
  return path.substr(0, dot) + Ascii16(number) + path.substr(dot);
}

}  // namespace

RecoverResult ReadFailure(uint64_t volumeOffset) {
  char text[96];
  std::snprintf(text, sizeof text, "read error at byte %llu of the volume",
                static_cast<unsigned long long>(volumeOffset));
  return {KX_RECOVER_READ_ERROR, Ascii16(text)};
}

RecoverResult StoppedResult() { return {KX_RECOVER_STOPPED, u"stopped"}; }

ItemWriter::ItemWriter(std::u16string folder) : folder_(std::move(folder)) {
  if (!folder_.empty() && folder_.back() != u'\\' && folder_.back() != u'/') folder_ += u'\\';
  base_ = folder_ + u"Deleted\\";
}

ItemWriter::~ItemWriter() {
  // An engine that returned early leaves no half file under a real name.
  if (file_) Fail(StoppedResult());
}

size_t ItemWriter::PathRoom() const {
  return base_.size() < kMaxOutputUnits ? kMaxOutputUnits - base_.size() : 0;
}

bool ItemWriter::Create(std::u16string_view relativePath) {
  file_.reset();
  written_ = 0;
  outputPath_.clear();
  error_ = {};
  if (relativePath.empty() || relativePath.size() > PathRoom()) {
    error_ = {KX_RECOVER_BAD_NAME, u"the output path is too long"};
    return false;
  }
  finalPath_ = base_;
  finalPath_.append(relativePath);
  const size_t cut = LastSeparator(finalPath_);
  const std::u16string folder = finalPath_.substr(0, cut > 0 ? cut - 1 : 0);
  // The bytes go to a short name of their own until the copy is whole: a
  // name derived from a 255-unit final name would pass the host's limit.
  bool madeFolders = false;
  for (int n = 1; n <= kMaxNumbered; ++n) {
    char temp[40];
    std::snprintf(temp, sizeof temp, "%s.kestrel-%d.tmp", cut > 0 ? "\\" : "", n);
    tempPath_ = folder + Ascii16(temp);
    os::FileError why = os::FileError::None;
    file_ = os::CreateNewFile(tempPath_, why);
    if (file_) return true;
    if (why == os::FileError::Exists) continue;
    // Most files share their folder with the one before: make the folders
    // only when the file cannot be created without them.
    if (why == os::FileError::NotFound && !madeFolders) {
      madeFolders = true;
      if (os::CreateFolderChain(folder)) {
        --n;
        continue;
      }
    }
    error_ = FromFileError(why);
    tempPath_.clear();
    return false;
  }
  error_ = {KX_RECOVER_BAD_NAME, u"no free name for the output"};
  tempPath_.clear();
  return false;
}

bool ItemWriter::Write(const void* data, size_t length) {
  if (!file_) return false;
  if (!file_->Write(data, length)) {
    if (error_.ok()) error_ = FromFileError(file_->LastError());
    return false;
  }
  written_ += length;
  return true;
}

bool ItemWriter::SkipZeros(uint64_t bytes) {
  if (!file_) return false;
  if (!file_->SkipZeros(bytes)) {
    if (error_.ok()) error_ = FromFileError(file_->LastError());
    return false;
  }
  written_ += bytes;
  return true;
}

RecoverResult ItemWriter::Finish(uint64_t expectedSize) {
  if (!file_) return error_.ok() ? RecoverResult{KX_RECOVER_WRITE_ERROR, u"no output was made"} : error_;
  const bool closed = file_->Close();
  if (!closed && error_.ok()) error_ = FromFileError(file_->LastError());
  file_.reset();
  if (!error_.ok()) return Fail(error_);
  if (written_ != expectedSize) {
    char text[96];
    std::snprintf(text, sizeof text, "only %llu of %llu bytes could be read",
                  static_cast<unsigned long long>(written_),
                  static_cast<unsigned long long>(expectedSize));
    return Fail({KX_RECOVER_READ_ERROR, Ascii16(text)});
  }
  // The whole copy takes the final name, or the first free numbered one.
  for (int n = 1; n <= kMaxNumbered; ++n) {
    const std::u16string target = n == 1 ? finalPath_ : Numbered(finalPath_, n);
    os::FileError why = os::RenameNoReplace(tempPath_, target);
    if (why == os::FileError::None) {
      outputPath_ = target;
      tempPath_.clear();
      return {};
    }
    if (why != os::FileError::Exists) return Fail(FromFileError(why));
  }
  return Fail({KX_RECOVER_BAD_NAME, u"no free name for the output"});
}

RecoverResult ItemWriter::Fail(RecoverResult reason) {
  if (reason.ok()) reason = error_.ok() ? RecoverResult{KX_RECOVER_WRITE_ERROR, u"the copy did not complete"} : error_;
  if (file_) {
    file_->Close();
    file_.reset();
  } else if (tempPath_.empty()) {
    return reason;  // nothing was created
  }
  // What was read so far stays, marked as incomplete.
  for (int n = 1; n <= kMaxNumbered; ++n) {
    const std::u16string target = (n == 1 ? finalPath_ : Numbered(finalPath_, n)) + u".partial";
    os::FileError why = os::RenameNoReplace(tempPath_, target);
    if (why == os::FileError::None) {
      outputPath_ = target;
      break;
    }
    if (why != os::FileError::Exists) {
      outputPath_ = tempPath_;  // it keeps its temporary name, which says as much
      break;
    }
  }
  tempPath_.clear();
  return reason;
}

}  // namespace kestrel
