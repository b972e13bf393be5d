// What the device page and the scan dialog show and decide, apart from
// their windows: partition sizes as text, the checks before a scan starts,
// the scan's status line and the animation's frame clock.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace restorix {

// Bytes as GiB in single precision, "%.2f(G)" (such as 74.53(G)).
std::wstring FormatGiB(uint64_t bytes);

// A partition's size from its own sector count when the system cannot say:
// the sector size is rarely known there, and 512 bytes is what nearly
// every volume uses. Saturates instead of wrapping.
constexpr uint32_t kAssumedSectorSize = 512;
uint64_t BytesFromSectors(uint64_t sectorCount, uint32_t sectorSize);

enum class StartCheck {
  NoPartition,     // nothing or the root selected: "请先选择分区!"
  AskSameVolume,   // the program lives on the partition to be scanned
  Start,
};
// `volumeName` is the selected partition's name, `programFolder` the
// program's own folder; letters compare ignoring case.
StartCheck CheckStart(bool hasSelection, bool rootSelected, const std::wstring& volumeName,
                      const std::wstring& programFolder);

// What ends a scan whose outcome (a KX_SCAN_ code and the kernel's
// sentence) is neither a walk nor a stop: "无法读取该分区: " + the sentence,
// shown in place of an empty results page. None for a walk or a stop.
std::optional<std::wstring> ScanFailureText(int code, const std::wstring& kernelText);

// " 正在扫描分区...      找到 %d 个被删除文件".
std::wstring ScanStatusText(long long count);

// An animated picture's frames and their delays (hundredths of a second).
class FrameClock {
 public:
  FrameClock() = default;
  FrameClock(uint32_t frameCount, std::vector<uint32_t> delays)
      : m_frameCount(frameCount), m_delays(std::move(delays)) {}
  bool Animated() const { return m_frameCount > 0 && !m_delays.empty(); }
  uint32_t Current() const { return m_current; }
  // Milliseconds the current frame stays (0 when not animated).
  uint32_t PeriodMs() const;
  void Advance() { m_current = m_frameCount ? (m_current + 1) % m_frameCount : 0; }

 private:
  uint32_t m_frameCount = 0;
  std::vector<uint32_t> m_delays;
  uint32_t m_current = 0;
};

// The scan dialog paces its own repaints: the kernel posts one count per
// found item, and while posted messages keep coming the queue generates no
// paint or timer message. Millisecond ticks may wrap.
class RepaintClock {
 public:
  explicit RepaintClock(uint32_t intervalMs) : m_intervalMs(intervalMs) {}
  // True, and the clock starts again at `nowMs`, when the interval has
  // passed since the last repaint.
  bool Due(uint32_t nowMs) {
    if (nowMs - m_lastMs < m_intervalMs) return false;
    m_lastMs = nowMs;
    return true;
  }
  void Painted(uint32_t nowMs) { m_lastMs = nowMs; }

 private:
  uint32_t m_intervalMs;
  uint32_t m_lastMs = 0;
};

}  // namespace restorix
