// lumenpick-bench: every benchmark registers a case; main runs them all and prints one table.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "common/platform.h"

namespace lp::bench {

struct Setup {
  std::string market_dir;  // a ready sample database: <market_dir>/documents is the documents
  std::string documents;   // folder with nordhaven/lumenpick/kabuka_db filled
  std::string today;       // the sample market's end date
  int runs = 5;
  int codes = 4000;  // the sample market's size
  int years = 3;
  unsigned seed = 1;
  std::string db_folder;    // documents/nordhaven/lumenpick/kabuka_db/ (ends in "/")
  std::string packed_root;  // the same market packed: <packed_root>/html/kabuka_db/<yyyy>/...
};

// The measured figures of one case, handed to the judges once every case has run.
struct Result {
  std::string name;
  double median_seconds = 0;
  long long items = 0;
  int runs = 0;
};

// A case measures one thing; `run` is timed `runs` times and the median is reported, with the
// median divided by the item count `run` returns as the per-item figure ("per load").
struct Case {
  std::string name;
  std::string target;              // the figure to stay within, or "" when only for reference
  std::function<void()> prepare;   // untimed, once
  std::function<long long()> run;  // returns an item count (loads, stocks...) for per-item figures
  // Timed runs; 0 takes Setup::runs. A case with 1 run is not warmed up (a long one-off job).
  int runs = 0;
  // Says whether the target was met: "yes", "no" or "" (unknown). Without a judge a target of
  // the form "<= N s" / "< N s" is checked against the median.
  std::function<std::string(const Result& self, const std::vector<Result>& all)> judge = {};
  std::function<void()> finish = {};  // untimed, after the last run (clean-up)
  std::string item = "item";          // what one item is, for the per-item column
};

std::vector<Case>& cases();

// The platform of a program run on the sample market: its documents folder and its end date.
inline Platform bench_platform(const Setup& setup) {
  Platform p;
  p.documents_folder = setup.documents;
  p.desktop_folder = setup.documents;
  const std::string today = setup.today;
  p.today = [today] { return today; };
  return p;
}

struct Registrar {
  explicit Registrar(std::function<void(const Setup&, std::vector<Case>&)> add);
};

std::vector<std::function<void(const Setup&, std::vector<Case>&)>>& adders();

// Helpers for judges.
const Result* find_result(const std::vector<Result>& all, const std::string& name);
std::string yes_no(bool met);

}  // namespace lp::bench

#define LP_BENCH_CONCAT2(a, b) a##b
#define LP_BENCH_CONCAT(a, b) LP_BENCH_CONCAT2(a, b)
#define LP_BENCH(fn) static ::lp::bench::Registrar LP_BENCH_CONCAT(lp_bench_, __LINE__)(fn)
