// The foundation's figures: the trading calendar, the 260-day load of every code against the
// bare cost of reading the same files, and the sample market's generation time.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench.h"
#include "common/csv.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "sample-market/sample_market.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Result;
using lp::bench::Setup;

constexpr int kLoadDays = 260;
constexpr const char* kRawRead = "raw read of the 260-day loads' files, every code";
constexpr const char* kLoadAdjusted = "load_series_cal 260 days, every code (split-adjusted)";
constexpr const char* kLoadNumbers =
    "load_series_numbers 260 days, every code (files, split-adjusted)";

int year_of(const std::string& date) {
  return date.size() >= 4 ? std::stoi(date.substr(0, 4)) : 0;
}

struct LoadWork {
  lp::SeriesSource src;
  lp::TradingCalendar cal;
  std::vector<std::string> codes;
  std::vector<std::string> files;  // what the loads read: series and correction files
  lp::Series series;
  lp::SeriesNumbers numbers;
  std::string bytes;
};

// Every code with a series file in the end date's year, and the files a 260-day load of each
// reads: its series files back to the calendar's oldest year and the correction files there.
void prepare_loads(const Setup& setup, LoadWork& w) {
  if (!w.codes.empty()) return;
  w.src.db_folder = setup.db_folder;
  w.src.reference_code = "1001";
  lp::build_trading_calendar(w.src, w.cal, setup.today, kLoadDays);
  const int newest_year = year_of(setup.today);
  const int oldest_year = w.cal.count() > 0 ? year_of(w.cal.at(w.cal.count())) : newest_year;
  std::error_code ec;
  for (const auto& e :
       fs::directory_iterator(lp::year_folder(setup.db_folder, newest_year) + "data_m", ec)) {
    w.codes.push_back(e.path().stem().string());
  }
  std::sort(w.codes.begin(), w.codes.end());
  for (const std::string& code : w.codes) {
    for (int y = newest_year; y >= oldest_year; --y) {
      for (const std::string& path : {lp::series_file_path(setup.db_folder, y, code),
                                      lp::correction_file_path(setup.db_folder, y, code)}) {
        if (fs::exists(path, ec)) w.files.push_back(path);
      }
    }
  }
}

long long read_every_file(LoadWork& w) {
  for (const std::string& path : w.files) lp::read_file_bytes(path, w.bytes);
  return static_cast<long long>(w.codes.size());
}

// The text load of every code; the count of codes loaded.
long long load_every_text(const Setup& setup, LoadWork& w, bool adjust) {
  long long loaded = 0;
  for (const std::string& code : w.codes) {
    loaded +=
        lp::load_series_cal(w.src, setup.today, kLoadDays, code, w.cal, w.series, adjust) == 0;
  }
  return loaded;
}

// The number load of every code (every price, or close and volume only).
long long load_every_numbers(const Setup& setup, LoadWork& w, bool prices) {
  long long loaded = 0;
  w.numbers.want_prices = prices;
  for (const std::string& code : w.codes) {
    loaded += lp::load_series_numbers(w.src, setup.today, kLoadDays, code, w.cal, w.numbers, true,
                                      w.series) == 0;
  }
  return loaded;
}

