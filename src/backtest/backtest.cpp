#include "backtest/backtest.h"

#include <fcntl.h>
#include <stdio.h>

#include <algorithm>
#include <cmath>
#include <filesystem>
#include <map>
#include <functional>
#include <optional>

#include "common/csv.h"
#include "common/numbers.h"
#include "common/parallel.h"

namespace lp::backtest {

namespace fs = std::filesystem;

namespace {

struct Bar {
  std::int64_t date = 0;
  double open = 0, close = 0;
};

Bar bar_at(const StoredYear& y, std::size_t i) {
  FieldReader r(std::string_view(y.bytes).substr(y.day_starts[i]));
  std::string_view f[6];
  for (auto& x : f) r.next(x);
  return {parse_integer(f[0]), parse_number(f[1]), parse_number(f[4])};
}

std::int64_t year_of(std::int64_t date) {
  return date / 10000;
}

// The stock's record of `date`, if it has one.
std::optional<Bar> record_on(const StoredStock& s, std::int64_t date) {
  const StoredYear* y = s.year(static_cast<int>(year_of(date)));
  if (!y) return std::nullopt;
  if (y->ascending) {
    auto it = std::lower_bound(y->dates.begin(), y->dates.end(), date);
    if (it == y->dates.end() || *it != date) return std::nullopt;
    return bar_at(*y, static_cast<std::size_t>(it - y->dates.begin()));
  }
  for (std::size_t i = y->size(); i-- > 0;) {
    Bar b = bar_at(*y, i);
    if (b.date == date) return b;
  }
  return std::nullopt;
}

// The stock's last record with a close on or before `last`, not before `first`.
std::optional<Bar> last_close(const StoredStock& s, std::int64_t first, std::int64_t last) {
  std::optional<Bar> best;
  for (const StoredYear& y : s.years) {
    if (y.year > year_of(last) || y.year < year_of(first)) continue;
    for (std::size_t i = 0; i < y.size(); ++i) {
      if (y.ascending && (y.dates[i] < first || y.dates[i] > last)) continue;
      Bar b = bar_at(y, i);
      if (b.date < first || b.date > last || !(b.close > 0)) continue;
      if (!best || b.date > best->date) best = b;
    }
    if (best) break;  // years run newest first: a later year's close wins
  }
  return best;
}

// Corrections after `after` up to and including `upto`, as (date, factor) oldest first.
std::vector<std::pair<std::int64_t, double>> splits_between(const StoredStock& s,
                                                            std::int64_t after, std::int64_t upto) {
  std::vector<std::pair<std::int64_t, double>> out;
  for (const auto& [year, rows] : s.corrections) {
    if (year < year_of(after) || year > year_of(upto)) continue;
    for (const Correction& c : rows) {
      // A zero numerator or denominator is damage, as the loaders treat it.
      if (c.numerator == 0.0 || c.denominator == 0.0) continue;
      const std::int64_t d = parse_integer(c.date);
      if (d > after && d <= upto) out.emplace_back(d, c.numerator / c.denominator);
    }
  }
  std::sort(out.begin(), out.end());
  return out;
}

// The factor that brings a price of day `date` into the terms of the trade's last day.
double factor_after(const std::vector<std::pair<std::int64_t, double>>& splits, std::int64_t date) {
  double f = 1.0;
  for (const auto& [d, ratio] : splits) {
    if (d > date) f *= ratio;
  }
  return f;
}

// One leg (the stock or the benchmark) held over calendar days [e, x]: its price factor on
// every day of the hold (1 + that day's return), bought at the entry day's open.
struct Leg {
  bool ok = false;
  double entry = 0;  // adjusted entry price
  double exit = 0;   // last close on or before the exit day
  std::int64_t exit_close_date = 0;
  std::vector<double> daily;  // x - e + 1 factors
};

Leg hold_leg(const StoredStock* s, const std::vector<std::int64_t>& cal, std::size_t e,
             std::size_t x) {
  Leg leg;
  if (!s) return leg;
  const std::optional<Bar> in = record_on(*s, cal[e]);
  if (!in || !(in->open > 0)) return leg;
  const std::optional<Bar> out = last_close(*s, cal[e], cal[x]);
  if (!out) return leg;
  const auto splits = splits_between(*s, cal[e], out->date);
  leg.ok = true;
  leg.entry = in->open * factor_after(splits, cal[e]);
  leg.exit = out->close;
  leg.exit_close_date = out->date;
  double prev = leg.entry;
  for (std::size_t t = e; t <= x; ++t) {
    double f = 1.0;
    if (cal[t] <= out->date) {
      if (auto b = record_on(*s, cal[t]); b && b->close > 0) {
        const double now = b->close * factor_after(splits, cal[t]);
        f = now / prev;
        prev = now;
      }
    }
    leg.daily.push_back(f);
  }
  return leg;
}

double round2(double v) {
  return static_cast<double>(round_half_even(v * 100.0)) / 100.0;
}
std::string num2(double v) {
  return format_decimal(round2(v));
}

Stats stats_of(const std::string& period, const std::vector<const Trade*>& trades) {
  Stats s;
  s.period = period;
  s.trades = static_cast<int>(trades.size());
  if (trades.empty()) return s;
  std::vector<double> r;
  double excess = 0;
  int with_bench = 0, wins = 0;
  for (const Trade* t : trades) {
    r.push_back(t->return_pct);
    if (t->return_pct > 0) ++wins;
    if (t->has_benchmark) {
      excess += t->return_pct - t->benchmark_pct;
      ++with_bench;
    }
  }
  const double n = static_cast<double>(r.size());
  double sum = 0;
  for (double v : r) sum += v;
  s.mean = sum / n;
  std::vector<double> sorted = r;
  std::sort(sorted.begin(), sorted.end());
  const std::size_t m = sorted.size();
  s.median = m % 2 ? sorted[m / 2] : (sorted[m / 2 - 1] + sorted[m / 2]) / 2;
  s.win_rate = 100.0 * wins / n;
  s.has_excess = with_bench > 0;
  if (with_bench > 0) s.mean_excess = excess / with_bench;
  double sq = 0;
  for (double v : r) sq += (v - s.mean) * (v - s.mean);
  s.stdev = m > 1 ? std::sqrt(sq / (n - 1)) : 0;
  s.best = sorted.back();
  s.worst = sorted.front();
  return s;
}

}  // namespace

std::vector<std::string> signal_days(const MarketStore& store, const Params& params) {
  std::vector<std::string> out;
  const std::int64_t from = parse_integer(params.from), to = parse_integer(params.to);
  const int every = std::max(1, params.every);
  int i = 0;
  for (const std::string& d : store.trading_dates()) {
    const std::int64_t v = parse_integer(d);
    if (v < from || v > to) continue;
    if (i++ % every == 0) out.push_back(d);
  }
  return out;
}

Result run_backtest(const MarketStore& store, const Params& params, const ScreenFn& screen,
                    const ProgressFn& progress) {
  return run_backtest(store, params, std::vector<ScreenFn>{screen}, progress);
}

Result run_backtest(const MarketStore& store, const Params& params,
                    const std::vector<ScreenFn>& screens, const ProgressFn& progress) {
  Result res;
  res.params = params;
  res.signal_days = signal_days(store, params);
  std::vector<std::int64_t> cal;
  for (const std::string& d : store.trading_dates()) cal.push_back(parse_integer(d));
  const int hold = std::max(1, params.hold);
  const StoredStock* bench = store.stock(store.reference_code());

  // Per year (of the signal day): counts not carried by the trades themselves.
  std::map<std::string, Stats> years;
  struct Held {
    std::size_t e;
    std::vector<double> stock, bench;
  };
  std::vector<Held> held;
  const int n = static_cast<int>(res.signal_days.size());
  // The signal days' screens run on the workers, one screen function each; the picks are
  // taken here day by day in order, with the progress (and its cancel) before each day.
  struct DayPicks {
    bool ok = false;
    std::string error;
    std::vector<Pick> picks;
  };
  std::vector<DayPicks> days(static_cast<std::size_t>(n));
  const int workers = std::min<int>(worker_count(), static_cast<int>(screens.size()));
  auto go_on = [&](int i) {
    if (progress && !progress(i + 1, n)) {
      res.cancelled = true;
      return false;
    }
    return true;
  };
  auto take_picks = [&](int i) {
    const std::string& day = res.signal_days[static_cast<std::size_t>(i)];
    DayPicks& result = days[static_cast<std::size_t>(i)];
    Stats& y = years[day.substr(0, 4)];
    ++y.signal_days;
    if (!result.ok) {
      res.error = day + ": " + result.error;
      return false;
    }
    const std::size_t d = static_cast<std::size_t>(
        std::lower_bound(cal.begin(), cal.end(), parse_integer(day)) - cal.begin());
    const std::size_t e = d + 1, x = d + static_cast<std::size_t>(hold);
    for (const Pick& p : result.picks) {
      ++res.signal_count;
      ++y.signal_count;
      if (x >= cal.size()) {  // the exit day lies beyond the database
        ++res.open;
        ++y.open;
        continue;
      }
      const Leg leg = hold_leg(store.stock(p.code), cal, e, x);
      if (!leg.ok) {
        ++res.not_entered;
        ++y.not_entered;
        continue;
      }
      Trade t;
      t.signal_date = day;
      t.code = p.code;
      t.name = p.name;
      t.entry_date = std::to_string(cal[e]);
      t.exit_date = std::to_string(cal[x]);
      t.last_close_date = std::to_string(leg.exit_close_date);
      t.entry_price = leg.entry;
      t.exit_price = leg.exit;
      t.return_pct = (leg.exit / leg.entry - 1.0) * 100.0;
      const Leg b = hold_leg(bench, cal, e, x);
      Held h{e, leg.daily, {}};
      if (b.ok) {
        t.has_benchmark = true;
        t.benchmark_pct = (b.exit / b.entry - 1.0) * 100.0;
        h.bench = b.daily;
      }
      res.trades.push_back(std::move(t));
      held.push_back(std::move(h));
    }
    result.picks = {};
    return true;
  };
  if (workers <= 1) {
    // One screen function: each day screened only once the progress allowed it.
    for (int i = 0; i < n && go_on(i); ++i) {
      DayPicks& result = days[static_cast<std::size_t>(i)];
      result.ok = !screens.empty() && screens[0](res.signal_days[static_cast<std::size_t>(i)],
                                                 result.picks, result.error);
      if (!take_picks(i)) break;
    }
  } else {
    ordered_for(
        n, workers,
        [&](int i, int w) {
          DayPicks& result = days[static_cast<std::size_t>(i)];
          result.ok = screens[static_cast<std::size_t>(w)](
              res.signal_days[static_cast<std::size_t>(i)], result.picks, result.error);
        },
        [&](int i) { return go_on(i) && take_picks(i); });
  }
  if (res.cancelled || !res.error.empty()) return res;

  // Figures: all signal days, then each year.
  std::vector<const Trade*> all;
  std::map<std::string, std::vector<const Trade*>> by_year;
  for (const Trade& t : res.trades) {
    all.push_back(&t);
    by_year[t.signal_date.substr(0, 4)].push_back(&t);
  }
  Stats total = stats_of("全体", all);
  total.signal_days = n;
  total.signal_count = res.signal_count;
  total.not_entered = res.not_entered;
  total.open = res.open;
  res.summary.push_back(total);
  for (const auto& [year, counts] : years) {
    Stats s = stats_of(year, by_year[year]);
    s.signal_days = counts.signal_days;
    s.signal_count = counts.signal_count;
    s.not_entered = counts.not_entered;
    s.open = counts.open;
    res.summary.push_back(s);
  }

  // Equity: every trading day from the first signal day to the last exit day; each day the
  // capital is spread equally over the trades held that day (rebalanced daily).
  if (n > 0) {
    const std::size_t first = static_cast<std::size_t>(
        std::lower_bound(cal.begin(), cal.end(), parse_integer(res.signal_days.front())) -
        cal.begin());
    std::size_t last = static_cast<std::size_t>(
        std::lower_bound(cal.begin(), cal.end(), parse_integer(res.signal_days.back())) -
        cal.begin());
    for (const Held& h : held) last = std::max(last, h.e + h.stock.size() - 1);
    last = std::min(last, cal.size() - 1);
    const std::size_t span = last - first + 1;
    std::vector<double> sum(span, 0), bsum(span, 0);
    std::vector<int> count(span, 0), bcount(span, 0);
    for (const Held& h : held) {
      for (std::size_t k = 0; k < h.stock.size(); ++k) {
        const std::size_t t = h.e + k - first;
        sum[t] += h.stock[k] - 1.0;
        ++count[t];
        if (k < h.bench.size()) {
          bsum[t] += h.bench[k] - 1.0;
          ++bcount[t];
        }
      }
    }
    double value = kStartCapital, bvalue = kStartCapital;
    for (std::size_t t = 0; t < span; ++t) {
      if (count[t] > 0) value *= 1.0 + sum[t] / count[t];
      if (bcount[t] > 0) bvalue *= 1.0 + bsum[t] / bcount[t];
      res.equity.push_back({std::to_string(cal[first + t]), count[t], value, bvalue});
    }
  }
  return res;
}

std::string summary_text(const Result& result) {
  std::string out =
      "期間,シグナル日数,シグナル数,取引数,未約定,未決済,平均騰落率%,中央値%,勝率%,"
      "平均超過%,標準偏差%,最高%,最低%\n";
  for (const Stats& s : result.summary) {
    out += s.period + "," + std::to_string(s.signal_days) + "," + std::to_string(s.signal_count) +
           "," + std::to_string(s.trades) + "," + std::to_string(s.not_entered) + "," +
           std::to_string(s.open);
    if (s.trades == 0) {
      out += ",-,-,-,-,-,-,-\n";  // nothing to average: no figure rather than a made-up 0
      continue;
    }
    out += "," + num2(s.mean) + "," + num2(s.median) + "," + num2(s.win_rate) + "," +
           (s.has_excess ? num2(s.mean_excess) : std::string("-")) + "," + num2(s.stdev) + "," +
           num2(s.best) + "," + num2(s.worst) + "\n";
  }
  return out;
}

std::string default_output_folder(const std::string& user_folder, const std::string& screen,
                                  const Params& params) {
  return (fs::path(user_folder) / "backtest" / (screen + "-" + params.from + "-" + params.to))
             .string() +
         "/";
}

namespace {

// Written into every output folder, so that a later run knows the folder is its own to replace.
constexpr const char* kOutputMark = ".lumenpick-backtest";
// What an output folder held before it was marked; such a folder is also a backtest's own.
constexpr const char* kOutputFiles[] = {"trades.csv", "summary.csv", "equity.csv", "equity.png"};

fs::path output_target(const std::string& dir) {
  fs::path target = fs::path(dir);
  if (!target.has_filename()) target = target.parent_path();
  return target;
}

// `inner` is `outer` or lies inside it, links and ".." resolved.
bool lies_within(const fs::path& inner, const fs::path& outer) {
  std::error_code ec;
  const fs::path a = fs::weakly_canonical(fs::absolute(inner, ec), ec);
  const fs::path b = fs::weakly_canonical(fs::absolute(outer, ec), ec);
  if (ec || b.empty()) return false;
  auto ai = a.begin();
  for (auto bi = b.begin(); bi != b.end(); ++bi, ++ai) {
    if (bi->empty()) continue;  // the trailing separator of a folder path
    if (ai == a.end() || *ai != *bi) return false;
  }
  return true;
}

bool made_by_a_backtest(const fs::path& folder) {
  std::error_code ec;
  if (fs::exists(folder / kOutputMark, ec)) return true;
  for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
    const std::string name = it->path().filename().string();
    if (std::find(std::begin(kOutputFiles), std::end(kOutputFiles), name) == std::end(kOutputFiles))
      return false;
  }
  return !ec;  // an empty folder holds nothing to lose
}

}  // namespace

