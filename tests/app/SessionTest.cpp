// The recovery and search sessions over a fake kernel: what both pages get
// from a recovery (bar positions, per-item results, stop, failures, the end
// message) and from a search, and requests made while one runs.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <set>

#include "app/core/DeviceRules.h"
#include "app/core/RecoverySession.h"
#include "app/core/SearchSession.h"

using namespace restorix;

namespace {

class FakeKernel : public SessionKernel {
 public:
  std::vector<FoundItem> items;
  std::set<uint32_t> unwritable;  // ids whose recovery fails
  std::function<void(ItemId)> onRecover;
  std::function<void()> onCount;
  std::vector<std::pair<std::wstring, uint32_t>> recovered;

  int ItemCount() override {
    if (onCount) onCount();
    return static_cast<int>(items.size());
  }
  bool ItemAt(int index, FoundItem& out) override {
    if (index < 0 || static_cast<size_t>(index) >= items.size() || items[index].path.empty()) return false;
    out = items[index];
    return true;
  }
  bool RecoverItem(const std::wstring& folder, ItemId id) override {
    recovered.emplace_back(folder, id.low);
    if (onRecover) onRecover(id);
    return !unwritable.count(id.low);
  }
};

// Waits for a worker's last callback.
class Latch {
 public:
  void Open() {
    std::lock_guard<std::mutex> hold(m_lock);
    m_open = true;
    m_cv.notify_all();
  }
  bool Wait() {
    std::unique_lock<std::mutex> hold(m_lock);
    return m_cv.wait_for(hold, std::chrono::seconds(10), [this] { return m_open; });
  }

 private:
  std::mutex m_lock;
  std::condition_variable m_cv;
  bool m_open = false;
};

struct RecoveryRun {
  std::vector<int> positions;
  std::vector<std::pair<size_t, bool>> items;
  Latch done;
  RecoverySession::Events Events() {
    return {[this](int p) { positions.push_back(p); }, [this](size_t i, bool ok) { items.emplace_back(i, ok); },
            [this](const RecoveryOutcome&) { done.Open(); }};
  }
};

std::vector<ItemId> Ids(std::initializer_list<uint32_t> lows) {
  std::vector<ItemId> ids;
  for (uint32_t low : lows) ids.push_back({low, 0});
  return ids;
}

const RecoveryEndRule kResultsRule{L"恢复完毕", true};
const RecoveryEndRule kSearchRule{L"数据恢复完毕", false};

}  // namespace

TEST(RecoverySession, ProgressItemsAndFailuresCounted) {
  FakeKernel kernel;
  kernel.unwritable = {5};
  AppState state;
  state.RequestStop();  // left from an earlier back press
  WorkerGroup workers;
  RecoverySession session(kernel, state, workers, kResultsRule);
  RecoveryRun run;
  ASSERT_TRUE(session.Start(Ids({4, 5, 6}), L"D:\\out\\", run.Events()));
  ASSERT_TRUE(run.done.Wait());
  workers.JoinAll();
  EXPECT_EQ(run.positions, (std::vector<int>{0, 0, 33, 66, 100}));
  EXPECT_EQ(run.items, (std::vector<std::pair<size_t, bool>>{{0, true}, {1, false}, {2, true}}));
  EXPECT_EQ(kernel.recovered.front().first, L"D:\\out\\");
  const RecoveryOutcome& o = session.Outcome();
  EXPECT_TRUE(o.count == 3 && o.attempted == 3 && o.failed == 1 && !o.stopped);
  EXPECT_EQ(session.EndMessage(), L"恢复完毕, 其中 1 个文件恢复失败!");
  EXPECT_FALSE(state.Busy());
  // Busy until the window thread has shown the end.
  EXPECT_TRUE(session.Busy());
  session.Finish();
  EXPECT_FALSE(session.Busy());
}

TEST(RecoverySession, SecondRequestWhileBusyIgnored) {
  FakeKernel kernel;
  AppState state;
  WorkerGroup workers;
  RecoverySession session(kernel, state, workers, kSearchRule);
  std::mutex gate;
  gate.lock();  // holds the first item
  kernel.onRecover = [&](ItemId) { std::lock_guard<std::mutex> pass(gate); };
  RecoveryRun first, second;
  ASSERT_TRUE(session.Start(Ids({1, 2}), L"D:\\a\\", first.Events()));
  EXPECT_FALSE(session.Start(Ids({9}), L"D:\\b\\", second.Events()));
  EXPECT_EQ(session.Items(), Ids({1, 2}));
  // Another page's session meets the kernel's busy flag.
  RecoverySession other(kernel, state, workers, kResultsRule);
  while (!state.Busy()) std::this_thread::yield();
  EXPECT_FALSE(other.Start(Ids({9}), L"D:\\b\\", second.Events()));
  gate.unlock();
  ASSERT_TRUE(first.done.Wait());
  EXPECT_FALSE(session.Start(Ids({9}), L"D:\\b\\", second.Events())) << "the end is not shown yet";
  session.Finish();
  workers.JoinAll();
  EXPECT_EQ(kernel.recovered.size(), 2u);
  EXPECT_FALSE(session.Start({}, L"D:\\b\\", second.Events())) << "no ids";
}

