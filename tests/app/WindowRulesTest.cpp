// Main-window rules, start-up decisions, worker threads and button frames.
#include <gtest/gtest.h>

#include <atomic>
#include <cstring>
#include <string>

#include "app/core/StartupRules.h"
#include "app/core/WindowRules.h"
#include "app/core/WorkerGroup.h"
#include "controls/model/ButtonFrame.h"

using namespace restorix;

namespace {
CDialogBase* FakeWindow(int n) { return reinterpret_cast<CDialogBase*>(static_cast<uintptr_t>(0x1000 * n)); }

std::vector<PageEntry> FourPages() {
  return {MakePageEntry(129, L"Select Device", kPageDevice, FakeWindow(1)),
          MakePageEntry(133, L"DR dlg", kPageResults, FakeWindow(2)),
          MakePageEntry(154, L"Preview dlg", kPagePreview, FakeWindow(5)),
          MakePageEntry(155, L"Search dlg", kPageSearch, FakeWindow(6))};
}
}  // namespace

TEST(WindowRules, MessageNumbersAreFixed) {
  EXPECT_EQ(WM_SHOW_DEVICE_PAGE, 2024u);
  EXPECT_EQ(WM_SHOW_RESULTS_PAGE, 2025u);
  EXPECT_EQ(WM_PARTITION_ACTIVATED, 2027u);
  EXPECT_EQ(WM_RECOVER_PROGRESS, 2034u);
  EXPECT_EQ(WM_SCAN_FOUND_COUNT, 2035u);
  EXPECT_EQ(WM_SHOW_PREVIEW_PAGE, 2036u);
  EXPECT_EQ(WM_SHOW_SEARCH_PAGE, 2037u);
}

TEST(WindowRules, PageEntryCopiesAndBoundsTheName) {
  PageEntry e = MakePageEntry(133, L"DR dlg", 2, FakeWindow(2));
  EXPECT_EQ(e.resourceId, 133);
  EXPECT_EQ(std::wstring(e.name), L"DR dlg");
  std::wstring longName(300, L'x');
  PageEntry l = MakePageEntry(1, longName.c_str(), 1, nullptr);
  EXPECT_EQ(std::wstring(l.name).size(), 99u);
  PageEntry n = MakePageEntry(1, nullptr, 1, nullptr);
  EXPECT_EQ(n.name[0], 0);
}

TEST(WindowRules, ShowPageShowsExactlyTheMatchingPage) {
  auto table = FourPages();
  PageEntry current;
  auto plan = PlanShowPage(table, kPageSearch, current);
  ASSERT_EQ(plan.size(), 4u);
  for (const auto& p : plan) EXPECT_EQ(p.show, p.window == FakeWindow(6));
  EXPECT_EQ(current.key, kPageSearch);
  EXPECT_EQ(current.resourceId, 155);
  EXPECT_EQ(std::wstring(current.name), L"Search dlg");

  // A key no page has hides every page and keeps the current entry.
  plan = PlanShowPage(table, 3, current);
  ASSERT_EQ(plan.size(), 4u);
  for (const auto& p : plan) EXPECT_FALSE(p.show);
  EXPECT_EQ(current.key, kPageSearch);

  // Keys compare as 8-bit values: 257 is page 1.
  plan = PlanShowPage(table, 257, current);
  EXPECT_TRUE(plan[0].show);
  EXPECT_EQ(current.key, kPageDevice);
}

TEST(WindowRules, ShowPageSkipsEntriesWithoutWindow) {
  auto table = FourPages();
  table[1].window = nullptr;
  PageEntry current;
  auto plan = PlanShowPage(table, kPageResults, current);
  EXPECT_EQ(plan.size(), 3u);
  for (const auto& p : plan) EXPECT_FALSE(p.show);
  EXPECT_EQ(current.key, 0);
}

TEST(WindowRules, DragBandIsTheTopLeftOfTheWindow) {
  const int width = 800;
  EXPECT_EQ(DragHitTest(kHitClient, 10, 10, width), kHitCaption);
  EXPECT_EQ(DragHitTest(kHitClient, 699, 99, width), kHitCaption);
  EXPECT_EQ(DragHitTest(kHitClient, 700, 10, width), kHitClient);  // caption buttons
  EXPECT_EQ(DragHitTest(kHitClient, 760, 5, width), kHitClient);
  EXPECT_EQ(DragHitTest(kHitClient, 10, 100, width), kHitClient);  // below the band
  // Only a client hit turns into a caption: borders and the like stay.
  EXPECT_EQ(DragHitTest(0, 10, 10, width), 0);
  EXPECT_EQ(DragHitTest(17, 10, 10, width), 17);
}

TEST(WindowRules, ProgressMessages) {
  auto s = ApplyRecoverProgress(1, 40);
  EXPECT_TRUE(s.visible);
  EXPECT_EQ(s.position, 40);
  s = ApplyRecoverProgress(0, 40);
  EXPECT_FALSE(s.visible);
  EXPECT_EQ(s.position, 40);
  s = ApplyRecoverProgress(2, 10);
  EXPECT_FALSE(s.visible);
  for (uintptr_t w : {0u, 1u, 7u}) {
    s = ApplyRecoverProgress(w, 100);
    EXPECT_FALSE(s.visible);
    EXPECT_EQ(s.position, 0);
  }
  s = ApplyRecoverProgress(1, 0);
  EXPECT_TRUE(s.visible);
  EXPECT_EQ(s.position, 0);
}