bool check_output_folder(const std::string& dir, const std::string& db_folder, std::string& error) {
  const fs::path target = output_target(dir);
  if (target.empty()) {
    error = "エラー：出力先のフォルダが指定されていません。";
    return false;
  }
  if (!db_folder.empty() && (lies_within(target, db_folder) || lies_within(db_folder, target))) {
    error = "エラー：株価データベースのフォルダは出力先にできません: " + target.string();
    return false;
  }
  std::error_code ec;
  const fs::file_status st = fs::symlink_status(target, ec);
  if (!fs::exists(st)) return true;
  if (!fs::is_directory(st)) {
    error = "エラー：出力先がフォルダではありません: " + target.string();
    return false;
  }
  if (!made_by_a_backtest(target)) {
    error =
        "エラー：出力先のフォルダにバックテスト以外のファイルがあります。空のフォルダか新しい"
        "フォルダを指定してください: " +
        target.string();
    return false;
  }
  return true;
}

namespace {

// Writes the files of an output folder (`fill` into the staging folder; "" or what failed)
// and puts the finished folder in the place of `dir` in one step.
bool replace_output_folder(const std::string& dir, const std::string& db_folder,
                           std::string& error,
                           const std::function<std::string(const fs::path&)>& fill) {
  // Only a folder a backtest made is ever replaced whole: anything else would be lost with it.
  if (!check_output_folder(dir, db_folder, error)) return false;
  const fs::path target = output_target(dir);
  const fs::path parent = target.parent_path().empty() ? fs::path(".") : target.parent_path();
  std::error_code ec;
  fs::create_directories(parent, ec);
  const fs::path staging = parent / ("." + target.filename().string() + ".lptmp");
  fs::remove_all(staging, ec);
  if (!fs::create_directory(staging, ec)) {
    error = "cannot create " + staging.string();
    return false;
  }
  auto give_up = [&](const std::string& what) {
    std::error_code ignored;
    fs::remove_all(staging, ignored);
    error = what;
    return false;
  };
  if (std::string failed = fill(staging); !failed.empty()) return give_up(failed);
  if (!write_file_atomic(staging / kOutputMark, "LumenPick backtest output\n"))
    return give_up("cannot write " + std::string(kOutputMark));

  // The finished folder takes the old one's place in one step; the old one is then removed.
  if (fs::exists(target, ec)) {
    if (::renameat2(AT_FDCWD, staging.c_str(), AT_FDCWD, target.c_str(), RENAME_EXCHANGE) != 0)
      return give_up("cannot replace " + target.string());
    fs::remove_all(staging, ec);
  } else if (::rename(staging.c_str(), target.c_str()) != 0) {
    return give_up("cannot create " + target.string());
  }
  return true;
}

// Lines of "a,b,c" text (no quoted field) as CSV lines.
void add_csv_text(CsvWriter& out, const std::string& text) {
  std::size_t pos = 0;
  while (pos < text.size()) {
    const std::size_t nl = text.find('\n', pos);
    std::string_view line(text.data() + pos, nl - pos);
    std::size_t f = 0;
    while (true) {
      const std::size_t comma = line.find(',', f);
      out.field(line.substr(f, comma == std::string_view::npos ? line.npos : comma - f));
      if (comma == std::string_view::npos) break;
      f = comma + 1;
    }
    out.end_line();
    pos = nl + 1;
  }
}

}  // namespace

