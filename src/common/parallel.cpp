#include "common/parallel.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

namespace lp {

namespace {

std::atomic<int> g_workers{0};  // 0: the machine's cores
thread_local bool t_in_worker = false;

int cores() {
  const unsigned n = std::thread::hardware_concurrency();
  return n == 0 ? 1 : static_cast<int>(std::min<unsigned>(n, kMaxWorkers));
}

}  // namespace

int worker_count() {
  const int n = g_workers.load(std::memory_order_relaxed);
  return n > 0 ? n : cores();
}

void set_worker_count(int n) {
  g_workers.store(n <= 0 ? 0 : std::min(n, kMaxWorkers), std::memory_order_relaxed);
}

int workers_for(int n, int workers) {
  if (t_in_worker || n <= 1) return 1;
  return std::max(1, std::min(workers, n));
}

bool ordered_for(int n, int workers, const std::function<void(int i, int w)>& work,
                 const std::function<bool(int i)>& take, const std::function<void()>& idle) {
  if (n <= 0) return true;
  const int w_count = workers_for(n, workers);
  if (w_count == 1) {
    for (int i = 0; i < n; ++i) {
      work(i, 0);
      if (!take(i)) return false;
    }
    return true;
  }

  // Items are handed out in small runs, so that the workers rarely meet at the counter and
  // the calling thread, which takes them in order, never waits long for the first of a run.
  const int run = std::clamp(n / (w_count * 16), 1, 16);
  std::atomic<int> next{0};
  std::atomic<bool> stop{false};
  std::vector<std::atomic<bool>> done(static_cast<std::size_t>(n));
  std::mutex mutex;
  std::condition_variable ready;
  std::exception_ptr failure;
  // The item the calling thread sleeps on, -1 while it does not: a worker wakes it only then,
  // so a caller that keeps up costs the workers no system call.
  std::atomic<int> waiting_for{-1};

  auto finished = [&](int i) {
    done[static_cast<std::size_t>(i)].store(true);
    if (waiting_for.load() == i) {
      // Taking the lock orders this wake-up after the caller's last look at the flag.
      { std::lock_guard<std::mutex> lock(mutex); }
      ready.notify_one();
    }
  };
  auto worker = [&](int w) {
    t_in_worker = true;
    while (!stop.load(std::memory_order_relaxed)) {
      const int first = next.fetch_add(run, std::memory_order_relaxed);
      if (first >= n) break;
      const int last = std::min(n, first + run);
      for (int i = first; i < last; ++i) {
        if (!stop.load(std::memory_order_relaxed)) {
          try {
            work(i, w);
          } catch (...) {
            std::lock_guard<std::mutex> lock(mutex);
            if (!failure) failure = std::current_exception();
            stop.store(true, std::memory_order_relaxed);
          }
        }
        finished(i);
      }
    }
  };

  std::vector<std::thread> threads;
  threads.reserve(static_cast<std::size_t>(w_count));
  for (int w = 0; w < w_count; ++w) threads.emplace_back(worker, w);

  bool completed = true;
  for (int i = 0; i < n; ++i) {
    auto& flag = done[static_cast<std::size_t>(i)];
    if (!flag.load(std::memory_order_acquire)) {
      std::unique_lock<std::mutex> lock(mutex);
      // Announced before the flag is looked at again (both sequentially consistent): either
      // the worker sees the announcement and wakes us, or we see its flag.
      waiting_for.store(i);
      while (!flag.load()) {
        if (ready.wait_for(lock, std::chrono::milliseconds(20)) == std::cv_status::timeout &&
            idle) {
          lock.unlock();
          idle();
          lock.lock();
        }
      }
      waiting_for.store(-1);
    }
    bool failed;
    {
      std::lock_guard<std::mutex> lock(mutex);
      failed = failure != nullptr;
    }
    if (failed) {
      completed = false;
      break;
    }
    bool go_on = false;
    try {
      go_on = take(i);
    } catch (...) {
      std::lock_guard<std::mutex> lock(mutex);
      if (!failure) failure = std::current_exception();
    }
    if (!go_on) {
      completed = false;
      break;
    }
  }
  stop.store(true, std::memory_order_relaxed);
  for (std::thread& t : threads) t.join();
  if (failure) std::rethrow_exception(failure);
  return completed;
}

}  // namespace lp
