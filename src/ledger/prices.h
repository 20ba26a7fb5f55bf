// The prices the ledger values its holdings at: each code's closes as traded (not adjusted:
// the ledger follows the corrections in its share counts instead), the corrections themselves,
// and the reference index's closes, read straight from the database's year files.
#pragma once

#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

#include "ledger/book.h"
#include "pricedb/series.h"

namespace lp::ledger {

// Traded days (a positive close) oldest first.
struct CloseSeries {
  std::vector<int> dates;
  std::vector<double> closes;
  bool empty() const { return dates.empty(); }
};

// The closes of `code` from the series files of years from_year..to_year that exist.
CloseSeries load_closes(const std::string& db_folder, std::string_view code, int from_year,
                        int to_year);
// The close of `date` itself; nullopt when the code did not trade that day.
std::optional<double> close_on(const CloseSeries& s, int date);
// The last close on or before `date`, with its date.
std::optional<std::pair<int, double>> close_on_or_before(const CloseSeries& s, int date);

// The last close of `code` on or before `date`, looking back year by year (a stock that stopped
// trading keeps its last price).
std::optional<std::pair<int, double>> latest_close(const std::string& db_folder,
                                                   std::string_view code, int date);

// The corrections of the codes, oldest first, from the database's correction files.
SplitTable load_splits(const SeriesSource& src, const std::vector<std::string>& codes);

// The codes a ledger names, each once, in order of first appearance.
std::vector<std::string> ledger_codes(const std::vector<Transaction>& list);

// The database's newest trading day on or before `today` (the reference code's), 0 when none.
int latest_trading_day(const SeriesSource& src, int today);

}  // namespace lp::ledger