bool write_outputs(const Result& result, const std::string& dir, const std::string& png_bytes,
                   std::string& error, const std::string& db_folder) {
  return replace_output_folder(dir, db_folder, error, [&](const fs::path& staging) -> std::string {
    CsvWriter trades;
    trades
        .fields({"シグナル日", "コード", "銘柄", "買付日", "買付値", "売却日", "売却値",
                 "騰落率%", "基準騰落率%"})
        .end_line();
    for (const Trade& t : result.trades) {
      trades.field(t.signal_date).field(t.code).field(t.name).field(t.entry_date);
      trades.field(format_decimal(round2(t.entry_price))).field(t.exit_date);
      trades.field(format_decimal(t.exit_price)).field(num2(t.return_pct));
      trades.field(t.has_benchmark ? num2(t.benchmark_pct) : std::string("-")).end_line();
    }
    if (!trades.commit(staging / "trades.csv")) return "cannot write trades.csv";
    CsvWriter summary;
    add_csv_text(summary, summary_text(result));
    if (!summary.commit(staging / "summary.csv")) return "cannot write summary.csv";
    CsvWriter equity;
    equity.fields({"日付", "保有数", "資産", "基準"}).end_line();
    for (const EquityPoint& p : result.equity) {
      equity.field(p.date).field(p.holding).field(num2(p.value)).field(num2(p.benchmark));
      equity.end_line();
    }
    if (!equity.commit(staging / "equity.csv")) return "cannot write equity.csv";
    if (!write_file_atomic(staging / "equity.png", png_bytes)) return "cannot write equity.png";
    return {};
  });
}

