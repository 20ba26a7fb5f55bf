// Split-adjusted time series of one stock, aligned to the market's trading-day calendar.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "common/settings.h"
#include "pricedb/formats.h"

namespace lp {

// A loaded series (jikeiretu_data_p): record 0 the header (code, descriptive text, cleaned
// name, oldest date, newest date, count), records 1..count the days newest first. A gap day
// has the calendar date, empty prices and volume "0". The loaders grow the vector as needed;
// records beyond the count keep what an earlier load left, so use d6 of record 0 as bound.
using Series = std::vector<SeriesRecord>;

// Trading dates newest first. dates[0] is the newest; `count_text()` is element 0 of the
// stored convention.
struct TradingCalendar {
  std::vector<std::string> dates;
  // dates[i] as a number when it is eight digits, else -1; filled with the dates by
  // build_trading_calendar, so that the loads over thousands of stocks need not read the texts.
  std::vector<std::int32_t> numbers;
  int count() const { return static_cast<int>(dates.size()); }
  // 1-based like the stored convention: at(1) is the newest trading date.
  const std::string& at(int i) const { return dates[static_cast<std::size_t>(i - 1)]; }
};

class MarketStore;

constexpr int kLowestYear = 1983;
constexpr int kPortfolioLowestYear = 1999;

// Where the loaders look: the database folder and the reference code of the settings.
struct SeriesSource {
  SeriesSource() = default;
  SeriesSource(std::string db, std::string reference, YieldFn yield_fn = {})
      : db_folder(std::move(db)),
        reference_code(std::move(reference)),
        yield(std::move(yield_fn)) {}

  std::string db_folder;
  std::string reference_code;
  YieldFn yield;  // may be empty
  // When set, the loaders answer from memory instead of the files (the same text).
  std::shared_ptr<const MarketStore> store;
  // yyyymmdd or empty: the loaders behave as if the database ended at the close of that day
  // (no later day, no later correction).
  std::string as_of;
  // The end date a loader uses for `end_date`: the earlier of it and as_of.
  std::string_view effective_end(std::string_view end_date) const;
  // The year folders, opened and listed once per source: a run over thousands of stocks
  // would otherwise walk the whole path for every file and try to open a correction file
  // that most stocks do not have. Years downloaded or deleted later are seen after
  // forget_folders().
  struct Folders;
  mutable std::shared_ptr<Folders> folders;
  void forget_folders() const { folders.reset(); }

  static SeriesSource from(const AppFolders& folders, YieldFn yield = {}) {
    return SeriesSource(folders.db_folder, folders.reference_code, std::move(yield));
  }
  Folders& year_folders() const;
  // This source as a loop's worker threads use it: the folder listing opened first (they share
  // it) and no yield, which belongs to the calling thread.
  SeriesSource for_workers() const;
};

// The D latest trading dates on or before `end_date`, from the reference code's files of the
// end date's year and the ten years before. Returns -1 when no date was found, else 0.
int build_trading_calendar(const SeriesSource& src, TradingCalendar& cal, std::string_view end_date,
                           int count);

// Takes the calendar from the reference code's files on every call (the chart's entry).
// Returns -1 when no day record was produced, else 0.
int load_series(const SeriesSource& src, std::string_view end_date, int day_count,
                std::string_view code, Series& series, bool adjust);

// Uses a calendar built once by the caller (screening and portfolio runs over many stocks).
// Returns -1 when no day record was produced (record 0 then untouched), else 0.
int load_series_cal(const SeriesSource& src, std::string_view end_date, int day_count,
                    std::string_view code, const TradingCalendar& cal, Series& series, bool adjust,
                    int lowest_year = kLowestYear);

// The numbers of a loaded series: each field of records 1..count read with the lenient reader
// (a gap day reads 0 everywhere), index 0 unused, so index i is day record i.
struct SeriesNumbers {
  int count = 0;
  std::vector<double> open, high, low, close, volume;
  // The header's code as the text load gives it in record 0 (the newest year that gave a day),
  // for the checks that the loaded file is the stock's. Day record i's date is the calendar's
  // date i, as in the text load.
  std::string code;
  // Set by the caller: false when only close and volume will be read, so a load from the
  // in-memory market need not fetch the rest (open, high and low are then not to be read).
  bool want_prices = true;
  void resize(int n);
};

// The numbers of the series load_series_cal would give, for criteria that only need numbers:
// taken straight from the in-memory market where its years allow, else from the text loaded
// into `scratch`. Same return value as load_series_cal.
int load_series_numbers(const SeriesSource& src, std::string_view end_date, int day_count,
                        std::string_view code, const TradingCalendar& cal, SeriesNumbers& out,
                        bool adjust, Series& scratch, int lowest_year = kLowestYear);

// The number of traded days (volume above 0) among the day records load_series_cal would
// give for the same arguments, without laying them out: what a formula's DAYS() counts, so
// that it need not load a stock's whole history. -1 when the stock has no day to load.
int count_traded_days(const SeriesSource& src, std::string_view end_date, int day_count,
                      std::string_view code, const TradingCalendar& cal,
                      int lowest_year = kLowestYear);

// Warms the cache for load_series_numbers calls about to come. Over thousands of stocks each
// stock's data in the in-memory market is cold, and reaching it takes a chain of pointers,
// one wait per link; a run calls stage 0 for the stock three ahead, 1 for two ahead and 2 for
// the next, so each link is in cache when the next is asked for. Does nothing without a store.
class SeriesPrefetch {
 public:
  SeriesPrefetch(const SeriesSource& src, std::string_view end_date);
  void stage(std::string_view code, int step) const;

 private:
  const MarketStore* store_ = nullptr;
  const void* ref_ = nullptr;
  double end_ = 0;
  int first_year_ = 0;
};

// Reads the numbers of a loaded series' records.
void series_numbers(const Series& series, SeriesNumbers& out);

// The number of day records of a loaded series (d6 of record 0), 0 when empty.
int series_count(const Series& series);

// Today's date from the injected clock as eight digits (the system's date when none is injected).
std::string today_yyyymmdd(const Platform& platform);

}  // namespace lp
