#include "backtest/screen_backtest.h"

#include <algorithm>

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
