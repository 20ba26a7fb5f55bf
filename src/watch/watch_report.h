// The daily report "user/reports/YYYYMMDD.html": one self-contained page (pictures embedded as
// data addresses, no network) with, per watched screen, the day's hits (新規 first), the
// drop-outs, a small chart of each new entrant, and the day's market summary.
#pragma once

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "common/settings.h"
#include "watch/hit_valuation.h"
#include "watch/watch_history.h"

namespace lp::watch {

// At most this many charts per report: a screen that suddenly lets hundreds of stocks in would
// otherwise make a page no one scrolls through.
inline constexpr int kMaxReportCharts = 60;

struct MarketSummary {
  bool found = false;
  std::string date, previous_date;
  std::string reference_code, reference_name;
  double reference_close = 0, reference_change = 0, reference_change_pct = 0;
  bool reference_found = false;
  int advancers = 0, decliners = 0, unchanged = 0;
  std::string data_age;  // 「… 分のデータ (12週遅れ)」 on the Free plan, else ""
};
// The reference code's change and the advancers/decliners of `date` against the trading day
// before it, from the day files.
MarketSummary market_summary(const AppFolders& folders, const std::string& date);

struct ScreenDay {
  std::string name;
  std::string universe;
  bool has_block = false;
  Changes changes;    // against the block before
  std::string error;  // why the screen could not run (its last problem), or ""
  // The day's closes and 表示 values of the 除外 stocks, shown beside yesterday's.
  std::map<std::string, std::string> dropped_close, dropped_value;
};
// The 表示 values of `codes` under a screen as of the day shown (see values_as_of).
using ValuesOf = std::function<std::map<std::string, std::string>(
    const std::string& screen, const std::vector<std::string>& codes)>;
// What a watched screen shows for `date` (history and problems of the user folder); `traded`
// keeps a day without a trade from counting as a change (see compare_day). With `db_folder`,
// the 除外 stocks' closes of the day are read from its day file; with `values`, their 表示
// values of the day are asked for.
std::vector<ScreenDay> screen_days(const std::string& user_folder, const std::string& date,
                                   const TradedOn& traded = {}, const std::string& db_folder = {},
                                   const ValuesOf& values = {});

// PNG bytes of the chart of `code` ending at `date`, or "" when none could be drawn.
using ChartPicture = std::function<std::string(const std::string& code, const std::string& date)>;

// The page (UTF-8 HTML).
// `notice`: a line above everything (the last unattended update failed), or "".
// `valuation`: the hits' 予想PER, PBR, 予想利回り, 時価総額 and 業種 columns (null: none).
std::string report_html(const std::string& date, const std::vector<ScreenDay>& screens,
                        const MarketSummary& market, const ChartPicture& chart,
                        const std::string& notice = {}, HitValuation* valuation = nullptr);

std::string report_path(const std::string& user_folder, const std::string& date);

// Writes the report of `date` atomically. False and a message when it could not be written.
// With `values`, the 除外 rows show the day's 表示 values.
bool write_report(const AppFolders& folders, const std::string& date, const ChartPicture& chart,
                  std::string& path, std::string& error, const ValuesOf& values = {},
                  const std::string& data_age = {});

// The newest date any watched screen's history holds ("" when none).
std::string latest_history_date(const std::string& user_folder);

std::string base64(std::string_view bytes);
std::string html_escape(std::string_view text);

}  // namespace lp::watch
