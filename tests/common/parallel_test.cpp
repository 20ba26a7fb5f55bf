// The ordered loop under the worker threads: every item worked once, taken strictly in order,
// a stop honoured at once, a failure carried to the caller, whatever the number of workers.
#include "common/parallel.h"

#include <gtest/gtest.h>

#include <atomic>
#include <stdexcept>
#include <vector>

namespace lp {
namespace {

TEST(OrderedFor, WorksEachItemOnceAndTakesThemInOrder) {
  const struct {
    int n, workers, stop_at;  // stop_at: the item whose take says stop (-1: none)
  } cases[] = {
      {0, 2, -1},   {1, 2, -1},    {2, 2, -1},  {17, 3, -1},   {1000, 2, -1}, {1000, 8, -1},
      {500, 1, -1}, {500, 1, 250}, {500, 2, 0}, {500, 2, 250}, {500, 3, 499},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::to_string(c.n) + " items, " + std::to_string(c.workers) + " workers");
    std::vector<std::atomic<int>> worked(static_cast<std::size_t>(c.n));
    std::vector<int> value(static_cast<std::size_t>(c.n), -1);
    std::atomic<int> bad_worker{0};
    const int workers = workers_for(c.n, c.workers);
    std::vector<int> taken;
    const bool whole = ordered_for(
        c.n, c.workers,
        [&](int i, int w) {
          if (w < 0 || w >= workers) ++bad_worker;
          ++worked[static_cast<std::size_t>(i)];
          value[static_cast<std::size_t>(i)] = i * i;
        },
        [&](int i) {
          EXPECT_EQ(value[static_cast<std::size_t>(i)], i * i) << "taken before its work ended";
          taken.push_back(i);
          return i != c.stop_at;
        });
    EXPECT_EQ(whole, c.stop_at < 0);
    const int last = c.stop_at < 0 ? c.n - 1 : c.stop_at;
    ASSERT_EQ(static_cast<int>(taken.size()), last + 1);
    for (int i = 0; i <= last; ++i) EXPECT_EQ(taken[static_cast<std::size_t>(i)], i);
    for (int i = 0; i < c.n; ++i) {
      const int times = worked[static_cast<std::size_t>(i)];
      if (i <= last)
        EXPECT_EQ(times, 1) << "item " << i;
      else
        EXPECT_LE(times, 1) << "item " << i;
    }
    EXPECT_EQ(bad_worker, 0);
  }
}

TEST(OrderedFor, AFailureStopsTheLoopAndReachesTheCaller) {
  for (int workers : {1, 2, 4}) {
    std::vector<int> taken;
    EXPECT_THROW(ordered_for(
                     300, workers,
                     [](int i, int) {
                       if (i == 120) throw std::runtime_error("disk gone");
                     },
                     [&](int i) {
                       taken.push_back(i);
                       return true;
                     }),
                 std::runtime_error);
    EXPECT_LE(taken.size(), 120u) << workers << " workers";
  }
}

TEST(OrderedFor, LoopsInsideAWorkerRunInline) {
  std::atomic<int> inner_workers{0};
  ordered_for(
      4, 2, [&](int, int) { inner_workers += workers_for(100, 8); }, [](int) { return true; });
  EXPECT_EQ(inner_workers, 4);
  EXPECT_EQ(workers_for(100, 8), 8);
  EXPECT_EQ(workers_for(1, 8), 1);
}

}  // namespace
}  // namespace lp
