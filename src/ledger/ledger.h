// The ledger as the window and the command line use it: reading a portfolio's ledger, adding,
// changing and deleting entries (checked against the market and the whole ledger, written
// under the file's lock, all or nothing), and the figures of the 「損益」 and 「成績」 pages.
#pragma once

#include <array>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ledger/book.h"
#include "ledger/ledger_file.h"
#include "ledger/prices.h"
#include "ledger/returns.h"
#include "pricedb/series.h"

namespace lp::ledger {

struct Outcome {
  bool ok = false;
  // A refusal of what was entered (exit code 2 on the command line); otherwise a failure of
  // the file or the lock.
  bool refused = false;
  std::string message;
};

// The holdings, at as_of's closes.
struct HoldingRow {
  std::string code;
  std::string name;
  Account account = Account::tokutei;
  std::int64_t shares = 0;     // 1/10000 share
  std::int64_t unit_cost = 0;  // yen, rounded up
  std::int64_t cost = 0;       // yen, the book cost of what is held
  bool priced = false;
  int price_date = 0;
  double close = 0;
  std::int64_t value = 0;       // shares x close, in yen
  std::int64_t unrealised = 0;  // value - unit cost x shares
};

struct PnlReport {
  int year = 0;
  int as_of = 0;  // the holdings' day: the year's end, or today within the current year
  std::vector<HoldingRow> holdings;
  std::vector<Sale> sales;  // the year's
  YearTax tax;
  NisaUse nisa;
  std::vector<Problem> problems;  // entries of the file the replay refused
};

// The realised gains, dividends, tax and NISA use of `year` and the holdings at its end (at
// `today` within the current year), `only` one account's.
PnlReport pnl_report(const SeriesSource& src, const std::vector<Transaction>& list, int year,
                     int today, const Account* only = nullptr);

// Dividends by month: 実績 (entered, gross) of the year, and 予想 for what is held today: the
// shares times the forecast dividend per share of the results, in the month its fiscal year ends.
struct ExpectedDividend {
  std::string code;
  Account account = Account::tokutei;
  std::int64_t shares = 0;
  double dps = 0;
  std::int64_t amount = 0;
  int month = 0;  // 1..12
};
struct DividendCalendar {
  int year = 0;
  std::array<std::int64_t, 12> actual{};
  std::array<std::int64_t, 12> expected{};
  std::vector<ExpectedDividend> rows;
};
DividendCalendar dividend_calendar(const SeriesSource& src, const std::vector<Transaction>& list,
                                   int year, int today);

class LedgerStore {
 public:
  LedgerStore(SeriesSource src, std::string user_folder, std::function<int()> today);

  std::string path(int file_no) const { return ledger_path(user_folder_, file_no); }
  LoadResult load(int file_no) const;
  // The market's checks of one entry: the date not after the latest trading day, a trade on a
  // day the code traded. Empty when it passes.
  std::string check_market(const Transaction& t) const;

  Outcome add(int file_no, const Transaction& t);
  // All or nothing: every entry checked as add checks it, then one write.
  Outcome add_all(int file_no, const std::vector<Transaction>& list);
  // `index` points into `shown`, the list the user chose from: refused when the file no longer
  // holds it (another writer changed it meanwhile). Without `shown`, the file as it is now.
  Outcome replace(int file_no, std::size_t index, const Transaction& t,
                  const std::vector<Transaction>* shown = nullptr);
  Outcome remove(int file_no, std::size_t index, const std::vector<Transaction>* shown = nullptr);
  // 「ポートフォリオから取込」: each holding of ptfN.csv as a 買付 in 特定(源泉あり) on its date at
  // its price. ptfN.csv is only read.
  Outcome import_portfolio(int file_no);

  void set_lock_timeout(std::chrono::milliseconds t) { lock_timeout_ = t; }
  const SeriesSource& source() const { return src_; }
  int today() const { return today_ ? today_() : 0; }

 private:
  // Under the lock: re-reads the file, applies `change` (which returns the indexes of the
  // entries it made, to be checked), replays the result and writes it when nothing new is
  // refused.
  Outcome change(
      int file_no,
      const std::function<std::string(std::vector<Transaction>&, std::vector<std::size_t>&)>& edit);

  SeriesSource src_;
  std::string user_folder_;
  std::function<int()> today_;
  std::chrono::milliseconds lock_timeout_{5000};
};

// A CSV file read through a column mapping ("date=約定日,code=銘柄コード,..."): the fields are
// date, kind, code, shares, price, amount, fee, tax, account; each names a header of the file
// (or, for kind and account, "=value" for one value for every row). Rows become entries
// checked as ledger-add checks them; nullopt with the first problem (its line named) otherwise.
struct ColumnMap {
  std::array<std::string, 9> column;  // header names, by field
  std::array<std::string, 9> fixed;   // one value for all rows
};
std::optional<ColumnMap> parse_column_map(std::string_view text, std::string& problem);
std::optional<std::vector<Transaction>> read_mapped_csv(std::string_view bytes,
                                                        const ColumnMap& map, std::string& problem);

}  // namespace lp::ledger
