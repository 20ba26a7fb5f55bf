// Runs the watched screens as of trading days on one in-memory market and keeps their hits in
// the history files. Called after every update of the database (command line and window) and
// by the daily run.
#pragma once

#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/platform.h"
#include "pricedb/market_store.h"
#include "screening/saved_screens.h"
#include "common/settings.h"
#include "watch/watch_history.h"

namespace lp::watch {

// At most this many added days are run after one update unless the caller says otherwise.
inline constexpr int kDefaultHistoryDays = 20;

struct WatchedScreen {
  std::string name;
  screening::ScreenMarks marks;
};
// The saved screens marked watched, by name.
std::vector<WatchedScreen> watched_screens(const std::string& user_folder);

// The stock codes of a universe text ("ptf1" or "7203,6758"), sorted. False and a message
// when a portfolio named there is missing or damaged, or the text is not a universe.
bool resolve_universe(const std::string& user_folder, const std::string& universe,
                      std::vector<std::string>& codes, std::string& error);

// The trading dates an update added: those of `after` that `before` lacks, the newest `limit`
// of them, oldest first.
std::vector<std::string> added_days(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after, int limit);

// The database's trading dates (the reference code's), oldest first.
std::vector<std::string> trading_dates(const AppFolders& folders);

struct ScreenOutcome {
  std::string name;
  std::string error;                      // why it could not run; "" when it ran
  std::vector<std::string> days_written;  // blocks added, a seeded previous day included
  Changes changes;                        // of the newest day written
};

struct RunOutcome {
  std::vector<ScreenOutcome> screens;
  std::string day;  // the newest day run ("" when none)
  int blocks_written = 0;
  std::vector<std::string> warnings;  // history lines and blocks left out
  // New entrants of the newest day run, per screen, for the notification.
  std::vector<std::pair<std::string, std::vector<Hit>>> entered;
  // The stocks among them, each once however many screens let it in.
  int entered_count() const;
  int failed_count() const;
};

struct RunRequest {
  Platform platform;
  std::vector<std::string> days;  // oldest first
  // The market already in memory, or nullptr to read it once here.
  std::shared_ptr<const MarketStore> store;
  std::function<void(const std::string&)> status;  // progress texts
};

// Runs every watched screen as of each day it has no block for. A day whose previous trading
// day has no block runs that day first, so the comparison has a real yesterday. Each screen's
// new blocks are written together at its end; a screen that cannot run is recorded with its
// reason (see read_problems) and the others go on.
RunOutcome run_watched(const RunRequest& request);

// The 表示 values (two decimals) that `codes` show under the saved screen `screen` as of `date`,
// every one of them judged whatever the screen's criteria say: what a 除外 row shows beside
// yesterday's value. Empty when the screen's last criterion is no formula row with a 表示
// formula; a stock without a row that day has none. `store` may be nullptr (the files).
std::map<std::string, std::string> values_as_of(const Platform& platform,
                                                std::shared_ptr<const MarketStore> store,
                                                const std::string& screen, const std::string& date,
                                                std::vector<std::string> codes);

// Why watched screens could not run at their last attempt: (screen, date, reason).
struct Problem {
  std::string screen, date, reason;
};
std::vector<Problem> read_problems(const std::string& user_folder);

// The notification of a run that found new entrants: title and body (notification markup, see
// notification_markup). False when there is none.
bool notification_text(const RunOutcome& outcome, std::string& title, std::string& body);

// Text made fit for a notification's body, which the notification service reads as markup:
// "&", "<" and ">" escaped; bidirectional controls and other control characters but the line
// break dropped.
std::string notification_markup(std::string_view text);

// The name of the installed desktop file (lumenpick.desktop), which a notification names so
// the desktop shows it as LumenPick's.
inline constexpr const char* kDesktopEntry = "lumenpick";

}  // namespace lp::watch