std::string account_trades_text(const AccountResult& result) {
  std::string out =
      "シグナル日,コード,銘柄,買付日,買付値,売却日,売却値,株数,損益,騰落率%,決済理由\n";
  for (const AccountTrade& t : result.trades) {
    std::string name = t.name;
    std::replace(name.begin(), name.end(), ',', ' ');
    out += t.signal_date + "," + t.code + "," + name + "," + t.entry_date + "," +
           num2(t.entry_price) + "," + t.exit_date + "," + num2(t.exit_price) + "," +
           std::to_string(t.shares) + "," + format_decimal(std::round(t.profit)) + "," +
           num2(t.return_pct) + "," + exit_reason_name(t.reason) + "\n";
  }
  return out;
}

bool write_account_outputs(const AccountResult& result, const AccountStats& stats,
                           const std::string& dir, const std::string& png_bytes,
                           std::string& error, const std::string& db_folder) {
  return replace_output_folder(dir, db_folder, error, [&](const fs::path& staging) -> std::string {
    CsvWriter trades;
    add_csv_text(trades, account_trades_text(result));
    if (!trades.commit(staging / "trades.csv")) return "cannot write trades.csv";
    CsvWriter summary;
    summary.fields({"項目", "値"}).end_line();
    const std::string report = report_text(result, stats);
    for (std::size_t pos = 0; pos < report.size();) {
      const std::size_t nl = report.find('\n', pos);
      const std::string line = report.substr(pos, nl - pos);
      const std::size_t gap = line.find("　");
      std::string value = gap == std::string::npos ? std::string() : line.substr(gap + 3);
      std::replace(value.begin(), value.end(), ',', ' ');
      summary.field(line.substr(0, gap)).field(value).end_line();
      pos = nl + 1;
    }
    if (!summary.commit(staging / "summary.csv")) return "cannot write summary.csv";
    CsvWriter equity;
    equity.fields({"日付", "保有数", "資産", "現金", "ドローダウン%", "基準", "基準ドローダウン%"})
        .end_line();
    std::vector<double> values, bench;
    for (const AccountDay& d : result.days) {
      values.push_back(d.value);
      bench.push_back(d.benchmark);
    }
    const std::vector<double> dd = drawdowns(values), bdd = drawdowns(bench);
    for (std::size_t i = 0; i < result.days.size(); ++i) {
      const AccountDay& d = result.days[i];
      equity.field(d.date).field(d.positions).field(num2(d.value)).field(num2(d.cash));
      equity.field(num2(dd[i] * 100.0));
      equity.field(d.has_benchmark ? num2(d.benchmark) : std::string("-"));
      equity.field(d.has_benchmark ? num2(bdd[i] * 100.0) : std::string("-")).end_line();
    }
    if (!equity.commit(staging / "equity.csv")) return "cannot write equity.csv";
    CsvWriter monthly;
    add_csv_text(monthly, monthly_text(monthly_returns(result)));
    if (!monthly.commit(staging / "monthly.csv")) return "cannot write monthly.csv";
    if (!write_file_atomic(staging / "stats.txt", stats_text(result, stats)))
      return "cannot write stats.txt";
    if (!write_file_atomic(staging / "equity.png", png_bytes)) return "cannot write equity.png";
    return {};
  });
}

}  // namespace lp::backtest