TEST(StartupRules, ElevationDecision) {
  EXPECT_TRUE(ElevationNeeded(6, 0x2000u));   // medium
  EXPECT_TRUE(ElevationNeeded(10, 0x1000u));  // low
  EXPECT_TRUE(ElevationNeeded(6, 0x2FFFu));
  EXPECT_FALSE(ElevationNeeded(6, 0x3000u));  // high
  EXPECT_FALSE(ElevationNeeded(10, 0x4000u));  // system
  EXPECT_FALSE(ElevationNeeded(5, 0x2000u));  // XP: never
  EXPECT_FALSE(ElevationNeeded(6, std::nullopt));  // token unreadable
}

TEST(StartupRules, CrashRestartGuard) {
  EXPECT_TRUE(ShouldRestartAfterCrash(false, 0));
  EXPECT_TRUE(ShouldRestartAfterCrash(false, 500));
  EXPECT_TRUE(ShouldRestartAfterCrash(true, kCrashLoopWindowMs));
  EXPECT_TRUE(ShouldRestartAfterCrash(true, 3600000));
  EXPECT_FALSE(ShouldRestartAfterCrash(true, 0));
  EXPECT_FALSE(ShouldRestartAfterCrash(true, kCrashLoopWindowMs - 1));
}

namespace {
class RecordingCrash : public CrashActions {
 public:
  bool restarted = false;
  uint64_t uptime = 0;
  std::string log;
  void TellUser() override { log += "tell "; }
  void OpenFeedback() override { log += "feedback "; }
  bool StartedByCrashRestart() override { return restarted; }
  uint64_t UptimeMs() override { return uptime; }
  void MarkNextStartAsRestart() override { log += "mark "; }
  void StartNewCopy() override { log += "start"; }
};
}  // namespace

TEST(StartupRules, CrashHandlerSteps) {
  RecordingCrash first;
  first.uptime = 200;  // a first start that crashes at once is restarted once
  EXPECT_EQ(HandleCrash(first), 1);
  EXPECT_EQ(first.log, "tell feedback mark start");

  RecordingCrash again;  // ... and that copy, crashing as quickly, is not
  again.restarted = true;
  again.uptime = 200;
  EXPECT_EQ(HandleCrash(again), 1);
  EXPECT_EQ(again.log, "tell feedback ");

  RecordingCrash later;  // a restarted copy that ran a while is restarted
  later.restarted = true;
  later.uptime = 60000;
  EXPECT_EQ(HandleCrash(later), 1);
  EXPECT_EQ(later.log, "tell feedback mark start");
}

TEST(WorkerGroup, WaitsForEveryWorker) {
  WorkerGroup group;
  std::atomic<int> release{0};
  std::atomic<int> done{0};
  for (int i = 0; i < 3; ++i)
    ASSERT_TRUE(group.Start([&] {
      while (!release.load()) std::this_thread::yield();
      ++done;
    }));
  EXPECT_EQ(group.Running(), 3);
  EXPECT_FALSE(group.WaitIdle(std::chrono::milliseconds(1)));
  release = 1;
  EXPECT_TRUE(group.WaitIdle(std::chrono::seconds(60)));
  EXPECT_EQ(done.load(), 3);
  EXPECT_EQ(group.Running(), 0);
  group.JoinAll();
}

TEST(WorkerGroup, AnExceptionEndsOnlyItsWorker) {
  WorkerGroup group;
  std::atomic<int> ran{0};
  ASSERT_TRUE(group.Start([] { throw std::runtime_error("x"); }));
  ASSERT_TRUE(group.Start([&] { ++ran; }));
  EXPECT_TRUE(group.WaitIdle(std::chrono::seconds(60)));
  EXPECT_EQ(ran.load(), 1);
}

TEST(ButtonFrame, FrameChoiceAndSource) {
  EXPECT_EQ(ChooseButtonFrame(false, false, false, false), kFrameNormal);
  EXPECT_EQ(ChooseButtonFrame(false, false, false, true), kFrameHover);
  EXPECT_EQ(ChooseButtonFrame(false, true, false, false), kFramePressed);
  EXPECT_EQ(ChooseButtonFrame(false, false, true, true), kFramePressed);  // checked wins over hover
  EXPECT_EQ(ChooseButtonFrame(false, true, true, true), kFramePressed);
  EXPECT_EQ(ChooseButtonFrame(true, true, true, true), kFrameDisabled);

  constexpr StripFrame hover = ButtonFrameRect(kFrameHover, 192, 30);
  static_assert(hover.x == 48 && hover.width == 48 && hover.height == 30);
  EXPECT_EQ(ButtonFrameRect(kFrameDisabled, 192, 30).x, 144);
  EXPECT_EQ(ButtonFrameRect(kFramePressed, 7, 5).width, 1);  // integer division
  EXPECT_EQ(ButtonFrameRect(kFrameNormal, 0, 0).width, 0);
}
