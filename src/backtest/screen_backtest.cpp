#include "backtest/screen_backtest.h"

#include <algorithm>
#include <cmath>
#include <map>

#include "backtest/account_market.h"
#include "common/encoding.h"
#include "common/numbers.h"
#include "common/parallel.h"
#include "pricedb/formats.h"
#include "pricedb/series.h"
#include "screening/formula/formula_step.h"

namespace lp::backtest {

bool any_criterion_ticked(screening::ControlSet& controls) {
  for (const screening::RunEntry& entry : screening::run_table()) {
    if (controls.enabled(entry.number)) return true;
  }
  for (int n = screening::kFirstFormulaRow; n <= screening::kLastFormulaRow; ++n) {
    if (controls.enabled(n)) return true;
  }
  return false;
}

ScreenFn session_screen(screening::ScreeningSession& session,
                        std::shared_ptr<const MarketStore> store) {
  session.set_write_files(false);
  return [&session, store](const std::string& day, std::vector<Pick>& picks, std::string& error) {
    session.use_market(store, day);
    if (!session.run()) {
      error = "the screen did not run";
      return false;
    }
    for (const screening::Candidate& c : session.kept().items) {
      const screening::DayRecord* row = session.day_table().row(parse_integer(c.row));
      picks.push_back({trim_blanks(c.code), row ? row->name() : std::string()});
    }
    return true;
  };
}

std::map<std::string, std::string> settings_marks(const AccountSettings& s) {
  return {{"口座", s.account ? "ON" : "OFF"}, {"資金", s.capital},      {"最大保有", s.positions},
          {"順位式", s.rank},                  {"順位昇順", s.rank_asc ? "ON" : "OFF"},
          {"決済式", s.exit},                  {"損切", s.stop},          {"利確", s.target},
          {"トレール", s.trail},               {"売買代金", s.turnover},  {"手数料", s.commission},
          {"スリッページ", s.slippage},        {"保有日数", s.hold}};
}

AccountSettings settings_from_marks(const std::map<std::string, std::string>& marks) {
  AccountSettings s;
  auto take = [&](const char* key, std::string& out) {
    if (auto it = marks.find(key); it != marks.end()) out = it->second;
  };
  std::string account, asc;
  take("口座", account);
  take("資金", s.capital);
  take("最大保有", s.positions);
  take("順位式", s.rank);
  take("順位昇順", asc);
  take("決済式", s.exit);
  take("損切", s.stop);
  take("利確", s.target);
  take("トレール", s.trail);
  take("売買代金", s.turnover);
  take("手数料", s.commission);
  take("スリッページ", s.slippage);
  take("保有日数", s.hold);
  s.account = account == "ON";
  s.rank_asc = asc == "ON";
  return s;
}

bool account_options_of(const AccountSettings& s, AccountOptions& out, std::string& error) {
  out = AccountOptions{};
  auto decimal = [](std::string text, double& v) {
    text = trim_blanks(text);
    if (text.empty() || text.size() > 20) return false;
    bool dot = false;
    for (char c : text) {
      if (c == '.' && !dot) {
        dot = true;
      } else if (c < '0' || c > '9') {
        return false;
      }
    }
    v = parse_number(text);
    return true;
  };
  auto optional = [&](const std::string& text, double& v, const char* what) {
    if (trim_blanks(text).empty()) return true;
    if (decimal(text, v)) return true;
    error = std::string(what) + "は0以上の数で指定してください: " + text;
    return false;
  };
  AccountParams& p = out.params;
  if (!decimal(s.capital, p.capital) || !(p.capital >= 1)) {
    error = "資金 (--capital) は1以上の金額 (円) で指定してください: " + s.capital;
    return false;
  }
  double positions = 0;
  if (!decimal(s.positions, positions) || positions < 1 || positions > 1000 ||
      positions != std::floor(positions)) {
    error = "最大保有数 (--max-positions) は1から1000の整数で指定してください: " + s.positions;
    return false;
  }
  p.max_positions = static_cast<int>(positions);
  if (!optional(s.stop, p.stop, "損切% (--stop) ") ||
      !optional(s.target, p.target, "利確% (--target) ") ||
      !optional(s.trail, p.trail, "トレール% (--trail) ") ||
      !optional(s.turnover, p.min_turnover, "最低売買代金 (--min-turnover) ") ||
      !optional(s.slippage, p.slippage, "スリッページ% (--slippage) ")) {
    return false;
  }
  if (p.stop >= 100 || p.trail >= 100 || p.slippage >= 100) {
    error = "損切%・トレール%・スリッページ%は100未満で指定してください";
    return false;
  }
  if (!trim_blanks(s.commission).empty() &&
      !parse_commission(trim_blanks(s.commission), p.commission, error)) {
    return false;
  }
  p.rank_asc = s.rank_asc;
  out.rank = trim_blanks(s.rank);
  out.exit = trim_blanks(s.exit);
  // The hold applies when given ("0" turns it off), or as the only exit when no other is.
  const bool other_exit = p.stop > 0 || p.target > 0 || p.trail > 0 || !out.exit.empty();
  const std::string hold = trim_blanks(s.hold);
  double days = 0;
  if (hold.empty()) {
    p.hold = other_exit ? 0 : 20;
  } else if (decimal(hold, days) && days == std::floor(days) && days <= 10000) {
    p.hold = static_cast<int>(days);
  } else {
    error = "保有日数 (--hold) は0以上の整数で指定してください: " + s.hold;
    return false;
  }
  formula::Formula rank, exit;
  return compile_account_formulas(out, rank, exit, error);
}

bool compile_account_formulas(const AccountOptions& options, formula::Formula& rank,
                              formula::Formula& exit, std::string& error) {
  formula::FormulaError fe;
  if (!options.rank.empty() && !formula::Formula::compile(options.rank, rank, fe)) {
    error = "エラー：順位式の" + fe.text();
    return false;
  }
  if (!options.exit.empty() && !formula::Formula::compile(options.exit, exit, fe)) {
    error = "エラー：決済式の" + fe.text();
    return false;
  }
  // They are read along each stock's own history, where no other stock of the day is known.
  if (rank.uses_sectors() || exit.uses_sectors()) {
    error = "エラー：順位式と決済式には S33・S17・SMED を使えません";
    return false;
  }
  return true;
}

namespace {

// A screen of formula rows only, over every market: its formulas (each must hold), which the
// account mode evaluates over each stock's whole history at once instead of screening day by
// day. False for any other screen.
bool formula_only_screen(screening::ControlSet& controls, std::vector<formula::Formula>& out) {
  for (const screening::RunEntry& entry : screening::run_table()) {
    if (!screening::is_formula_row(entry.number) && controls.enabled(entry.number)) return false;
  }
  for (int i = 0; i < 6; ++i) {
    if (!controls.checked(screening::indexed("shijyou_chk", i))) return false;
  }
  // Industries are of the day and SMED is across the day's stocks: those screens run day by day.
  if (!trim_blanks(controls.text("gyoushu_txt")).empty()) return false;
  for (int n = screening::kFirstFormulaRow; n <= screening::kLastFormulaRow; ++n) {
    if (!controls.enabled(n)) continue;
    screening::CompiledRow row;
    std::string error;
    if (!screening::compile_formula_row(controls, n, row, error)) return false;
    if (row.formula.uses_sectors()) return false;
    out.push_back(std::move(row.formula));
  }
  return !out.empty();
}

// The picks of every signal day, the screens on the workers as the signal mode runs them.
bool collect_picks(const MarketStore& store, const std::vector<std::string>& days,
                   const std::vector<ScreenFn>& screens, const ProgressFn& progress,
                   std::vector<PickDay>& out, bool& cancelled, std::string& error) {
  const int n = static_cast<int>(days.size());
  std::vector<std::int32_t> cal;
  for (const std::string& d : store.trading_dates())
    cal.push_back(static_cast<std::int32_t>(parse_integer(d)));
  struct DayPicks {
    bool ok = false;
    std::string error;
    std::vector<Pick> picks;
  };
  std::vector<DayPicks> found(static_cast<std::size_t>(n));
  auto work = [&](int i, int w) {
    DayPicks& r = found[static_cast<std::size_t>(i)];
    r.ok = screens[static_cast<std::size_t>(w)](days[static_cast<std::size_t>(i)], r.picks,
                                                r.error);
  };
  auto accept = [&](int i) {
    DayPicks& r = found[static_cast<std::size_t>(i)];
    if (!r.ok) {
      error = days[static_cast<std::size_t>(i)] + ": " + r.error;
      return false;
    }
    PickDay day;
    day.day = static_cast<int>(
        std::lower_bound(cal.begin(), cal.end(),
                         static_cast<std::int32_t>(parse_integer(days[static_cast<std::size_t>(i)]))) -
        cal.begin());
    for (Pick& p : r.picks) day.picks.emplace_back(std::move(p.code), std::move(p.name));
    out.push_back(std::move(day));
    r.picks = {};
    return true;
  };
  auto take = [&](int i) {
    if (progress && !progress(i + 1, n)) {
      cancelled = true;
      return false;
    }
    return accept(i);
  };
  const int workers = std::min<int>(worker_count(), static_cast<int>(screens.size()));
  if (workers <= 1) {
    for (int i = 0; i < n; ++i) {
      if (progress && !progress(i + 1, n)) {
        cancelled = true;
        return false;
      }
      DayPicks& r = found[static_cast<std::size_t>(i)];
      r.ok = screens[0](days[static_cast<std::size_t>(i)], r.picks, r.error);
      if (!accept(i)) return false;
    }
    return true;
  }
  return ordered_for(n, workers, work, take);
}

// Session-made screen functions: the given session and one more per further worker.
std::vector<ScreenFn> worker_screens(const Job& job, screening::ScreeningSession& session,
                                     std::shared_ptr<const MarketStore> store, int days,
                                     std::vector<std::unique_ptr<screening::ScreeningSession>>& more) {
  const int workers = workers_for(days, worker_count());
  std::vector<ScreenFn> screens{session_screen(session, store)};
  for (int w = 1; w < workers; ++w) {
    more.push_back(std::make_unique<screening::ScreeningSession>(job.platform, nullptr));
    screening::ScreeningSession& extra = *more.back();
    extra.load(false);
    extra.controls() = job.controls;
    screens.push_back(session_screen(extra, store));
  }
  return screens;
}

// The account mode: the signals (the screen's picks with their rank), the account run, its
// figures and the output folder.
JobOutcome run_account(const Job& job, screening::ScreeningSession& session,
                       std::shared_ptr<const MarketStore> store, const formula::Formula& rank,
                       const formula::Formula& exit, const std::string& dir, JobOutcome out) {
  out.account_mode = true;
  const std::vector<std::string> days = signal_days(*store, job.params);
  out.result.params = job.params;
  out.result.signal_days = days;
  if (days.empty()) {
    out.error = "エラー：期間に取引日がありません。";
    return out;
  }
  const std::vector<std::string>& cal = store->trading_dates();
  auto index_of = [&](const std::string& d) {
    return static_cast<int>(std::lower_bound(cal.begin(), cal.end(), d,
                                             [](const std::string& a, const std::string& b) {
                                               return parse_integer(a) < parse_integer(b);
                                             }) -
                            cal.begin());
  };
  std::vector<int> day_index;
  for (const std::string& d : days) day_index.push_back(index_of(d));
  const int first = day_index.front();
  int last = first;
  while (last + 1 < static_cast<int>(cal.size()) &&
         parse_integer(cal[static_cast<std::size_t>(last + 1)]) <= parse_integer(job.params.to))
    ++last;

  StoreAccountMarket market(store, exit.empty() ? nullptr : &exit);
  std::vector<std::vector<Signal>> by_day;
  std::vector<formula::Formula> formulas;
  const formula::Formula* ranked = rank.empty() ? nullptr : &rank;
  if (formula_only_screen(session.controls(), formulas)) {
    by_day = formula_signals(*store, formulas, ranked, day_index, [&](int done, int stocks) {
      if (job.progress && !job.progress(done, stocks)) out.result.cancelled = true;
      return !out.result.cancelled;
    });
  } else {
    std::vector<std::unique_ptr<screening::ScreeningSession>> more;
    const std::vector<ScreenFn> screens =
        worker_screens(job, session, store, static_cast<int>(days.size()), more);
    std::vector<PickDay> picks;
    if (!collect_picks(*store, days, screens, job.progress, picks, out.result.cancelled,
                       out.error)) {
      return out;
    }
    by_day = rank_signals(market, picks, ranked);
  }
  if (out.result.cancelled) return out;
  // The reference code is an index (TOPIX or the equal-weighted average): no account buys it.
  for (std::vector<Signal>& signals : by_day) {
    std::erase_if(signals, [&](const Signal& s) { return s.code == store->reference_code(); });
  }
  if (job.status) job.status("売買計算中");
  out.account = simulate_account(market, first, last, by_day, job.account->params);
  // Names of the stocks traded (the formula pass reads none): from the period's last day's
  // table, else from the signal day's (a stock delisted since).
  std::map<std::string, std::map<std::string, std::string>> names;
  auto table_of = [&](const std::string& date) -> const std::map<std::string, std::string>& {
    auto [it, fresh] = names.try_emplace(date);
    if (fresh) {
      DayFile file;
      if (store->day_file(date, file)) {
        for (PriceRecord& r : file.rows) it->second[trim_blanks(r.code)] = std::move(r.name);
      }
    }
    return it->second;
  };
  for (AccountTrade& t : out.account.trades) {
    if (!t.name.empty()) continue;
    for (const std::string& date : {cal[static_cast<std::size_t>(last)], t.signal_date}) {
      const auto& table = table_of(date);
      if (auto n = table.find(t.code); n != table.end()) {
        t.name = n->second;
        break;
      }
    }
  }
  out.stats = account_stats(out.account);
  const std::string png = job.account_picture ? job.account_picture(out.account) : std::string();
  std::string error;
  if (!write_account_outputs(out.account, out.stats, dir, png, error, store->db_folder())) {
    out.error = error;
    return out;
  }
  out.dir = dir;
  return out;
}

}  // namespace

JobOutcome run_job(const Job& job) {
  JobOutcome out;
  screening::ScreeningSession session(job.platform, nullptr);
  session.load(false);
  session.controls() = job.controls;
  if (!any_criterion_ticked(session.controls())) {
    out.error = "エラー：条件が選択されていません。";
    return out;
  }
  // A formula that does not compile would stop every day's screen: say so once, up front.
  if (std::string bad = screening::check_formula_rows(session.controls()); !bad.empty()) {
    out.error = std::move(bad);
    return out;
  }
  formula::Formula rank, exit;
  if (job.account && !compile_account_formulas(*job.account, rank, exit, out.error)) return out;
  const AppFolders& folders = session.folders();
  const std::string dir =
      job.out_dir.empty() ? default_output_folder(folders.user_folder, job.screen_name, job.params)
                          : job.out_dir;
  std::string error;
  if (!check_output_folder(dir, folders.db_folder, error)) {
    out.error = error;
    return out;
  }
  if (job.status) job.status("株価データ読込中");
  std::shared_ptr<const MarketStore> store =
      MarketStore::load(folders.db_folder, folders.reference_code, error);
  if (!store) {
    out.error = error;
    return out;
  }
  if (store->trading_dates().empty()) {
    out.error = "エラー：株価データがありません。";
    return out;
  }
  if (job.account) return run_account(job, session, store, rank, exit, dir, std::move(out));
  // One session per worker: a session holds the state of the day it last screened.
  const int workers =
      workers_for(static_cast<int>(signal_days(*store, job.params).size()), worker_count());
  std::vector<std::unique_ptr<screening::ScreeningSession>> more;
  std::vector<ScreenFn> screens{session_screen(session, store)};
  for (int w = 1; w < workers; ++w) {
    more.push_back(std::make_unique<screening::ScreeningSession>(job.platform, nullptr));
    screening::ScreeningSession& extra = *more.back();
    extra.load(false);
    extra.controls() = job.controls;
    screens.push_back(session_screen(extra, store));
  }
  out.result = run_backtest(*store, job.params, screens, job.progress);
  if (out.result.cancelled) return out;
  if (!out.result.error.empty()) {
    out.error = out.result.error;
    return out;
  }
  if (out.result.signal_days.empty()) {
    out.error = "エラー：期間に取引日がありません。";
    return out;
  }
  const std::string png = job.picture ? job.picture(out.result) : std::string();
  if (!write_outputs(out.result, dir, png, error, folders.db_folder)) {
    out.error = error;
    return out;
  }
  out.dir = dir;
  return out;
}

std::vector<std::string> database_trading_dates(const AppFolders& folders) {
  std::vector<std::string> all, year;
  for (int y : years_present(folders.db_folder)) {
    if (y < kLowestYear) continue;
    if (!read_series_dates(series_file_path(folders.db_folder, y, folders.reference_code), year))
      continue;
    all.insert(all.end(), year.begin(), year.end());
  }
  std::sort(all.begin(), all.end(), [](const std::string& a, const std::string& b) {
    return parse_integer(a) < parse_integer(b);
  });
  all.erase(std::unique(all.begin(), all.end()), all.end());
  return all;
}

}  // namespace lp::backtest
