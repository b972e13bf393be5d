// The desktop program's worker threads (recoveries, searches). The main
// window waits for all of them before it destroys the pages and the kernel
// binding they use.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>
#include <vector>

class WorkerGroup {
 public:
  WorkerGroup() = default;
  WorkerGroup(const WorkerGroup&) = delete;
  WorkerGroup& operator=(const WorkerGroup&) = delete;
  ~WorkerGroup();  // waits for every worker

  // Runs `work` on a new thread. False when no thread could be started.
  // An exception leaving `work` ends only that worker.
  bool Start(std::function<void()> work);

  int Running() const;
  // Waits up to `timeout` for every worker to finish; true when none runs.
  bool WaitIdle(std::chrono::milliseconds timeout);
  // Waits without limit and joins the finished threads.
  void JoinAll();

 private:
  mutable std::mutex m_mutex;
  std::condition_variable m_idle;
  int m_running = 0;
  std::vector<std::thread> m_threads;
};
