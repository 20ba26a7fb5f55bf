#include "watch/watch_run.h"

#include <algorithm>
#include <filesystem>
#include <map>
#include <set>

#include "backtest/screen_backtest.h"
#include "common/csv.h"
#include "common/encoding.h"
#include "common/file_lock.h"
#include "common/numbers.h"
#include "screening/formula/formula_step.h"
#include "screening/screening_session.h"

namespace lp::watch {

namespace {

namespace fs = std::filesystem;

std::string problems_path(const std::string& user_folder) {
  // A leading "." keeps it apart from every history: no screen name starts with one.
  return watch_folder(user_folder) + ".problems.csv";
}

// Keeps the problems of the screens that failed in this run and forgets those that ran.
void record_problems(const std::string& user_folder, const std::vector<ScreenOutcome>& screens,
                     const std::string& day) {
  std::error_code ec;
  fs::create_directories(watch_folder(user_folder), ec);
  std::string error;
  const auto lock = FileLock::acquire(problems_path(user_folder), kUserFileLockTimeout, error);
  if (!lock) return;
  std::map<std::string, Problem> by_screen;
  for (Problem& p : read_problems(user_folder)) by_screen[p.screen] = std::move(p);
  for (const ScreenOutcome& s : screens) {
    if (s.error.empty()) {
      by_screen.erase(s.name);
    } else {
      by_screen[s.name] = Problem{s.name, day, s.error};
    }
  }
  CsvWriter w;
  for (const auto& [name, p] : by_screen) {
    std::string reason = p.reason;
    std::replace(reason.begin(), reason.end(), ',', ' ');
    std::erase_if(reason, [](char c) { return c == '"' || c == '\r' || c == '\n'; });
    w.fields({p.screen, p.date, reason}).end_line();
  }
  w.commit(problems_path(user_folder), true);
}

struct CaptureUi : screening::ScreeningUi {
  void message(const std::string& text, screening::TextColor color) override {
    if (color == screening::TextColor::red) error = text;
  }
  std::string error;
};

// The hits of the session's last run, as of its day table.
std::vector<Hit> hits_of(screening::ScreeningSession& session) {
  std::vector<Hit> hits;
  const bool formula_last = screening::is_formula_row(session.current_criterion());
  for (const screening::Candidate& c : session.kept().items) {
    const screening::DayRecord* row = session.day_table().row(parse_integer(c.row));
    Hit h;
    h.code = trim_blanks(c.code);
    if (row) {
      h.name = trim_blanks(row->name());
      h.close = trim_blanks(row->close());
    }
    // The value column is the 表示 formula's only when a formula row judged last.
    h.value = formula_last && !trim_view(c.value).empty() ? trim_blanks(c.value) : "-";
    hits.push_back(std::move(h));
  }
  return hits;
}

// One screen over the days; blocks collected, written together at the end.
ScreenOutcome run_screen(const RunRequest& request, const MarketStore& market,
                         const std::shared_ptr<const MarketStore>& store, const WatchedScreen& ws,
                         std::map<std::string, std::vector<std::string>>& entered_by_day) {
  ScreenOutcome out;
  out.name = ws.name;
  CaptureUi ui;
  screening::ScreeningSession session(request.platform, &ui);
  session.load(false);
  std::string error;
  const std::string user = session.folders().user_folder;
  if (!screening::load_screen(user, ws.name, session.controls(), error)) {
    out.error = error;
    return out;
  }
  if (!backtest::any_criterion_ticked(session.controls())) {
    out.error = "条件が選択されていません。";
    return out;
  }
  if (std::string bad = screening::check_formula_rows(session.controls()); !bad.empty()) {
    out.error = bad;
    return out;
  }
  if (!ws.marks.universe.empty()) {
    std::vector<std::string> codes;
    if (!resolve_universe(user, ws.marks.universe, codes, error)) {
      out.error = error;
      return out;
    }
    session.set_universe(std::move(codes));
  }
  session.set_write_files(false);

  std::vector<Block> history = read_history(user, ws.name);
  std::vector<Block> fresh;
  auto held = [&](const std::string& day) {
    return find_block(history, day) || find_block(fresh, day);
  };
  auto run_day = [&](const std::string& day, Block& block) {
    session.use_market(store, day);
    ui.error.clear();
    if (!session.run()) {
      error = ui.error.empty() ? "スクリーニングを実行できません。" : ui.error;
      return false;
    }
    if (session.latest_date() != day) {
      error = day + "の株価データがありません。";
      return false;
    }
    block.date = day;
    block.hits = hits_of(session);
    return true;
  };
  const std::vector<std::string>& dates = market.trading_dates();
  for (const std::string& day : request.days) {
    if (held(day)) continue;
    const auto it = std::lower_bound(dates.begin(), dates.end(), day);
    if (it == dates.end() || *it != day) continue;
    // The first day after a screen is watched compares with a real yesterday.
    if (it != dates.begin() && !held(*(it - 1))) {
      Block seed;
      if (!run_day(*(it - 1), seed)) {
        out.error = error;
        return out;
      }
      fresh.push_back(std::move(seed));
    }
    Block block;
    if (!run_day(day, block)) {
      out.error = error;
      return out;
    }
    fresh.push_back(std::move(block));
    const Block& today = fresh.back();
    const Block* prev = it != dates.begin()
                            ? (find_block(fresh, *(it - 1)) ? find_block(fresh, *(it - 1))
                                                            : find_block(history, *(it - 1)))
                            : nullptr;
    std::vector<std::string>& codes = entered_by_day[day + "\t" + ws.name];
    for (const Hit& h : compare_blocks(prev, today).entered) codes.push_back(h.code);
  }
  int added = 0;
  if (!append_blocks(user, ws.name, fresh, added, error)) {
    out.error = error;
    return out;
  }
  for (const Block& b : fresh) out.days_written.push_back(b.date);
  std::sort(out.days_written.begin(), out.days_written.end());
  return out;
}

}  // namespace

std::vector<WatchedScreen> watched_screens(const std::string& user_folder) {
  std::vector<WatchedScreen> out;
  for (const std::string& name : screening::list_screens(user_folder)) {
    WatchedScreen ws{name, {}};
    std::string error;
    if (screening::read_screen_marks(user_folder, name, ws.marks, error) && ws.marks.watched)
      out.push_back(std::move(ws));
  }
  return out;
}

bool resolve_universe(const std::string& user_folder, const std::string& universe,
                      std::vector<std::string>& codes, std::string& error) {
  return screening::universe_codes(user_folder, universe, codes, error);
}

std::vector<std::string> added_days(const std::vector<std::string>& before,
                                    const std::vector<std::string>& after, int limit) {
  std::set<std::string> had(before.begin(), before.end());
  std::vector<std::string> added;
  for (const std::string& d : after) {
    if (!had.count(d)) added.push_back(d);
  }
  std::sort(added.begin(), added.end());
  if (limit >= 0 && static_cast<int>(added.size()) > limit) {
    added.erase(added.begin(), added.end() - limit);
  }
  return added;
}

std::vector<std::string> trading_dates(const AppFolders& folders) {
  return backtest::database_trading_dates(folders);
}

int RunOutcome::entered_count() const {
  int n = 0;
  for (const auto& [screen, codes] : entered) n += static_cast<int>(codes.size());
  return n;
}

int RunOutcome::failed_count() const {
  return static_cast<int>(std::count_if(screens.begin(), screens.end(),
                                        [](const ScreenOutcome& s) { return !s.error.empty(); }));
}

RunOutcome run_watched(const RunRequest& request) {
  RunOutcome outcome;
  const AppFolders folders =
      read_settei_sub(request.platform.documents_folder, request.platform.desktop_folder);
  const std::vector<WatchedScreen> screens = watched_screens(folders.user_folder);
  if (screens.empty() || request.days.empty()) return outcome;
  std::shared_ptr<const MarketStore> store = request.store;
  if (!store) {
    if (request.status) request.status("株価データ読込中");
    std::string error;
    store = MarketStore::load(folders.db_folder, folders.reference_code, error);
    if (!store) {
      for (const WatchedScreen& ws : screens)
        outcome.screens.push_back(
            {ws.name, error.empty() ? "株価データを読めません。" : error, {}});
      record_problems(folders.user_folder, outcome.screens, request.days.back());
      return outcome;
    }
  }
  std::map<std::string, std::vector<std::string>> entered_by_day;
  for (const WatchedScreen& ws : screens) {
    if (request.status) request.status("監視条件「" + ws.name + "」を実行中");
    outcome.screens.push_back(run_screen(request, *store, store, ws, entered_by_day));
    const ScreenOutcome& s = outcome.screens.back();
    outcome.blocks_written += static_cast<int>(s.days_written.size());
    if (!s.days_written.empty() && s.days_written.back() > outcome.day)
      outcome.day = s.days_written.back();
  }
  for (const auto& [key, codes] : entered_by_day) {
    const auto tab = key.find('\t');
    if (key.substr(0, tab) == outcome.day && !codes.empty())
      outcome.entered.emplace_back(key.substr(tab + 1), codes);
  }
  record_problems(folders.user_folder, outcome.screens, request.days.back());
  return outcome;
}

std::vector<Problem> read_problems(const std::string& user_folder) {
  std::vector<Problem> out;
  std::string text;
  if (!read_cp932_file(problems_path(user_folder), text)) return out;
  std::size_t pos = 0;
  while (pos < text.size()) {
    std::size_t end = text.find('\n', pos);
    if (end == std::string::npos) end = text.size();
    FieldReader r(std::string_view(text).substr(pos, end - pos));
    pos = end + 1;
    Problem p;
    p.screen = std::string(r.next_or_empty());
    p.date = std::string(r.next_or_empty());
    p.reason = std::string(r.next_or_empty());
    if (!p.screen.empty()) out.push_back(std::move(p));
  }
  return out;
}

bool notification_text(const RunOutcome& outcome, std::string& title, std::string& body) {
  const int n = outcome.entered_count();
  if (n == 0) return false;
  title = "LumenPick: 新規 " + std::to_string(n) + " 銘柄";
  body.clear();
  for (const auto& [screen, codes] : outcome.entered) {
    if (!body.empty()) body += "\n";
    body += screen + ": ";
    for (std::size_t i = 0; i < codes.size() && i < 5; ++i) body += (i ? " " : "") + codes[i];
    if (codes.size() > 5) body += " ほか" + std::to_string(codes.size() - 5) + "銘柄";
  }
  return true;
}

}  // namespace lp::watch
