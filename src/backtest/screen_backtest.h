// The backtest of a screening session's settings: the session's own run, as of each signal
// day, on the in-memory market.
#pragma once

#include <memory>
#include <string>

#include "backtest/backtest.h"
#include "screening/screening_session.h"

namespace lp::backtest {

// True when at least one criterion of the run order is ticked.
bool any_criterion_ticked(screening::ControlSet& controls);

// A screen function over `session` (already loaded, controls set): each call runs it as of the
// day on `store`, writing no files. The session is left as of the last day.
ScreenFn session_screen(screening::ScreeningSession& session,
                        std::shared_ptr<const MarketStore> store);

// What a whole backtest of screening settings gives: the result and where it was written.
struct JobOutcome {
  Result result;
  std::string dir;    // the output folder written (empty when nothing was written)
  std::string error;  // why it did not finish (empty on success and on a cancel)
};

struct Job {
  Platform platform;
  screening::ControlSet controls;  // the screen: criteria, parameters, market boxes
  Params params;
  std::string screen_name = "screen";
  std::string out_dir;  // empty: default_output_folder of the user folder
  // Draws equity.png for the result (the Qt painter; the core knows no picture format).
  std::function<std::string(const Result&)> picture;
  ProgressFn progress;                             // signal day i of n; false cancels
  std::function<void(const std::string&)> status;  // "reading the market" and the like
};

// Loads the market once, runs the screen as of every signal day, writes the output folder.
JobOutcome run_job(const Job& job);

// The trading dates of the database (the reference code's), oldest first.
std::vector<std::string> database_trading_dates(const AppFolders& folders);

}  // namespace lp::backtest