TEST(RecoverySession, StopDuringTheLastItem) {
  // The stop cuts the item in hand short (the kernel reports it unwritten)
  // and no further item is started.
  for (const RecoveryEndRule& rule : {kResultsRule, kSearchRule}) {
    FakeKernel kernel;
    AppState state;
    WorkerGroup workers;
    RecoverySession session(kernel, state, workers, rule);
    kernel.onRecover = [&](ItemId id) {
      if (id.low == 2) {
        state.RequestStop();
        kernel.unwritable.insert(2);
      }
    };
    RecoveryRun run;
    ASSERT_TRUE(session.Start(Ids({1, 2}), L"D:\\out\\", run.Events()));
    ASSERT_TRUE(run.done.Wait());
    workers.JoinAll();
    EXPECT_EQ(run.positions, (std::vector<int>{0, 0, 50, 100}));
    EXPECT_TRUE(session.Outcome().stopped && session.Outcome().failed == 1);
    // The results page stays silent; the search page gives its plain message.
    if (rule.silentAfterStop)
      EXPECT_FALSE(session.EndMessage().has_value());
    else
      EXPECT_EQ(session.EndMessage(), L"数据恢复完毕!");
  }
}

TEST(RecoverySession, StopBeforeAnItemSkipsTheRest) {
  FakeKernel kernel;
  AppState state;
  WorkerGroup workers;
  RecoverySession session(kernel, state, workers, kSearchRule);
  kernel.onRecover = [&](ItemId) { state.RequestStop(); };
  RecoveryRun run;
  ASSERT_TRUE(session.Start(Ids({1, 2, 3, 4}), L"D:\\out\\", run.Events()));
  ASSERT_TRUE(run.done.Wait());
  workers.JoinAll();
  EXPECT_EQ(run.positions, (std::vector<int>{0, 0, 25, 100}));
  EXPECT_EQ(run.items.size(), 1u);
  EXPECT_EQ(session.Outcome().attempted, 1u);
}

TEST(SearchSession, MatchesInKernelOrderAndOneAtATime) {
  FakeKernel kernel;
  kernel.items = {{L"S:\\Deleted\\Docs\\Lines.txt", {1, 0}, 9, 0},
                  {L"S:\\Deleted\\TXT\\ReadMe", {2, 0}, 1, 0},
                  {L"", {3, 0}, 0, 0},  // unreadable
                  {L"S:\\Deleted\\报告.TXT", {4, 0}, 2, 0}};
  WorkerGroup workers;
  SearchSession session(kernel, workers);
  std::mutex gate;
  gate.lock();
  kernel.onCount = [&] { std::lock_guard<std::mutex> pass(gate); };
  Latch done;
  ASSERT_TRUE(session.Start(L"txt", [&] { done.Open(); }));
  EXPECT_FALSE(session.Start(L"ReadMe", [] {}));
  gate.unlock();
  ASSERT_TRUE(done.Wait());
  EXPECT_FALSE(session.Start(L"ReadMe", [] {})) << "busy until the matches are taken";
  const std::vector<FoundItem> found = session.TakeMatches();
  ASSERT_EQ(found.size(), 2u);
  EXPECT_TRUE(found[0].id.low == 1 && found[1].id.low == 4 && found[0].size == 9);
  EXPECT_FALSE(session.Start(L"", [] {})) << "an empty keyword searches nothing";
  workers.JoinAll();
}

TEST(RepaintClock, DueEveryIntervalAcrossTickWrap) {
  RepaintClock clock(100);
  clock.Painted(0xFFFFFFC0u);
  EXPECT_FALSE(clock.Due(0xFFFFFFC0u + 99));
  EXPECT_TRUE(clock.Due(0xFFFFFFC0u + 100));  // wraps to 0x24
  EXPECT_FALSE(clock.Due(0x24 + 50));
  EXPECT_TRUE(clock.Due(0x24 + 100));
}
