// The backtest of a screening session's settings: the session's own run, as of each signal
// day, on the in-memory market.
#pragma once

#include <map>
#include <memory>
#include <optional>
#include <string>

#include "backtest/account.h"
#include "backtest/backtest.h"
#include "screening/formula/formula.h"
#include "screening/screening_session.h"

namespace lp::backtest {

// True when at least one criterion of the run order is ticked.
bool any_criterion_ticked(screening::ControlSet& controls);

// A screen function over `session` (already loaded, controls set): each call runs it as of the
// day on `store`, writing no files. The session is left as of the last day.
ScreenFn session_screen(screening::ScreeningSession& session,
                        std::shared_ptr<const MarketStore> store);

// The account mode's settings: the account, its exits and costs, and the two formulas.
struct AccountOptions {
  AccountParams params;
  std::string rank;  // rank formula (highest first unless params.rank_asc); empty: by code
  std::string exit;  // exit formula (leave at the next open); empty: none
};

// The account settings as typed (the dialog's boxes, the command's options), kept with a
// saved screen as its "検証_<key>" marks.
struct AccountSettings {
  bool account = false;  // the account mode (else the signal mode)
  std::string capital = "3000000", positions = "10", rank, exit, stop, target, trail, turnover,
              commission, slippage;
  bool rank_asc = false;
  std::string hold;  // "" : 20 unless another exit is set; "0": none (account mode only)
};
std::map<std::string, std::string> settings_marks(const AccountSettings& s);
AccountSettings settings_from_marks(const std::map<std::string, std::string>& marks);
// The account's options from the settings: false and the message naming the wrong value.
bool account_options_of(const AccountSettings& s, AccountOptions& out, std::string& error);

// The rank and exit formulas compiled; false and the message the user sees on an error.
bool compile_account_formulas(const AccountOptions& options, formula::Formula& rank,
                              formula::Formula& exit, std::string& error);

// What a whole backtest of screening settings gives: the result and where it was written.
struct JobOutcome {
  Result result;
  bool account_mode = false;
  AccountResult account;  // the account mode's run and figures
  AccountStats stats;
  std::string dir;    // the output folder written (empty when nothing was written)
  std::string error;  // why it did not finish (empty on success and on a cancel)
};

struct Job {
  Platform platform;
  screening::ControlSet controls;  // the screen: criteria, parameters, market boxes
  Params params;
  std::string screen_name = "screen";
  std::string out_dir;  // empty: default_output_folder of the user folder
  // Set: the account mode instead of the signal mode.
  std::optional<AccountOptions> account;
  // Draws equity.png for the result (the Qt painter; the core knows no picture format).
  std::function<std::string(const Result&)> picture;
  std::function<std::string(const AccountResult&)> account_picture;
  ProgressFn progress;                             // signal day i of n; false cancels
  std::function<void(const std::string&)> status;  // "reading the market" and the like
};

// Loads the market once, runs the screen as of every signal day, writes the output folder.
JobOutcome run_job(const Job& job);

// The trading dates of the database (the reference code's), oldest first.
std::vector<std::string> database_trading_dates(const AppFolders& folders);

}  // namespace lp::backtest