void add_pricedb_cases(const Setup& setup, std::vector<Case>& cases) {
  auto work = std::make_shared<LoadWork>();

  {
    auto cal = std::make_shared<lp::TradingCalendar>();
    auto src = std::make_shared<lp::SeriesSource>();
    src->db_folder = setup.db_folder;
    src->reference_code = "1001";
    Case c{"build_trading_calendar 1500 days", "", {}, [setup, cal, src] {
             lp::SeriesSource fresh = *src;  // no cached folder lookups between runs
             lp::build_trading_calendar(fresh, *cal, setup.today, 1500);
             return static_cast<long long>(cal->count());
           }};
    c.item = "date";
    cases.push_back(std::move(c));
  }
  {
    Case c{kRawRead, "", [setup, work] { prepare_loads(setup, *work); },
           [work] { return read_every_file(*work); }};
    c.item = "code";
    cases.push_back(std::move(c));
  }
  for (bool adjust : {true, false}) {
    Case c{adjust ? kLoadAdjusted : "load_series_cal 260 days, every code (raw prices)",
           adjust ? "<= 0.3 s and <= 2x raw read" : "",
           [setup, work] { prepare_loads(setup, *work); },
           [setup, work, adjust] { return load_every_text(setup, *work, adjust); }};
    c.item = "load";
    if (adjust) {
      c.judge = [](const Result& self, const std::vector<Result>& all) -> std::string {
        const Result* raw = lp::bench::find_result(all, kRawRead);
        if (!raw) return "";
        return lp::bench::yes_no(self.median_seconds <= 0.3 &&
                                 self.median_seconds <= 2 * raw->median_seconds);
      };
    }
    cases.push_back(std::move(c));
  }
  for (bool prices : {true, false}) {
    // The loads that need only numbers, straight from the files: a formula's (every price) and
    // a numeric criterion's (close and volume).
    Case c{prices ? kLoadNumbers
                  : "load_series_numbers 260 days, every code (files, split-adjusted, close and "
                    "volume)",
           prices ? "<= 2x raw read" : "", [setup, work] { prepare_loads(setup, *work); },
           [setup, work, prices] { return load_every_numbers(setup, *work, prices); }};
    c.item = "load";
    if (prices) {
      c.judge = [](const Result& self, const std::vector<Result>& all) -> std::string {
        const Result* raw = lp::bench::find_result(all, kRawRead);
        if (!raw) return "";
        return lp::bench::yes_no(self.median_seconds <= 2 * raw->median_seconds);
      };
    }
    cases.push_back(std::move(c));
  }
  for (bool text : {true, false}) {
    // The same loads timed each right after the raw read, run after run, so that both figures
    // of a ratio come from the machine in one state: the median of the runs' ratios.
    auto ratios = std::make_shared<std::vector<double>>();
    Case c{std::string(text ? "load_series_cal 260 days (split-adjusted)"
                            : "load_series_numbers 260 days (files, split-adjusted)") +
               " against the raw read, in alternating runs",
           "<= 2x raw read",
           [setup, work, ratios] {
             prepare_loads(setup, *work);
             ratios->clear();
           },
           [setup, work, ratios, text] {
             using Clock = std::chrono::steady_clock;
             const auto t0 = Clock::now();
             read_every_file(*work);
             const auto t1 = Clock::now();
             const long long loaded = text ? load_every_text(setup, *work, true)
                                           : load_every_numbers(setup, *work, true);
             const auto t2 = Clock::now();
             ratios->push_back(std::chrono::duration<double>(t2 - t1).count() /
                               std::chrono::duration<double>(t1 - t0).count());
             return loaded;
           }};
    c.item = "";  // the time of a run is the two together: the judge gives the ratio
    c.judge = [ratios](const Result&, const std::vector<Result>&) -> std::string {
      // The first run only warms up.
      std::vector<double> r(ratios->begin() + (ratios->size() > 1 ? 1 : 0), ratios->end());
      if (r.empty()) return "";
      std::sort(r.begin(), r.end());
      const double median = r[r.size() / 2];
      char figure[32];
      std::snprintf(figure, sizeof figure, "%.2fx", median);
      return lp::bench::yes_no(median <= 2) + " (" + figure + ")";
    };
    cases.push_back(std::move(c));
  }
  {
    const fs::path scratch = fs::path(setup.market_dir) / "generation-scratch";
    auto clear = [scratch] {
      std::error_code ec;
      fs::remove_all(scratch, ec);
    };
    Case c{"sample market generation " + std::to_string(setup.codes) + " codes x " +
               std::to_string(setup.years) + " years (database + packed)",
           "< 20 s", clear, [setup, scratch] {
             lp::sample::Options opt;
             opt.codes = setup.codes;
             opt.years = setup.years;
             opt.seed = setup.seed;
             opt.end_date = setup.today;
             opt.db_folder = (scratch / "db").string() + "/";
             opt.packed_root = (scratch / "packed").string();
             lp::sample::Summary summary;
             std::string error;
             if (!lp::sample::generate(opt, error, summary)) return 0LL;
             return summary.files_written;
           }};
    c.runs = 1;
    c.finish = clear;
    c.judge = [](const Result& self, const std::vector<Result>&) {
      return lp::bench::yes_no(self.items > 0 && self.median_seconds < 20);
    };
    c.item = "file";
    cases.push_back(std::move(c));
  }
}

LP_BENCH(add_pricedb_cases);

}  // namespace
