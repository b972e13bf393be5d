// What an engine step came to, with a sentence a user can read. Kinds are
// kept apart: a volume that is not ours, one that is ours in a form we do
// not read, one too damaged to walk, a device that failed, and a stop.
#pragma once

#include <cstdint>
#include <string>

#include "kernel/Kestrel.h"

namespace kestrel {

enum class OutcomeKind : int {
  Ok = KX_SCAN_OK,
  NotSupported = KX_SCAN_NOT_SUPPORTED,
  UnsupportedVariant = KX_SCAN_UNSUPPORTED_VARIANT,
  Damaged = KX_SCAN_DAMAGED,
  ReadError = KX_SCAN_READ_ERROR,
  Stopped = KX_SCAN_STOPPED,
};

struct Outcome {
  OutcomeKind kind = OutcomeKind::Ok;
  std::u16string text;   // empty for Ok
  uint64_t offset = 0;   // ReadError: the volume byte offset that failed

  bool ok() const { return kind == OutcomeKind::Ok; }
  static Outcome Success() { return {}; }
  static Outcome NotSupported(std::u16string why) { return {OutcomeKind::NotSupported, std::move(why), 0}; }
  static Outcome Unsupported(std::u16string which) {
    return {OutcomeKind::UnsupportedVariant, std::move(which), 0};
  }
  static Outcome Damaged(std::u16string what) { return {OutcomeKind::Damaged, std::move(what), 0}; }
  // "cannot read the volume at byte N" with the offset filled in.
  static Outcome ReadFailed(uint64_t offset);
  static Outcome Stopped() { return {OutcomeKind::Stopped, u"the scan was stopped", 0}; }
};

// ASCII text to UTF-16 (messages are written in ASCII here).
std::u16string Ascii16(const char* text);

}  // namespace kestrel
