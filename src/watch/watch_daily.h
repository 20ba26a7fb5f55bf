// What follows an update of the database: the watched screens run as of the added days, the
// day's report is written and the user is told about new entrants.
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "common/platform.h"
#include "pricedb/market_store.h"
#include "watch/watch_report.h"
#include "watch/watch_run.h"

namespace lp::watch {

struct AfterUpdateRequest {
  Platform platform;
  std::vector<std::string> days;  // oldest first
  // The report's chart pictures over the market the run read.
  std::function<ChartPicture(const AppFolders&, std::shared_ptr<const MarketStore>)> charts;
  // Shows the notification of new entrants; false when it could not be shown (no bus).
  std::function<bool(const std::string& title, const std::string& body,
                     const std::string& report_path)>
      notify;
  std::function<void(const std::string&)> status;
  // A first line of the notification's body (the Free plan's 「… 分のデータ (12週遅れ)」).
  std::string data_age;
};

struct AfterUpdateResult {
  RunOutcome run;
  std::string report_date, report_path, report_error;
  bool notified = false;
};

// Runs the watched screens over `days`; writes the report of the newest day that got a block
// (or of the last day when screens failed, so the failure is on record); notifies when that
// day has new entrants. Nothing at all when no screen is watched or no day is given.
AfterUpdateResult after_update(const AfterUpdateRequest& request);

// The days a daily run looks at: the added ones, plus every trading day after a watched
// screen's newest block (the newest `limit` of them), so a run that stopped after the update
// is caught up by the next; a screen without a block gets the database's newest day only.
std::vector<std::string> daily_days(const std::string& user_folder,
                                    const std::vector<std::string>& added,
                                    const std::vector<std::string>& all_dates,
                                    int limit = kDefaultHistoryDays);

// One line per screen for a person: "NAME: 新規 N・除外 M・該当 K" or "NAME:
// 実行できません（理由）".
std::vector<std::string> outcome_lines(const std::string& user_folder, const AfterUpdateResult& r);

}  // namespace lp::watch
