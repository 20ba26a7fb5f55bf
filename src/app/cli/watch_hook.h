// The watched screens after a command that updates the database (jquants-sync, download,
// import-csv): take the trading days before the update, then run the screens over the days it
// added. What happens to the screens never changes the update's own exit code.
#pragma once

#include <string>
#include <vector>

#include "app/cli/cli.h"

namespace lp::cli {

struct WatchSnapshot {
  std::vector<std::string> dates;  // trading dates before the update, oldest first
  int history_days = 20;
};

// "--history-days N" (1-5000) taken from the arguments; false and a message when N is bad.
bool take_history_days(Context& ctx, int& days, std::string& error);

WatchSnapshot watch_snapshot(Context& ctx, int history_days);

// Runs the watched screens over the added days, writes the report and notifies; reports on
// standard error. Nothing when the command runs inside "daily" (which does it itself).
void watch_after_update(Context& ctx, const WatchSnapshot& before);

// The plan, J-Quants address and download host a command uses when no option is given: the
// window's choice (connection.txt), the environment and settei.txt, each with its source.
struct ConnectionChoice {
  std::string plan, plan_from, base, base_from, host, host_from, error;
};
ConnectionChoice connection_choice(const std::string& app_folder);

}  // namespace lp::cli
