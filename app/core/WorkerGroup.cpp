#include "app/core/WorkerGroup.h"

WorkerGroup::~WorkerGroup() { JoinAll(); }

bool WorkerGroup::Start(std::function<void()> work) {
  std::lock_guard<std::mutex> lock(m_mutex);
  try {
    ++m_running;
    m_threads.emplace_back([this, work = std::move(work)] {
      try {
        work();
      } catch (...) {
      }
      std::lock_guard<std::mutex> done(m_mutex);
      --m_running;
      m_idle.notify_all();
    });
  } catch (...) {
    --m_running;
    return false;
  }
  return true;
}

int WorkerGroup::Running() const {
  std::lock_guard<std::mutex> lock(m_mutex);
  return m_running;
}

bool WorkerGroup::WaitIdle(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(m_mutex);
  return m_idle.wait_for(lock, timeout, [this] { return m_running == 0; });
}

void WorkerGroup::JoinAll() {
  std::vector<std::thread> threads;
  {
    std::lock_guard<std::mutex> lock(m_mutex);
    threads.swap(m_threads);
  }
  for (std::thread& t : threads)
    if (t.joinable()) t.join();
}
