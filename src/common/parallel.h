// The worker threads of the per-stock loops (screening steps, the rankings' summary, the
// in-memory market's load, the backtest's signal days). Work runs on the workers; its results
// are taken on the calling thread strictly in index order, so whatever a run shows or writes
// is the same with one worker or many.
#pragma once

#include <functional>

namespace lp {

// Workers a loop may use (at least 1). Until set, the machine's cores.
int worker_count();
// n <= 0: the machine's cores. Anything above kMaxWorkers is capped.
void set_worker_count(int n);
inline constexpr int kMaxWorkers = 64;

// Runs work(i, w) for every i in [0, n), w being the index of the worker (0 .. workers-1) so
// that each worker can keep scratch buffers of its own, and take(i) on the calling thread in
// the order 0, 1, 2, ... as soon as work(i) is done. take returning false stops the loop: no
// further work starts, the work under way is waited for, and ordered_for returns false.
// While the calling thread waits, `idle` (may be empty) is called about every 20 ms, so a
// window stays responsive. With one worker, or when called from inside a worker (nested
// loops run inline), everything runs on the calling thread: work(0), take(0), work(1), ...
// An exception thrown by work or take stops the loop and is rethrown on the calling thread.
bool ordered_for(int n, int workers, const std::function<void(int i, int w)>& work,
                 const std::function<bool(int i)>& take, const std::function<void()>& idle = {});

// The same with worker_count() workers.
inline bool ordered_for(int n, const std::function<void(int i, int w)>& work,
                        const std::function<bool(int i)>& take,
                        const std::function<void()>& idle = {}) {
  return ordered_for(n, worker_count(), work, take, idle);
}

// Workers ordered_for will actually use for n items from the calling thread (1 inside a
// worker): the size of the per-worker scratch a caller sets up.
int workers_for(int n, int workers);

}  // namespace lp
