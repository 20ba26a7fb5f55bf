// The per-stock summary "initdata1.csv" of the latest trading day and the top-25 rankings
// read from it.
//
// File layout (CP932, CR LF, 35 fields per record):
//   header: latest trading date, number of stock records, then the titles of fields 3-35;
//   stock:  1-10  code, market, name, open, high, low, close, volume, previous close,
//                 previous volume (as the screening day table);
//           11-16 the last 5 trading days, 17-22 the last 25, 23-28 the last 75, each as
//                 (open of the first traded day, highest high, lowest low, close of the
//                 last traded day, total volume, number of traded days);
//           29-30, 31-32, 33-34 the 5-, 10- and 25-day averages of the close and of the
//                 volume over the traded days (field 33 is the deviation rankings' reference);
//           35    the plain 14-day RSI, -1 when it cannot be measured.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

#include "common/csv.h"
#include "common/platform.h"
#include "pricedb/series.h"
#include "screening/criteria/criterion.h"

namespace lp::screening {

constexpr const char* kInitDataFileName = "initdata1.csv";
constexpr int kInitDataFields = 35;
constexpr int kTopCount = 25;
// Trading days loaded per stock for the summary's longest window.
constexpr int kInitDataDays = 75;

// What the (re)build shows: the busy marker, the message line, the status label ("i / n")
// and the date label refresh. Every member may be empty.
struct InitDataEvents {
  std::function<void(bool on)> busy;
  std::function<void(const std::string& text)> message;
  std::function<void(const std::string& text)> status;
  std::function<void()> refresh_date;
  YieldFn yield;
};

// Rebuilds "initdata1.csv" in the database folder for `latest_date`: one record per stock of
// that day's table. False (file left as it was) when the day's file cannot be read.
bool create_initdata(const SeriesSource& source, const std::string& latest_date,
                     const InitDataEvents& events = {});
// The same written into `folder` instead (a summary as of a past day must not replace the
// database's own).
bool create_initdata_in(const SeriesSource& source, const std::string& latest_date,
                        const std::string& folder, const InitDataEvents& events = {});

// One record as views into the open file's bytes (valid until the file is closed or reopened).
using InitRecord = std::array<std::string_view, kInitDataFields>;

class InitDataFile {
 public:
  bool open(const std::string& db_folder);
  // The next 35 fields; false (record untouched) when the file ends first.
  bool read(InitRecord& record);
  void close();
  bool is_open() const { return open_; }

 private:
  CsvFile file_;
  bool open_ = false;
};

// The four modes of the summary reader: "open" (when the file cannot be opened the database
// folder is created and nothing else happens), "header", "read" and "close". `db_folder` is
// used by "open" only. False when the mode failed or is unknown.
bool read_initdata(InitDataFile& file, std::string_view mode, InitRecord& record,
                   const std::string& db_folder = {});

// The date of the newest daily file in the year's "data_d" folder (the largest number made of
// the first eight characters of a file name), "" when there is none.
std::string latest_daily_date(const std::string& db_folder, int year);

enum class RankFormat { two_decimals, wide_two_decimals, shortest, as_read };

struct RankingDef {
  std::string name;   // "前日比上率ﾄｯﾌﾟ25", ...
  std::string title;  // title of the value column when the ranking becomes a result list
  bool descending;
  RankFormat format;
};

// The twelve rankings, "前日比上率ﾄｯﾌﾟ25" first. nullptr for an unknown name.
const std::vector<RankingDef>& ranking_defs();
const RankingDef* find_ranking(std::string_view name);
// A ranking as a user types it: its number in ranking_defs() order (1-12), or its name in any
// character width and kana form ("前日比上率トップ２５" is "前日比上率ﾄｯﾌﾟ25"). nullptr when none.
const RankingDef* find_ranking_loosely(std::string_view text);

struct RankEntry {
  std::array<std::string, 10> fields;  // fields 1-10 of the stock's record (UTF-8), empty
                                       // while the entry holds no stock
  std::string value;                   // the value text, or the sentinel
  const std::string& code() const { return fields[0]; }
  const std::string& name() const { return fields[2]; }
  const std::string& close() const { return fields[6]; }
  bool filled() const { return !fields[0].empty(); }
};

struct Top25 {
  std::string name;
  std::string title;
  std::string date;  // the summary's trading date, "" when no summary was read
  std::array<RankEntry, kTopCount> entries;
  int filled = 0;  // entries holding a stock (the rest keep their sentinel)
  int traded = 0;  // stocks of the summary that traded on its day (volume > 0)
};

struct RankingSource {
  SeriesSource source;  // database folder, reference code
  int latest_year = 0;  // the year of the latest trading date found by the window
  // Where "initdata1.csv" lives; empty: the database folder. With an as-of day in `source`
  // the summary is of that day and must go to a folder of its own.
  std::string summary_folder;
  InitDataEvents events;
};

// Ranks the summary's stocks by the named measure. The summary is rebuilt first when it is
// missing or was built for another day than the newest daily file. An unknown name or an
// unreadable summary gives a table of sentinels.
Top25 rank_top25(const RankingSource& source, std::string_view name);

// The ranking as a result list: the user folder's "sel0.csv" and "sel0_out.csv" hold the
// ranked stocks in rank order with the ranking's value as the value column.
bool write_ranking_results(const Top25& top, const std::string& user_folder,
                           const YieldFn& yield = {});

// Option1(21): ranks the market by `name` and makes the ranking the result list of the user
// folder, ready for the results window. A ranking that no stock qualifies for is an empty list;
// false (the user's results left alone) when the summary holds no traded stock or nothing
// could be written; `write_failed` (when given) tells the second case from the first.
bool ranking_to_result_files(const RankingSource& source, std::string_view name,
                             const std::string& user_folder, bool* write_failed = nullptr);

}  // namespace lp::screening
