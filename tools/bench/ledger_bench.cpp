// The holdings ledger over 10,000 transactions and 20 years: `pnl` (read the ledger, replay it
// with the corrections, value the holdings at their latest closes) and `perf` over the 20 years
// (daily valuation of every holding, TWR, XIRR and the reference index), price loads included.
#include <algorithm>
#include <filesystem>
#include <memory>
#include <string>
#include <system_error>
#include <vector>

#include "bench/bench.h"
#include "ledger/ledger.h"
#include "pricedb/formats.h"
#include "sample-market/sample_market.h"

namespace {

namespace fs = std::filesystem;
using lp::bench::Case;
using lp::bench::Setup;
using namespace lp::ledger;

constexpr int kTransactions = 10'000;
constexpr int kYears = 20;
constexpr int kCodes = 100;

struct LedgerWork {
  std::string root, db, user;
  std::string today;
  int from = 0;
  bool ready = false;
  lp::SeriesSource source() const { return lp::SeriesSource(db, "1001"); }
};

// A market of 21 years (the 20 of the ledger and the one before) and a ledger on it: buys,
// part sells of what is held, dividends and deposits, in four accounts, over 100 codes.
void prepare(const Setup& setup, LedgerWork& w) {
  std::error_code ec;
  fs::remove_all(w.root, ec);
  lp::sample::Options o;
  o.codes = kCodes + 40;
  o.end_date = setup.today;
  o.years = kYears + 1;
  o.seed = setup.seed;
  o.db_folder = w.db;
  std::string error;
  lp::sample::Summary summary;
  if (!lp::sample::generate(o, error, summary)) return;
  w.today = summary.end_date;
  const int end = std::stoi(w.today);
  w.from = (end / 10000 - kYears + 1) * 10000 + 101;
  std::vector<std::string> codes;
  std::vector<CloseSeries> closes;
  for (const std::string& c : summary.codes) {
    if (c == "1001") continue;
    CloseSeries s = load_closes(w.db, c, w.from / 10000, end / 10000);
    if (s.dates.size() < 1000) continue;  // listed late or illiquid: few days to trade on
    codes.push_back(c);
    closes.push_back(std::move(s));
    if (static_cast<int>(codes.size()) == kCodes) break;
  }
  if (codes.empty()) return;
  const SplitTable splits = load_splits(w.source(), codes);
  std::vector<Transaction> list;
  std::vector<std::int64_t> held(codes.size() * 2, 0);
  const Account accounts[2] = {Account::tokutei, Account::ippan};
  std::uint64_t state = setup.seed * 0x9E3779B97F4A7C15ull + 1;
  auto next = [&state] {
    state ^= state << 13;
    state ^= state >> 7;
    state ^= state << 17;
    return state;
  };
  list.push_back({w.from, Kind::deposit, "", 0, 0, 50'000'000, 0, 0, Account::tokutei});
  for (int i = 0; static_cast<int>(list.size()) < kTransactions; ++i) {
    const std::size_t k = next() % codes.size();
    const CloseSeries& s = closes[k];
    // Days in order over the span: transaction i falls at the i-th share of it.
    const std::size_t day =
        std::min(s.dates.size() - 1, static_cast<std::size_t>(i) * s.dates.size() / kTransactions);
    const int date = s.dates[day];
    if (date < w.from) continue;
    const std::size_t slot = k * 2 + (next() % 2);
    // The holding's shares on the day, after the corrections since its last entry.
    std::int64_t& h = held[slot];
    Transaction t;
    t.date = date;
    t.code = codes[k];
    t.account = accounts[slot % 2];
    t.price = static_cast<std::int64_t>(s.closes[day] * kFixed);
    const int roll = static_cast<int>(next() % 10);
    if (roll < 6 || h == 0) {
      t.kind = Kind::buy;
      t.shares = (1 + static_cast<std::int64_t>(next() % 10)) * 100 * kFixed;
      t.fee = 100;
    } else if (roll < 9) {
      t.kind = Kind::sell;
      t.shares = std::max<std::int64_t>(kFixed, h / 2 / kFixed * kFixed);
      t.fee = 100;
    } else {
      t.kind = Kind::dividend;
      t.price = 0;
      t.amount = 5'000;
      t.tax = withholding_tax(t.amount);
      list.push_back(t);
      continue;
    }
    t.amount = trade_amount(t.price, t.shares);
    list.push_back(t);
    // Keeps the count of what is held by replaying this holding alone (cheap: it is small).
    std::vector<Transaction> mine;
    for (const Transaction& x : list) {
      if (x.code == t.code && x.account == t.account && is_trade(x.kind)) mine.push_back(x);
    }
    const Replay r = replay(mine, splits, date);
    if (!r.problems.empty()) {
      list.pop_back();
      continue;
    }
    h = r.positions.empty() ? 0 : r.positions[0].shares;
  }
  std::stable_sort(list.begin(), list.end(),
                   [](const Transaction& a, const Transaction& b) { return a.date < b.date; });
  fs::create_directories(ledger_folder(w.user), ec);
  w.ready = save_ledger(ledger_path(w.user, 0), list);
}

void add_ledger_cases(const Setup& setup, std::vector<Case>& cases) {
  auto work = std::make_shared<LedgerWork>();
  work->root = (fs::path(setup.market_dir) / "ledger-scratch").string() + "/";
  work->db = work->root + "db/";
  work->user = work->root + "user/";

  Case pnl{"ledger: pnl of 10,000 transactions over 20 years", "<= 0.5 s",
           [setup, work] { prepare(setup, *work); },
           [work] {
             if (!work->ready) return 0LL;
             const LoadResult l = load_ledger(ledger_path(work->user, 0));
             const int today = std::stoi(work->today);
             const PnlReport r = pnl_report(work->source(), l.transactions, today / 10000, today);
             return static_cast<long long>(l.transactions.size() + 0 * r.holdings.size());
           }};
  pnl.item = "transaction";
  cases.push_back(std::move(pnl));

  Case perf{"ledger: perf over 20 years (10,000 transactions)", "<= 1 s", [] {},
            [work] {
              if (!work->ready) return 0LL;
              const LoadResult l = load_ledger(ledger_path(work->user, 0));
              const Performance p =
                  measure(work->source(), l.transactions, work->from, std::stoi(work->today));
              return static_cast<long long>(p.points.size());
            }};
  perf.item = "day valued";
  perf.finish = [work] {
    std::error_code ec;
    fs::remove_all(work->root, ec);
  };
  cases.push_back(std::move(perf));
}

LP_BENCH(add_ledger_cases);

}  // namespace
